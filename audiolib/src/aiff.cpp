// AIFF and AIFC (big-endian; written always as uncompressed AIFC).
#include <cmath>

#include "audioobject.h"

namespace audiolib {

namespace {

constexpr uint32_t kAifcVersion1 = 2726318400u;

const FieldValue* find(const std::vector<FieldValue>& v, int id) {
  for (const FieldValue& f : v)
    if (f.id == id) return &f;
  return nullptr;
}

int64_t number(const std::vector<FieldValue>& v, int id) {
  const FieldValue* f = find(v, id);
  return f ? f->number : 0;
}

class AiffReader : public AudioReader {
 public:
  AiffReader(std::unique_ptr<PeekInStream> in, AudioDescriptor& d) : AudioReader(std::move(in)) {
    ChunkParser parser(in_.get(), kAiffLayout, false);
    if (parser.nextChunk(true) != kForm) au_throw(3);
    const std::string form = ChunkParser::text(parser.readFields(kForm, kLeaveOpen), 10);
    if (form != "AIFC" && form != "AIFF") au_throw(3);
    const bool aifc = form == "AIFC";
    parser.enterContainer();
    int channels = 0, bits = 0;
    int64_t frames = 0, rate = 0;
    bool haveComm = false;
    for (int index; (index = parser.nextChunk()) != kEndOfInput;) {
      if (index == kFver) {
        if (number(parser.readFields(kFver, kClose), 5) != kAifcVersion1) au_throw(3);
      } else if (index == kComm) {
        const auto v = parser.readFields(aifc ? kCommAifc : kComm, kClose);
        channels = int(number(v, 1));
        frames = number(v, 2);
        bits = int(number(v, 3));
        rate = number(v, 4);
        if (aifc) {
          const FieldValue* c = find(v, 8);
          if (!c || c->text != "NONE") au_throw(4);
        }
        haveComm = true;
      } else if (index == kSsnd) {
        const int64_t offset = number(parser.readFields(kSsnd, kLeaveOpen), 6);
        parser.chunk()->skip(offset);
        break;
      }
    }
    if (!haveComm) au_throw(3);
    check_sample_format(bits, channels);
    setFormat(int(rate), channels, bits, frames * channels);
    describe(d, aifc ? kAifc : kAiff, false);
    startSamples(false, d.scale, true);
  }
};

class AiffWriter : public AudioWriter {
 public:
  AiffWriter(std::unique_ptr<ByteOutStream> out, const AudioDescriptor& d) : AudioWriter(std::move(out)) {
    check_sample_format(d.bits, d.channels);
    setFormat(d.rate, d.channels, d.bits, 0);
    chunks_ = std::make_unique<ChunkWriter>(out_.get(), kAiffLayout, false);
    chunks_->writeChunk(kForm, {{10, 0, "AIFC"}}, kContainer);
    chunks_->writeChunk(kFver, {{5, kAifcVersion1, nullptr}}, kClose);
    chunks_->writeChunk(kCommAifc,
                        {{1, channels_, nullptr}, {2, 0, nullptr}, {3, bits_, nullptr}, {4, rate_, nullptr},
                         {8, 0, "NONE"}, {9, 0, "not compressed"}},
                        kClose);
    chunks_->writeChunk(kSsnd, {{6, 0, nullptr}, {7, 0, nullptr}}, kLeaveOpen);
    samples_ = std::make_unique<SampleOutStream>(out_.get(), false, d.scale);
  }

  void finish() override {
    const int64_t frameBytes = int64_t(bytes_) * channels_;
    const int64_t frames = frameBytes > 0 ? (chunks_->openLength() - 8) / frameBytes : 0;
    chunks_->writeChunk(kClose);
    chunks_->patchField(kCommAifc, 2, frames);
    chunks_->writeChunk(kEndLevel);
  }

 private:
  std::unique_ptr<ChunkWriter> chunks_;
};

}  // namespace

std::unique_ptr<AudioObject> make_aiff_reader(std::unique_ptr<PeekInStream> in, AudioDescriptor& d) {
  return std::make_unique<AiffReader>(std::move(in), d);
}

std::unique_ptr<AudioObject> make_aiff_writer(std::unique_ptr<ByteOutStream> out, const AudioDescriptor& d) {
  return std::make_unique<AiffWriter>(std::move(out), d);
}

}  // namespace audiolib
