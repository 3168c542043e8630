// The import server's one class: a dual object over one version-2.0 file,
// each method forwarding to the version-2 reader it owns.
#pragma once

#include <memory>

#include "atl/dispatch.h"
#include "atl/object.h"
#include "importane.h"
#include "v2reader/mpeg4_file_v2_reader.h"

class Mpeg4FileV2Object : public atl::ObjectRoot<atl::SingleThreaded>, public atl::Dual<IIMpeg4FileV2> {
 public:
  static const atl::InterfaceEntry* Interfaces();

  STDMETHODIMP readMP4File(BSTR filename) override;
  STDMETHODIMP getVersion(BSTR* version) override;
  STDMETHODIMP getTitle(BSTR* title) override;
  STDMETHODIMP getAuthor(BSTR* author) override;
  STDMETHODIMP getCopyright(BSTR* copyright) override;
  STDMETHODIMP getDescription(BSTR* description) override;
  STDMETHODIMP getRating(BSTR* rating) override;
  STDMETHODIMP getFileType(int* fileType) override;
  STDMETHODIMP getScalability(int* scalability) override;
  STDMETHODIMP getMpegVOLHeader(int layer, unsigned char* header, int size) override;
  STDMETHODIMP getMpegVOLHeaderSize(int layer, int* size) override;
  STDMETHODIMP resetPlayback() override;
  STDMETHODIMP getPresentationTimescale(ULONG* timescale) override;
  STDMETHODIMP getVideoStreamTimescale(int track, ULONG* timescale) override;
  STDMETHODIMP getAudioStreamTimescale(int track, ULONG* timescale) override;
  STDMETHODIMP getMaxVideoBufferSizeDB(int track, ULONG* size) override;
  STDMETHODIMP getMaxAudioBufferSizeDB(int track, ULONG* size) override;
  STDMETHODIMP getPresentationDuration(ULONG* duration) override;
  STDMETHODIMP getVideoStreamDuration(int track, ULONG* duration) override;
  STDMETHODIMP getAudioStreamDuration(int track, ULONG* duration) override;
  STDMETHODIMP getNextVideoSample(unsigned char* buf, int size, int* retCode) override;
  STDMETHODIMP getNextLayeredVideoSample(int layer, unsigned char* buf, int size, int* retCode) override;
  STDMETHODIMP getTimestampForCurrentVideoSample(ULONG* timestamp) override;
  STDMETHODIMP getTimestampForCurrentLayeredVideoSample(int layer, ULONG* timestamp) override;
  STDMETHODIMP getSampleNumberForCurrentVideoSample(ULONG* sample) override;
  STDMETHODIMP getNextAudioSample(unsigned char* buf, int size, int track, int* retCode) override;
  STDMETHODIMP getAudioSampleAtTime(ULONG ts, unsigned char* buf, int size, ULONG track, int* retCode) override;
  STDMETHODIMP getAudioSampleAt(double ts, unsigned char* buf, int size, ULONG track, int* retCode) override;
  STDMETHODIMP getTimestampForCurrentAudioSample(ULONG track, ULONG* ts) override;
  STDMETHODIMP getSampleNumberForCurrentAudioSample(ULONG track, ULONG* sample) override;
  STDMETHODIMP containsVideoHintTrack(ULONG protocol, ULONG track, LONG* contains) override;
  STDMETHODIMP containsAudioHintTrack(ULONG protocol, ULONG track, LONG* contains) override;
  STDMETHODIMP Destroy() override;
  STDMETHODIMP getNextVideoHintSampleFlagsAndLayer(ULONG protocol, unsigned char* flags, unsigned char* layer) override;
  STDMETHODIMP getVideoStreamBitrate(int track, ULONG* bitrate) override;
  STDMETHODIMP getAudioStreamBitrate(int track, ULONG* bitrate) override;

 private:
  HRESULT CopyText(int n, BSTR* out) const;
  // Closed: every answer is zero. Open: the reader's answer.
  template <class T, class F>
  HRESULT Answer(T* out, F&& ask) const {
    if (!out) return E_POINTER;
    *out = reader_ ? static_cast<T>(ask(*reader_)) : T(0);
    return S_OK;
  }

  std::unique_ptr<v2reader::CMpeg4FileV2Reader> reader_;
};
