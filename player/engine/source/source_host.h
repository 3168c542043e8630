// What the file source needs of the player around it: the engine state, the
// clock, status texts, error reports, the instrumentation log and the string
// table. The Windows build answers it from the PlayerContext and the shell;
// native tests and benchmarks answer it themselves, so the file source builds
// without a Windows header.
#pragma once

#include <cstdint>

class SourceHost {
 public:
  virtual ~SourceHost() = default;
  virtual uint32_t GetEngineState() = 0;
  // A message of the player's message table, with an optional argument text;
  // stops playback except for the video-only notice.
  virtual void ReportError(uint32_t messageId, const char16_t* argument) = 0;
  virtual void SetStatusText(uint32_t statusId) = 0;
  virtual void SetPosition(uint32_t ms) = 0;
  virtual uint32_t GetPosition() = 0;
  // The result of an open, handed on to the controller.
  virtual void OpenResult(uint32_t code) = 0;
  // One line of the instrumentation log.
  virtual void Log(const char16_t* line) = 0;
  // A string-table text into buffer (units, terminator included); empty when
  // the table has none.
  virtual void LoadText(uint32_t id, char16_t* buffer, uint32_t units) = 0;
  // 0x300: the player's content version, major in the high byte.
  virtual uint32_t GetSettingsVersion() = 0;
};
