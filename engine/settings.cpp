#include "engine/settings.h"

namespace planora {

TMarkerSettings ReadMarkerSettings(const TIniFile& ini) {
  TMarkerSettings s;
  s.PictureHash = ini.ReadInteger(SettingsSection, SettingsHashKey, 0);
  for (int k = 0; k < 8; ++k) s.Corners[k / 2][k % 2] = ini.ReadFloat(SettingsSection, SettingsCornerKeys[k], 0);
  s.CropPercent = ini.ReadInteger(SettingsSection, SettingsCropKey, DefaultCropPercent);
  return s;
}

void WriteMarkerSettings(TIniFile& ini, const TMarkerSettings& settings) {
  ini.WriteInteger(SettingsSection, SettingsHashKey, settings.PictureHash);
  for (int k = 0; k < 8; ++k)
    ini.WriteFloat(SettingsSection, SettingsCornerKeys[k], settings.Corners[k / 2][k % 2]);
  ini.WriteInteger(SettingsSection, SettingsCropKey, settings.CropPercent);
}

}  // namespace planora
