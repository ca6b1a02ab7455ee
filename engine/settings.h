// The layout of the settings file that remembers the last marker: the
// window writes it when it closes and reads it when it opens, the batch
// tool reads it for --settings. One section; the fingerprint of the picture
// the marker belongs to, the marker's corners and the crop size.
#pragma once

#include <cstdint>

#include "platform/inifiles.h"

namespace planora {

inline constexpr const char* SettingsSection = "Planroa";
inline constexpr const char* SettingsHashKey = "Inhash";
inline constexpr const char* SettingsCropKey = "Original_Groesse";
// x and y of corners a, b, c, d, in that order.
inline constexpr const char* SettingsCornerKeys[8] = {"Selection_a0", "Selection_a1", "Selection_b0",
                                                      "Selection_b1", "Selection_c0", "Selection_c1",
                                                      "Selection_d0", "Selection_d1"};
inline constexpr std::int32_t DefaultCropPercent = 90;

struct TMarkerSettings {
  std::int32_t PictureHash = 0;  // Fingerprint of the picture the corners belong to
  double Corners[4][2] = {};     // a, b, c, d in world units of the picture window
  std::int32_t CropPercent = DefaultCropPercent;  // as stored: not clamped
};

// A key that is missing or does not convert reads as its default (0 for
// the fingerprint and the corners, DefaultCropPercent): the window never
// fails to open over its settings.
TMarkerSettings ReadMarkerSettings(const TIniFile& ini);

// Into the file's memory, in the order the file has always been written;
// the caller decides when it goes to disk.
void WriteMarkerSettings(TIniFile& ini, const TMarkerSettings& settings);

}  // namespace planora
