// moov: movie header, iods, the user data with wmfs, and the tracks sorted
// into roles: media, hint, scene and OD. Routes each sample to its track and
// to the hint track that mirrors it.
#pragma once

#include <memory>
#include <vector>

#include "fileformat/maker_media_atoms.h"
#include "fileformat/movie_header_atom.h"
#include "fileformat/track_atom.h"
#include "fileformat/user_data_atom.h"

namespace fileformat {

class SessionInfoAtom;

class MovieAtom : public Atom {
 public:
  explicit MovieAtom(uint32_t legacyLayout);

  void setMovieTimeScale(uint32_t scale);
  // Takes the track; returns it (kept by a role list or, for a hint track of
  // no known media track, by nobody's list: it is then not written).
  TrackAtom* addTrack(std::unique_ptr<TrackAtom> track);
  TrackAtom* getTrackById(uint32_t id) const;
  TrackAtom* getHintTrackFor(uint32_t id) const;
  int64_t getTrackKind(uint32_t id) const;
  uint32_t getDecoderBufferSize(uint32_t id) const;
  // Writes "ERROR: MediaTrack<id>not found" for an unknown id.
  void addSample(uint32_t id, const uint8_t* data, uint32_t size, uint32_t timestamp, uint32_t flag);
  void setSessionValues(uint32_t v1, uint32_t v2, uint32_t v3);
  void setSessionValue(int n, uint32_t v);

  // Finishes the tracks, then renders; collects each hint track's value.
  void finishBeforeRender();
  // After rendering: each media track's krmi gets the value of the hint
  // track that references it.
  void patchMediaInfo(std::ostream& out, const SessionInfoAtom& krsi) const;

  MovieHeaderAtom* mvhd() const { return mvhd_.get(); }
  ObjectDescriptorAtom* iods() const { return iods_.get(); }
  UserDataAtom* udta() const { return udta_.get(); }
  WMFSessionAtom* wmfs() const { return wmfs_; }
  TrackAtom* sceneTrack() const { return scene_; }
  TrackAtom* odTrack() const { return od_; }
  const std::vector<TrackAtom*>& mediaTracks() const { return media_; }
  const std::vector<TrackAtom*>& hintTracks() const { return hints_; }
  uint32_t mediaPresence() const { return mediaPresence_; }
  int32_t videoTrackCount() const { return videoTrackCount_; }

  size_t childCount() const override;
  const Atom* child(size_t i) const override;

 protected:
  uint64_t bodySize() const override;
  void renderBody(std::ostream& out) const override;

 private:
  std::vector<const Atom*> parts() const;

  uint32_t legacyLayout_;
  std::unique_ptr<MovieHeaderAtom> mvhd_;
  std::unique_ptr<ObjectDescriptorAtom> iods_;
  std::unique_ptr<UserDataAtom> udta_;
  WMFSessionAtom* wmfs_ = nullptr;
  std::vector<std::unique_ptr<TrackAtom>> owned_;
  TrackAtom* scene_ = nullptr;
  TrackAtom* od_ = nullptr;
  std::vector<TrackAtom*> media_;
  std::vector<TrackAtom*> hints_;
  std::vector<TrackAtom*> others_;  // kept, never sized nor written
  int32_t videoTrackCount_ = -1;
  uint32_t mediaPresence_ = 0;
  mutable std::vector<uint32_t> hintValues_;
};

}  // namespace fileformat
