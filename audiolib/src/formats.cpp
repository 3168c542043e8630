// The readers' and writers' common paths, detection and the factories.
#include <algorithm>
#include <cstring>
#include <vector>

#include "audioobject.h"

namespace audiolib {

void check_sample_format(int bits, int channels) {
  if (bits < 1 || bits > 32) au_throw(2);
  if (channels < 1) au_throw(3);
}

void AudioObject::setFormat(int rate, int channels, int bits, int64_t count) {
  rate_ = rate;
  channels_ = channels;
  bits_ = bits;
  bytes_ = (bits + 7) / 8;
  count_ = count;
  frames_ = channels > 0 ? count / channels : 0;
}

void AudioReader::startSamples(bool littleEndian, double scale, bool bounded) {
  in_->mark();
  samples_ = std::make_unique<SampleInStream>(in_.get(), littleEndian, scale);
  bounded_ = bounded;
  left_ = count_;
}

void AudioReader::describe(AudioDescriptor& d, int type, bool littleEndian) const {
  d.type = type;
  d.bits = bits_;
  d.rate = rate_;
  d.channels = channels_;
  d.length = count_;
  d.littleEndian = littleEndian;
}

int64_t AudioReader::allowed(int64_t n) const { return bounded_ ? std::min(n, left_) : n; }

int64_t AudioReader::readFloat(float* dst, int64_t n) {
  const int64_t got = samples_->read(dst, bytes_, allowed(n));
  if (unsignedBytes_) {
    // The unsigned byte arrived at the top of a signed word: recentre it.
    const float s = float(samples_->scale());
    for (int64_t i = 0; i < got; ++i) dst[i] = dst[i] >= 0 ? dst[i] - s : s + dst[i];
  }
  left_ -= got;
  return got;
}

int64_t AudioReader::readShort(int16_t* dst, int64_t n) {
  const int64_t got = samples_->read(dst, bytes_, allowed(n));
  if (unsignedBytes_)
    for (int64_t i = 0; i < got; ++i) dst[i] = int16_t(uint16_t(dst[i]) ^ 0x8000u);
  left_ -= got;
  return got;
}

void AudioReader::restart() {
  in_->reset();
  left_ = count_;
}

int64_t AudioWriter::writeFloat(const float* src, int64_t n) {
  if (!unsignedBytes_) {
    const int64_t done = samples_->write(src, bytes_, n);
    written_ += done;
    return done;
  }
  // 8-bit WAVE goes through the 16-bit path (unsigned bytes).
  const double f = 32768.0 / samples_->scale();
  int16_t piece[1024];
  int64_t done = 0;
  while (done < n) {
    const int64_t k = std::min<int64_t>(1024, n - done);
    for (int64_t i = 0; i < k; ++i) {
      const double v = std::clamp(f * double(src[done + i]), -32768.0, 32767.0);
      piece[i] = int16_t(v);  // truncated
    }
    const int64_t w = writeShort(piece, k);
    done += w;
    if (w < k) break;
  }
  return done;
}

int64_t AudioWriter::writeShort(const int16_t* src, int64_t n) {
  int64_t done = 0;
  if (!unsignedBytes_) {
    done = samples_->write(src, bytes_, n);
  } else {
    int16_t piece[1024];
    while (done < n) {
      const int64_t k = std::min<int64_t>(1024, n - done);
      for (int64_t i = 0; i < k; ++i) piece[i] = int16_t(uint16_t(src[done + i]) ^ 0x8000u);
      const int64_t w = samples_->write(piece, bytes_, k);
      done += w;
      if (w < k) break;
    }
    written_ += done;
    return done;
  }
  written_ += done;
  return done;
}

std::unique_ptr<AudioObject> audiofile_create_reader(std::unique_ptr<ByteInStream> in, AudioDescriptor& d) {
  auto peek = std::make_unique<PeekInStream>(in.release());
  peek->reserve(12);
  if (d.type == kRawNative16) return make_raw_reader(std::move(peek), d);
  uint8_t head[12];
  if (peek->read(head, 12) < 12) au_throw(6);
  peek->unread(head, 12);
  auto at = [&](int offset, const char* tag) { return std::memcmp(head + offset, tag, 4) == 0; };
  if (at(0, "FORM") && (at(8, "AIFF") || at(8, "AIFC"))) return make_aiff_reader(std::move(peek), d);
  if (at(0, ".snd") || at(0, "dns.")) return make_snd_reader(std::move(peek), d, at(0, "dns."));
  if ((at(0, "RIFF") || at(0, "RIFX")) && at(8, "WAVE")) return make_riff_reader(std::move(peek), d, at(0, "RIFF"));
  d.type = kRawPcm;
  return make_raw_reader(std::move(peek), d);
}

std::unique_ptr<AudioObject> audiofile_create_writer(std::unique_ptr<ByteOutStream> out, const AudioDescriptor& d) {
  switch (d.type) {
    case kAiff:
    case kAifc:
      return make_aiff_writer(std::move(out), d);
    case kSnd:
      return make_snd_writer(std::move(out), d);
    case kRawPcm:
    case kRawNative16:
    case kRaw8:
      return make_raw_writer(std::move(out), d);
    case kWavePcm:
    case kWaveMpeg:
    case kWaveAac:
      return make_riff_writer(std::move(out), d);
    default:
      return nullptr;
  }
}

}  // namespace audiolib
