// trak: track header, media, optional edit list and references, and for media
// tracks a user-data atom (rand, cver, and vinf for video).
#pragma once

#include "fileformat/edit_atom.h"
#include "fileformat/maker_media_atoms.h"
#include "fileformat/maker_user_data_atoms.h"
#include "fileformat/media_atom.h"
#include "fileformat/track_header_atom.h"
#include "fileformat/track_reference_atom.h"
#include "fileformat/user_data_atom.h"

namespace fileformat {

class TrackAtom : public Atom {
 public:
  // fourth: the hint sub-kind ('krau', 'krbl', 'krts') for hint tracks, the
  // legacy-layout value for the others.
  TrackAtom(uint32_t handler, uint32_t trackId, uint32_t kind, uint32_t fourth);

  // Adds a reference ('dpnd' unless the track was made with another type);
  // returns the 1-based position of the id in the list.
  uint32_t addReference(uint32_t id);
  void addSample(uint32_t mediaType, const uint8_t* data, uint32_t size, uint32_t timestamp,
                 uint32_t flag);
  // Completes the edit list with the track duration.
  void finishBeforeRender();

  uint32_t handler() const { return handler_; }
  uint32_t kind() const { return kind_; }
  uint32_t trackId() const { return tkhd_->trackId(); }
  TrackHeaderAtom* tkhd() const { return tkhd_.get(); }
  MediaAtom* mdia() const { return mdia_.get(); }
  TrackReferenceAtom* tref() const { return tref_.get(); }
  EditAtom* edts() const { return edts_.get(); }
  UserDataAtom* udta() const { return udta_.get(); }
  RandomAccessAtom* randomAccess() const { return rand_; }
  ContentVersionAtom* contentVersion() const { return cver_; }
  VideoInformationAtom* videoInformation() const { return vinf_; }
  // The id the first reference names (0 when none).
  uint32_t firstReference() const;

  size_t childCount() const override;
  const Atom* child(size_t i) const override;

 protected:
  uint64_t bodySize() const override;
  void renderBody(std::ostream& out) const override;

 private:
  template <class T>
  T* own(std::unique_ptr<T>& slot, std::unique_ptr<T> atom) {
    slot = std::move(atom);
    slot->setParent(this);
    return slot.get();
  }
  std::vector<const Atom*> parts() const;

  uint32_t handler_;
  uint32_t kind_;
  std::unique_ptr<UserDataAtom> udta_;
  std::unique_ptr<TrackHeaderAtom> tkhd_;
  std::unique_ptr<EditAtom> edts_;
  std::unique_ptr<TrackReferenceAtom> tref_;
  std::unique_ptr<MediaAtom> mdia_;
  RandomAccessAtom* rand_ = nullptr;
  ContentVersionAtom* cver_ = nullptr;
  VideoInformationAtom* vinf_ = nullptr;
  bool firstSample_ = true;
  uint32_t editOffsetUnits_ = 0;
  bool finished_ = false;
};

}  // namespace fileformat
