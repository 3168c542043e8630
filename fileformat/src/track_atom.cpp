#include "fileformat/track_atom.h"

#include "fileformat/render.h"

namespace fileformat {

TrackAtom::TrackAtom(uint32_t handler, uint32_t trackId, uint32_t kind, uint32_t fourth)
    : Atom(fourcc("trak")), handler_(handler), kind_(kind) {
  bool media = handler == fourcc("soun") || handler == fourcc("vide");
  if (media) {
    own(udta_, std::make_unique<UserDataAtom>());
    rand_ = udta_->AddAtom(std::make_unique<RandomAccessAtom>());
    cver_ = udta_->AddAtom(std::make_unique<ContentVersionAtom>());
    if (handler == fourcc("vide")) vinf_ = udta_->AddAtom(std::make_unique<VideoInformationAtom>());
  }
  own(tkhd_, std::make_unique<TrackHeaderAtom>(handler, trackId, 0, 1));
  if (handler == fourcc("hint")) own(tref_, std::make_unique<TrackReferenceAtom>(fourcc("hint")));
  if (handler == fourcc("odsm")) own(tref_, std::make_unique<TrackReferenceAtom>(fourcc("mpod")));
  own(mdia_, std::make_unique<MediaAtom>(handler, kind, fourth));
  recomputeSize();
}

uint32_t TrackAtom::addReference(uint32_t id) {
  if (!tref_) {
    own(tref_, std::make_unique<TrackReferenceAtom>(fourcc("dpnd")));
    recomputeSize();
  }
  return tref_->references()->addTrackId(id);
}

uint32_t TrackAtom::firstReference() const { return tref_ ? tref_->references()->trackId(0) : 0; }

void TrackAtom::addSample(uint32_t mediaType, const uint8_t* data, uint32_t size,
                          uint32_t timestamp, uint32_t flag) {
  uint32_t scale = mdia_->mdhd()->timeScale();
  if (firstSample_ && handler_ != fourcc("hint")) {
    firstSample_ = false;
    if (timestamp != 0) {
      // The track starts late: an empty edit holds the place.
      own(edts_, std::make_unique<EditAtom>());
      editOffsetUnits_ = msToUnits(unitsToMs(timestamp, scale), tkhd_->movieTimeScale());
      edts_->addEmptyEdit(editOffsetUnits_);
    }
  }
  if (scale != 0) tkhd_->setDurationMs(unitsToMs(timestamp, scale));
  mdia_->addSample(mediaType, data, size, timestamp, flag);
}

void TrackAtom::finishBeforeRender() {
  if (edts_ && !finished_) {
    uint32_t total = tkhd_->writtenDuration();
    edts_->addEdit(total > editOffsetUnits_ ? total - editOffsetUnits_ : 0, 0, 1);
  }
  finished_ = true;
  recomputeSize();
}

std::vector<const Atom*> TrackAtom::parts() const {
  // The user data comes first, before the track header.
  std::vector<const Atom*> p;
  for (const Atom* a : {static_cast<const Atom*>(udta_.get()), static_cast<const Atom*>(tkhd_.get()),
                        static_cast<const Atom*>(edts_.get()), static_cast<const Atom*>(tref_.get()),
                        static_cast<const Atom*>(mdia_.get())}) {
    if (a) p.push_back(a);
  }
  return p;
}

size_t TrackAtom::childCount() const { return parts().size(); }

const Atom* TrackAtom::child(size_t i) const {
  auto p = parts();
  return i < p.size() ? p[i] : nullptr;
}

uint64_t TrackAtom::bodySize() const {
  // Runs for every sample: no list is built here.
  uint64_t n = 0;
  for (const Atom* a : {static_cast<const Atom*>(tkhd_.get()), static_cast<const Atom*>(mdia_.get()),
                        static_cast<const Atom*>(udta_.get())}) {
    if (a) n += a->size();  // parts are still being made while the track is built
  }
  if (edts_) n += edts_->size();
  if (tref_) n += tref_->size();
  return n;
}

void TrackAtom::renderBody(std::ostream& out) const {
  for (const Atom* a : parts()) a->render(out);
}

}  // namespace fileformat
