#include "plugin/plugin.h"

#include <algorithm>
#include <cstring>

#include "platform/forms.h"
#include "platform/fpu.h"
#include "platform/sysutils.h"
#include "plugin/plgint.h"

namespace planora {

TPluginHeader PluginHeader{};
TPluginLanguage PluginLanguage{};

namespace {

template <std::size_t N>
void CopyField(char (&field)[N], const std::string& text) {
  // Zero the whole field, so that a shorter text leaves nothing of a longer one.
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

}  // namespace

void SetPluginName(const std::string& Text) { CopyField(PluginHeader.Name, Text); }
void SetPluginVersion(const std::string& Text) { CopyField(PluginHeader.Version, Text); }
void SetPluginAuthor(const std::string& Text) { CopyField(PluginHeader.Author, Text); }
void SetPluginDescription(const std::string& Text) { CopyField(PluginHeader.Description, Text); }

void SetPluginKind(int Index) {
  if (Index < 0 || Index >= static_cast<int>(PluginKindCodes.size())) throw ERangeError();
  PluginHeader.Kind = PluginKindCodes[Index];
}

std::int32_t ExecutePlugin(const std::function<std::uint8_t()>& RunWindow) {
  // Our arithmetic, not the host's, for the whole run; the host's comes back on return.
  const TFloatingPointState floatingPoint;
  try {
    PluginErrorMessage = UnableToProcessMessage;
    return RunWindow();
  } catch (...) {
    try {
      MessageDlg(ExecuteExceptionMessage, mtWarning, {mbOK});
    } catch (...) {
      // No application object to show it with: the result alone tells the host.
    }
    return 0;
  }
}

}  // namespace planora
