#include "session_builder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "streamer/streamer.h"

namespace {

uint32_t le32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const unsigned char* p) { return uint16_t(p[0] | p[1] << 8); }

std::string narrow(const wchar_t* w) {
  std::string s;
  for (; *w; ++w) s.push_back(*w < 128 ? char(*w) : '?');
  return s;
}

// Stream type to media mask: 1 audio, 2 video, 3 and 4 both, 5 audio with
// the still-image stream.
unsigned long mediaMask(long streamType) {
  switch (streamType) {
    case 1: return 1;
    case 2: return 2;
    case 3:
    case 4: return 3;
    case 5: return 5;
    default: return 0;
  }
}

}  // namespace

SessionBuilder::SessionBuilder() {
  std::memset(&r_.session, 0, sizeof r_.session);
  std::memset(r_.tracks, 0, sizeof r_.tracks);
  std::memset(&r_.table, 0, sizeof r_.table);
  // One listener; eight clients on it, four of them framed, so four device
  // clients fit beside them; every kind of client; nobody asked.
  r_.product = {8, 1, 4, 3, 0};
  // Winsock 2.2; silent clients dropped after 60 s; device clients checked
  // every 60 s and dropped after one silent interval.
  r_.system = {2, 2, 60000, 60000, 1};
  r_.session.rtspPorts[0] = 7070;
  r_.session.frameRateBase = 15.0f;
  r_.session.outputMask = 1;
  r_.session.mediaMask = 3;
}

void SessionBuilder::Text(wchar_t* field, size_t capacity, LONG_PTR value, ULONG size) {
  const size_t chars = std::min<size_t>(size / sizeof(wchar_t), capacity - 1);
  std::memset(field, 0, capacity * sizeof(wchar_t));
  if (value) std::memcpy(field, reinterpret_cast<const void*>(value), chars * sizeof(wchar_t));
  description_ += " \"" + narrow(field) + "\"";
}

void SessionBuilder::SetAdmissionByte(int shift, bool on) {
  unsigned long& flags = r_.product.admissionFlags;
  flags = (flags & ~(0xFFul << shift)) | (on ? 1ul << shift : 0);
}

void SessionBuilder::Tracks(LONG_PTR value) {
  // {pointer to the entries, count}; each entry 96 bytes as the engine lays it out.
  struct Table {
    const unsigned char* entries;
    ULONG count;
  };
  const Table* t = reinterpret_cast<const Table*>(value);
  trackCount_ = t->entries ? int(std::min<ULONG>(t->count, kMaxStreamerTracks)) : 0;
  for (int i = 0; i < trackCount_; ++i) {
    const unsigned char* e = t->entries + 96 * i;
    KRTrackRecord& k = r_.tracks[i];
    std::memset(&k, 0, sizeof k);
    k.kind = le32(e);
    k.randomAccess = e[4];
    k.bitRate = le32(e + 8);
    k.audioTimeScale = le32(e + 12);
    const uint16_t version = le16(e + 16);
    k.versionMinor = uint8_t(version);
    k.versionMajor = uint8_t(version >> 8);
    k.configLength = std::min<uint16_t>(le16(e + 18), 64);
    std::memcpy(k.config, e + 20, k.configLength);
    // The server finds a track by payload number: the stream id.
    k.payloadNumber = le32(e + 84);
    char line[80];
    std::snprintf(line, sizeof line, " [kind %lu id %lu %lu bit/s]", k.kind, k.payloadNumber, k.bitRate);
    description_ += line;
  }
}

void SessionBuilder::Layers(LONG_PTR value) {
  const auto* c = reinterpret_cast<const KRDecoderConfigRecord*>(value);
  for (ULONG i = 0; i < 2; ++i) {
    layerConfigLength_[i] = 0;
    if (i >= c->layerCount || !c->data[i]) continue;
    layerConfigLength_[i] = uint16_t(std::min<ULONG>(c->size[i], 64));
    std::memcpy(layerConfig_[i], c->data[i], layerConfigLength_[i]);
  }
  haveLayers_ = true;
  char line[64];
  std::snprintf(line, sizeof line, " [%lu layers, %u and %u bytes]", c->layerCount, layerConfigLength_[0],
                layerConfigLength_[1]);
  description_ += line;
}

HRESULT SessionBuilder::SetParam(ULONG id, LONG_PTR value, ULONG size) {
  _tagSESSIONINFO& s = r_.session;
  char head[64];
  std::snprintf(head, sizeof head, "parameter %lu = %lld (size %lu)", id, static_cast<long long>(value), size);
  description_ = head;
  const long v = long(value);
  switch (id) {
    // The engine's security check, passed twice: framed clients (the low
    // byte of the admission flags) and device clients (the second byte)
    // wait for the host's verdict.
    case 5: SetAdmissionByte(0, v != 0); break;
    case 6: SetAdmissionByte(8, v != 0); break;
    case 7: s.rtspPorts[0] = v; break;
    case 8: s.udpPort1 = v; break;
    case 9: s.udpPort2 = v; break;
    case 10: Text(s.outputFileName, MAX_PATH, value, size); break;
    case 12: Text(s.version, 256, value, size); break;
    case 13: Text(s.title, 256, value, size); break;
    case 14: Text(s.information, 256, value, size); break;
    case 15: Text(s.author, 256, value, size); break;
    case 16: Text(s.copyright, 256, value, size); break;
    case 17: Text(s.rating, 256, value, size); break;
    case 18: s.frameWidth = v; break;
    case 19: s.frameHeight = v; break;
    case 23: s.mediaMask = mediaMask(v); break;
    case 24: s.secondLayer = v ? 1 : 0; break;
    case 27:
    case 28:
      if (!value) return E_POINTER;
      (id == 27 ? s.frameRateBase : s.frameRateSecond) = *reinterpret_cast<const float*>(value);
      break;
    case 31: s.outputMask = v & 7; break;
    case 34:
      if (!value && size) return E_POINTER;
      r_.still.assign(reinterpret_cast<const unsigned char*>(value), reinterpret_cast<const unsigned char*>(value) + size);
      break;
    case 35:
      if (!value && size) return E_POINTER;
      s.stillHeaderLength = std::min<ULONG>(size, sizeof s.stillHeader);
      std::memcpy(s.stillHeader, reinterpret_cast<const void*>(value), s.stillHeaderLength);
      break;
    case 36: Text(s.archiveName, MAX_PATH, value, size); break;
    case 37: if (v > 0) r_.system.silenceMs = v; break;
    case 38: if (v > 0) r_.system.monitorInterval = v * 1000; break;  // seconds
    case 39: if (v > 0) r_.system.monitorCount = v; break;
    case 40:
      if (!value) return E_POINTER;
      Layers(value);
      break;
    case 41: s.decodeBufferSize = v; break;
    case 42: s.downloadFlag = uint8_t(v); break;
    case 43: s.randomAccessFlag = uint8_t(v); break;
    case 44: version_ = uint16_t(v); break;
    case 45: s.videoOnlyAllowed = uint8_t(v); break;
    case 46: s.requirements2 = uint8_t(v); break;
    case 47: s.iFrameInterval = uint16_t(v); break;
    case 48:
      if (!value) return E_POINTER;
      Tracks(value);
      break;
    case 49: description_ += v == 1 ? " (block start)" : " (block end)"; break;
    case KRSTREAMER_PARAM_CLIENT_KINDS: r_.product.clientKinds = v & 3; break;
    default:
      description_ += " ignored";
      return S_FALSE;
  }
  return S_OK;
}

void SessionBuilder::Build(SessionRecords* out) const {
  out->product = r_.product;
  out->system = r_.system;
  out->session = r_.session;
  out->still = r_.still;
  _tagSESSIONINFO& s = out->session;
  s.versionMajor = uint8_t(version_ >> 8);
  s.versionMinor = uint8_t(version_);
  for (int i = 0; i < kMaxStreamerTracks; ++i) out->tracks[i] = r_.tracks[i];
  // The layers' decoder configurations go to the video tracks.
  for (int i = 0; i < trackCount_ && haveLayers_; ++i) {
    KRTrackRecord& k = out->tracks[i];
    if (k.kind != 1 && k.kind != 2) continue;
    const int layer = int(k.kind) - 1;
    k.configLength = layerConfigLength_[layer];
    std::memcpy(k.config, layerConfig_[layer], k.configLength);
  }
  out->table.tracks = out->tracks;
  out->table.count = ULONG(trackCount_);
  s.trackTable = &out->table;
  s.stillImage = out->still.empty() ? nullptr : out->still.data();
  s.stillImageLength = ULONG(out->still.size());
}
