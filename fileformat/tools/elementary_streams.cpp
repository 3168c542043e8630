#include "elementary_streams.h"

#include <cstring>
#include <fstream>
#include <iterator>

#include "fileformat/mp4_file_writer.h"
#include "fileformat/render.h"
#include "platform/os.h"

namespace fileformat::tools {

Bytes readAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::vector<Sample> splitVideo(const Bytes& es, double fps, Bytes* config) {
  std::vector<size_t> vops;
  for (size_t i = 0; i + 4 < es.size(); ++i) {
    if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1 && es[i + 3] == 0xB6) vops.push_back(i);
  }
  std::vector<Sample> out;
  if (vops.empty()) return out;
  config->assign(es.begin(), es.begin() + static_cast<std::ptrdiff_t>(vops[0]));
  size_t start = 0;
  for (size_t k = 0; k < vops.size(); ++k) {
    size_t end = k + 1 < vops.size() ? vops[k + 1] : es.size();
    // Headers just before the next VOP belong to it.
    for (size_t j = vops[k] + 4; j + 3 < end; ++j) {
      if (es[j] == 0 && es[j + 1] == 0 && es[j + 2] == 1 && es[j + 3] != 0xB6 && es[j + 3] >= 0xB0) {
        end = j;
        break;
      }
    }
    bool intra = (es[vops[k] + 4] >> 6) == 0;
    Sample s{Bytes(es.begin() + static_cast<std::ptrdiff_t>(start), es.begin() + static_cast<std::ptrdiff_t>(end)),
             static_cast<uint32_t>(k * 1000.0 / fps), intra ? 0u : 0x04u};
    out.push_back(std::move(s));
    start = end;
  }
  return out;
}

namespace {
const uint32_t kAacRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                              22050, 16000, 12000, 11025, 8000,  7350};
}  // namespace

std::vector<Sample> splitAdts(const Bytes& adts, Bytes* config) {
  std::vector<Sample> out;
  size_t i = 0;
  uint32_t n = 0;
  while (i + 7 <= adts.size() && adts[i] == 0xFF && (adts[i + 1] & 0xF0) == 0xF0) {
    bool crc = !(adts[i + 1] & 1);
    uint32_t profile = adts[i + 2] >> 6;
    uint32_t rateIndex = (adts[i + 2] >> 2) & 0x0F;
    uint32_t channels = ((adts[i + 2] & 1) << 2) | (adts[i + 3] >> 6);
    size_t len = ((adts[i + 3] & 3u) << 11) | (adts[i + 4] << 3) | (adts[i + 5] >> 5);
    size_t header = crc ? 9 : 7;
    if (len < header || i + len > adts.size() || rateIndex >= std::size(kAacRates)) break;
    if (config->empty()) {
      uint32_t objectType = profile + 1;
      *config = {uint8_t(objectType << 3 | rateIndex >> 1), uint8_t((rateIndex & 1) << 7 | channels << 3)};
    }
    out.push_back({Bytes(adts.begin() + static_cast<std::ptrdiff_t>(i + header),
                         adts.begin() + static_cast<std::ptrdiff_t>(i + len)),
                   static_cast<uint32_t>(uint64_t(n) * 1024 * 1000 / kAacRates[rateIndex]), 0});
    ++n;
    i += len;
  }
  return out;
}

std::vector<Sample> splitAmr(const Bytes& amr) {
  static const uint32_t kBytes[16] = {12, 13, 15, 17, 19, 20, 26, 31, 5, 0, 0, 0, 0, 0, 0, 0};
  std::vector<Sample> out;
  const char magic[] = "#!AMR\n";
  if (amr.size() < 6 || std::memcmp(amr.data(), magic, 6) != 0) return out;
  size_t i = 6;
  uint32_t n = 0;
  while (i < amr.size()) {
    uint32_t type = (amr[i] >> 3) & 0x0F;
    uint32_t len = kBytes[type];
    if (i + 1 + len > amr.size()) break;
    if (len) {
      out.push_back({Bytes(amr.begin() + static_cast<std::ptrdiff_t>(i + 1),
                           amr.begin() + static_cast<std::ptrdiff_t>(i + 1 + len)),
                     n * 20, type});
    }
    ++n;
    i += 1 + len;
  }
  return out;
}

RecordResult recordMp4(const std::string& out, const Recording& in) {
  RecordResult r;
  const std::string& video = in.video;
  const std::string& aac = in.aac;
  const std::string& amr = in.amr;
  double fps = in.fps;
  bool hasAudio = !aac.empty() || !amr.empty();
  uint32_t kind = !video.empty() && hasAudio ? 3 : !video.empty() ? 1 : 2;
  // As the recorder does: the spools are named after the output file.
  std::string base = out.size() > 4 && out.compare(out.size() - 4, 4, ".mp4") == 0
                         ? out.substr(0, out.size() - 4)
                         : out;
  auto w = MP4FileWriter::Create(kind, 2, platform::utf8ToUtf16(base), u"0", 0, 0);
  // The recorder's calling order.
  w->SetDownload(0);
  w->SetContentVersion(3, 0);
  w->SetRandomAccess(1);
  w->SetRequirement1(0);
  w->SetRequirement2(0);
  w->SetMajorBrand(fourcc("wmf "));
  w->SetMinorVersion(0x00010001);
  w->SetSessionValue3(1);
  w->SetSessionValue1(1);
  w->SetSessionValue2(1);
  w->SetContentText2(u"Writer demo");
  w->SetContentText3(u"Kestrune");
  w->SetContentText7(platform::utf8ToUtf16("recorded by writer_demo"));

  struct Stream {
    uint32_t track;
    std::vector<Sample> samples;
    size_t next = 0;
  };
  std::vector<Stream> streams;
  if (!video.empty()) {
    Bytes config;
    auto samples = splitVideo(readAll(video), fps, &config);
    uint32_t t = w->AddTrack(fourcc("vide"), 1);
    w->SetTrackRandomAccess(t, 1);
    w->SetTrackVersion(t, 3, 0);
    w->SetTrackWmfmValue(t, 1);
    w->SetMediaTimeScale(t, 1000);
    w->SetBitrate(t, 64000);
    w->SetVideoParameters(t, static_cast<float>(fps), 0, 176, 144);
    w->SetDecoderConfig(config.data(), static_cast<uint32_t>(config.size()), t);
    w->SetDecoderBufferSize(t, 16384);
    streams.push_back({t, std::move(samples)});
  }
  if (!aac.empty() || !amr.empty()) {
    Bytes config;
    bool isAac = !aac.empty();
    auto samples = isAac ? splitAdts(readAll(aac), &config) : splitAmr(readAll(amr));
    uint32_t t = w->AddTrack(fourcc("soun"), isAac ? 3 : 1);
    w->SetTrackRandomAccess(t, 1);
    w->SetTrackVersion(t, 3, 0);
    w->SetTrackWmfmValue(t, 1);
    w->SetMediaTimeScale(t, 1000);
    w->SetBitrate(t, isAac ? 32000 : 12200);
    if (isAac) w->SetDecoderConfig(config.data(), static_cast<uint32_t>(config.size()), t);
    streams.push_back({t, std::move(samples)});
  }
  // Interleaved by time, as samples arrive live.
  size_t count = 0;
  for (;;) {
    Stream* next = nullptr;
    for (auto& s : streams) {
      if (s.next < s.samples.size() &&
          (!next || s.samples[s.next].time < next->samples[next->next].time))
        next = &s;
    }
    if (!next) break;
    const Sample& s = next->samples[next->next++];
    if (!w->AddSample(next->track, s.data.data(), static_cast<uint32_t>(s.data.size()), s.time, s.flag)) {
      r.error = "sample could not be stored";
      return r;
    }
    ++count;
  }
  if (!w->WriteToFile(platform::utf8ToUtf16(out))) {
    r.error = "could not write " + out;
    return r;
  }
  r.ok = true;
  r.samples = count;
  r.tracks = streams.size();
  return r;
}

}  // namespace fileformat::tools
