#include "fileformat/media_data_atom.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <sstream>

#include "fileformat/render.h"
#include "platform/os.h"

namespace fileformat {

namespace {
std::atomic<uint32_t> gSpoolCounter{1};
constexpr uint32_t kHeader = 8;
}  // namespace

void MediaDataAtom::resetSpoolCounter() { gSpoolCounter = 1; }

MediaDataAtom::MediaDataAtom(std::u16string baseName, std::u16string tag, Mode mode)
    : Atom(fourcc("mdat")), spoolName_(std::move(baseName)), tag_(std::move(tag)), mode_(mode) {
  recomputeSize();
  if (mode_ == kSpooled) makeSpool();
}

MediaDataAtom::~MediaDataAtom() {
  if (spool_) std::fclose(spool_);
  if (spoolMade_) platform::deleteFile(spoolName_);
}

void MediaDataAtom::makeSpool() {
  if (spoolMade_) return;
  std::string host = platform::hostName();
  std::u16string stem = spoolName_ + (host.empty() ? u"temp" : platform::ansiToUtf16(host));
  // Skip a name another live spool of this process (or a stale one) holds.
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::u16string n = platform::utf8ToUtf16(std::to_string(gSpoolCounter.fetch_add(1)));
    std::u16string name = stem + n + u"_" + tag_ + u".mdat";
    if (!platform::fileExists(name) || attempt == 999) {
      spoolName_ = name;
      break;
    }
  }
  spoolMade_ = true;
  spool_ = platform::openFile(spoolName_, "w+b");
  if (spool_) {
    // Unbuffered: a full disk shows in the very write that hit it.
    std::setvbuf(spool_, nullptr, _IONBF, 0);
    uint8_t header[kHeader] = {0, 0, 0, kHeader, 'm', 'd', 'a', 't'};
    if (std::fwrite(header, 1, kHeader, spool_) != kHeader) reportWriteFailure();
  }
  totalSize_ = kHeader;
  recomputeSize();
}

void MediaDataAtom::reportWriteFailure() {
  if (writeFailed_) return;
  writeFailed_ = true;
  if (std::FILE* f = platform::openFile(u"failure.txt", "w")) {
    std::fputs("Error writing media data sample\n", f);
    std::fclose(f);
  }
}

uint32_t MediaDataAtom::writeSample(const uint8_t* data, uint32_t size) {
  if (writeFailed_ || mode_ != kSpooled) return 0;
  if (uint64_t(totalSize_) + size > std::numeric_limits<uint32_t>::max()) return 0;
  if (!spoolMade_) makeSpool();
  if (!spool_) {
    reportWriteFailure();
    return 0;
  }
  size_t written = size ? std::fwrite(data, 1, size, spool_) : 0;
  totalSize_ += static_cast<uint32_t>(written);
  if (written != size) reportWriteFailure();
  recomputeSize();
  return static_cast<uint32_t>(written);
}

uint32_t MediaDataAtom::addDescriptorSample(std::unique_ptr<BaseDescriptor> d) {
  uint32_t size = d->totalSize();
  if (mode_ == kSpooled) {
    std::string bytes;
    {
      std::ostringstream out;
      d->render(out);
      bytes = out.str();
    }
    writeSample(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()));
  } else {
    items_.push_back(std::move(d));
    recomputeSize();
  }
  return size;
}

uint64_t MediaDataAtom::bodySize() const {
  if (mode_ == kSpooled) return totalSize_ ? totalSize_ - kHeader : 0;
  uint64_t n = 0;
  for (const auto& d : items_) n += d->totalSize();
  return n;
}

void MediaDataAtom::render(std::ostream& out) const {
  if (mode_ == kInMemory) {
    renderHeader(out);
    payloadOffset_ = out.fail() ? 0 : static_cast<uint32_t>(std::streamoff(out.tellp()));
    for (const auto& d : items_) d->render(out);
    return;
  }
  std::streamoff start = out.fail() ? 0 : std::streamoff(out.tellp());
  payloadOffset_ = static_cast<uint32_t>(start + kHeader);
  std::FILE* in = spool_;
  if (!in) {
    copyFailed_ = true;  // the spool was never made: nothing can be copied
    return;
  }
  // The final size goes over the spool's size field, then the whole atom is
  // copied; the copy must be exactly size() bytes.
  uint8_t sizeField[4] = {uint8_t(size() >> 24), uint8_t(size() >> 16), uint8_t(size() >> 8),
                          uint8_t(size())};
  if (std::fseek(in, 0, SEEK_SET) != 0 || std::fwrite(sizeField, 1, 4, in) != 4 ||
      std::fflush(in) != 0 || std::fseek(in, 0, SEEK_SET) != 0) {
    copyFailed_ = true;
    return;
  }
  std::vector<char> buf(1 << 16);
  uint64_t left = size();
  while (left > 0 && !out.fail()) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(left, buf.size()));
    size_t got = std::fread(buf.data(), 1, want, in);
    if (got == 0) break;
    out.write(buf.data(), static_cast<std::streamsize>(got));
    left -= got;
  }
  if (left != 0 || out.fail()) copyFailed_ = true;
}

}  // namespace fileformat
