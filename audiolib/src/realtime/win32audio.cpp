// The live devices over the waveform-audio functions: capture into two
// alternating 32768-byte buffers kept queued by a capture thread, playback
// through a ring of four buffers. One capture device and one player per
// process.
#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <cstring>

#include "../audiofile_internal.h"

using namespace audiolib;

namespace {

constexpr DWORD kHalf = 32768;
constexpr int kFramesPerBlock = 1024;
constexpr DWORD kPoll = 20;  // ms between checks of buffer flags

WAVEFORMATEX pcm_format(int channels, int bits, int rate) {
  WAVEFORMATEX f{};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = WORD(channels);
  f.nSamplesPerSec = DWORD(rate);
  f.wBitsPerSample = WORD(bits);
  f.nBlockAlign = WORD(bits * channels / 8);
  f.nAvgBytesPerSec = DWORD(rate) * f.nBlockAlign;
  return f;
}

class WavePlayer {
 public:
  ~WavePlayer() { close(); }

  bool open(int channels, int bits, int rate, int framesPerBlock) {
    UINT device = WAVE_MAPPER;
    blocksPerBuffer_ = 4;
    if (channels >= 3) {
      // The first device that reports that many channels.
      const UINT n = waveOutGetNumDevs();
      device = UINT(-2);
      for (UINT i = 0; i < n; ++i) {
        WAVEOUTCAPSW caps{};
        if (waveOutGetDevCapsW(i, &caps, sizeof caps) == MMSYSERR_NOERROR && caps.wChannels >= channels) {
          device = i;
          break;
        }
      }
      if (device == UINT(-2)) return false;
      blocksPerBuffer_ = 10;
    }
    // A block is whole frames of every channel.
    block_ = framesPerBlock * channels;
    WAVEFORMATEX f = pcm_format(channels, bits, rate);
    if (waveOutOpen(&out_, device, &f, DWORD_PTR(&WavePlayer::callback), DWORD_PTR(this), CALLBACK_FUNCTION) !=
        MMSYSERR_NOERROR) {
      out_ = nullptr;
      return false;
    }
    const size_t bytes = size_t(blocksPerBuffer_) * size_t(block_) * 2;
    for (int i = 0; i < 4; ++i) {
      void* mem = VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
      if (!mem) {
        close();
        return false;
      }
      hdr_[i] = WAVEHDR{};
      hdr_[i].lpData = static_cast<LPSTR>(mem);
      hdr_[i].dwBufferLength = DWORD(bytes);
      hdr_[i].dwUser = DWORD_PTR(i);
      free_[i] = 1;
    }
    staging_ = static_cast<int16_t*>(calloc(size_t(block_), 2));
    if (!staging_) {
      close();
      return false;
    }
    return true;
  }

  // The next block of the current buffer; a buffer whose blocks are all
  // handed out is queued first and the next one waited for.
  int16_t* nextBlock() {
    if (!out_) return nullptr;
    if (handedOut_ == blocksPerBuffer_) {
      if (!queue(current_)) return nullptr;
      current_ = (current_ + 1) % 4;
      if (!waitFree(current_)) return nullptr;
      handedOut_ = 0;
    }
    int16_t* b = reinterpret_cast<int16_t*>(hdr_[current_].lpData) + size_t(handedOut_) * size_t(block_);
    ++handedOut_;
    return b;
  }

  bool writeShort(const int16_t* src, int64_t bytes) {
    return feed(bytes / 2, [&](int16_t* dst, int64_t from, int k) { std::memcpy(dst, src + from, size_t(k) * 2); });
  }

  // Plays what is staged (zero-padded to a block) and the current buffer,
  // then waits until every buffer has played.
  void drain() {
    if (!out_) return;
    if (staged_ > 0) {
      int16_t* b = nextBlock();
      if (b) {
        std::memcpy(b, staging_, size_t(staged_) * 2);
        std::memset(b + staged_, 0, size_t(block_ - staged_) * 2);
      }
      staged_ = 0;
    }
    if (handedOut_ > 0) {
      char* rest = hdr_[current_].lpData + size_t(handedOut_) * size_t(block_) * 2;
      std::memset(rest, 0, size_t(blocksPerBuffer_ - handedOut_) * size_t(block_) * 2);
      queue(current_);
      current_ = (current_ + 1) % 4;
      handedOut_ = 0;
    }
    for (int i = 0; i < 4; ++i) waitFree(i);
  }

  void close() {
    if (out_) waveOutReset(out_);
    for (int i = 0; i < 4; ++i) {
      if (out_ && (hdr_[i].dwFlags & WHDR_PREPARED)) waveOutUnprepareHeader(out_, &hdr_[i], sizeof(WAVEHDR));
      if (hdr_[i].lpData) VirtualFree(hdr_[i].lpData, 0, MEM_RELEASE);
      hdr_[i] = WAVEHDR{};
    }
    if (out_) waveOutClose(out_);
    out_ = nullptr;
    ::free(staging_);
    staging_ = nullptr;
  }

 private:
  template <typename Fill>
  bool feed(int64_t n, Fill fill) {
    int64_t from = 0;
    while (staged_ + (n - from) >= block_) {
      int16_t* b = nextBlock();
      if (!b) return false;
      std::memcpy(b, staging_, size_t(staged_) * 2);
      const int k = block_ - staged_;
      fill(b + staged_, from, k);
      from += k;
      staged_ = 0;
    }
    fill(staging_ + staged_, from, int(n - from));
    staged_ += int(n - from);
    return true;
  }

  bool queue(int i) {
    if (waveOutPrepareHeader(out_, &hdr_[i], sizeof(WAVEHDR)) != MMSYSERR_NOERROR) return false;
    free_[i] = 0;
    if (waveOutWrite(out_, &hdr_[i], sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
      free_[i] = 1;
      return false;
    }
    return true;
  }

  // Bounded: a buffer plays in well under a minute even at 8 kHz.
  bool waitFree(int i) {
    for (int t = 0; !free_[i]; t += int(kPoll)) {
      if (t > 60000) return false;
      Sleep(kPoll);
    }
    if (hdr_[i].dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(out_, &hdr_[i], sizeof(WAVEHDR));
    return true;
  }

  static void CALLBACK callback(HWAVEOUT, UINT msg, DWORD_PTR self, DWORD_PTR param, DWORD_PTR) {
    if (msg != WOM_DONE) return;
    auto* p = reinterpret_cast<WavePlayer*>(self);
    const auto* h = reinterpret_cast<const WAVEHDR*>(param);
    InterlockedExchange(&p->free_[h->dwUser & 3], 1);
  }

  HWAVEOUT out_ = nullptr;
  WAVEHDR hdr_[4] = {};
  volatile LONG free_[4] = {1, 1, 1, 1};
  int current_ = 0;
  int handedOut_ = 0;
  int block_ = 0;
  int blocksPerBuffer_ = 4;
  int16_t* staging_ = nullptr;
  int staged_ = 0;
};

// Process-wide capture and playback state.
struct WaveCapture {
  HWAVEIN in = nullptr;
  char* memory = nullptr;  // two halves of kHalf bytes
  WAVEHDR hdr[2] = {};
  volatile bool filled[2] = {false, false};
  int readIndex = 0;
  DWORD readOffset = 0;
  int lastQueued = 1;
  CRITICAL_SECTION lock;
  bool started = false;  // lock and event exist
  HANDLE stop = nullptr;
  HANDLE thread = nullptr;
  int channels = 1, rate = 8000;
  WavePlayer* player = nullptr;
} g;

bool is_filled(int i) {
  EnterCriticalSection(&g.lock);
  const bool f = g.filled[i];
  LeaveCriticalSection(&g.lock);
  return f;
}

int read_index() {
  EnterCriticalSection(&g.lock);
  const int r = g.readIndex;
  LeaveCriticalSection(&g.lock);
  return r;
}

// Waits (checking every 20 ms) until `done` holds; false when stopped.
template <typename Pred>
bool wait_until(Pred done) {
  while (!done())
    if (WaitForSingleObject(g.stop, kPoll) == WAIT_OBJECT_0) return false;
  return true;
}

void CALLBACK capture_callback(HWAVEIN, UINT msg, DWORD_PTR, DWORD_PTR param, DWORD_PTR) {
  if (msg != WIM_DATA) return;
  const auto* h = reinterpret_cast<const WAVEHDR*>(param);
  EnterCriticalSection(&g.lock);
  g.filled[h->dwUser & 1] = true;
  LeaveCriticalSection(&g.lock);
}

DWORD WINAPI capture_thread(LPVOID) {
  int index = 1 - g.lastQueued;
  for (bool first = true;; first = false) {
    if (!first && !wait_until([&] { return read_index() != index; })) return 0;
    g.hdr[index].dwBufferLength = kHalf;
    g.hdr[index].dwFlags = 0;
    if (waveInPrepareHeader(g.in, &g.hdr[index], sizeof(WAVEHDR)) != MMSYSERR_NOERROR) return 1;
    EnterCriticalSection(&g.lock);
    g.filled[index] = false;
    LeaveCriticalSection(&g.lock);
    if (waveInAddBuffer(g.in, &g.hdr[index], sizeof(WAVEHDR)) != MMSYSERR_NOERROR) return 1;
    if (!first) {
      const int previous = g.lastQueued;
      if (!wait_until([&] { return is_filled(previous); })) return 0;
      if (g.hdr[previous].dwFlags & WHDR_PREPARED) waveInUnprepareHeader(g.in, &g.hdr[previous], sizeof(WAVEHDR));
    }
    g.lastQueued = index;
    index = 1 - index;
  }
}

void stop_player() {
  if (g.player) {
    g.player->drain();
    g.player->close();
    delete g.player;
    g.player = nullptr;
  }
}

void stop_capture() {
  if (g.stop) SetEvent(g.stop);
  if (g.thread) {
    WaitForSingleObject(g.thread, 10000);
    CloseHandle(g.thread);
    g.thread = nullptr;
  }
  if (g.in) {
    waveInStop(g.in);
    waveInReset(g.in);
    for (WAVEHDR& h : g.hdr)
      if (h.dwFlags & WHDR_PREPARED) waveInUnprepareHeader(g.in, &h, sizeof(WAVEHDR));
    waveInClose(g.in);
    g.in = nullptr;
  }
  if (g.memory) {
    VirtualFree(g.memory, 0, MEM_RELEASE);
    g.memory = nullptr;
  }
  if (g.started) {
    CloseHandle(g.stop);
    g.stop = nullptr;
    DeleteCriticalSection(&g.lock);
    g.started = false;
  }
}

bool start_live(int channels, int bits, int rate, bool capture, bool playback) {
  if (playback) {
    if (g.player) return false;
    g.player = new WavePlayer;
    if (!g.player->open(channels, bits, rate, kFramesPerBlock)) {
      delete g.player;
      g.player = nullptr;
      return false;
    }
  }
  if (!capture) return true;
  if (g.in || g.started) return false;  // one capture device per process
  WAVEINCAPSW caps{};
  if (waveInGetDevCapsW(UINT_PTR(WAVE_MAPPER), &caps, sizeof caps) != MMSYSERR_NOERROR || caps.wChannels < channels)
    return false;
  InitializeCriticalSection(&g.lock);
  g.stop = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  g.started = true;
  WAVEFORMATEX f = pcm_format(channels, bits, rate);
  if (waveInOpen(&g.in, WAVE_MAPPER, &f, DWORD_PTR(&capture_callback), 0, CALLBACK_FUNCTION) != MMSYSERR_NOERROR) {
    g.in = nullptr;
    stop_capture();
    return false;
  }
  g.memory = static_cast<char*>(VirtualAlloc(nullptr, 2 * kHalf, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (!g.memory) {
    stop_capture();
    return false;
  }
  for (int i = 0; i < 2; ++i) {
    g.hdr[i] = WAVEHDR{};
    g.hdr[i].lpData = g.memory + size_t(i) * kHalf;
    g.hdr[i].dwBufferLength = kHalf;
    g.hdr[i].dwUser = DWORD_PTR(i);
    g.filled[i] = false;
  }
  g.lastQueued = 1;
  g.readIndex = 0;
  g.readOffset = 0;
  g.channels = channels;
  g.rate = rate;
  waveInStart(g.in);
  g.thread = CreateThread(nullptr, 0, capture_thread, nullptr, 0, nullptr);
  if (!g.thread) {
    stop_capture();
    return false;
  }
  return true;
}

// Blocks until `bytes` captured bytes have been copied; requests of any size
// are served a buffer at a time.
int64_t capture_read(char* dst, int64_t bytes) {
  int64_t done = 0;
  if (!g.memory) return 0;
  while (done < bytes) {
    while (done < bytes && is_filled(g.readIndex)) {
      const DWORD k = DWORD(std::min<int64_t>(bytes - done, kHalf - g.readOffset));
      std::memcpy(dst + done, g.hdr[g.readIndex].lpData + g.readOffset, k);
      done += k;
      g.readOffset += k;
      if (g.readOffset == kHalf) {
        EnterCriticalSection(&g.lock);
        g.readIndex = 1 - g.readIndex;
        LeaveCriticalSection(&g.lock);
        g.readOffset = 0;
      }
    }
    if (done < bytes) {
      if (!g.thread || WaitForSingleObject(g.thread, 0) == WAIT_OBJECT_0) break;  // capture ended
      const int64_t missing = bytes - done;
      Sleep(DWORD(std::max<int64_t>(1, missing * 1000 / (int64_t(g.channels) * g.rate * 2))));
    }
  }
  return done;
}

class CaptureInStream : public ByteInStream {
 public:
  int64_t skip(int64_t) override { return -1; }
  int64_t read(void* buffer, int64_t n) override { return capture_read(static_cast<char*>(buffer), n); }
  bool eof() override { return true; }
};

class PlaybackOutStream : public ByteOutStream {
 public:
  int64_t write(const void* buffer, int64_t n) override {
    return g.player && g.player->writeShort(static_cast<const int16_t*>(buffer), n) ? n : 0;
  }
  bool seekable() override { return false; }
  int64_t tell() override { return -1; }
  int64_t seek(int64_t) override { return -1; }
};

// The headerless 16-bit little-endian stream both directions use.
AudioDescriptor live_descriptor(const AudioFileFormat* format, double scale) {
  AudioDescriptor d;
  d.type = kRawNative16;
  d.bits = 16;
  d.rate = format->sampleRate;
  d.channels = format->channels;
  d.littleEndian = true;
  d.scale = scale;
  return d;
}

}  // namespace

int audiofile_open_capture(AudioFileHandle* h, unsigned mode, AudioFileFormat* format) {
  if (mode != AUDIOFILE_READ) return 4;
  if (format->bitsPerSample != 16 || format->channels < 1 || format->sampleRate < 1) return 18;
  AudioDescriptor d = live_descriptor(format, h->format.scale);
  const int32_t selector = format->codecWords[2];
  const int source = selector == 1 ? 2 : selector == 2 ? 3 : selector == 4 ? 1 : 3;
  if (!start_live(d.channels, 16, d.rate, source != 0, false)) return 18;
  h->live = kLiveCapture;
  try {
    h->object = audiofile_create_reader(std::make_unique<CaptureInStream>(), d);
  } catch (const auError& e) {
    return open_failure_code(e, false);
  }
  h->format.valid = 1;
  h->format.bitsPerSample = 16;
  h->format.sampleRate = d.rate;
  h->format.channels = d.channels;
  h->format.littleEndian = 1;
  h->format.length = 0;
  return 0;
}

int audiofile_open_playback(AudioFileHandle* h, unsigned mode, const AudioFileFormat* format) {
  if (mode != AUDIOFILE_WRITE) return 4;
  if (!format->valid) return 5;
  if (format->bitsPerSample != 16 || format->channels < 1 || format->sampleRate < 1) return 6;
  AudioDescriptor d = live_descriptor(format, format->scale);
  try {
    h->object = audiofile_create_writer(std::make_unique<PlaybackOutStream>(), d);
  } catch (const auError& e) {
    return open_failure_code(e, true);
  }
  if (!start_live(d.channels, 16, d.rate, false, true)) return 6;
  h->live = kLivePlayback;
  return 0;
}

// A handle stops only its own direction: a player and a capture may run at
// once in one process.
void audiofile_live_stop(int which) {
  if (which & kLiveCapture) stop_capture();
  if (which & kLivePlayback) stop_player();
}
