// The AAC codec object's calling contract with the AAC library itself (the
// product's table), the library's inner encoder being a double that writes
// silent frames: object types 2 and 4, mono and stereo, the tool keys 3, 5
// and 1, format 0, one pending frame per encode call and layer entries 1-8
// null. Wrapped in ADTS by the library's own writer, the frames decode as
// silence in ffmpeg (-xerror) and faad. With the product's inner encoder a
// tone comes back at its level; with an incomplete one the codec object
// refuses to initialise.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "aac_output.h"
#include "audioencfilter/aac_codec.h"
#include "mp4aenc/mp4aenc.h"
#include "pcm_signal.h"
#include "peer.h"
#include "silent_stages.h"

namespace {

// Watches every encode call of the real table.
const AacLibrary* g_real = nullptr;
int g_encodeCalls = 0;
int g_violations = 0;

int WatchedEncode(void* encoder, const float* samples, void* layers[9]) {
  const int r = g_real->encodeFrame(encoder, samples, layers);
  ++g_encodeCalls;
  for (int l = 1; l < 9; ++l)
    if (layers[l]) ++g_violations;
  if (!layers[0] || bitbuf_pending_frames(static_cast<BitBuffer*>(layers[0])) != 1) ++g_violations;
  return r;
}

using Output = AacOutput;

// The tools the last rebuild of the tool control created.
std::vector<std::string> LastToolSet() {
  std::vector<std::string> set;
  for (const std::string& line : g_silentLog) {
    if (line.rfind("superstarv_create 0", 0) == 0) set.clear();
    if (line.find("_create ") != std::string::npos && line.rfind("superstarv", 0) != 0) set.push_back(line);
  }
  return set;
}

// ADTS around raw frames, by the library's own writer.
void WrapInAdts(const std::vector<std::vector<uint8_t>>& frames, int objectType, int32_t rate, int channels,
                int32_t bitrate, std::vector<uint8_t>* adts) {
  Mp4AudioHeader header;
  ASSERT_EQ(mp4_audio_header_fill(&header, objectType, rate, channels, 1024), nullptr);
  LayerInfo info[kMp4Layers] = {};
  info[0] = {rate, bitrate, 1024, 0, 0, objectType, &header};
  AacChannelMap map;
  ASSERT_EQ(aac_channel_map_build(&map, channels, 0), nullptr);
  Mp4BitstreamSetup setup = {};
  setup.layers = info;
  setup.map = &map;
  Mp4BitstreamWriter* writer = nullptr;
  ASSERT_EQ(mp4aenc_bitstream_open(&writer, &setup, 2), nullptr);
  BitBuffer* buffer = bitbuf_create(8 * 8192);
  for (const auto& f : frames) {
    for (uint8_t v : f) bitbuf_write_bits(buffer, v, 8);
    bitbuf_push_count(buffer, long(f.size() * 8));
    BitBuffer* layers[kMp4Layers] = {buffer};
    uint8_t framed[8192];
    uint32_t n = 0;
    ASSERT_EQ(mp4aenc_bitstream_write(writer, layers, nullptr, framed, sizeof framed, &n), nullptr);
    adts->insert(adts->end(), framed, framed + n);
  }
  bitbuf_free(buffer);
  mp4aenc_bitstream_close(writer);
}

TEST(AacContract, AnIncompleteInnerEncoderMakesInitFail) {
  AacCoreStages partial = *SilentStages();
  partial.bitmux_write_frame = nullptr;
  aac_core_use_stages(&partial);
  CAudEncAAC aac(AacLibraryInProduct());
  AudioCodecConfig config = {16, 0, 0, 2, 0, 5, 0, 2, 0, 0, 0};
  EXPECT_EQ(aac.Init(38400, &config), CODEC_E_SETUP);
  EXPECT_EQ(aac.Close(), CODEC_OK);
  aac_core_use_stages(nullptr);
}

// The product's own inner encoder: a tone comes back from ffmpeg at its level.
TEST(AacContract, TheProductEncodesAToneThatDecodesBack) {
  aac_core_use_stages(nullptr);
  CAudEncAAC aac(AacLibraryInProduct());
  AudioCodecConfig config = {16, 0, 0, 2, 0, 5, 0, 2, 0, 0, 0};
  ASSERT_EQ(aac.Init(38400, &config), CODEC_OK);
  const int channels = 2, rate = int(config.codecSampleRate);
  const int count = 40;
  std::vector<int16_t> pcm = tone(rate, channels, 1024 * count);
  Output out(38400);
  std::vector<std::vector<uint8_t>> frames;
  for (size_t at = 0; at < pcm.size(); at += size_t(1024 * channels)) {
    PcmBlock block = {reinterpret_cast<uint8_t*>(pcm.data() + at), uint32_t(1024 * channels * 2), 0,
                      uint32_t(at / size_t(channels)), 0};
    ASSERT_EQ(aac.Encode(&block, &out.frames), CODEC_OK);
    uint32_t offset = 0;
    for (uint32_t f = 0; f < out.frames.frameCount; ++f) {
      frames.emplace_back(out.area.begin() + offset, out.area.begin() + offset + out.lengths[f]);
      offset += out.lengths[f];
    }
  }
  EXPECT_EQ(aac.Close(), CODEC_OK);
  ASSERT_EQ(frames.size(), size_t(count));
  size_t bytes = 0;
  for (const auto& f : frames) bytes += f.size();
  // 64 kbit/s: about 186 bytes a frame on average, far from the silent 7.
  EXPECT_GT(bytes / frames.size(), 100u);
  if (!PeerAvailable()) return;
  std::vector<uint8_t> adts;
  ASSERT_NO_FATAL_FAILURE(WrapInAdts(frames, 2, rate, channels, 64000, &adts));
  const std::string path = ScratchPath("contract_product_tone.aac");
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(adts.data()), std::streamsize(adts.size()));
  int status = 0;
  const std::string a = RunPeer("ffmpeg -nostdin -v error -xerror -i '" + path + "' -f s16le - 2>/dev/null", &status);
  EXPECT_EQ(status, 0);
  ASSERT_EQ(a.size(), size_t(count * 1024 * 2 * channels));
  // Level of the middle frames (past the encoder's delay) against the input's.
  const auto* d = reinterpret_cast<const int16_t*>(a.data());
  double in = 0.0, back = 0.0;
  for (size_t i = size_t(8 * 1024 * channels); i < size_t(30 * 1024 * channels); ++i) {
    in += double(pcm[i]) * pcm[i];
    back += double(d[i]) * d[i];
  }
  EXPECT_NEAR(10.0 * std::log10(back / in), 0.0, 0.5);
}

TEST(AacContract, TypesTwoAndFourMonoAndStereoOverTheSilentDouble) {
  struct Case {
    uint32_t objectType, channels, index;
    std::vector<std::string> tools;
  } cases[] = {
      {2, 1, 3, {"pns_create 0 0"}},
      {2, 2, 5, {"ms_create 0 -1", "is_create 0 -1", "pns_create 0 0", "pns_create 0 1"}},
      {4, 1, 1, {"ltp_create 0 0", "pns_create 0 0"}},
      {4, 2, 8,
       {"ms_create 0 -1", "is_create 0 -1", "ltp_create 0 0", "pns_create 0 0", "ltp_create 0 1", "pns_create 0 1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.objectType << " channels " << c.channels);
    UseSilentStages stages;
    g_real = AacLibraryInProduct();
    AacLibrary watched = *g_real;
    watched.encodeFrame = WatchedEncode;
    g_encodeCalls = g_violations = 0;

    CAudEncAAC aac(&watched);
    AudioCodecConfig config = {16, 0, 0, c.channels, 0, c.index, 0, c.objectType, 0, 0, 0};
    ASSERT_EQ(aac.Init(38400, &config), CODEC_OK);
    EXPECT_EQ(LastToolSet(), c.tools);
    const int channels = int(config.codecChannels), rate = int(config.codecSampleRate);

    // 20.5 frames of a tone in blocks of 1500 sample frames.
    std::vector<int16_t> pcm = tone(rate, channels, 1024 * 20 + 512);
    std::vector<std::vector<uint8_t>> frames;
    Output out(38400);
    for (size_t at = 0; at < pcm.size(); at += size_t(1500 * channels)) {
      const size_t n = std::min(pcm.size() - at, size_t(1500 * channels));
      PcmBlock block = {reinterpret_cast<uint8_t*>(pcm.data() + at), uint32_t(n * 2), 0, uint32_t(at / size_t(channels)),
                        0};
      ASSERT_EQ(aac.Encode(&block, &out.frames), CODEC_OK);
      uint32_t offset = 0;
      for (uint32_t f = 0; f < out.frames.frameCount; ++f) {
        frames.emplace_back(out.area.begin() + offset, out.area.begin() + offset + out.lengths[f]);
        offset += out.lengths[f];
      }
    }
    EXPECT_EQ(g_encodeCalls, 20);
    EXPECT_EQ(g_violations, 0);
    ASSERT_EQ(frames.size(), 20u);
    for (const auto& f : frames) EXPECT_EQ(f.size(), channels == 1 ? 4u : 7u);
    EXPECT_EQ(aac.Close(), CODEC_OK);

    // ADTS around the frames, by the library's writer.
    std::vector<uint8_t> adts;
    ASSERT_NO_FATAL_FAILURE(WrapInAdts(frames, int(c.objectType), rate, channels,
                                       int32_t(CAudEncoder::BitrateFromIndex(c.index)), &adts));
    if (!PeerAvailable()) continue;
    const std::string path = ScratchPath("contract_" + std::to_string(c.objectType) + "_" + std::to_string(channels) +
                                         ".aac");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(adts.data()), std::streamsize(adts.size()));
    int status = 0;
    const std::string a = RunPeer("ffmpeg -nostdin -v error -xerror -i '" + path + "' -f s16le - 2>/dev/null", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(a.size(), size_t(20 * 1024 * 2 * channels));
    EXPECT_EQ(a.find_first_not_of('\0'), std::string::npos);
    const std::string b = RunPeer("faad -q -w -f 2 '" + path + "' 2>/dev/null", &status);
    EXPECT_EQ(status, 0);
    EXPECT_GE(b.size(), size_t(19 * 1024 * 2 * channels));
    EXPECT_EQ(b.find_first_not_of('\0'), std::string::npos);
  }
}

}  // namespace
