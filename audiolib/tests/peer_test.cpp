// Independent peers: ffprobe and python's wave, aifc and sunau read what we
// write; ffmpeg and python make the files our readers take.
#include <gtest/gtest.h>

#include <sstream>

#include "helpers.h"

namespace {

std::string ints(const std::vector<int16_t>& v) {
  std::string s;
  for (int16_t x : v) s += std::to_string(x) + " ";
  return s;
}

std::string ffprobe(const std::string& path) {
  return run("ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,duration_ts "
             "-of compact=p=0 " + path + " 2>&1");
}

TEST(AudioFilePeers, OurFilesReadBackInFfprobeAndPython) {
  if (!peers_available()) GTEST_SKIP() << "peers run on the Linux host only";
  const auto sig = test_signal(1001, 2);
  struct Case {
    const char* name;
    int type;
    int bits;
    const char* codec;
    const char* module;
  };
  const Case cases[] = {
      {"p8.wav", 3, 8, "pcm_u8", "wave"},       {"p16.wav", 3, 16, "pcm_s16le", "wave"},
      {"p24.wav", 3, 24, "pcm_s24le", "wave"},  {"p32.wav", 3, 32, "pcm_s32le", "wave"},
      {"p8.aifc", 2, 8, "pcm_s8", "aifc"},      {"p16.aifc", 2, 16, "pcm_s16be", "aifc"},
      {"p24.aif", 1, 24, "pcm_s24be", "aifc"},  {"p32.aifc", 2, 32, "pcm_s32be", "aifc"},
      {"p8.snd", 4, 8, "pcm_s8", "sunau"},      {"p16.au", 4, 16, "pcm_s16be", "sunau"},
      {"p24.snd", 4, 24, "pcm_s24be", "sunau"}, {"p32.snd", 4, 32, "pcm_s32be", "sunau"},
  };
  std::string jobs;
  for (const Case& c : cases) {
    const std::string path = scratch(c.name);
    const auto in = c.bits == 8 ? top_bytes(sig) : sig;
    ASSERT_EQ(write_file(path, c.type, make_format(c.bits, 11025, 2), to_float(in, 32768.0)), 0) << c.name;
    EXPECT_EQ(ffprobe(path), std::string("codec_name=") + c.codec +
                                 "|sample_rate=11025|channels=2|duration_ts=1001\n")
        << c.name;
    jobs += std::string(" ") + c.module + ":" + path;
  }
  int status = -1;
  const std::string out = run(fixtures_script() + " read" + jobs, &status);
  ASSERT_EQ(status, 0) << out;
  std::istringstream lines(out);
  for (const Case& c : cases) {
    std::string params, samples;
    std::getline(lines, params);
    std::getline(lines, samples);
    EXPECT_EQ(params, "2 " + std::to_string(c.bits) + " 11025 1001") << c.name;
    EXPECT_EQ(samples + " ", ints(c.bits == 8 ? top_bytes(sig) : sig)) << c.name;
  }
}

TEST(AudioFilePeers, ReadersTakeFfmpegFiles) {
  if (!peers_available()) GTEST_SKIP() << "peers run on the Linux host only";
  const auto sig = test_signal(3000, 2);
  const std::string raw = scratch("ff_in.raw");
  std::string bytes;
  for (int16_t v : sig) bytes += char(v & 0xff), bytes += char((v >> 8) & 0xff);
  spit(raw, bytes);
  struct Case {
    const char* name;
    const char* codec;
    int type;
    int bits;
  };
  // ffmpeg's WAVE carries a "LIST" chunk before "data", and above 16 bits
  // the extensible format.
  const Case cases[] = {
      {"ff8.wav", "pcm_u8", 3, 8},       {"ff16.wav", "pcm_s16le", 3, 16},  {"ff24.wav", "pcm_s24le", 3, 24},
      {"ff32.wav", "pcm_s32le", 3, 32},  {"ff8.aiff", "pcm_s8", 1, 8},      {"ff16.aiff", "pcm_s16be", 1, 16},
      {"ff24.aiff", "pcm_s24be", 1, 24}, {"ff16.au", "pcm_s16be", 4, 16},   {"ff8.au", "pcm_s8", 4, 8},
      {"ff32.au", "pcm_s32be", 4, 32},
  };
  // One ffmpeg run writes every file.
  std::string outputs;
  for (const Case& c : cases) outputs += std::string(" -c:a ") + c.codec + " " + scratch(c.name);
  int status = -1;
  run("ffmpeg -v error -y -f s16le -ar 16000 -ac 2 -i " + raw + outputs + " 2>&1", &status);
  ASSERT_EQ(status, 0);
  for (const Case& c : cases) {
    const std::string path = std::string("audiolib_scratch_") + c.name;
    const ReadBack r = read_file(path, 0);
    ASSERT_EQ(r.code, 0) << c.name;
    EXPECT_EQ(r.type, c.type) << c.name;
    EXPECT_EQ(r.format.bitsPerSample, c.bits) << c.name;
    EXPECT_EQ(r.format.sampleRate, 16000) << c.name;
    EXPECT_EQ(r.format.channels, 2) << c.name;
    EXPECT_EQ(r.samples, c.bits == 8 ? top_bytes(sig) : sig) << c.name;
  }
}

TEST(AudioFilePeers, ReadersTakePythonRifxAndLittleEndianSnd) {
  if (!peers_available()) GTEST_SKIP() << "peers run on the Linux host only";
  const auto sig = test_signal(777, 3);
  struct Case {
    const char* kind;
    int bits;
    int type;
    int littleEndian;
  };
  const Case cases[] = {{"rifx", 8, 3, 0}, {"rifx", 16, 3, 0}, {"rifx", 24, 3, 0}, {"rifx", 32, 3, 0},
                        {"dns", 8, 4, 1},  {"dns", 16, 4, 1},  {"dns", 24, 4, 1},  {"dns", 32, 4, 1}};
  const std::string in = scratch("py_in.txt");
  spit(in, ints(sig));
  std::string jobs;
  for (const Case& c : cases)
    jobs += std::string(" ") + c.kind + ":" + scratch(c.kind + std::to_string(c.bits)) + ":12000:3:" +
            std::to_string(c.bits);
  int status = -1;
  const std::string out = run(fixtures_script() + " make" + jobs + " < " + in + " 2>&1", &status);
  ASSERT_EQ(status, 0) << out;
  for (const Case& c : cases) {
    const std::string path = std::string("audiolib_scratch_") + c.kind + std::to_string(c.bits);
    const ReadBack r = read_file(path, 0);
    ASSERT_EQ(r.code, 0) << c.kind << c.bits;
    EXPECT_EQ(r.type, c.type);
    EXPECT_EQ(r.format.littleEndian, c.littleEndian) << c.kind;
    EXPECT_EQ(r.format.sampleRate, 12000);
    EXPECT_EQ(r.format.channels, 3);
    EXPECT_EQ(r.samples, c.bits == 8 ? top_bytes(sig) : sig) << c.kind << c.bits;
  }
}

}  // namespace
