#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "fixture.h"
#include "reader/mp4_error.h"
#include "reader/mp4_file.h"

using namespace reader;
using fixture::Atom;
using fixture::Bytes;
using fixture::Full;
using fixture::Knobs;

namespace {

struct Opened {
  fixture::TempFile file;
  std::unique_ptr<Mp4File> mp4;
  explicit Opened(const Bytes& b) : file(b.b) {
    SharedWideString* path = file.Wide();
    mp4.reset(Mp4File::OpenFile(path));
    path->Release();
  }
};

std::u16string Text(SharedWideString* s) {
  std::u16string t(s->view());
  s->Release();
  return t;
}

constexpr uint32_t kAudio = 1, kVideo = 2;

}  // namespace

TEST(Mp4FileError, NamesFollowTheCodes) {
  EXPECT_STREQ(MP4FileErrorName(DEFAULT_ERROR), "DEFAULT_ERROR");
  EXPECT_STREQ(MP4FileErrorName(0), "EVERYTHING_FINE");
  EXPECT_STREQ(MP4FileErrorName(READ_ESD_ATOM_FAILED), "READ_ESD_ATOM_FAILED");
  EXPECT_STREQ(MP4FileErrorName(85), "TRACK_VERSION_NOT_SUPPORTED");
  EXPECT_STREQ(MP4FileErrorName(86), "UNKNOWN_ERROR");
  EXPECT_STREQ(MP4FileErrorName(-2), "UNKNOWN_ERROR");
}

TEST(DescriptorSizeField, LengthByPayload) {
  const struct {
    uint64_t n;
    uint32_t len;
  } cases[] = {{126, 1}, {127, 2}, {16381, 2}, {16382, 3}, {0x1FFFFC, 3}, {0x1FFFFD, 4}, {0xFFFFFFFB, 4}, {0xFFFFFFFC, 0}};
  for (auto c : cases) EXPECT_EQ(DescriptorSizeFieldLength(c.n), c.len) << c.n;
}

TEST(SharedWideStringTest, CountsReferences) {
  SharedWideString* s = SharedWideString::Create(u"abc");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->length(), 3u);
  EXPECT_EQ(s->AddRef(), s);
  EXPECT_EQ(s->references(), 2);
  s->Release();
  EXPECT_EQ(s->references(), 1);
  EXPECT_EQ(s->view(), u"abc");
  s->Release();
}

TEST(Mp4FileTest, OpensTheMakersLayout) {
  Opened o(fixture::Build());
  ASSERT_NE(o.mp4, nullptr);
  Mp4File& f = *o.mp4;
  ASSERT_TRUE(f.ok()) << MP4FileErrorName(f.error());
  EXPECT_TRUE(Mp4File::LastOpenHadKrmm());
  EXPECT_EQ(f.GetContentVersion(), 0x0300);
  EXPECT_EQ(f.GetTrackCount(), 2u);
  uint32_t ids[4] = {};
  EXPECT_EQ(f.GetTrackIds(ids, 4), 2u);
  EXPECT_EQ(ids[0], kAudio);
  EXPECT_EQ(ids[1], kVideo);
  EXPECT_EQ(f.GetFileKind(), 3u);
  EXPECT_EQ(f.GetFileValue(), 0);
  EXPECT_EQ(f.GetDuration(), 1000u);
  EXPECT_EQ(f.GetMovieTimescale(), 1000);
  EXPECT_EQ(Text(f.GetKrmmText1()), u"Content V3.0");
  EXPECT_EQ(Text(f.GetKrmmText2()), u"Title");
  EXPECT_EQ(Text(f.GetKrmmText4()), u"");
  EXPECT_EQ(Text(f.GetKrmmText5()), u"Description");
  EXPECT_EQ(Text(f.GetKrmmText6Again()), u"Rating");
  EXPECT_EQ(Text(f.GetTrackCodecName(kAudio)), u"AAC");
  EXPECT_EQ(Text(f.GetTrackCodecName(kVideo)), u"MP4V-ES");
  EXPECT_EQ(Text(f.GetTrackCodecName(99)), u"");
  EXPECT_EQ(f.GetObjectTypeIndication(kVideo), 0x20);
  EXPECT_EQ(f.GetTrackHandlerType(kVideo), int64_t(FourCC("vide")));
  EXPECT_EQ(f.GetTrackHandlerType(99), -1);
  EXPECT_EQ(f.GetMediaTimescale(kAudio), 8000);
  EXPECT_EQ(f.GetMediaTimescale(99), -1);
  EXPECT_EQ(f.GetDecoderSpecificInfoSize(kAudio), 2u);
  ASSERT_NE(f.GetDecoderSpecificInfo(kAudio), nullptr);
  EXPECT_EQ(f.GetDecoderSpecificInfo(kAudio)[0], 0x15);
  EXPECT_EQ(f.GetTrackBitrate(kVideo), 48000u);
  EXPECT_EQ(f.GetMaxSampleSize(kVideo), 8000u);
  EXPECT_EQ(f.GetTrackContentVersion(kVideo), 0x0300);
  EXPECT_FLOAT_EQ(f.GetTrackFrameRate(kVideo), 29.97f);
  EXPECT_EQ(f.GetTrackIFrameInterval(kVideo), 10);
  EXPECT_EQ(f.GetTrackWmfmByte1(kVideo), 0x44);
  EXPECT_EQ(f.GetTrackWmfmByte4(kVideo), 0x11);
  EXPECT_EQ(f.GetTrackWmfmByte1(kAudio), -1);
  EXPECT_EQ(f.GetTrackWmfmByte5(kVideo), 1);
  EXPECT_EQ(f.GetVideoInfoValue1(kVideo), 5u);
  EXPECT_EQ(f.GetVideoInfoValue2(kVideo), 0x1D61u);
  EXPECT_EQ(f.GetDownloadFlag1(), 1);
  EXPECT_EQ(f.GetDownloadFlag2(), 1);
  EXPECT_EQ(f.GetDownloadValue(), 7u);
  EXPECT_EQ(f.GetRandomAccessFlag(), 1);
  EXPECT_EQ(f.GetRequirementFlag1(), 0);
  EXPECT_EQ(f.GetBrandValue(), FourCC("mp42"));
  EXPECT_EQ(f.GetBrandWord1(), 1);
  EXPECT_EQ(f.GetBrandWord2(), 2);
  EXPECT_EQ(f.GetIodValue1(), 1u);
  EXPECT_EQ(f.GetIodValue2(), 2u);
  EXPECT_EQ(f.GetTableEntry(kVideo, 1), 4);
  EXPECT_EQ(f.GetTableEntry(kVideo, 2), -1);
  EXPECT_EQ(f.GetSampleEntryCount(kAudio), 1);
  EXPECT_EQ(f.GetTrackValue60(kAudio), fixture::kAudioSamples);
}

TEST(Mp4FileTest, DefaultsWithoutMakerAtoms) {
  Knobs k;
  k.krmm = false;
  k.cver = 0;
  Opened o(fixture::Build(k));
  ASSERT_TRUE(o.mp4 && o.mp4->ok()) << MP4FileErrorName(o.mp4->error());
  EXPECT_FALSE(Mp4File::LastOpenHadKrmm());
  EXPECT_EQ(Text(o.mp4->GetKrmmText2()), u"");
  EXPECT_EQ(o.mp4->GetContentVersion(), 0);
}

// Each documented open failure from one small change to a valid file.
TEST(Mp4FileTest, OpenFailuresGiveTheirCodes) {
  auto with = [](auto change) {
    Knobs k;
    change(k);
    return fixture::Build(k);
  };
  auto trailer = [](const char* type, uint32_t size) {
    Bytes b;
    b.u32(size).fourcc(type).zeros(8);
    return b;
  };
  const struct {
    const char* name;
    Bytes file;
    int32_t code;
  } cases[] = {
      {"free past the end", with([&](Knobs& k) { k.trailer = trailer("free", 100); }), READ_FAILED},
      {"udta past the end", with([&](Knobs& k) { k.trailer = trailer("udta", 100); }), READ_USER_DATA_ATOM_FAILED},
      {"mdat past the end", with([&](Knobs& k) { k.trailer = trailer("mdat", 100); }), READ_MEDIA_DATA_ATOM_FAILED},
      {"moov past the end", with([&](Knobs& k) {
         k.moovCount = 0;
         k.trailer = trailer("moov", 100);
       }),
       READ_MOVIE_ATOM_FAILED},
      {"second moov past the end", with([&](Knobs& k) { k.trailer = trailer("moov", 100); }), DUPLICATE_MOVIE_ATOMS},
      {"ftyp past the end", with([&](Knobs& k) { k.trailer = trailer("ftyp", 100); }), READ_FILE_TYPE_ATOM_FAILED},
      {"uuid past the end", with([&](Knobs& k) { k.trailer = trailer("uuid", 100); }), READ_UUID_ATOM_FAILED},
      {"atom size 0", with([&](Knobs& k) { k.trailer = trailer("free", 0); }), ZERO_OR_NEGATIVE_ATOM_SIZE},
      {"unknown atom before the end",
       with([&](Knobs& k) { k.trailer = trailer("wide", 16).add(trailer("free", 16)); }), READ_UNKNOWN_ATOM},
      {"two moov", with([](Knobs& k) { k.moovCount = 2; }), DUPLICATE_MOVIE_ATOMS},
      {"no moov", with([](Knobs& k) { k.moovCount = 0; }), NO_MOVIE_ATOM_PRESENT},
      {"no mdat", with([](Knobs& k) { k.mdat = false; }), NO_MEDIA_TRACKS_IN_FILE},
      {"krmm without cver", with([](Knobs& k) { k.cver = 0; }), READ_CONTENT_VERSION_FAILED},
      {"cver 2.x", with([](Knobs& k) { k.cver = 0x0201; }), FILE_VERSION_NOT_SUPPORTED},
      {"dref flags 0", with([](Knobs& k) { k.drefFlags = 0; }), MEDIA_DATA_NOT_SELF_CONTAINED},
      {"short vinf", with([](Knobs& k) {
         k.vinfBody = 1;
         k.krmm = false;
       }),
       READ_VIDEO_INFORMATION_ATOM_FAILED},
      // Maker content checks each track's user data first.
      {"short vinf in maker content", with([](Knobs& k) { k.vinfBody = 1; }), READ_USER_DATA_ATOM_FAILED},
      {"samples per chunk 0", with([](Knobs& k) { k.samplesPerChunk = 0; }), READ_SAMPLE_TO_CHUNK_ATOM_FAILED},
      {"media timescale 0", with([](Knobs& k) { k.mdhdTimescale = 0; }), READ_MEDIA_HEADER_ATOM_FAILED},
      {"movie timescale 0", with([](Knobs& k) { k.mvhdTimescale = 0; }), READ_MOVIE_HEADER_ATOM_FAILED},
      {"two mvhd", with([](Knobs& k) { k.secondMvhd = true; }), DUPLICATE_MOVIE_HEADERS},
      {"no mvhd", with([](Knobs& k) { k.noMvhd = true; }), NO_MOVIE_HEADER_ATOM_PRESENT},
      {"stts count beyond the atom", with([](Knobs& k) { k.sttsCount = 0x20000000; }),
       READ_TIME_TO_SAMPLE_ATOM_FAILED},
      {"decoder info longer than its container", with([](Knobs& k) { k.dsiLengthBoost = 40; }),
       READ_DECODER_SPECIFIC_INFO_FAILED},
      {"krmi of a hint track", with([](Knobs& k) { k.krmiAudioKind = FourCC("hint"); }),
       READ_TRACK_INFO_ATOM_FAILED},
  };
  for (const auto& c : cases) {
    Opened o(c.file);
    ASSERT_NE(o.mp4, nullptr) << c.name;
    EXPECT_FALSE(o.mp4->ok()) << c.name;
    EXPECT_EQ(o.mp4->error(), c.code) << c.name << ": " << MP4FileErrorName(o.mp4->error());
  }
}

TEST(Mp4FileTest, AtomReachingExactlyTheEndIsAccepted) {
  Knobs k;
  k.trailer = Atom("free", Bytes().zeros(8));
  Opened o(fixture::Build(k));
  EXPECT_TRUE(o.mp4->ok()) << MP4FileErrorName(o.mp4->error());
}

TEST(Mp4FileTest, MissingFileGivesNull) {
  SharedWideString* p = SharedWideString::Create(u"/nonexistent/dir/none.mp4");
  EXPECT_EQ(Mp4File::OpenFile(p), nullptr);
  p->Release();
}

TEST(Mp4FileTest, VersionOneMovieHeaderReadsWideDuration) {
  Knobs k;
  k.mvhdVersion1 = true;
  Opened o(fixture::Build(k));
  ASSERT_TRUE(o.mp4->ok()) << MP4FileErrorName(o.mp4->error());
  EXPECT_EQ(o.mp4->movie()->mvhd->duration, 0x100000005ull);
  EXPECT_EQ(o.mp4->GetDuration(), 0xFFFFFFFFu);
  EXPECT_EQ(o.mp4->GetMovieTimescale(), 1000);
}

TEST(Mp4FileTest, ShortVinfHoldsWholeFrames) {
  Knobs k;
  k.vinfBody = 2;
  k.vinfBytes[0] = 15;
  k.vinfBytes[1] = 10;
  Opened o(fixture::Build(k));
  ASSERT_TRUE(o.mp4->ok());
  EXPECT_FLOAT_EQ(o.mp4->GetTrackFrameRate(kVideo), 15.0f);
  EXPECT_EQ(o.mp4->GetTrackIFrameInterval(kVideo), 10);
}

TEST(SampleAccess, ReadsEverySampleWithItsTime) {
  Opened o(fixture::Build());
  Mp4File& f = *o.mp4;
  ASSERT_TRUE(f.ok());
  std::vector<uint8_t> buf(256);
  for (uint32_t i = 0; i < fixture::kVideoSamples; ++i) {
    ASSERT_EQ(f.ReadSample(kVideo, buf.data(), 256, nullptr), int32_t(fixture::VideoSize(i)));
    EXPECT_EQ(buf[0], fixture::SampleByte(2, i, 0));
    EXPECT_EQ(buf[fixture::VideoSize(i) - 1], fixture::SampleByte(2, i, fixture::VideoSize(i) - 1));
    EXPECT_EQ(f.GetLastSampleTime(kVideo), i * fixture::kVideoDelta);
  }
  EXPECT_EQ(f.ReadSample(kVideo, buf.data(), 256, nullptr), 0);
  // AAC is delivered as stored.
  for (uint32_t i = 0; i < fixture::kAudioSamples; ++i) {
    ASSERT_EQ(f.ReadSample(kAudio, buf.data(), 256, nullptr), int32_t(fixture::AudioSize(i)));
    EXPECT_EQ(buf[3], fixture::SampleByte(1, i, 3));
  }
}

TEST(SampleAccess, TooSmallBufferKeepsTheSample) {
  Opened o(fixture::Build());
  Mp4SampleTable* t = o.mp4->movie()->FindTrack(kVideo)->SampleTable();
  std::vector<uint8_t> buf(256);
  ASSERT_EQ(t->ReadNextSample(buf.data(), 10, nullptr), -int32_t(fixture::VideoSize(0)));
  ASSERT_EQ(t->ReadNextSample(buf.data(), 256, nullptr), int32_t(fixture::VideoSize(0)));
  ASSERT_EQ(t->ReadNextSample(buf.data(), 10, nullptr), -int32_t(fixture::VideoSize(1)));
  ASSERT_EQ(t->ReadNextSample(buf.data(), 256, nullptr), int32_t(fixture::VideoSize(1)));
  EXPECT_EQ(t->currentTime, fixture::kVideoDelta);
}

TEST(SampleAccess, PeekAndReadRunsAcrossBuffers) {
  Opened o(fixture::Build());
  Mp4File& f = *o.mp4;
  SampleRequest r;
  uint32_t n = 4;
  ASSERT_EQ(f.PeekSamples(kAudio, &n, &r), 0);
  ASSERT_EQ(n, 4u);
  for (uint32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(r.slots[i].size, fixture::AudioSize(i));
    EXPECT_EQ(r.slots[i].timeStamp, i * fixture::kAudioDelta);
  }
  // Two buffers exactly filled by the four samples (10+11+12+13 bytes).
  std::vector<uint8_t> a(20), b(26);
  r = SampleRequest{};
  r.bufferCount = 2;
  r.buffers[0] = {20, a.data()};
  r.buffers[1] = {26, b.data()};
  n = 4;
  ASSERT_EQ(f.ReadSamples(kAudio, &n, &r), 0);
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(a[10], fixture::SampleByte(1, 1, 0));
  EXPECT_EQ(b[25], fixture::SampleByte(1, 3, 12));
  EXPECT_EQ(f.GetLastSampleTime(kAudio), 3 * fixture::kAudioDelta);
  // Too little room: 59 and the position stays.
  std::vector<uint8_t> c(5);
  r = SampleRequest{};
  r.bufferCount = 1;
  r.buffers[0] = {5, c.data()};
  n = 2;
  EXPECT_EQ(f.ReadSamples(kAudio, &n, &r), INSUFFICIENT_BUFFER_SIZE);
  std::vector<uint8_t> d(64);
  r.buffers[0] = {64, d.data()};
  n = 10;
  EXPECT_EQ(f.ReadSamples(kAudio, &n, &r), END_OF_TRACK);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(d[0], fixture::SampleByte(1, 4, 0));
  n = 1;
  EXPECT_EQ(f.ReadSamples(kAudio, &n, &r), END_OF_TRACK);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(f.PeekSamples(99, &n, &r), -1);
}

TEST(SampleAccess, EmptyEditDelaysTheTrack) {
  Knobs k;
  k.emptyEditAudio = 2000;
  Opened o(fixture::Build(k));
  ASSERT_TRUE(o.mp4->ok());
  std::vector<uint8_t> buf(64);
  ASSERT_GT(o.mp4->ReadSample(kAudio, buf.data(), 64, nullptr), 0);
  EXPECT_EQ(o.mp4->GetLastSampleTime(kAudio), 2000u);
  ASSERT_GT(o.mp4->ReadSample(kAudio, buf.data(), 64, nullptr), 0);
  EXPECT_EQ(o.mp4->GetLastSampleTime(kAudio), 2000u + fixture::kAudioDelta);
}

TEST(SampleAccess, SeekGoesToTheSyncSampleAtOrBefore) {
  Opened o(fixture::Build());
  Mp4File& f = *o.mp4;
  const uint32_t ids[2] = {kAudio, kVideo};
  // Video sync samples are 0 and 3 (times 0 and 600 ms).
  const struct {
    uint32_t startMs, expected;
  } cases[] = {{100, 0}, {599, 0}, {600, 600}, {900, 600}, {5000, 600}};
  std::vector<uint8_t> buf(256);
  for (auto c : cases) {
    EXPECT_EQ(f.SeekTracks(c.startMs, 2, ids), c.expected) << c.startMs;
    ASSERT_GT(f.ReadSample(kVideo, buf.data(), 256, nullptr), 0);
    EXPECT_EQ(f.GetLastSampleTime(kVideo), c.expected);
  }
  // Audio alone stops at its sample at or before the time.
  const uint32_t audioOnly[1] = {kAudio};
  const uint32_t ms = f.SeekTracks(300, 1, audioOnly);
  EXPECT_EQ(ms, 2048u * 1000 / 8000);
  f.ResetTracks();
  ASSERT_GT(f.ReadSample(kVideo, buf.data(), 256, nullptr), 0);
  EXPECT_EQ(f.GetLastSampleTime(kVideo), 0u);
}

TEST(SampleTableTest, TimeToSampleEdges) {
  Opened o(fixture::Build());
  Mp4SampleTable* v = o.mp4->movie()->FindTrack(kVideo)->SampleTable();
  Mp4SampleTable* a = o.mp4->movie()->FindTrack(kAudio)->SampleTable();
  EXPECT_EQ(v->SampleAtTime(400), 2);
  EXPECT_EQ(v->SampleAtTime(999), 4);
  EXPECT_EQ(v->SampleAtTime(1000), 5);  // video: one past the last
  EXPECT_EQ(a->SampleAtTime(6 * 1024), -1);
  EXPECT_EQ(v->SampleTime(5), 1000);
  EXPECT_EQ(v->SampleTime(6), -1);
  EXPECT_EQ(a->Seek(100000, false), 6u * 1024);
  EXPECT_EQ(a->position, 6u);
}

TEST(AmrIf2, KeepsEverySpeechBitInsideTheFrame) {
  const uint32_t bits[9] = {95, 103, 118, 134, 148, 159, 204, 244, 39};
  for (uint8_t ft = 0; ft < 9; ++ft) {
    const uint32_t n = AmrIf2Converter::StoredBytes(ft);
    std::vector<uint8_t> stored(n, 0);
    for (uint32_t i = 0; i < bits[ft]; ++i) stored[i / 8] |= uint8_t(0x80 >> (i % 8));
    // Exactly the frame's size: ASan reports any write past it.
    std::vector<uint8_t> out(AmrIf2Converter::If2Bytes(ft));
    ASSERT_EQ(AmrIf2Converter::Convert(stored.data(), n, ft, out.data(), uint32_t(out.size())), out.size());
    uint32_t set = 0;
    for (uint8_t byte : out) set += uint32_t(__builtin_popcount(byte));
    EXPECT_EQ(set, bits[ft] + uint32_t(__builtin_popcount(ft))) << int(ft);
    EXPECT_EQ(out[0] & 0x0F, ft);
  }
}

TEST(AmrIf2, LayoutAndSizes) {
  std::vector<uint8_t> stored(31);
  for (size_t i = 0; i < stored.size(); ++i) stored[i] = uint8_t(0x12 + i * 5);
  std::vector<uint8_t> out(31);
  ASSERT_EQ(AmrIf2Converter::Convert(stored.data(), 31, 7, out.data(), 31), 31u);
  // 0x12 reversed is 0x48: its low nibble 8 goes to the high nibble.
  EXPECT_EQ(out[0], 0x87);
  EXPECT_EQ(out[1] & 0x0F, 0x4);
  std::vector<uint8_t> sid(6);
  EXPECT_EQ(AmrIf2Converter::Convert(stored.data(), 5, 8, sid.data(), 6), 6u);
  EXPECT_EQ(AmrIf2Converter::Convert(stored.data(), 31, 12, out.data(), 31), 0u);
  EXPECT_EQ(AmrIf2Converter::Convert(stored.data(), 31, 7, out.data(), 30), 0u);
}

namespace {

// The valid file with bytes overwritten at an offset from the first atom of
// that type (offset 0 is the type itself, -4 its size, 4 the byte after it).
Bytes Patched(const char* type, long offset, std::vector<uint8_t> bytes) {
  Bytes file = fixture::Build();
  for (size_t i = 0; i + 4 <= file.b.size(); ++i)
    if (std::memcmp(&file.b[i], type, 4) == 0) {
      std::copy(bytes.begin(), bytes.end(), file.b.begin() + long(i) + offset);
      return file;
    }
  ADD_FAILURE() << "no " << type;
  return file;
}

}  // namespace

// Failures inside the movie, from one patched field of a valid file.
TEST(Mp4FileTest, MovieFailuresGiveTheirCodes) {
  const std::vector<uint8_t> big = {0x7F, 0xFF, 0xFF, 0xFF};
  const struct {
    const char* name;
    Bytes file;
    int32_t code;
  } cases[] = {
      {"track without tkhd", Patched("tkhd", 3, {'X'}), NO_TRACK_HEADER_ATOM_PRESENT},
      {"dinf without dref", Patched("dref", 3, {'X'}), READ_DATA_INFORMATION_ATOM_FAILED},
      {"dref without entries", Patched("dref", 8, {0, 0, 0, 0}), READ_DATA_REFERENCE_ATOM_FAILED},
      {"media without handler", Patched("hdlr", 3, {'X'}), READ_MEDIA_ATOM_FAILED},
      {"media information without sample table", Patched("stbl", 3, {'X'}), READ_MEDIA_INFORMATION_ATOM_FAILED},
      {"sample table without chunk offsets", Patched("stco", 3, {'X'}), READ_SAMPLE_TABLE_ATOM_FAILED},
      {"sample description without entries", Patched("stsd", 8, {0, 0, 0, 0}), READ_SAMPLE_DESCRIPTION_ATOM_FAILED},
      {"sample sizes beyond the atom", Patched("stsz", 12, big), READ_SAMPLE_SIZE_ATOM_FAILED},
      {"chunk offsets beyond the atom", Patched("stco", 8, big), READ_CHUNK_OFFSET_ATOM_FAILED},
      {"sync samples beyond the atom", Patched("stss", 8, big), READ_SYNC_SAMPLE_ATOM_FAILED},
      {"sample-to-chunk beyond the atom", Patched("stsc", 8, big), READ_SAMPLE_TO_CHUNK_ATOM_FAILED},
      {"esds without ES descriptor", Patched("esds", 8, {0x05}), READ_ESD_ATOM_FAILED},
      {"track larger than the movie", Patched("trak", -4, big), READ_FAILED},
      {"iods twice", [] {
         Knobs k;
         k.secondIods = true;
         return fixture::Build(k);
       }(),
       DUPLICATE_OBJECT_DESCRIPTORS},
  };
  for (const auto& c : cases) {
    Opened o(c.file);
    ASSERT_NE(o.mp4, nullptr) << c.name;
    EXPECT_FALSE(o.mp4->ok()) << c.name;
    EXPECT_EQ(o.mp4->error(), c.code) << c.name << ": " << MP4FileErrorName(o.mp4->error());
  }
}
