#include <cmath>
#include <cstdlib>
#include <cstring>

#include "resamplelib/pcm_frame_buffer.h"

namespace {

// Time stamps are 32-bit and wrap; the one a short way ahead counts as later.
inline int32_t distance(uint32_t later, uint32_t earlier) { return int32_t(later - earlier); }
inline bool after(uint32_t a, uint32_t b) { return distance(a, b) > 0; }

inline uint32_t round_half_up(double v) { return uint32_t(int64_t(std::floor(v + 0.5))); }

}  // namespace

int CPcmFrameBuffer::Open(int bits, int sampleRate, int frameLength, int base, int ch) {
  if (bits <= 0 || bits % 8 || sampleRate <= 0 || frameLength <= 0 || ch < 1 || ch > 8 || base < 0 ||
      base > 0xffff)
    return CODEC_E_REFUSED;
  Close();
  bitsPerSample = bits;
  bytesPerSample = bits / 8;
  channels = uint8_t(ch);
  rate = uint32_t(sampleRate);
  timeBase = base == 0 ? rate : uint32_t(base);
  frameBytes = uint32_t(frameLength) * uint32_t(ch) * uint32_t(bytesPerSample);
  frameDuration = round_half_up(double(frameLength) * timeBase / rate);
  samplesPerUnit = rate / timeBase;
  unitsPerSample = float(double(timeBase) / rate);
  const uint64_t bytes = uint64_t(ch) * uint64_t(bytesPerSample) * rate * 5;
  if (bytes > 0x7fffffff || bytes < frameBytes) return CODEC_E_REFUSED;
  data = static_cast<uint8_t*>(std::malloc(size_t(bytes)));
  if (!data) return -1;
  capacity = uint32_t(bytes);
  readPos = writePos = available = 0;
  bufferedFrames = 0;
  resync = 1;
  expectedTime = leftoverTime = startTime = endTime = outputTime = 0;
  gapUnits = gapSamples = lastBlockBytes = 0;
  return CODEC_OK;
}

int CPcmFrameBuffer::Close() {
  std::free(data);
  data = nullptr;
  capacity = 0;
  readPos = writePos = available = 0;
  return CODEC_OK;
}

void CPcmFrameBuffer::Compact() {
  if (readPos == 0) return;
  std::memmove(data, data + readPos, available);
  readPos = 0;
  writePos = available;
}

int CPcmFrameBuffer::Push(const PcmBlock* block, double rateRatio) {
  if (!data) return CODEC_E_SETUP;
  if (!block->data && block->length) return CODEC_E_REFUSED;
  gapUnits = gapSamples = 0;
  lastBlockBytes = block->length;
  const double bytesPerSecond = double(rate) * channels * bytesPerSample;
  const uint32_t t0 = block->startTime;
  const uint32_t t1 = t0 + round_half_up(block->length / bytesPerSecond * timeBase);

  if (!resync && !after(t0, expectedTime) && !after(t1, expectedTime)) return CODEC_E_STALE_BLOCK;
  const bool jump = !resync && std::abs(double(distance(t0, expectedTime))) / timeBase > 1.0;
  const bool restart = resync || jump;
  // Silence for a short gap, counted at full width in the room check.
  uint64_t gapBytes = 0;
  uint32_t gap = 0;
  if (!restart && after(t0, expectedTime)) {
    gap = t0 - expectedTime;
    gapBytes = uint64_t(samplesPerUnit) * gap * channels * uint64_t(bytesPerSample);
  }
  const uint64_t kept = jump ? 0 : available;
  if (kept + gapBytes + block->length > capacity) return CODEC_E_BUFFER_FULL;

  int result = CODEC_OK;
  if (jump) {
    expectedTime = t0;
    leftoverTime = 0;
    readPos = writePos = available = 0;
    resync = 1;
    result = 2;
  }
  // Data goes after the unread part; move that to the front when the tail is
  // too short, so nothing is written past the end.
  if (writePos + gapBytes + block->length > capacity) Compact();
  if (gapBytes) {
    gapUnits = gap;
    gapSamples = samplesPerUnit * gap;
    std::memset(data + writePos, 0, size_t(gapBytes));
    writePos += uint32_t(gapBytes);
  }
  if (block->length) std::memcpy(data + writePos, block->data, block->length);
  writePos += block->length;
  available = writePos - readPos;

  if (resync) {
    startTime = t0 - leftoverTime;
    outputTime = uint32_t(int64_t(std::ceil(double(startTime) / rateRatio)));
  } else {
    startTime = endTime - leftoverTime;
  }
  endTime = startTime + round_half_up(available / bytesPerSecond * timeBase);
  resync = 0;
  expectedTime = t1;
  bufferedFrames = float(double(available) / frameBytes);
  return result;
}

const uint8_t* CPcmFrameBuffer::Pull(uint32_t bytes, bool anyRemainder) {
  if (bytes == 0 || !data) return nullptr;
  if (available >= bytes) {
    const uint8_t* at = data + readPos;
    readPos += bytes;
    available -= bytes;
    return at;
  }
  if (available > 0 && (anyRemainder || available < frameBytes)) {
    Compact();
    double whole;
    leftoverTime = uint32_t(std::modf(double(bufferedFrames), &whole) * frameDuration);
  } else if (available == 0) {
    readPos = writePos = 0;
    leftoverTime = 0;
  }
  return nullptr;
}

const uint8_t* CPcmFrameBuffer::PullFrames(int count) {
  if (count <= 0) return nullptr;
  return Pull(uint32_t(count) * frameBytes, false);
}

const uint8_t* CPcmFrameBuffer::PullSamples(int count, uint32_t* gotBytes) {
  *gotBytes = 0;
  if (count <= 0) return nullptr;
  const uint32_t bytes = uint32_t(count) * uint32_t(bytesPerSample);
  const uint8_t* at = Pull(bytes, true);
  if (at) *gotBytes = bytes;
  return at;
}

void CPcmFrameBuffer::GetOutputTime(uint32_t* start, uint32_t* end) { *start = *end = outputTime; }

uint32_t CPcmFrameBuffer::AdvanceOutputTime(uint32_t frames, uint32_t* end) {
  outputTime += frames * frameDuration;
  *end = outputTime;
  return frames * frameDuration;
}

int CPcmFrameBuffer::GetBufferedFrames() { return int(bufferedFrames); }

void CPcmFrameBuffer::GetGapInfo(EncoderStatus* status) {
  status->gapTime = gapUnits;
  status->reserved = 0;
  status->gapSamples = gapSamples;
  status->valuesInLastBlock = lastBlockBytes / 2;
}

void CPcmFrameBuffer::GetTimeInfo(EncoderStatus* status) {
  status->bufferedStart = startTime;
  status->bufferedEnd = endTime;
  status->leftoverTime = leftoverTime;
  status->framesBuffered = uint32_t(bufferedFrames);
  status->leftoverSamples = samplesPerUnit * leftoverTime;
}

CPcmFrameBuffer* CreatePcmBuffer(const AudioCodecConfig& config, int frameLength) {
  auto* buffer = new CPcmFrameBuffer;
  if (buffer->Open(int(config.bitsPerSample), int(config.inputSampleRate), frameLength,
                   int(config.timeBaseRate & 0xffff), int(config.codecChannels)) != 0) {
    buffer->Close();
    delete buffer;
    return nullptr;
  }
  return buffer;
}
