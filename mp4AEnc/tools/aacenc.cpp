// aacenc: 16-bit PCM WAVE in, AAC-LC out in any of the library's formats.
//   aacenc [-b BITRATE] [-f adts|adif|latm|mp4|raw] [-crc] [-ltp] [-tools|-notools|-intensity] IN.wav OUT
// raw writes the bare raw data blocks one after another (for counting).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mp4aenc/mp4aenc.h"

namespace {

struct Wave {
  int channels = 0;
  long rate = 0;
  std::vector<int16_t> samples;  // interleaved
};

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// RIFF WAVE with a PCM 16-bit fmt chunk; every length is checked against the file.
bool read_wave(const char* path, Wave* w, std::string* why) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return *why = "cannot open " + std::string(path), false;
  std::vector<uint8_t> d;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) d.insert(d.end(), buf, buf + n);
  std::fclose(f);
  if (d.size() < 12 || std::memcmp(d.data(), "RIFF", 4) || std::memcmp(d.data() + 8, "WAVE", 4))
    return *why = "not a RIFF WAVE file", false;
  size_t at = 12;
  bool fmt = false;
  while (at + 8 <= d.size()) {
    const uint32_t size = le32(&d[at + 4]);
    const size_t body = at + 8;
    const size_t avail = d.size() - body;
    const size_t len = size > avail ? avail : size;  // a streamed file may state 0xFFFFFFFF
    if (!std::memcmp(&d[at], "fmt ", 4)) {
      if (len < 16) return *why = "fmt chunk too short", false;
      const uint16_t tag = le16(&d[body]);
      w->channels = le16(&d[body + 2]);
      w->rate = long(le32(&d[body + 4]));
      const uint16_t bits = le16(&d[body + 14]);
      if ((tag != 1 && tag != 0xFFFE) || bits != 16) return *why = "only 16-bit PCM is read", false;
      if (w->channels < 1 || w->channels > 8) return *why = "unsupported channel count", false;
      fmt = true;
    } else if (!std::memcmp(&d[at], "data", 4)) {
      if (!fmt) return *why = "data before fmt", false;
      w->samples.resize(len / 2);
      for (size_t i = 0; i < w->samples.size(); ++i) w->samples[i] = int16_t(le16(&d[body + 2 * i]));
      return true;
    }
    at = body + len + (len & 1);
  }
  return *why = "no data chunk", false;
}

std::string message(ErrorRecord* e) {
  if (!e) return "";
  std::string s = e->message ? e->message : "?";
  error_free(e);
  return s;
}

int usage() {
  std::fprintf(stderr, "usage: aacenc [-b BITRATE] [-f adts|adif|latm|mp4|raw] [-crc] [-ltp] [-tools|-notools|-intensity] IN.wav OUT\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  long bitrate = 0;
  int format = 2, crc = 0, objectType = 2, tools = 0;
  const char* in = nullptr;
  const char* out = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-b" && i + 1 < argc) bitrate = std::atol(argv[++i]);
    else if (a == "-f" && i + 1 < argc) {
      const std::string f = argv[++i];
      format = f == "adts" ? 2 : f == "adif" ? 1 : f == "latm" ? 4 : f == "mp4" ? 5 : f == "raw" ? 0 : -1;
      if (format < 0) return usage();
    } else if (a == "-crc") crc = 1;
    else if (a == "-ltp") objectType = 4;
    else if (a == "-tools") tools = 1;
    else if (a == "-notools") tools = -1;
    else if (a == "-intensity") tools = 2;
    else if (!in) in = argv[i];
    else if (!out) out = argv[i];
    else return usage();
  }
  if (!in || !out) return usage();
  Wave w;
  std::string why;
  if (!read_wave(in, &w, &why)) return std::fprintf(stderr, "aacenc: %s\n", why.c_str()), 1;
  if (bitrate <= 0) bitrate = 64000L * w.channels;

  Mp4AEncHandle* h = nullptr;
  AacChannelMap* map = nullptr;
  LayerInfo info[kMp4Layers] = {};
  int frameLength = 1024, channels[1] = {w.channels};
  int offsets[8], strides[8];
  for (int c = 0; c < w.channels; ++c) offsets[c] = c, strides[c] = w.channels;
  long bitrates[1] = {bitrate};
  std::string m = message(mp4aenc_open(&h, objectType, w.rate, bitrates, &frameLength, 0, &map, 1, 0, channels, 0,
                                       "NO_CORE", offsets, strides, info));
  if (!m.empty()) {
    mp4aenc_close(h, map, 0);
    return std::fprintf(stderr, "aacenc: %s\n", m.c_str()), 1;
  }
  // -tools: the filter's tool set, intensity then noise substitution
  // (mid/side and TNS are on by default); -notools: mid/side off as well;
  // -intensity: intensity alone (noise substitution stays off).
  // As in the filter, a tool the operating point refuses stays off.
  if (tools) {
    int on = tools > 0;
    int* const values[1] = {&on};
    const int keys[3] = {0x100005, 0x100001, 0x100004};
    for (int k = 0; k < (tools == 2 ? 1 : tools > 0 ? 2 : 3); ++k) {
      const std::string refused = message(mp4aenc_param_ctl(h, 1, &keys[k], values, 0));
      if (!refused.empty()) std::fprintf(stderr, "aacenc: tool 0x%x left as it was: %s\n", keys[k], refused.c_str());
    }
  }
  Mp4BitstreamSetup setup = {};
  setup.layers = info;
  setup.map = map;
  setup.crc = crc;
  setup.fileName = out;
  Mp4BitstreamWriter* writer = nullptr;
  FILE* f = nullptr;
  if (format != 0) m = message(mp4aenc_bitstream_open(&writer, &setup, format));
  if (m.empty() && format != 5 && !(f = std::fopen(out, "wb"))) m = "cannot write " + std::string(out);
  if (!m.empty()) {
    mp4aenc_bitstream_close(writer);
    mp4aenc_close(h, map, 0);
    return std::fprintf(stderr, "aacenc: %s\n", m.c_str()), 1;
  }
  mp4aenc_set_option(h, writer);
  const size_t perFrame = size_t(frameLength) * size_t(w.channels);
  // Two frames more push the encoder's delay out.
  const size_t frames = (w.samples.size() + perFrame - 1) / perFrame + 2;
  std::vector<float> pcm(perFrame);
  std::vector<uint8_t> bytes(size_t(w.channels) * 6144 / 8 * 4 + 4096);
  long long total = 0;
  const auto t0 = std::chrono::steady_clock::now();
  for (size_t fr = 0; fr < frames && m.empty(); ++fr) {
    for (size_t i = 0; i < perFrame; ++i) {
      const size_t k = fr * perFrame + i;
      pcm[i] = k < w.samples.size() ? float(w.samples[k]) : 0.0f;
    }
    BitBuffer* layers[kMp4Layers];
    long side = 0;
    m = message(mp4aenc_encode_frame(h, pcm.data(), layers, &side, 0, 0));
    if (!m.empty()) break;
    uint32_t n = 0;
    if (format == 0) {
      m = message(bitbuf_copy_bytes(layers[0], &n, bytes.data()));
    } else {
      const long values[kMp4Layers] = {side};
      m = message(mp4aenc_bitstream_write(writer, layers, values, bytes.data(), uint32_t(bytes.size()), &n));
    }
    if (f && n) std::fwrite(bytes.data(), 1, n, f);
    total += n;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (m.empty()) m = message(mp4aenc_bitstream_close(writer));
  else mp4aenc_bitstream_close(writer);
  mp4aenc_close(h, map, 0);
  if (f) std::fclose(f);
  if (!m.empty()) return std::fprintf(stderr, "aacenc: %s\n", m.c_str()), 1;
  const double duration = double(w.samples.size() / size_t(w.channels)) / double(w.rate);
  std::fprintf(stderr, "aacenc: %zu frames, %lld bytes, %.1f x realtime\n", frames, total,
               seconds > 0 ? duration / seconds : 0.0);
  return 0;
}
