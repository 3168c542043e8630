#include "fileformat/mp4_file_writer.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <iostream>
#include <limits>

#include "fileformat/decoder_specific_info.h"
#include "fileformat/file_stream.h"
#include "fileformat/render.h"
#include "platform/os.h"

namespace fileformat {

namespace {
// The scene description of each presentation kind; its eighth byte counts
// the bytes after it.
const std::vector<uint8_t> kSceneVideo = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x11, 0xC0,
                                          0x04, 0x25, 0x02, 0x60, 0x54, 0x02, 0xA5, 0xFF, 0x80,
                                          0x00, 0x00, 0x00, 0x00, 0x00, 0x07, 0x80};
const std::vector<uint8_t> kSceneAudio = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x12, 0xC0,
                                          0x04, 0x24, 0xC0, 0x85, 0x04, 0x50, 0x0A, 0x57, 0xFE,
                                          0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1F, 0x00};
const std::vector<uint8_t> kSceneBoth = {
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1F, 0xC0, 0x04, 0x25, 0x02, 0x60,
    0x54, 0x02, 0xA5, 0xFF, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x06, 0x4C, 0x08,
    0x50, 0x45, 0x00, 0xE5, 0x7F, 0xE0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0xF0};

// Keeps only the bits an AMR frame type fills in its last byte. The
// comfort-noise frames (8 AMR SID, 39 bits; 9 to 11 the other systems' SID,
// 43, 38 and 37 bits) keep theirs too: zeroing the whole byte would lose
// the end of their parameters.
constexpr uint8_t kAmrLastByteMask[12] = {0xFE, 0xFE, 0xFC, 0xFC, 0xF0, 0xFE,
                                          0xF0, 0xF0, 0xFE, 0xE0, 0xFC, 0xF8};

constexpr uint32_t kMaxDecoderConfig = 1 << 20;

// Room kept below 4 GiB for the tables and atoms that grow with a sample.
constexpr uint64_t kSizeReserve = 1 << 16;

void error(const char* text) { std::cerr << "ERROR: " << text << std::endl; }
}  // namespace

std::unique_ptr<MP4WriterApi> MP4FileWriter::Create(uint32_t presentationKind,
                                                    uint32_t videoHintMode,
                                                    std::u16string spoolBaseName,
                                                    std::u16string spoolTag, uint32_t legacyLayout,
                                                    uint32_t createHintTracks) {
  auto w = std::make_unique<MP4FileWriter>();
  w->SetSpoolBaseName(std::move(spoolBaseName));
  w->SetSpoolTag(std::move(spoolTag));
  w->Open(presentationKind, videoHintMode, legacyLayout, createHintTracks);
  return w;
}

MP4FileWriter::~MP4FileWriter() = default;

void MP4FileWriter::Open(uint32_t presentationKind, uint32_t videoHintMode, uint32_t legacyLayout,
                         uint32_t createHintTracks) {
  presentationKind_ = presentationKind;
  videoHintMode_ = videoHintMode;
  legacyLayout_ = legacyLayout;
  createHintTracks_ = createHintTracks;
  modifiable_ = firstVideoPending_ = scalableSwitchPending_ = true;
  renderFailed_ = rendered_ = false;

  udta_ = std::make_unique<UserDataAtom>();
  if (!legacyLayout_) ftyp_ = std::make_unique<FileTypeAtom>();
  krmm_ = (krmmOwned_ = std::make_unique<KRUserDataAtom>()).get();
  dnld_ = (dnldOwned_ = std::make_unique<DownloadAtom>()).get();
  cver_ = (cverOwned_ = std::make_unique<ContentVersionAtom>()).get();
  rand_ = (randOwned_ = std::make_unique<RandomAccessAtom>()).get();
  rqmt_ = (rqmtOwned_ = std::make_unique<RequirementsAtom>()).get();
  krti_ = (krtiOwned_ = std::make_unique<TrackInfoAtom>()).get();
  for (Atom* a : std::initializer_list<Atom*>{krmm_, dnld_, cver_, rand_, rqmt_, krti_})
    a->setParent(udta_.get());

  moov_ = std::make_unique<MovieAtom>(legacyLayout_);
  MovieHeaderAtom* mvhd = moov_->mvhd();
  uint32_t sceneId = mvhd->GetNextTrackID();
  scene_ = moov_->addTrack(std::make_unique<TrackAtom>(fourcc("sdsm"), sceneId, 0, legacyLayout_));
  uint32_t odId = mvhd->GetNextTrackID();
  od_ = moov_->addTrack(std::make_unique<TrackAtom>(fourcc("odsm"), odId, 0, legacyLayout_));
  scene_->mdia()->mdhd()->setTimeScale(1000);
  od_->mdia()->mdhd()->setTimeScale(1000);
  InitialObjectDescriptor* iod = moov_->iods()->descriptor();
  iod->AddDescriptor(std::make_unique<ESIDIncDescriptor>(sceneId));
  iod->AddDescriptor(std::make_unique<ESIDIncDescriptor>(odId));
  odUpdate_ = std::make_unique<ObjectDescriptorUpdate>();

  mdats_.push_back(
      std::make_unique<MediaDataAtom>(spoolBaseName_, spoolTag_, MediaDataAtom::kSpooled));
  mdats_.back()->setTrack(scene_);
  mdats_.push_back(
      std::make_unique<MediaDataAtom>(spoolBaseName_, spoolTag_, MediaDataAtom::kInMemory));
  mdats_.back()->setTrack(od_);

  const std::vector<uint8_t>* scene = nullptr;
  bool video = presentationKind == 1 || presentationKind == 3 || presentationKind == 5;
  bool audio = presentationKind >= 2 && presentationKind <= 5;
  if (video) videoOD_ = std::make_unique<ObjectDescriptor>();
  if (audio) audioOD_ = std::make_unique<ObjectDescriptor>();
  if (video && audio) {
    scene = &kSceneBoth;
  } else if (video) {
    scene = &kSceneVideo;
  } else if (audio) {
    scene = &kSceneAudio;
  }
  if (scene) {
    uint32_t n = mdats_[0]->writeSample(scene->data(), static_cast<uint32_t>(scene->size()));
    if (n) scene_->addSample(fourcc("sdsm"), scene->data(), n, 0, 0);
  }
  const uint8_t sceneConfig[2] = {0x20, 0x20};
  SetSceneDecoderConfig(sceneConfig, 2);
}

uint64_t MP4FileWriter::computeTotalSize() const {
  uint64_t n = moov_->size();
  for (const auto& m : mdats_) n += m->size();
  if (ftyp_) n += ftyp_->size();
  n += udta_->size();
  for (const Atom* a : std::initializer_list<const Atom*>{krmmOwned_.get(), krtiOwned_.get(),
                                                          dnldOwned_.get(), cverOwned_.get(),
                                                          randOwned_.get(), rqmtOwned_.get()}) {
    if (a) n += a->size();
  }
  return n;
}

std::u16string MP4FileWriter::krmmText(int n) const { return krmm_->string(n); }

void MP4FileWriter::setSessionValue(int n, uint32_t v) {
  moov_->setSessionValue(n, v);
  SessionInfoAtom* krsi = krti_->session();
  (n == 1 ? krsi->value1 : n == 2 ? krsi->value2 : krsi->value3) = v;
}

MediaInfoAtom* MP4FileWriter::mediaInfo(uint32_t track) const {
  return krti_->session()->FindMediaInfo(track);
}

MediaDataAtom* MP4FileWriter::mediaDataFor(const TrackAtom* t) const {
  for (const auto& m : mdats_) {
    if (t && m->track() == t) return m.get();
  }
  return nullptr;
}

void MP4FileWriter::SetMovieTimeScale(uint32_t scale) { moov_->setMovieTimeScale(scale); }

void MP4FileWriter::legacyAdd(const char* what) {
  if (!modifiable_) {
    error("Cannot add more data to file");
    return;
  }
  std::cerr << "ERROR: Wrong file type created - no " << what << " MediaAtom present" << std::endl;
}

void MP4FileWriter::AddLayeredVideoSample(const uint8_t*, uint32_t, uint32_t, uint32_t, uint32_t) {
  legacyAdd("video");
}

void MP4FileWriter::AddAudioPacket(const uint8_t*, uint32_t, uint32_t, uint32_t, uint32_t) {
  legacyAdd("audio");
}

void MP4FileWriter::AddVideoSample(const uint8_t*, uint32_t, uint32_t, uint32_t) {
  legacyAdd("video");
}

void MP4FileWriter::SetSceneDecoderConfig(const uint8_t* data, uint32_t size) {
  sceneConfig_.assign(reinterpret_cast<const char*>(data), data ? size : 0);
  scene_->mdia()->stbl()->stsd()->addDecoderSpecificInfo(
      std::make_unique<DecoderSpecificInfo>(data, data ? size : 0));
}

void MP4FileWriter::SetDecoderConfig(const uint8_t* data, uint32_t size, uint32_t track) {
  TrackAtom* t = moov_->getTrackById(track);
  if (!t || !data) return;
  // A descriptor's size field holds 28 bits; configurations are tiny.
  if (size > kMaxDecoderConfig) {
    error("Decoder configuration too large, ignored");
    return;
  }
  t->mdia()->stbl()->stsd()->addDecoderSpecificInfo(std::make_unique<DecoderSpecificInfo>(data, size));
  // The profile byte is read only from a configuration that holds it.
  if (t->handler() == fourcc("vide") && size > 5)
    moov_->iods()->descriptor()->setVisualProfileLevel(data[5]);
  if (MediaInfoAtom* info = mediaInfo(track)) info->setConfig(data, size);
}

MediaDataAtom* MP4FileWriter::registerMediaData() {
  mdats_.push_back(
      std::make_unique<MediaDataAtom>(spoolBaseName_, spoolTag_, MediaDataAtom::kSpooled));
  return mdats_.back().get();
}

void MP4FileWriter::addHintTrack(TrackAtom* media, uint32_t kind, uint32_t subKind) {
  auto hint = std::make_unique<TrackAtom>(fourcc("hint"), moov_->mvhd()->GetNextTrackID(), kind,
                                          subKind);
  hint->addReference(media->trackId());
  moov_->addTrack(std::move(hint));
}

uint32_t MP4FileWriter::AddTrack(uint32_t handler, uint32_t kind) {
  if (!modifiable_) {
    // The file is written: nothing more joins it.
    error("Not allowed to modify file");
    return 0;
  }
  MediaDataAtom* mdat = registerMediaData();
  bool audio = handler == fourcc("soun");
  if (!audio && handler != fourcc("vide")) return 0;

  auto track = std::make_unique<TrackAtom>(handler, moov_->mvhd()->GetNextTrackID(), kind,
                                           legacyLayout_);
  TrackAtom* t = moov_->addTrack(std::move(track));
  mdat->setTrack(t);
  t->mdia()->stbl()->setMediaFile(mdat->spoolName(), 8);
  uint32_t position = od_->addReference(t->trackId());
  if (ObjectDescriptor* od = audio ? audioOD_.get() : videoOD_.get())
    od->AddDescriptor(std::make_unique<ESIDRefDescriptor>(static_cast<uint16_t>(position)));

  bool hints = createHintTracks_ && downloadValue_ == 0;
  std::unique_ptr<MediaInfoAtom> info;
  if (audio) {
    if (hints) addHintTrack(t, kind, fourcc("krau"));
    info = std::make_unique<AudioMediaInfoAtom>(t->trackId(), kind);
    if (kind >= 1 && kind <= 3) info->setKindFlags(0, 0, 1);
  } else {
    bool first = firstVideoPending_;
    firstVideoPending_ = videoHintMode_ == 1 ? false : firstVideoPending_;
    if (hints && videoHintMode_ == 1 && first) addHintTrack(t, kind, fourcc("krts"));
    if (hints && videoHintMode_ == 0) addHintTrack(t, kind, fourcc("krbl"));
    info = std::make_unique<VideoMediaInfoAtom>(t->trackId(), kind);
    if (kind == 1) info->setKindFlags(1, 0, 1);
    if (kind == 2) info->setKindFlags(0, 10, 1);
    if (kind == 3) info->setKindFlags(0, 0, 1);
  }
  krti_->session()->AddMediaInfo(std::move(info));
  return t->trackId();
}

bool MP4FileWriter::writeAndAdd(TrackAtom* t, const uint8_t* data, uint32_t size,
                                uint32_t timestamp, uint32_t flag) {
  MediaDataAtom* mdat = mediaDataFor(t);
  if (!mdat) return false;
  // Chunk offsets and atom sizes are 32 bits: refuse what would pass them.
  if (computeTotalSize() + size + kSizeReserve > std::numeric_limits<uint32_t>::max()) {
    error("File size limit of 4 GiB reached, sample dropped");
    return false;
  }
  bool failedBefore = mdat->writeFailed();
  uint32_t written = mdat->writeSample(data, size);
  // Only what reached the spool is indexed, so the tables match the data.
  if (written > 0 || (size == 0 && !failedBefore)) moov_->addSample(t->trackId(), data, written, timestamp, flag);
  return written == size && !mdat->writeFailed();
}

bool MP4FileWriter::AddSample(uint32_t track, const uint8_t* data, uint32_t size,
                              uint32_t timestamp, uint32_t flag) {
  TrackAtom* t = moov_->getTrackById(track);
  if (!t) {
    std::cerr << "ERROR: MediaTrack" << track << "not found" << std::endl;
    return true;
  }
  if (!data && size) return false;
  uint32_t scale = t->mdia()->mdhd()->timeScale();
  krti_->session()->UpdateDuration(timestamp, scale);
  if (MediaInfoAtom* info = mediaInfo(track)) info->UpdateDuration(timestamp, scale);

  if (t->handler() == fourcc("vide")) {
    if (t->kind() == 2 && scalableSwitchPending_) {
      scalableSwitchPending_ = false;
      if (SampleEntry* e = t->mdia()->stbl()->stsd()->entry(0)) {
        if (DecoderConfigDescriptor* dc = e->decoderConfig()) dc->removeDecoderSpecificInfos();
      }
    }
    if (!modifiable_) {
      error("Cannot add more data to file");
      return true;
    }
    return writeAndAdd(t, data, size, timestamp, flag);
  }
  if (t->handler() != fourcc("soun")) return true;
  if (!modifiable_) {
    error("Cannot add more data to file");
    return true;
  }
  if (size == 0) return true;
  switch (t->kind()) {
    case 1: {
      uint32_t type = flag & 0x0F;
      if (type >= std::size(kAmrLastByteMask)) return writeAndAdd(t, data, size, timestamp, flag);
      std::vector<uint8_t> frame(data, data + size);
      frame.back() &= kAmrLastByteMask[type];
      return writeAndAdd(t, frame.data(), size, timestamp, flag);
    }
    case 2: return writeAndAdd(t, data, size, timestamp, flag);
    case 3: return writeAndAdd(t, data, size, timestamp, 0);
    default: return true;
  }
}

void MP4FileWriter::AddTrackDependency(uint32_t track, uint32_t referencedTrack) {
  TrackAtom* t = moov_->getTrackById(track);
  if (!t) return;
  t->addReference(referencedTrack);
  if (createHintTracks_) {
    if (TrackAtom* hint = moov_->getHintTrackFor(referencedTrack)) hint->addReference(track);
  }
  if (MediaInfoAtom* info = mediaInfo(track)) info->setDependsOn(referencedTrack);
}

void MP4FileWriter::SetBitrate(uint32_t track, uint32_t bitsPerSecond) {
  TrackAtom* t = moov_->getTrackById(track);
  if (!t) return;
  t->mdia()->stbl()->stsd()->setBitrate(bitsPerSecond);
  if (MediaInfoAtom* info = mediaInfo(track)) info->setBitrate(bitsPerSecond);
}

void MP4FileWriter::SetMediaTimeScale(uint32_t track, uint32_t scale) {
  TrackAtom* t = moov_->getTrackById(track);
  if (!t) return;
  t->mdia()->mdhd()->setTimeScale(scale);
  if (MediaInfoAtom* info = mediaInfo(track)) info->setTimeScale(scale);
}

void MP4FileWriter::SetDecoderBufferSize(uint32_t track, uint32_t bytes) {
  if (TrackAtom* t = moov_->getTrackById(track)) t->mdia()->stbl()->stsd()->setBufferSize(bytes);
}

void MP4FileWriter::SetMajorBrand(uint32_t brand) {
  if (ftyp_) ftyp_->SetMajorBrand(brand);
}

void MP4FileWriter::SetMinorVersion(uint32_t version) {
  if (ftyp_) ftyp_->SetMinorVersion(version);
}

void MP4FileWriter::AddCompatibleBrand(uint32_t brand) {
  if (ftyp_) ftyp_->AddCompatibleBrand(brand);
}

void MP4FileWriter::SetTrackWmfmValue(uint32_t track, uint32_t value) {
  if (MediaInfoAtom* info = mediaInfo(track)) info->setWmfmValue(static_cast<uint8_t>(value));
}

void MP4FileWriter::SetTrackRandomAccess(uint32_t track, uint8_t value) {
  TrackAtom* t = moov_->getTrackById(track);
  if (t && t->randomAccess()) t->randomAccess()->setValue(value);
  if (MediaInfoAtom* info = mediaInfo(track)) info->setRandomAccess(value);
}

void MP4FileWriter::SetDownload(uint32_t value) {
  downloadValue_ = value;
  dnld_->setValue(static_cast<uint8_t>(value));
}

void MP4FileWriter::SetTrackVersion(uint32_t track, uint8_t major, uint8_t minor) {
  TrackAtom* t = moov_->getTrackById(track);
  if (t && t->contentVersion()) t->contentVersion()->SetVersion(major, minor);
  if (MediaInfoAtom* info = mediaInfo(track)) info->setContentVersion(major * 256u + minor);
}

void MP4FileWriter::SetVideoParameters(uint32_t track, float frameRate, uint16_t value16,
                                       uint32_t valueA, uint32_t valueB) {
  // 8.8 fixed point with the fraction in hundredths; out-of-range rates clamp.
  double rate = std::isfinite(frameRate) ? std::clamp<double>(frameRate, 0.0, 255.99) : 0.0;
  uint32_t whole = static_cast<uint32_t>(rate);
  uint32_t hundredths = std::min<uint32_t>(static_cast<uint32_t>((rate - whole) * 100 + 0.5), 99);
  uint16_t fixed = static_cast<uint16_t>(whole << 8 | hundredths);
  TrackAtom* t = moov_->getTrackById(track);
  if (t && t->videoInformation()) t->videoInformation()->setValues(fixed, value16);
  if (MediaInfoAtom* info = mediaInfo(track)) info->setParameters(valueA, valueB, fixed, value16);
}

bool MP4FileWriter::Render(std::ostream& out) {
  if (rendered_) {
    error("File already written");
    return false;
  }
  rendered_ = true;
  modifiable_ = false;

  for (auto* od : {&videoOD_, &audioOD_}) {
    if (*od) odUpdate_->AddObjectDescriptor(std::move(*od));
  }
  uint32_t odSize = odUpdate_->totalSize();
  mdats_[1]->addDescriptorSample(std::move(odUpdate_));
  od_->addSample(fourcc("odsm"), nullptr, odSize, 0, 0);

  for (const auto& m : mdats_) {
    MediaInfoAtom* info = m->track() ? mediaInfo(m->track()->trackId()) : nullptr;
    if (info) info->setBufferSize(m->track()->mdia()->stbl()->stsd()->bufferSize());
  }
  if (ftyp_) ftyp_->render(out);
  udta_->AddAtom(std::move(krmmOwned_));
  udta_->AddAtom(std::move(krtiOwned_));
  udta_->AddAtom(std::move(dnldOwned_));
  udta_->AddAtom(std::move(cverOwned_));
  udta_->AddAtom(std::move(randOwned_));
  udta_->AddAtom(std::move(rqmtOwned_));
  udta_->render(out);

  for (const auto& m : mdats_) {
    m->render(out);
    if (m->copyFailed()) {
      renderFailed_ = true;
      break;
    }
    if (m->payloadOffset() != 0 && m->track())
      m->track()->mdia()->stbl()->stco()->applyBase(m->payloadOffset());
  }
  if (!renderFailed_) {
    for (const auto& m : mdats_) {
      MediaInfoAtom* info = m->track() ? mediaInfo(m->track()->trackId()) : nullptr;
      if (info) info->PatchFirstValue(out, m->payloadOffset());
    }
    moov_->finishBeforeRender();
    moov_->render(out);
    moov_->patchMediaInfo(out, *krti_->session());
  }
  MediaDataAtom::resetSpoolCounter();
  out.flush();
  return !renderFailed_ && !out.fail();
}

bool MP4FileWriter::WriteToFile(std::u16string fileName) {
  modifiable_ = false;
  if (rendered_) {
    error("File already written");
    return false;
  }
  std::FILE* f = platform::openFile(fileName, "wb");
  if (!f) return false;
  FileOutBuf buf(f);
  bool ok;
  {
    std::ostream out(&buf);
    ok = Render(out);
  }
  ok = buf.close() && ok;
  // A file that did not come out whole is not left looking like a recording.
  if (!ok) platform::deleteFile(fileName);
  return ok;
}

}  // namespace fileformat
