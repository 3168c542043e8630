// Small test doubles for what the engine side meets: the shell's services,
// the main window as observer, the clock, the media source, the audio
// decoder and the video thread. Each records what it was asked.
#pragma once

#include <windows.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine_parts.h"
#include "media_source.h"
#include "player_observer.h"
#include "shell/engine_services.h"
#include "streaming/client_services.h"

std::string Narrow(const char16_t* s);

// Every observer call as one line, e.g. "SetPlayerState 2", in order.
class RecordingObserver : public PlayerObserver {
 public:
  void Attach(PlayerController*) override { Add("Attach"); }
  void SetRepeat(uint32_t on) override { Add("SetRepeat " + std::to_string(on)); }
  void SetText(const char16_t* t) override { Add("SetText " + Narrow(t)); }
  void ShowStatusText(uint32_t id) override { Add("ShowStatusText " + std::to_string(id)); }
  int ShowError(uint32_t id, const char16_t* text, uint32_t style) override;
  void SetVideoGeometry(uint32_t w, uint32_t h, uint32_t f) override {
    Add("SetVideoGeometry " + std::to_string(w) + " " + std::to_string(h) + " " + std::to_string(f));
  }
  void SetPosition(uint32_t ms) override { Add("SetPosition " + std::to_string(ms)); }
  void SetProgress(uint32_t v) override { Add("SetProgress " + std::to_string(v)); }
  void SetBufferLevel(uint32_t p) override { Add("SetBufferLevel " + std::to_string(p)); }
  void SetIndicator(uint32_t v) override { Add("SetIndicator " + std::to_string(v)); }
  void SetPlayerState(uint32_t s) override { Add("SetPlayerState " + std::to_string(s)); }
  void ShowMessageText(uint32_t t, const char16_t* a) override {
    Add("ShowMessageText " + std::to_string(t) + " " + Narrow(a));
  }
  void OnClipEnd() override;
  void EnableCommand(uint32_t id, uint32_t e) override {
    Add("EnableCommand " + std::to_string(id) + " " + std::to_string(e));
  }
  void SetProgressRecord(const ClipProperties* p) override;

  std::vector<std::string> Calls();
  // Lines that start with prefix.
  std::vector<std::string> Calls(const std::string& prefix);
  bool Has(const std::string& line);
  void Clear();

  int answer = IDNO;
  std::atomic<DWORD> clipEndThread{0};
  ClipProperties lastRecord{};

 private:
  void Add(const std::string& s);
  std::mutex lock;
  std::vector<std::string> calls;
};

class FakeClipFile : public ClipFile {
 public:
  struct Entry {
    std::u16string url;
    uint32_t kind = 1;
    uint32_t startMs = 0, endMs = kPlayToEnd;
    uint32_t mode = 0;
  };
  uint32_t Read(const char16_t*) override { return readResult; }
  uint32_t Read(const uint8_t*, uint32_t) override { return readResult; }
  bool IsValid() override { return !entries.empty() && entries[0].kind != 0; }
  bool GetEntryRecord(int32_t, ClipAccessInfo* out) override;
  uint32_t GetEntryKind(int32_t i) override { return At(i).kind; }
  const char16_t* GetEntryUrl(int32_t i) override { return At(i).url.c_str(); }
  void GetEntryValues(int32_t i, uint32_t* s, uint32_t* e) override {
    *s = At(i).startMs;
    *e = At(i).endMs;
  }
  uint32_t GetEntryMode(int32_t i) override { return At(i).mode; }
  uint32_t GetEntryFlagBit2(int32_t) override { return 0; }
  uint32_t GetEntryFlagBit5(int32_t) override { return 0; }
  uint32_t GetHeaderFlagBit0() override { return exitWhenDone; }
  const char16_t* GetTrailerText() override { return nullptr; }
  int32_t GetCurrentEntry() override { return current; }
  void SetCurrentEntry(int32_t i) override { current = i; }
  int32_t GetEntryCount() override { return static_cast<int32_t>(entries.size()); }
  void Release() override {}

  std::vector<Entry> entries;
  uint32_t readResult = 0;
  uint32_t exitWhenDone = 0;
  int32_t current = 0;

 private:
  Entry& At(int32_t i) { return entries.at(i < 0 ? current : i); }
};

class FakeLogWindow : public QLTLogWindow {
 public:
  explicit FakeLogWindow(std::vector<std::string>* lines) : lines(lines) {}
  void WriteLine(uint32_t x, uint32_t y, const char16_t* text) override {
    lines->push_back(std::to_string(x) + "," + std::to_string(y) + " " + Narrow(text));
  }
  void Close() override { lines->push_back("closed"); }
  uint32_t Update() override { return 0; }
  std::vector<std::string>* lines;
};

class FakeShell : public PlayerShellServices {
 public:
  ClipFile* NewClipFile() override;
  DialupConnection* NewDialupConnection(PlayerContext*) override;
  QLTLogWindow* NewLogWindow(HINSTANCE) override { return new FakeLogWindow(&debugLines); }
  uint32_t GetSettingsVersion() override { return 0x300; }
  bool ReadSettingDword(HINSTANCE, const char16_t* name, uint32_t* v) override;
  bool ReadSettingDwordById(HINSTANCE, uint32_t id, uint32_t* v) override;
  bool ReadSettingString(HINSTANCE, const char16_t* name, char16_t* buffer) override;
  bool ReadSettingStringById(HINSTANCE, uint32_t id, char16_t* buffer) override;
  void WriteSettingDwordById(HINSTANCE, uint32_t id, uint32_t v) override;
  void WriteSettingStringById(HINSTANCE, uint32_t id, const char16_t* t) override;
  void InstrumentLog(HINSTANCE, const char16_t* line) override;
  int ShowMessage(HINSTANCE, uint32_t, const char16_t*, uint32_t) override { return IDOK; }
  void DebugTrace(uint32_t, const char*, const char*) override {}

  std::vector<std::string> LogLines();

  std::mutex lock;
  std::map<std::u16string, uint32_t> dwords;
  std::map<std::u16string, std::u16string> strings;
  std::vector<std::string> log;
  std::vector<std::string> debugLines;  // of the debug log window
  // The next clip descriptor handed out (taken over by the session).
  FakeClipFile* nextClipFile = nullptr;
  int clipFilesMade = 0;
  uint32_t connected = 1;
};

// A clock the test sets by hand.
class ManualClock : public TickClock {
 public:
  uint32_t StartWallClock(uint32_t videoOnly) override {
    started = true;
    this->videoOnly = videoOnly;
    return 0;
  }
  uint32_t SetTime(uint32_t ms) override {
    now = ms;
    return 0;
  }
  uint32_t GetTime() override { return now; }
  void CloseEvent() override { closed = true; }
  bool started = false, closed = false;
  uint32_t videoOnly = 99;
  uint32_t now = 0;
};

class FakeSource : public MediaSource {
 public:
  explicit FakeSource(PlayerContext* c, uint32_t k);
  uint32_t Open(const char16_t* loc, const ClipAccessInfo* access) override;
  uint32_t SetPlayRange(uint32_t s, uint32_t e) override;
  uint32_t Pause() override { ++pauses; return pauseResult; }
  uint32_t Resume(int32_t pos) override {
    resumes.push_back(pos);
    return resumeResult;
  }
  uint32_t Finish() override { ++finishes; return 0; }
  uint32_t Close() override { ++closes; return 0; }
  const uint8_t* GetVideoConfig(uint32_t, uint32_t* size) override { *size = 0; return nullptr; }
  uint32_t GetAudioFrame(uint8_t*, uint32_t, uint32_t, uint32_t*, uint32_t*) override { return kFrameEndOfMedia; }
  uint32_t GetVideoFrame(uint8_t*, uint32_t, uint32_t, uint32_t*, uint32_t*) override { return kFrameEndOfMedia; }
  uint32_t GetMaxAudioFrameSize() override { return 0; }
  uint32_t GetMaxVideoFrameSize(uint32_t) override { return 0; }
  TrackEntry* GetTrackList(int32_t* count) override {
    *count = listCount;
    return tracks;
  }
  uint32_t SelectTrack(uint32_t id) override {
    selected.push_back(id);
    return 0;
  }
  uint32_t GetBufferLevel() override { return bufferLevel; }
  uint32_t GetMaxBufferedData() override { return maxBuffered; }
  uint32_t GetTrackStatistic() override { return trackStatistic; }
  float GetContentVersion(uint32_t) override { return 3.0f; }
  uint32_t IsLive() override { return live; }
  uint32_t Suspend() override { ++suspends; return 0; }
  uint32_t GetDownloadInfo() override { return downloadTotal; }
  uint32_t GetDownloadProgress(int32_t* out) override {
    *out = downloadRemaining;
    return 0;
  }
  void AddTrack(uint32_t id, std::u16string_view codec, uint32_t bitrate);

  // What the fake does.
  uint32_t openResult = 0;
  bool signalOnOpen = false;  // reports the open result at once, as a file does
  uint32_t contentOnPlay = kContentAudio | kContentVideo;
  uint32_t pauseResult = 0, resumeResult = 0;
  uint32_t bufferLevel = 0, maxBuffered = 0, trackStatistic = 0, live = 0;
  uint32_t downloadTotal = 0;
  int32_t downloadRemaining = 0;
  int32_t listCount = 0;
  // What it was asked.
  int pauses = 0, finishes = 0, closes = 0, suspends = 0, opens = 0;
  std::vector<int32_t> resumes;
  std::vector<uint32_t> selected;
  std::vector<std::pair<uint32_t, uint32_t>> ranges;
};

class FakeAudio : public AudioDecoder {
 public:
  uint32_t LoadCodec(const CodecEntry& c, uint32_t, uint32_t, uint32_t) override;
  uint32_t OpenDevice() override { return openResult; }
  void SetPlayRange(uint32_t s, uint32_t e) override { ranges.push_back({s, e}); }
  uint32_t Start() override { ++starts; return startResult; }
  uint32_t Pause() override { ++pauses; return 0; }
  uint32_t Resume(int32_t) override { ++resumes; return 0; }
  uint32_t Stop() override { ++stops; return 0; }
  void SetVolume(uint32_t v) override { volumes.push_back(v); }
  uint32_t openResult = 0, startResult = 0;
  int starts = 0, pauses = 0, resumes = 0, stops = 0;
  std::vector<std::pair<uint32_t, uint32_t>> ranges;
  std::vector<uint32_t> volumes;
  std::vector<std::string> codecs;
};

class FakeVideo : public VideoThread {
 public:
  uint32_t Start() override { ++starts; return startResult; }
  uint32_t Pause() override { ++pauses; return 0; }
  uint32_t Resume(int32_t p) override { resumes.push_back(p); return 0; }
  uint32_t Stop() override { ++stops; return 0; }
  void GetVideoSize(uint32_t* w, uint32_t* h) override { *w = 176; *h = 144; }
  uint32_t Repaint(uint32_t) override { ++repaints; return 0; }
  void SetDisplayMode(uint32_t m) override { mode = m; }
  uint32_t startResult = 0, mode = 0;
  int starts = 0, pauses = 0, stops = 0, repaints = 0;
  std::vector<int32_t> resumes;
};

// Hands out the doubles above and keeps pointers to the latest ones (owned
// by the engine).
class FakeParts : public EngineParts {
 public:
  TickClock* NewClock() override { return clock = new ManualClock; }
  MediaSource* NewSource(uint32_t kind, PlayerContext* c) override;
  AudioDecoder* NewAudioDecoder(PlayerContext*, MediaSource*) override { return audio = new FakeAudio; }
  VideoThread* NewVideoThread(PlayerContext*, MediaSource*) override { return video = new FakeVideo; }
  uint32_t TickCount() override { return ticks; }

  // Applied to each new source.
  void (*configure)(FakeSource*) = nullptr;
  std::vector<uint32_t> kinds;
  ManualClock* clock = nullptr;
  FakeSource* source = nullptr;
  FakeAudio* audio = nullptr;
  FakeVideo* video = nullptr;
  uint32_t ticks = 1000;
};

// A top-level window with the logo and video control 501, as the shell's
// main window has.
class TestWindow {
 public:
  TestWindow();
  ~TestWindow();
  HWND hwnd = nullptr;
  HWND control = nullptr;
  int closeRequests = 0;
};

// Dispatches messages of this thread until done() or the time runs out.
template <typename F>
bool PumpUntil(F done, DWORD limitMs) {
  const DWORD start = GetTickCount();
  MSG msg;
  while (!done()) {
    if (GetTickCount() - start > limitMs) return false;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return true;
}

inline void PumpPending() {
  PumpUntil([] { return false; }, 30);
}
