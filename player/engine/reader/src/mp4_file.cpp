#include "reader/mp4_file.h"

#include <algorithm>
#include <atomic>

#include "platform/os.h"

namespace reader {

namespace {

std::atomic<bool> g_lastOpenHadKrmm{false};

uint64_t ToMedia(uint64_t ms, int64_t timescale) {
  return timescale > 0 ? ms * static_cast<uint64_t>(timescale) / 1000 : 0;
}

uint64_t ToMs(uint64_t media, int64_t timescale) {
  return timescale > 0 ? media * 1000 / static_cast<uint64_t>(timescale) : 0;
}

uint32_t Clamp32(uint64_t v) { return static_cast<uint32_t>(std::min<uint64_t>(v, UINT32_MAX)); }

}  // namespace

Mp4File* Mp4File::OpenFile(SharedWideString* path) {
  g_lastOpenHadKrmm = false;
  if (!path) return nullptr;
  std::FILE* f = platform::openFile(path->view(), "rb");
  if (!f) return nullptr;
  auto* file = new (std::nothrow) Mp4File(f, path);
  std::fclose(f);
  return file;
}

bool Mp4File::LastOpenHadKrmm() { return g_lastOpenHadKrmm; }

Mp4File::Mp4File(std::FILE* file, SharedWideString* path) : path_(path ? path->AddRef() : nullptr) {
  Mp4Stream s(file);
  Build(s);
}

Mp4File::~Mp4File() {
  delete userData_;
  delete fileType_;
  delete movie_;
  ReleaseText(path_);
}

bool Mp4File::Fail(int32_t code) {
  if (ok_) error_ = code;
  ok_ = false;
  return false;
}

void Mp4File::Build(Mp4Stream& s) {
  if (!ScanTopLevel(s)) return;
  if (!s.Seek(0)) {
    Fail(READ_FAILED);
    return;
  }
  BuildTopLevel(s);
  if (!ok_) return;
  if (movie_->TrackCount() == 0) {
    Fail(NO_META_DATA_FOR_MEDIA_TRACKS);
    return;
  }
  if (userData_ && userData_->krti && userData_->krti->mediaCount != movie_->TrackCount())
    Fail(NO_META_DATA_FOR_MEDIA_TRACKS);
}

// First pass: every top-level atom must lie inside the file, with one moov
// and at least one mdat.
bool Mp4File::ScanTopLevel(Mp4Stream& s) {
  int moovs = 0, mdats = 0;
  while (s.tell() < s.size()) {
    const uint64_t at = s.tell();
    uint32_t size, type;
    if (!s.ReadAtomHeader(size, type)) return Fail(READ_UNKNOWN_ATOM);
    if (size < 8) return Fail(ZERO_OR_NEGATIVE_ATOM_SIZE);
    int32_t beyond = READ_UNKNOWN_ATOM;
    switch (type) {
      case FourCC("skip"):
      case FourCC("free"): beyond = READ_FAILED; break;
      case FourCC("uuid"): beyond = READ_UUID_ATOM_FAILED; break;
      case FourCC("udta"): beyond = READ_USER_DATA_ATOM_FAILED; break;
      case FourCC("mdat"): beyond = READ_MEDIA_DATA_ATOM_FAILED; ++mdats; break;
      case FourCC("ftyp"): beyond = READ_FILE_TYPE_ATOM_FAILED; break;
      case FourCC("moov"):
        if (++moovs > 1) return Fail(DUPLICATE_MOVIE_ATOMS);
        beyond = READ_MOVIE_ATOM_FAILED;
        break;
      default:
        // Another type is tolerated only as the file's last header.
        if (s.tell() < s.size()) return Fail(READ_UNKNOWN_ATOM);
        break;
    }
    if (beyond == READ_UNKNOWN_ATOM) break;
    if (!s.Seek(at + size)) return Fail(beyond);
  }
  if (moovs == 0) return Fail(NO_MOVIE_ATOM_PRESENT);
  if (mdats == 0) return Fail(NO_MEDIA_TRACKS_IN_FILE);
  return true;
}

void Mp4File::BuildTopLevel(Mp4Stream& s) {
  const uint64_t fileEnd = s.size();
  while (s.tell() < fileEnd) {
    uint32_t size;
    if (!s.PeekU32(size)) break;
    switch (s.PeekNthU32(2)) {
      case FourCC("skip"):
      case FourCC("free"):
      case FourCC("uuid"):
        if (SkipBySize(s, fileEnd) != 0) return void(Fail(READ_FAILED));
        break;
      case FourCC("udta"): {
        auto* u = BuildAtom<Mp4UserDataAtom>(s, fileEnd);
        if (!u || !u->ok()) {
          Fail(u ? u->error() : READ_USER_DATA_ATOM_FAILED);
          delete u;
          return;
        }
        delete userData_;
        userData_ = u;
        // Maker content must say which content version it is, and only
        // version 3 is played.
        if (u->krmm) {
          hasKrmm_ = true;
          g_lastOpenHadKrmm = true;
          if (!u->cver) return void(Fail(READ_CONTENT_VERSION_FAILED));
          if ((u->cver->contentVersion >> 8) != 3) return void(Fail(FILE_VERSION_NOT_SUPPORTED));
        }
        break;
      }
      case FourCC("mdat"): {
        auto* m = BuildAtom<Mp4MediaDataAtom>(s, fileEnd, path_);
        if (!m || !m->ok()) {
          Fail(m ? m->error() : READ_MEDIA_DATA_ATOM_FAILED);
          delete m;
          return;
        }
        if (!mediaData_.Adopt(m)) return void(Fail(READ_MEDIA_DATA_ATOM_FAILED));
        break;
      }
      case FourCC("ftyp"): {
        auto* f = BuildAtom<Mp4FileTypeAtom>(s, fileEnd);
        if (!f || !f->ok()) {
          delete f;
          return void(Fail(READ_FILE_TYPE_ATOM_FAILED));
        }
        delete fileType_;
        fileType_ = f;
        break;
      }
      case FourCC("moov"): {
        if (movie_) return void(Fail(DUPLICATE_MOVIE_ATOMS));
        auto* m = BuildAtom<Mp4MovieAtom>(s, fileEnd, path_, hasKrmm_);
        if (!m || !m->ok()) {
          Fail(m ? m->error() : READ_MOVIE_ATOM_FAILED);
          delete m;
          return;
        }
        movie_ = m;
        fileValue_ = m->videoCounter;
        fileKind_ = m->mediaFlags;
        break;
      }
      default:
        // The first pass let only a trailing atom of another type through.
        if (s.tell() + size >= fileEnd) return;
        return void(Fail(READ_UNKNOWN_ATOM));
    }
  }
}

Mp4SampleTable* Mp4File::Table(uint32_t id) const {
  Mp4TrackAtom* t = Track(id);
  return t ? t->SampleTable() : nullptr;
}

const DecoderSpecificInfo* Mp4File::Dsi(uint32_t id) const {
  Mp4SampleTable* t = Table(id);
  return t ? t->DecoderInfo(0) : nullptr;
}

int32_t Mp4File::ReadSample(uint32_t track, uint8_t* buffer, uint32_t capacity, uint32_t* descriptionIndex) {
  Mp4TrackAtom* t = Track(track);
  return t ? t->ReadSampleForDecoder(buffer, capacity, descriptionIndex) : 0;
}

uint32_t Mp4File::GetLastSampleTime(uint32_t track) {
  Mp4SampleTable* t = Table(track);
  return t ? t->currentTime : 0;
}

uint8_t Mp4File::GetDownloadFlag1() { return userData_ && userData_->dnld ? userData_->dnld->flag1 : 0; }
uint8_t Mp4File::GetDownloadFlag2() { return userData_ && userData_->dnld ? userData_->dnld->flag2 : 1; }
uint32_t Mp4File::GetDownloadValue() { return userData_ && userData_->dnld ? userData_->dnld->value : 0; }
uint16_t Mp4File::GetContentVersion() { return userData_ ? userData_->ContentVersion() : 0; }
uint8_t Mp4File::GetRandomAccessFlag() {
  return userData_ && userData_->rand ? userData_->rand->randomAccess : 1;
}

SharedWideString* Mp4File::KrmmText(int i) const {
  if (userData_ && userData_->krmm && userData_->krmm->texts[i - 1]) return userData_->krmm->texts[i - 1]->AddRef();
  return SharedWideString::Create(u"");
}

uint32_t Mp4File::GetIodValue1() {
  return movie_ && movie_->iods ? movie_->iods->descriptor->objectDescriptorId : 0;
}
uint32_t Mp4File::GetIodValue2() {
  return movie_ && movie_->iods ? static_cast<uint32_t>(movie_->iods->descriptor->esIdIncTrackIds.size()) : 0;
}
uint8_t Mp4File::GetIodByte() { return movie_ && movie_->iods ? movie_->iods->descriptor->profileLevels[0] : 0; }
uint16_t Mp4File::GetBrandWord1() { return fileType_ ? static_cast<uint16_t>(fileType_->minorVersion >> 16) : 0; }
uint16_t Mp4File::GetBrandWord2() { return fileType_ ? static_cast<uint16_t>(fileType_->minorVersion) : 0; }
uint32_t Mp4File::GetBrandValue() { return fileType_ ? fileType_->MajorBrand() : 0; }
uint32_t Mp4File::GetTrackCount() { return movie_ ? movie_->TrackCount() : 0; }
uint32_t Mp4File::GetTrackIds(uint32_t* ids, uint32_t max) { return movie_ && ids ? movie_->TrackIds(ids, max) : 0; }
uint32_t Mp4File::GetTrackIdList(uint32_t* ids) {
  return movie_ && ids ? movie_->TrackIds(ids, movie_->TrackCount()) : 0;
}
uint32_t Mp4File::GetDuration() { return movie_ && movie_->mvhd ? Clamp32(movie_->mvhd->duration) : 0; }
int64_t Mp4File::GetMovieTimescale() { return movie_ && movie_->mvhd ? int64_t(movie_->mvhd->timescale) : -1; }

uint16_t Mp4File::GetTrackContentVersion(uint32_t track) {
  Mp4TrackAtom* t = Track(track);
  return t && t->udta ? t->udta->ContentVersion() : 0;
}

float Mp4File::GetTrackFrameRate(uint32_t track) {
  Mp4TrackAtom* t = Track(track);
  return t && t->udta ? t->udta->FrameRate() : 0.0f;
}

uint16_t Mp4File::GetTrackIFrameInterval(uint32_t track) {
  Mp4TrackAtom* t = Track(track);
  return t && t->udta ? t->udta->VideoInfoValue2() : 0;
}

uint32_t Mp4File::VideoInfoValue(uint32_t track, int i) const {
  if (!userData_ || !userData_->krti) return 0;
  const Mp4TrackInfoAtom* krti = userData_->krti;
  for (uint32_t m = 0; m < krti->MediaRecordCount(); ++m) {
    const KrMediaInfo* info = krti->Media(m);
    if (info->kind() == FourCC("vide") && info->trackId() == track) return info->extra[i];
  }
  return 0;
}

int32_t Mp4File::WmfmByte(uint32_t track, int i) const {
  if (!movie_) return 0;
  Mp4TrackAtom* t = Track(track);
  return t && t->udta ? t->udta->WmfmByte(i) : -1;
}

int32_t Mp4File::GetTrackWmfmByte5(uint32_t track) {
  Mp4TrackAtom* t = Track(track);
  return t && t->udta ? t->udta->WmfmFlag() : 0;
}

uint32_t Mp4File::GetTrackHeaderValue(uint32_t track) {
  Mp4TrackAtom* t = Track(track);
  if (!t) return 0;
  return t->tkhd ? (t->tkhd->trackKind & 0xFF) : 1;
}

uint32_t Mp4File::GetTrackDependency(uint32_t track) {
  Mp4TrackAtom* t = Track(track);
  return t && t->tref ? t->tref->FirstTrackId() : 0;
}

uint32_t Mp4File::GetMediaDuration(uint32_t track) {
  Mp4TrackAtom* t = Track(track);
  return t && t->mdia && t->mdia->mdhd ? Clamp32(t->mdia->mdhd->duration) : 0;
}

int64_t Mp4File::GetMediaTimescale(uint32_t track) {
  Mp4TrackAtom* t = Track(track);
  return t ? t->MediaTimescale() : -1;
}

int64_t Mp4File::GetTrackHandlerType(uint32_t track) {
  Mp4TrackAtom* t = Track(track);
  return t ? int64_t(t->handlerType) : -1;
}

int64_t Mp4File::GetSampleEntryCount(uint32_t track) {
  Mp4TrackAtom* t = Track(track);
  if (!t) return 0;
  if (!t->mdia) return -1;
  Mp4SampleTable* st = t->SampleTable();
  return st && st->stsd ? int64_t(st->stsd->entryCount) : 0;
}

const char16_t* Mp4File::CodecName(int32_t objectType) {
  switch (objectType) {
    case 0x20: return u"MP4V-ES";
    case 0x40: return u"AAC";
    case 0xC0: return u"H263-2000";
    case 0xD0: return u"AMR";
    case 0xD1: return u"EVRC";
    case 0xFE: return u"X-MP4V-IMAGE";
    default: return u"UNKNOWN";
  }
}

SharedWideString* Mp4File::GetTrackCodecName(uint32_t track) {
  Mp4SampleTable* t = Table(track);
  if (!t || !t->stsd) return SharedWideString::Create(u"");
  return SharedWideString::Create(CodecName(t->ObjectTypeIndication()));
}

int32_t Mp4File::GetObjectTypeIndication(uint32_t track) {
  Mp4TrackAtom* t = Track(track);
  if (!t) return -1;
  Mp4SampleTable* st = t->SampleTable();
  if (!st || !st->stsd) return 0;
  return st->ObjectTypeIndication();
}

uint32_t Mp4File::GetMaxSampleSize(uint32_t track) {
  Mp4SampleTable* t = Table(track);
  // Room for the largest stored sample too, so that every sample can be read
  // into a buffer of this size.
  return t ? std::max(t->MaxBufferSize(), t->LargestSampleSize()) : 0;
}

uint32_t Mp4File::GetTrackBitrate(uint32_t track) {
  Mp4SampleTable* t = Table(track);
  return t ? t->AverageBitrate() : 0;
}

const uint8_t* Mp4File::GetDecoderSpecificInfo(uint32_t track) {
  const DecoderSpecificInfo* d = Dsi(track);
  return d && !d->bytes().empty() ? d->bytes().data() : nullptr;
}

uint32_t Mp4File::GetDecoderSpecificInfoSize(uint32_t track) {
  const DecoderSpecificInfo* d = Dsi(track);
  return d ? static_cast<uint32_t>(d->bytes().size()) : 0;
}

const Mp4SampleEntry* Mp4File::GetSampleDescription(uint32_t track, uint32_t index) {
  Mp4SampleTable* t = Table(track);
  return t ? t->Entry(index) : nullptr;
}

int64_t Mp4File::GetSampleValue(uint32_t track, uint32_t index) {
  Mp4SampleTable* t = Table(track);
  const int64_t size = t ? t->SampleSize(index) : -1;
  return size < 0 ? 0 : size;
}

int64_t Mp4File::GetTableEntry(uint32_t track, uint32_t index) {
  Mp4SampleTable* t = Table(track);
  if (!t || !t->stss || index >= static_cast<uint32_t>(t->stss->samples.count())) return -1;
  return t->stss->samples[static_cast<int32_t>(index)];
}

uint32_t Mp4File::SeekTracks(uint32_t startMs, uint32_t count, const uint32_t* ids) {
  if (!movie_ || !ids) return 0;
  uint64_t running = startMs;
  bool sawVideo = false;
  auto restart = [this]() -> uint32_t {
    ResetTracks();
    return 0;
  };
  // Video first: the sync point it finds is where audio must start too.
  for (uint32_t i = 0; i < count; ++i) {
    Mp4TrackAtom* t = Track(ids[i]);
    if (!t || t->handlerType != FourCC("vide") || !t->SampleTable()) continue;
    sawVideo = true;
    const int64_t scale = t->MediaTimescale();
    const uint32_t ref = t->tref ? t->tref->FirstTrackId() : 0;
    Mp4TrackAtom* base = ref ? Track(ref) : nullptr;
    if (base && base->SampleTable()) {
      // An enhancement layer follows its base layer's sync point.
      const uint32_t r = base->SampleTable()->Seek(Clamp32(ToMedia(running, base->MediaTimescale())), false);
      const uint64_t ms = ToMs(r, scale);
      if (ms > running) return restart();
      running = ms;
      t->SampleTable()->Seek(Clamp32(ToMedia(running, scale)), true);
    } else {
      const uint32_t r = t->SampleTable()->Seek(Clamp32(ToMedia(running, scale)), false);
      const uint64_t ms = ToMs(r, scale);
      if (ms > running) return restart();
      running = ms;
    }
  }
  for (uint32_t i = 0; i < count; ++i) {
    Mp4TrackAtom* t = Track(ids[i]);
    if (!t || t->handlerType != FourCC("soun") || !t->SampleTable()) continue;
    const int64_t scale = t->MediaTimescale();
    const uint32_t r = t->SampleTable()->Seek(Clamp32(ToMedia(running, scale)), sawVideo);
    if (!sawVideo) {
      const uint64_t ms = ToMs(r, scale);
      if (ms > running) return restart();
      running = ms;
    }
  }
  return Clamp32(running);
}

void Mp4File::ResetTracks() {
  if (movie_) movie_->ResetTracks();
}

int32_t Mp4File::ReadSamples(uint32_t track, uint32_t* count, SampleRequest* request) {
  Mp4SampleTable* t = Table(track);
  if (!t || !count || !request) return -1;
  if (t->position >= t->SampleCount()) {
    *count = 0;
    request->slots[0].timeStamp = t->currentTime;
    return END_OF_TRACK;
  }
  const int32_t r = t->ReadSamples(*count, *request);
  return r == INVALID_SAMPLE_SIZE || r == INVALID_CHUNK_OFFSET ? READ_FAILED : r;
}

int32_t Mp4File::PeekSamples(uint32_t track, uint32_t* count, SampleRequest* samples) {
  Mp4SampleTable* t = Table(track);
  if (!t || !count || !samples) return -1;
  const int32_t r = t->PeekSamples(*count, *samples);
  return r == INVALID_SAMPLE_SIZE ? READ_FAILED : r;
}

uint8_t Mp4File::GetRequirementFlag2() { return userData_ && userData_->rqmt ? userData_->rqmt->flag2 : 1; }
uint8_t Mp4File::GetRequirementFlag1() { return userData_ && userData_->rqmt ? userData_->rqmt->flag1 : 1; }

uint32_t Mp4File::GetTrackValue60(uint32_t track) {
  Mp4SampleTable* t = Table(track);
  return t ? t->SampleCount() : 0;
}

}  // namespace reader
