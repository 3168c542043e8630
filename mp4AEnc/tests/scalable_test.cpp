// The scalable coder's open (object type 6): layers, the core selector's
// messages, the refusal of layered frames, the state access table and the
// parameter access through it; and the internal decoder's output
// file through the audio file library, read back by ffprobe.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "mp4aenc/mp4aenc.h"
#include "mp4aenc/param.h"
#include "mp4aenc/scalable.h"
#include "mp4aenc/state_table.h"
#include "param_front_end.h"
#include "peer.h"
#include "silent_stages.h"

namespace {

struct ScalableOpen {
  long bitrates[10] = {32000, 64000, 96000, 96000, 96000, 96000, 96000, 96000, 96000, 96000};
  int channels[10] = {1, 2, 2, 2, 2, 2, 2, 2, 2, 2};
  int offsets[2] = {0, 1}, strides[2] = {2, 2};
  int frameLength = 0;
  AacChannelMap* map = nullptr;
  LayerInfo info[kMp4Layers] = {};
  Mp4AEncHandle* h = nullptr;

  ErrorRecord* open(const char* core, int layers, int firstAac = 0) {
    return mp4aenc_open(&h, 6, 48000, bitrates, &frameLength, 0, &map, layers, firstAac, channels, 0, core, offsets,
                        strides, info);
  }
  ~ScalableOpen() { mp4aenc_close(h, map, 0); }
};

std::string message_of(ErrorRecord* e) {
  std::string m = e ? e->message : "(none)";
  error_free(e);
  return m;
}

class Scalable : public ::testing::Test {
 protected:
  void SetUp() override {
    SilentStagesReset();
    aac_core_use_stages(SilentStages());
  }
  void TearDown() override { aac_core_use_stages(nullptr); }
};

TEST_F(Scalable, NoCoreOpensItsLayersAndRefusesLayeredFrames) {
  ScalableOpen s;
  ASSERT_EQ(s.open("NO_CORE", 3), nullptr);
  EXPECT_EQ(s.frameLength, 1024);
  for (int l = 0; l < 3; ++l) {
    EXPECT_EQ(s.info[l].objectType, 6) << l;
    EXPECT_EQ(s.info[l].frameLength, 1024) << l;
  }
  EXPECT_EQ(s.info[1].bitrate, 32000);  // each layer codes its share
  auto* coder = static_cast<ScalableCoder*>(s.h->coder);
  ASSERT_NE(coder, nullptr);
  for (int l = 0; l < 3; ++l) EXPECT_NE(coder->layers[l], nullptr) << l;
  EXPECT_EQ(coder->maps[1]->header.channels, 2);
  std::vector<float> pcm(2048, 0.0f);
  BitBuffer* out[kMp4Layers];
  ErrorRecord* e = mp4aenc_encode_frame(s.h, pcm.data(), out, nullptr, 0, 0);
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->message, "WriteBitstreamScal() failed");
  ASSERT_NE(e->next, nullptr);
  EXPECT_STREQ(e->next->context, "layered frame writing is not built");
  error_free(e);
}

// With the product's encoder: a mono layer of 32 kbit/s and a stereo layer
// adding 128 kbit/s at 48 kHz open, and layered frames are still refused. A
// layer whose share has no psychoacoustic parameter set (16 kbit/s per
// channel of a pair at 48 kHz) fails and names the combination, instead of
// coding with another's.
TEST_F(Scalable, WithTheProductsEncoderNoCoreOpensAndALayerWithoutAParameterSetIsRefused) {
  aac_core_use_stages(nullptr);  // the table built into the library
  {
    ScalableOpen s;
    s.bitrates[1] = 160000;
    ASSERT_EQ(message_of(s.open("NO_CORE", 2)), "(none)");
    auto* coder = static_cast<ScalableCoder*>(s.h->coder);
    ASSERT_NE(coder, nullptr);
    ASSERT_NE(coder->layers[0], nullptr);
    ASSERT_NE(coder->layers[1], nullptr);
    EXPECT_EQ(coder->layers[0]->channels, 1);
    EXPECT_EQ(coder->layers[1]->channels, 2);
    EXPECT_EQ(s.info[0].bitrate, 32000);
    EXPECT_EQ(s.info[1].bitrate, 128000);
    EXPECT_EQ(s.info[1].bitsPerFrame, 128000 * 1024 / 48000);
    std::vector<float> pcm(2048, 100.0f);
    BitBuffer* out[kMp4Layers];
    ErrorRecord* e = mp4aenc_encode_frame(s.h, pcm.data(), out, nullptr, 0, 0);
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e->message, "WriteBitstreamScal() failed");
    error_free(e);
  }
  ScalableOpen s;
  ErrorRecord* e = s.open("NO_CORE", 2);
  ASSERT_NE(e, nullptr);
  const std::string all = e->message;
  EXPECT_NE(all.find("no parameter set found"), std::string::npos) << all;
  EXPECT_NE(all.find("(16000)"), std::string::npos) << all;
  error_free(e);
}

TEST_F(Scalable, CoresAndLayerChecksGiveTheirMessages) {
  const struct {
    const char* core;
    int layers, firstAac;
    const char* message;
  } cases[] = {
      {"CELP", 2, 1, "Not supported\n"},
      {"TVQ", 2, 1, "TVQ core not available"},
      {"AMR", 2, 1, "No AMR Core available"},
      {"HVXC", 2, 1, "this core is not supported: HVXC"},
      {"MP3", 2, 1, "Unknown core codec"},
      {"NO_CORE", 2, 1, "no core but corebitrate not zero "},
      {"NO_CORE", 10, 0, "number of AAC layers too large"},
  };
  for (const auto& c : cases) {
    ScalableOpen s;
    EXPECT_EQ(message_of(s.open(c.core, c.layers, c.firstAac)), c.message) << c.core;
  }
}

// The state access table of an AAC open: identifiers reach the core's
// variables with their own operation; wrong operations, counts, groups and
// indices are refused and change nothing.
TEST(StateTable, AacOpenBuildsItOverTheCoresVariables) {
  SilentStagesReset();
  aac_core_use_stages(SilentStages());
  long bitrates[1] = {96000};
  int channels[1] = {2}, offsets[2] = {0, 1}, strides[2] = {2, 2};
  int frameLength = 0;
  AacChannelMap* map = nullptr;
  LayerInfo info[kMp4Layers] = {};
  Mp4AEncHandle* h = nullptr;
  ASSERT_EQ(message_of(mp4aenc_open(&h, 2, 44100, bitrates, &frameLength, 0, &map, 1, 0, channels, 0, "NO_CORE_CODEC",
                                    offsets, strides, info)),
            "(none)");
  auto* core = static_cast<AacCore*>(h->coder);
  StateTable* t = core->state;
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(state_table_entries(t, kStateGroupChannel + 0), 3);
  EXPECT_EQ(state_table_entries(t, kStateGroupChannel + 1), 3);
  EXPECT_EQ(state_table_entries(t, kStateGroupChannel + 2), 0);  // two channels
  EXPECT_EQ(state_table_entries(t, kStateGroupTools + 1), 5);
  EXPECT_EQ(state_table_entries(t, kStateGroupElement + 0), 6);
  EXPECT_EQ(state_table_entries(t, kStateGroupElement + 1), 0);  // one pair

  // Shared figures, read and written; the long bitrate through 32 bits.
  int32_t v = 0;
  ASSERT_EQ(message_of(state_table_read(t, state_id(2, kStateGroupShared, 0), &v, 1)), "(none)");
  EXPECT_EQ(v, 96000);
  ASSERT_EQ(message_of(state_table_read(t, state_id(4, kStateGroupShared, 2), &v, 1)), "(none)");
  EXPECT_EQ(v, 4);  // sampling index of 44100
  v = 64000;
  ASSERT_EQ(message_of(state_table_write(t, state_id(2, kStateGroupShared, 0), &v, 1)), "(none)");
  EXPECT_EQ(core->bitrate, 64000);
  float lowpass = 0.0f;
  ASSERT_EQ(message_of(state_table_read(t, state_id(5, kStateGroupShared, 4), &lowpass, 1)), "(none)");
  EXPECT_EQ(lowpass, core->lowpass);

  // The right channel's switches are the pair's right copy.
  v = 1;
  ASSERT_EQ(message_of(state_table_write(t, state_id(1, kStateGroupTools + 1, kStatePns), &v, 1)), "(none)");
  EXPECT_EQ(map->elements[0].right.pns, 1);
  EXPECT_EQ(map->elements[0].left.pns, 0);
  // The element's switch run: left then right, eight values.
  int32_t run[8] = {};
  ASSERT_EQ(message_of(state_table_read(t, state_id(8, kStateGroupElement, 5), run, 8)), "(none)");
  EXPECT_EQ(run[0], map->elements[0].left.tns);
  EXPECT_EQ(run[6], 1);  // right.pns
  // The input block of channel 1 is the core's work area.
  float block[4] = {1, 2, 3, 4};
  ASSERT_EQ(message_of(state_table_write(t, state_id(6, kStateGroupChannel + 1, 2), block, 4)), "(none)");
  EXPECT_EQ(core->work[frameLength + 3], 4.0f);

  const struct {
    uint32_t id;
    int count;
    const char* says;
  } refused[] = {
      {state_id(4, kStateGroupShared, 0), 1, "operation"},      // the bitrate is operation 2
      {state_id(2, kStateGroupShared, 0), 2, "holds"},          // one value
      {state_id(8, kStateGroupElement, 5), 9, "holds"},         // a run of eight
      {state_id(6, kStateGroupChannel, 2), frameLength + 1, "holds"},
      {state_id(0, kStateGroupChannel, 3), 1, "no state entry"},
      {state_id(4, kStateGroupElement + 1, 0), 1, "no state entry"},
      {state_id(0, 0x150, 0), 1, "no state entry"},
  };
  std::vector<int32_t> big(size_t(frameLength) + 1, 7);
  for (const auto& c : refused) {
    ErrorRecord* e = state_table_write(t, c.id, big.data(), c.count);
    ASSERT_NE(e, nullptr) << std::hex << c.id;
    EXPECT_NE(std::string(e->message).find(c.says), std::string::npos) << e->message;
    error_free(e);
  }
  EXPECT_EQ(core->bitrate, 64000);
  mp4aenc_close(h, map, 0);
  aac_core_use_stages(nullptr);
}

// The scalable coder's parameter access through its layers' tables: an
// element key once per element, a channel key once for a single element
// and twice for a pair, a shared key once a layer; a tool key switches one
// layer's tool only.
TEST_F(Scalable, ParameterAccessWritesThroughTheLayersTables) {
  ScalableOpen s;  // layer 0 mono, layer 1 stereo
  ASSERT_EQ(s.open("NO_CORE", 2), nullptr);
  auto* coder = static_cast<ScalableCoder*>(s.h->coder);
  ASSERT_NE(coder->layers[0]->state, nullptr);
  ASSERT_NE(coder->layers[1]->state, nullptr);
  int one = 1, rate = 50000;
  const struct {
    int key;
    int* value;
    int writes;
  } cases[] = {
      {0x10000 | 3, &one, 2},     // mid/side entry of each layer's element
      {0x20000 | kStatePns, &one, 1 + 2},
      {0x30000 | 0, &rate, 2},
      {0x300000 | (1 << 8) | 0, &one, 2},  // TNS of layer 1's two channels
      {0x300000 | (1 << 8) | 5, &one, 1},  // intensity of layer 1's pair
  };
  for (const auto& c : cases) {
    int writes = -1;
    int* values[1] = {c.value};
    ASSERT_EQ(message_of(scalable_param_ctl(coder, 1, &c.key, values, &writes)), "(none)") << std::hex << c.key;
    EXPECT_EQ(writes, c.writes) << std::hex << c.key;
  }
  EXPECT_EQ(coder->maps[0]->elements[0].left.pns, 1);
  EXPECT_EQ(coder->maps[1]->elements[0].right.pns, 1);
  EXPECT_EQ(coder->layers[0]->bitrate, 50000);
  EXPECT_EQ(coder->layers[1]->bitrate, 50000);
  EXPECT_EQ(coder->maps[1]->elements[0].intensity, 1);
  EXPECT_EQ(coder->maps[0]->elements[0].intensity, 0);  // a single element has none
  // Through the encoder interface; unknown classes and layers are refused.
  int key = 0x20000 | kStateLtp;
  int* values[1] = {&one};
  EXPECT_EQ(message_of(mp4aenc_param_ctl(s.h, 1, &key, values, 0)), "(none)");
  EXPECT_EQ(coder->maps[1]->elements[0].left.ltp, 1);
  key = 0x40000;
  EXPECT_EQ(message_of(mp4aenc_param_ctl(s.h, 1, &key, values, 0)), "unknown parameter key 0x40000");
  key = 0x300000 | (5 << 8);
  EXPECT_EQ(message_of(mp4aenc_param_ctl(s.h, 1, &key, values, 0)), "no AAC layer 5");
  key = 0x20000 | 9;
  EXPECT_NE(message_of(mp4aenc_param_ctl(s.h, 1, &key, values, 0)).find("no state entry"), std::string::npos);
}

class DecoderFile : public ::testing::Test {
 protected:
  void TearDown() override { configure_params({}); }
};

TEST_F(DecoderFile, WrittenOnlyWhenConfiguredAndReadByFfprobe) {
  TfdecFile* t = nullptr;
  configure_params({});
  ASSERT_EQ(tfdec_file_open(&t, 2, 48000), nullptr);
  EXPECT_EQ(t, nullptr);  // no decOf: no file
  const std::string wav = ScratchPath("tfdec.wav");
  std::remove(wav.c_str());
  configure_params({"-decOf " + wav, "-decFf WAV"});
  ASSERT_EQ(tfdec_file_open(&t, 2, 48000), nullptr);
  ASSERT_NE(t, nullptr);
  std::vector<float> pcm(4800);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = float(int(i % 200) * 100 - 10000);
  ASSERT_EQ(tfdec_file_write(t, pcm.data(), int(pcm.size())), nullptr);
  tfdec_file_close(t);
  if (!PeerAvailable()) GTEST_SKIP() << "ffprobe runs on the Linux host only";
  int status = -1;
  const std::string probe = RunPeer("ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,duration_ts "
                                    "-of compact=p=0 " + wav + " 2>&1", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(probe, "codec_name=pcm_s16le|sample_rate=48000|channels=2|duration_ts=2400\n");
}

TEST_F(DecoderFile, RawByDefaultAndAFileThatCannotBeMadeIsAnError) {
  const std::string pcmPath = ScratchPath("tfdec.pcm");
  configure_params({"-decOf " + pcmPath});
  TfdecFile* t = nullptr;
  ASSERT_EQ(tfdec_file_open(&t, 1, 16000), nullptr);
  const float v[3] = {1.0f, -1.0f, 32767.0f};
  ASSERT_EQ(tfdec_file_write(t, v, 3), nullptr);
  tfdec_file_close(t);
  FILE* f = std::fopen(pcmPath.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  unsigned char b[8] = {};
  EXPECT_EQ(std::fread(b, 1, 8, f), 6u);  // 16-bit little-endian, no header
  std::fclose(f);
  EXPECT_EQ(b[0], 1);
  EXPECT_EQ(b[2], 0xff);
  EXPECT_EQ(b[5], 0x7f);
  configure_params({"-decOf no/such/folder/x.wav", "-decFf WAV"});
  ErrorRecord* e = tfdec_file_open(&t, 1, 16000);
  ASSERT_NE(e, nullptr);  // not the end of the process
  EXPECT_NE(std::string(e->message).find("no/such/folder/x.wav"), std::string::npos);
  EXPECT_EQ(t, nullptr);
  error_free(e);
}

}  // namespace
