// Test filters for graph tests: a PCM source that pushes a fixed number of
// samples from its own thread, and a sink that counts what it receives.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "dshow/base.h"

// {5C1A0D01-2F6B-4E39-9A57-6B1D0C6E1A01}
static const GUID CLSID_TestPcmSource = {0x5C1A0D01, 0x2F6B, 0x4E39, {0x9A, 0x57, 0x6B, 0x1D, 0x0C, 0x6E, 0x1A, 0x01}};
// {5C1A0D02-2F6B-4E39-9A57-6B1D0C6E1A01}
static const GUID CLSID_TestSink = {0x5C1A0D02, 0x2F6B, 0x4E39, {0x9A, 0x57, 0x6B, 0x1D, 0x0C, 0x6E, 0x1A, 0x01}};

class TestPcmSource : public CBaseFilter {
 public:
  // rate/channels: the PCM offered; samples: how many 20 ms samples to push.
  TestPcmSource(DWORD rate, WORD channels, int samples);
  ~TestPcmSource() override;
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override;
  STDMETHODIMP Stop() override;

  // From sample `fromSample` on, the time stamps are moved by `shift`
  // (100 ns units): a source whose stamps lag or lead its bytes.
  void ShiftTimes(int fromSample, REFERENCE_TIME shift) {
    shiftFrom_ = fromSample;
    shift_ = shift;
  }
  // Sample frames per pushed sample (20 ms by default).
  void SetSampleFrames(LONG frames) { sampleFrames_ = frames; }
  LONG SampleFrames() const { return sampleFrames_ ? sampleFrames_ : static_cast<LONG>(rate_ / 50); }
  int Delivered() const { return delivered_; }
  HRESULT LastDeliverResult() const { return lastResult_; }
  bool Finished() const { return finished_; }
  // Waits (bounded) until the push thread has ended.
  bool WaitFinished(DWORD ms);

 private:
  class Pin;
  friend class Pin;
  static DWORD WINAPI ThreadProc(void* self);
  void Push();
  void StartThread();
  void StopThread();

  CCritSec lock_;
  Pin* pin_;
  DWORD rate_;
  WORD channels_;
  int samples_;
  int shiftFrom_ = 0;
  LONG sampleFrames_ = 0;
  REFERENCE_TIME shift_ = 0;
  HANDLE thread_ = nullptr;
  HANDLE stopEvent_ = nullptr;
  std::atomic<int> delivered_{0};
  std::atomic<HRESULT> lastResult_{S_OK};
  std::atomic<bool> finished_{false};
};

class TestSink : public CBaseFilter {
 public:
  // Accepts any type of the given major type.
  explicit TestSink(const GUID& majorType);
  ~TestSink() override;
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override;

  int Received() const { return received_; }
  int EndOfStreams() const { return endOfStreams_; }
  long BytesReceived() const { return bytes_; }

  // What each sample carried.
  struct Sample {
    std::vector<BYTE> data;
    bool hasTime = false, hasMediaTime = false;
    REFERENCE_TIME start = 0, stop = 0;
    LONGLONG mediaStart = 0, mediaStop = 0;
  };
  std::vector<Sample> Samples() const {
    std::lock_guard<std::mutex> lock(samplesLock_);
    return samples_;
  }
  // Keeps up to `count` samples referenced (not returned to their allocator)
  // until the sink stops: a downstream filter that holds buffers.
  void HoldSamples(int count) { hold_ = count; }
  // Receive answers `answer` for the n-th sample (1-based), S_OK otherwise.
  void AnswerAt(int n, HRESULT answer) {
    answerAt_ = n;
    answer_ = answer;
  }

 private:
  class Pin;
  friend class Pin;
  CCritSec lock_;
  Pin* pin_;
  GUID major_;
  std::atomic<int> received_{0};
  std::atomic<int> endOfStreams_{0};
  std::atomic<long> bytes_{0};
  mutable std::mutex samplesLock_;
  std::vector<Sample> samples_;
  int hold_ = 0;
  int answerAt_ = 0;
  HRESULT answer_ = S_OK;
  std::vector<IMediaSample*> held_;
  void ReleaseHeld();
};
