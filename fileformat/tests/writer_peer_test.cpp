// ffmpeg and ffprobe judge whole files made through MP4WriterApi from
// streams ffmpeg encoded at test time.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <sstream>

#include "elementary_streams.h"
#include "fileformat/render.h"
#include "test_util.h"

namespace fileformat {
namespace {

using test::be32;
using test::Box;
using test::Bytes;
using test::typeName;

std::string sh(const std::string& cmd) {
  std::string out;
  int rc = test::runCommand(cmd, &out);
  EXPECT_EQ(rc, 0) << cmd << "\n" << out;
  return out;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> r;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) {
    if (!l.empty()) r.push_back(l);
  }
  return r;
}

// "size md5" of each packet, as framemd5 prints them.
std::vector<std::string> frameChecksums(const std::string& input, const std::string& map) {
  std::vector<std::string> r;
  for (const std::string& l :
       lines(sh("ffmpeg -v error -i '" + input + "' " + map + " -c copy -f framemd5 -"))) {
    if (l[0] == '#') continue;
    size_t size = l.rfind(',', l.rfind(',') - 1);
    r.push_back(l.substr(size + 1));
  }
  return r;
}

class WriterPeer : public testing::Test {
 protected:
  void SetUp() override {
    if (!test::peersAvailable()) GTEST_SKIP() << "ffmpeg not reachable";
  }
};

TEST_F(WriterPeer, Mpeg4VideoAndAacAreReadAndDecoded) {
  std::string video = test::scratchPath("in.m4v"), audio = test::scratchPath("in.adts");
  std::string out = test::scratchPath("av.mp4");
  sh("ffmpeg -v error -y -f lavfi -i testsrc=size=176x144:rate=15 -frames:v 40 -c:v mpeg4 -bf 0 "
     "-g 12 -f m4v '" + video + "'");
  sh("ffmpeg -v error -y -f lavfi -i sine=frequency=500:sample_rate=16000 -t 2.5 -c:a aac "
     "-b:a 24k -f adts '" + audio + "'");
  tools::Recording in;
  in.video = video;
  in.aac = audio;
  tools::RecordResult r = tools::recordMp4(out, in);
  ASSERT_TRUE(r.ok) << r.error;

  tools::Bytes config;
  auto samples = tools::splitVideo(tools::readAll(video), 15, &config);
  ASSERT_EQ(samples.size(), 40u);

  std::string streams = sh("ffprobe -v error -show_entries stream=codec_name,nb_frames -of csv=p=0 '" + out + "'");
  EXPECT_EQ(lines(streams)[0], "mpeg4,40");
  EXPECT_EQ(lines(streams)[1].substr(0, 4), "aac,");

  // Packets: sizes, times and key frames as the recorder gave them.
  auto packets = lines(sh("ffprobe -v error -select_streams v -show_entries packet=pts,size,flags -of csv=p=0 '" + out + "'"));
  ASSERT_EQ(packets.size(), samples.size());
  for (size_t i = 0; i < samples.size(); ++i) {
    std::ostringstream want;
    want << samples[i].time << "," << samples[i].data.size() << "," << (samples[i].flag ? "__" : "K_");
    EXPECT_EQ(packets[i], want.str()) << i;
  }
  // The same frames, byte for byte: stsc, stco and stsz agree with the data.
  EXPECT_EQ(frameChecksums(out, "-map 0:v"), frameChecksums(video, ""));
  // The AAC frames, given back ADTS headers, are the encoder's stream again.
  std::string back = test::scratchPath("back.adts");
  sh("ffmpeg -v error -y -i '" + out + "' -map 0:a -c copy -f adts '" + back + "'");
  EXPECT_EQ(test::readFile(back), test::readFile(audio));
  // Both decode without a complaint.
  EXPECT_EQ(sh("ffmpeg -v error -i '" + out + "' -map 0:v -map 0:a -f null -"), "");
}

// AMR frames of random bits in the storage format; ffmpeg's own decoder
// accepts any payload, which is all this test needs.
Bytes makeAmr(const std::vector<int>& modes, std::vector<Bytes>* payloads) {
  static const int kBytes[] = {12, 13, 15, 17, 19, 20, 26, 31};
  std::mt19937 rng(99);
  Bytes file{'#', '!', 'A', 'M', 'R', '\n'};
  for (int m : modes) {
    Bytes p(kBytes[m]);
    for (auto& b : p) b = static_cast<uint8_t>(rng());
    file.push_back(static_cast<uint8_t>(m << 3 | 0x04));
    file.insert(file.end(), p.begin(), p.end());
    payloads->push_back(p);
  }
  return file;
}

// The audio track's samples back out of the file, by its sample tables,
// each with the mode of the description that stsc names for it.
std::vector<std::pair<int, Bytes>> extractAmr(const Bytes& file) {
  std::vector<std::pair<int, Bytes>> out;
  Box root = test::parseBoxes(file);
  const Box* stbl = root.find("moov/trak/mdia/minf/stbl");
  if (!stbl) return out;
  auto field = [&](const char* box, size_t i) { return be32(file, stbl->find(box)->offset + i); };
  std::vector<int> modes;
  for (const Box& entry : stbl->find("stsd")->children) {
    for (size_t i = entry.offset; i + 6 < entry.offset + entry.size; ++i) {
      if (be32(file, i) == fourcc("krmm")) {
        modes.push_back(file[i + 5] & 0x0F);
        break;
      }
    }
  }
  uint32_t common = field("stsz", 12), count = field("stsz", 16);
  uint32_t runs = field("stsc", 12), chunks = field("stco", 12);
  uint32_t sample = 0;
  for (uint32_t c = 0; c < chunks && sample < count; ++c) {
    uint32_t perChunk = 0, description = 0;
    for (uint32_t r = 0; r < runs; ++r) {
      if (field("stsc", 16 + 12 * r) <= c + 1) {
        perChunk = field("stsc", 20 + 12 * r);
        description = field("stsc", 24 + 12 * r);
      }
    }
    uint32_t at = field("stco", 16 + 4 * c);
    for (uint32_t k = 0; k < perChunk && sample < count; ++k, ++sample) {
      uint32_t size = common ? common : field("stsz", 20 + 4 * sample);
      out.push_back({modes.at(description - 1), Bytes(file.begin() + at, file.begin() + at + size)});
      at += size;
    }
  }
  return out;
}

TEST_F(WriterPeer, AmrFramesComeBackAndDecode) {
  std::vector<int> modes;
  for (int i = 0; i < 50; ++i) modes.push_back(i % 7 == 3 ? 5 : 7);
  std::vector<Bytes> payloads;
  std::string amrIn = test::scratchPath("in.amr"), out = test::scratchPath("amr.mp4");
  test::writeFile(amrIn, makeAmr(modes, &payloads));
  tools::Recording in;
  in.amr = amrIn;
  tools::RecordResult r = tools::recordMp4(out, in);
  ASSERT_TRUE(r.ok) << r.error;

  auto frames = extractAmr(test::readFile(out));
  ASSERT_EQ(frames.size(), modes.size());
  Bytes storage{'#', '!', 'A', 'M', 'R', '\n'};
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].first, modes[i]) << i;
    Bytes want = payloads[i];
    want.back() &= modes[i] == 5 ? 0xFE : 0xF0;  // the bits the mode leaves unused are cleared
    EXPECT_EQ(frames[i].second, want) << i;
    storage.push_back(static_cast<uint8_t>(frames[i].first << 3 | 0x04));
    storage.insert(storage.end(), frames[i].second.begin(), frames[i].second.end());
  }
  std::string rewrapped = test::scratchPath("back.amr");
  test::writeFile(rewrapped, storage);
  std::string pcm = test::scratchPath("back.pcm");
  sh("ffmpeg -v error -y -f amr -i '" + rewrapped + "' -f s16le '" + pcm + "'");
  EXPECT_EQ(test::readFile(pcm).size(), modes.size() * 160 * 2);
}

}  // namespace
}  // namespace fileformat
