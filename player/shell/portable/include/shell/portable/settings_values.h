// The player's registry values: string-table id, name and type. The store
// loads each name from the string table by its id; this list is what the
// string table must hold, and what the shell's callers name.
#pragma once

#include <cstdint>

namespace shell {

enum class SettingType { kDword, kString };

struct SettingValue {
  uint32_t id;  // 0: a fixed name outside the string table
  const char16_t* name;
  SettingType type;
};

// String 60121: the key under HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE.
constexpr uint32_t kSettingsKeyId = 60121;
// The player's content and settings version, major in the high byte.
constexpr uint32_t kSettingsVersion = 0x300;

enum SettingId : uint32_t {
  kCurrentVolume = 60142,
  kPostProcessing = 60143,
  kMaximumBufferedData = 60144,
  kInstrumentTesting = 60145,
  kDialingTimeout = 60146,
  kMaximumClipCount = 60147,
  kAllowDialing = 60148,
  kRasReg = 60149,
  kShowcaseLocation = 60150,
  kFavoritesFile = 60151,
  kHistoryFile = 60152,
  kLandscape = 60153,
  kMultipleInstances = 60154,
  kAllowExit = 60155,
  kDefaultDocuments = 60156,
  kProvideDiagnostics = 60157,
  kDiagnosticsLogFile = 60158,
  kDiagnosticsPath = 60159,
  kFilePath = 60160,
  kInstance = 60161,
  kRestart = 60162,
  kLastDownload = 60163,
  kLastTitle = 60164,
  kMinimumOverhead = 60165,
  kKRData = 60166,
};

inline constexpr SettingValue kSettingValues[] = {
    {kCurrentVolume, u"CurrentVolume", SettingType::kDword},
    {kPostProcessing, u"PostProcessing", SettingType::kDword},
    {kMaximumBufferedData, u"MaximumBufferedData", SettingType::kDword},
    {kInstrumentTesting, u"InstrumentTesting", SettingType::kString},
    {kDialingTimeout, u"DialingTimeout", SettingType::kDword},
    {kMaximumClipCount, u"MaximumClipCount", SettingType::kDword},
    {kAllowDialing, u"AllowDialing", SettingType::kDword},
    {kRasReg, u"RasReg", SettingType::kString},
    {kShowcaseLocation, u"ShowcaseLocation", SettingType::kString},
    {kFavoritesFile, u"FavoritesFile", SettingType::kString},
    {kHistoryFile, u"HistoryFile", SettingType::kString},
    {kLandscape, u"Landscape", SettingType::kDword},
    {kMultipleInstances, u"MultipleInstances", SettingType::kDword},
    {kAllowExit, u"AllowExit", SettingType::kDword},
    {kDefaultDocuments, u"DefaultDocuments", SettingType::kString},
    {kProvideDiagnostics, u"ProvideDiagnostics", SettingType::kDword},
    {kDiagnosticsLogFile, u"DiagnosticsLogFile", SettingType::kString},
    {kDiagnosticsPath, u"DiagnosticsPath", SettingType::kString},
    {kFilePath, u"FilePath", SettingType::kString},
    {kInstance, u"Instance", SettingType::kString},
    {kRestart, u"Restart", SettingType::kDword},
    {kLastDownload, u"LastDownload", SettingType::kString},
    {kLastTitle, u"LastTitle", SettingType::kString},
    {kMinimumOverhead, u"MinimumOverhead", SettingType::kDword},
    {kKRData, u"KRData", SettingType::kString},
    {0, u"Debug", SettingType::kDword},
    {0, u"DebugLogFile", SettingType::kString},
    {0, u"LipSync", SettingType::kDword},
};

}  // namespace shell
