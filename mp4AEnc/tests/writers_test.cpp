// The output formats. Formats 0, 3 and others; ADTS headers; real AAC
// frames (made by ffmpeg, their ADTS headers taken off) re-wrapped by our
// ADTS, ADIF, LATM/LOAS and MP4 writers decode to the original's PCM in
// ffmpeg and faad; the silent double's frames in ADTS decode as silence.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "mp4aenc/mp4aenc.h"
#include "mp4aenc/prconfig.h"
#include "peer.h"
#include "silent_stages.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string Message(ErrorRecord* e) {
  std::string s = e ? e->message : "(none)";
  error_free(e);
  return s;
}

Bytes ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}

void WriteFile(const std::string& path, const Bytes& b) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

std::string Fixture(const std::string& name) { return std::string(SUITE_TEST_DATA_DIR) + "/tests/data/" + name; }

struct AdtsStream {
  int objectType = 0, samplingIndex = 0, channels = 0;
  std::vector<Bytes> frames;  // raw data blocks
};

// Splits an ADTS stream into its raw frames (one block per frame).
AdtsStream ParseAdts(const Bytes& b) {
  AdtsStream s;
  size_t at = 0;
  while (at + 7 <= b.size()) {
    EXPECT_EQ(b[at], 0xFF);
    EXPECT_EQ(b[at + 1] & 0xF0, 0xF0);
    const bool crc = !(b[at + 1] & 1);
    s.objectType = ((b[at + 2] >> 6) & 3) + 1;
    s.samplingIndex = (b[at + 2] >> 2) & 15;
    s.channels = ((b[at + 2] & 1) << 2) | (b[at + 3] >> 6);
    const size_t length = size_t(((b[at + 3] & 3) << 11) | (b[at + 4] << 3) | (b[at + 5] >> 5));
    EXPECT_EQ(b[at + 6] & 3, 0);
    const size_t header = crc ? 9 : 7;
    if (length < header || at + length > b.size()) break;
    s.frames.emplace_back(b.begin() + long(at + header), b.begin() + long(at + length));
    at += length;
  }
  EXPECT_EQ(at, b.size());
  return s;
}

// A writer over one layer, fed frame by frame through a bit buffer.
struct Rewrap {
  Mp4AudioHeader header = {};
  LayerInfo info[kMp4Layers] = {};
  AacChannelMap map = {};
  Mp4BitstreamSetup setup = {};
  BitBuffer* buffer = bitbuf_create(8 * 8192 * 4);
  Mp4BitstreamWriter* writer = nullptr;

  Rewrap(int objectType, long rate, int channels, long bitrate) {
    EXPECT_EQ(mp4_audio_header_fill(&header, objectType, rate, channels, 1024), nullptr);
    EXPECT_EQ(aac_channel_map_build(&map, channels, objectType == 4), nullptr);
    info[0] = {int32_t(rate), int32_t(bitrate), 1024, int32_t(bitrate * 1024 / rate), 0, objectType, &header};
    setup.layers = info;
    setup.map = &map;
  }
  ~Rewrap() {
    mp4aenc_bitstream_close(writer);
    bitbuf_free(buffer);
  }
  ErrorRecord* Open(int format) { return mp4aenc_bitstream_open(&writer, &setup, format); }
  void Push(const Bytes& frame) {
    for (uint8_t v : frame) bitbuf_write_bits(buffer, v, 8);
    ASSERT_EQ(bitbuf_push_count(buffer, long(frame.size()) * 8), nullptr);
  }
  // Writes every frame, one call each; the bytes out.
  Bytes WriteAll(const std::vector<Bytes>& frames) {
    Bytes out;
    for (const Bytes& f : frames) {
      Push(f);
      BitBuffer* layers[kMp4Layers] = {buffer};
      uint8_t bytes[16384];
      uint32_t n = 0;
      EXPECT_EQ(Message(mp4aenc_bitstream_write(writer, layers, nullptr, bytes, sizeof bytes, &n)), "(none)");
      out.insert(out.end(), bytes, bytes + n);
    }
    return out;
  }
};

std::string Decode(const std::string& tool, const std::string& input, const std::string& options = "") {
  int status = 0;
  std::string pcm;
  if (tool == "ffmpeg")
    pcm = RunPeer("ffmpeg -nostdin -v error -xerror " + options + " -i '" + input + "' -f s16le - 2>/dev/null", &status);
  else
    pcm = RunPeer("faad -q -w -f 2 '" + input + "' 2>/dev/null", &status);
  EXPECT_EQ(status, 0) << tool << " on " << input;
  return pcm;
}

TEST(Writers, FormatZeroWritesNothingAndThreeAndSixAreRefused) {
  Rewrap r(2, 44100, 2, 96000);
  ASSERT_EQ(Message(r.Open(0)), "(none)");
  EXPECT_EQ(mp4aenc_bitstream_format(r.writer), 0);
  r.Push(Bytes(20, 0x55));
  BitBuffer* layers[kMp4Layers] = {r.buffer};
  uint8_t out[64];
  uint32_t n = 7;
  EXPECT_EQ(Message(mp4aenc_bitstream_write(r.writer, layers, nullptr, out, sizeof out, &n)), "(none)");
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(bitbuf_pending_frames(r.buffer), 1);  // left for the caller to drain
  EXPECT_EQ(header_bits(r.writer), 0);
  EXPECT_EQ(Message(mp4aenc_bitstream_close(r.writer)), "(none)");
  r.writer = nullptr;

  const struct {
    int format;
    const char* message;
  } refused[] = {{3, "File format not yet supported"}, {6, "File format not supported"}, {-1, "File format not supported"}};
  for (const auto& c : refused) {
    Mp4BitstreamWriter* w = nullptr;
    EXPECT_EQ(Message(mp4aenc_bitstream_open(&w, &r.setup, c.format)), c.message);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(Message(mp4aenc_bitstream_write(w, layers, nullptr, out, sizeof out, &n)), c.message);
    EXPECT_EQ(Message(mp4aenc_bitstream_close(w)), "(none)");
  }
}

TEST(Writers, AdtsHeadersAreSevenOrNineBytesWithTheirCrc) {
  for (int crc : {0, 1}) {
    Rewrap r(2, 44100, 2, 96000);
    r.setup.crc = crc;
    ASSERT_EQ(Message(r.Open(2)), "(none)");
    EXPECT_EQ(header_bits(r.writer), crc ? 72 : 56);
    const Bytes frame = {0x21, 0x10, 0x04, 0x60, 0x8C, 0x1C};
    const Bytes out = r.WriteAll({frame});
    ASSERT_EQ(out.size(), (crc ? 9u : 7u) + frame.size());
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[1], crc ? 0xF8 : 0xF9);  // ID 1, layer 0, protection_absent
    EXPECT_EQ(out[2], 0x50);                // LC, index 4, private 0, channels 2 (high bit)
    EXPECT_EQ(out[3] >> 6, 2);
    const size_t length = size_t(((out[3] & 3) << 11) | (out[4] << 3) | (out[5] >> 5));
    EXPECT_EQ(length, out.size());
    EXPECT_EQ(out[5] & 0x1F, 0x1F);  // fullness 0x7FF without a reservoir figure
    EXPECT_EQ(out[6], 0xFC);
    EXPECT_EQ(Bytes(out.end() - long(frame.size()), out.end()), frame);
  }
}

// Bit string of bits [from, to) of a byte string.
std::string BitString(const Bytes& b, size_t from, size_t to) {
  std::string s;
  for (size_t i = from; i < to; ++i) s += char('0' + ((b[i / 8] >> (7 - i % 8)) & 1));
  return s;
}

// CRC-16 (0x8005, register from all ones, most significant bit first) of a
// bit string, computed by python.
std::string PythonCrc(const std::string& bits) {
  int status = 0;
  const std::string v = RunPeer(
      "/usr/bin/python3 -c \"import sys\nr=0xFFFF\nfor c in sys.argv[1]:\n t=r>>15\n r=(r<<1)&0xFFFF\n"
      " r^=0x8005 if t!=int(c) else 0\nprint('%04x'%r)\" " + bits,
      &status);
  EXPECT_EQ(status, 0);
  return v;
}

// With protection, the error check covers the 56 header bits, the whole
// program configuration element after its id, and the regions the
// multiplexer marked in the frame: each region's first bits as written, the
// rest of its length as zeros.
TEST(Writers, AdtsCrcCoversTheHeaderThePceAndTheMarkedRegions) {
  if (!PeerAvailable()) GTEST_SKIP() << "python peer runs on the Linux host only";
  for (const char* speakers : {static_cast<const char*>(nullptr), "FF"}) {
    Rewrap r(2, 44100, 2, 96000);
    r.setup.crc = 1;
    r.setup.speakers = speakers;
    ASSERT_EQ(Message(r.Open(2)), "(none)");
    // 48 bits: an id, a 192-bit region closed after 27 bits, a region of 8
    // bits over 16 written ones, 2 bits outside.
    BitBuffer* b = r.buffer;
    std::mt19937 rng(7);
    bitbuf_write_bits(b, 1, 3);
    bitbuf_crc_set_region(b, 192);
    bitbuf_write_bits(b, rng() & 0x7FFFFFF, 27);
    bitbuf_crc_close_region(b);
    bitbuf_crc_set_region(b, 8);
    bitbuf_write_bits(b, rng() & 0xFFFF, 16);
    bitbuf_crc_close_region(b);
    bitbuf_write_bits(b, 3, 2);
    ASSERT_EQ(bitbuf_region_count(b), 2);
    ASSERT_EQ(bitbuf_push_count(b, 48), nullptr);
    BitBuffer* layers[kMp4Layers] = {b};
    uint8_t bytes[256];
    uint32_t n = 0;
    ASSERT_EQ(Message(mp4aenc_bitstream_write(r.writer, layers, nullptr, bytes, sizeof bytes, &n)), "(none)");
    const Bytes out(bytes, bytes + n);
    const size_t payload = (n - 6) * 8;  // the frame's first bit
    std::string covered = BitString(out, 0, 56);
    if (speakers) covered += BitString(out, 72 + 3, payload);
    covered += BitString(out, payload + 3, payload + 30) + std::string(165, '0');
    covered += BitString(out, payload + 30, payload + 38);
    char ours[8];
    std::snprintf(ours, sizeof ours, "%02x%02x\n", out[7], out[8]);
    EXPECT_EQ(PythonCrc(covered), ours) << (speakers ? "with" : "without") << " a program configuration";
    EXPECT_EQ(bitbuf_region_count(b), 0);  // taken with the frame
  }
}

TEST(Writers, AdtsOptionsAndRefusals) {
  {
    Rewrap r(2, 44100, 2, 96000);
    r.setup.blocksPerFrame = 5;
    EXPECT_EQ(Message(r.Open(2)), "wrong number of blocks in frame");
  }
  {
    Rewrap r(2, 44100, 2, 96000);
    r.setup.blocksPerFrame = 2;
    r.setup.crc = 1;
    EXPECT_EQ(Message(r.Open(2)), "CRC check in combination with blocksPerFrame > 1 not supported");
  }
  {
    Rewrap r(2, 44100, 2, 96000);
    r.setup.speakers = "FX";
    EXPECT_EQ(Message(r.Open(2)), "Error in spk format string!");
  }
  {
    Rewrap r(2, 44100, 2, 96000);
    r.setup.speakers = "FF";
    r.setup.matrixMixdown = 1;
    EXPECT_EQ(Message(r.Open(2)), "Matrix mixdown is only for 5 or 6 channels allowed!");
  }
  {
    // Odd frame lengths cannot follow a byte-aligned header.
    Rewrap r(2, 44100, 2, 96000);
    ASSERT_EQ(Message(r.Open(2)), "(none)");
    bitbuf_write_bits(r.buffer, 0x1234, 13);
    bitbuf_push_count(r.buffer, 13);
    BitBuffer* layers[kMp4Layers] = {r.buffer};
    uint8_t out[64];
    uint32_t n = 0;
    EXPECT_EQ(Message(mp4aenc_bitstream_write(r.writer, layers, nullptr, out, sizeof out, &n)),
              "ADTS stream not byte alligned");
    EXPECT_EQ(bitbuf_pending_frames(r.buffer), 1);  // untouched
  }
  {
    // Two blocks per frame: the group goes out with its second block, its
    // length covering both; a group cut short is handed out on request.
    Rewrap r(2, 44100, 1, 64000);
    r.setup.blocksPerFrame = 2;
    long fill = 6400;
    ASSERT_EQ(Message(r.Open(2)), "(none)");
    r.Push(Bytes(10, 1));
    BitBuffer* layers[kMp4Layers] = {r.buffer};
    uint8_t out[256];
    uint32_t n = 9;
    ASSERT_EQ(Message(mp4aenc_bitstream_write(r.writer, layers, &fill, out, sizeof out, &n)), "(none)");
    EXPECT_EQ(n, 0u);
    r.Push(Bytes(12, 2));
    ASSERT_EQ(Message(mp4aenc_bitstream_write(r.writer, layers, &fill, out, sizeof out, &n)), "(none)");
    ASSERT_EQ(n, 7u + 10u + 12u);
    EXPECT_EQ(size_t(((out[3] & 3) << 11) | (out[4] << 3) | (out[5] >> 5)), 29u);
    EXPECT_EQ(out[6] & 3, 1);  // two blocks
    EXPECT_EQ(((out[5] & 0x1F) << 6) | (out[6] >> 2), 200);  // 6400 / 32 per channel
    r.Push(Bytes(5, 3));
    ASSERT_EQ(Message(mp4aenc_bitstream_write(r.writer, layers, &fill, out, sizeof out, &n)), "(none)");
    EXPECT_EQ(n, 0u);
    BitBuffer* none[kMp4Layers] = {};
    ASSERT_EQ(Message(mp4aenc_bitstream_write(r.writer, none, nullptr, out, sizeof out, &n)), "(none)");
    ASSERT_EQ(n, 12u);
    EXPECT_EQ(out[6] & 3, 0);  // one block after all
  }
}

TEST(Writers, ProgramConfigurationSpeakerLists) {
  AacChannelMap map;
  ASSERT_EQ(aac_channel_map_build(&map, 6, 0), nullptr);
  ProgramConfig pce = {};
  ASSERT_EQ(Message(pce_by_configuration(&pce, &map, 6)), "(none)");
  EXPECT_EQ(pce.frontCount, 2);
  EXPECT_EQ(pce.backCount, 1);
  EXPECT_EQ(pce.lfeCount, 1);
  // Sizes: 4+2+4+4+4+4+2+3+4+1+1+1 = 34 fixed bits, 5 per front/side/back
  // element, 4 per LFE, alignment, 8 for the comment length.
  EXPECT_EQ(pce_bits(&pce, 0), 34 + 15 + 4 + 3 + 8);
  const struct {
    int channels, configuration;
    const char* message;
  } cases[] = {{2, 1, "wrong syntactic element for this configuration"},
               {1, 2, "this configuration contains two speakers"},
               {5, 6, "configuration must contain an LFE"},
               {2, 7, "this speaker mapping is not yet supported"},
               {4, 4, "(none)"}};
  for (const auto& c : cases) {
    ASSERT_EQ(aac_channel_map_build(&map, c.channels, 0), nullptr);
    EXPECT_EQ(Message(pce_by_configuration(&pce, &map, c.configuration)), c.message) << c.configuration;
  }
  // A pair where a single front speaker must lead.
  ASSERT_EQ(aac_channel_map_build(&map, 3, 0), nullptr);
  std::swap(map.elements[0], map.elements[1]);
  EXPECT_EQ(Message(pce_by_configuration(&pce, &map, 3)), "CPE may not be the first element in this configuration");
  // Speaker letters: front, side, back by each element's first channel.
  ASSERT_EQ(aac_channel_map_build(&map, 5, 0), nullptr);
  ASSERT_EQ(Message(pce_from_speakers(&pce, &map, "FFFSS")), "(none)");
  EXPECT_EQ(pce.frontCount, 2);
  EXPECT_EQ(pce.sideCount, 1);
  ASSERT_EQ(Message(pce_by_element_type(&pce, &map)), "(none)");
  EXPECT_EQ(pce.frontCount, 1);
  EXPECT_EQ(pce.sideCount, 2);
}

TEST(Writers, AudioHeaderRecord) {
  Mp4AudioHeader h;
  ASSERT_EQ(mp4_audio_header_fill(&h, 2, 44100, 2, 1024), nullptr);
  EXPECT_EQ(h.bits, 16);
  ASSERT_EQ(mp4_audio_header_fill(&h, 4, 7350, 8, 960), nullptr);
  // 4, 15, 7350 in 24 bits, 7 for 8 channels, frame length flag 1.
  EXPECT_EQ(h.bits, 5 + 4 + 24 + 4 + 3);
  EXPECT_EQ(h.bytes[0], (4 << 3) | 7);
  EXPECT_EQ(h.bytes[1] >> 7, 1);
  for (int channels : {7, 9, -1}) EXPECT_EQ(Message(mp4_audio_header_fill(&h, 2, 44100, channels, 1024)), "Invalid channel number");
}

struct Source {
  const char* file;
  long rate;
  long bitrate;
};
const Source kSources[] = {{"tone_stereo.aac", 44100, 96000}, {"tone_mono.aac", 22050, 32000}};

TEST(Writers, RealAacRewrappedAsAdtsDecodesToTheOriginal) {
  for (const Source& s : kSources) {
    const Bytes original = ReadFile(Fixture(s.file));
    const AdtsStream in = ParseAdts(original);
    ASSERT_GT(in.frames.size(), 10u);
    for (int crc : {0, 1}) {
      Rewrap r(in.objectType, s.rate, in.channels, s.bitrate);
      r.setup.crc = crc;
      ASSERT_EQ(Message(r.Open(2)), "(none)");
      const Bytes ours = r.WriteAll(in.frames);
      const AdtsStream back = ParseAdts(ours);
      EXPECT_EQ(back.frames, in.frames);
      EXPECT_EQ(back.channels, in.channels);
      if (!PeerAvailable()) continue;
      const std::string path = ScratchPath(std::string("adts_") + std::to_string(crc) + "_" + s.file);
      WriteFile(path, ours);
      // Header CRCs are not checked: the payload regions are the
      // multiplexer's, which real frames here do not carry.
      for (const char* tool : {"ffmpeg", "faad"}) {
        if (crc && std::string(tool) == "faad") continue;
        const std::string a = Decode(tool, Fixture(s.file)), b = Decode(tool, path);
        EXPECT_GT(a.size(), 20000u);
        EXPECT_TRUE(a == b) << tool << " " << s.file << " crc " << crc;
      }
    }
  }
}

TEST(Writers, AdtsWithAProgramConfigurationFromSpeakers) {
  const AdtsStream in = ParseAdts(ReadFile(Fixture("tone_stereo.aac")));
  Rewrap r(2, 44100, 2, 96000);
  r.setup.speakers = "FF";
  ASSERT_EQ(Message(r.Open(2)), "(none)");
  const Bytes ours = r.WriteAll(in.frames);
  const AdtsStream back = ParseAdts(ours);
  ASSERT_EQ(back.frames.size(), in.frames.size());
  EXPECT_EQ(back.channels, 0);  // the configuration travels in the element
  // id_syn_ele 5 leads each frame; the frame follows the element unchanged.
  EXPECT_EQ(back.frames[0][0] >> 5, 5);
  const size_t element = back.frames[0].size() - in.frames[0].size();
  EXPECT_EQ(Bytes(back.frames[0].begin() + long(element), back.frames[0].end()), in.frames[0]);
  if (!PeerAvailable()) return;
  const std::string path = ScratchPath("adts_pce.aac");
  WriteFile(path, ours);
  const std::string a = Decode("ffmpeg", Fixture("tone_stereo.aac")), b = Decode("ffmpeg", path);
  EXPECT_GT(a.size(), 20000u);
  EXPECT_TRUE(a == b) << a.size() << " " << b.size();
}

TEST(Writers, RealAacAsAdifDecodesInFaad) {
  for (const Source& s : kSources) {
    const AdtsStream in = ParseAdts(ReadFile(Fixture(s.file)));
    Rewrap r(in.objectType, s.rate, in.channels, s.bitrate);
    ASSERT_EQ(Message(r.Open(1)), "(none)");
    const Bytes ours = r.WriteAll(in.frames);
    ASSERT_GT(ours.size(), 4u);
    EXPECT_EQ(std::string(ours.begin(), ours.begin() + 4), "ADIF");
    if (!PeerAvailable()) continue;
    const std::string path = ScratchPath(std::string("adif_") + s.file);
    WriteFile(path, ours);
    const std::string a = Decode("faad", Fixture(s.file)), b = Decode("faad", path);
    EXPECT_GT(a.size(), 20000u);
    EXPECT_TRUE(a == b) << s.file << " " << a.size() << " " << b.size();
  }
}

TEST(Writers, RealAacAsLoasDecodesInFfmpeg) {
  for (const Source& s : kSources) {
    const AdtsStream in = ParseAdts(ReadFile(Fixture(s.file)));
    Rewrap r(in.objectType, s.rate, in.channels, s.bitrate);
    ASSERT_EQ(Message(r.Open(4)), "(none)");
    EXPECT_EQ(header_latm_config_period(r.writer), 8);
    EXPECT_GT(header_bits_for_length(r.writer, 3000), 24 + 8);
    const Bytes ours = r.WriteAll(in.frames);
    // Sync frames back to back: 0x2B7 and the length of each.
    size_t at = 0, frames = 0;
    while (at + 3 <= ours.size()) {
      ASSERT_EQ((ours[at] << 3) | (ours[at + 1] >> 5), 0x2B7);
      at += 3 + size_t(((ours[at + 1] & 0x1F) << 8) | ours[at + 2]);
      ++frames;
    }
    EXPECT_EQ(at, ours.size());
    EXPECT_EQ(frames, in.frames.size());
    if (!PeerAvailable()) continue;
    const std::string path = ScratchPath(std::string("loas_") + s.file);
    WriteFile(path, ours);
    const std::string a = Decode("ffmpeg", Fixture(s.file)), b = Decode("ffmpeg", path, "-f loas");
    EXPECT_GT(a.size(), 20000u);
    EXPECT_TRUE(a == b) << s.file;
  }
}

TEST(Writers, RealAacAsMp4ThroughTheFileLibrary) {
  for (const Source& s : kSources) {
    const AdtsStream in = ParseAdts(ReadFile(Fixture(s.file)));
    const std::string path = ScratchPath(std::string("out_") + s.file + ".mp4");
    const std::string log = path + ".log";
    std::remove(path.c_str());
    std::remove(log.c_str());
#ifndef _WIN32
    setenv("ISOMP4_LOG", log.c_str(), 1);
#endif
    {
      Rewrap r(in.objectType, s.rate, in.channels, s.bitrate);
      r.setup.fileName = path.c_str();
      ASSERT_EQ(Message(r.Open(5)), "(none)");
      EXPECT_TRUE(r.WriteAll(in.frames).empty());
      EXPECT_EQ(bitbuf_pending_frames(r.buffer), 0);
      ASSERT_EQ(Message(mp4aenc_bitstream_close(r.writer)), "(none)");
      r.writer = nullptr;
    }
#ifndef _WIN32
    unsetenv("ISOMP4_LOG");
    // The calls and values the library received, in order.
    std::ifstream logFile(log);
    std::vector<std::string> calls;
    for (std::string line; std::getline(logFile, line);)
      if (line.rfind("MP4NewHandle", 0) != 0 && line.rfind("MP4DisposeHandle", 0) != 0) calls.push_back(line);
    const std::string n = std::to_string(in.frames.size()), rate = std::to_string(s.rate);
    const std::vector<std::string> expected = {
        "MP4NewMovie 1 255 255 1 255 255",
        "MP4NewMovieTrack 4",
        "MP4NewTrackMedia track 1 'soun' " + rate + " 0",
        "MP4BeginMediaEdits",
        "MP4SetMediaLanguage und",
        "MP4NewSampleDescription 1 0x40 5 8192 " + std::to_string(s.bitrate) + " " + std::to_string(s.bitrate) +
            " dsi 4 bytes",
    };
    ASSERT_GE(calls.size(), 12u);
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(calls[i], expected[i]);
    EXPECT_EQ(calls[6].rfind("MP4AddMediaSamples with sample description", 0), 0u) << calls[6];
    const std::vector<std::string> tail = {"MP4EndMediaEdits samples " + n,
                                           "MP4GetMediaDuration " + std::to_string(in.frames.size() * 1024),
                                           "MP4InsertMediaIntoTrack track 1 0 0 " + std::to_string(in.frames.size() * 1024) + " 1",
                                           "MP4SetTrackEnabled track 1 1", "MP4WriteMovieToFile " + path,
                                           "MP4DisposeMovie"};
    EXPECT_EQ(std::vector<std::string>(calls.end() - 6, calls.end()), tail);
#endif
    const Bytes file = ReadFile(path);
    ASSERT_GT(file.size(), 1000u);
    EXPECT_EQ(std::string(file.begin() + 4, file.begin() + 8), "ftyp");
    if (!PeerAvailable()) continue;
    int status = 0;
    const std::string probe = RunPeer("ffprobe -v error -show_data -show_entries "
                                      "stream=codec_name,profile,sample_rate,channels,time_base,nb_frames,extradata "
                                      "-of compact '" + path + "'", &status);
    ASSERT_EQ(status, 0) << probe;
    char asc[8];
    std::snprintf(asc, sizeof asc, "%02x%02x", 0x10 | ((in.samplingIndex >> 1) & 7),
                  ((in.samplingIndex & 1) << 7) | (in.channels << 3));
    EXPECT_NE(probe.find("codec_name=aac|profile=LC|sample_rate=" + std::to_string(s.rate) +
                         "|channels=" + std::to_string(in.channels)),
              std::string::npos) << probe;
    EXPECT_NE(probe.find("time_base=1/" + std::to_string(s.rate)), std::string::npos) << probe;
    EXPECT_NE(probe.find("nb_frames=" + std::to_string(in.frames.size())), std::string::npos) << probe;
    EXPECT_NE(probe.find(std::string("00000000: ") + asc), std::string::npos) << probe;
    const std::string a = Decode("ffmpeg", Fixture(s.file)), b = Decode("ffmpeg", path);
    EXPECT_GT(a.size(), 20000u);
    EXPECT_TRUE(a == b) << s.file << " " << a.size() << " " << b.size();
    const std::string fa = Decode("faad", Fixture(s.file)), fb = Decode("faad", path);
    const size_t frameBytes = 1024 * 2 * size_t(in.channels);
    ASSERT_GE(fb.size(), fa.size());
    EXPECT_TRUE(fb.compare(fb.size() - fa.size(), std::string::npos, fa) == 0 && fb.size() - fa.size() <= frameBytes)
        << s.file << " " << fa.size() << " " << fb.size();
  }
}

TEST(Writers, Mp4WithTwoLayersHasTwoTracksTheSecondDependingOnTheFirst) {
  const AdtsStream in = ParseAdts(ReadFile(Fixture("tone_stereo.aac")));
  const std::string path = ScratchPath("two_layers.mp4"), log = path + ".log";
  std::remove(path.c_str());
  std::remove(log.c_str());
#ifndef _WIN32
  setenv("ISOMP4_LOG", log.c_str(), 1);
#endif
  {
    Rewrap r(2, 44100, 2, 96000);
    r.info[1] = r.info[0];
    r.info[1].bitrate = 128000;
    r.setup.fileName = path.c_str();
    ASSERT_EQ(Message(r.Open(5)), "(none)");
    BitBuffer* second = bitbuf_create(8 * 8192 * 4);
    for (const Bytes& f : in.frames) {
      r.Push(f);
      for (uint8_t v : f) bitbuf_write_bits(second, v, 8);
      bitbuf_push_count(second, long(f.size()) * 8);
      BitBuffer* layers[kMp4Layers] = {r.buffer, second};
      uint32_t n = 0;
      ASSERT_EQ(Message(mp4aenc_bitstream_write(r.writer, layers, nullptr, nullptr, 0, &n)), "(none)");
      EXPECT_EQ(bitbuf_pending_frames(second), 0);
    }
    bitbuf_free(second);
    ASSERT_EQ(Message(mp4aenc_bitstream_close(r.writer)), "(none)");
    r.writer = nullptr;
  }
#ifndef _WIN32
  unsetenv("ISOMP4_LOG");
  std::ifstream logFile(log);
  std::string text((std::istreambuf_iterator<char>(logFile)), {});
  EXPECT_NE(text.find("MP4NewSampleDescription 1 0x40 5 8192 128000 128000"), std::string::npos) << text;
  EXPECT_NE(text.find("MP4AddTrackReference track 2 -> 1 'dpnd'"), std::string::npos) << text;
#endif
  if (!PeerAvailable()) return;
  int status = 0;
  const std::string probe =
      RunPeer("ffprobe -v error -show_entries stream=index,codec_name,nb_frames -of compact '" + path + "'", &status);
  ASSERT_EQ(status, 0);
  const std::string n = std::to_string(in.frames.size());
  EXPECT_NE(probe.find("stream|index=0|codec_name=aac|nb_frames=" + n), std::string::npos) << probe;
  EXPECT_NE(probe.find("stream|index=1|codec_name=aac|nb_frames=" + n), std::string::npos) << probe;
}

TEST(Writers, Mp4FileLibraryFailuresAreReported) {
  Rewrap r(2, 44100, 2, 96000);
  EXPECT_EQ(Message(r.Open(5)), "no file name");
  mp4aenc_bitstream_close(r.writer);
  const std::string name(600, 'a');
  r.setup.fileName = name.c_str();
  EXPECT_EQ(Message(r.Open(5)), "file name longer than 512 characters");
  mp4aenc_bitstream_close(r.writer);
  // A folder that does not exist: the library's write fails at close.
  r.setup.fileName = "no_such_folder/x.mp4";
  ASSERT_EQ(Message(r.Open(5)), "(none)");
  r.WriteAll({Bytes(8, 0)});
  const std::string m = Message(mp4aenc_bitstream_close(r.writer));
  r.writer = nullptr;
  EXPECT_NE(m.find("problem in mp4 file library functions"), std::string::npos) << m;
}

// The silent double's frames through the encoder and our ADTS writer decode
// as silence of the right length.
TEST(Writers, SilentFramesInAdtsDecodeAsSilence) {
  UseSilentStages stages;
  struct Case {
    int objectType, channels;
    long rate;
  } cases[] = {{2, 1, 24000}, {2, 2, 44100}, {4, 2, 48000}, {4, 1, 32000}};
  for (const Case& c : cases) {
    Mp4AEncHandle* h = nullptr;
    AacChannelMap* map = nullptr;
    LayerInfo info[kMp4Layers] = {};
    int frameLength = 1024, channels[1] = {c.channels}, offsets[2] = {0, 1}, strides[2] = {c.channels, c.channels};
    long bitrates[1] = {64000};
    ASSERT_EQ(Message(mp4aenc_open(&h, c.objectType, c.rate, bitrates, &frameLength, 0, &map, 1, 0, channels, 0,
                                   "NO_CORE_CODEC", offsets, strides, info)),
              "(none)");
    Mp4BitstreamSetup setup = {};
    setup.layers = info;
    setup.map = map;
    Mp4BitstreamWriter* w = nullptr;
    ASSERT_EQ(Message(mp4aenc_bitstream_open(&w, &setup, 2)), "(none)");
    mp4aenc_set_option(h, w);
    Bytes stream;
    std::vector<float> pcm(size_t(1024 * c.channels), 0.0f);
    const int frames = 40;
    for (int f = 0; f < frames; ++f) {
      BitBuffer* out[kMp4Layers];
      ASSERT_EQ(Message(mp4aenc_encode_frame(h, pcm.data(), out, nullptr, 0, 0)), "(none)");
      uint8_t bytes[256];
      uint32_t n = 0;
      ASSERT_EQ(Message(mp4aenc_bitstream_write(w, out, nullptr, bytes, sizeof bytes, &n)), "(none)");
      EXPECT_EQ(n, 7u + (c.channels == 1 ? 4u : 7u));
      stream.insert(stream.end(), bytes, bytes + n);
    }
    mp4aenc_bitstream_close(w);
    mp4aenc_close(h, map, 0);
    if (!PeerAvailable()) continue;
    const std::string path = ScratchPath("silent_" + std::to_string(c.objectType) + "_" + std::to_string(c.channels) +
                                         "_" + std::to_string(c.rate) + ".aac");
    WriteFile(path, stream);
    const std::string a = Decode("ffmpeg", path);
    EXPECT_EQ(a.size(), size_t(frames) * 1024 * 2 * size_t(c.channels));
    EXPECT_EQ(a.find_first_not_of('\0'), std::string::npos);
    if (c.objectType == 2) {  // faad's ADTS reader knows LC here
      const std::string b = Decode("faad", path);
      EXPECT_GE(b.size(), size_t(frames - 1) * 1024 * 2 * size_t(c.channels));
      EXPECT_EQ(b.find_first_not_of('\0'), std::string::npos);
    }
  }
}

}  // namespace
