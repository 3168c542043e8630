// More test filters for graph tests: sources that push a fixed number of
// samples from their own thread (a moving video pattern; packets of our AMR
// coder in the encoded-audio packet layout), and a sink that keeps what it
// receives.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "dshow/base.h"

struct AmrEncState;

class TestPushSource : public CBaseFilter {
 public:
  TestPushSource(const char* name, REFCLSID clsid, const CMediaType& type, long bufferSize, int count);
  ~TestPushSource() override;
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override;

  int Delivered() const { return delivered_; }
  HRESULT LastDeliverResult() const { return lastResult_; }
  bool Finished() const { return finished_; }
  // Waits (bounded) until the push thread has ended.
  bool WaitFinished(DWORD ms);

 protected:
  // Fills sample number index (data, length, times, flags); false ends the stream.
  virtual bool Fill(int index, IMediaSample* sample) = 0;

 private:
  class Pin;
  friend class Pin;
  static DWORD WINAPI ThreadProc(void* self);
  void Push();
  void StartThread();
  void StopThread();

  CCritSec lock_;
  Pin* pin_;
  CMediaType type_;
  long bufferSize_;
  int count_;
  HANDLE thread_ = nullptr;
  HANDLE stopEvent_ = nullptr;
  std::atomic<int> delivered_{0};
  std::atomic<HRESULT> lastResult_{S_OK};
  std::atomic<bool> finished_{false};
};

// A moving pattern (a gradient that drifts and a bright square that walks),
// RGB24 (bottom-up) or I420, at the given pictures per second.
class TestVideoSource : public TestPushSource {
 public:
  TestVideoSource(int width, int height, const GUID& subtype, int frames, double fps);
  // The picture of index i as I420 (what an RGB24 source's picture is before its conversion).
  static void Pattern(int width, int height, int i, unsigned char* yuv);

 protected:
  bool Fill(int index, IMediaSample* sample) override;

 private:
  int width_, height_;
  bool rgb_;
  double fps_;
};

// Encoded-audio packets (codec type 0 GSM-AMR, stream id, frame count, then
// per frame a 16-bit little-endian length and the frame: its frame type
// byte, then the speech bits) of a synthetic voice coded by our AMR encoder.
class TestAmrSource : public TestPushSource {
 public:
  TestAmrSource(int mode, int framesPerPacket, int packets, int streamId);
  ~TestAmrSource() override;

 protected:
  bool Fill(int index, IMediaSample* sample) override;

 private:
  int mode_, framesPerPacket_, streamId_;
  AmrEncState* amr_ = nullptr;
  long sampleIndex_ = 0;
};

class TestCaptureSink : public CBaseFilter {
 public:
  struct Sample {
    std::vector<unsigned char> bytes;
    REFERENCE_TIME start = 0, stop = 0;
    bool timed = false, sync = false;
  };
  explicit TestCaptureSink(const GUID& majorType);
  ~TestCaptureSink() override;
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override;

  std::vector<Sample> Samples();
  int EndOfStreams() const { return endOfStreams_; }
  CMediaType ConnectedType();
  bool WaitEndOfStream(DWORD ms);

 private:
  class Pin;
  friend class Pin;
  CCritSec lock_;
  CCritSec samplesLock_;
  Pin* pin_;
  GUID major_;
  std::vector<Sample> samples_;
  std::atomic<int> endOfStreams_{0};
};

// Creates an object of a COM server DLL without registration: the DLL's own
// class factory (the DLL stays loaded for the process).
HRESULT CreateFromDll(const char* dll, REFCLSID clsid, REFIID iid, void** out);
