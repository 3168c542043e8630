#include "reader/user_data.h"

namespace reader {

Mp4ContentVersionAtom::Mp4ContentVersionAtom(Mp4Stream& s, uint64_t limit) : Mp4FullAtom(s, limit) {
  uint16_t dropped;
  if (!ok_ || !s.ReadU16(contentVersion) || !s.ReadU16(dropped)) {
    Fail(READ_CONTENT_VERSION_FAILED);
    return;
  }
  Finish(s, READ_CONTENT_VERSION_FAILED);
}

Mp4RandomAccessAtom::Mp4RandomAccessAtom(Mp4Stream& s, uint64_t limit) : Mp4FullAtom(s, limit) {
  uint32_t dropped;
  if (!ok_ || !s.ReadByte(randomAccess) || !s.ReadU24(dropped)) {
    Fail(READ_RANDOM_ACCESS_ATOM_FAILED);
    return;
  }
  Finish(s, READ_RANDOM_ACCESS_ATOM_FAILED);
}

Mp4RequirementsAtom::Mp4RequirementsAtom(Mp4Stream& s, uint64_t limit) : Mp4FullAtom(s, limit) {
  if (!ok_ || !s.ReadTwoBytes(flag1, flag2) || !s.ReadU16(value)) {
    Fail(READ_REQUIREMENTS_ATOM_FAILED);
    return;
  }
  Finish(s, READ_REQUIREMENTS_ATOM_FAILED);
}

Mp4DownloadAtom::Mp4DownloadAtom(Mp4Stream& s, uint64_t limit) : Mp4Atom(s, limit) {
  uint8_t first;
  uint32_t dropped;
  if (!ok_ || !s.ReadByte(first) || !s.ReadU24(dropped) || !s.ReadU32(value)) {
    Fail(READ_DOWNLOAD_ATOM_FAILED);
    return;
  }
  flag1 = first & 0x80;
  flag2 = first & 0x01;
  Finish(s, READ_DOWNLOAD_ATOM_FAILED);
}

Mp4VideoInfoAtom::Mp4VideoInfoAtom(Mp4Stream& s, uint64_t limit) : Mp4FullAtom(s, limit) {
  constexpr int32_t kCode = READ_VIDEO_INFORMATION_ATOM_FAILED;
  if (!ok_) {
    Fail(kCode);
    return;
  }
  if (size_ == 14) {
    // The short form of older tools: whole frames per second in one byte.
    uint8_t second;
    if (!s.ReadTwoBytes(rateInteger, second)) {
      Fail(kCode);
      return;
    }
    frameRate = rateInteger;
    secondValue = second;
  } else {
    if (!s.ReadTwoBytes(rateInteger, rateHundredths) || !s.ReadU16(secondValue)) {
      Fail(kCode);
      return;
    }
    frameRate = static_cast<float>(rateInteger + rateHundredths * 0.01);
  }
  Finish(s, kCode);
}

Mp4WmfSessionAtom::Mp4WmfSessionAtom(Mp4Stream& s, uint64_t limit) : Mp4FullAtom(s, limit) {
  uint32_t third;
  if (!ok_ || !s.ReadU32(value1) || !s.ReadU32(value2) || !s.ReadU32(third)) {
    Fail(READ_WMF_SET_SESSION_ATOM_FAILED);
    return;
  }
  flag = third & 1;
  Finish(s, READ_WMF_SET_SESSION_ATOM_FAILED);
}

Mp4WmfMediaAtom::Mp4WmfMediaAtom(Mp4Stream& s, uint64_t limit) : Mp4FullAtom(s, limit) {
  uint32_t first;
  if (!ok_ || !s.ReadU32(first) || !s.ReadBytes(bytes, 4)) {
    Fail(READ_WMF_SET_MEDIA_ATOM_FAILED);
    return;
  }
  flag = first & 1;
  Finish(s, READ_WMF_SET_MEDIA_ATOM_FAILED);
}

Mp4KrUserDataAtom::Mp4KrUserDataAtom(Mp4Stream& s, uint64_t limit) : Mp4Atom(s, limit) {
  if (!ok_) {
    Fail(READ_KR_USER_DATA_ATOM_FAILED);
    return;
  }
  // Texts run to their terminator inside the atom, however long, so that a
  // long title cannot shift the texts after it.
  for (auto& text : texts) {
    text = s.ReadUtf16Text(end_, UINT32_MAX);
    if (!text) {
      Fail(READ_KR_USER_DATA_ATOM_FAILED);
      return;
    }
  }
  Finish(s, READ_KR_USER_DATA_ATOM_FAILED);
}

Mp4KrUserDataAtom::~Mp4KrUserDataAtom() {
  for (auto* t : texts) ReleaseText(t);
}

namespace {

// The common record and the kind's extra words; the block length is checked
// against what is left of limit before anything is allocated.
bool ReadMediaRecord(Mp4Stream& s, uint64_t limit, KrMediaInfo& info, bool hasBlock, int extraWords) {
  const int words = hasBlock ? 15 : 14;
  for (int i = 0; i < words; ++i)
    if (!s.ReadU32(info.fields[i])) return false;
  if (hasBlock) {
    const uint32_t n = info.fields[14];
    if (s.tell() > limit || n > limit - s.tell()) return false;
    info.block.resize(n);
    if (!s.ReadBytes(info.block.data(), n)) return false;
  }
  for (int i = 0; i < extraWords; ++i)
    if (!s.ReadU32(info.extra[i])) return false;
  return s.tell() <= limit;
}

bool IsVersion3(uint32_t v) { return (v & ~0xFFu) == 0x300; }

}  // namespace

Mp4KrMediaInfoAtom::Mp4KrMediaInfoAtom(Mp4Stream& s, uint64_t limit) : Mp4FullAtom(s, limit) {
  constexpr int32_t kCode = READ_KRTI_MEDIA_INFO_FAILED;
  uint32_t kind = s.PeekNthU32(1);
  if (!ok_ || (kind != FourCC("soun") && kind != FourCC("vide")) ||
      !ReadMediaRecord(s, end_, info, true, kind == FourCC("vide") ? 5 : 4)) {
    Fail(kCode);
    return;
  }
  Finish(s, kCode);
}

Mp4KrSessionInfoAtom::Mp4KrSessionInfoAtom(Mp4Stream& s, uint64_t limit) : Mp4FullAtom(s, limit) {
  constexpr int32_t kCode = READ_KRTI_SESSION_INFO_FAILED;
  if (!ok_) {
    Fail(kCode);
    return;
  }
  for (auto& v : values)
    if (!s.ReadU32(v)) {
      Fail(kCode);
      return;
    }
  for (uint32_t i = 0; i < values[4]; ++i) {
    // A child that is not a krmi only counts; nothing moves, so neither
    // would any further one.
    if (s.PeekAtomType(end_) != FourCC("krmi")) break;
    const uint32_t kind = s.PeekNthU32(4);
    if (kind != FourCC("soun") && kind != FourCC("vide")) {
      Fail(kCode);
      return;
    }
    auto* m = BuildAtom<Mp4KrMediaInfoAtom>(s, end_);
    if (!m || !m->ok()) {
      delete m;
      Fail(READ_KRTI_MEDIA_INFO_FAILED);
      return;
    }
    media.push_back(m);
    if (IsVersion3(m->info.version())) ++version3Count;
  }
  Finish(s, kCode);
}

Mp4KrSessionInfoAtom::~Mp4KrSessionInfoAtom() {
  for (auto* m : media) delete m;
}

Mp4TrackInfoAtom::Mp4TrackInfoAtom(Mp4Stream& s, uint64_t limit) : Mp4Atom(s, limit) {
  constexpr int32_t kCode = READ_TRACK_INFO_ATOM_FAILED;
  if (!ok_) {
    Fail(kCode);
    return;
  }
  if (s.PeekAtomType(end_) == FourCC("krsi")) {
    layout3 = true;
    sessionInfo = BuildAtom<Mp4KrSessionInfoAtom>(s, end_);
    if (!sessionInfo || !sessionInfo->ok()) {
      Fail(sessionInfo ? sessionInfo->error() : READ_KRTI_SESSION_INFO_FAILED);
      return;
    }
    mediaCount = sessionInfo->values[4];
    version3Count = sessionInfo->version3Count;
    Finish(s, kCode);
    return;
  }
  for (auto& v : values)
    if (!s.ReadU32(v)) {
      Fail(kCode);
      return;
    }
  mediaCount = values[4];
  for (uint32_t i = 0; i < mediaCount; ++i) {
    const uint32_t kind = s.PeekNthU32(1);
    const bool video = kind == FourCC("vide");
    // A record of another kind is counted but not read, so the records after
    // it would be taken from the same bytes: stop there.
    if (!video && kind != FourCC("soun")) break;
    KrMediaInfo info;
    if (!ReadMediaRecord(s, end_, info, video, video ? 5 : 4)) {
      Fail(kCode);
      return;
    }
    if (IsVersion3(info.version())) ++version3Count;
    records.push_back(std::move(info));
  }
  Finish(s, kCode);
}

uint32_t Mp4TrackInfoAtom::MediaRecordCount() const {
  return layout3 ? static_cast<uint32_t>(sessionInfo->media.size()) : static_cast<uint32_t>(records.size());
}

const KrMediaInfo* Mp4TrackInfoAtom::Media(uint32_t i) const {
  if (i >= MediaRecordCount()) return nullptr;
  return layout3 ? &sessionInfo->media[i]->info : &records[i];
}


Mp4UserDataAtom::Mp4UserDataAtom(Mp4Stream& s, uint64_t limit) : Mp4Atom(s, limit) {
  if (!ok_) {
    Fail(READ_USER_DATA_ATOM_FAILED);
    return;
  }
  while (s.tell() < end_) {
    const uint32_t type = s.PeekAtomType(end_);
    if (type == FourCC("hnti") || type == FourCC("krsy")) {
      if (SkipBySize(s, end_) != 0) {
        Fail(READ_USER_DATA_ATOM_FAILED);
        return;
      }
      continue;
    }
    bool built = true;
    int32_t failCode = 0, childError = 0;
    auto child = [&](auto*& slot, int32_t code) {
      failCode = code;
      return BuildInto(slot, childError, code, s, end_);
    };
    switch (type) {
      case FourCC("wmfm"): built = child(wmfm, READ_WMF_SET_MEDIA_ATOM_FAILED); break;
      case FourCC("wmfs"): built = child(wmfs, READ_WMF_SET_SESSION_ATOM_FAILED); break;
      case FourCC("krmm"): built = child(krmm, READ_KR_USER_DATA_ATOM_FAILED); break;
      case FourCC("rqmt"): built = child(rqmt, READ_REQUIREMENTS_ATOM_FAILED); break;
      case FourCC("rand"): built = child(rand, READ_RANDOM_ACCESS_ATOM_FAILED); break;
      case FourCC("cver"): built = child(cver, READ_CONTENT_VERSION_FAILED); break;
      case FourCC("vinf"): built = child(vinf, READ_VIDEO_INFORMATION_ATOM_FAILED); break;
      case FourCC("krti"): built = child(krti, READ_TRACK_INFO_ATOM_FAILED); break;
      case FourCC("dnld"): built = child(dnld, READ_DOWNLOAD_ATOM_FAILED); break;
      default: {
        // Unknown children are scanned byte by byte: a maker atom may sit
        // inside one.
        uint8_t b;
        built = s.ReadByte(b);
        failCode = READ_USER_DATA_ATOM_FAILED;
        break;
      }
    }
    if (!built) {
      // The child's type decides the code, whatever the child recorded.
      Fail(failCode);
      return;
    }
  }
  Finish(s, READ_USER_DATA_ATOM_FAILED);
}

Mp4UserDataAtom::~Mp4UserDataAtom() {
  delete wmfm;
  delete wmfs;
  delete krmm;
  delete rqmt;
  delete rand;
  delete cver;
  delete vinf;
  delete krti;
  delete dnld;
}

Mp4Atom* Mp4UserDataAtom::Child(uint32_t type) const {
  switch (type) {
    case FourCC("wmfm"): return wmfm;
    case FourCC("wmfs"): return wmfs;
    case FourCC("krmm"): return krmm;
    case FourCC("rqmt"): return rqmt;
    case FourCC("rand"): return rand;
    case FourCC("cver"): return cver;
    case FourCC("vinf"): return vinf;
    case FourCC("krti"): return krti;
    case FourCC("dnld"): return dnld;
    default: return nullptr;
  }
}

}  // namespace reader
