// The host side of the plug-in interface, as any host would implement it:
// the library is loaded with dlopen and reached only through its seven
// exports and the host record. The desktop program keeps its photo here
// while the plug-in runs; the host functions the plug-in calls read and
// write it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "apps/imageio/imageio.h"
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

  // What the plug-in does with the host while Execute runs.
  struct THost {
    const TPhoto* Picture = nullptr;      // handed over by GetImage
    std::string SettingsPath;             // returned by GetIniFileName
    std::function<void(const std::string&)> ShowText;
    std::function<void()> NotifyClose;
  };
  // Runs the plug-in on the picture. Returns Execute's result; on 1, Result
  // holds the picture the plug-in handed back (with the original's EXIF and
  // ICC profile).
  int Run(const THost& host, TPhoto& Result);

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

// The library next to the program (build tree), then in the installed
// plug-in folder; PLANORA_PLUGIN overrides both.
std::string FindPluginLibrary(const std::string& programPath);

// "photo.jpg" -> "photo-rectified.jpg", beside the photo.
std::string RectifiedName(const std::string& photoPath);

}  // namespace planora
