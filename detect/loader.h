// How a program finds and loads the detector's module (detect/module/).
// DetectRectangle loads it once, on its first call; the pieces are here for
// the tests.
#pragma once

#include <string>
#include <vector>

#include "detect/module/interface.h"

namespace planora::detail {

struct TDetectModule {
  PlanoraDetectRectangleFunction Rectangle = nullptr;  // null: not loaded
  std::string Path;                                   // the file loaded, or tried
  std::string Error;                                  // why it is not loaded
};

// Loads the module at `path` and checks its interface number. A module is
// never unloaded: a program that looked for corners once will again.
TDetectModule LoadDetectModule(const std::string& path);

// Where a program in `programDir` looks for the module, in order: beside it
// (a copy, or a build tree that puts it there), in the install layout
// relative to it (<prefix>/bin, and GIMP's plug-in folder
// <prefix>/lib/gimp/2.0/plug-ins/<name>), the build tree the program was
// built in, and the library folder the build was configured to install to.
std::vector<std::string> DetectModuleCandidates(const std::string& programDir);

// PLANORA_DETECT_MODULE when set; otherwise the first candidate that is a
// file for the program this process runs, loaded.
TDetectModule FindDetectModule();

}  // namespace planora::detail
