// The registration exports the host calls before Execute. Execute lives with
// the library itself, next to the window it runs.
#ifdef _WIN32
#include <windows.h>
#endif

#include "platform/forms.h"
#include "plugin/planora_plugin.h"
#include "plugin/plgint.h"
#include "plugin/plugin.h"
#include "plugin/versionsinfo.h"

using namespace planora;

extern "C" {

PLANORA_EXPORT int32_t PLANORA_STDCALL RegisterCompatibility(void) { return 1; }

PLANORA_EXPORT void* PLANORA_STDCALL RegisterApplication(void) { return &Application; }

PLANORA_EXPORT TPluginLanguage* PLANORA_STDCALL RegisterPluginLanguage(void) { return &PluginLanguage; }

PLANORA_EXPORT TPluginHeader* PLANORA_STDCALL RegisterPluginHeader(void) {
  try {
    SetPluginKind(PluginKindIndex);
    SetPluginAuthor(PluginAuthor);
    SetPluginVersion(ModuleVersion());
    SetPluginName(PluginName);
    SetPluginDescription(PluginDescription);
  } catch (...) {
    // Only memory can run out here; the host still gets the record, with
    // whatever could be filled, rather than an exception it cannot catch.
  }
  return &PluginHeader;
}

PLANORA_EXPORT THostRecord* PLANORA_STDCALL RegisterPluginStruct(void) { return &HostRecord; }

PLANORA_EXPORT TPluginGlyph PLANORA_STDCALL RegisterPluginGlyph(void) {
#ifdef _WIN32
  // A new handle of the DLL's own bitmap resource on every call.
  return LoadBitmapA(static_cast<HINSTANCE>(ModuleHandle()), "GLYPH");
#else
  return NewPluginGlyph();
#endif
}

}  // extern "C"
