// Object descriptors: the initial object descriptor of the iods atom, the
// object descriptors of the OD stream and the update command that carries them.
#pragma once

#include <string>

#include "fileformat/descriptor.h"

namespace fileformat {

// ES_ID_Inc (tag 0x0E): a track of the initial object descriptor.
class ESIDIncDescriptor : public BaseDescriptor {
 public:
  explicit ESIDIncDescriptor(uint32_t trackId);
  uint32_t trackId() const { return trackId_; }

 protected:
  uint32_t computePayloadSize() const override { return 4; }
  void renderPayload(std::ostream& out) const override;

 private:
  uint32_t trackId_;
};

// ES_ID_Ref (tag 0x0F): the 1-based position of a track in the OD track's
// 'mpod' reference list.
class ESIDRefDescriptor : public BaseDescriptor {
 public:
  explicit ESIDRefDescriptor(uint16_t refIndex);
  uint16_t refIndex() const { return refIndex_; }

 protected:
  uint32_t computePayloadSize() const override { return 2; }
  void renderPayload(std::ostream& out) const override;

 private:
  uint16_t refIndex_;
};

class ObjectDescriptor : public BaseDescriptor {
 public:
  ObjectDescriptor();
  explicit ObjectDescriptor(uint8_t tag);
  void AddDescriptor(std::unique_ptr<ESIDRefDescriptor> d);
  uint16_t id() const { return id_; }
  void dump(std::ostream& out) const override;

  // Takes the next process-wide object descriptor identifier. The counter
  // continues across files but skips every value whose 10-bit field would
  // read 0, which ISO/IEC 14496-1 forbids.
  static uint16_t nextId();

 protected:
  uint32_t computePayloadSize() const override;
  void renderPayload(std::ostream& out) const override;
  // The 16-bit word that opens the payload.
  virtual uint16_t firstWord() const;

  uint16_t id_;
  uint8_t urlFlag_ = 0;
  uint8_t reserved_ = 0x1F;
  std::string url_;

 private:
  DescriptorList<ESIDRefDescriptor> refs_;
};

class InitialObjectDescriptor : public ObjectDescriptor {
 public:
  InitialObjectDescriptor();
  void AddDescriptor(std::unique_ptr<ESIDIncDescriptor> d);
  void setVisualProfileLevel(uint8_t v) { visualProfile_ = v; }
  uint8_t visualProfileLevel() const { return visualProfile_; }
  size_t trackCount() const { return incs_.count(); }
  const ESIDIncDescriptor* track(size_t i) const { return incs_.at(i); }

 protected:
  uint32_t computePayloadSize() const override;
  void renderPayload(std::ostream& out) const override;
  uint16_t firstWord() const override;

 private:
  uint8_t includeInline_ = 0;
  uint8_t odProfile_ = 0xFE, sceneProfile_ = 0xFE, audioProfile_ = 0xFE;
  uint8_t visualProfile_ = 0xFE, graphicsProfile_ = 0xFE;
  DescriptorList<ESIDIncDescriptor> incs_;
};

// ObjectDescriptorUpdate (tag 0x01): the one sample of the OD track.
class ObjectDescriptorUpdate : public BaseCommand {
 public:
  ObjectDescriptorUpdate();
  void AddObjectDescriptor(std::unique_ptr<ObjectDescriptor> od);
  uint32_t count() const { return count_; }
  const ObjectDescriptor* objectDescriptor(size_t i) const { return ods_.at(i); }
  void dump(std::ostream& out) const override;

 protected:
  uint32_t computePayloadSize() const override { return ods_.totalSize(); }
  void renderPayload(std::ostream& out) const override { ods_.render(out); }

 private:
  uint32_t count_ = 0;
  DescriptorList<ObjectDescriptor> ods_;
};

}  // namespace fileformat
