#include "mediaengine/commit.h"

#include <cstdio>
#include <cstring>

namespace mediaengine {

namespace {

void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

bool ContentVersionText(int32_t contentVersion, uint32_t build, std::u16string* text) {
  const char* form = nullptr;
  switch (contentVersion) {
    case 10: form = "Content V1.0 Scrivel V2.0 Build %03u"; break;
    case 20: form = "Content V2.0 Scrivel V2.0 Build %03u"; break;
    case 21: form = "Content V2.1 Scrivel V2.1 Build %03u"; break;
    case 30: form = "Content V3.0 Scrivel V3.0 Build %03u"; break;
    default: return false;
  }
  char narrow[64];
  std::snprintf(narrow, sizeof narrow, form, static_cast<unsigned>(build));
  text->assign(narrow, narrow + std::strlen(narrow));
  return true;
}

uint16_t VersionWord(uint32_t major, uint32_t minor) { return static_cast<uint16_t>((major / 100) * 256 + minor); }

int32_t StreamerOutputType(int32_t mediaOutputType, uint16_t fileOutput) {
  int32_t code = 0;
  switch (mediaOutputType) {
    case 1: code = 4; break;
    case 4: code = 1; break;
    case 5: code = 3; break;
    case 12: code = 2; break;
  }
  return code + (fileOutput ? 4 : 0);
}

int BuildStreamTable(const KROutputConfig& output, const KRAudioEncoderConfig& audio, uint16_t versionWord,
                     const AacConfigSource& aacConfig, uint8_t table[kStreamTableEntries * kStreamEntryBytes]) {
  int count = 0;
  auto entry = [&](uint32_t kind, uint32_t bitRate, uint32_t streamId) {
    uint8_t* e = table + count++ * kStreamEntryBytes;
    Put32(e, kind);
    e[4] = 0;
    Put32(e + 8, bitRate);
    Put16(e + 16, versionWord);
    Put16(e + 18, 0);
    Put32(e + 84, streamId);
    return e;
  };
  if (output.streamType == 2 || output.streamType == 3) {
    entry(1, output.layerBitRate[0], 120);
    if (output.enhancementLayers != 0) entry(2, output.layerBitRate[1], 121);
  }
  if (output.streamType == 2) return count;
  uint32_t audioId = 1;
  for (const KRAudioStreamEntry& s : audio.stream) {
    if (!s.enabled || s.codec < 0 || s.codec > 2) continue;
    static const uint32_t kKinds[] = {3, 4, 5};
    uint8_t* e = entry(kKinds[s.codec], uint32_t(s.bitRate), audioId++);
    Put32(e + 12, uint32_t(s.samplingRate));
    if (s.codec == 0) {
      // The AMR mode of the two rates the filter encodes.
      if (s.bitRate == 4750 || s.bitRate == 12200) {
        e[20] = s.bitRate == 4750 ? 0 : 7;
        Put16(e + 18, 1);
      }
    } else if (s.codec == 1) {
      e[20] = 4;
      Put16(e + 18, 1);
    } else {
      uint32_t length = 0;
      // A configuration that does not fit its 64 bytes is left out.
      if (aacConfig && aacConfig(e + 20, &length) && length <= 64) Put16(e + 18, static_cast<uint16_t>(length));
    }
  }
  return count;
}

std::vector<AudioStreamCommit> AudioCommitOrder(const KRAudioEncoderConfig& audio) {
  std::vector<AudioStreamCommit> order;
  int id = 0;
  for (int i = 0; i < kAudioStreamEntries; ++i)
    if (audio.stream[i].enabled) order.push_back({i, audio.stream[i].codec, id++});
  return order;
}

}  // namespace mediaengine
