// The file object: file layout, track roles, API behaviour and failure paths.
#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "fileformat/mp4_file_writer.h"
#include "fileformat/render.h"
#include "platform/os.h"
#include "test_util.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

namespace fileformat {
namespace {

using test::be32;
using test::Box;
using test::Bytes;
using test::hexBytes;
using test::typeName;

std::vector<std::string> typesOf(const Box& b) {
  std::vector<std::string> t;
  for (const Box& c : b.children) t.push_back(typeName(c.type));
  return t;
}

std::unique_ptr<MP4WriterApi> recorderWriter(uint32_t presentation = 3, uint32_t hints = 0) {
  auto w = MP4FileWriter::Create(presentation, 1, u"wt", u"7", 0, hints);
  w->SetMajorBrand(fourcc("wmf "));
  w->SetMinorVersion(0x00010001);
  w->SetSessionValue3(1);
  w->SetSessionValue1(1);
  w->SetSessionValue2(1);
  return w;
}

Bytes writeAndRead(MP4WriterApi& w, const std::string& name) {
  std::string path = test::scratchPath(name);
  EXPECT_TRUE(w.WriteToFile(platform::utf8ToUtf16(path)));
  return test::readFile(path);
}

TEST(Writer, FileLayoutAndTrackRoles) {
  auto w = recorderWriter();
  uint32_t video = w->AddTrack(fourcc("vide"), 1);
  uint32_t audio = w->AddTrack(fourcc("soun"), 3);
  EXPECT_EQ(video, 3u);
  EXPECT_EQ(audio, 4u);
  Bytes frame(100, 0x5A);
  for (uint32_t t = 0; t < 200; t += 40) {
    EXPECT_TRUE(w->AddSample(video, frame.data(), 100, t, t ? 0x04 : 0));
    EXPECT_TRUE(w->AddSample(audio, frame.data(), 50, t, 0));
  }
  Bytes file = writeAndRead(*w, "layout.mp4");
  Box root = test::parseBoxes(file);
  EXPECT_EQ(typesOf(root), (std::vector<std::string>{"ftyp", "udta", "mdat", "mdat", "mdat", "mdat", "moov"}));
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 16), hexBytes("00000010 66747970 776d6620 00010001"));
  EXPECT_EQ(typesOf(root.children[1]),
            (std::vector<std::string>{"krmm", "krti", "dnld", "cver", "rand", "rqmt"}));
  const Box* moov = root.find("moov");
  ASSERT_NE(moov, nullptr);
  EXPECT_EQ(typesOf(*moov), (std::vector<std::string>{"mvhd", "udta", "iods", "trak", "trak", "trak", "trak"}));
  EXPECT_EQ(typesOf(*moov->find("udta")), (std::vector<std::string>{"wmfs"}));
  // Track ids in order: video 3, audio 4, scene 1, OD 2.
  std::vector<uint32_t> ids;
  for (const Box* trak : moov->all("trak")) ids.push_back(be32(file, trak->find("tkhd")->offset + 20));
  EXPECT_EQ(ids, (std::vector<uint32_t>{3, 4, 1, 2}));
  const Box* videoTrak = moov->all("trak")[0];
  EXPECT_EQ(typesOf(*videoTrak), (std::vector<std::string>{"udta", "tkhd", "mdia"}));
  EXPECT_EQ(typesOf(*videoTrak->find("udta")), (std::vector<std::string>{"rand", "cver", "vinf"}));
  EXPECT_EQ(typesOf(*videoTrak->find("mdia/minf/stbl")),
            (std::vector<std::string>{"stts", "stsz", "stco", "stsc", "stsd", "stss"}));
  // The OD track's tref lists the media tracks in AddTrack order.
  const Box* mpod = moov->all("trak")[3]->find("tref/mpod");
  ASSERT_NE(mpod, nullptr);
  EXPECT_EQ(Bytes(file.begin() + mpod->offset + 8, file.begin() + mpod->offset + 16), hexBytes("00000003 00000004"));
  // Each track's chunk offsets point into its own mdat.
  const Box* videoMdat = &root.children[4];
  const Box* stco = videoTrak->find("mdia/minf/stbl/stco");
  EXPECT_EQ(be32(file, stco->offset + 16), videoMdat->offset + 8);
  EXPECT_EQ(videoMdat->size, 8u + 500);
  // krmi of the video track: its mdat payload offset patched in.
  const Box* krsi = root.children[1].find("krti/krsi");
  ASSERT_NE(krsi, nullptr);
  ASSERT_EQ(krsi->children.size(), 2u);
  EXPECT_EQ(be32(file, krsi->children[0].offset + 16), videoMdat->offset + 8);
  EXPECT_EQ(be32(file, krsi->children[0].offset + 44), 3u);   // track id
  EXPECT_EQ(be32(file, krsi->offset + 12), 200u);             // session duration
  // The scene sample and the OD update are the system tracks' payloads.
  EXPECT_EQ(root.children[2].size, 8u + 39);
  EXPECT_EQ(Bytes(file.begin() + root.children[3].offset + 8, file.begin() + root.children[3].offset + 10),
            hexBytes("01 10"));  // OD update, two object descriptors of 8 bytes
}

TEST(Writer, PresentationKindsChooseSceneAndDescriptors) {
  const struct {
    uint32_t kind;
    uint32_t sceneBytes;
    uint32_t odPayload;
  } cases[] = {{1, 25, 8}, {2, 26, 8}, {4, 26, 8}, {3, 39, 16}, {5, 39, 16}, {9, 0, 0}};
  for (const auto& c : cases) {
    auto w = recorderWriter(c.kind);
    w->AddTrack(fourcc("vide"), 1);
    w->AddTrack(fourcc("soun"), 3);
    Bytes file = writeAndRead(*w, "kinds.mp4");
    Box root = test::parseBoxes(file);
    ASSERT_GE(root.children.size(), 4u);
    EXPECT_EQ(root.children[2].size, 8 + c.sceneBytes) << c.kind;
    EXPECT_EQ(root.children[3].size, 8 + 2 + c.odPayload) << c.kind;
  }
}

TEST(Writer, EditListOnlyForALateFirstSample) {
  auto w = recorderWriter();
  uint32_t late = w->AddTrack(fourcc("vide"), 1);
  uint32_t onTime = w->AddTrack(fourcc("soun"), 3);
  uint8_t d[10] = {};
  w->AddSample(late, d, 10, 500, 0);
  w->AddSample(late, d, 10, 540, 0);
  w->AddSample(onTime, d, 10, 0, 0);
  Bytes file = writeAndRead(*w, "edit.mp4");
  Box root = test::parseBoxes(file);
  auto traks = root.find("moov")->all("trak");
  const Box* elst = traks[0]->find("edts/elst");
  ASSERT_NE(elst, nullptr);
  EXPECT_EQ(Bytes(file.begin() + elst->offset + 12, file.begin() + elst->offset + elst->size),
            hexBytes("00000002 000001f4 ffffffff 00010000 00000050 00000000 00010000"));
  EXPECT_EQ(traks[1]->find("edts"), nullptr);
  // A one-sample track still gets its time-to-sample entry.
  const Box* stts = traks[1]->find("mdia/minf/stbl/stts");
  EXPECT_EQ(Bytes(file.begin() + stts->offset + 12, file.begin() + stts->offset + stts->size),
            hexBytes("00000001 00000001 00000000"));
}

TEST(Writer, HintTracksFollowTheirModeAndReferences) {
  auto w = MP4FileWriter::Create(3, 1, u"wt", u"7", 0, 1);
  uint32_t v1 = w->AddTrack(fourcc("vide"), 1);
  uint32_t v2 = w->AddTrack(fourcc("vide"), 1);
  uint32_t a = w->AddTrack(fourcc("soun"), 1);
  EXPECT_EQ(v1, 3u);  // its 'krts' hint is 4
  EXPECT_EQ(v2, 5u);  // no hint: only the first video track gets one
  EXPECT_EQ(a, 6u);   // its 'krau' hint is 7
  w->AddTrackDependency(v2, v1);
  uint8_t d[32] = {0x3C};
  w->AddSample(v1, d, 32, 0, 0);
  w->AddSample(a, d, 32, 0, 7);
  Bytes file = writeAndRead(*w, "hint.mp4");
  Box root = test::parseBoxes(file);
  auto traks = root.find("moov")->all("trak");
  ASSERT_EQ(traks.size(), 7u);  // three media, two hint, scene, OD
  const Box* dpnd = traks[1]->find("tref/dpnd");
  ASSERT_NE(dpnd, nullptr);
  EXPECT_EQ(be32(file, dpnd->offset + 8), v1);
  const Box* hintRefs = traks[3]->find("tref/hint");
  ASSERT_NE(hintRefs, nullptr);
  EXPECT_EQ(Bytes(file.begin() + hintRefs->offset + 8, file.begin() + hintRefs->offset + 16),
            hexBytes("00000003 00000005"));
  const Box* stsd = traks[3]->find("mdia/minf/stbl/stsd");
  EXPECT_EQ(typeName(stsd->children.at(0).type), "krts");
  // The video track's krmi carries the record table position of its hint.
  const Box* krsi = root.children[1].find("krti/krsi");
  uint32_t recordTable = be32(file, krsi->children[0].offset + 20);
  EXPECT_EQ(recordTable, stsd->children[0].offset + 20);
}

TEST(Writer, AmrFramesAreMaskedAndEmptyOnesSkipped) {
  auto w = recorderWriter(2);
  uint32_t amr = w->AddTrack(fourcc("soun"), 1);
  Bytes frame(31, 0xFF);
  EXPECT_TRUE(w->AddSample(amr, frame.data(), 0, 0, 7));
  EXPECT_TRUE(w->AddSample(amr, frame.data(), 31, 0, 7));    // 12.2: F0
  EXPECT_TRUE(w->AddSample(amr, frame.data(), 31, 20, 13));  // no mask beyond type 11
  EXPECT_EQ(frame.back(), 0xFF);  // the caller's frame is not touched
  Bytes file = writeAndRead(*w, "amr.mp4");
  Box root = test::parseBoxes(file);
  const Box& mdat = root.children[4];
  ASSERT_EQ(mdat.size, 8u + 62);
  EXPECT_EQ(file[mdat.offset + 8 + 30], 0xF0);
  EXPECT_EQ(file[mdat.offset + 8 + 61], 0xFF);
  const Box* stsd = root.find("moov")->all("trak")[0]->find("mdia/minf/stbl/stsd");
  ASSERT_EQ(stsd->children.size(), 2u);  // modes 7 and 13
  EXPECT_EQ(typeName(stsd->children[0].type), "mp4a");
}

// Each frame type keeps exactly the bits it fills in its last byte (the
// AMR standard's bit counts: 95, 103, 118, 134, 148, 159, 204, 244 for the
// speech modes; 39 for the AMR SID frame, 43, 38, 37 for types 9 to 11).
TEST(Writer, AmrLastByteKeepsTheBitsOfItsFrameType) {
  static const int kBits[12] = {95, 103, 118, 134, 148, 159, 204, 244, 39, 43, 38, 37};
  auto w = recorderWriter(2);
  uint32_t amr = w->AddTrack(fourcc("soun"), 1);
  for (uint32_t type = 0; type < 12; ++type) {
    Bytes frame(size_t((kBits[type] + 7) / 8), 0xFF);
    EXPECT_TRUE(w->AddSample(amr, frame.data(), uint32_t(frame.size()), 20 * type, type));
  }
  Bytes file = writeAndRead(*w, "amr_types.mp4");
  Box root = test::parseBoxes(file);
  const Box& mdat = root.children[4];
  size_t at = mdat.offset + 8;
  for (int type = 0; type < 12; ++type) {
    at += size_t((kBits[type] + 7) / 8);
    EXPECT_EQ(file[at - 2], 0xFF) << "type " << type;
    EXPECT_EQ(file[at - 1], uint8_t(0xFF << (8 - kBits[type] % 8))) << "type " << type;
  }
  EXPECT_EQ(at, mdat.offset + mdat.size);
}

TEST(Writer, MisuseIsReportedAndRefused) {
  auto w = recorderWriter();
  uint32_t v = w->AddTrack(fourcc("vide"), 1);
  EXPECT_EQ(w->AddTrack(fourcc("hint"), 0), 0u);  // leaves an empty mdat
  uint8_t d[4] = {};
  testing::internal::CaptureStderr();
  w->AddVideoSample(d, 4, 0, 0);
  w->AddAudioPacket(d, 4, 0, 0, 0);
  EXPECT_TRUE(w->AddSample(99, d, 4, 0, 0));
  std::string before = testing::internal::GetCapturedStderr();
  EXPECT_EQ(before,
            "ERROR: Wrong file type created - no video MediaAtom present\n"
            "ERROR: Wrong file type created - no audio MediaAtom present\n"
            "ERROR: MediaTrack99not found\n");
  Bytes file = writeAndRead(*w, "misuse.mp4");
  Box root = test::parseBoxes(file);
  EXPECT_EQ(root.children[5].size, 8u);

  testing::internal::CaptureStderr();
  EXPECT_TRUE(w->AddSample(v, d, 4, 40, 0));
  EXPECT_EQ(w->AddTrack(fourcc("soun"), 3), 0u);
  w->AddLayeredVideoSample(d, 4, 0, 0, 0);
  EXPECT_FALSE(w->WriteToFile(platform::utf8ToUtf16(test::scratchPath("again.mp4"))));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: Cannot add more data to file\n"
            "ERROR: Not allowed to modify file\n"
            "ERROR: Cannot add more data to file\n"
            "ERROR: File already written\n");
  EXPECT_FALSE(platform::fileExists(platform::utf8ToUtf16(test::scratchPath("again.mp4"))));
  EXPECT_EQ(test::readFile(test::scratchPath("misuse.mp4")), file);  // untouched

  auto other = recorderWriter();
  EXPECT_FALSE(other->WriteToFile(u"no/such/folder/out.mp4"));
  // Nothing was rendered: the recording can still go to another place.
  EXPECT_TRUE(other->WriteToFile(platform::utf8ToUtf16(test::scratchPath("late.mp4"))));
}

TEST(Writer, ShortDecoderConfigAndVideoParameters) {
  auto w = recorderWriter(1);
  uint32_t v = w->AddTrack(fourcc("vide"), 1);
  std::vector<uint8_t> tiny{0, 0, 1};  // heap: a read past it would show under ASan
  w->SetDecoderConfig(tiny.data(), 3, v);
  std::vector<uint8_t> vos{0, 0, 1, 0xB0, 0x08, 0x21};
  w->SetDecoderConfig(vos.data(), 6, v);
  w->SetVideoParameters(v, 12.5f, 3, 176, 144);
  std::vector<uint8_t> huge((1 << 20) + 1, 0x77);
  testing::internal::CaptureStderr();
  w->SetDecoderConfig(huge.data(), static_cast<uint32_t>(huge.size()), v);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: Decoder configuration too large, ignored\n");
  Bytes file = writeAndRead(*w, "params.mp4");
  Box root = test::parseBoxes(file);
  const Box* iods = root.find("moov/iods");
  EXPECT_EQ(file[iods->offset + 12 + 2 + 2 + 3], 0x21);  // visual profile level
  const Box* vinf = root.find("moov/trak/udta/vinf");
  EXPECT_EQ(Bytes(file.begin() + vinf->offset + 12, file.begin() + vinf->offset + 16), hexBytes("0c 32 0003"));
}

TEST(Writer, SpoolNamesCounterAndCleanup) {
  std::string host = platform::hostName();
  std::u16string stem = u"wt" + (host.empty() ? std::u16string(u"temp") : platform::ansiToUtf16(host));
  auto w = MP4FileWriter::Create(3, 2, u"wt", u"7", 0, 0);
  auto* writer = static_cast<MP4FileWriter*>(w.get());
  w->AddTrack(fourcc("vide"), 1);
  const auto& mdats = writer->mediaData();
  ASSERT_EQ(mdats.size(), 3u);
  std::u16string first = mdats[0]->spoolName();
  EXPECT_EQ(first.substr(0, stem.size()), stem);
  EXPECT_EQ(first.substr(first.size() - 7), u"_7.mdat");
  EXPECT_TRUE(platform::fileExists(first));
  std::u16string videoSpool = mdats[2]->spoolName();
  EXPECT_NE(videoSpool, first);
  writeAndRead(*w, "spool.mp4");
  w.reset();
  EXPECT_FALSE(platform::fileExists(first));
  EXPECT_FALSE(platform::fileExists(videoSpool));
  // After a render the counter starts again.
  auto next = MP4FileWriter::Create(3, 2, u"wt", u"7", 0, 0);
  EXPECT_EQ(static_cast<MP4FileWriter*>(next.get())->mediaData()[0]->spoolName(), first);
}

TEST(Writer, SpoolNamesStayDistinctAcrossThreads) {
  std::mutex m;
  std::set<std::u16string> names;
  std::vector<std::thread> threads;
  std::vector<std::unique_ptr<MediaDataAtom>> atoms;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 5; ++i) {
        auto a = std::make_unique<MediaDataAtom>(u"th", u"1", MediaDataAtom::kSpooled);
        std::lock_guard<std::mutex> lock(m);
        names.insert(a->spoolName());
        atoms.push_back(std::move(a));
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(names.size(), 20u);
  for (const auto& n : names) {
    size_t digits = n.find(u'_') - 1;
    EXPECT_TRUE(n[digits] >= u'0' && n[digits] <= u'9');  // decimal counter
  }
  MediaDataAtom::resetSpoolCounter();
}

TEST(Writer, RandomUseKeepsEverySizeCurrent) {
  std::mt19937 rng(5);
  auto w = MP4FileWriter::Create(3, 2, u"rnd", u"2", 0, 1);
  const auto* writer = static_cast<const MP4FileWriter*>(w.get());
  std::vector<uint32_t> tracks;
  std::vector<uint8_t> data(3000, 0x42);
  uint32_t t = 0;
  for (int step = 0; step < 120; ++step) {
    switch (rng() % 6) {
      case 0:
        if (tracks.size() < 4)
          tracks.push_back(w->AddTrack(rng() % 2 ? fourcc("vide") : fourcc("soun"), 1 + rng() % 3));
        break;
      case 1:
        if (!tracks.empty())
          w->SetDecoderConfig(data.data(), rng() % 300, tracks[rng() % tracks.size()]);
        break;
      case 2: w->SetContentText2(std::u16string(rng() % 40, u'x')); break;
      default:
        if (!tracks.empty()) {
          t += rng() % 80;
          w->AddSample(tracks[rng() % tracks.size()], data.data(), rng() % 3000, t, rng() % 16);
        }
    }
    ASSERT_NO_FATAL_FAILURE(test::expectSizesCurrent(*writer->movie())) << "step " << step;
  }
  Bytes file = writeAndRead(*w, "random.mp4");
  Box root = test::parseBoxes(file);
  uint64_t sum = 0;
  for (const Box& b : root.children) sum += b.size;
  EXPECT_EQ(sum, file.size());
  EXPECT_EQ(writer->computeTotalSize(), file.size());
}

TEST(Writer, LegacyLayoutHasNoFtypAndNoMovieUserData) {
  auto w = MP4FileWriter::Create(1, 2, u"wt", u"7", 1, 0);
  w->AddTrack(fourcc("vide"), 1);
  Bytes file = writeAndRead(*w, "legacy.mp4");
  Box root = test::parseBoxes(file);
  EXPECT_EQ(typeName(root.children[0].type), "udta");
  EXPECT_EQ(root.find("moov/udta"), nullptr);
}

#ifndef _WIN32
// A file-size limit like a full disk: the spool write fails, then the render.
TEST(Writer, FileSizeLimitFailsSamplesAndTheWrite) {
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto previous = signal(SIGXFSZ, SIG_IGN);
  platform::deleteFile(u"failure.txt");
  auto w = recorderWriter(1);
  uint32_t v = w->AddTrack(fourcc("vide"), 1);
  struct rlimit limit = old;
  limit.rlim_cur = 20000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  Bytes frame(3000, 1);
  int stored = 0;
  bool failed = false;
  for (uint32_t i = 0; i < 10 && !failed; ++i) {
    failed = !w->AddSample(v, frame.data(), 3000, i * 40, 0);
    stored += failed ? 0 : 1;
  }
  EXPECT_TRUE(failed);
  std::ifstream failure("failure.txt");
  std::string line;
  std::getline(failure, line);
  EXPECT_EQ(line, "Error writing media data sample");
  failure.close();
  platform::deleteFile(u"failure.txt");
  EXPECT_FALSE(w->AddSample(v, frame.data(), 3000, 1000, 0));  // nothing more after a failure
  EXPECT_FALSE(platform::fileExists(u"failure.txt"));         // and it is reported once
  std::string out = test::scratchPath("limited.mp4");
  bool wrote = w->WriteToFile(platform::utf8ToUtf16(out));
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, previous);
  EXPECT_FALSE(wrote);
  EXPECT_FALSE(platform::fileExists(platform::utf8ToUtf16(out)));
  // Only what reached the spool was indexed.
  const MP4FileWriter* writer = static_cast<const MP4FileWriter*>(w.get());
  const MediaDataAtom* mdat = writer->mediaData()[2].get();
  uint32_t indexed = 0;
  const SampleSizeAtom* stsz = writer->movie()->mediaTracks()[0]->mdia()->stbl()->stsz();
  for (uint32_t i = 0; i < stsz->sampleCount(); ++i) indexed += static_cast<uint32_t>(stsz->sampleSize(i));
  EXPECT_EQ(mdat->size(), 8u + indexed);
  EXPECT_GE(stsz->sampleCount(), static_cast<uint32_t>(stored));
}

// The moov goes out last: a limit that stops it leaves no file behind.
TEST(Writer, FailureWhileTheMovieIsWrittenLeavesNoFile) {
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto previous = signal(SIGXFSZ, SIG_IGN);
  auto w = recorderWriter(1);
  uint32_t v = w->AddTrack(fourcc("vide"), 1);
  Bytes frame(100, 1);
  for (uint32_t i = 0; i < 500; ++i) ASSERT_TRUE(w->AddSample(v, frame.data(), 100, i * 40, 0));
  uint64_t total = static_cast<const MP4FileWriter*>(w.get())->computeTotalSize();
  struct rlimit limit = old;
  limit.rlim_cur = total - 200;  // all the media fits, the moov does not
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  std::string out = test::scratchPath("nomoov.mp4");
  bool wrote = w->WriteToFile(platform::utf8ToUtf16(out));
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, previous);
  EXPECT_FALSE(wrote);
  EXPECT_FALSE(platform::fileExists(platform::utf8ToUtf16(out)));
}
#endif

}  // namespace
}  // namespace fileformat
