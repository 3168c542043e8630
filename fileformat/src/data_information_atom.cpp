#include "fileformat/data_information_atom.h"

#include "fileformat/render.h"

namespace fileformat {

DataEntryUrlAtom::DataEntryUrlAtom(uint32_t flags, std::string location)
    : DataEntryAtom(fourcc("url "), flags, std::move(location)) {
  recomputeSize();
}

void DataEntryUrlAtom::renderBody(std::ostream& out) const {
  if (flags() != 1) writeStringZ(out, location_);
}

DataReferenceAtom::DataReferenceAtom() : ContainerOf<FullAtom>(fourcc("dref"), 0, 0) {
  recomputeSize();
  AddEntry(std::make_unique<DataEntryUrlAtom>(1));
}

void DataReferenceAtom::AddEntry(std::unique_ptr<DataEntryAtom> entry) { adopt(std::move(entry)); }

void DataReferenceAtom::renderFields(std::ostream& out) const { writeU32(out, entryCount()); }

DataInformationAtom::DataInformationAtom() : ContainerAtom(fourcc("dinf")) {
  recomputeSize();
  dref_ = adopt(std::make_unique<DataReferenceAtom>());
}

}  // namespace fileformat
