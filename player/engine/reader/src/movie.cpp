#include "reader/movie.h"

#include <algorithm>

namespace reader {

namespace {

// A version-1 header holds 64-bit times; version 0 32-bit ones.
bool ReadTime(Mp4Stream& s, bool wide, uint64_t& v) {
  uint32_t hi = 0, lo = 0;
  if (wide ? !s.ReadU64(hi, lo) : !s.ReadU32(lo)) return false;
  v = (uint64_t(hi) << 32) | lo;
  return true;
}

}  // namespace

Mp4MovieHeaderAtom::Mp4MovieHeaderAtom(Mp4Stream& s, uint64_t limit) : Mp4FullAtom(s, limit) {
  constexpr int32_t kCode = READ_MOVIE_HEADER_ATOM_FAILED;
  const bool wide = version_ == 1;
  uint32_t dropped;
  if (!ok_ || !ReadTime(s, wide, creationTime) || !ReadTime(s, wide, modificationTime) ||
      !s.ReadU32(timescale) || !ReadTime(s, wide, duration)) {
    Fail(kCode);
    return;
  }
  for (int i = 0; i < 19; ++i)
    if (!s.ReadU32(dropped)) {
      Fail(kCode);
      return;
    }
  // Every millisecond conversion divides by the timescale.
  if (!s.ReadU32(nextTrackId) || timescale == 0) {
    Fail(kCode);
    return;
  }
  Finish(s, kCode);
}

Mp4TrackHeaderAtom::Mp4TrackHeaderAtom(Mp4Stream& s, uint64_t limit) : Mp4FullAtom(s, limit) {
  constexpr int32_t kCode = READ_TRACK_HEADER_ATOM_FAILED;
  const bool wide = version_ == 1;
  uint32_t reserved;
  uint16_t reserved16 = 0;
  bool read = ok_ && ReadTime(s, wide, creationTime) && ReadTime(s, wide, modificationTime) &&
              s.ReadU32(trackId) && s.ReadU32(reserved) && ReadTime(s, wide, duration) && s.ReadU32(reserved) &&
              s.ReadU32(reserved) && s.ReadU32(layerAndGroup) && s.ReadU16(volume) && s.ReadU16(reserved16);
  for (auto& m : matrix) read = read && s.ReadU32(m);
  read = read && s.ReadU32(width) && s.ReadU32(height);
  if (!read) {
    Fail(kCode);
    return;
  }
  if (volume == 0x0100 && reserved16 == 0)
    trackKind = FourCC("soun");
  else if (width == 0x01400000 && height == 0x00F00000)
    trackKind = FourCC("vide");
  Finish(s, kCode);
}

Mp4TrackReferenceTypeAtom::Mp4TrackReferenceTypeAtom(Mp4Stream& s, uint64_t limit) : Mp4Atom(s, limit) {
  constexpr int32_t kCode = READ_TRACK_REFERENCE_TYPE_ATOM_FAILED;
  if (!ok_) {
    Fail(kCode);
    return;
  }
  trackIds.reserve((end_ - s.tell()) / 4);
  while (s.tell() < end_) {
    uint32_t id;
    if (end_ - s.tell() < 4 || !s.ReadU32(id)) {
      Fail(kCode);
      return;
    }
    trackIds.push_back(id);
  }
  Finish(s, kCode);
}

Mp4TrackReferenceAtom::Mp4TrackReferenceAtom(Mp4Stream& s, uint64_t limit) : Mp4Atom(s, limit) {
  if (!ok_) {
    Fail(READ_TRACK_REFERENCE_ATOM_FAILED);
    return;
  }
  int32_t error = 0;
  if (!BuildInto(reference, error, READ_TRACK_REFERENCE_TYPE_ATOM_FAILED, s, end_)) {
    Fail(READ_TRACK_REFERENCE_TYPE_ATOM_FAILED);
    return;
  }
  Finish(s, READ_TRACK_REFERENCE_ATOM_FAILED);
}

uint32_t Mp4TrackReferenceAtom::FirstTrackId() const {
  return reference && !reference->trackIds.empty() ? reference->trackIds[0] : 0;
}

Mp4EditListAtom::Mp4EditListAtom(Mp4Stream& s, uint64_t limit) : Mp4FullAtom(s, limit) {
  // Edit lists are not among the codes; their failure is the track's.
  constexpr int32_t kCode = READ_TRACK_ATOM_FAILED;
  uint32_t n;
  const uint32_t entryBytes = version_ == 1 ? 20 : 12;
  if (!ok_ || !s.ReadU32(n) || uint64_t(n) * entryBytes > Remaining(s)) {
    Fail(kCode);
    return;
  }
  segmentDuration.resize(n);
  mediaTime.resize(n);
  rateInteger.resize(n);
  rateFraction.resize(n);
  for (uint32_t i = 0; i < n; ++i) {
    uint64_t duration, time;
    if (!ReadTime(s, version_ == 1, duration) || !ReadTime(s, version_ == 1, time) ||
        !s.ReadTwoU16(rateInteger[i], rateFraction[i])) {
      Fail(kCode);
      return;
    }
    segmentDuration[i] = static_cast<uint32_t>(std::min<uint64_t>(duration, UINT32_MAX));
    // An empty edit is -1 in either width.
    mediaTime[i] = time == UINT64_MAX ? UINT32_MAX : static_cast<uint32_t>(time);
  }
  Finish(s, kCode);
}

Mp4EditAtom::Mp4EditAtom(Mp4Stream& s, uint64_t limit) : Mp4Atom(s, limit) {
  if (!ok_) {
    Fail(READ_TRACK_ATOM_FAILED);
    return;
  }
  while (s.tell() < end_) {
    if (s.PeekAtomType(end_) == FourCC("elst")) {
      auto* list = BuildAtom<Mp4EditListAtom>(s, end_);
      if (!list || !list->ok()) {
        Fail(list ? list->error() : READ_TRACK_ATOM_FAILED);
        delete list;
        return;
      }
      if (!lists.Adopt(list)) {
        Fail(READ_TRACK_ATOM_FAILED);
        return;
      }
    } else if (SkipBySize(s, end_) != 0) {
      Fail(READ_TRACK_ATOM_FAILED);
      return;
    }
  }
  Finish(s, READ_TRACK_ATOM_FAILED);
}

Mp4MediaHeaderAtom::Mp4MediaHeaderAtom(Mp4Stream& s, uint64_t limit) : Mp4FullAtom(s, limit) {
  constexpr int32_t kCode = READ_MEDIA_HEADER_ATOM_FAILED;
  const bool wide = version_ == 1;
  if (!ok_ || !ReadTime(s, wide, creationTime) || !ReadTime(s, wide, modificationTime) ||
      !s.ReadU32(timescale) || !ReadTime(s, wide, duration) || !s.ReadTwoU16(language, preDefined) ||
      timescale == 0) {
    Fail(kCode);
    return;
  }
  Finish(s, kCode);
}

Mp4HandlerAtom::Mp4HandlerAtom(Mp4Stream& s, uint64_t limit) : Mp4FullAtom(s, limit) {
  constexpr int32_t kCode = READ_HANDLER_ATOM_FAILED;
  uint32_t dropped;
  if (!ok_ || !s.ReadU32(dropped) || !s.ReadU32(handlerType) || !s.ReadU32(dropped) || !s.ReadU32(dropped) ||
      !s.ReadU32(dropped) || s.tell() > end_) {
    Fail(kCode);
    return;
  }
  name = s.ReadUtf8Text(end_);
  if (!name) {
    Fail(kCode);
    return;
  }
  Finish(s, kCode);
}

Mp4MediaInfoHeaderAtom::Mp4MediaInfoHeaderAtom(Mp4Stream& s, uint64_t limit, uint32_t handler)
    : Mp4FullAtom(s, limit), handlerType(handler) {
  int32_t code = READ_MEDIA_INFORMATION_HEADER_ATOM_FAILED;
  bool read = ok_;
  switch (type_) {
    case FourCC("vmhd"): {
      code = READ_VIDEO_MEDIA_HEADER_ATOM_FAILED;
      uint32_t hi, lo;
      read = read && s.ReadU64(hi, lo);
      graphicsModeAndColour = (uint64_t(hi) << 32) | lo;
      break;
    }
    case FourCC("smhd"):
      code = READ_SOUND_MEDIA_HEADER_ATOM_FAILED;
      read = read && s.ReadU32(balance);
      break;
    case FourCC("hmhd"): {
      code = READ_HINT_MEDIA_HEADER_ATOM_FAILED;
      uint32_t reserved;
      read = read && s.ReadTwoU16(maxPduSize, averagePduSize) && s.ReadU32(maxBitrate) &&
             s.ReadU32(averageBitrate) && s.ReadU32(reserved);
      break;
    }
    case FourCC("nmhd"):
      code = READ_MPEG4_MEDIA_HEADER_ATOM_FAILED;
      break;
    default:
      read = false;
      break;
  }
  if (!read) {
    Fail(code);
    return;
  }
  Finish(s, code);
}

Mp4DataEntryAtom::Mp4DataEntryAtom(Mp4Stream& s, uint64_t limit) : Mp4FullAtom(s, limit) {
  if (!ok_) {
    Fail(READ_DATA_ENTRY_URL_ATOM_FAILED);
    return;
  }
  if (flags_ != 1) {
    // Media data in another file: only self-contained files play.
    location = s.ReadUtf8Text(end_);
    Fail(MEDIA_DATA_NOT_SELF_CONTAINED);
    return;
  }
  Finish(s, READ_DATA_ENTRY_URL_ATOM_FAILED);
}

Mp4DataReferenceAtom::Mp4DataReferenceAtom(Mp4Stream& s, uint64_t limit) : Mp4FullAtom(s, limit) {
  if (!ok_ || !s.ReadU32(entryCount) || entryCount == 0) {
    Fail(READ_DATA_REFERENCE_ATOM_FAILED);
    return;
  }
  // Each entry takes at least a full-atom header or fails.
  for (uint32_t i = 0; i < entryCount; ++i) {
    auto* e = BuildAtom<Mp4DataEntryAtom>(s, end_);
    if (!e || !e->ok()) {
      Fail(e ? e->error() : READ_DATA_REFERENCE_ATOM_FAILED);
      delete e;
      return;
    }
    if (!entries.Adopt(e)) {
      Fail(READ_DATA_REFERENCE_ATOM_FAILED);
      return;
    }
  }
  Finish(s, READ_DATA_REFERENCE_ATOM_FAILED);
}

Mp4DataInformationAtom::Mp4DataInformationAtom(Mp4Stream& s, uint64_t limit) : Mp4Atom(s, limit) {
  if (!ok_ || s.PeekAtomType(end_) != FourCC("dref")) {
    Fail(READ_DATA_INFORMATION_ATOM_FAILED);
    return;
  }
  int32_t error = 0;
  if (!BuildInto(dref, error, READ_DATA_REFERENCE_ATOM_FAILED, s, end_)) {
    Fail(error);
    return;
  }
  Finish(s, READ_DATA_INFORMATION_ATOM_FAILED);
}

Mp4MediaInformationAtom::Mp4MediaInformationAtom(Mp4Stream& s, uint64_t limit, uint32_t handler,
                                                 SharedWideString* path)
    : Mp4Atom(s, limit) {
  constexpr int32_t kCode = READ_MEDIA_INFORMATION_ATOM_FAILED;
  if (!ok_) {
    Fail(kCode);
    return;
  }
  while (s.tell() < end_) {
    const uint32_t type = s.PeekAtomType(end_);
    int32_t error = 0;
    bool built;
    switch (type) {
      case FourCC("vmhd"):
      case FourCC("smhd"):
      case FourCC("hmhd"):
      case FourCC("nmhd"):
        built = BuildInto(mediaHeader, error, kCode, s, end_, handler);
        break;
      case FourCC("dinf"):
        built = BuildInto(dinf, error, READ_DATA_INFORMATION_ATOM_FAILED, s, end_);
        break;
      case FourCC("stbl"):
        built = BuildInto(stbl, error, READ_SAMPLE_TABLE_ATOM_FAILED, s, end_, handler, path);
        break;
      default:
        // Children of other types are passed over inside the atom.
        built = SkipBySize(s, end_) == 0;
        error = kCode;
        break;
    }
    if (!built) {
      Fail(error);
      return;
    }
  }
  if (!mediaHeader || !dinf || !stbl) {
    Fail(kCode);
    return;
  }
  Finish(s, kCode);
}

Mp4MediaInformationAtom::~Mp4MediaInformationAtom() {
  delete mediaHeader;
  delete dinf;
  delete stbl;
}

Mp4MediaAtom::Mp4MediaAtom(Mp4Stream& s, uint64_t limit, SharedWideString* path) : Mp4Atom(s, limit) {
  constexpr int32_t kCode = READ_MEDIA_ATOM_FAILED;
  if (!ok_) {
    Fail(kCode);
    return;
  }
  // The handler decides how the media information is read, so the children
  // are located first and read in a fixed order.
  uint64_t mdhdAt = 0, hdlrAt = 0, minfAt = 0;
  while (s.tell() < end_) {
    const uint64_t at = s.tell();
    const uint32_t type = s.PeekAtomType(end_);
    if (type == FourCC("mdhd")) mdhdAt = at;
    if (type == FourCC("hdlr")) hdlrAt = at;
    if (type == FourCC("minf")) minfAt = at;
    if (SkipBySize(s, end_) != 0) {
      Fail(kCode);
      return;
    }
  }
  if (!mdhdAt || !hdlrAt || !minfAt) {
    Fail(kCode);
    return;
  }
  int32_t error = 0;
  if (!s.Seek(mdhdAt) || !BuildInto(mdhd, error, READ_MEDIA_HEADER_ATOM_FAILED, s, end_)) {
    Fail(error ? error : kCode);
    return;
  }
  if (!s.Seek(hdlrAt) || !BuildInto(hdlr, error, READ_HANDLER_ATOM_FAILED, s, end_)) {
    Fail(error ? error : kCode);
    return;
  }
  const uint32_t handler = CheckHandlerType(hdlr->handlerType);
  if (!s.Seek(minfAt) || !BuildInto(minf, error, READ_MEDIA_INFORMATION_ATOM_FAILED, s, end_, handler, path)) {
    Fail(error ? error : kCode);
    return;
  }
  Finish(s, kCode);
}

Mp4MediaAtom::~Mp4MediaAtom() {
  delete mdhd;
  delete hdlr;
  delete minf;
}

Mp4TrackAtom::Mp4TrackAtom(Mp4Stream& s, uint64_t limit, SharedWideString* path) : Mp4Atom(s, limit) {
  constexpr int32_t kCode = READ_TRACK_ATOM_FAILED;
  if (!ok_) {
    Fail(kCode);
    return;
  }
  while (s.tell() < end_) {
    const uint32_t type = s.PeekAtomType(end_);
    int32_t error = 0;
    bool built = true;
    switch (type) {
      case FourCC("mdia"):
        if (mdia) {
          Fail(DUPLICATE_MEDIA_ATOMS);
          return;
        }
        built = BuildInto(mdia, error, READ_MEDIA_ATOM_FAILED, s, end_, path);
        break;
      case FourCC("tkhd"):
        if (tkhd) {
          Fail(DUPLICATE_TRACK_HEADER_ATOMS);
          return;
        }
        built = BuildInto(tkhd, error, READ_TRACK_HEADER_ATOM_FAILED, s, end_);
        break;
      case FourCC("tref"):
        if (tref) {
          Fail(DUPLICATE_TRACK_REFERENCE_ATOMS);
          return;
        }
        built = BuildInto(tref, error, READ_TRACK_REFERENCE_ATOM_FAILED, s, end_);
        break;
      case FourCC("udta"):
        built = BuildInto(udta, error, READ_USER_DATA_ATOM_FAILED, s, end_);
        break;
      case FourCC("edts"):
        built = BuildInto(edts, error, kCode, s, end_);
        break;
      default:
        built = SkipBySize(s, end_) == 0;
        error = kCode;
        break;
    }
    if (!built) {
      Fail(error);
      return;
    }
  }
  if (!mdia) {
    Fail(NO_MEDIA_ATOM_PRESENT);
    return;
  }
  if (!tkhd) {
    Fail(NO_TRACK_HEADER_ATOM_PRESENT);
    return;
  }
  if (edts && edts->lists.count() > 0) {
    const Mp4EditListAtom* first = edts->lists[0];
    if (!first->mediaTime.empty() && first->mediaTime[0] == UINT32_MAX) startOffset = first->segmentDuration[0];
  }
  if (Mp4SampleTable* t = SampleTable()) t->startOffset = startOffset;
  handlerType = CheckHandlerType(mdia->hdlr->handlerType);
  Finish(s, kCode);
}

Mp4TrackAtom::~Mp4TrackAtom() {
  delete tkhd;
  delete tref;
  delete edts;
  delete mdia;
  delete udta;
}

Mp4SampleTable* Mp4TrackAtom::SampleTable() const {
  return mdia && mdia->minf ? mdia->minf->stbl : nullptr;
}

int64_t Mp4TrackAtom::MediaTimescale() const {
  return mdia && mdia->mdhd ? int64_t(mdia->mdhd->timescale) : -1;
}

int32_t Mp4TrackAtom::ReadSampleForDecoder(uint8_t* buffer, uint32_t capacity, uint32_t* descriptionIndex) {
  Mp4SampleTable* t = SampleTable();
  if (!t) return 0;
  if (handlerType != FourCC("soun")) return t->ReadNextSample(buffer, capacity, descriptionIndex);
  const int32_t oti = t->ObjectTypeIndication();
  if (oti == 0xD1 || oti == 0x40) return t->ReadNextSample(buffer, capacity, descriptionIndex);
  if (oti != 0xD0) return 0;
  // The scratch copy is bounded by the caller's buffer, never by a size
  // taken from the file.
  const int64_t size = t->SampleSize(t->position);
  if (size <= 0 || size > capacity) return 0;
  scratch_.resize(static_cast<size_t>(size));
  const int32_t got = t->ReadNextSample(scratch_.data(), static_cast<uint32_t>(size), descriptionIndex);
  if (got <= 0) return 0;
  const DecoderSpecificInfo* dsi = t->DecoderInfo(t->currentDescription);
  if (!dsi) return 0;
  return static_cast<int32_t>(
      AmrIf2Converter::Convert(scratch_.data(), static_cast<uint32_t>(got), dsi->mode & 0x0F, buffer, capacity));
}

Mp4MovieAtom::Mp4MovieAtom(Mp4Stream& s, uint64_t limit, SharedWideString* path, bool makerContent)
    : Mp4Atom(s, limit) {
  constexpr int32_t kCode = READ_MOVIE_ATOM_FAILED;
  if (!ok_) {
    Fail(kCode);
    return;
  }
  while (s.tell() < end_) {
    const uint32_t type = s.PeekAtomType(end_);
    int32_t error = 0;
    bool built = true;
    switch (type) {
      case FourCC("udta"):
        built = BuildInto(udta, error, READ_USER_DATA_ATOM_FAILED, s, end_);
        break;
      case FourCC("trak"): {
        if (makerContent) {
          const int32_t scan = PreScanTrack(s);
          if (scan == TRACK_VERSION_NOT_SUPPORTED) {
            // A track of another content version is passed over.
            if (SkipBySize(s, end_) != 0) {
          Fail(READ_FAILED);
          return;
        }
            continue;
          }
          if (scan != 0) {
          Fail(scan);
          return;
        }
        }
        if (!AddTrack(s, path)) return;
        break;
      }
      case FourCC("iods"):
        if (iods) {
          Fail(DUPLICATE_OBJECT_DESCRIPTORS);
          return;
        }
        built = BuildInto(iods, error, READ_OBJECT_DESCRIPTOR_ATOM_FAILED, s, end_);
        break;
      case FourCC("mvhd"):
        if (mvhd) {
          Fail(DUPLICATE_MOVIE_HEADERS);
          return;
        }
        built = BuildInto(mvhd, error, READ_MOVIE_HEADER_ATOM_FAILED, s, end_);
        break;
      default: {
        const int32_t skip = SkipBySize(s, end_);
        built = skip == 0;
        error = skip == ZERO_OR_NEGATIVE_ATOM_SIZE ? skip : kCode;
        break;
      }
    }
    if (!built) {
      Fail(error);
      return;
    }
  }
  if (!mvhd) {
    Fail(NO_MOVIE_HEADER_ATOM_PRESENT);
    return;
  }
  Finish(s, kCode);
}

Mp4MovieAtom::~Mp4MovieAtom() {
  delete mvhd;
  delete iods;
  delete udta;
}

int32_t Mp4MovieAtom::PreScanTrack(Mp4Stream& s) {
  const uint64_t at = s.tell();
  uint32_t size, type;
  int32_t result = 0;
  if (!s.ReadAtomHeader(size, type)) return READ_FAILED;
  if (size < 8) {
    result = ZERO_OR_NEGATIVE_ATOM_SIZE;
  } else if (at + size > end_) {
    result = READ_FAILED;
  } else {
    const uint64_t trackEnd = at + size;
    while (result == 0 && s.tell() < trackEnd) {
      if (s.PeekAtomType(trackEnd) == FourCC("udta")) {
        auto* u = BuildAtom<Mp4UserDataAtom>(s, trackEnd);
        if (!u || !u->ok())
          result = READ_USER_DATA_ATOM_FAILED;
        else if (!u->cver)
          result = READ_CONTENT_VERSION_FAILED;
        else if ((u->cver->contentVersion >> 8) != 3)
          result = TRACK_VERSION_NOT_SUPPORTED;
        delete u;
      } else {
        result = SkipBySize(s, trackEnd);
      }
    }
  }
  s.Seek(at);
  return result;
}

bool Mp4MovieAtom::AddTrack(Mp4Stream& s, SharedWideString* path) {
  auto* track = BuildAtom<Mp4TrackAtom>(s, end_, path);
  if (!track || !track->ok()) {
    Fail(track ? track->error() : READ_TRACK_ATOM_FAILED);
    delete track;
    return false;
  }
  // Only audio and video tracks are played; the rest were read to check them.
  if (track->handlerType != FourCC("soun") && track->handlerType != FourCC("vide")) {
    delete track;
    return true;
  }
  const bool video = track->handlerType == FourCC("vide");
  if (!tracks.Adopt(track)) return Fail(READ_TRACK_ATOM_FAILED);
  mediaFlags |= video ? 2u : 1u;
  if (video) ++videoCounter;
  return true;
}

Mp4TrackAtom* Mp4MovieAtom::FindTrack(uint32_t trackId) const {
  for (Mp4TrackAtom* t : tracks)
    if (t->TrackId() == trackId) return t;
  return nullptr;
}

uint32_t Mp4MovieAtom::TrackIds(uint32_t* ids, uint32_t max) const {
  uint32_t n = 0;
  for (Mp4TrackAtom* t : tracks) {
    if (n >= max) break;
    ids[n++] = t->TrackId();
  }
  return n;
}

void Mp4MovieAtom::ResetTracks() {
  for (Mp4TrackAtom* t : tracks)
    if (Mp4SampleTable* st = t->SampleTable()) st->Reset();
}

Mp4FileTypeAtom::Mp4FileTypeAtom(Mp4Stream& s, uint64_t limit) : Mp4Atom(s, limit) {
  constexpr int32_t kCode = READ_FILE_TYPE_ATOM_FAILED;
  if (!ok_ || !s.ReadTwoU16(majorBrandHigh, majorBrandLow) || !s.ReadU32(minorVersion) || s.tell() > end_) {
    Fail(kCode);
    return;
  }
  const uint32_t n = static_cast<uint32_t>(Remaining(s) / 4);
  if (!compatibleBrands.Reserve(static_cast<int32_t>(n))) {
    Fail(kCode);
    return;
  }
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t brand;
    if (!s.ReadU32(brand) || !compatibleBrands.Append(brand)) {
      Fail(kCode);
      return;
    }
  }
  Finish(s, kCode);
}

Mp4MediaDataAtom::Mp4MediaDataAtom(Mp4Stream& s, uint64_t limit, SharedWideString* path)
    : Mp4Atom(s, limit), path_(path ? path->AddRef() : nullptr) {
  if (!ok_ || !s.Seek(end_)) {
    Fail(READ_MEDIA_DATA_ATOM_FAILED);
    return;
  }
  present = true;
}

}  // namespace reader
