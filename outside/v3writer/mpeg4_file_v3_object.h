// The version-3 writer object the converter drives: a dual class over our
// MP4 file writer. Every call is logged (see README.md).
#pragma once

#include <cstdio>
#include <memory>
#include <set>

#include "atl/dispatch.h"
#include "atl/object.h"
#include "fileformat/mp4_writer_api.h"
#include "mpeg4_file_v3.h"

class Mpeg4FileV3Object : public atl::ObjectRoot<atl::SingleThreaded>, public atl::Dual<IIMpeg4FileV3> {
 public:
  static const atl::InterfaceEntry* Interfaces();
  HRESULT FinalConstruct();
  void FinalRelease();

  STDMETHODIMP setVersion(BSTR text) override;
  STDMETHODIMP setTitle(BSTR text) override;
  STDMETHODIMP setAuthor(BSTR text) override;
  STDMETHODIMP setCopyright(BSTR text) override;
  STDMETHODIMP setDescription(BSTR text) override;
  STDMETHODIMP setRating(BSTR text) override;
  STDMETHODIMP setCreationTime(BSTR text) override;
  STDMETHODIMP createMP4File(int fileType, int scalability, BSTR tempFolder, BSTR tempName) override;
  STDMETHODIMP unused9() override { return E_NOTIMPL; }
  STDMETHODIMP unused10() override { return E_NOTIMPL; }
  STDMETHODIMP unused11() override { return E_NOTIMPL; }
  STDMETHODIMP unused12() override { return E_NOTIMPL; }
  STDMETHODIMP unused13() override { return E_NOTIMPL; }
  STDMETHODIMP unused14() override { return E_NOTIMPL; }
  STDMETHODIMP unused15() override { return E_NOTIMPL; }
  STDMETHODIMP unused16() override { return E_NOTIMPL; }
  STDMETHODIMP setDecoderConfig(unsigned char* header, int length, LONG track) override;
  STDMETHODIMP writeMP4File(BSTR path) override;
  STDMETHODIMP addTrack(ULONG handler, int kind, LONG* track) override;
  STDMETHODIMP addSample(LONG track, unsigned char* data, int count, ULONG timestamp, unsigned char flags) override;
  STDMETHODIMP setTrackDependency(LONG track, LONG baseTrack) override;
  STDMETHODIMP setTrackBitrate(LONG track, ULONG bitrate) override;
  STDMETHODIMP setTrackTimescale(LONG track, ULONG timescale) override;
  STDMETHODIMP unused24() override { return E_NOTIMPL; }
  STDMETHODIMP unused25() override { return E_NOTIMPL; }
  STDMETHODIMP unused26() override { return E_NOTIMPL; }
  STDMETHODIMP unused27() override { return E_NOTIMPL; }
  STDMETHODIMP unused28() override { return E_NOTIMPL; }
  STDMETHODIMP unused29() override { return E_NOTIMPL; }
  STDMETHODIMP unused30() override { return E_NOTIMPL; }
  STDMETHODIMP unused31() override { return E_NOTIMPL; }
  STDMETHODIMP unused32() override { return E_NOTIMPL; }
  STDMETHODIMP unused33() override { return E_NOTIMPL; }
  STDMETHODIMP unused34() override { return E_NOTIMPL; }
  STDMETHODIMP unused35() override { return E_NOTIMPL; }
  STDMETHODIMP setFileFlagA(int value) override;
  STDMETHODIMP setFileMode(int major, int minor) override;
  STDMETHODIMP setTrackMode(LONG track, int major, int minor) override;
  STDMETHODIMP setVideoOnlyAllowed(int allowed) override;
  STDMETHODIMP setFileFlagB(int value) override;
  STDMETHODIMP unused41() override { return E_NOTIMPL; }
  STDMETHODIMP close() override;
  STDMETHODIMP setTrackReserved(LONG track, int value) override;
  STDMETHODIMP setFileReserved(int value) override;

 private:
  void Log(const char* format, ...);
  HRESULT SetText(int n, BSTR text);

  std::unique_ptr<fileformat::MP4WriterApi> writer_;
  std::FILE* log_ = nullptr;
  std::set<LONG> amrTracks_;
};
