// The authoring control's rules that need no window: which values each
// property takes and where they go in the media engine's settings records,
// the context menu's entries, and the text of a reported failure.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "mediaengine/records.h"

namespace ctlvane {

using HResult = int32_t;

constexpr HResult kOk = 0;
constexpr HResult kAbort = static_cast<HResult>(0x80004004);  // E_ABORT
constexpr HResult kInterfaceNotFound = static_cast<HResult>(0x800A03F1);
constexpr HResult kInvalidValue = static_cast<HResult>(0x800A03F3);
constexpr HResult kInvalidFileName = static_cast<HResult>(0x800A03EC);
constexpr HResult kStringTooLong = static_cast<HResult>(0x800A03FB);
constexpr HResult kBadStatRefreshRate = static_cast<HResult>(0x800A0427);
constexpr HResult kBadStatWindowDuration = static_cast<HResult>(0x800A0428);
constexpr HResult kDiskFull = static_cast<HResult>(0x800A138A);
constexpr HResult kOpenStillImage = static_cast<HResult>(0x800A1771);

// Dispatch ids of the properties that have a rule or a place in a record.
enum Property : int32_t {
  kEncWidth = 1,
  kNLayers = 2,
  kEncHeight = 3,
  kBaseBitRate = 4,
  kEnBitRate = 5,
  kBaseFrameRate = 6,
  kEnFrameRate = 7,
  kIFrameInterval = 8,
  kMediaOut = 9,
  kStreamOut = 10,
  kOutputFileName = 11,
  kSourceType = 12,
  kEncPreviewType = 13,
  kEncoding = 14,
  kCapWidth = 15,
  kCapHeight = 16,
  kSrcFileName = 17,
  kEnableSkin = 18,
  kBandwidth = 19,
  kContentVersion = 20,
  kMaxDuration = 21,
  kUnitDuration = 22,
  kMaxSize = 23,
  kProfileName = 24,
  kBFullSearch = 25,
  kProfileDescription = 26,
  kBEnableFixedIFrame = 27,
  kBEncodeDownloadOnly = 28,
  kBFileOut = 29,
  kEnableSecurityCheck = 30,
  kEnableDragandDrop = 31,
  kGuiMode = 32,
  kContextMenuSettings = 33,
  kButtonMode = 34,
  kBackColor = 35,
  kAllowSelfResize = 36,
  kBMultiplePass = 37,
  kBClientNoAudio = 38,
  kStatRefreshRate = 39,
  kStatWindowDuration = 40,
  kBEnableVideoRandomPositioning = 41,
  kScratchDisk = 42,
  kBEnableRandomPositioning = 43,
};

// What a written property value meets.
struct PropertyVerdict {
  HResult refusal = kOk;  // kOk: accepted
  bool putBack = true;  // refused: the previous value comes back (else `replacement`)
  double replacement = 0;
  bool Accepted() const { return refusal == kOk; }
};

// The rule of a numeric property (short, long or float); properties that
// take any value are accepted.
PropertyVerdict CheckNumber(int32_t dispid, double value);

// Numeric properties kept in the records: the value is copied into its
// record (and the output record's copy, where there is one). False for a
// property that has no place in the records.
bool StoreNumber(int32_t dispid, double value, mediaengine::KRSettingsRecords& records);
// The value the records hold for such a property (what a refused write
// puts back); false when it has no place there.
bool StoredNumber(int32_t dispid, const mediaengine::KRSettingsRecords& records, double* value);

// Text properties kept in the records (OutputFileName, srcFileName,
// profileName, profileDescription, scratchDisk): the length rule, then
// the copy. A refused text leaves the record as it was.
PropertyVerdict CheckText(int32_t dispid, std::u16string_view text);
bool StoreText(int32_t dispid, std::u16string_view text, mediaengine::KRSettingsRecords& records);
std::u16string StoredText(int32_t dispid, const mediaengine::KRSettingsRecords& records);

// The context menu: its five entries, and those that stay for a run state
// (0, 1 stopped; 2 paused, 3 encoding) and the `contextMenuSettings` bits.
enum MenuEntry : unsigned {
  kMenuProperties = 1u << 0,
  kMenuSeparator = 1u << 1,
  kMenuPreview = 1u << 2,
  kMenuStart = 1u << 3,
  kMenuStop = 1u << 4,
};
unsigned ContextMenuEntries(int runState, int settings);

// ReportError's text for `code`. `load` gives a string of the module's
// table by id (empty when it cannot be loaded). The output file and the
// still image name are arguments of their two texts, never part of the
// format.
using StringLoader = std::function<std::u16string(unsigned id)>;
std::u16string ErrorMessage(HResult code, const StringLoader& load, std::u16string_view outputFile,
                            std::u16string_view stillImage);

// String-table ids: every listed code has the id of its low 16 bits.
constexpr unsigned kCaptionTextId = 100;  // "Error occurred in KRActive"
constexpr unsigned kUnknownTextId = 101;  // "Error unknown"
constexpr unsigned kDefaultProfileTextId = 554;  // the built-in default profile's name
// The id of a code's row in the ControlError table, 0 when it has none.
unsigned ErrorTextId(HResult code);
// The codes of the table, in its order.
extern const uint32_t kControlErrorCodes[79];

}  // namespace ctlvane
