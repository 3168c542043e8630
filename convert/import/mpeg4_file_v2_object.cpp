#include "mpeg4_file_v2_object.h"

#include <algorithm>
#include <cstring>
#include <string>

using v2reader::CMpeg4FileV2Reader;

namespace {
// The only failure the class reports, from readMP4File.
constexpr HRESULT kReadFailed = static_cast<HRESULT>(0x800A03E9);
constexpr UINT kMaxText = 256;  // characters with the terminator
}  // namespace

const atl::InterfaceEntry* Mpeg4FileV2Object::Interfaces() {
  static const atl::InterfaceEntry entries[] = {
      atl::Entry<Mpeg4FileV2Object, IIMpeg4FileV2>(),
      atl::Entry<Mpeg4FileV2Object, IDispatch>(),
      {}};
  return entries;
}

STDMETHODIMP Mpeg4FileV2Object::readMP4File(BSTR filename) {
  reader_.reset();
  std::u16string name(reinterpret_cast<const char16_t*>(filename ? filename : L""), SysStringLen(filename));
  std::unique_ptr<CMpeg4FileV2Reader> r = CMpeg4FileV2Reader::Open(name);
  if (!r || !r->ok()) return kReadFailed;
  reader_ = std::move(r);
  return S_OK;
}

// The text goes into the caller's own string, which is never grown: at
// most its length (and never more than a clip text's 256 characters) is
// written, the terminator included.
HRESULT Mpeg4FileV2Object::CopyText(int n, BSTR* out) const {
  if (!out) return E_POINTER;
  if (!*out) return S_OK;
  UINT room = std::min(kMaxText, SysStringLen(*out));
  if (room == 0) return S_OK;
  std::u16string text;
  if (reader_) text = n == 0 && !reader_->HasClipTexts() ? u"Unknown" : reader_->ClipText(n);
  size_t count = std::min<size_t>(text.size(), room - 1);
  std::memcpy(*out, text.data(), count * sizeof(char16_t));
  (*out)[count] = L'\0';
  return S_OK;
}

STDMETHODIMP Mpeg4FileV2Object::getVersion(BSTR* v) { return CopyText(0, v); }
STDMETHODIMP Mpeg4FileV2Object::getTitle(BSTR* v) { return CopyText(1, v); }
STDMETHODIMP Mpeg4FileV2Object::getAuthor(BSTR* v) { return CopyText(2, v); }
STDMETHODIMP Mpeg4FileV2Object::getCopyright(BSTR* v) { return CopyText(3, v); }
STDMETHODIMP Mpeg4FileV2Object::getDescription(BSTR* v) { return CopyText(4, v); }
STDMETHODIMP Mpeg4FileV2Object::getRating(BSTR* v) { return CopyText(5, v); }

STDMETHODIMP Mpeg4FileV2Object::getFileType(int* v) {
  return Answer(v, [](const CMpeg4FileV2Reader& r) { return r.FileType(); });
}
STDMETHODIMP Mpeg4FileV2Object::getScalability(int* v) {
  return Answer(v, [](const CMpeg4FileV2Reader& r) { return r.Scalability(); });
}

STDMETHODIMP Mpeg4FileV2Object::getMpegVOLHeader(int layer, unsigned char* header, int size) {
  const std::vector<uint8_t>* vol = reader_ ? reader_->VolHeader(layer) : nullptr;
  if (!vol || size <= 0) return S_OK;
  if (!header) return E_POINTER;
  std::memcpy(header, vol->data(), std::min<size_t>(size_t(size), vol->size()));
  return S_OK;
}

STDMETHODIMP Mpeg4FileV2Object::getMpegVOLHeaderSize(int layer, int* size) {
  return Answer(size, [layer](const CMpeg4FileV2Reader& r) {
    const std::vector<uint8_t>* vol = r.VolHeader(layer);
    return vol ? int(vol->size()) : 0;
  });
}

STDMETHODIMP Mpeg4FileV2Object::resetPlayback() {
  if (reader_) reader_->ResetPlayback();
  return S_OK;
}

STDMETHODIMP Mpeg4FileV2Object::getPresentationTimescale(ULONG* v) {
  return Answer(v, [](const CMpeg4FileV2Reader& r) { return r.PresentationTimeScale(); });
}
STDMETHODIMP Mpeg4FileV2Object::getVideoStreamTimescale(int n, ULONG* v) {
  return Answer(v, [n](const CMpeg4FileV2Reader& r) { return r.VideoTimeScale(n); });
}
STDMETHODIMP Mpeg4FileV2Object::getAudioStreamTimescale(int n, ULONG* v) {
  return Answer(v, [n](const CMpeg4FileV2Reader& r) { return r.AudioTimeScale(n); });
}
STDMETHODIMP Mpeg4FileV2Object::getMaxVideoBufferSizeDB(int n, ULONG* v) {
  return Answer(v, [n](const CMpeg4FileV2Reader& r) { return r.VideoBufferSize(n); });
}
STDMETHODIMP Mpeg4FileV2Object::getMaxAudioBufferSizeDB(int n, ULONG* v) {
  return Answer(v, [n](const CMpeg4FileV2Reader& r) { return r.AudioBufferSize(n); });
}
STDMETHODIMP Mpeg4FileV2Object::getPresentationDuration(ULONG* v) {
  return Answer(v, [](const CMpeg4FileV2Reader& r) { return r.PresentationDuration(); });
}
STDMETHODIMP Mpeg4FileV2Object::getVideoStreamDuration(int n, ULONG* v) {
  return Answer(v, [n](const CMpeg4FileV2Reader& r) { return r.VideoDuration(n); });
}
STDMETHODIMP Mpeg4FileV2Object::getAudioStreamDuration(int n, ULONG* v) {
  return Answer(v, [n](const CMpeg4FileV2Reader& r) { return r.AudioDuration(n); });
}

STDMETHODIMP Mpeg4FileV2Object::getNextVideoSample(unsigned char* buf, int size, int* retCode) {
  if (!buf && size > 0) return E_POINTER;
  return Answer(retCode, [&](CMpeg4FileV2Reader& r) { return r.NextVideoSample(buf, size); });
}
STDMETHODIMP Mpeg4FileV2Object::getNextLayeredVideoSample(int layer, unsigned char* buf, int size, int* retCode) {
  if (!buf && size > 0) return E_POINTER;
  return Answer(retCode, [&](CMpeg4FileV2Reader& r) { return r.NextLayeredVideoSample(layer, buf, size); });
}
STDMETHODIMP Mpeg4FileV2Object::getTimestampForCurrentVideoSample(ULONG* v) {
  return Answer(v, [](const CMpeg4FileV2Reader& r) { return r.CurrentVideoTimestamp(); });
}
STDMETHODIMP Mpeg4FileV2Object::getTimestampForCurrentLayeredVideoSample(int layer, ULONG* v) {
  return Answer(v, [layer](const CMpeg4FileV2Reader& r) { return r.CurrentLayeredVideoTimestamp(layer); });
}
STDMETHODIMP Mpeg4FileV2Object::getSampleNumberForCurrentVideoSample(ULONG* v) {
  // A file without video answers 0, as a closed object does.
  return Answer(v, [](const CMpeg4FileV2Reader& r) {
    return r.VideoTrackCount() ? r.CurrentVideoSampleNumber() : 0u;
  });
}
STDMETHODIMP Mpeg4FileV2Object::getNextAudioSample(unsigned char* buf, int size, int track, int* retCode) {
  if (!buf && size > 0) return E_POINTER;
  return Answer(retCode, [&](CMpeg4FileV2Reader& r) { return r.NextAudioSample(track, buf, size); });
}
STDMETHODIMP Mpeg4FileV2Object::getAudioSampleAtTime(ULONG ts, unsigned char* buf, int size, ULONG track,
                                                     int* retCode) {
  if (!buf && size > 0) return E_POINTER;
  return Answer(retCode, [&](CMpeg4FileV2Reader& r) { return r.AudioSampleAtTime(ts, buf, size, track); });
}
STDMETHODIMP Mpeg4FileV2Object::getAudioSampleAt(double ts, unsigned char* buf, int size, ULONG track, int* retCode) {
  if (!buf && size > 0) return E_POINTER;
  return Answer(retCode, [&](CMpeg4FileV2Reader& r) { return r.AudioSampleAt(ts, buf, size, track); });
}
STDMETHODIMP Mpeg4FileV2Object::getTimestampForCurrentAudioSample(ULONG track, ULONG* v) {
  return Answer(v, [track](const CMpeg4FileV2Reader& r) { return r.CurrentAudioTimestamp(track); });
}
STDMETHODIMP Mpeg4FileV2Object::getSampleNumberForCurrentAudioSample(ULONG track, ULONG* v) {
  return Answer(v, [track](const CMpeg4FileV2Reader& r) { return r.CurrentAudioSampleNumber(track); });
}
STDMETHODIMP Mpeg4FileV2Object::containsVideoHintTrack(ULONG, ULONG track, LONG* v) {
  return Answer(v, [track](const CMpeg4FileV2Reader& r) { return r.HasVideoHintTrack(track) ? 1 : 0; });
}
STDMETHODIMP Mpeg4FileV2Object::containsAudioHintTrack(ULONG, ULONG track, LONG* v) {
  return Answer(v, [track](const CMpeg4FileV2Reader& r) { return r.HasAudioHintTrack(track) ? 1 : 0; });
}

STDMETHODIMP Mpeg4FileV2Object::Destroy() {
  reader_.reset();
  return S_OK;
}

STDMETHODIMP Mpeg4FileV2Object::getNextVideoHintSampleFlagsAndLayer(ULONG, unsigned char* flags, unsigned char* layer) {
  if (!flags || !layer) return E_POINTER;
  *flags = *layer = 0;
  if (reader_) reader_->CurrentVideoHintRecord(flags, layer);
  return S_OK;
}

STDMETHODIMP Mpeg4FileV2Object::getVideoStreamBitrate(int n, ULONG* v) {
  return Answer(v, [n](const CMpeg4FileV2Reader& r) { return r.VideoBitrate(n); });
}
STDMETHODIMP Mpeg4FileV2Object::getAudioStreamBitrate(int n, ULONG* v) {
  return Answer(v, [n](const CMpeg4FileV2Reader& r) { return r.AudioBitrate(n); });
}
