// The internal decoder: its regrouping, and its reconstruction of our own
// frames against ffmpeg's decode of them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "audiolib/audiofile.h"
#include "mp4aenc/aaccore.h"
#include "mp4aenc/bitstream.h"
#include "mp4aenc/lt_pred.h"
#include "mp4aenc/mp4aenc.h"
#include "mp4aenc/tf_int_dec.h"
#include "mp4aenc/tool_stages.h"
#include "param_front_end.h"
#include "peer.h"

namespace {

const double kPi = 3.14159265358979323846;

std::string Message(ErrorRecord* e) {
  if (!e) return "";
  std::string m = e->message;
  error_free(e);
  return m;
}

// Groups of 3, 4 and 1 windows over two bands of 4 and 12 lines (16 lines a
// window): each grouped value lands at line k of window w, k * 8 + w.
TEST(TfRegroup, GroupedShortWindowsBecomeInterleaved) {
  AacChannelResult r{};
  r.blockType = 2;
  r.groups = 3;
  r.groupLength[0] = 3, r.groupLength[1] = 4, r.groupLength[2] = 1;
  r.bandsPerWindow = 2;
  r.bandOffset[0] = 0, r.bandOffset[1] = 4, r.bandOffset[2] = 16;
  std::vector<float> grouped(1024), out(1024, -1.0f);
  for (int i = 0; i < 128; ++i) grouped[size_t(i)] = float(i + 1);
  tf_regroup(&r, grouped.data(), out.data());
  // Group 0: band 0 of windows 0..2 (values 1..12), then band 1 (13..48).
  EXPECT_EQ(out[0 * 8 + 0], 1.0f);
  EXPECT_EQ(out[3 * 8 + 0], 4.0f);
  EXPECT_EQ(out[0 * 8 + 1], 5.0f);
  EXPECT_EQ(out[4 * 8 + 0], 13.0f);
  EXPECT_EQ(out[15 * 8 + 2], 48.0f);
  // Group 1 starts at window 3 with value 49; group 2 is window 7.
  EXPECT_EQ(out[0 * 8 + 3], 49.0f);
  EXPECT_EQ(out[0 * 8 + 7], 113.0f);
  EXPECT_EQ(out[15 * 8 + 7], 128.0f);
  // Lines beyond the 16 per window are cleared.
  EXPECT_EQ(out[16 * 8], 0.0f);
}

// A stereo signal with tones, a moving image and hits that switch to short
// windows, 16-bit values.
std::vector<float> TestSignal(int rate, int frames) {
  std::mt19937 rng(3);
  std::normal_distribution<float> noise(0.0f, 1.0f);
  const int n = frames * 1024;
  std::vector<float> s(size_t(2 * n));
  for (int i = 0; i < n; ++i) {
    const double t = double(i) / rate;
    const double pan = 0.5 + 0.4 * std::sin(2 * kPi * 0.7 * t);
    double x = 0.0;
    for (int h = 1; h <= 6; ++h) x += std::sin(2 * kPi * 196.0 * h * t) / h;
    const int sinceHit = i % (rate / 3);
    const double hit = sinceHit < 2000 ? noise(rng) * std::exp(-sinceHit / 300.0) * 2.0 : 0.0;
    s[size_t(2 * i)] = float(6000.0 * (x * pan + hit) + 300.0 * noise(rng));
    s[size_t(2 * i + 1)] = float(6000.0 * (x * (1.0 - pan) + 0.8 * hit) + 300.0 * noise(rng));
  }
  return s;
}

struct Encoded {
  std::vector<uint8_t> adts;
  std::vector<float> reconstruction;  // interleaved stereo
  int shortFrames = 0, msFrames = 0, ltpFrames = 0;
  int intensityBands = 0, shortIntensityBands = 0, noiseBands = 0;
};

// tools: keys switched on as the filter does (5 intensity, 1 noise
// substitution).
std::string Encode(long bitrate, int rate, const std::vector<float>& pcm, Encoded* out, int objectType = 2,
                   std::initializer_list<int> tools = {}) {
  Mp4AEncHandle* h = nullptr;
  AacChannelMap* map = nullptr;
  LayerInfo info[kMp4Layers] = {};
  int frameLength = 1024, channels[1] = {2}, offsets[2] = {0, 1}, strides[2] = {2, 2};
  long bitrates[1] = {bitrate};
  std::string m = Message(mp4aenc_open(&h, objectType, rate, bitrates, &frameLength, 0, &map, 1, 0, channels,
                                       0, "NO_CORE", offsets, strides, info));
  Mp4BitstreamSetup setup = {};
  setup.layers = info;
  setup.map = map;
  Mp4BitstreamWriter* writer = nullptr;
  for (int key : tools) {
    int on = 1;
    int* const values[1] = {&on};
    if (m.empty()) m = Message(mp4aenc_param_ctl(h, 1, &key, values, 0));
  }
  if (m.empty()) m = Message(mp4aenc_bitstream_open(&writer, &setup, 2));
  if (m.empty()) mp4aenc_set_option(h, writer);
  std::vector<uint8_t> bytes(65536);
  const size_t frames = pcm.size() / 2048;
  for (size_t f = 0; f < frames && m.empty(); ++f) {
    BitBuffer* layers[kMp4Layers];
    long side = 0;
    m = Message(mp4aenc_encode_frame(h, pcm.data() + f * 2048, layers, &side, 0, 0));
    if (!m.empty()) break;
    const long values[kMp4Layers] = {side};
    uint32_t n = 0;
    m = Message(mp4aenc_bitstream_write(writer, layers, values, bytes.data(), uint32_t(bytes.size()), &n));
    out->adts.insert(out->adts.end(), bytes.begin(), bytes.begin() + n);
    const AacCore* core = static_cast<const AacCore*>(h->coder);
    const TfIntDec* dec = aac_inner_decoder(core);
    if (!dec) {
      m = "no internal decoder";
      break;
    }
    for (int i = 0; i < 1024; ++i)
      for (int c = 0; c < 2; ++c) out->reconstruction.push_back(tf_int_dec_output(dec, c)[i]);
    const AacChannelResult* r = aac_inner_result(core, 0);
    out->shortFrames += r->blockType == 2;
    for (int c = 0; c < 2; ++c) {
      const LtpSideInfo* ltp = aac_inner_result(core, c)->ltp;
      if (ltp && ltp->dataPresent) {
        ++out->ltpFrames;
        break;
      }
    }
    const AacChannelResult* second = aac_inner_result(core, 1);
    for (int i = 0; i < kAacMaxGroupBands; ++i) {
      if (second->book[i] == 14 || second->book[i] == 15) {
        ++out->intensityBands;
        out->shortIntensityBands += r->blockType == 2;
      }
      out->noiseBands += (r->book[i] == 13) + (second->book[i] == 13);
    }
    for (int i = 0; i < kAacMaxGroupBands; ++i)
      if (r->jsFlags[i] & 1) {
        ++out->msFrames;
        break;
      }
  }
  Message(mp4aenc_bitstream_close(writer));
  mp4aenc_close(h, map, 0);
  return m;
}

// The stream decoded by a peer against the reconstruction: SNR in dB and
// the worst difference in 16-bit units; an empty string or what went wrong.
// ffmpeg decodes floats (scaled by 32768) from the first frame; faad 16-bit
// values without the first frame.
std::string CompareWithPeer(const Encoded& e, const std::string& name, bool faad, double* snr,
                            double* worst) {
  const std::string path = ScratchPath(name + ".aac");
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return "cannot write " + path;
  std::fwrite(e.adts.data(), 1, e.adts.size(), f);
  std::fclose(f);
  int status = -1;
  const std::string command =
      faad ? "faad -q -w -f 2 " + path : "ffmpeg -nostdin -v error -xerror -i " + path + " -f f32le -";
  const std::string raw = RunPeer(command, &status);
  std::remove(path.c_str());
  if (status != 0) return faad ? "faad failed" : "ffmpeg failed";
  const size_t skip = faad ? 2048 : 0, width = faad ? 2 : 4;
  if (raw.size() != (e.reconstruction.size() - skip) * width) return "the peer decoded another length";
  double signal = 0.0, error = 0.0;
  *worst = 0.0;
  for (size_t i = skip; i < e.reconstruction.size(); ++i) {
    double theirs;
    if (faad) {
      int16_t v;
      std::memcpy(&v, raw.data() + 2 * (i - skip), 2);
      theirs = v;
    } else {
      float v;
      std::memcpy(&v, raw.data() + 4 * i, 4);
      theirs = double(v) * 32768.0;
    }
    const double ours = e.reconstruction[i];
    signal += ours * ours;
    error += (ours - theirs) * (ours - theirs);
    *worst = std::max(*worst, std::fabs(ours - theirs));
  }
  *snr = 10.0 * std::log10(signal / std::max(error, 1e-30));
  return "";
}

// What the encoder reconstructs is what ffmpeg decodes from the stream,
// within float rounding, frame by frame from the first; short windows,
// window shape changes, TNS and mid/side included, and intensity bands
// (long and short windows) where the tool is on.
TEST(TfIntDec, ReconstructionEqualsFfmpegsDecodeOfOurFrames) {
  if (!PeerAvailable()) GTEST_SKIP() << "no ffmpeg here";
  struct Case {
    long bitrate;
    int rate, intensity;
  } cases[] = {{64000, 44100, 0}, {128000, 44100, 0}, {32000, 22050, 0}, {64000, 44100, 1}, {48000, 32000, 1}};
  for (const Case& c : cases) {
    Encoded e;
    ASSERT_EQ(Encode(c.bitrate, c.rate, TestSignal(c.rate, 40), &e, 2,
                     c.intensity ? std::initializer_list<int>{0x100005} : std::initializer_list<int>{}),
              "") << c.bitrate;
    EXPECT_GT(e.shortFrames, 0) << c.bitrate;
    EXPECT_GT(e.msFrames, 0) << c.bitrate;
    if (c.intensity) {
      EXPECT_GT(e.intensityBands, 0) << c.bitrate;
      EXPECT_GT(e.shortIntensityBands, 0) << c.bitrate;
    } else {
      EXPECT_EQ(e.intensityBands, 0) << c.bitrate;
    }
    double snr = 0.0, worst = 0.0;
    ASSERT_EQ(CompareWithPeer(e, "tfdec_" + std::to_string(c.bitrate) + "_" + std::to_string(c.intensity), false,
                              &snr, &worst),
              "")
        << c.bitrate;
    EXPECT_GT(snr, 90.0) << c.bitrate << " bit/s: worst difference " << worst;
    EXPECT_LT(worst, 0.5) << c.bitrate;
    std::printf("%ld bit/s %d Hz%s: reconstruction against ffmpeg %.1f dB, worst %.4f (16-bit units), %d intensity "
                "bands (%d in short frames)\n",
                c.bitrate, c.rate, c.intensity ? " with intensity" : "", snr, worst, e.intensityBands,
                e.shortIntensityBands);
  }
}

// With long-term prediction (AAC-LTP) the prediction the encoder adds back
// is the one the decoders build from their own output: the reconstruction
// follows ffmpeg's and faad's decodes, on the mixed signal and on a steady
// tone where most frames predict, and with intensity bands (which take no
// prediction) beside predicted ones. The history holds 16-bit values, as
// faad's does; ffmpeg keeps floats, so each frame's prediction differs from
// its by the rounding, carried on through the next ones.
TEST(TfIntDec, ReconstructionWithPredictionEqualsFfmpegsDecode) {
  if (!PeerAvailable()) GTEST_SKIP() << "no ffmpeg here";
  const std::vector<float> mixed = TestSignal(44100, 40);
  std::vector<float> tone(size_t(2 * 40 * 1024));
  for (size_t i = 0; i < tone.size() / 2; ++i) {
    double x = 0.0;
    for (int h = 1; h <= 8; ++h) x += std::sin(2 * kPi * 220.0 * h * double(i) / 44100.0) / h;
    tone[2 * i] = float(9000.0 * x);
    tone[2 * i + 1] = float(7000.0 * x + 1500.0 * std::sin(2 * kPi * 330.0 * double(i) / 44100.0));
  }
  struct Case {
    const char* name;
    const std::vector<float>* pcm;
    long bitrate;
    int minLtpFrames, intensity;
  } cases[] = {{"mixed", &mixed, 64000, 1, 0},
               {"tone", &tone, 64000, 30, 0},
               {"tone", &tone, 128000, 30, 0},
               {"mixed-intensity", &mixed, 64000, 1, 1}};
  for (const Case& c : cases) {
    Encoded e;
    ASSERT_EQ(Encode(c.bitrate, 44100, *c.pcm, &e, 4,
                     c.intensity ? std::initializer_list<int>{0x100005} : std::initializer_list<int>{}),
              "")
        << c.name;
    EXPECT_GE(e.ltpFrames, c.minLtpFrames) << c.name;
    if (c.intensity) {
      EXPECT_GT(e.intensityBands, 0) << c.name;
    }
    for (const bool faad : {false, true}) {
      double snr = 0.0, worst = 0.0;
      ASSERT_EQ(CompareWithPeer(e, std::string("tfdec_ltp_") + c.name, faad, &snr, &worst), "") << c.name;
      std::printf("AAC-LTP %s %ld bit/s: %d of 40 frames predict; against %s %.1f dB, worst %.2f\n", c.name,
                  c.bitrate, e.ltpFrames, faad ? "faad" : "ffmpeg", snr, worst);
      EXPECT_GT(snr, 70.0) << c.name << (faad ? " faad" : " ffmpeg");
    }
  }
}

// Noise substitution measured on 32 uniform bands ("pnsBandMode" 1) finds
// noise bands in white noise as the measure per scale-factor band does.
TEST(PnsUniformBands, WhiteNoiseGetsNoiseBands) {
  std::mt19937 rng(9);
  std::normal_distribution<float> noise(0.0f, 3000.0f);
  std::vector<float> pcm(2 * 1024 * 12);
  for (float& v : pcm) v = noise(rng);
  for (const char* mode : {"", "-pnsBandMode 1"}) {
    configure_params_line(mode);
    Encoded e;
    ASSERT_EQ(Encode(64000, 44100, pcm, &e, 2, {0x100001}), "") << mode;
    configure_params({});
    EXPECT_GT(e.noiseBands, 100) << mode;
    std::printf("noise bands with band mode \"%s\": %d\n", mode, e.noiseBands);
  }
}

// With "decOf" set, the decoder's output file holds the reconstruction,
// and that follows the input within the coder's own error.
TEST(TfIntDec, OutputFileHoldsTheReconstruction) {
  const std::string wav = ScratchPath("tfdec_out.wav");
  std::remove(wav.c_str());
  configure_params({"-decOf " + wav, "-decFf WAV"});
  const std::vector<float> input = TestSignal(44100, 40);
  Encoded e;
  const std::string m = Encode(64000, 44100, input, &e);
  configure_params({});
  ASSERT_EQ(m, "");
  AudioFileHandle* h = nullptr;
  int type = AUDIOFILE_WAVE;
  AudioFileFormat f{};
  ASSERT_EQ(audiofile_open(&h, wav.c_str(), AUDIOFILE_READ, &type, &f), 0);
  EXPECT_EQ(f.channels, 2);
  EXPECT_EQ(f.sampleRate, 44100);
  std::vector<int16_t> stored(e.reconstruction.size() + 64);
  int got = 0;
  EXPECT_EQ(audiofile_read_short(h, stored.data(), int(stored.size()), &got), 0);
  audiofile_close(h);
  std::remove(wav.c_str());
  ASSERT_EQ(size_t(got), e.reconstruction.size());
  for (size_t i = 0; i < e.reconstruction.size(); ++i) {
    const double expected = std::clamp(double(e.reconstruction[i]), -32768.0, 32767.0);
    ASSERT_LE(std::fabs(stored[i] - expected), 1.0) << "sample " << i;
  }
  // Against the input, at the lag where they line up best (the coder's
  // delay, a little over two frames): about 10 dB on this signal with its
  // noise bursts at 64 kbit/s, about 7 dB at the best of the other lags.
  const size_t n = e.reconstruction.size() / 2;
  double best = -1e9;
  size_t bestLag = 0;
  for (size_t lag = 0; lag <= 2400; ++lag) {
    double signal = 0.0, error = 0.0;
    for (size_t i = 4096; i + lag < n; i += 7) {
      const double x = input[2 * i], y = stored[2 * (i + lag)];
      signal += x * x;
      error += (x - y) * (x - y);
    }
    const double snr = 10.0 * std::log10(signal / std::max(error, 1e-30));
    if (snr > best) best = snr, bestLag = lag;
  }
  std::printf("decoder file against the input: %.1f dB at a lag of %zu samples\n", best, bestLag);
  EXPECT_GT(best, 8.5);
}

}  // namespace
