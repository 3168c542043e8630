// Headerless PCM.
#include "audioobject.h"

namespace audiolib {

namespace {

class RawReader : public AudioReader {
 public:
  RawReader(std::unique_ptr<PeekInStream> in, AudioDescriptor& d) : AudioReader(std::move(in)) {
    check_sample_format(d.bits, d.channels);
    in_->rewind();
    const int64_t size = in_->remaining();
    const int bytes = (d.bits + 7) / 8;
    setFormat(d.rate, d.channels, d.bits, size < 0 ? INT32_MAX : size / bytes);
    d.length = count_;
    startSamples(d.littleEndian, d.scale, false);
  }
};

class RawWriter : public AudioWriter {
 public:
  RawWriter(std::unique_ptr<ByteOutStream> out, const AudioDescriptor& d) : AudioWriter(std::move(out)) {
    check_sample_format(d.bits, d.channels);
    setFormat(d.rate, d.channels, d.bits, 0);
    native_ = d.type == kRawNative16;
    samples_ = std::make_unique<SampleOutStream>(out_.get(), d.littleEndian, d.scale);
  }

  int64_t writeShort(const int16_t* src, int64_t n) override {
    if (!native_) return AudioWriter::writeShort(src, n);
    const int64_t took = out_->write(src, n * 2);
    return took < 0 ? 0 : took / 2;
  }

 private:
  bool native_;
};

}  // namespace

std::unique_ptr<AudioObject> make_raw_reader(std::unique_ptr<PeekInStream> in, AudioDescriptor& d) {
  return std::make_unique<RawReader>(std::move(in), d);
}
std::unique_ptr<AudioObject> make_raw_writer(std::unique_ptr<ByteOutStream> out, const AudioDescriptor& d) {
  return std::make_unique<RawWriter>(std::move(out), d);
}

}  // namespace audiolib
