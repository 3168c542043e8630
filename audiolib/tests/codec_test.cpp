// The sample codec, the byte streams and the chunk engine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "chunk.h"
#include "xiostream.h"

#ifndef _WIN32
#include <unistd.h>
#endif

using namespace audiolib;

namespace {

// Byte streams over memory, for exact control of what arrives.
class MemIn : public ByteInStream {
 public:
  explicit MemIn(std::string bytes, int64_t piece = 1 << 30) : bytes_(std::move(bytes)), piece_(piece) {}
  int64_t skip(int64_t n) override { return read(nullptr, n); }
  int64_t read(void* buf, int64_t n) override {
    const int64_t k = std::min({n, int64_t(bytes_.size()) - pos_, piece_});
    if (buf && k > 0) std::memcpy(buf, bytes_.data() + pos_, size_t(k));
    pos_ += k;
    ++reads_;
    return k;
  }
  bool eof() override { return pos_ >= int64_t(bytes_.size()); }
  int reads_ = 0;

 private:
  std::string bytes_;
  int64_t piece_;
  int64_t pos_ = 0;
};

class MemOut : public ByteOutStream {
 public:
  explicit MemOut(bool seekable = true, int64_t limit = 1 << 30) : seekable_(seekable), limit_(limit) {}
  int64_t write(const void* buf, int64_t n) override {
    const int64_t k = std::min(n, limit_ - pos_);
    if (k <= 0) return 0;
    if (bytes.size() < size_t(pos_ + k)) bytes.resize(size_t(pos_ + k));
    std::memcpy(bytes.data() + pos_, buf, size_t(k));
    pos_ += k;
    return k;
  }
  bool seekable() override { return seekable_; }
  int64_t tell() override { return seekable_ ? pos_ : -1; }
  int64_t seek(int64_t p) override { return seekable_ ? (pos_ = p) : -1; }
  std::string bytes;

 private:
  bool seekable_;
  int64_t limit_;
  int64_t pos_ = 0;
};

uint32_t u32le(const std::string& s, size_t at) {
  return get_bytes(reinterpret_cast<const uint8_t*>(s.data()) + at, 4, true);
}

TEST(SampleCodec, FloatEncodingRoundsClipsAndCountsClips) {
  struct Case {
    float in;
    int bytes;
    uint32_t out;  // as written, big-endian order read back
    int clips;
  };
  const Case cases[] = {
      {32767.0f, 2, 0x7fff, 0},  {40000.0f, 2, 0x7fff, 1},  {-0.5f, 2, 0xffff, 0},
      {0.5f, 2, 0x0001, 0},      {-1.5f, 2, 0xfffe, 0},     {-1.2f, 2, 0xffff, 0},
      {-40000.0f, 2, 0x8000, 1}, {-32768.0f, 2, 0x8000, 0}, {-1.2f * 256, 1, 0xff, 0},
      {-0.7f * 256, 1, 0x00, 0},  // between -1 and -0.5 of a byte step: 0
      {1.0f, 3, 0x000100, 0},    {32768.0f, 3, 0x7fffff, 1}, {1e9f, 4, 0x7fffffff, 1},
  };
  for (const Case& c : cases) {
    MemOut out;
    SampleOutStream s(&out, false, 32768.0);
    ASSERT_EQ(s.write(&c.in, c.bytes, 1), 1);
    EXPECT_EQ(get_bytes(reinterpret_cast<const uint8_t*>(out.bytes.data()), c.bytes, false), c.out)
        << c.in << " in " << c.bytes << " bytes";
    EXPECT_EQ(s.clips(), c.clips) << c.in;
  }
}

TEST(SampleCodec, DecodesEveryWidthAndOrder) {
  // 24-bit little-endian bytes 18, 52, 86 (file order): the two top bytes.
  {
    MemIn in(std::string("\x12\x34\x56", 3));
    SampleInStream s(&in, true, 32768.0);
    int16_t v = 0;
    ASSERT_EQ(s.read(&v, 3, 1), 1);
    EXPECT_EQ(v, 86 * 256 + 52);
  }
  struct Case {
    std::string bytes;
    bool little;
    int width;
    int16_t asShort;
    float asFloat;  // scale 1.0
  };
  const Case cases[] = {
      {std::string("\x80", 1), false, 1, int16_t(-32768), -1.0f},
      {std::string("\x40", 1), true, 1, 16384, 0.5f},
      {std::string("\x00\x80", 2), true, 2, int16_t(-32768), -1.0f},
      {std::string("\x80\x00", 2), false, 2, int16_t(-32768), -1.0f},
      {std::string("\x00\x00\x40", 3), true, 3, 16384, 0.5f},
      {std::string("\x00\x00\x00\x40", 4), true, 4, 16384, 0.5f},
      {std::string("\xc0\x00\x00\x00", 4), false, 4, -16384, -0.5f},
  };
  for (const Case& c : cases) {
    MemIn a(c.bytes), b(c.bytes);
    SampleInStream sa(&a, c.little, 1.0), sb(&b, c.little, 1.0);
    int16_t s = 0;
    float f = 0;
    ASSERT_EQ(sa.read(&s, c.width, 1), 1);
    ASSERT_EQ(sb.read(&f, c.width, 1), 1);
    EXPECT_EQ(s, c.asShort) << c.width << (c.little ? " LE" : " BE");
    EXPECT_FLOAT_EQ(f, c.asFloat) << c.width;
  }
}

TEST(SampleCodec, ReadsInPassesAndOnlyWholeSamples) {
  // 5000 three-byte samples: passes of 10080 bytes, all delivered.
  std::string bytes(15000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 7);
  MemIn in(bytes);
  SampleInStream s(&in, true, 1.0);
  std::vector<int16_t> out(5000);
  EXPECT_EQ(s.read(out.data(), 3, 5000), 5000);
  EXPECT_EQ(in.reads_, 2);
  EXPECT_EQ(uint16_t(out[4999]), uint16_t((uint8_t(14999 * 7) << 8) | uint8_t(14998 * 7)));
  // The input ends inside the third sample: two come back.
  MemIn cut(std::string(8, '\x11'));
  SampleInStream sc(&cut, false, 1.0);
  EXPECT_EQ(sc.read(out.data(), 3, 4), 2);
  // A stream that delivers in odd pieces stops at the first short pass.
  MemIn trickle(std::string(64, '\x22'), 5);
  SampleInStream st(&trickle, false, 1.0);
  EXPECT_EQ(st.read(out.data(), 2, 32), 2);
}

TEST(SampleCodec, ShortWriteReportsWhatWentOut) {
  MemOut out(true, 7);
  SampleOutStream s(&out, true, 1.0);
  const int16_t v[4] = {1, 2, 3, 4};
  EXPECT_EQ(s.write(v, 2, 4), 3);
}

TEST(PeekInStream, DeliversPushedBackBytesFirst) {
  PeekInStream p(new MemIn("abcdefghijklmnop"));
  ASSERT_EQ(p.reserve(12), 0);
  char head[12];
  ASSERT_EQ(p.read(head, 12), 12);
  EXPECT_EQ(p.unread(head, 12), 0);
  EXPECT_EQ(p.unread("x", 1), -1);  // full
  EXPECT_EQ(p.reserve(4), -1);      // only while empty
  EXPECT_EQ(p.skip(3), 3);
  char rest[20] = {};
  EXPECT_EQ(p.read(rest, 20), 13);
  EXPECT_STREQ(rest, "defghijklmnop");
}

#ifndef _WIN32
TEST(FileInStream, SkipsOnAPipeByReadingAndKeepsPeekedBytes) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::string bytes;
  for (int i = 0; i < 100; ++i) bytes += char(i);
  ASSERT_EQ(write(fds[1], bytes.data(), bytes.size()), 100);
  close(fds[1]);
  FILE* f = fdopen(fds[0], "rb");
  {
    FileInStream in(f);
    EXPECT_EQ(in.remaining(), 0);  // a pipe cannot tell its size
    EXPECT_EQ(in.skip(45), 45);
    PeekInStream peek(&in, false);
    peek.reserve(4);
    uint8_t b[4];
    ASSERT_EQ(peek.read(b, 4), 4);
    peek.unread(b, 4);
    EXPECT_LT(peek.rewind(), 0);  // cannot go back: the peeked bytes stay
    ASSERT_EQ(peek.read(b, 1), 1);
    EXPECT_EQ(b[0], 45);
    EXPECT_EQ(peek.skip(1000), 54);  // stops at the end
  }
  fclose(f);
}
#endif

TEST(ChunkEngine, ExtendedFloatRoundTripsSampleRates) {
  for (int rate : {1, 8000, 11025, 22050, 44100, 48000, 96000, 192000, 2147483647}) {
    uint8_t b[10];
    double_to_extended(rate, b);
    EXPECT_EQ(extended_to_double(b), double(rate));
  }
  // 44100 as every AIFF file spells it.
  uint8_t b[10];
  double_to_extended(44100, b);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b), 10), std::string("\x40\x0e\xac\x44\0\0\0\0\0\0", 10));
}

TEST(ChunkEngine, WritesNestedChunksPadsOddOnesAndPatchesFields) {
  MemOut out;
  ChunkWriter w(&out, kWaveLayout, true);
  w.writeChunk(kRiff, {{5, 0, "WAVE"}}, kContainer);
  w.writeChunk(kFact, {{4, 7, nullptr}}, kClose);
  w.writeChunk(kData, {}, kLeaveOpen);
  ASSERT_EQ(out.write("abc", 3), 3);
  EXPECT_EQ(w.openLength(), 3);
  w.writeChunk(kClose);
  w.patchField(kFact, 4, 99);
  w.writeChunk(kEndLevel);
  const std::string& s = out.bytes;
  ASSERT_EQ(s.size(), 8u + 4 + 12 + 8 + 4);  // the pad byte is inside RIFF
  EXPECT_EQ(s.substr(0, 4), "RIFF");
  EXPECT_EQ(u32le(s, 4), s.size() - 8);
  EXPECT_EQ(s.substr(12, 4), "fact");
  EXPECT_EQ(u32le(s, 20), 99u);
  EXPECT_EQ(s.substr(24, 4), "data");
  EXPECT_EQ(u32le(s, 28), 3u);  // the length without the pad
  EXPECT_EQ(s[35], '\0');
}

TEST(ChunkEngine, MisuseIsAnErrorNotAnAbort) {
  MemOut out;
  ChunkWriter w(&out, kWaveLayout, true);
  EXPECT_THROW(w.writeChunk(kFact, {}, kEndLevel), auError);  // a list may not end a level
  EXPECT_THROW(w.writeChunk(-7), auError);
  EXPECT_THROW(w.writeChunk(kClose), auError);  // nothing open
  EXPECT_THROW(w.patchField(kData, 1, 0), auError);
  MemOut pipe(false);
  try {
    ChunkWriter np(&pipe, kWaveLayout, true);
    ADD_FAILURE() << "a chunk writer needs a seekable output";
  } catch (const auError& e) {
    EXPECT_EQ(e.code, 5);
  }
}

TEST(ChunkEngine, ParserSkipsUnknownAndOddChunksAndShortFmt) {
  std::string f("RIFF\0\0\0\0WAVE", 12);
  f += std::string("LIST\x03\0\0\0abc\0", 12);                         // odd: pad skipped too
  f += std::string("fmt \x10\0\0\0\x01\0\x02\0\x40\x1f\0\0\0\0\0\0\x04\0\x10\0", 24);  // 16 bytes, no cbSize
  f += std::string("data\x04\0\0\0\x01\x02\x03\x04", 12);
  MemIn in(f);
  ChunkParser p(&in, kWaveLayout, true);
  ASSERT_EQ(p.nextChunk(true), kRiff);  // a streamed RIFF size of 0 still has its form type
  EXPECT_EQ(ChunkParser::text(p.readFields(kRiff, kLeaveOpen), 5), "WAVE");
  p.enterContainer();
  ASSERT_EQ(p.nextChunk(), kFmt);
  const auto v = p.readFields(kFmt, kLeaveOpen);
  ASSERT_EQ(v.size(), 6u);  // cbSize is not there
  EXPECT_EQ(v[2].number, 8000);
  ASSERT_EQ(p.nextChunk(), kData);
  EXPECT_EQ(p.chunk()->size(), 4);
  EXPECT_EQ(p.nextChunk(), kEndOfInput);
  // A chunk header cut short is a read failure.
  MemIn cut(std::string("RIFF\0\0", 6));
  ChunkParser pc(&cut, kWaveLayout, true);
  try {
    pc.nextChunk();
    ADD_FAILURE();
  } catch (const auError& e) {
    EXPECT_EQ(e.code, 6);
  }
}

}  // namespace
