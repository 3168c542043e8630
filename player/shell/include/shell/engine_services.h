// What the player media engine uses of the player shell: the clip
// descriptor reader, the settings store, the instrumentation log, the
// message box, the debug log window and the dial-up connection. The shell
// implements these and hands them to the PlayerController; the main window
// itself reaches the engine side as its PlayerObserver.
#pragma once

#include <windows.h>

#include <cstdint>

struct ClipAccessInfo;
class PlayerContext;

// Reader of a clip descriptor file. Index -1 means the current entry.
class ClipFile {
 public:
  virtual ~ClipFile() = default;
  // 0 on success; a file is opened read-only with up to 20 tries 25 ms
  // apart, else 17.
  virtual uint32_t Read(const char16_t* path) = 0;
  virtual uint32_t Read(const uint8_t* data, uint32_t size) = 0;
  // The first entry's address kind is not 0.
  virtual bool IsValid() = 0;
  virtual bool GetEntryRecord(int32_t entry, ClipAccessInfo* out) = 0;
  // 1 file, 2 RTSP, 3 HTTP, 0 other.
  virtual uint32_t GetEntryKind(int32_t entry) = 0;
  virtual const char16_t* GetEntryUrl(int32_t entry) = 0;
  // Start and end in ms stored after the entry's address.
  virtual void GetEntryValues(int32_t entry, uint32_t* startMs, uint32_t* endMs) = 0;
  virtual uint32_t GetEntryMode(int32_t entry) = 0;      // bits 3-4 of the flag word
  virtual uint32_t GetEntryFlagBit2(int32_t entry) = 0;
  virtual uint32_t GetEntryFlagBit5(int32_t entry) = 0;
  virtual uint32_t GetHeaderFlagBit0() = 0;              // close when playback ends
  virtual const char16_t* GetTrailerText() = 0;          // null unless header bit 1
  virtual int32_t GetCurrentEntry() = 0;
  virtual void SetCurrentEntry(int32_t entry) = 0;
  virtual int32_t GetEntryCount() = 0;
  // Frees its texts; the owner then deletes the object.
  virtual void Release() = 0;
};

// The network connection check; owned by the engine.
class DialupConnection {
 public:
  virtual ~DialupConnection() = default;
  // 1 when a network connection is available.
  virtual uint32_t EnsureConnected() = 0;
  virtual uint32_t CheckConnection(uint32_t mode) = 0;
  virtual uint32_t IsDialing() = 0;
  virtual void CloseHandle() = 0;
};

// The debug log window, made by the engine when the setting "Debug" is set.
class QLTLogWindow {
 public:
  virtual ~QLTLogWindow() = default;
  // Draws one line at (x, y) and keeps it for repainting.
  virtual void WriteLine(uint32_t x, uint32_t y, const char16_t* text) = 0;
  virtual void Close() = 0;
  virtual uint32_t Update() = 0;
};

// Services of the shell. Every operation may be called from any thread.
class PlayerShellServices {
 public:
  virtual ~PlayerShellServices() = default;

  virtual ClipFile* NewClipFile() = 0;
  virtual DialupConnection* NewDialupConnection(PlayerContext* context) = 0;
  virtual QLTLogWindow* NewLogWindow(HINSTANCE instance) = 0;

  // 0x300: the player's content version, major in the high byte.
  virtual uint32_t GetSettingsVersion() = 0;
  // Settings under the player's key; a value that is missing leaves the
  // output untouched and gives false.
  virtual bool ReadSettingDword(HINSTANCE instance, const char16_t* name, uint32_t* value) = 0;
  virtual bool ReadSettingDwordById(HINSTANCE instance, uint32_t nameId, uint32_t* value) = 0;
  // buffer holds 256 units.
  virtual bool ReadSettingString(HINSTANCE instance, const char16_t* name, char16_t* buffer) = 0;
  virtual bool ReadSettingStringById(HINSTANCE instance, uint32_t nameId, char16_t* buffer) = 0;
  virtual void WriteSettingDwordById(HINSTANCE instance, uint32_t nameId, uint32_t value) = 0;
  virtual void WriteSettingStringById(HINSTANCE instance, uint32_t nameId, const char16_t* text) = 0;

  // Appends one line to the instrumentation log when the setting
  // "InstrumentTesting" names a file; the shell adds the time prefix.
  virtual void InstrumentLog(HINSTANCE instance, const char16_t* line) = 0;
  // The string-table text of messageId in a message box; the answer.
  virtual int ShowMessage(HINSTANCE instance, uint32_t messageId, const char16_t* argument,
                          uint32_t flags) = 0;
  virtual void DebugTrace(uint32_t level, const char* where, const char* what) = 0;
};
