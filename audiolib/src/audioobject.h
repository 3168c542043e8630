// The readers and writers of the audio file library and their common base.
// Counts are samples over all channels (interleaved).
#pragma once

#include <cstdint>
#include <memory>

#include "chunk.h"
#include "xiostream.h"

namespace audiolib {

// Internal reader and writer types (the first word of a descriptor).
enum AudioKind {
  kAiff = 0, kAifc = 1, kWavePcm = 2, kSnd = 3, kRawPcm = 4, kWaveMpeg = 5, kWaveAac = 6,
  kRawNative16 = 7,  // writing: live playback; reading: raw without detection (capture)
  kRaw8 = 8,
};

// The format record as the readers and writers see it: the first word is
// the internal type instead of the valid flag.
struct AudioDescriptor {
  int type = kRawPcm;
  int bits = 16;
  int rate = 44100;
  int channels = 2;
  int64_t length = 0;
  bool littleEndian = false;
  double scale = 1.0;
  int bitrate = 0;
  int32_t codecWords[7] = {};
};

class AudioObject {
 public:
  virtual ~AudioObject() = default;
  // Completes a written file; called once before destruction (may throw).
  virtual void finish() {}
  virtual int64_t readFloat(float*, int64_t) { return 0; }
  virtual int64_t readShort(int16_t*, int64_t) { return 0; }
  virtual int64_t writeFloat(const float*, int64_t) { return 0; }
  virtual int64_t writeShort(const int16_t*, int64_t) { return 0; }
  virtual int reserved() { return 0; }
  int sampleRate() const { return rate_; }
  int channels() const { return channels_; }
  int bitsPerSample() const { return bits_; }
  int bytesPerSample() const { return bytes_; }
  int64_t sampleCount() const { return count_; }
  int64_t frameCount() const { return frames_; }
  virtual void restart() {}

 protected:
  void setFormat(int rate, int channels, int bits, int64_t count);
  int rate_ = 0, channels_ = 0, bits_ = 0, bytes_ = 0;
  int64_t count_ = 0, frames_ = 0;
};

// A reader over a look-ahead stream it owns. Reads stop after the sample
// count when the format bounds it (a trailing chunk is not sound).
class AudioReader : public AudioObject {
 public:
  int64_t readFloat(float* dst, int64_t n) override;
  int64_t readShort(int16_t* dst, int64_t n) override;
  void restart() override;

 protected:
  AudioReader(std::unique_ptr<PeekInStream> in) : in_(std::move(in)) {}
  // Marks the start of the samples and sets up the sample decoder.
  void startSamples(bool littleEndian, double scale, bool bounded);
  // Hands the format found back through the descriptor.
  void describe(AudioDescriptor& d, int type, bool littleEndian) const;
  int64_t allowed(int64_t n) const;
  std::unique_ptr<PeekInStream> in_;
  std::unique_ptr<SampleInStream> samples_;
  bool bounded_ = true;
  bool unsignedBytes_ = false;  // 8-bit WAVE
  int64_t left_ = 0;
};

class AudioWriter : public AudioObject {
 public:
  int64_t writeFloat(const float* src, int64_t n) override;
  int64_t writeShort(const int16_t* src, int64_t n) override;
  int32_t clips() const { return samples_ ? samples_->clips() : 0; }

 protected:
  AudioWriter(std::unique_ptr<ByteOutStream> out) : out_(std::move(out)) {}
  std::unique_ptr<ByteOutStream> out_;
  std::unique_ptr<SampleOutStream> samples_;
  bool unsignedBytes_ = false;
  int64_t written_ = 0;  // samples
};

// Detects the format from the first 12 bytes (unless the descriptor's type
// is kRawNative16) and builds its reader, which owns `in`. The descriptor
// receives the type, bits, rate, channels, length and byte order found.
std::unique_ptr<AudioObject> audiofile_create_reader(std::unique_ptr<ByteInStream> in, AudioDescriptor& d);
// Builds the writer of d.type over `out` (owned); null for an unknown type.
std::unique_ptr<AudioObject> audiofile_create_writer(std::unique_ptr<ByteOutStream> out, const AudioDescriptor& d);

std::unique_ptr<AudioObject> make_riff_reader(std::unique_ptr<PeekInStream> in, AudioDescriptor& d, bool little);
std::unique_ptr<AudioObject> make_aiff_reader(std::unique_ptr<PeekInStream> in, AudioDescriptor& d);
std::unique_ptr<AudioObject> make_snd_reader(std::unique_ptr<PeekInStream> in, AudioDescriptor& d, bool little);
std::unique_ptr<AudioObject> make_raw_reader(std::unique_ptr<PeekInStream> in, AudioDescriptor& d);
std::unique_ptr<AudioObject> make_riff_writer(std::unique_ptr<ByteOutStream> out, const AudioDescriptor& d);
std::unique_ptr<AudioObject> make_aiff_writer(std::unique_ptr<ByteOutStream> out, const AudioDescriptor& d);
std::unique_ptr<AudioObject> make_snd_writer(std::unique_ptr<ByteOutStream> out, const AudioDescriptor& d);
std::unique_ptr<AudioObject> make_raw_writer(std::unique_ptr<ByteOutStream> out, const AudioDescriptor& d);

// Checks a header's numbers before any sample is read: auError 2 for a
// width outside 1..32 bits, 3 for no channels.
void check_sample_format(int bits, int channels);

}  // namespace audiolib
