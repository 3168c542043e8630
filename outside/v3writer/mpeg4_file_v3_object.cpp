#include "mpeg4_file_v3_object.h"

#include <cstdarg>
#include <cstdlib>
#include <string>

#include "fileformat/mp4_file_writer.h"
#include "platform/os.h"

namespace {

std::u16string Text(BSTR b) {
  return std::u16string(reinterpret_cast<const char16_t*>(b ? b : L""), SysStringLen(b));
}

std::string Utf8(BSTR b) { return platform::utf16ToUtf8(Text(b)); }

constexpr uint32_t FourCC(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 | uint32_t(uint8_t(s[2])) << 8 |
         uint32_t(uint8_t(s[3]));
}

// The writer's presentation kind for the reader's file-type bits; 0 for
// bits it has no kind for.
uint32_t PresentationKind(int fileType) {
  switch (fileType) {
    case 1: return 2;
    case 2:
    case 4: return 1;
    case 3:
    case 5: return 3;
    default: return 0;
  }
}

}  // namespace

const atl::InterfaceEntry* Mpeg4FileV3Object::Interfaces() {
  static const atl::InterfaceEntry entries[] = {
      atl::Entry<Mpeg4FileV3Object, IIMpeg4FileV3>(),
      atl::Entry<Mpeg4FileV3Object, IDispatch>(),
      {}};
  return entries;
}

HRESULT Mpeg4FileV3Object::FinalConstruct() {
  // The log goes to the file named by KR_V3WRITER_LOG, when it is set.
  wchar_t path[MAX_PATH];
  DWORD n = GetEnvironmentVariableW(L"KR_V3WRITER_LOG", path, MAX_PATH);
  if (n > 0 && n < MAX_PATH) log_ = _wfopen(path, L"a");
  return S_OK;
}

void Mpeg4FileV3Object::FinalRelease() {
  writer_.reset();
  if (log_) std::fclose(log_);
  log_ = nullptr;
}

void Mpeg4FileV3Object::Log(const char* format, ...) {
  if (!log_) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(log_, format, args);
  va_end(args);
  std::fputc('\n', log_);
  std::fflush(log_);
}

HRESULT Mpeg4FileV3Object::SetText(int n, BSTR text) {
  const char* names[] = {"setVersion", "setTitle", "setAuthor", "setCopyright", "setDescription", "setRating",
                         "setCreationTime"};
  Log("%s \"%s\"", names[n - 1], Utf8(text).c_str());
  if (!writer_) return E_UNEXPECTED;
  std::u16string t = Text(text);
  switch (n) {
    case 1: writer_->SetContentText1(t); break;
    case 2: writer_->SetContentText2(t); break;
    case 3: writer_->SetContentText3(t); break;
    case 4: writer_->SetContentText4(t); break;
    case 5: writer_->SetContentText5(t); break;
    case 6: writer_->SetContentText6(t); break;
    default: writer_->SetContentText7(t); break;
  }
  return S_OK;
}

STDMETHODIMP Mpeg4FileV3Object::setVersion(BSTR t) { return SetText(1, t); }
STDMETHODIMP Mpeg4FileV3Object::setTitle(BSTR t) { return SetText(2, t); }
STDMETHODIMP Mpeg4FileV3Object::setAuthor(BSTR t) { return SetText(3, t); }
STDMETHODIMP Mpeg4FileV3Object::setCopyright(BSTR t) { return SetText(4, t); }
STDMETHODIMP Mpeg4FileV3Object::setDescription(BSTR t) { return SetText(5, t); }
STDMETHODIMP Mpeg4FileV3Object::setRating(BSTR t) { return SetText(6, t); }
STDMETHODIMP Mpeg4FileV3Object::setCreationTime(BSTR t) { return SetText(7, t); }

STDMETHODIMP Mpeg4FileV3Object::createMP4File(int fileType, int scalability, BSTR tempFolder, BSTR tempName) {
  Log("createMP4File %d %d \"%s\" \"%s\"", fileType, scalability, Utf8(tempFolder).c_str(), Utf8(tempName).c_str());
  writer_.reset();
  amrTracks_.clear();
  uint32_t kind = PresentationKind(fileType);
  if (kind == 0) return E_INVALIDARG;
  // The spool goes beside the temporary folder's prefix; no hint tracks,
  // as in the archive recorder's files.
  writer_ = fileformat::MP4FileWriter::Create(kind, scalability > 0 ? 1 : 0, Text(tempFolder), Text(tempName), 0, 0);
  if (!writer_) return E_OUTOFMEMORY;
  writer_->SetMajorBrand(FourCC("wmf "));
  writer_->SetMinorVersion(0x00010001);
  writer_->SetSessionValue3(1);
  writer_->SetSessionValue1(1);
  writer_->SetSessionValue2(1);
  return S_OK;
}

STDMETHODIMP Mpeg4FileV3Object::setDecoderConfig(unsigned char* header, int length, LONG track) {
  Log("setDecoderConfig %ld %d", long(track), length);
  if (!writer_) return E_UNEXPECTED;
  if (length < 0 || (!header && length > 0)) return E_INVALIDARG;
  writer_->SetDecoderConfig(header, uint32_t(length), uint32_t(track));
  return S_OK;
}

STDMETHODIMP Mpeg4FileV3Object::writeMP4File(BSTR path) {
  Log("writeMP4File \"%s\"", Utf8(path).c_str());
  if (!writer_) return E_UNEXPECTED;
  return writer_->WriteToFile(Text(path)) ? S_OK : E_FAIL;
}

STDMETHODIMP Mpeg4FileV3Object::addTrack(ULONG handler, int kind, LONG* track) {
  if (!track) return E_POINTER;
  *track = 0;
  if (!writer_) return E_UNEXPECTED;
  *track = LONG(writer_->AddTrack(handler, uint32_t(kind)));
  if (*track && handler == FourCC("soun") && kind == 1) amrTracks_.insert(*track);
  Log("addTrack %c%c%c%c %d -> %ld", char(handler >> 24), char(handler >> 16), char(handler >> 8), char(handler), kind,
      long(*track));
  return *track ? S_OK : E_FAIL;
}

STDMETHODIMP Mpeg4FileV3Object::addSample(LONG track, unsigned char* data, int count, ULONG timestamp,
                                          unsigned char flags) {
  Log("addSample %ld %d %lu %u", long(track), count, static_cast<unsigned long>(timestamp), unsigned(flags));
  if (!writer_) return E_UNEXPECTED;
  if (count < 0 || (!data && count > 0)) return E_INVALIDARG;
  if (amrTracks_.count(track) && count > 0) {
    // A GSM-AMR frame arrives in the storage format, as version-2 files hold
    // it; the file keeps the payload and the frame type picks its sample
    // description.
    flags = (data[0] >> 3) & 0x0F;
    ++data;
    --count;
  }
  return writer_->AddSample(uint32_t(track), data, uint32_t(count), timestamp, flags) ? S_OK : E_FAIL;
}

STDMETHODIMP Mpeg4FileV3Object::setTrackDependency(LONG track, LONG baseTrack) {
  Log("setTrackDependency %ld %ld", long(track), long(baseTrack));
  if (!writer_) return E_UNEXPECTED;
  writer_->AddTrackDependency(uint32_t(track), uint32_t(baseTrack));
  return S_OK;
}

STDMETHODIMP Mpeg4FileV3Object::setTrackBitrate(LONG track, ULONG bitrate) {
  Log("setTrackBitrate %ld %lu", long(track), static_cast<unsigned long>(bitrate));
  if (!writer_) return E_UNEXPECTED;
  writer_->SetBitrate(uint32_t(track), bitrate);
  return S_OK;
}

STDMETHODIMP Mpeg4FileV3Object::setTrackTimescale(LONG track, ULONG timescale) {
  Log("setTrackTimescale %ld %lu", long(track), static_cast<unsigned long>(timescale));
  if (!writer_) return E_UNEXPECTED;
  writer_->SetMediaTimeScale(uint32_t(track), timescale);
  return S_OK;
}

STDMETHODIMP Mpeg4FileV3Object::setFileFlagA(int value) {
  Log("setFileFlagA %d", value);
  if (!writer_) return E_UNEXPECTED;
  writer_->SetDownload(uint32_t(value));
  return S_OK;
}

STDMETHODIMP Mpeg4FileV3Object::setFileMode(int major, int minor) {
  Log("setFileMode %d %d", major, minor);
  if (!writer_) return E_UNEXPECTED;
  writer_->SetContentVersion(uint8_t(major), uint8_t(minor));
  return S_OK;
}

STDMETHODIMP Mpeg4FileV3Object::setTrackMode(LONG track, int major, int minor) {
  Log("setTrackMode %ld %d %d", long(track), major, minor);
  if (!writer_) return E_UNEXPECTED;
  writer_->SetTrackVersion(uint32_t(track), uint8_t(major), uint8_t(minor));
  return S_OK;
}

STDMETHODIMP Mpeg4FileV3Object::setVideoOnlyAllowed(int allowed) {
  Log("setVideoOnlyAllowed %d", allowed);
  if (!writer_) return E_UNEXPECTED;
  writer_->SetRequirement1(uint8_t(allowed));
  return S_OK;
}

STDMETHODIMP Mpeg4FileV3Object::setFileFlagB(int value) {
  Log("setFileFlagB %d", value);
  if (!writer_) return E_UNEXPECTED;
  writer_->SetRandomAccess(uint8_t(value));
  return S_OK;
}

STDMETHODIMP Mpeg4FileV3Object::close() {
  Log("close");
  writer_.reset();  // the spool goes with it
  return S_OK;
}

STDMETHODIMP Mpeg4FileV3Object::setTrackReserved(LONG track, int value) {
  Log("setTrackReserved %ld %d", long(track), value);
  return writer_ ? S_OK : E_UNEXPECTED;
}

STDMETHODIMP Mpeg4FileV3Object::setFileReserved(int value) {
  Log("setFileReserved %d", value);
  return writer_ ? S_OK : E_UNEXPECTED;
}
