// The reader's atom classes on crafted bytes: user data and maker atoms,
// descriptors, movie and track containers, and whole files that exercise
// one rule each.
#include <gtest/gtest.h>

#include <memory>

#include "fixture.h"
#include "reader/mp4_file.h"

using namespace reader;
using fixture::Atom;
using fixture::Bytes;
using fixture::Desc;
using fixture::Full;
using fixture::Knobs;

namespace {

// Builds T from the bytes; also reports where the stream was left.
template <typename T, typename... A>
std::unique_ptr<T> Parse(const Bytes& b, uint64_t* endPos = nullptr, A... args) {
  fixture::TempFile file(b.b, "atom");
  std::FILE* f = std::fopen(file.path.string().c_str(), "rb");
  if (!f) return nullptr;
  Mp4Stream s(f);
  std::unique_ptr<T> t(new T(s, s.size(), args...));
  if (endPos) *endPos = s.tell();
  std::fclose(f);
  return t;
}

// The file stays on disk while the object reads samples from it.
struct OpenedFile {
  fixture::TempFile file;
  std::unique_ptr<Mp4File> mp4;
  explicit OpenedFile(const Bytes& b) : file(b.b, "file") {
    SharedWideString* p = file.Wide();
    mp4.reset(Mp4File::OpenFile(p));
    p->Release();
  }
  Mp4File* operator->() const { return mp4.get(); }
};

std::unique_ptr<OpenedFile> OpenBytes(const Bytes& b) { return std::make_unique<OpenedFile>(b); }

Bytes Krmi(uint32_t kind, uint32_t version, uint32_t blockLength = 0) {
  Bytes r;
  r.u32(kind);
  for (int i = 2; i <= 12; ++i) r.u32(uint32_t(i));
  r.u32(version).u32(0).u32(blockLength).zeros(blockLength < 64 ? blockLength : 0);
  for (int i = 0; i < (kind == FourCC("vide") ? 5 : 4); ++i) r.u32(100 + uint32_t(i));
  return Full("krmi", 0, 0, r);
}

Bytes Krsi(const Bytes& children, uint32_t count) {
  return Full("krsi", 0, 0, Bytes().u32(1).u32(2).u32(3).u32(4).u32(count).add(children));
}

}  // namespace

TEST(UserData, UnknownChildIsScannedThrough) {
  uint64_t end = 0;
  auto u = Parse<Mp4UserDataAtom>(Atom("udta", Atom("free", Bytes().zeros(8))), &end);
  ASSERT_TRUE(u->ok());
  EXPECT_EQ(end, 24u);
  EXPECT_EQ(u->cver, nullptr);
  // A maker atom inside an unknown child is found by the scan.
  u = Parse<Mp4UserDataAtom>(Atom("udta", Atom("xxxx", Full("cver", 0, 0, Bytes().u16(0x0301).u16(0)))));
  ASSERT_TRUE(u->ok());
  EXPECT_EQ(u->ContentVersion(), 0x0301);
}

TEST(UserData, LaterChildReplacesEarlier) {
  Bytes body;
  body.add(Full("cver", 0, 0, Bytes().u16(0x0200).u16(0))).add(Full("cver", 0, 0, Bytes().u16(0x0300).u16(0)));
  auto u = Parse<Mp4UserDataAtom>(Atom("udta", body));
  ASSERT_TRUE(u->ok());
  EXPECT_EQ(u->ContentVersion(), 0x0300);
}

TEST(UserData, KrmmTextsKeepTheirTerminators) {
  Bytes m;
  const char16_t* texts[7] = {u"v", u"T", u"A", u"", u"D", u"R", u"C"};
  for (auto* t : texts) {
    for (; *t; ++t) m.u16(*t);
    m.u16(0);
  }
  auto u = Parse<Mp4UserDataAtom>(Atom("udta", Atom("krmm", m)));
  ASSERT_TRUE(u->ok());
  EXPECT_EQ(u->krmm->texts[3]->view(), u"");
  EXPECT_EQ(u->krmm->texts[4]->view(), u"D");
  EXPECT_EQ(u->krmm->texts[6]->view(), u"C");
  // A text without its terminator fails the atom.
  auto bad = Parse<Mp4UserDataAtom>(Atom("udta", Atom("krmm", Bytes().u16('x'))));
  EXPECT_EQ(bad->error(), READ_KR_USER_DATA_ATOM_FAILED);
}

TEST(UserData, TrackInfoLayouts) {
  // 3.0: krsi with one audio and one video krmi of version 3.0.
  auto u = Parse<Mp4UserDataAtom>(
      Atom("udta", Atom("krti", Krsi(Bytes().add(Krmi(FourCC("soun"), 0x300)).add(Krmi(FourCC("vide"), 0x301)), 2))));
  ASSERT_TRUE(u->ok()) << u->error();
  EXPECT_TRUE(u->krti->layout3);
  EXPECT_EQ(u->krti->version3Count, 2u);
  ASSERT_NE(u->krti->Media(1), nullptr);
  EXPECT_EQ(u->krti->Media(1)->extra[4], 104u);
  EXPECT_EQ(u->krti->Media(2), nullptr);

  // 2.0: records without atom headers.
  Bytes v2;
  v2.u32(1).u32(2).u32(3).u32(4).u32(2);
  v2.u32(FourCC("soun"));
  for (int i = 0; i < 11; ++i) v2.u32(0);
  v2.u32(0x200).u32(0).u32(1).u32(2).u32(3).u32(4);
  v2.u32(FourCC("vide"));
  for (int i = 0; i < 11; ++i) v2.u32(0);
  v2.u32(0x300).u32(0).u32(3).u8(1).u8(2).u8(3).u32(5).u32(6).u32(7).u32(8).u32(9);
  u = Parse<Mp4UserDataAtom>(Atom("udta", Atom("krti", v2)));
  ASSERT_TRUE(u->ok()) << u->error();
  EXPECT_FALSE(u->krti->layout3);
  ASSERT_EQ(u->krti->MediaRecordCount(), 2u);
  EXPECT_EQ(u->krti->Media(1)->block.size(), 3u);
  EXPECT_EQ(u->krti->Media(1)->extra[4], 9u);
  EXPECT_EQ(u->krti->version3Count, 1u);
}

TEST(UserData, MakerAtomFailuresGiveTheirCodes) {
  const struct {
    const char* name;
    Bytes child;
    int32_t udtaCode;
  } cases[] = {
      {"krmi of a hint track", Atom("krti", Krsi(Krmi(FourCC("hint"), 0x300), 1)), READ_TRACK_INFO_ATOM_FAILED},
      {"krmi block past the atom", Atom("krti", Krsi(Krmi(FourCC("soun"), 0x300, 0x7FFFFFF0), 1)),
       READ_TRACK_INFO_ATOM_FAILED},
      {"2.0 block past the atom",
       Atom("krti", Bytes().u32(0).u32(0).u32(0).u32(0).u32(1).u32(FourCC("vide")).zeros(52).u32(0xFFFFFFFF)),
       READ_TRACK_INFO_ATOM_FAILED},
      {"short cver", Full("cver", 0, 0, Bytes().u16(0x300)), READ_CONTENT_VERSION_FAILED},
      {"short rand", Full("rand", 0, 0, Bytes()), READ_RANDOM_ACCESS_ATOM_FAILED},
      {"short rqmt", Full("rqmt", 0, 0, Bytes().u8(1)), READ_REQUIREMENTS_ATOM_FAILED},
      {"short dnld", Atom("dnld", Bytes().u32(0)), READ_DOWNLOAD_ATOM_FAILED},
      {"short wmfs", Full("wmfs", 0, 0, Bytes().u32(1)), READ_WMF_SET_SESSION_ATOM_FAILED},
      {"short wmfm", Full("wmfm", 0, 0, Bytes().u32(1)), READ_WMF_SET_MEDIA_ATOM_FAILED},
      {"child past the udta", Bytes().u32(40).fourcc("cver").u32(0), READ_CONTENT_VERSION_FAILED},
  };
  for (const auto& c : cases) {
    auto u = Parse<Mp4UserDataAtom>(Atom("udta", c.child));
    EXPECT_FALSE(u->ok()) << c.name;
    EXPECT_EQ(u->error(), c.udtaCode) << c.name << ": " << MP4FileErrorName(u->error());
  }
  auto krti = Parse<Mp4TrackInfoAtom>(Atom("krti", Krsi(Krmi(FourCC("hint"), 0x300), 1)));
  EXPECT_EQ(krti->error(), READ_KRTI_SESSION_INFO_FAILED);
}

namespace {

Bytes Dc(uint8_t oti, uint8_t streamType, const Bytes& tail) {
  Bytes dc;
  dc.u8(oti).u8(uint8_t(streamType << 2 | 1)).u24(100).u32(0).u32(0).add(tail);
  return Desc(4, dc);
}

Bytes Esds(const Bytes& esPayload) { return Full("esds", 0, 0, Desc(3, esPayload)); }

}  // namespace

TEST(Descriptors, EsDescriptorCases) {
  const Bytes sl = Desc(6, Bytes().u8(2));
  const Bytes amrInfo = Desc(5, Bytes().u32(0x4B524D20).u8(1).u8(0x87).u16(0x81FF).u32(0).u16(0xABCD));
  const struct {
    const char* name;
    Bytes esds;
    int32_t code;
  } cases[] = {
      {"audio without room for an info", Esds(Bytes().u16(1).u8(0).add(Dc(0x40, 5, Bytes())).add(sl)),
       READ_DECODER_CONFIG_DESCRIPTOR_FAILED},
      {"OCR flag with the config next", Esds(Bytes().u16(1).u8(0x20).add(Dc(0xD0, 5, amrInfo)).add(sl)), 0},
      {"OCR id present", Esds(Bytes().u16(1).u8(0x20).u16(7).add(Dc(0xD0, 5, amrInfo)).add(sl)), 0},
      {"info of another tag", Esds(Bytes().u16(1).u8(0).add(Dc(0x40, 5, Desc(6, Bytes().u8(1)))).add(sl)),
       READ_DECODER_CONFIG_DESCRIPTOR_FAILED},
      {"empty info", Esds(Bytes().u16(1).u8(0).add(Dc(0x40, 5, Desc(5, Bytes()))).add(sl)),
       READ_DECODER_SPECIFIC_INFO_FAILED},
      {"no SL config", Esds(Bytes().u16(1).u8(0).add(Dc(0xD0, 5, amrInfo))), READ_ES_DESCRIPTOR_FAILED},
      {"empty SL config", Esds(Bytes().u16(1).u8(0).add(Dc(0xD0, 5, amrInfo)).add(Desc(6, Bytes()))),
       READ_SL_CONFIG_DESCRIPTOR_FAILED},
      {"not an ES descriptor", Full("esds", 0, 0, Desc(4, Bytes().zeros(13))), READ_ESD_ATOM_FAILED},
      {"five size bytes", Full("esds", 0, 0, Bytes().u8(3).u8(0x80).u8(0x80).u8(0x80).u8(0x80).u8(0x01).zeros(2)),
       READ_ES_DESCRIPTOR_FAILED},
      {"URL longer than the descriptor", Esds(Bytes().u16(1).u8(0x40).u8(200).zeros(4)),
       READ_ES_DESCRIPTOR_FAILED},
  };
  for (const auto& c : cases) {
    auto e = Parse<Mp4EsdAtom>(c.esds);
    EXPECT_EQ(e->error(), c.code) << c.name << ": " << MP4FileErrorName(e->error());
    if (c.code == 0 && e->ok()) {
      // The fixed AMR fields come from the payload start; the two extra
      // bytes after them do not shift what follows.
      const DecoderSpecificInfo* dsi = e->descriptor->decoderConfig->info;
      EXPECT_EQ(dsi->mode, 0x87);
      EXPECT_EQ(dsi->modeSet, 0x81FF);
      EXPECT_EQ(dsi->bytes().size(), 14u);
      EXPECT_EQ(e->descriptor->slConfig->predefined, 2);
    }
  }
}

TEST(Descriptors, InitialObjectDescriptor) {
  Bytes iod;
  iod.u16((1 << 6) | 0x0F).zeros(5);
  // ES descriptors after the profile levels are passed over.
  auto a = Parse<Mp4ObjectDescriptorAtom>(Full("iods", 0, 0, Desc(0x10, Bytes(iod).add(Desc(3, Bytes().zeros(5))))));
  ASSERT_TRUE(a->ok());
  EXPECT_TRUE(a->descriptor->esIdIncTrackIds.empty());
  auto b = Parse<Mp4ObjectDescriptorAtom>(Full("iods", 0, 0, Desc(0x10, Bytes(iod).add(Desc(0x0E, Bytes().u32(9))))));
  ASSERT_TRUE(b->ok());
  ASSERT_EQ(b->descriptor->esIdIncTrackIds.size(), 1u);
  EXPECT_EQ(b->descriptor->esIdIncTrackIds[0], 9u);
  auto c = Parse<Mp4ObjectDescriptorAtom>(Full("iods", 0, 0, Desc(0x10, Bytes(iod).add(Desc(0x0E, Bytes().u16(9))))));
  EXPECT_EQ(c->error(), READ_INITIAL_OBJECT_DESCRIPTOR_FAILED);
}

TEST(MovieAtoms, ContainerRules) {
  Bytes mvhd = Full("mvhd", 0, 0, Bytes().u32(0).u32(0).u32(600).u32(6000).zeros(76).u32(2));
  auto m = Parse<Mp4MovieAtom>(
      Atom("moov", Bytes().add(Atom("free", Bytes().zeros(4))).add(mvhd).add(Atom("uuid", Bytes().zeros(16)))),
      nullptr, static_cast<SharedWideString*>(nullptr), false);
  ASSERT_TRUE(m->ok()) << m->error();
  EXPECT_EQ(m->TrackCount(), 0u);
  EXPECT_EQ(m->mvhd->timescale, 600u);

  auto t = Parse<Mp4TrackAtom>(Atom("trak", Atom("free", Bytes())), nullptr, static_cast<SharedWideString*>(nullptr));
  EXPECT_EQ(t->error(), NO_MEDIA_ATOM_PRESENT);

  Bytes tkhd1;  // version 1: 64-bit times and duration
  tkhd1.u64(1).u64(2).u32(7).u32(0).u64(0x123456789ull).zeros(8).u32(0).u16(0x100).u16(0).zeros(36).u32(0).u32(0);
  auto h = Parse<Mp4TrackHeaderAtom>(Full("tkhd", 1, 1, tkhd1));
  ASSERT_TRUE(h->ok());
  EXPECT_EQ(h->trackId, 7u);
  EXPECT_EQ(h->duration, 0x123456789ull);
  EXPECT_EQ(h->trackKind, FourCC("soun"));

  auto md = Parse<Mp4MediaHeaderAtom>(Full("mdhd", 1, 0, Bytes().u64(0).u64(0).u32(44100).u64(0x200000000ull).u32(0)));
  ASSERT_TRUE(md->ok());
  EXPECT_EQ(md->timescale, 44100u);
  EXPECT_EQ(md->duration, 0x200000000ull);
}

TEST(Files, MediaChildrenInAnyOrder) {
  // Reorder mdhd/hdlr/minf of the audio track: minf, hdlr, mdhd.
  Bytes file = fixture::Build();
  auto find = [&](const char* type, size_t from) {
    for (size_t i = from; i + 4 <= file.b.size(); ++i)
      if (std::memcmp(&file.b[i], type, 4) == 0) return i - 4;
    return size_t(0);
  };
  const size_t mdia = find("mdia", 0);
  const size_t mdhd = find("mdhd", mdia), hdlr = find("hdlr", mdia), minf = find("minf", mdia);
  auto size = [&](size_t at) {
    return size_t(file.b[at] << 24 | file.b[at + 1] << 16 | file.b[at + 2] << 8 | file.b[at + 3]);
  };
  ASSERT_TRUE(mdhd < hdlr && hdlr < minf);
  std::vector<uint8_t> a(file.b.begin() + long(mdhd), file.b.begin() + long(mdhd + size(mdhd)));
  std::vector<uint8_t> b(file.b.begin() + long(hdlr), file.b.begin() + long(hdlr + size(hdlr)));
  std::vector<uint8_t> c(file.b.begin() + long(minf), file.b.begin() + long(minf + size(minf)));
  std::vector<uint8_t> re(c);
  re.insert(re.end(), b.begin(), b.end());
  re.insert(re.end(), a.begin(), a.end());
  std::copy(re.begin(), re.end(), file.b.begin() + long(mdhd));
  auto f = OpenBytes(file);
  ASSERT_TRUE((*f)->ok()) << MP4FileErrorName((*f)->error());
  EXPECT_EQ((*f)->GetMediaTimescale(1), 8000);
  std::vector<uint8_t> buf(64);
  EXPECT_EQ((*f)->ReadSample(1, buf.data(), 64, nullptr), int32_t(fixture::AudioSize(0)));
}

TEST(Files, TracksOfAnotherContentVersionAreSkipped) {
  Knobs k;
  k.trackCver = 0x0200;
  auto f = OpenBytes(fixture::Build(k));
  EXPECT_EQ((*f)->error(), NO_META_DATA_FOR_MEDIA_TRACKS);
  k.krmm = false;
  k.cver = 0;  // not maker content: track versions are not checked
  f = OpenBytes(fixture::Build(k));
  EXPECT_TRUE((*f)->ok()) << MP4FileErrorName((*f)->error());
}

TEST(Files, AmrTrackIsDeliveredAsIf2) {
  Knobs k;
  k.audioOti = 0xD0;
  k.audioDsi = Bytes().u32(0x4B524D20).u8(1).u8(7).u16(0x80).u32(0);
  auto f = OpenBytes(fixture::Build(k));
  ASSERT_TRUE((*f)->ok()) << MP4FileErrorName((*f)->error());
  EXPECT_EQ(std::u16string(Mp4File::CodecName((*f)->GetObjectTypeIndication(1))), u"AMR");
  std::vector<uint8_t> out(31);
  ASSERT_EQ((*f)->ReadSample(1, out.data(), 31, nullptr), 31);
  // First stored byte is SampleByte(1, 0, 0) = 64 = 0x40, reversed 0x02.
  EXPECT_EQ(out[0], 0x27);
  // A buffer smaller than the IF2 frame gets nothing.
  EXPECT_EQ((*f)->ReadSample(1, out.data(), 30, nullptr), 0);
}

TEST(Files, SamrOnlyAudioHasNoObjectType) {
  Knobs k;
  k.audioSamr = true;
  auto f = OpenBytes(fixture::Build(k));
  ASSERT_TRUE((*f)->ok()) << MP4FileErrorName((*f)->error());
  EXPECT_EQ((*f)->GetObjectTypeIndication(1), 0xFF);
  SharedWideString* name = (*f)->GetTrackCodecName(1);
  EXPECT_EQ(name->view(), u"UNKNOWN");
  name->Release();
  std::vector<uint8_t> buf(64);
  EXPECT_EQ((*f)->ReadSample(1, buf.data(), 64, nullptr), 0);
}

TEST(Files, VideoWithoutSyncTableSeeksToTheStart) {
  Knobs k;
  k.videoStss = false;
  auto f = OpenBytes(fixture::Build(k));
  ASSERT_TRUE((*f)->ok());
  const uint32_t ids[2] = {1, 2};
  EXPECT_EQ((*f)->SeekTracks(700, 2, ids), 0u);
  std::vector<uint8_t> buf(256);
  ASSERT_GT((*f)->ReadSample(2, buf.data(), 256, nullptr), 0);
  EXPECT_EQ((*f)->GetLastSampleTime(2), 0u);
}

TEST(Files, HintTracksAreReadAndDropped) {
  Knobs k;
  k.audioHandler = "hint";
  k.krti = false;
  auto f = OpenBytes(fixture::Build(k));
  ASSERT_TRUE((*f)->ok()) << MP4FileErrorName((*f)->error());
  EXPECT_EQ((*f)->GetTrackCount(), 1u);
  EXPECT_EQ((*f)->GetFileKind(), 2u);
  EXPECT_EQ((*f)->GetTrackHandlerType(1), -1);
  // Its failures still count.
  k.drefFlags = 0;
  f = OpenBytes(fixture::Build(k));
  EXPECT_EQ((*f)->error(), MEDIA_DATA_NOT_SELF_CONTAINED);
}
