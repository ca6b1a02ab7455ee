// The plug-in's side of the host record: the wrappers that are the only
// places calling the host, the failure check, and the conversions between
// the bitmaps that cross the library boundary and the plug-in's own.
#pragma once

#include <cstdint>
#include <string>

#include "platform/graphics.h"
#include "platform/sysutils.h"
#include "plugin/planora_plugin.h"

namespace planora {

// The host record the host fills (the address RegisterPluginStruct hands out).
extern THostRecord HostRecord;

// A host function that reported failure.
class EPluginException : public Exception {
 public:
  using Exception::Exception;
};

// The text CheckHost raises; Execute sets it to "Unable to process the plugin !".
extern std::string PluginErrorMessage;
inline constexpr const char* DefaultPluginErrorMessage = "Erreur pendant l'exécution du module !";
inline constexpr const char* UnableToProcessMessage = "Unable to process the plugin !";

// Returns if Ok; otherwise raises EPluginException with PluginErrorMessage.
void CheckHost(bool Ok);

// The picture rectangle's size. EIntOverflow when the host's edges are so
// far apart that the difference does not fit 32 bits.
std::int32_t HostImageWidth();
std::int32_t HostImageHeight();

// A missing host function (null pointer) is never called: the two notices are
// then simply not given, the other wrappers report a refusal.
void ShowHostText(const std::string& Text, bool Flag);
void NotifyHostClose();
// Sizes Bitmap to HostImageWidth x HostImageHeight and lets the host write
// its picture into it. False when the host refuses, has no GetImage, or
// describes an empty or inverted picture rectangle (the host is then not
// asked, as there is nothing it could deliver into).
bool GetHostImage(TBitmap& Bitmap);
// Hands Bitmap to the host; false when it refuses or has no PutImage.
bool PutHostImage(TBitmap& Bitmap);
// The settings file's path from the host; empty when it has no
// GetIniFileName or returns no text.
std::string ReadIniFileName();

// The plug-in's bitmap as the host sees it: a description of Bitmap's own
// rows (24 bits per pixel, no copy), valid while Bitmap keeps its size.
TPluginBitmap PluginBitmapView(TBitmap& Bitmap);

// Copies a boundary bitmap into Dest, which takes its size. Accepts 24 bits
// (blue, green, red), 32 bits (blue, green, red, unused) and 8 bits with a
// palette (an index beyond the palette reads as black). False, leaving Dest
// untouched, for any other depth or a description that does not hold
// together (negative size, missing rows or palette, rows shorter than the
// width needs).
bool CopyFromPluginBitmap(const TPluginBitmap& Source, TBitmap& Dest);
// Writes Source into a boundary bitmap of the same size with 24 or 32 bits
// per pixel (the fourth byte becomes zero); padding bytes are left alone.
// False, writing nothing, when sizes differ or Dest cannot be written.
bool CopyToPluginBitmap(const TBitmap& Source, TPluginBitmap& Dest);

}  // namespace planora
