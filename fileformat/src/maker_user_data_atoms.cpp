#include "fileformat/maker_user_data_atoms.h"

#include <algorithm>

#include "fileformat/render.h"

namespace fileformat {

KRUserDataAtom::KRUserDataAtom() : Atom(fourcc("krmm")) {
  strings_[0] = kDefaultVersionText;
  recomputeSize();
}

const std::u16string& KRUserDataAtom::string(int n) const {
  static const std::u16string kEmpty;
  return n >= 1 && n <= 7 ? strings_[n - 1] : kEmpty;
}

void KRUserDataAtom::setString(size_t index, std::u16string s) {
  if (index >= strings_.size()) return;
  strings_[index] = std::move(s);
  recomputeSize();
}

uint64_t KRUserDataAtom::bodySize() const {
  uint64_t n = 0;
  for (const auto& s : strings_) n += 2 * uint64_t(s.size()) + 2;
  return n;
}

void KRUserDataAtom::renderBody(std::ostream& out) const {
  for (const auto& s : strings_) writeWideStringZ(out, s);
}

ContentVersionAtom::ContentVersionAtom() : FullAtom(fourcc("cver"), 0, 0) { recomputeSize(); }

void ContentVersionAtom::renderBody(std::ostream& out) const {
  writeU16(out, version_);
  writeU16(out, 0);
}

RandomAccessAtom::RandomAccessAtom() : FullAtom(fourcc("rand"), 0, 0) { recomputeSize(); }

void RandomAccessAtom::renderBody(std::ostream& out) const {
  writeU8(out, value_);
  writeU24(out, 0);
}

DownloadAtom::DownloadAtom() : Atom(fourcc("dnld")) { recomputeSize(); }

void DownloadAtom::renderBody(std::ostream& out) const {
  writeU8(out, value_);
  writeU24(out, 0);
  writeU32(out, extra_);
}

RequirementsAtom::RequirementsAtom() : FullAtom(fourcc("rqmt"), 0, 0) { recomputeSize(); }

void RequirementsAtom::renderBody(std::ostream& out) const {
  writeU8(out, req1_);
  writeU8(out, req2_);
  writeU16(out, 0);
}

MediaInfoAtom::MediaInfoAtom(uint32_t kindFourcc, uint32_t trackId, uint32_t trackKind, bool video)
    : FullAtom(fourcc("krmi"), 0, 0),
      mediaKind_(kindFourcc),
      trackKind_(trackKind),
      flagA_(trackKind == 1 ? 1 : 0),
      flagB_(trackKind == 2 ? 10 : 0),
      trackId_(trackId),
      contentVersion_(trackKind >= 1 && trackKind <= 3 ? 1 : 0),
      video_(video) {
  recomputeSize();
}

VideoMediaInfoAtom::VideoMediaInfoAtom(uint32_t trackId, uint32_t trackKind)
    : MediaInfoAtom(fourcc("vide"), trackId, trackKind, true) {}

AudioMediaInfoAtom::AudioMediaInfoAtom(uint32_t trackId, uint32_t trackKind)
    : MediaInfoAtom(fourcc("soun"), trackId, trackKind, false) {}

void MediaInfoAtom::setKindFlags(uint32_t a, uint32_t b, uint32_t version) {
  flagA_ = a;
  flagB_ = b;
  contentVersion_ = version;
}

void MediaInfoAtom::setConfig(const uint8_t* data, uint32_t size) {
  config_.assign(data, data + (data ? size : 0));
  recomputeSize();
}

void MediaInfoAtom::setParameters(uint32_t a, uint32_t b, uint32_t fixedRate, uint32_t value16) {
  paramA_ = a;
  paramB_ = b;
  fixedRate_ = fixedRate;
  value16_ = value16;
}

void MediaInfoAtom::UpdateDuration(uint32_t timestamp, uint32_t timeScale) {
  if (timeScale == 0) return;
  uint32_t ms = unitsToMs(timestamp, timeScale);
  lastIncrement_ = ms - lastValue_;
  duration_ = ms;
  lastValue_ = ms;
}

uint32_t MediaInfoAtom::saturatingDuration() const {
  // A stamp that went back shortens the duration; it never wraps.
  int64_t d = int64_t(duration_) + int32_t(lastIncrement_);
  return static_cast<uint32_t>(std::clamp<int64_t>(d, 0, 0xFFFFFFFF));
}

uint64_t MediaInfoAtom::bodySize() const { return (video_ ? 80 : 76) + uint64_t(config_.size()); }

void MediaInfoAtom::renderBody(std::ostream& out) const {
  writeU32(out, mediaKind_);
  firstPos_ = out.fail() ? -1 : std::streamoff(out.tellp());
  writeU32(out, 0);
  secondPos_ = out.fail() ? -1 : std::streamoff(out.tellp());
  writeU32(out, 0);
  writeU32(out, trackKind_);
  writeU32(out, flagA_);
  writeU32(out, flagB_);
  writeU32(out, bitrate_);
  writeU32(out, timeScale_);
  writeU32(out, trackId_);
  writeU32(out, saturatingDuration());
  writeU32(out, wmfmValue_);
  writeU32(out, randomAccess_);
  writeU32(out, contentVersion_);
  writeU32(out, bufferSize_);
  writeU32(out, static_cast<uint32_t>(config_.size()));
  writeBytes(out, config_.size(), config_.data());
  writeU32(out, paramA_);
  writeU32(out, paramB_);
  writeU32(out, fixedRate_);
  writeU32(out, value16_);
  if (video_) writeU32(out, dependsOn_);
}

void MediaInfoAtom::patch(std::ostream& out, std::streamoff at, uint32_t v) {
  if (out.fail() || at < 0) return;
  std::streampos here = out.tellp();
  out.seekp(at);
  writeU32(out, v);
  out.seekp(here);
}

SessionInfoAtom::SessionInfoAtom() : ContainerOf<FullAtom>(fourcc("krsi"), 0, 0) {
  recomputeSize();
}

void SessionInfoAtom::AddMediaInfo(std::unique_ptr<MediaInfoAtom> info) {
  trackIds_.push_back(info->trackId());
  adopt(std::move(info));
}

MediaInfoAtom* SessionInfoAtom::FindMediaInfo(uint32_t trackId) const {
  for (size_t i = 0; i < trackIds_.size(); ++i) {
    if (trackIds_[i] == trackId) return static_cast<MediaInfoAtom*>(const_cast<Atom*>(child(i)));
  }
  return nullptr;
}

void SessionInfoAtom::UpdateDuration(uint32_t timestamp, uint32_t timeScale) {
  if (timeScale == 0) return;
  uint32_t ms = unitsToMs(timestamp, timeScale);
  if (ms <= duration_) return;
  lastIncrement_ = ms - lastValue_;
  duration_ = ms;
  lastValue_ = ms;
}

uint32_t SessionInfoAtom::writtenDuration() const { return saturatingAdd(duration_, lastIncrement_); }

void SessionInfoAtom::renderFields(std::ostream& out) const {
  writeU32(out, writtenDuration());
  writeU32(out, value1);
  writeU32(out, value2);
  writeU32(out, value3);
  writeU32(out, static_cast<uint32_t>(childCount()));
}

TrackInfoAtom::TrackInfoAtom() : ContainerAtom(fourcc("krti")) {
  recomputeSize();
  krsi_ = adopt(std::make_unique<SessionInfoAtom>());
}

}  // namespace fileformat
