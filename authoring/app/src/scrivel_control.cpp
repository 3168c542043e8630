#include "scrivel/scrivel_control.h"

namespace scrivel {

using appf::DispArg;

// Properties.
SHORT CScrivelControl::GetEncWidth() { return driver_.GetShort(1); }
void CScrivelControl::SetEncWidth(SHORT value) { driver_.SetProperty(1, DispArg::I2(value)); }
SHORT CScrivelControl::GetNLayers() { return driver_.GetShort(2); }
void CScrivelControl::SetNLayers(SHORT value) { driver_.SetProperty(2, DispArg::I2(value)); }
SHORT CScrivelControl::GetEncHeight() { return driver_.GetShort(3); }
void CScrivelControl::SetEncHeight(SHORT value) { driver_.SetProperty(3, DispArg::I2(value)); }
LONG CScrivelControl::GetBaseBitRate() { return driver_.GetLong(4); }
void CScrivelControl::SetBaseBitRate(LONG value) { driver_.SetProperty(4, DispArg::I4(value)); }
LONG CScrivelControl::GetEnBitRate() { return driver_.GetLong(5); }
void CScrivelControl::SetEnBitRate(LONG value) { driver_.SetProperty(5, DispArg::I4(value)); }
float CScrivelControl::GetBaseFrameRate() { return driver_.GetFloat(6); }
void CScrivelControl::SetBaseFrameRate(float value) { driver_.SetProperty(6, DispArg::R4(value)); }
float CScrivelControl::GetEnFrameRate() { return driver_.GetFloat(7); }
void CScrivelControl::SetEnFrameRate(float value) { driver_.SetProperty(7, DispArg::R4(value)); }
SHORT CScrivelControl::GetIFrameInterval() { return driver_.GetShort(8); }
void CScrivelControl::SetIFrameInterval(SHORT value) { driver_.SetProperty(8, DispArg::I2(value)); }
SHORT CScrivelControl::GetMediaOut() { return driver_.GetShort(9); }
void CScrivelControl::SetMediaOut(SHORT value) { driver_.SetProperty(9, DispArg::I2(value)); }
SHORT CScrivelControl::GetStreamOut() { return driver_.GetShort(10); }
void CScrivelControl::SetStreamOut(SHORT value) { driver_.SetProperty(10, DispArg::I2(value)); }
std::string CScrivelControl::GetOutputFileName() { return driver_.GetText(11); }
void CScrivelControl::SetOutputFileName(const std::string& value) { driver_.SetProperty(11, DispArg::Text(value)); }
SHORT CScrivelControl::GetSourceType() { return driver_.GetShort(12); }
void CScrivelControl::SetSourceType(SHORT value) { driver_.SetProperty(12, DispArg::I2(value)); }
void CScrivelControl::SetEncoding(bool value) { driver_.SetProperty(14, DispArg::Bool(value)); }
SHORT CScrivelControl::GetCapWidth() { return driver_.GetShort(15); }
void CScrivelControl::SetCapWidth(SHORT value) { driver_.SetProperty(15, DispArg::I2(value)); }
SHORT CScrivelControl::GetCapHeight() { return driver_.GetShort(16); }
void CScrivelControl::SetCapHeight(SHORT value) { driver_.SetProperty(16, DispArg::I2(value)); }
std::string CScrivelControl::GetSrcFileName() { return driver_.GetText(17); }
void CScrivelControl::SetSrcFileName(const std::string& value) { driver_.SetProperty(17, DispArg::Text(value)); }
void CScrivelControl::SetEnableSkin(bool value) { driver_.SetProperty(18, DispArg::Bool(value)); }
LONG CScrivelControl::GetBandwidth() { return driver_.GetLong(19); }
void CScrivelControl::SetBandwidth(LONG value) { driver_.SetProperty(19, DispArg::I4(value)); }
SHORT CScrivelControl::GetContentVersion() { return driver_.GetShort(20); }
void CScrivelControl::SetContentVersion(SHORT value) { driver_.SetProperty(20, DispArg::I2(value)); }
float CScrivelControl::GetMaxDuration() { return driver_.GetFloat(21); }
void CScrivelControl::SetMaxDuration(float value) { driver_.SetProperty(21, DispArg::R4(value)); }
SHORT CScrivelControl::GetUnitDuration() { return driver_.GetShort(22); }
void CScrivelControl::SetUnitDuration(SHORT value) { driver_.SetProperty(22, DispArg::I2(value)); }
LONG CScrivelControl::GetMaxSize() { return driver_.GetLong(23); }
void CScrivelControl::SetMaxSize(LONG value) { driver_.SetProperty(23, DispArg::I4(value)); }
atl::Variant CScrivelControl::GetProfileName() { return driver_.GetVariant(24); }
void CScrivelControl::SetProfileName(const VARIANT& value) { driver_.SetProperty(24, DispArg::Var(value)); }
SHORT CScrivelControl::GetBFullSearch() { return driver_.GetShort(25); }
void CScrivelControl::SetBFullSearch(SHORT value) { driver_.SetProperty(25, DispArg::I2(value)); }
SHORT CScrivelControl::GetBEnableFixedIFrame() { return driver_.GetShort(27); }
void CScrivelControl::SetBEnableFixedIFrame(SHORT value) { driver_.SetProperty(27, DispArg::I2(value)); }
SHORT CScrivelControl::GetBEncodeDownloadOnly() { return driver_.GetShort(28); }
void CScrivelControl::SetBEncodeDownloadOnly(SHORT value) { driver_.SetProperty(28, DispArg::I2(value)); }
SHORT CScrivelControl::GetBMultiplePass() { return driver_.GetShort(37); }
void CScrivelControl::SetBMultiplePass(SHORT value) { driver_.SetProperty(37, DispArg::I2(value)); }
SHORT CScrivelControl::GetBClientNoAudio() { return driver_.GetShort(38); }
void CScrivelControl::SetBClientNoAudio(SHORT value) { driver_.SetProperty(38, DispArg::I2(value)); }
SHORT CScrivelControl::GetBEnableVideoRandomPositioning() { return driver_.GetShort(41); }
void CScrivelControl::SetBEnableVideoRandomPositioning(SHORT value) { driver_.SetProperty(41, DispArg::I2(value)); }
void CScrivelControl::SetScratchDisk(const std::string& value) { driver_.SetProperty(42, DispArg::Text(value)); }
SHORT CScrivelControl::GetBEnableRandomPositioning() { return driver_.GetShort(43); }
void CScrivelControl::SetBEnableRandomPositioning(SHORT value) { driver_.SetProperty(43, DispArg::I2(value)); }

// Methods.
LONG CScrivelControl::StartPlaying() { return driver_.CallLong(44); }
LONG CScrivelControl::StopPlaying() { return driver_.CallLong(45); }
LONG CScrivelControl::GetStreamTime(LONG* time) { return driver_.CallLong(46, {DispArg::I4Ref(time)}); }
LONG CScrivelControl::GetVideoEncStats(float* frameRate, LONG* bitRate, LONG* totalKBytes) {
  return driver_.CallLong(47, {DispArg::R4Ref(frameRate), DispArg::I4Ref(bitRate), DispArg::I4Ref(totalKBytes)});
}
LONG CScrivelControl::GetVideoDeviceNames(VARIANT* names, SHORT* count) {
  return driver_.CallLong(49, {DispArg::VarRef(names), DispArg::I2Ref(count)});
}
LONG CScrivelControl::GetAudioDeviceNames(VARIANT* names, SHORT* count) {
  return driver_.CallLong(50, {DispArg::VarRef(names), DispArg::I2Ref(count)});
}
LONG CScrivelControl::SelectVideoDevice(SHORT device) { return driver_.CallLong(51, {DispArg::I2(device)}); }
LONG CScrivelControl::SelectAudioDevice(SHORT device) { return driver_.CallLong(52, {DispArg::I2(device)}); }
LONG CScrivelControl::LoadProfile(const VARIANT& path) { return driver_.CallLong(54, {DispArg::Var(path)}); }
LONG CScrivelControl::SaveProfile(const VARIANT& path) { return driver_.CallLong(55, {DispArg::Var(path)}); }
LONG CScrivelControl::GetFileInfo(const VARIANT& file, SHORT* width, SHORT* height, SHORT* bitsPerPixel,
                                  float* frameRate, LONG* duration, SHORT* audioStreams, SHORT* videoStreams) {
  return driver_.CallLong(56, {DispArg::Var(file), DispArg::I2Ref(width), DispArg::I2Ref(height),
                               DispArg::I2Ref(bitsPerPixel), DispArg::R4Ref(frameRate), DispArg::I4Ref(duration),
                               DispArg::I2Ref(audioStreams), DispArg::I2Ref(videoStreams)});
}
LONG CScrivelControl::SaveSession(const VARIANT& path) { return driver_.CallLong(57, {DispArg::Var(path)}); }
LONG CScrivelControl::LoadSession(const VARIANT& path) { return driver_.CallLong(58, {DispArg::Var(path)}); }
LONG CScrivelControl::GetConfigVideoCapture(SHORT* width, SHORT* height, SHORT* format, float* frameRate) {
  return driver_.CallLong(59, {DispArg::I2Ref(width), DispArg::I2Ref(height), DispArg::I2Ref(format),
                               DispArg::R4Ref(frameRate)});
}
LONG CScrivelControl::SetMetaData(const VARIANT& title, const VARIANT& author, const VARIANT& copyright,
                                  const VARIANT& description, const VARIANT& rating) {
  return driver_.CallLong(62, {DispArg::Var(title), DispArg::Var(author), DispArg::Var(copyright),
                               DispArg::Var(description), DispArg::Var(rating)});
}
LONG CScrivelControl::GetMetaData(std::string* title, std::string* author, std::string* copyright,
                                  std::string* description, std::string* rating) {
  return driver_.CallLong(63, {DispArg::TextRef(title), DispArg::TextRef(author), DispArg::TextRef(copyright),
                               DispArg::TextRef(description), DispArg::TextRef(rating)});
}
LONG CScrivelControl::GetCurrentDeviceID(SHORT type, SHORT* device) {
  return driver_.CallLong(64, {DispArg::I2(type), DispArg::I2Ref(device)});
}
LONG CScrivelControl::CaptureStillImage(LONG* size, VARIANT* image) {
  return driver_.CallLong(65, {DispArg::I4Ref(size), DispArg::VarRef(image)});
}
LONG CScrivelControl::SaveImgFile(const VARIANT& file, const VARIANT& image) {
  return driver_.CallLong(66, {DispArg::Var(file), DispArg::Var(image)});
}
LONG CScrivelControl::SetStillImage(const VARIANT& file, SHORT* imageFlag, VARIANT* header, bool display) {
  return driver_.CallLong(67, {DispArg::Var(file), DispArg::I2Ref(imageFlag), DispArg::VarRef(header),
                               DispArg::Bool(display)});
}
LONG CScrivelControl::GetStillImageFileName(std::string* file) { return driver_.CallLong(68, {DispArg::TextRef(file)}); }
LONG CScrivelControl::GetAudioEncStats(SHORT entry, SHORT* codec, LONG* totalSamples, LONG* bitRate,
                                       LONG* totalBytes) {
  return driver_.CallLong(69, {DispArg::I2(entry), DispArg::I2Ref(codec), DispArg::I4Ref(totalSamples),
                               DispArg::I4Ref(bitRate), DispArg::I4Ref(totalBytes)});
}
LONG CScrivelControl::SetPortNumber(LONG rtsp, LONG rtp, LONG rtcp) {
  return driver_.CallLong(72, {DispArg::I4(rtsp), DispArg::I4(rtp), DispArg::I4(rtcp)});
}
LONG CScrivelControl::GetPortNumber(LONG* rtsp, LONG* rtp, LONG* rtcp) {
  return driver_.CallLong(73, {DispArg::I4Ref(rtsp), DispArg::I4Ref(rtp), DispArg::I4Ref(rtcp)});
}
LONG CScrivelControl::SetClientTimeOut(LONG interval, LONG report, LONG client) {
  return driver_.CallLong(74, {DispArg::I4(interval), DispArg::I4(report), DispArg::I4(client)});
}
LONG CScrivelControl::ShowPropDlg() { return driver_.CallLong(76); }
LONG CScrivelControl::ValidateInputSource(std::string* text) { return driver_.CallLong(77, {DispArg::TextRef(text)}); }
LONG CScrivelControl::SetPropDlgPath(const VARIANT& first, const VARIANT& second, const VARIANT& third,
                                     const VARIANT& fourth) {
  return driver_.CallLong(78, {DispArg::Var(first), DispArg::Var(second), DispArg::Var(third), DispArg::Var(fourth)});
}
atl::Variant CScrivelControl::GetPropDlgPath() { return driver_.CallVariant(79); }
LONG CScrivelControl::ConfigAudioCodec(SHORT entry, SHORT codec, bool enable, LONG samplingRate, LONG bitRate,
                                       SHORT channels) {
  return driver_.CallLong(80, {DispArg::I2(entry), DispArg::I2(codec), DispArg::Bool(enable),
                               DispArg::I4(samplingRate), DispArg::I4(bitRate), DispArg::I2(channels)});
}
LONG CScrivelControl::GetConfigAudioCodec(SHORT entry, SHORT* codec, bool* enable, LONG* samplingRate,
                                          LONG* bitRate, SHORT* channels) {
  return driver_.CallLong(81, {DispArg::I2(entry), DispArg::I2Ref(codec), DispArg::BoolRef(enable),
                               DispArg::I4Ref(samplingRate), DispArg::I4Ref(bitRate), DispArg::I2Ref(channels)});
}
LONG CScrivelControl::ShowPropDlgEx(SHORT page, const VARIANT& file) {
  return driver_.CallLong(82, {DispArg::I2(page), DispArg::Var(file)});
}
LONG CScrivelControl::ResetToDefaults() { return driver_.CallLong(83); }
LONG CScrivelControl::GetTotalAudioKBytes(LONG* kbytes) { return driver_.CallLong(84, {DispArg::I4Ref(kbytes)}); }
LONG CScrivelControl::GetTotalVideoKBytes(LONG* kbytes) { return driver_.CallLong(85, {DispArg::I4Ref(kbytes)}); }
LONG CScrivelControl::ValidateOutputFile(std::string* text) { return driver_.CallLong(98, {DispArg::TextRef(text)}); }

}  // namespace scrivel
