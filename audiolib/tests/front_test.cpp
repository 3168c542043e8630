// The front: type codes, detection, the open codes, round trips through
// every writer and reader, and outputs that cannot seek.
#include <gtest/gtest.h>

#include <cstring>

#include "helpers.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

TEST(AudioFileFront, TypeFromExtension) {
  const struct {
    const char* name;
    int code;
  } cases[] = {
      {"x.aiff", 0}, {"x.aif", 0},  {"x.aifc", 1}, {"x.AIF", 4},      {"x", 4},     {"out.wav", 2},
      {"a.au", 3},   {"a.snd", 3},  {"a.pcm", 4},  {"a.mp3", 5},      {"a.aac", 6}, {"a.raw", 4},
      {"dir.wav/x", 2},  // the text from the last "." is compared as a prefix
  };
  for (const auto& c : cases) EXPECT_EQ(audiofile_type_from_extension(c.name), c.code) << c.name;
}

TEST(AudioFileFront, EveryWriterRoundTripsThroughItsReader) {
  const auto sig = test_signal(501, 2);  // odd frame count: odd data chunks
  struct Case {
    const char* name;
    int type;
    int bits;
    int expectType;  // detected on reading
  };
  const Case cases[] = {
      {"w8.wav", 3, 8, 3},    {"w16.wav", 3, 16, 3}, {"w24.wav", 3, 24, 3}, {"w32.wav", 3, 32, 3},
      {"a8.aifc", 2, 8, 2},   {"a16.aif", 1, 16, 2}, {"a24.aifc", 2, 24, 2}, {"s8.snd", 4, 8, 4},
      {"s16.au", 4, 16, 4},   {"s24.snd", 4, 24, 4}, {"s32.snd", 4, 32, 4},
  };
  for (const Case& c : cases) {
    const std::string path = scratch(c.name);
    // 8-bit files keep the top byte: written so, they read back exactly.
    const auto in = c.bits == 8 ? top_bytes(sig) : sig;
    ASSERT_EQ(write_file(path, c.type, make_format(c.bits, 22050, 2), to_float(in, 32768.0)), 0) << c.name;
    const ReadBack r = read_file(path, 0);
    ASSERT_EQ(r.code, 0) << c.name;
    EXPECT_EQ(r.type, c.expectType) << c.name;
    EXPECT_EQ(r.format.bitsPerSample, c.bits) << c.name;
    EXPECT_EQ(r.format.sampleRate, 22050) << c.name;
    EXPECT_EQ(r.format.channels, 2) << c.name;
    EXPECT_EQ(r.format.length, int(sig.size())) << c.name;
    EXPECT_EQ(r.samples, in) << c.name;
  }
}

TEST(AudioFileFront, WriterHeadersHoldTheSizesAfterClose) {
  const auto sig = test_signal(500, 2);
  // WAVE by extension: type 3; sizes are 0 until close.
  const std::string wav = scratch("out.wav");
  AudioFileFormat f = make_format(16, 8000, 2);
  int type = 0;
  AudioFileHandle* h = nullptr;
  ASSERT_EQ(audiofile_open(&h, wav.c_str(), AUDIOFILE_WRITE, &type, &f), 0);
  EXPECT_EQ(type, 3);
  const auto fl = to_float(sig, 32768.0);
  ASSERT_EQ(audiofile_write(h, fl.data(), int(fl.size()), nullptr), 0);
  fflush(nullptr);
  std::string bytes = slurp(wav);
  ASSERT_GE(bytes.size(), 44u);
  EXPECT_EQ(std::memcmp(bytes.data() + 4, "\0\0\0\0", 4), 0);
  audiofile_close(h);
  bytes = slurp(wav);
  auto le32 = [&](size_t at) { return uint32_t(uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8 |
                                               uint8_t(bytes[at + 2]) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24); };
  EXPECT_EQ(le32(4), bytes.size() - 8);
  EXPECT_EQ(bytes.substr(38, 4), "fact");
  EXPECT_EQ(le32(46), 500u);  // sample frames
  EXPECT_EQ(le32(54), 2000u);  // data bytes
  // AIFC after 1000 16-bit stereo samples: 500 frames in COMM.
  const std::string aif = scratch("frames.aifc");
  ASSERT_EQ(write_file(aif, 2, make_format(16, 8000, 2), std::vector<float>(1000, 0.0f)), 0);
  bytes = slurp(aif);
  const size_t comm = bytes.find("COMM");
  ASSERT_NE(comm, std::string::npos);
  const auto* u = reinterpret_cast<const uint8_t*>(bytes.data()) + comm + 10;
  EXPECT_EQ(uint32_t(u[0]) << 24 | u[1] << 16 | u[2] << 8 | u[3], 500u);
  // ".snd": header size 28, data size = the bytes written.
  const std::string snd = scratch("sizes.snd");
  ASSERT_EQ(write_file(snd, 4, make_format(16, 8000, 1), std::vector<float>(333, 0.0f)), 0);
  bytes = slurp(snd);
  ASSERT_EQ(bytes.size(), 28u + 666u);
  EXPECT_EQ(bytes.substr(0, 12), std::string(".snd\0\0\0\x1c\0\0\x02\x9a", 12));
}

TEST(AudioFileFront, EightBitWaveIsUnsignedAndWaveIsAlwaysLittleEndian) {
  const std::string path = scratch("u8.wav");
  AudioFileFormat f = make_format(8, 8000, 1, 1.0);
  f.littleEndian = 0;  // ignored: RIFF is little-endian
  ASSERT_EQ(write_file(path, 3, f, {0.0f, -1.0f, 0.5f}), 0);
  const std::string bytes = slurp(path);
  EXPECT_EQ(bytes.substr(0, 4), "RIFF");
  EXPECT_EQ(bytes.substr(bytes.size() - 4), std::string("\x80\x00\xc0\x00", 4));  // with the pad
  AudioFileHandle* h = nullptr;
  int type = 3;
  AudioFileFormat rf{};
  ASSERT_EQ(audiofile_open(&h, path.c_str(), AUDIOFILE_READ, &type, &rf), 0);
  float fl[4] = {};
  int got = 0;
  ASSERT_EQ(audiofile_read(h, fl, 4, &got), 0);
  ASSERT_EQ(got, 3);
  EXPECT_EQ(fl[0], 0.0f);
  EXPECT_EQ(fl[1], -1.0f);  // a byte of 0 is -scale
  EXPECT_EQ(fl[2], 0.5f);
  audiofile_close(h);
}

TEST(AudioFileFront, ReadTypeResolution) {
  const std::string wav = scratch("resolve.wav");
  ASSERT_EQ(write_file(wav, 3, make_format(16, 16000, 1), std::vector<float>(100, 1.0f)), 0);
  const std::string raw = scratch("resolve.bin");
  spit(raw, std::string(400, '\x01'));
  const AudioFileFormat given = make_format(16, 8000, 2);
  struct Case {
    const char* what;
    const std::string& path;
    int type;
    bool withFormat;
    int code;
    int typeOut;
    int rate;
  };
  const Case cases[] = {
      {"WAVE as headerless", wav, 5, false, 6, 0, 0},  {"WAVE detected", wav, 0, false, 0, 3, 16000},
      {"WAVE accepted as any", wav, 9, false, 0, 9, 16000}, {"WAVE as WAVE", wav, 3, false, 0, 3, 16000},
      {"WAVE as AIFC", wav, 2, false, 6, 0, 0},        {"raw, no format", raw, 0, false, 6, 0, 0},
      {"raw with format", raw, 0, true, 0, 5, 8000},   {"raw as raw with format", raw, 5, true, 0, 5, 8000},
      {"raw as raw, no format", raw, 5, false, 6, 0, 0},
  };
  for (const Case& c : cases) {
    const ReadBack r = read_file(c.path, c.type, c.withFormat ? &given : nullptr);
    EXPECT_EQ(r.code, c.code) << c.what;
    if (c.code != 0) {
      EXPECT_EQ(r.format.valid, 0) << c.what;
      continue;
    }
    EXPECT_EQ(r.type, c.typeOut) << c.what;
    EXPECT_EQ(r.format.sampleRate, c.rate) << c.what;
    EXPECT_EQ(r.samples.size(), c.path == raw ? 200u : 100u) << c.what;
  }
}

TEST(AudioFileFront, OpenFailuresGiveTheirCodesAndLeaveNothingOpen) {
  const std::string tiny = scratch("tiny.wav");
  spit(tiny, "RIFF\x04\0\0\0WAV");  // 11 bytes
  const std::string packed = scratch("packed.aifc");
  // An AIFC file whose data are compressed ("ima4").
  std::string comm = std::string("\0\x01\0\0\0\0\0\x10\x40\x0e\xac\x44\0\0\0\0\0\0ima4\x04ima4\0", 28);
  std::string body = "AIFC" + std::string("COMM\0\0\0\x1c", 8) + comm + std::string("SSND\0\0\0\x08", 8) +
                     std::string(8, '\0');
  spit(packed, "FORM" + std::string("\0\0\0", 3) + char(body.size()) + body);
  const std::string badFmt = scratch("nofmt.wav");
  spit(badFmt, std::string("RIFF\x10\0\0\0WAVEdata\x04\0\0\0\1\2\3\4", 24));
  const std::string wideFmt = scratch("wide.wav");
  spit(wideFmt, std::string("RIFF\x24\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x40\x1f\0\0\0\0\0\0\x04\0\xff\x00"
                            "data\0\0\0\0", 44));
  struct Case {
    const char* what;
    std::string path;
    unsigned mode;
    int type;
    bool valid;
    int code;
  };
  const Case cases[] = {
      {"missing input", scratch("none.wav"), AUDIOFILE_READ, 0, false, 1},
      {"shorter than 12 bytes", tiny, AUDIOFILE_READ, 0, false, 18},
      {"compressed AIFC", packed, AUDIOFILE_READ, 0, false, 22},
      {"WAVE without fmt", badFmt, AUDIOFILE_READ, 0, false, 22},
      {"WAVE of 255 bits", wideFmt, AUDIOFILE_READ, 0, false, 22},
      {"write without format", scratch("x.wav"), AUDIOFILE_WRITE, 3, false, 5},
      {"write a CD image", scratch("x.cd"), AUDIOFILE_WRITE, 8, true, 6},
      {"write type 11", scratch("x.wav"), AUDIOFILE_WRITE, 11, true, 6},
      {"write to no folder", "no/such/folder/x.wav", AUDIOFILE_WRITE, 3, true, 19},
      {"live write, playback switch 0", "", AUDIOFILE_WRITE, 10, true, 6},
      {"live write from stdout mode", "", AUDIOFILE_WRITE_STDOUT, 10, true, 4},
      {"capture in stdin mode", "", AUDIOFILE_READ_STDIN, 10, false, 4},
      {"mode 7", "x", 7, 0, false, 4},
  };
  for (const Case& c : cases) {
    AudioFileFormat f = c.valid ? make_format(16, 8000, 2) : AudioFileFormat{};
    if (c.type == 10 && c.mode == AUDIOFILE_WRITE_STDOUT) f.codecWords[3] = 1;
    int type = c.type;
    AudioFileHandle* h = reinterpret_cast<AudioFileHandle*>(&f);  // must be cleared
    EXPECT_EQ(audiofile_open(&h, c.path.c_str(), c.mode, &type, &f), c.code) << c.what;
    EXPECT_EQ(h, nullptr) << c.what;
  }
}

TEST(AudioFileFront, WriteAndReadOnTheWrongHandle) {
  EXPECT_EQ(audiofile_write(nullptr, nullptr, 5, nullptr), 0);
  audiofile_close(nullptr);
  const std::string path = scratch("dir.wav");
  ASSERT_EQ(write_file(path, 3, make_format(16, 8000, 1), {1.0f, 2.0f}), 0);
  AudioFileHandle* h = nullptr;
  int type = 0;
  AudioFileFormat f{};
  ASSERT_EQ(audiofile_open(&h, path.c_str(), AUDIOFILE_READ, &type, &f), 0);
  const float x = 0;
  int written = -1;
  EXPECT_EQ(audiofile_write(h, &x, 1, &written), 19);
  audiofile_close(h);
  f = make_format(16, 8000, 1);
  type = 3;
  ASSERT_EQ(audiofile_open(&h, path.c_str(), AUDIOFILE_WRITE, &type, &f), 0);
  int16_t s;
  int got = -1;
  EXPECT_EQ(audiofile_read_short(h, &s, 1, &got), 18);
  EXPECT_EQ(got, 0);
  audiofile_close(h);
}

#ifndef _WIN32
// Runs a write through standard output into a pipe in a child process (the
// library closes standard output at the end); the child's open code and
// the bytes that came through.
std::pair<int, std::string> write_to_pipe(int type, int bits) {
  int fds[2];
  if (pipe(fds) != 0) return {-1, {}};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], 1);
    close(fds[1]);
    AudioFileFormat f = make_format(bits, 8000, 1);
    AudioFileHandle* h = nullptr;
    const int rc = audiofile_open(&h, "", AUDIOFILE_WRITE_STDOUT, &type, &f);
    if (rc == 0) {
      const float v[3] = {100.0f, -100.0f, 256.0f};
      audiofile_write(h, v, 3, nullptr);
      audiofile_close(h);
    }
    _exit(rc);
  }
  close(fds[1]);
  std::string out;
  char b[256];
  for (ssize_t n; (n = read(fds[0], b, sizeof b)) > 0;) out.append(b, size_t(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

TEST(AudioFileFront, OutputsThatCannotSeek) {
  EXPECT_EQ(write_to_pipe(3, 16).first, 22);  // WAVE
  EXPECT_EQ(write_to_pipe(2, 16).first, 22);  // AIFC
  const auto raw = write_to_pipe(5, 16);
  EXPECT_EQ(raw.first, 0);
  EXPECT_EQ(raw.second, std::string("\x00\x64\xff\x9c\x01\x00", 6));  // big-endian by default
  // ".snd" on a pipe: the data size stays 0, no error; our reader reads on.
  const auto snd = write_to_pipe(4, 16);
  ASSERT_EQ(snd.first, 0);
  ASSERT_EQ(snd.second.size(), 34u);
  EXPECT_EQ(snd.second.substr(4, 8), std::string("\0\0\0\x1c\0\0\0\0", 8));
  const std::string path = scratch("piped.snd");
  spit(path, snd.second);
  const ReadBack r = read_file(path, 0);
  ASSERT_EQ(r.code, 0);
  EXPECT_EQ(r.samples, (std::vector<int16_t>{100, -100, 256}));
}

TEST(AudioFileFront, HeaderlessInputFromAPipeKeepsItsFirstBytes) {
  // Detection reads 12 bytes off the pipe; the raw reader must still see
  // them. The child reads its standard input (which the library closes) and
  // answers the samples it got, or 200 when their values are wrong.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  uint8_t b[40];
  for (int i = 0; i < 40; ++i) b[i] = uint8_t(i);
  ASSERT_EQ(write(fds[1], b, 40), 40);
  close(fds[1]);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[0], 0);
    AudioFileHandle* h = nullptr;
    int type = 0;
    AudioFileFormat f = make_format(16, 8000, 1);
    f.littleEndian = 1;
    if (audiofile_open(&h, "", AUDIOFILE_READ_STDIN, &type, &f) != 0 || type != 5) _exit(201);
    int16_t all[64];
    int got = 0, total = 0;
    while (audiofile_read_short(h, all + total, 64 - total, &got) == 0 && got > 0) total += got;
    audiofile_close(h);
    _exit(all[0] == 0x0100 && all[19] == 0x2726 ? total : 200);
  }
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 20);
}
#endif

}  // namespace
