// The plug-in's header and language records, the header setters, the glyph,
// and the frame every run of Execute goes through.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "plugin/planora_plugin.h"

namespace planora {

// Records the host reads through RegisterPluginHeader and RegisterPluginLanguage.
extern TPluginHeader PluginHeader;
extern TPluginLanguage PluginLanguage;

// Kind codes by kind index; this plug-in declares index 1.
inline constexpr std::array<std::int32_t, 5> PluginKindCodes{0, 1, 2, 3, 4};
inline constexpr int PluginKindIndex = 1;

inline constexpr const char* PluginName = "Planora";
inline constexpr const char* PluginAuthor = "Vossberg";
inline constexpr const char* PluginDescription = "Transformation so that the selected polygon is rectangular";

// Copy a text into the header, cut at the field's 63 (or 255) characters,
// zero-terminated and with the rest of the field zero.
void SetPluginName(const std::string& Text);
void SetPluginVersion(const std::string& Text);
void SetPluginAuthor(const std::string& Text);
void SetPluginDescription(const std::string& Text);
// Stores PluginKindCodes[Index] in Kind; ERangeError for an index outside 0..4.
void SetPluginKind(int Index);

// The glyph's size and its 256-colour palette.
inline constexpr int GlyphSize = 19;
// Entry Index (0..255) of the palette; ERangeError for any other index.
TPluginPaletteEntry GlyphPaletteEntry(int Index);
// A new handle of the glyph, as RegisterPluginGlyph documents it (one malloc
// block, released with free); nullptr when memory ran out.
TPluginBitmap* NewPluginGlyph();
// The glyph as a Windows bitmap file (8 bits per pixel, 256-entry palette):
// the DLL's "GLYPH" resource, resources/glyph.bmp, is this file.
std::string GlyphBitmapFile();

// The frame of Execute. Sets PluginErrorMessage to the English text, then
// runs RunWindow (create the window, show it modally, return ResultCode).
// An exception that reaches here is shown as a warning with an OK button and
// gives 0; nothing of any kind escapes, since the caller is a C host.
std::int32_t ExecutePlugin(const std::function<std::uint8_t()>& RunWindow);
inline constexpr const char* ExecuteExceptionMessage =
    "Exception in Plugin. Press OK to continue, nothing should be destroyed.";

}  // namespace planora
