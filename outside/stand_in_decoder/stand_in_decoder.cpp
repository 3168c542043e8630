#include "stand_in_decoder.h"

#include <cmath>
#include <cstdarg>
#include <algorithm>
#include <cstring>

#include "aac_rates.h"

namespace {

constexpr uint32_t kFrameCapacity = 64 * 1024;
// Stored bytes of AMR frame types 0..8 (speech modes and SID); others carry none.
constexpr uint32_t kAmrBytes[16] = {12, 13, 15, 17, 19, 20, 26, 31, 5, 0, 0, 0, 0, 0, 0, 0};
// Tries of a source that has nothing now before the rest of a buffer is silence.
constexpr int kNotNowTries = 50;

}  // namespace

StandInDecoder::StandInDecoder(Kind k, const char* n, AudioFrameSource* s, std::FILE* f)
    : kind(k), name(n), source(s), log(f), frame(kFrameCapacity) {
  Log("%s: stand-in decoder library; it does not decode: each frame becomes a tone made from its bytes, "
      "for the frame's nominal duration", name);
}

StandInDecoder::~StandInDecoder() {
  if (log) std::fclose(log);
}

void StandInDecoder::Log(const char* format, ...) {
  if (!log) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(log, format, args);
  va_end(args);
  std::fputc('\n', log);
  std::fflush(log);
}

uint32_t StandInDecoder::Adler32(const uint8_t* data, size_t n) {
  uint32_t a = 1, b = 0;
  for (size_t i = 0; i < n; ++i) {
    a = (a + data[i]) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

void StandInDecoder::Destroy(uint32_t flags) {
  Log("destroy flags=%u", flags);
  if (flags & 1) delete this;
}

int32_t StandInDecoder::InitializeDecoder(AudioDecoderSettings* settings, uint32_t s, uint32_t e,
                                          AudioCodecConfig* config) {
  if (!settings) return -2;
  start = s;
  end = e;
  if (kind == kAac) {
    // AudioSpecificConfig: object type (5 bits), rate index (4), channels (4).
    if (!config || !config->data || config->length < 2) {
      Log("init refused: no AudioSpecificConfig");
      return -2;
    }
    const uint8_t* c = config->data;
    const uint32_t index = ((c[0] & 7u) << 1) | (c[1] >> 7);
    uint32_t channelConfig = (c[1] >> 3) & 15u;
    if (index == 15) {
      if (config->length < 5) return -2;
      rate = ((c[1] & 0x7Fu) << 17) | (uint32_t(c[2]) << 9) | (uint32_t(c[3]) << 1) | (c[4] >> 7);
      channelConfig = (c[4] >> 3) & 15u;
    } else if (index < sizeof(kAacSamplingRates) / sizeof(kAacSamplingRates[0])) {
      rate = kAacSamplingRates[index];
    } else {
      Log("init refused: reserved sampling frequency index %u", index);
      return -2;
    }
    channels = channelConfig == 1 ? 1 : 2;
    settings->sampleRate = rate;
  } else {
    rate = 8000;
    channels = 1;
    if (settings->sampleRate != 8000 || settings->channels != 1) {
      Log("init refused: %u Hz, %u channels", settings->sampleRate, settings->channels);
      return -2;
    }
  }
  Log("init rate=%u channels=%u units=%u start=%u end=%u", rate, channels, settings->unitsPerSecond, s, e);
  return 0;
}

int32_t StandInDecoder::GetOutputFormat(AudioOutputFormat* format) {
  if (!format) return -2;
  format->sampleRate = rate;
  format->channels = static_cast<uint8_t>(channels);
  format->bitsPerSample = 16;
  Log("format rate=%u channels=%u bits=16", rate, channels);
  return 0;
}

void StandInDecoder::Tone(uint32_t hash, uint32_t sampleFrames) {
  const double step = 2.0 * 3.14159265358979 * (200.0 + hash % 600) / rate;
  for (uint32_t i = 0; i < sampleFrames; ++i) {
    const int16_t v = static_cast<int16_t>(4000.0 * std::sin(phase));
    phase += step;
    for (uint32_t c = 0; c < channels; ++c) pcm.push_back(v);
  }
  if (phase > 1e6) phase = std::fmod(phase, 2.0 * 3.14159265358979);
}

bool StandInDecoder::TakeFrame(const uint8_t* f, uint32_t length, uint32_t timestamp, uint32_t status) {
  const uint32_t n = length > 0 ? f[0] : 0;
  if (n == 0 || length < 1 + n) {
    Log("frame buffer=%u status=%u t=%u len=%u malformed", buffers, status, timestamp, length);
    return false;
  }
  const uint8_t* payload = f + 1 + n;
  const uint32_t bytes = length - 1 - n;
  char head[3 * 10 + 1] = {};
  for (uint32_t i = 0; i < n && i < 10; ++i) std::snprintf(head + 2 * i, 3, "%02X", f[1 + i]);
  Log("frame buffer=%u status=%u t=%u len=%u n=%u head=%s hash=%08X", buffers, status, timestamp, length, n,
      kind == kAac ? "-" : head, Adler32(payload, bytes));
  // Each sample of the group: AMR frames are sized by their header byte;
  // EVRC and AAC frames share the group's bytes evenly for their tones.
  uint32_t at = 0;
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t size = kind == kAmr ? kAmrBytes[(f[1 + i] >> 3) & 15] : bytes / n;
    if (at + size > bytes) size = bytes - at;
    const uint32_t hash = Adler32(payload + at, size) ^ i;
    at += size;
    Tone(hash, kind == kAac ? 1024 : rate / 50);
  }
  framesThisBuffer += n;
  return true;
}

int32_t StandInDecoder::Decode(uint32_t position, uint32_t*, WaveBufferDesc* buffer) {
  if (!buffer || !buffer->data) return -2;
  uint8_t* out = buffer->data;
  const uint32_t capacity = buffer->capacity;
  uint32_t filled = 0;
  int notNow = 0;
  framesThisBuffer = 0;
  while (filled + 2 <= capacity) {
    if (pcmRead < pcm.size()) {
      const size_t n = std::min<size_t>(pcm.size() - pcmRead, (capacity - filled) / 2);
      std::memcpy(out + filled, pcm.data() + pcmRead, n * 2);
      pcmRead += n;
      filled += static_cast<uint32_t>(n * 2);
      continue;
    }
    pcm.clear();
    pcmRead = 0;
    if (ended) break;
    uint32_t ts = 0, length = 0;
    const uint32_t status = source->ReadFrame(frame.data(), kFrameCapacity, &ts, &length);
    if (status == kReadEnd) {
      Log("end of data buffer=%u", buffers);
      ended = true;
    } else if (status == kReadNotNow) {
      if (++notNow >= kNotNowTries) break;
    } else if (length > kFrameCapacity) {
      Log("frame buffer=%u length %u beyond the buffer", buffers, length);
    } else {
      TakeFrame(frame.data(), length, ts, status);
    }
  }
  if (filled == 0 && ended) return kDecodeEnd;
  if (filled < capacity) std::memset(out + filled, 0, capacity - filled);  // silence to the end
  msThisBuffer = rate ? filled / 2 / channels * 1000 / rate : 0;
  Log("decode buffer=%u position=%u bytes=%u audio=%u", buffers, position, capacity, filled);
  ++buffers;
  return kDecodeFilled;
}

void StandInDecoder::Reset(uint32_t s, uint32_t e) {
  start = s;
  end = e;
  pcm.clear();
  pcmRead = 0;
  ended = false;
  Log("reset start=%u end=%u", s, e);
}

void StandInDecoder::Stop() { Log("stop"); }

void StandInDecoder::SetSyncWindows(uint32_t first, uint32_t second) {
  Log("sync windows first=%u second=%u", first, second);
}

void StandInDecoder::GetStatistics(AudioDecoderStatistics* s) {
  if (!s) return;
  std::memset(s, 0, sizeof(*s));
  s->words[1] = framesThisBuffer;
  s->words[3] = msThisBuffer;
}
