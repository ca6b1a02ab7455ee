// The host side of the plug-in interface, as any host would implement it:
// the library is loaded with dlopen and reached only through its seven
// exports and the host record. The desktop program and the GIMP plug-in
// both play the host through this code; each says here where its picture
// comes from and where the result goes, and the checks of the bitmaps the
// plug-in hands over are made once, for both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "plugin/planora_plugin.h"

namespace planora {

// The glyph as 8-bit indices and its palette, copied out of the plug-in's handle.
struct TGlyph {
  int Width = 0, Height = 0;
  std::vector<std::uint8_t> Indices;          // Width * Height, rows top-down
  std::vector<TPluginPaletteEntry> Palette;   // 256 entries
};

class TPluginLibrary {
 public:
  // Loads the library and finds its exports; EInOutError saying what is
  // missing otherwise.
  explicit TPluginLibrary(const std::string& path);
  ~TPluginLibrary();
  TPluginLibrary(const TPluginLibrary&) = delete;
  TPluginLibrary& operator=(const TPluginLibrary&) = delete;

  const std::string& Path() const { return path_; }
  // The header's Name, as the host's menu shows it.
  std::string Name() const;
  std::string Version() const;
  TGlyph Glyph() const;

  // A checked 24-bit bitmap of the plug-in's: Width x Height pixels, blue,
  // green, red, rows top-down Stride bytes apart (at least 3 * Width).
  struct TRows {
    int Width = 0, Height = 0;
    std::ptrdiff_t Stride = 0;
    std::uint8_t* Bits = nullptr;
    std::uint8_t* Row(int y) const { return Bits + static_cast<std::ptrdiff_t>(y) * Stride; }
  };

  // What the plug-in does with the host while Execute runs. A function left
  // empty is one the host does not offer (null in the host record).
  struct THost {
    int Width = 0, Height = 0;  // the picture, announced in ImageRect
    // Writes the picture into rows of exactly Width x Height; false refuses.
    std::function<bool(const TRows&)> GetImage;
    // Takes the result (copying what it needs); false refuses.
    std::function<bool(const TRows&)> PutImage;
    std::string SettingsPath;  // returned by GetIniFileName; empty: none
    std::function<void(const std::string&)> ShowText;
    std::function<void()> NotifyClose;
  };
  // Runs the plug-in on the picture. 1 when Execute says so and PutImage
  // really took a result, else 0.
  int Run(const THost& host);

 private:
  std::string path_;
  void* handle_ = nullptr;
  std::int32_t (*compatibility_)() = nullptr;
  void* (*application_)() = nullptr;
  TPluginLanguage* (*language_)() = nullptr;
  TPluginHeader* (*header_)() = nullptr;
  THostRecord* (*record_)() = nullptr;
  TPluginBitmap* (*glyph_)() = nullptr;
  std::int32_t (*execute_)() = nullptr;
};

// Where the plug-in keeps its settings: $XDG_CONFIG_HOME/planora/planora.ini
// (or ~/.config/...), the folder created if missing.
std::string PluginSettingsPath();

// The library next to the program (a copy beside it, or the build tree),
// then in the installed plug-in folder <prefix>/<libdir>/planora, where
// prefix is toPrefix relative to the program's folder ("..", for a program
// in <prefix>/bin); PLANORA_PLUGIN overrides all.
std::string FindPluginLibrary(const std::string& programPath, const std::string& toPrefix = "..");

}  // namespace planora
