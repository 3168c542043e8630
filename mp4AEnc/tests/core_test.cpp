// The encoder interface, the core's frame order and bit budget, and the
// coding-tool control, over the silent double of the inner encoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "mp4aenc/mp4aenc.h"
#include "mp4aenc/toolmain.h"
#include "silent_stages.h"

namespace {

std::string Message(ErrorRecord* e) {
  std::string s = e ? e->message : "(none)";
  error_free(e);
  return s;
}

// One open encoder with its map, layer table and writer-free options.
struct Encoder {
  Mp4AEncHandle* handle = nullptr;
  AacChannelMap* map = nullptr;
  LayerInfo info[kMp4Layers] = {};
  int frameLength = 1024;
  long bitrates[kMp4Layers] = {};
  int channels[kMp4Layers] = {};
  int offsets[kAacMaxChannels] = {}, strides[kAacMaxChannels] = {};

  ErrorRecord* Open(int objectType, long rate, int channelCount, long bitrate, const char* core = "NO_CORE_CODEC",
                    int layers = 1, bool planar = false) {
    channels[0] = channelCount;
    bitrates[0] = bitrate;
    for (int c = 0; c < kAacMaxChannels; ++c) {
      offsets[c] = planar ? c * 1024 : c;
      strides[c] = planar ? 1 : channelCount;
    }
    return mp4aenc_open(&handle, objectType, rate, bitrates, &frameLength, 0, &map, layers, 0, channels, 0, core,
                        offsets, strides, info);
  }
  ~Encoder() { mp4aenc_close(handle, map, 0); }
  AacCore* Core() const { return static_cast<AacCore*>(handle->coder); }
};

TEST(EncoderOpen, LowComplexityWithoutCoreDefaultsTo128kAnd1024) {
  UseSilentStages stages;
  Encoder e;
  ASSERT_EQ(Message(e.Open(2, 44100, 2, 0)), "(none)");
  EXPECT_EQ(e.frameLength, 1024);
  EXPECT_EQ(e.bitrates[0], 128000);
  EXPECT_EQ(e.info[0].sampleRate, 44100);
  EXPECT_EQ(e.info[0].bitrate, 128000);
  EXPECT_EQ(e.info[0].frameLength, 1024);
  EXPECT_EQ(e.info[0].bitsPerFrame, 2972);
  EXPECT_EQ(e.info[0].objectType, 2);
  ASSERT_NE(e.info[0].header, nullptr);
  EXPECT_EQ(e.info[0].header->bits, 16);
  EXPECT_EQ(e.info[0].header->bytes[0], 0x12);  // the filter's own ASC for 44.1 kHz stereo LC
  EXPECT_EQ(e.info[0].header->bytes[1], 0x10);
  for (int l = 1; l < kMp4Layers; ++l) EXPECT_EQ(e.info[l].header, nullptr);
  ASSERT_NE(e.map, nullptr);
  EXPECT_EQ(e.map->header.elementCount, 1);
  EXPECT_EQ(e.handle->layerIndex, 0);
}

struct OpenCase {
  int objectType;
  long rate;
  int channels;
  long bitrate;
  const char* core;
  int layers;
  long secondBitrate;
  int secondChannels;
  std::string message;  // "(none)" = opens
  int frameLength;
};

TEST(EncoderOpen, EdgeList) {
  UseSilentStages stages;
  const OpenCase cases[] = {
      {1, 44100, 2, 64000, "NO_CORE_CODEC", 1, 0, 0, "audio object type not supported!", 1024},
      {3, 44100, 2, 64000, "NO_CORE_CODEC", 1, 0, 0, "audio object type not supported!", 1024},
      {5, 44100, 2, 64000, "NO_CORE_CODEC", 1, 0, 0, "audio object type not supported!", 1024},
      {2, 44100, 1, 64000, "AMR_CORE", 1, 0, 0, "(none)", 960},
      {4, 32000, 2, 64000, "CELP", 1, 0, 0, "(none)", 960},
      {2, 47999, 2, 64000, "NO_CORE_CODEC", 1, 0, 0, "wrong samplerate", 1024},
      {2, 48000, 7, 64000, "NO_CORE_CODEC", 1, 0, 0, "this number of channels is not supported", 1024},
      {6, 44100, 1, 24000, "NO_CORE_CODEC", 2, 16000, 1, "layer 1 has a lower bitrate or fewer channels than layer 0",
       1024},
      {6, 44100, 2, 24000, "NO_CORE_CODEC", 2, 32000, 1, "layer 1 has a lower bitrate or fewer channels than layer 0",
       1024},
      {6, 44100, 1, 24000, "NO_CORE_CODEC", 2, 32000, 2, "(none)", 1024},
  };
  for (const OpenCase& c : cases) {
    Encoder e;
    e.bitrates[1] = c.secondBitrate;
    e.channels[1] = c.secondChannels;
    EXPECT_EQ(Message(e.Open(c.objectType, c.rate, c.channels, c.bitrate, c.core, c.layers)), c.message)
        << "type " << c.objectType << " rate " << c.rate;
    ASSERT_NE(e.handle, nullptr);  // stored even when opening fails
    EXPECT_EQ(e.handle->objectType, c.objectType);
    EXPECT_EQ(e.frameLength, c.frameLength);
    if (c.message != "(none)") {
      EXPECT_EQ(e.handle->coder, nullptr);
      EXPECT_EQ(e.info[0].header, nullptr);
    }
  }
}

TEST(EncoderOpen, AnIncompleteInnerEncoderNamesTheMissingStage) {
  AacCoreStages partial = *SilentStages();
  partial.loops_outer = nullptr;
  aac_core_use_stages(&partial);
  Encoder e;
  const std::string m = Message(e.Open(2, 44100, 2, 128000));
  aac_core_use_stages(nullptr);
  EXPECT_NE(m.find("AAC core stage loops_outer is not built"), std::string::npos) << m;
  EXPECT_EQ(e.handle->coder, nullptr);
}

TEST(EncoderOpen, TheProductsInnerEncoderOpens) {
  aac_core_use_stages(nullptr);
  Encoder e;
  EXPECT_EQ(Message(e.Open(2, 44100, 2, 128000)), "(none)");
  EXPECT_NE(e.handle->coder, nullptr);
}

TEST(EncoderOpen, UnequalLowpassFrequenciesAreRefused) {
  UseSilentStages stages;
  g_silent.lowpassShort = 15000.0f;
  Encoder e;
  EXPECT_EQ(Message(e.Open(2, 44100, 1, 64000)), "lowpass frequencies for long and short not equal!");
}

TEST(EncoderFrame, OnePendingFrameInEntryZeroAndTheRestNull) {
  UseSilentStages stages;
  struct Case {
    int channels;
    uint32_t bytes;  // silent raw data block
  } cases[] = {{1, 4}, {2, 7}, {6, 21}};
  for (const Case& c : cases) {
    Encoder e;
    ASSERT_EQ(Message(e.Open(2, 48000, c.channels, 64000 * c.channels)), "(none)");
    std::vector<float> pcm(size_t(1024 * c.channels), 0.0f);
    BitBuffer* out[kMp4Layers];
    for (auto& o : out) o = reinterpret_cast<BitBuffer*>(&e);  // must be overwritten
    long side = -1;
    ASSERT_EQ(Message(mp4aenc_encode_frame(e.handle, pcm.data(), out, &side, 0, 0)), "(none)");
    ASSERT_NE(out[0], nullptr);
    for (int l = 1; l < kMp4Layers; ++l) EXPECT_EQ(out[l], nullptr);
    EXPECT_EQ(bitbuf_pending_frames(out[0]), 1);
    EXPECT_EQ(side, 1);
    uint8_t bytes[64];
    uint32_t n = 0;
    ASSERT_EQ(bitbuf_copy_bytes(out[0], &n, bytes), nullptr);
    EXPECT_EQ(n, c.bytes) << c.channels << " channels";
    EXPECT_EQ(bitbuf_pending_frames(out[0]), 0);
  }
}

TEST(EncoderFrame, InputLayoutByOffsetsAndStrides) {
  UseSilentStages stages;
  for (bool planar : {false, true}) {
    Encoder e;
    ASSERT_EQ(Message(e.Open(2, 44100, 2, 96000, "NO_CORE_CODEC", 1, planar)), "(none)");
    std::vector<float> pcm(2048);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = float(i);
    BitBuffer* out[kMp4Layers];
    ASSERT_EQ(Message(mp4aenc_encode_frame(e.handle, pcm.data(), out, nullptr, 0, 0)), "(none)");
    const float* work = e.Core()->work;
    for (int i : {0, 1, 500, 1023}) {
      EXPECT_EQ(work[i], planar ? float(i) : float(2 * i));
      EXPECT_EQ(work[1024 + i], planar ? float(1024 + i) : float(2 * i + 1));
    }
  }
}

TEST(EncoderFrame, StagesRunInFrameOrder) {
  UseSilentStages stages;
  Encoder e;
  ASSERT_EQ(Message(e.Open(4, 44100, 2, 128000)), "(none)");
  g_silentLog.clear();
  std::vector<float> pcm(2048, 0.0f);
  BitBuffer* out[kMp4Layers];
  ASSERT_EQ(Message(mp4aenc_encode_frame(e.handle, pcm.data(), out, nullptr, 0, 0)), "(none)");
  const std::vector<std::string> expected = {
      "bitmux_start_frame",   "psy_analyse",           "ltp_frame 0 0 joint", "ltp_frame 0 1 joint",
      "ms_frame 0 -1",        "superstarv_frame 0 -1", "bitmux_prepare_frame",  "loops_outer",  "bitmux_update_reservoir",
      "bitmux_write_frame",   "ltp_update 0 0",        "ltp_update 0 1",      "tfdec_frame"};
  EXPECT_EQ(g_silentLog, expected);
}

TEST(EncoderFrame, TheTwentiethUndrainedFrameFailsWithoutEndingTheProcess) {
  UseSilentStages stages;
  Encoder e;
  ASSERT_EQ(Message(e.Open(2, 44100, 1, 64000)), "(none)");
  std::vector<float> pcm(1024, 0.0f);
  BitBuffer* out[kMp4Layers];
  for (int f = 0; f < kBitBufferFrameQueue; ++f)
    ASSERT_EQ(Message(mp4aenc_encode_frame(e.handle, pcm.data(), out, nullptr, 0, 0)), "(none)") << f;
  ErrorRecord* err = mp4aenc_encode_frame(e.handle, pcm.data(), out, nullptr, 0, 0);
  ASSERT_NE(err, nullptr);
  EXPECT_GE(error_trace_count(err), 1);
  EXPECT_NE(Message(err).find("pending"), std::string::npos);
  EXPECT_EQ(bitbuf_pending_frames(out[0]), kBitBufferFrameQueue);
  // Draining lets the encoder go on.
  uint8_t bytes[16];
  uint32_t n = 0;
  while (bitbuf_pending_frames(out[0])) ASSERT_EQ(bitbuf_copy_bytes(out[0], &n, bytes), nullptr);
  EXPECT_EQ(bitbuf_bit_count(out[0]), 0);
}

TEST(ParamCtl, KeysSwitchToolsOnEveryElementAndRebuild) {
  UseSilentStages stages;
  Encoder e;
  ASSERT_EQ(Message(e.Open(2, 48000, 6, 256000)), "(none)");
  int on = 1, off = 0;
  int* const values[] = {&on, &on, &off};
  // Long-term prediction on an LC instance: every element gets it.
  const int ltp[] = {0x100003};
  g_silentLog.clear();
  ASSERT_EQ(Message(mp4aenc_param_ctl(e.handle, 1, ltp, values, 0)), "(none)");
  for (int el = 0; el < e.map->header.elementCount; ++el) {
    if (e.map->elements[el].kind == kAacLfe) continue;
    EXPECT_EQ(e.map->elements[el].left.ltp, 1) << el;
    if (e.map->elements[el].kind == kAacPair) {
      EXPECT_EQ(e.map->elements[el].right.ltp, 1);
    }
  }
  EXPECT_NE(std::find(g_silentLog.begin(), g_silentLog.end(), "ltp_create 1 2"), g_silentLog.end());
  // Intensity on, mid/side off: pairs only.
  const int stereo[] = {0x100005, 4};
  int* const stereoValues[] = {&on, &off};
  ASSERT_EQ(Message(mp4aenc_param_ctl(e.handle, 2, stereo, stereoValues, 0)), "(none)");
  EXPECT_EQ(e.map->elements[1].intensity, 1);
  EXPECT_EQ(e.map->elements[1].ms, 0);
  EXPECT_EQ(e.map->elements[0].intensity, 0);
  // Noise shaping off rebuilds the model.
  const int tns[] = {0};
  int* const offValue[] = {&off};
  g_silentLog.clear();
  ASSERT_EQ(Message(mp4aenc_param_ctl(e.handle, 1, tns, offValue, 0)), "(none)");
  EXPECT_EQ(g_silentLog.front(), "psy_create");
  EXPECT_EQ(e.map->elements[0].left.tns, 0);
  // A value other than 1 is off.
  int two = 2;
  int* const twoValue[] = {&two};
  ASSERT_EQ(Message(mp4aenc_param_ctl(e.handle, 1, ltp, twoValue, 0)), "(none)");
  EXPECT_EQ(e.map->elements[0].left.ltp, 0);
}

TEST(ParamCtl, PredictionFailsAndLeavesTheEncoderAsItWas) {
  UseSilentStages stages;
  Encoder e;
  ASSERT_EQ(Message(e.Open(2, 44100, 2, 128000)), "(none)");
  int on = 1;
  int* const values[] = {&on};
  const int pred[] = {0x100002};
  AacToolControl* before = e.Core()->tools;
  EXPECT_EQ(Message(mp4aenc_param_ctl(e.handle, 1, pred, values, 0)), "no prediction tool available");
  EXPECT_EQ(e.map->elements[0].left.prediction, 0);
  EXPECT_EQ(e.Core()->tools, before);
  std::vector<float> pcm(2048, 0.0f);
  BitBuffer* out[kMp4Layers];
  EXPECT_EQ(Message(mp4aenc_encode_frame(e.handle, pcm.data(), out, nullptr, 0, 0)), "(none)");
}

TEST(ToolControl, ElementOrderAndCreationRules) {
  UseSilentStages stages;
  Encoder e;
  ASSERT_EQ(Message(e.Open(4, 48000, 3, 192000)), "(none)");
  int on = 1;
  int* const values[] = {&on};
  const int is[] = {0x100005};
  ASSERT_EQ(Message(mp4aenc_param_ctl(e.handle, 1, is, values, 0)), "(none)");
  g_silentLog.clear();
  std::vector<float> pcm(3072, 0.0f);
  BitBuffer* out[kMp4Layers];
  ASSERT_EQ(Message(mp4aenc_encode_frame(e.handle, pcm.data(), out, nullptr, 0, 0)), "(none)");
  std::vector<std::string> tools;
  for (const std::string& s : g_silentLog)
    if (s.find("_frame ") != std::string::npos && s.find("bitmux") == std::string::npos &&
        s.find("tfdec") == std::string::npos)
      tools.push_back(s);
  // Intensity around prediction and mid/side (analysis before, border and
  // application after); super starving last in each element.
  const std::vector<std::string> expected = {"ltp_frame 0 0",       "superstarv_frame 0 -1", "is_frame 1 -1",
                                             "ltp_frame 1 1 joint", "ltp_frame 1 2 joint",   "ms_frame 1 -1",
                                             "is_frame 1 -1",       "superstarv_frame 1 -1"};
  EXPECT_EQ(tools, expected);

  // Prediction on one channel of a pair only: refused. On both channels
  // with a predictor available: created.
  AacChannelMap map;
  ASSERT_EQ(aac_channel_map_build(&map, 2, 0), nullptr);
  AacCore core = *e.Core();
  core.map = &map;
  core.channels = 2;
  map.elements[0].left.prediction = 1;
  AacToolControl* control = nullptr;
  EXPECT_EQ(Message(tool_control_create(&control, &core)), "wrong predictor on/off initialization");
  map.elements[0].right.prediction = 1;
  EXPECT_EQ(Message(tool_control_create(&control, &core)), "no prediction tool available");
  AacCoreStages withPredictor = *SilentStages();
  withPredictor.pred = withPredictor.ltp;
  core.stages = &withPredictor;
  ASSERT_EQ(Message(tool_control_create(&control, &core)), "(none)");
  EXPECT_NE(control->elements[0].pred[0], nullptr);
  EXPECT_NE(control->elements[0].pred[1], nullptr);
  tool_control_free(control);
  // A rate outside the table.
  core.sampleRate = 7350;
  EXPECT_EQ(Message(tool_control_create(&control, &core)), "wrong sample frequency");
}

TEST(ToolControl, WorkloadAndSmoothedEntropy) {
  // The workload stays 0 while the penalty is negative.
  EXPECT_EQ(tool_workload_update(0.0f, 0, 1.0f), 0.0f);
  EXPECT_EQ(tool_workload_update(0.0f, 1000, 0.5f), 0.0f);  // 0.03 - 0.05
  // A positive penalty raises it, always below 1.
  const float once = tool_workload_update(0.0f, 999999, 0.0f);  // penalty 0.06
  EXPECT_NEAR(once, std::atan(0.06) * 2.0 / 3.14159265358979, 1e-6);
  float w = 0.0f;
  for (int i = 0; i < 10000; ++i) w = tool_workload_update(w, 999999, 0.0f);
  EXPECT_GT(w, 0.99f);
  EXPECT_LT(w, 1.0f);
  // A negative penalty brings it back towards 0, never below.
  for (int i = 0; i < 100000; ++i) w = tool_workload_update(w, 0, 10.0f);
  EXPECT_EQ(w, 0.0f);

  // Up by 10 % of the gap, down by 3 %, converging on a constant total.
  EXPECT_FLOAT_EQ(tool_smooth_pe(100.0f, 200.0f), 110.0f);
  EXPECT_FLOAT_EQ(tool_smooth_pe(200.0f, 100.0f), 197.0f);
  float s = 0.0f;
  for (int i = 0; i < 300; ++i) s = tool_smooth_pe(s, 500.0f);
  EXPECT_NEAR(s, 500.0f, 0.01f);
  for (int i = 0; i < 1000; ++i) s = tool_smooth_pe(s, 120.0f);
  EXPECT_NEAR(s, 120.0f, 0.01f);
}

TEST(ToolControl, FrameFiguresFromTheAnalysis) {
  UseSilentStages stages;
  g_silent.energy = 1024.0f;
  g_silent.threshold = 1.0f;  // 10 bits of entropy per channel
  g_silent.workCounter = 999999;
  Encoder e;
  ASSERT_EQ(Message(e.Open(2, 44100, 2, 128000)), "(none)");
  std::vector<float> pcm(2048, 0.0f);
  BitBuffer* out[kMp4Layers];
  ASSERT_EQ(Message(mp4aenc_encode_frame(e.handle, pcm.data(), out, nullptr, 0, 0)), "(none)");
  const AacToolControl* t = e.Core()->tools;
  EXPECT_FLOAT_EQ(t->pe[0], 10.0f);
  EXPECT_FLOAT_EQ(t->pe[1], 10.0f);
  EXPECT_FLOAT_EQ(t->smoothedPe, 2.0f);  // 0.1 of a total of 20
  EXPECT_GT(t->workload, 0.0f);
  EXPECT_EQ(t->channelWorkload[1], t->workload);
  // The first channel's smoothed figure is held at 350 at least.
  const AacPsyChannel* p = e.Core()->stages->psy_channel(e.Core()->psy, 0);
  EXPECT_EQ(*p->smoothedPe, 350.0f);
  // A threshold at FLT_MIN fails the frame.
  g_silent.threshold = 0.0f;
  EXPECT_EQ(Message(mp4aenc_encode_frame(e.handle, pcm.data(), out, nullptr, 0, 0)), "threshold <= FLT_MIN");
}

TEST(BitBudget, AverageAndCeiling) {
  struct Case {
    long bitrate;
    long rate;
    long fill;
    long average, budget;
  } cases[] = {
      {128000, 44100, 0, 2972, 2972},     {128000, 44100, 1000, 2972, 3872},
      {128000, 44100, 100000, 2972, 4458}, {64000, 48000, 6144, 1365, 2047},
      {24000, 24000, -5, 1024, 1024},
  };
  for (const Case& c : cases) {
    const AacFrameBudget b = aac_frame_budget(c.bitrate, 1024, c.rate, c.fill, nullptr);
    EXPECT_EQ(b.average, c.average) << c.bitrate << " " << c.fill;
    EXPECT_EQ(b.budget, c.budget) << c.bitrate << " " << c.fill;
    EXPECT_EQ(b.headerBits, 0);
  }
}

TEST(BitBudget, TheCoreGrantsFromTheReservoirAndAsksTheWriterForItsHeader) {
  UseSilentStages stages;
  g_silent.reservoirFill = 1000000;  // a full reservoir
  Encoder e;
  ASSERT_EQ(Message(e.Open(2, 44100, 2, 128000)), "(none)");
  EXPECT_NE(std::find(g_silentLog.begin(), g_silentLog.end(), "bitmux_create 1000"), g_silentLog.end());
  for (int crc : {0, 1}) {
    Mp4BitstreamSetup setup = {};
    setup.layers = e.info;
    setup.map = e.map;
    setup.crc = crc;
    Mp4BitstreamWriter* writer = nullptr;
    ASSERT_EQ(Message(mp4aenc_bitstream_open(&writer, &setup, 2)), "(none)");
    ASSERT_EQ(Message(mp4aenc_set_option(e.handle, writer)), "(none)");
    std::vector<float> pcm(2048, 0.0f);
    BitBuffer* out[kMp4Layers];
    ASSERT_EQ(Message(mp4aenc_encode_frame(e.handle, pcm.data(), out, nullptr, 0, 0)), "(none)");
    const AacFrameBudget b = SilentLastBudget();
    EXPECT_EQ(b.average, 2972);
    EXPECT_EQ(b.budget, 4458);
    EXPECT_EQ(b.headerBits, crc ? 72 : 56);
    mp4aenc_set_option(e.handle, nullptr);
    EXPECT_EQ(Message(mp4aenc_bitstream_close(writer)), "(none)");
    uint8_t bytes[64];
    uint32_t n = 0;
    bitbuf_copy_bytes(out[0], &n, bytes);
  }
}

TEST(EncoderClose, NullAndFailedOpensAreAccepted) {
  EXPECT_EQ(mp4aenc_close(nullptr, nullptr, 0), nullptr);
  Encoder e;
  EXPECT_EQ(Message(e.Open(1, 44100, 2, 0)), "audio object type not supported!");
}

}  // namespace
