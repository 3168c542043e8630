// The application's typed proxy for the hosted authoring control: each
// operation is one late-bound call of `_DScrivelControl` by its dispatch id,
// through the framework's dispatch helper. No state, no caching, no checks:
// method results come back unchanged, and a failed call throws the helper's
// DispatchError to the caller.
//
// `encoding`, `enableSkin` and `scratchDisk` have setters only.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

#include "appframe/dispatch_driver.h"

namespace scrivel {

class CScrivelControl {
 public:
  // The driver that the view binds to the control's site (id 1071).
  appf::DispatchDriver& Driver() { return driver_; }

  SHORT GetEncWidth();
  void SetEncWidth(SHORT value);
  SHORT GetNLayers();
  void SetNLayers(SHORT value);
  SHORT GetEncHeight();
  void SetEncHeight(SHORT value);
  LONG GetBaseBitRate();
  void SetBaseBitRate(LONG value);
  LONG GetEnBitRate();
  void SetEnBitRate(LONG value);
  float GetBaseFrameRate();
  void SetBaseFrameRate(float value);
  float GetEnFrameRate();
  void SetEnFrameRate(float value);
  SHORT GetIFrameInterval();
  void SetIFrameInterval(SHORT value);
  SHORT GetMediaOut();
  void SetMediaOut(SHORT value);
  SHORT GetStreamOut();
  void SetStreamOut(SHORT value);
  std::string GetOutputFileName();
  void SetOutputFileName(const std::string& value);
  SHORT GetSourceType();
  void SetSourceType(SHORT value);
  void SetEncoding(bool value);
  SHORT GetCapWidth();
  void SetCapWidth(SHORT value);
  SHORT GetCapHeight();
  void SetCapHeight(SHORT value);
  std::string GetSrcFileName();
  void SetSrcFileName(const std::string& value);
  void SetEnableSkin(bool value);
  LONG GetBandwidth();
  void SetBandwidth(LONG value);
  SHORT GetContentVersion();
  void SetContentVersion(SHORT value);
  float GetMaxDuration();
  void SetMaxDuration(float value);
  SHORT GetUnitDuration();
  void SetUnitDuration(SHORT value);
  LONG GetMaxSize();
  void SetMaxSize(LONG value);
  atl::Variant GetProfileName();
  void SetProfileName(const VARIANT& value);
  SHORT GetBFullSearch();
  void SetBFullSearch(SHORT value);
  SHORT GetBEnableFixedIFrame();
  void SetBEnableFixedIFrame(SHORT value);
  SHORT GetBEncodeDownloadOnly();
  void SetBEncodeDownloadOnly(SHORT value);
  SHORT GetBMultiplePass();
  void SetBMultiplePass(SHORT value);
  SHORT GetBClientNoAudio();
  void SetBClientNoAudio(SHORT value);
  SHORT GetBEnableVideoRandomPositioning();
  void SetBEnableVideoRandomPositioning(SHORT value);
  void SetScratchDisk(const std::string& value);
  SHORT GetBEnableRandomPositioning();
  void SetBEnableRandomPositioning(SHORT value);

  LONG StartPlaying();
  LONG StopPlaying();
  LONG GetStreamTime(LONG* time);
  LONG GetVideoEncStats(float* frameRate, LONG* bitRate, LONG* totalKBytes);
  LONG GetVideoDeviceNames(VARIANT* names, SHORT* count);
  LONG GetAudioDeviceNames(VARIANT* names, SHORT* count);
  LONG SelectVideoDevice(SHORT device);
  LONG SelectAudioDevice(SHORT device);
  LONG LoadProfile(const VARIANT& path);
  LONG SaveProfile(const VARIANT& path);
  LONG GetFileInfo(const VARIANT& file, SHORT* width, SHORT* height, SHORT* bitsPerPixel, float* frameRate,
                   LONG* duration, SHORT* audioStreams, SHORT* videoStreams);
  LONG SaveSession(const VARIANT& path);
  LONG LoadSession(const VARIANT& path);
  LONG GetConfigVideoCapture(SHORT* width, SHORT* height, SHORT* format, float* frameRate);
  LONG SetMetaData(const VARIANT& title, const VARIANT& author, const VARIANT& copyright,
                   const VARIANT& description, const VARIANT& rating);
  LONG GetMetaData(std::string* title, std::string* author, std::string* copyright, std::string* description,
                   std::string* rating);
  LONG GetCurrentDeviceID(SHORT type, SHORT* device);
  LONG CaptureStillImage(LONG* size, VARIANT* image);
  LONG SaveImgFile(const VARIANT& file, const VARIANT& image);
  LONG SetStillImage(const VARIANT& file, SHORT* imageFlag, VARIANT* header, bool display);
  LONG GetStillImageFileName(std::string* file);
  LONG GetAudioEncStats(SHORT entry, SHORT* codec, LONG* totalSamples, LONG* bitRate, LONG* totalBytes);
  LONG SetPortNumber(LONG rtsp, LONG rtp, LONG rtcp);
  LONG GetPortNumber(LONG* rtsp, LONG* rtp, LONG* rtcp);
  LONG SetClientTimeOut(LONG interval, LONG report, LONG client);
  LONG ShowPropDlg();
  LONG ValidateInputSource(std::string* text);
  LONG SetPropDlgPath(const VARIANT& first, const VARIANT& second, const VARIANT& third, const VARIANT& fourth);
  atl::Variant GetPropDlgPath();
  LONG ConfigAudioCodec(SHORT entry, SHORT codec, bool enable, LONG samplingRate, LONG bitRate, SHORT channels);
  LONG GetConfigAudioCodec(SHORT entry, SHORT* codec, bool* enable, LONG* samplingRate, LONG* bitRate,
                           SHORT* channels);
  LONG ShowPropDlgEx(SHORT page, const VARIANT& file);
  LONG ResetToDefaults();
  LONG GetTotalAudioKBytes(LONG* kbytes);
  LONG GetTotalVideoKBytes(LONG* kbytes);
  LONG ValidateOutputFile(std::string* text);

 private:
  appf::DispatchDriver driver_;
};

}  // namespace scrivel
