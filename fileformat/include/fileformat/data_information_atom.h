// dinf with its dref and the single 'url ' entry: the media is in this file.
#pragma once

#include <string>

#include "fileformat/atom.h"

namespace fileformat {

class DataEntryAtom : public FullAtom {
 public:
  DataEntryAtom(uint32_t type, uint32_t flags, std::string location)
      : FullAtom(type, 0, flags), location_(std::move(location)) {}
  const std::string& location() const { return location_; }

 protected:
  std::string location_;
};

class DataEntryUrlAtom : public DataEntryAtom {
 public:
  explicit DataEntryUrlAtom(uint32_t flags, std::string location = {});

 protected:
  // Flags 1 means "in this file": no location is written.
  uint64_t bodySize() const override { return flags() == 1 ? 0 : location_.size() + 1; }
  void renderBody(std::ostream& out) const override;
};

class DataReferenceAtom : public ContainerOf<FullAtom> {
 public:
  DataReferenceAtom();
  void AddEntry(std::unique_ptr<DataEntryAtom> entry);
  uint32_t entryCount() const { return static_cast<uint32_t>(childCount()); }

 protected:
  uint64_t fieldsSize() const override { return 4; }
  void renderFields(std::ostream& out) const override;
};

class DataInformationAtom : public ContainerAtom {
 public:
  DataInformationAtom();
  DataReferenceAtom* dref() const { return dref_; }

 private:
  DataReferenceAtom* dref_;
};

}  // namespace fileformat
