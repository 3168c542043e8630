// Builds small MP4 content files byte by byte for the reader's tests: the
// maker's layout (ftyp, udta, mdat, moov) with one audio (AAC) and one video
// (MPEG-4 visual) track, with knobs that break one thing at a time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <algorithm>
#include <vector>

#include "platform/os.h"
#include "reader/shared_wide_string.h"

namespace fixture {

struct Bytes {
  std::vector<uint8_t> b;
  Bytes& u8(uint32_t v) {
    b.push_back(uint8_t(v));
    return *this;
  }
  Bytes& u16(uint32_t v) { return u8(v >> 8).u8(v); }
  Bytes& u24(uint32_t v) { return u8(v >> 16).u16(v); }
  Bytes& u32(uint32_t v) { return u16(v >> 16).u16(v); }
  Bytes& u64(uint64_t v) { return u32(uint32_t(v >> 32)).u32(uint32_t(v)); }
  Bytes& fourcc(const char* t) {
    for (int i = 0; i < 4; ++i) u8(uint8_t(t[i]));
    return *this;
  }
  Bytes& add(const Bytes& o) {
    b.insert(b.end(), o.b.begin(), o.b.end());
    return *this;
  }
  Bytes& zeros(size_t n) {
    b.insert(b.end(), n, 0);
    return *this;
  }
  size_t size() const { return b.size(); }
};

inline Bytes Atom(const char* type, const Bytes& body) {
  Bytes a;
  a.u32(uint32_t(body.size() + 8)).fourcc(type).add(body);
  return a;
}

inline Bytes Full(const char* type, uint8_t version, uint32_t flags, const Bytes& body) {
  Bytes b;
  b.u8(version).u24(flags).add(body);
  return Atom(type, b);
}

// Descriptor with a one-byte size field (payloads below 128 bytes).
inline Bytes Desc(uint8_t tag, const Bytes& payload) {
  Bytes d;
  d.u8(tag).u8(uint32_t(payload.size())).add(payload);
  return d;
}

struct Knobs {
  bool ftyp = true;
  bool krmm = true;
  uint16_t cver = 0x0300;  // 0: no cver
  bool mdat = true;
  int moovCount = 1;
  uint32_t drefFlags = 1;
  uint32_t mvhdTimescale = 1000;
  uint32_t mdhdTimescale = 8000;  // audio
  uint32_t samplesPerChunk = 2;   // audio
  bool mvhdVersion1 = false;
  bool secondMvhd = false;
  bool noMvhd = false;
  uint32_t emptyEditAudio = 0;   // empty edit before the audio track's first sample
  int vinfBody = 4;              // bytes of the video track's vinf body (2 = short form)
  uint8_t vinfBytes[2] = {29, 97};
  uint32_t krmiAudioKind = 0x736F756E;  // 'soun'
  Bytes trailer;                 // appended after everything
  uint32_t sttsCount = 0;        // non-zero: overrides the audio stts entry count
  uint32_t dsiLengthBoost = 0;   // added to the audio decoder-specific info length byte
  uint8_t audioOti = 0x40;
  Bytes audioDsi = Bytes().u16(0x1588);
  bool audioSamr = false;        // the audio entry is a samr instead of mp4a
  bool videoStss = true;
  uint16_t trackCver = 0x0300;   // content version in each track's user data
  const char* audioHandler = "soun";
  bool secondIods = false;
  bool krti = true;
};

constexpr uint32_t kAudioSamples = 6;
constexpr uint32_t kVideoSamples = 5;
constexpr uint32_t kAudioDelta = 1024;
constexpr uint32_t kVideoDelta = 200;  // timescale 1000, 5 fps

inline uint32_t AudioSize(uint32_t i) { return 10 + i; }
inline uint32_t VideoSize(uint32_t i) { return 40 + 3 * i; }
inline uint8_t SampleByte(uint32_t track, uint32_t i, uint32_t k) { return uint8_t(track * 64 + i * 7 + k); }

inline Bytes Udta(const Knobs& k) {
  Bytes u;
  if (k.krmm) {
    Bytes m;
    const char16_t* texts[7] = {u"Content V3.0", u"Title", u"Author", u"", u"Description", u"Rating", u"2026"};
    for (auto* t : texts) {
      for (; *t; ++t) m.u16(*t);
      m.u16(0);
    }
    u.add(Atom("krmm", m));
  }
  if (k.cver) u.add(Full("cver", 0, 0, Bytes().u16(k.cver).u16(0)));
  u.add(Full("rand", 0, 0, Bytes().u8(1).u24(0)));
  u.add(Full("rqmt", 0, 0, Bytes().u8(0).u8(0).u16(0)));
  u.add(Atom("dnld", Bytes().u8(0x81).u24(0).u32(7)));
  // krti with krsi and one krmi per track.
  Bytes krsi;
  krsi.u32(3000).u32(1).u32(1).u32(1).u32(2);
  for (int v = 0; v < 2; ++v) {
    Bytes r;
    r.u32(v ? 0x76696465 : k.krmiAudioKind).u32(0).u32(0).u32(1).u32(1).u32(0).u32(0);
    r.u32(v ? 1000 : 8000).u32(v ? 2 : 1).u32(1000).u32(1).u32(1).u32(0x300).u32(0).u32(0);
    r.u32(v ? 5 : 0).u32(v ? 0x1D61 : 0).u32(v ? 10 : 0).u32(0);
    if (v) r.u32(0);
    krsi.add(Full("krmi", 0, 0, r));
  }
  if (k.krti) u.add(Atom("krti", Full("krsi", 0, 0, krsi)));
  return Atom("udta", u);
}

inline Bytes SampleTable(const Knobs& k, bool video, uint32_t mdatPayload) {
  Bytes stsd;
  stsd.u32(1);
  Bytes dsi = video ? Bytes().u32(0x000001B0).u8(1) : k.audioDsi;
  Bytes dc;
  dc.u8(video ? 0x20 : k.audioOti).u8(((video ? 4 : 5) << 2) | 1).u24(video ? 8000 : 600).u32(64000).u32(video ? 48000 : 12000);
  Bytes dsiDesc;
  dsiDesc.u8(5).u8(uint32_t(dsi.size()) + (video ? 0 : k.dsiLengthBoost)).add(dsi);
  dc.add(dsiDesc);
  Bytes es;
  es.u16(0).u8(0).add(Desc(4, dc)).add(Desc(6, Bytes().u8(2)));
  Bytes esds = Full("esds", 0, 0, Desc(3, es));
  Bytes entry;
  entry.zeros(6).u16(1);
  if (video) {
    entry.zeros(16).u16(176).u16(144).u32(0x00480000).u32(0x00480000).u32(0).u16(1).zeros(32).u16(24).u16(0xFFFF);
  } else {
    entry.zeros(8).u16(1).u16(16).u32(0).u16(8000).u16(0);
  }
  entry.add(esds);
  stsd.add(Atom(video ? "mp4v" : (k.audioSamr ? "samr" : "mp4a"), entry));

  const uint32_t n = video ? kVideoSamples : kAudioSamples;
  Bytes stts;
  stts.u32(k.sttsCount && !video ? k.sttsCount : 1).u32(n).u32(video ? kVideoDelta : kAudioDelta);
  Bytes stsz;
  stsz.u32(0).u32(n);
  for (uint32_t i = 0; i < n; ++i) stsz.u32(video ? VideoSize(i) : AudioSize(i));
  // Audio chunks of samplesPerChunk samples; video one chunk per sample.
  // The media data holds audio first, then video.
  const uint32_t spc = video ? 1 : (k.samplesPerChunk ? k.samplesPerChunk : 2);
  Bytes stsc;
  stsc.u32(1).u32(1).u32(k.samplesPerChunk || video ? spc : 0).u32(1);
  if (!video && k.samplesPerChunk == 0) {
    stsc = Bytes();
    stsc.u32(1).u32(1).u32(0).u32(1);
  }
  Bytes stco;
  uint32_t audioBytes = 0;
  for (uint32_t i = 0; i < kAudioSamples; ++i) audioBytes += AudioSize(i);
  uint32_t pos = mdatPayload;
  if (video) {
    pos += audioBytes;
    stco.u32(n);
    for (uint32_t i = 0; i < n; ++i) {
      stco.u32(pos);
      pos += VideoSize(i);
    }
  } else {
    const uint32_t chunks = (n + spc - 1) / spc;
    stco.u32(chunks);
    for (uint32_t c = 0; c < chunks; ++c) {
      stco.u32(pos);
      for (uint32_t i = c * spc; i < std::min(n, (c + 1) * spc); ++i) pos += AudioSize(i);
    }
  }
  Bytes stbl;
  stbl.add(Full("stsd", 0, 0, stsd)).add(Full("stts", 0, 0, stts)).add(Full("stsc", 0, 0, stsc));
  stbl.add(Full("stsz", 0, 0, stsz)).add(Full("stco", 0, 0, stco));
  if (video && k.videoStss) stbl.add(Full("stss", 0, 0, Bytes().u32(2).u32(1).u32(4)));
  return Atom("stbl", stbl);
}

inline Bytes Track(const Knobs& k, bool video, uint32_t mdatPayload) {
  Bytes tkhd;
  tkhd.u32(0).u32(0).u32(video ? 2 : 1).u32(0).u32(1000).u32(0).u32(0).u32(0);
  tkhd.u16(video ? 0 : 0x0100).u16(0);
  const uint32_t matrix[9] = {0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000};
  for (uint32_t m : matrix) tkhd.u32(m);
  tkhd.u32(video ? 176u << 16 : 0).u32(video ? 144u << 16 : 0);
  Bytes trak = Full("tkhd", 0, 1, tkhd);
  if (!video && k.emptyEditAudio)
    trak.add(Atom("edts", Full("elst", 0, 0, Bytes().u32(1).u32(k.emptyEditAudio).u32(0xFFFFFFFF).u16(1).u16(0))));
  Bytes mdhd;
  mdhd.u32(0).u32(0).u32(video ? 1000 : k.mdhdTimescale).u32(video ? 1000 : 6144).u16(0x55C4).u16(0);
  Bytes hdlr;
  hdlr.u32(0).fourcc(video ? "vide" : k.audioHandler).u32(0).u32(0).u32(0);
  for (const char* c = video ? "Video" : "Sound"; *c; ++c) hdlr.u8(uint8_t(*c));
  hdlr.u8(0);
  Bytes url = Full("url ", 0, k.drefFlags, Bytes());
  Bytes minf;
  minf.add(video ? Full("vmhd", 0, 1, Bytes().u64(0)) : Full("smhd", 0, 0, Bytes().u32(0)));
  minf.add(Atom("dinf", Full("dref", 0, 0, Bytes().u32(1).add(url))));
  minf.add(SampleTable(k, video, mdatPayload));
  Bytes mdia;
  mdia.add(Full("mdhd", 0, 0, mdhd)).add(Full("hdlr", 0, 0, hdlr)).add(Atom("minf", minf));
  trak.add(Atom("mdia", mdia));
  Bytes udta;
  udta.add(Full("cver", 0, 0, Bytes().u16(k.trackCver).u16(0)));
  if (video) {
    Bytes vinf;
    if (k.vinfBody == 2)
      vinf.u8(k.vinfBytes[0]).u8(k.vinfBytes[1]);
    else if (k.vinfBody >= 4)
      vinf.u8(k.vinfBytes[0]).u8(k.vinfBytes[1]).u16(10).zeros(size_t(k.vinfBody - 4));
    else
      vinf.zeros(size_t(k.vinfBody));
    udta.add(Full("vinf", 0, 0, vinf));
    udta.add(Full("wmfm", 0, 0, Bytes().u32(1).u8(0x44).u8(0x33).u8(0x22).u8(0x11)));
  }
  trak.add(Atom("udta", udta));
  return Atom("trak", trak);
}

inline Bytes Moov(const Knobs& k, uint32_t mdatPayload) {
  Bytes mvhd;
  if (k.mvhdVersion1)
    mvhd.u64(0).u64(0).u32(k.mvhdTimescale).u64(0x100000000ull + 5);
  else
    mvhd.u32(0).u32(0).u32(k.mvhdTimescale).u32(1000);
  mvhd.zeros(19 * 4).u32(3);
  Bytes moov;
  if (!k.noMvhd) moov.add(Full("mvhd", k.mvhdVersion1 ? 1 : 0, 0, mvhd));
  if (k.secondMvhd) moov.add(Full("mvhd", 0, 0, mvhd));
  Bytes iod;
  iod.u16((1 << 6) | 0x0F).u8(0xFE).u8(0xFE).u8(0xFE).u8(0xFE).u8(0xFE);
  iod.add(Desc(0x0E, Bytes().u32(1))).add(Desc(0x0E, Bytes().u32(2)));
  moov.add(Full("iods", 0, 0, Desc(0x10, iod)));
  if (k.secondIods) moov.add(Full("iods", 0, 0, Desc(0x10, iod)));
  moov.add(Track(k, false, mdatPayload)).add(Track(k, true, mdatPayload));
  return Atom("moov", moov);
}

inline Bytes Build(const Knobs& k = {}) {
  Bytes file;
  if (k.ftyp) file.add(Atom("ftyp", Bytes().fourcc("mp42").u32(0x00010002).fourcc("mp42").fourcc("isom")));
  file.add(Udta(k));
  Bytes data;
  for (uint32_t i = 0; i < kAudioSamples; ++i)
    for (uint32_t j = 0; j < AudioSize(i); ++j) data.u8(SampleByte(1, i, j));
  for (uint32_t i = 0; i < kVideoSamples; ++i)
    for (uint32_t j = 0; j < VideoSize(i); ++j) data.u8(SampleByte(2, i, j));
  const uint32_t payload = uint32_t(file.size() + 8);
  if (k.mdat) file.add(Atom("mdat", data));
  for (int i = 0; i < k.moovCount; ++i) file.add(Moov(k, payload));
  file.add(k.trailer);
  return file;
}

// A folder of this test process alone (other checkouts may run the same
// tests at the same time), removed when the process ends.
inline const std::filesystem::path& ScratchDir() {
  struct Dir {
    std::filesystem::path path;
    Dir() {
      std::random_device rd;
      path = std::filesystem::temp_directory_path() /
             ("mp4reader_" + std::to_string(rd()) + "_" + std::to_string(platform::monotonicMs()));
      std::filesystem::create_directories(path);
    }
    ~Dir() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  };
  static Dir dir;
  return dir.path;
}

// A file in the scratch folder, removed with the object.
struct TempFile {
  std::filesystem::path path;
  explicit TempFile(const std::vector<uint8_t>& bytes, const std::string& name = "fixture") {
    static int counter = 0;
    path = ScratchDir() / (name + std::to_string(counter++) + ".mp4");
    std::FILE* f = std::fopen(path.string().c_str(), "wb");
    if (f) {
      if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
    }
  }
  ~TempFile() {
    std::error_code ec;
    std::filesystem::remove(path, ec);
  }
  reader::SharedWideString* Wide() const {
    return reader::SharedWideString::Create(platform::utf8ToUtf16(path.string()));
  }
};

}  // namespace fixture
