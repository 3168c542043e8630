#include "fileformat/movie_atom.h"

#include <iostream>

#include "fileformat/maker_user_data_atoms.h"
#include "fileformat/render.h"

namespace fileformat {

MovieAtom::MovieAtom(uint32_t legacyLayout) : Atom(fourcc("moov")), legacyLayout_(legacyLayout) {
  mvhd_ = std::make_unique<MovieHeaderAtom>(0, 0);
  mvhd_->setParent(this);
  iods_ = std::make_unique<ObjectDescriptorAtom>(0, 0);
  iods_->setParent(this);
  if (!legacyLayout_) {
    udta_ = std::make_unique<UserDataAtom>();
    udta_->setParent(this);
    wmfs_ = udta_->AddAtom(std::make_unique<WMFSessionAtom>());
    wmfs_->value1 = wmfs_->value2 = 1;
  }
  setMovieTimeScale(1000);
  recomputeSize();
}

void MovieAtom::setMovieTimeScale(uint32_t scale) {
  mvhd_->setTimeScale(scale);
  for (TrackAtom* t : {scene_, od_}) {
    if (t) t->tkhd()->setMovieTimeScale(scale);
  }
}

TrackAtom* MovieAtom::addTrack(std::unique_ptr<TrackAtom> track) {
  TrackAtom* t = track.get();
  t->tkhd()->setMovieTimeScale(mvhd_->timeScale());
  uint32_t h = t->handler();
  if (h == fourcc("sdsm")) {
    scene_ = t;
  } else if (h == fourcc("odsm")) {
    od_ = t;
  } else if (h == fourcc("hint")) {
    if (getTrackById(t->firstReference())) hints_.push_back(t);
  } else if (h == fourcc("soun")) {
    mediaPresence_ |= 1;
    media_.push_back(t);
  } else if (h == fourcc("vide")) {
    ++videoTrackCount_;
    mediaPresence_ |= 2;
    media_.push_back(t);
  } else {
    others_.push_back(t);
  }
  owned_.push_back(std::move(track));
  t->setParent(this);
  recomputeSize();
  return t;
}

TrackAtom* MovieAtom::getTrackById(uint32_t id) const {
  for (TrackAtom* t : media_) {
    if (t->trackId() == id) return t;
  }
  return nullptr;
}

TrackAtom* MovieAtom::getHintTrackFor(uint32_t id) const {
  for (TrackAtom* t : hints_) {
    if (t->firstReference() == id) return t;
  }
  return nullptr;
}

int64_t MovieAtom::getTrackKind(uint32_t id) const {
  TrackAtom* t = getTrackById(id);
  return t ? int64_t(t->kind()) : -1;
}

uint32_t MovieAtom::getDecoderBufferSize(uint32_t id) const {
  TrackAtom* t = getTrackById(id);
  return t ? t->mdia()->stbl()->stsd()->bufferSize() : 0;
}

void MovieAtom::addSample(uint32_t id, const uint8_t* data, uint32_t size, uint32_t timestamp,
                          uint32_t flag) {
  TrackAtom* t = getTrackById(id);
  if (!t) {
    std::cerr << "ERROR: MediaTrack" << id << "not found" << std::endl;
    return;
  }
  uint32_t scale = t->mdia()->mdhd()->timeScale();
  if (scale != 0) mvhd_->UpdateDuration(unitsToMs(timestamp, scale));
  t->addSample(t->handler(), data, size, timestamp, flag);
  if (TrackAtom* hint = getHintTrackFor(id)) hint->addSample(t->handler(), data, size, timestamp, flag);
}

void MovieAtom::setSessionValue(int n, uint32_t v) {
  if (!wmfs_) return;
  if (n == 1) wmfs_->value1 = v;
  if (n == 2) wmfs_->value2 = v;
  if (n == 3) wmfs_->value3 = v;
}

void MovieAtom::setSessionValues(uint32_t v1, uint32_t v2, uint32_t v3) {
  setSessionValue(1, v1);
  setSessionValue(2, v2);
  setSessionValue(3, v3);
}

void MovieAtom::finishBeforeRender() {
  for (TrackAtom* t : media_) t->finishBeforeRender();
  recomputeSize();
}

std::vector<const Atom*> MovieAtom::parts() const {
  std::vector<const Atom*> p{mvhd_.get()};
  if (udta_) p.push_back(udta_.get());
  p.push_back(iods_.get());
  p.insert(p.end(), media_.begin(), media_.end());
  p.insert(p.end(), hints_.begin(), hints_.end());
  if (scene_) p.push_back(scene_);
  if (od_) p.push_back(od_);
  return p;
}

size_t MovieAtom::childCount() const { return parts().size(); }

const Atom* MovieAtom::child(size_t i) const {
  auto p = parts();
  return i < p.size() ? p[i] : nullptr;
}

uint64_t MovieAtom::bodySize() const {
  uint64_t n = uint64_t(mvhd_->size()) + iods_->size();
  if (udta_) n += udta_->size();
  for (const TrackAtom* t : media_) n += t->size();
  for (const TrackAtom* t : hints_) n += t->size();
  if (scene_) n += scene_->size();
  if (od_) n += od_->size();
  return n;
}

void MovieAtom::renderBody(std::ostream& out) const {
  hintValues_.clear();
  mvhd_->render(out);
  if (udta_) udta_->render(out);
  iods_->render(out);
  for (const TrackAtom* t : media_) t->render(out);
  for (const TrackAtom* t : hints_) {
    t->render(out);
    hintValues_.push_back(t->mdia()->stbl()->stsd()->hintRecordTablePosition());
  }
  if (scene_) scene_->render(out);
  if (od_) od_->render(out);
}

void MovieAtom::patchMediaInfo(std::ostream& out, const SessionInfoAtom& krsi) const {
  for (const TrackAtom* m : media_) {
    const MediaInfoAtom* info = krsi.FindMediaInfo(m->trackId());
    if (!info) continue;
    for (size_t h = 0; h < hints_.size() && h < hintValues_.size(); ++h) {
      const TrackReferenceTypeAtom* refs = hints_[h]->tref()->references();
      for (uint32_t i = 0; i < refs->count(); ++i) {
        if (refs->trackId(i) == m->trackId()) info->PatchSecondValue(out, hintValues_[h]);
      }
    }
  }
}

}  // namespace fileformat
