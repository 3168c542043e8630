// The ".snd" format: big-endian ".snd", little-endian "dns." on reading.
#include <cstdio>

#include "audioobject.h"
#include "audiolib/audiofile.h"

namespace audiolib {

namespace {

constexpr uint32_t kUnknownSize = 0xffffffffu;

class SndReader : public AudioReader {
 public:
  SndReader(std::unique_ptr<PeekInStream> in, AudioDescriptor& d, bool little) : AudioReader(std::move(in)) {
    uint8_t head[24];
    const int64_t got = in_->read(head, 24);
    if (got >= 4 && std::string(reinterpret_cast<char*>(head), 4) != (little ? "dns." : ".snd")) au_throw(3);
    if (got < 24) au_throw(6);
    const uint32_t headerSize = get_bytes(head + 4, 4, little);
    const uint32_t dataSize = get_bytes(head + 8, 4, little);
    const uint32_t encoding = get_bytes(head + 12, 4, little);
    const uint32_t rate = get_bytes(head + 16, 4, little);
    const uint32_t channels = get_bytes(head + 20, 4, little);
    if (headerSize > 24) in_->skip(int64_t(headerSize) - 24);
    if (encoding < 2 || encoding > 5) au_throw(2);
    const int bits = 8 * int(encoding - 1);
    if (channels < 1 || channels > 0x7fffffffu) au_throw(3);
    // A size of 0 or ~0 was left by a writer that could not seek back: the
    // samples run to the end of the input.
    const bool known = dataSize != 0 && dataSize != kUnknownSize;
    setFormat(int(rate & 0x7fffffffu), int(channels), bits, known ? dataSize / (bits / 8) : 0);
    if (audiofile_log_level > 1)
      fprintf(stderr, "opened SND file:\nsampleRate = %5.0ld\nnChannels  = %ld\nbitsPerSmp = %ld\n", long(rate_),
              long(channels_), long(bits_));
    describe(d, kSnd, little);
    startSamples(little, d.scale, known);
  }
};

class SndWriter : public AudioWriter {
 public:
  SndWriter(std::unique_ptr<ByteOutStream> out, const AudioDescriptor& d) : AudioWriter(std::move(out)) {
    if (d.bits < 1 || d.bits > 32) au_throw(2);
    check_sample_format(d.bits, d.channels);
    setFormat(d.rate, d.channels, d.bits, 0);
    uint8_t head[28] = {'.', 's', 'n', 'd'};
    // The header size is known now; only the data size waits for the end
    // (and stays 0 on an output that cannot seek back).
    put_bytes(head + 4, 28, 4, false);
    put_bytes(head + 12, uint32_t(bytes_ + 1), 4, false);
    put_bytes(head + 16, uint32_t(rate_), 4, false);
    put_bytes(head + 20, uint32_t(channels_), 4, false);
    if (out_->write(head, 28) != 28) au_throw(7);
    samples_ = std::make_unique<SampleOutStream>(out_.get(), false, d.scale);
  }

  void finish() override {
    if (!out_->seekable()) return;
    const int64_t end = out_->tell();
    uint8_t sizes[8];
    put_bytes(sizes, 28, 4, false);
    put_bytes(sizes + 4, uint32_t(end - 28), 4, false);
    if (out_->seek(4) < 0 || out_->write(sizes, 8) != 8) au_throw(7);
    out_->seek(end);
  }
};

}  // namespace

std::unique_ptr<AudioObject> make_snd_reader(std::unique_ptr<PeekInStream> in, AudioDescriptor& d, bool little) {
  return std::make_unique<SndReader>(std::move(in), d, little);
}
std::unique_ptr<AudioObject> make_snd_writer(std::unique_ptr<ByteOutStream> out, const AudioDescriptor& d) {
  return std::make_unique<SndWriter>(std::move(out), d);
}
}  // namespace audiolib
