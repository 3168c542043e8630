// WAVE in RIFF (little-endian) and RIFX (big-endian) form.
#include <cstdio>

#include "audioobject.h"
#include "audiolib/audiofile.h"

namespace audiolib {

namespace {

int64_t field(const std::vector<FieldValue>& v, int id) {
  for (const FieldValue& f : v)
    if (f.id == id) return f.number;
  return 0;
}

constexpr int kTagPcm = 1, kTagMpeg = 85, kTagAac = 384, kTagExtensible = 0xFFFE;

class RiffReader : public AudioReader {
 public:
  RiffReader(std::unique_ptr<PeekInStream> in, AudioDescriptor& d, bool little) : AudioReader(std::move(in)) {
    ChunkParser parser(in_.get(), kWaveLayout, little);
    const int first = parser.nextChunk(true);
    if (first != kRiff && first != kRifx) au_throw(3);
    if (ChunkParser::text(parser.readFields(first, kLeaveOpen), 5) != "WAVE") au_throw(3);
    parser.enterContainer();
    int tag = 0, channels = 0, bits = 0, bytes = 0;
    int64_t rate = 0, count = 0;
    bool haveFmt = false;
    d.type = kWavePcm;
    for (int index; (index = parser.nextChunk()) != kEndOfInput;) {
      if (index == kFmt) {
        const auto v = parser.readFields(kFmt, kLeaveOpen);
        tag = int(field(v, 1) & 0xffff);
        channels = int(field(v, 6));
        rate = field(v, 7);
        bits = int(field(v, 8));
        bytes = (bits + 7) / 8;
        haveFmt = true;
        if (audiofile_log_level > 1)
          fprintf(stderr,
                  "opened RIFF/X file:\nsampleRate = %ld\nnChannels  = %ld\navgbps     = %ld\n"
                  "blockAlign = %ld\nbitsPerSmp = %ld\ncbSize     = %ld\n",
                  long(rate), long(channels), long(field(v, 2)), long(field(v, 3)), long(bits),
                  long(field(v, 9)));
        if (tag == kTagExtensible) tag = extensibleTag(parser, int(field(v, 9)));
        if (tag == kTagMpeg) {
          const auto m = parser.readFields(kFmtMpeg, kClose);
          const int ids[5] = {10, 11, 12, 13, 14};
          for (int i = 0; i < 5; ++i) d.codecWords[i] = int32_t(field(m, ids[i]));
          d.type = kWaveMpeg;
          if (audiofile_log_level > 1)
            fprintf(stderr,
                    "special info for MPEG-DATA:\nID         = %ld\nflags      = %ld\nblockSize  = %ld\n"
                    "fr.per.bl. = %ld\ncodecdelay = %ld\n",
                    long(d.codecWords[0]), long(d.codecWords[1]), long(d.codecWords[2]),
                    long(d.codecWords[3]), long(d.codecWords[4]));
        }
      } else if (index == kFact) {
        const auto v = parser.readFields(kFact, kClose);
        if (tag == kTagMpeg) count = field(v, 4);
      } else if (index == kData) {
        if (!haveFmt) au_throw(3);  // samples of no known width
        if (tag == kTagPcm) count = bytes > 0 ? parser.chunk()->size() / bytes : 0;
        break;
      }
    }
    if (!haveFmt) au_throw(3);
    check_sample_format(bits, channels);
    setFormat(int(std::min<int64_t>(rate, INT32_MAX)), channels, bits, count);
    describe(d, d.type, little);
    unsignedBytes_ = bytes == 1;
    startSamples(little, d.scale, true);
  }

 private:
  // WAVE_FORMAT_EXTENSIBLE (ffmpeg writes it for more than 16 bits): the
  // sub-format's first two bytes are the plain tag.
  static int extensibleTag(ChunkParser& parser, int extensionSize) {
    if (extensionSize < 22) return kTagExtensible;
    uint8_t ext[22];
    if (parser.chunk()->read(ext, 22) != 22) au_throw(6);
    const int sub = int(ext[6] | ext[7] << 8);
    return sub == kTagPcm ? kTagPcm : kTagExtensible;
  }
};

class RiffWriter : public AudioWriter {
 public:
  RiffWriter(std::unique_ptr<ByteOutStream> out, const AudioDescriptor& d) : AudioWriter(std::move(out)) {
    check_sample_format(d.bits, d.channels);
    setFormat(d.rate, d.channels, d.bits, 0);
    type_ = d.type;
    chunks_ = std::make_unique<ChunkWriter>(out_.get(), kWaveLayout, true);
    chunks_->writeChunk(kRiff, {{5, 0, "WAVE"}}, kContainer);
    const int align = bytes_ * channels_;
    const int32_t* w = d.codecWords;
    if (type_ == kWavePcm) {
      chunks_->writeChunk(kFmt,
                          {{1, kTagPcm, nullptr}, {6, channels_, nullptr}, {7, rate_, nullptr},
                           {2, int64_t(rate_) * align, nullptr}, {3, align, nullptr}, {8, bits_, nullptr},
                           {9, 0, nullptr}},
                          kClose);
    } else if (type_ == kWaveMpeg) {
      chunks_->writeChunk(kFmt,
                          {{1, kTagMpeg, nullptr}, {6, channels_, nullptr}, {7, rate_, nullptr},
                           {2, d.bitrate / 8, nullptr}, {3, 1, nullptr}, {8, bits_, nullptr}, {9, 12, nullptr}},
                          kLeaveOpen);
      chunks_->writeChunk(kFmtMpeg,
                          {{10, w[0], nullptr}, {11, w[1], nullptr}, {12, w[2], nullptr}, {13, w[3], nullptr},
                           {14, w[4], nullptr}},
                          kClose);
    } else {
      chunks_->writeChunk(kFmt,
                          {{1, kTagAac, nullptr}, {6, channels_, nullptr}, {7, rate_, nullptr},
                           {2, d.bitrate / 8, nullptr}, {3, 1, nullptr}, {8, bits_, nullptr}, {9, 14, nullptr}},
                          kLeaveOpen);
      chunks_->writeChunk(kFmtAac,
                          {{10, w[0], nullptr}, {11, w[1], nullptr}, {15, w[2], nullptr}, {16, w[3], nullptr},
                           {17, w[4], nullptr}, {14, w[5], nullptr}},
                          kClose);
    }
    chunks_->writeChunk(kFact, {{4, 0, nullptr}}, kClose);
    chunks_->writeChunk(kData, {}, kLeaveOpen);
    unsignedBytes_ = bytes_ == 1;
    samples_ = std::make_unique<SampleOutStream>(out_.get(), true, d.scale);
  }

  void finish() override {
    const int64_t bytes = chunks_->openLength();
    chunks_->writeChunk(kClose);
    // "fact" counts sample frames; it means nothing for compressed data.
    const int64_t frames = type_ == kWavePcm && channels_ * bytes_ > 0 ? bytes / (channels_ * bytes_) : 0;
    chunks_->patchField(kFact, 4, frames);
    chunks_->writeChunk(kEndLevel);
  }

 private:
  int type_;
  std::unique_ptr<ChunkWriter> chunks_;
};

}  // namespace

std::unique_ptr<AudioObject> make_riff_reader(std::unique_ptr<PeekInStream> in, AudioDescriptor& d, bool little) {
  return std::make_unique<RiffReader>(std::move(in), d, little);
}

std::unique_ptr<AudioObject> make_riff_writer(std::unique_ptr<ByteOutStream> out, const AudioDescriptor& d) {
  return std::make_unique<RiffWriter>(std::move(out), d);
}

}  // namespace audiolib
