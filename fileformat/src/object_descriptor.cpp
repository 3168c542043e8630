#include "fileformat/object_descriptor.h"

#include <atomic>

#include "fileformat/render.h"

namespace fileformat {

namespace {
std::atomic<uint32_t> gNextObjectDescriptorId{1};
}  // namespace

uint16_t ObjectDescriptor::nextId() {
  for (;;) {
    uint16_t id = static_cast<uint16_t>(gNextObjectDescriptorId.fetch_add(1));
    if (id % 1024 != 0) return id;
  }
}

ESIDIncDescriptor::ESIDIncDescriptor(uint32_t trackId) : BaseDescriptor(0x0E), trackId_(trackId) {
  recomputeSize();
}

void ESIDIncDescriptor::renderPayload(std::ostream& out) const { writeU32(out, trackId_); }

ESIDRefDescriptor::ESIDRefDescriptor(uint16_t refIndex) : BaseDescriptor(0x0F), refIndex_(refIndex) {
  recomputeSize();
}

void ESIDRefDescriptor::renderPayload(std::ostream& out) const { writeU16(out, refIndex_); }

ObjectDescriptor::ObjectDescriptor() : ObjectDescriptor(0x11) {}

ObjectDescriptor::ObjectDescriptor(uint8_t tag) : BaseDescriptor(tag), id_(nextId()) {
  recomputeSize();
}

void ObjectDescriptor::AddDescriptor(std::unique_ptr<ESIDRefDescriptor> d) {
  refs_.add(std::move(d), this);
  recomputeSize();
}

uint16_t ObjectDescriptor::firstWord() const {
  return static_cast<uint16_t>(((id_ % 1024) << 6) | (urlFlag_ ? 0x20 : 0) | 0x1F);
}

uint32_t ObjectDescriptor::computePayloadSize() const {
  if (urlFlag_) return 3 + static_cast<uint32_t>(url_.size());
  return 2 + refs_.totalSize();
}

void ObjectDescriptor::renderPayload(std::ostream& out) const {
  writeU16(out, firstWord());
  if (urlFlag_) {
    writeU8(out, static_cast<uint32_t>(url_.size()));
    writeString(out, url_);
  } else {
    refs_.render(out);
  }
}

void ObjectDescriptor::dump(std::ostream& out) const {
  out << "      ObjectDescriptor: " << std::endl << "      {" << std::endl;
  out << "        - Tag: ";
  writeHexByte(out, tag());
  out << std::endl << "        - Size: " << payloadSize() << std::endl;
  out << "        - URLFlag: " << unsigned(urlFlag_) << std::endl;
  out << "        - URLLength: " << url_.size() << std::endl;
  out << "      }" << std::endl;
}

InitialObjectDescriptor::InitialObjectDescriptor() : ObjectDescriptor(0x10) {
  reserved_ = 0x0F;
  recomputeSize();
}

void InitialObjectDescriptor::AddDescriptor(std::unique_ptr<ESIDIncDescriptor> d) {
  incs_.add(std::move(d), this);
  recomputeSize();
}

uint16_t InitialObjectDescriptor::firstWord() const {
  // The file's one initial object descriptor always carries identifier 1.
  uint16_t id = id_ ? 1 : 0;
  return static_cast<uint16_t>((id << 6) | (urlFlag_ ? 0x20 : 0) | (includeInline_ ? 0x10 : 0) |
                               (reserved_ & 0x0F));
}

uint32_t InitialObjectDescriptor::computePayloadSize() const {
  if (urlFlag_) return 3 + static_cast<uint32_t>(url_.size());
  return 7 + incs_.totalSize();
}

void InitialObjectDescriptor::renderPayload(std::ostream& out) const {
  writeU16(out, firstWord());
  if (urlFlag_) {
    writeU8(out, static_cast<uint32_t>(url_.size()));
    writeString(out, url_);
    return;
  }
  for (uint8_t p : {odProfile_, sceneProfile_, audioProfile_, visualProfile_, graphicsProfile_})
    writeU8(out, p);
  incs_.render(out);
}

ObjectDescriptorUpdate::ObjectDescriptorUpdate() : BaseCommand(0x01) { recomputeSize(); }

void ObjectDescriptorUpdate::AddObjectDescriptor(std::unique_ptr<ObjectDescriptor> od) {
  ++count_;
  ods_.add(std::move(od), this);
  recomputeSize();
}

void ObjectDescriptorUpdate::dump(std::ostream& out) const {
  out << "    ObjectDescriptorUpdate: " << std::endl << "    {" << std::endl;
  out << "       - Tag: ";
  writeHexByte(out, tag());
  out << std::endl << "       - Size: " << payloadSize() << std::endl;
  for (size_t i = 0; i < ods_.count(); ++i) ods_.at(i)->dump(out);
  out << "    }" << std::endl;
}

}  // namespace fileformat
