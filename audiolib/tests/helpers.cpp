#include "helpers.h"

#include "peer.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

std::vector<int16_t> test_signal(int frames, int channels) {
  std::vector<int16_t> v(size_t(frames) * size_t(channels));
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c) {
      const double tone = 12000.0 * std::sin(2 * 3.14159265358979 * (440.0 + 110.0 * c) * i / 8000.0);
      const int ramp = (i * 977 + c * 4099) % 65536 - 32768;
      v[size_t(i) * size_t(channels) + size_t(c)] = int16_t(i % 3 == 0 ? ramp : int(tone));
    }
  return v;
}

std::vector<int16_t> top_bytes(const std::vector<int16_t>& v) {
  std::vector<int16_t> out(v.size());
  for (size_t i = 0; i < v.size(); ++i) out[i] = int16_t(uint16_t(v[i]) & 0xff00u);
  return out;
}

std::vector<float> to_float(const std::vector<int16_t>& v, double scale) {
  std::vector<float> out(v.size());
  for (size_t i = 0; i < v.size(); ++i) out[i] = float(v[i] * scale / 32768.0);
  return out;
}

std::string scratch(const std::string& name) {
  const std::string path = "audiolib_scratch_" + name;
  std::remove(path.c_str());
  return path;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void spit(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

AudioFileFormat make_format(int bits, int rate, int channels, double scale) {
  AudioFileFormat f{};
  f.valid = 1;
  f.bitsPerSample = bits;
  f.sampleRate = rate;
  f.channels = channels;
  f.scale = scale;
  return f;
}

int write_file(const std::string& path, int type, AudioFileFormat format, const std::vector<float>& samples) {
  AudioFileHandle* h = nullptr;
  const int rc = audiofile_open(&h, path.c_str(), AUDIOFILE_WRITE, &type, &format);
  if (rc != 0) return rc;
  int written = 0;
  const int wrc = audiofile_write(h, samples.data(), int(samples.size()), &written);
  audiofile_close(h);
  return wrc != 0 ? 100 + wrc : 0;
}

ReadBack read_file(const std::string& path, int type, const AudioFileFormat* format) {
  ReadBack r;
  r.type = type;
  if (format) r.format = *format;
  AudioFileHandle* h = nullptr;
  r.code = audiofile_open(&h, path.c_str(), AUDIOFILE_READ, &r.type, &r.format);
  if (r.code != 0) return r;
  int16_t piece[777];  // not a multiple of any frame size used
  for (int got = 0; audiofile_read_short(h, piece, 777, &got) == 0 && got > 0;)
    r.samples.insert(r.samples.end(), piece, piece + got);
  audiofile_close(h);
  return r;
}

bool peers_available() { return PeerAvailable(); }
std::string run(const std::string& command, int* status) { return RunPeer(command, status); }

std::string fixtures_script() { return std::string("python3 ") + SUITE_TEST_DATA_DIR + "/tests/fixtures.py"; }
