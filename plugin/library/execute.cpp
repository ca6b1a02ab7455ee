// Execute: the one export that runs the rectification window. The other six
// live with the plug-in core; this file joins them to the window in the
// shared library the host loads.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/headless/headless.h"
#include "platform/limits.h"
#include "platform/scope_exit.h"
#include "plugin/library/application.h"
#include "plugin/planora_plugin.h"
#include "plugin/plgint.h"
#include "plugin/plugin.h"
#include "window/UJPGEntzerren.h"

using namespace planora;

namespace {

bool PictureRectUsable() {
  const long long w = static_cast<long long>(HostRecord.ImageRect.Right) - HostRecord.ImageRect.Left;
  const long long h = static_cast<long long>(HostRecord.ImageRect.Bottom) - HostRecord.ImageRect.Top;
  // Each side first: two sides near 2^32 would overflow the product.
  return w > 0 && h > 0 && w <= MaxPicturePixels && h <= MaxPicturePixels && w * h <= MaxPicturePixels;
}

}  // namespace

extern "C" PLANORA_EXPORT int32_t PLANORA_STDCALL Execute(void) {
  return ExecutePlugin([]() -> std::uint8_t {
    EnsureApplication();
    // Each run plays the script from its start, and only this run; its
    // first step may answer the refusal below, as a user would.
    RestartScript();
    const TScopeExit scriptEnd([] { EndScript(); });
    // An empty, inverted or absurd picture rectangle is refused before the
    // window takes any memory for it.
    if (!PictureRectUsable()) {
      MessageDlg(PluginErrorMessage, mtError, {mbOK});
      return 0;
    }
    ResultCode = 0;
    // The window frees itself when it closes.
    Application->CreateForm<TFEntzerren>()->ShowModal();
    return ResultCode;
  });
}
