// DetectRectangle for the programs: the detector itself is a module
// (detect/module/) loaded on the first call, so that a run that never looks
// for corners never maps OpenCV and what it brings (about 4 MB resident of a
// batch run's 12 MB of libraries).
#include "detect/loader.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <new>
#include <stdexcept>

#include "detect/detect.h"

namespace planora {
namespace detail {

namespace {

bool IsFile(const std::string& path) {
  struct stat s {};
  return ::stat(path.c_str(), &s) == 0 && S_ISREG(s.st_mode);
}

std::string LoadError() {
  const char* e = ::dlerror();
  return e != nullptr ? e : "unknown error";
}

// The folder of the program this process runs, links resolved.
std::string ProgramDir() {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "";
  const std::string exe(self, static_cast<std::size_t>(n));
  const std::size_t slash = exe.find_last_of('/');
  return slash == std::string::npos ? "" : exe.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace

TDetectModule LoadDetectModule(const std::string& path) {
  TDetectModule m;
  m.Path = path;
  ::dlerror();
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    m.Error = LoadError();
    // dlerror names the file itself when it could not be opened at all.
    if (m.Error.rfind(path, 0) != 0) m.Error = path + ": " + m.Error;
    return m;
  }
  const auto version = reinterpret_cast<PlanoraDetectInterfaceFunction>(::dlsym(handle, "planora_detect_interface"));
  const auto rectangle = reinterpret_cast<PlanoraDetectRectangleFunction>(::dlsym(handle, "planora_detect_rectangle"));
  if (version == nullptr || rectangle == nullptr) {
    m.Error = path + ": not Planora's corner detector (it lacks planora_detect_interface or planora_detect_rectangle)";
    ::dlclose(handle);
    return m;
  }
  // Another build's module may lay out the result differently: calling it
  // would write past what this program hands it.
  if (const std::uint32_t v = version(); v != PLANORA_DETECT_INTERFACE) {
    m.Error = path + ": the module has interface " + std::to_string(v) + ", this program needs " +
              std::to_string(PLANORA_DETECT_INTERFACE) + " (it belongs to another build of Planora)";
    ::dlclose(handle);
    return m;
  }
  m.Rectangle = rectangle;
  return m;
}

std::vector<std::string> DetectModuleCandidates(const std::string& programDir) {
  const std::string file = PLANORA_DETECT_MODULE_FILE;
  const std::string libdir = PLANORA_LIBDIR;
  std::vector<std::string> c;
  if (!programDir.empty()) {
    c.push_back(programDir + "/" + file);
    if (libdir.front() != '/') {
      // <prefix>/bin/program
      if (const std::size_t slash = programDir.find_last_of('/'); slash != std::string::npos)
        c.push_back(programDir.substr(0, slash) + "/" + libdir + "/planora/" + file);
      // <prefix>/lib/gimp/2.0/plug-ins/<name>/program: GIMP's plug-in
      // folder is lib/ whatever the library folder is.
      const std::string gimp = "/lib/gimp/2.0/plug-ins/";
      if (const std::size_t at = programDir.rfind(gimp);
          at != std::string::npos && programDir.find('/', at + gimp.size()) == std::string::npos &&
          programDir.size() > at + gimp.size())
        c.push_back(programDir.substr(0, at) + "/" + libdir + "/planora/" + file);
    }
  }
#ifdef PLANORA_DETECT_BUILD_MODULE
  c.push_back(PLANORA_DETECT_BUILD_MODULE);
#endif
  c.push_back(std::string(PLANORA_FULL_LIBDIR) + "/planora/" + file);
  return c;
}

TDetectModule FindDetectModule() {
  if (const char* env = std::getenv("PLANORA_DETECT_MODULE"); env != nullptr && env[0] != '\0')
    return LoadDetectModule(env);
  const std::vector<std::string> candidates = DetectModuleCandidates(ProgramDir());
  for (const std::string& path : candidates)
    if (IsFile(path)) return LoadDetectModule(path);
  TDetectModule m;
  m.Error = "no " PLANORA_DETECT_MODULE_FILE " in any of ";
  for (std::size_t i = 0; i < candidates.size(); ++i) m.Error += (i > 0 ? ", " : "") + candidates[i];
  return m;
}

}  // namespace detail

namespace {

// Loaded once, by whichever thread asks first; a failure is kept too, so
// every search of the run says the same.
const detail::TDetectModule& Module() {
  static const detail::TDetectModule module = detail::FindDetectModule();
  return module;
}

}  // namespace

bool AutomaticCornersAvailable() { return Module().Rectangle != nullptr; }

TDetection DetectRectangle(const TBitmap& picture) {
  TDetection d;
  const detail::TDetectModule& m = Module();
  if (m.Rectangle == nullptr) {
    d.Reason = "automatic corners are not available: " + m.Error;
    return d;
  }
  PlanoraDetectResult r{};
  const std::int32_t status =
      m.Rectangle(picture.Height() > 0 ? picture.ScanLine(0) : nullptr, picture.Width(), picture.Height(),
                  picture.BytesPerRow(), &r);
  r.Reason[sizeof r.Reason - 1] = '\0';
  if (status == PLANORA_DETECT_NO_MEMORY) throw std::bad_alloc();
  if (status != PLANORA_DETECT_DONE) throw std::runtime_error(std::string("automatic corners failed: ") + r.Reason);
  d.Found = r.Found != 0;
  d.Confidence = r.Confidence;
  for (int k = 0; k < 4; ++k) d.Corners[k][0] = r.Corners[k][0], d.Corners[k][1] = r.Corners[k][1];
  d.Reason = r.Reason;
  return d;
}

}  // namespace planora
