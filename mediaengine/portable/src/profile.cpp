#include "mediaengine/profile.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mediaengine/errors.h"

namespace mediaengine {

namespace {

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::string Narrow(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out += c < 128 ? char(c) : '?';
  return out;
}

std::u16string FieldText(const RecordText& field) {
  const int n = BoundedTextLength(field);
  return std::u16string(field, size_t(n > kRecordTextMax ? kRecordTextMax : n));
}

void SetField(RecordText& field, const std::u16string& text) {
  const size_t n = text.size() > size_t(kRecordTextMax) ? size_t(kRecordTextMax) : text.size();
  std::memcpy(field, text.data(), n * sizeof(char16_t));
  field[n] = 0;
}

// Leading decimal digits, as scanf reads them; false when there are none.
bool ReadLong(const std::u16string& text, long long* value) {
  const std::string s = Narrow(text);
  const char* p = s.c_str();
  while (*p == ' ' || *p == '\t') ++p;
  char* end = nullptr;
  const long long v = std::strtoll(p, &end, 10);
  if (end == p) return false;
  *value = v;
  return true;
}

int Clamp(long long v, int low, int high) { return v < low ? low : v > high ? high : int(v); }

// ---- writing ----

class Writer {
 public:
  explicit Writer(PropertyStore& store) : store_(store) {}
  // Once a put fails, nothing more is put; the failure is kept.
  void Text(const char16_t* key, const std::u16string& value) {
    if (result_ == 0) result_ = store_.Put(key, value);
  }
  void Short(const char16_t* key, int32_t value) { Text(key, Wide(std::to_string(int16_t(uint16_t(value))))); }
  void Long(const char16_t* key, int32_t value) { Text(key, Wide(std::to_string(value))); }
  void Unsigned(const char16_t* key, uint32_t value) { Text(key, Wide(std::to_string(value))); }
  void Float(const char16_t* key, float value) { Text(key, FloatText(value)); }
  void Flag(const char16_t* key, bool on) { Text(key, on ? u"1" : u"0"); }
  int32_t Result() const { return result_; }

 private:
  PropertyStore& store_;
  int32_t result_ = 0;
};

// Bounds of the arrays the records hold.
constexpr int kLayers = 2;
constexpr int kDevices = 5;

int LayersInUse(int32_t layers) { return Clamp(layers, 1, kLayers); }

const char16_t* const kCodecKeys[3][4] = {
    {u"EncAudio_GSMAMRInstances", u"EncAudio_GSMAMRBitRate", u"EncAudio_GSMAMRSampling", u"EncAudio_GSMAMRChannel"},
    {u"EncAudio_EVRCInstances", u"EncAudio_EVRCBitRate", u"EncAudio_EVRCSampling", u"EncAudio_EVRCChannel"},
    {u"EncAudio_AACInstances", u"EncAudio_AACBitRate", u"EncAudio_AACSampling", u"EncAudio_AACChannel"},
};
// Defaults of a codec's bit rate, sampling rate and channels.
const int32_t kCodecDefaults[3][3] = {{4750, 8000, 1}, {9200, 8000, 1}, {16000, 11025, 2}};

std::u16string LayerKey(const char16_t* base, int layer) { return base + Wide(std::to_string(layer)); }

void WriteProfileKeys(Writer& w, const KRSettingsRecords& r, const uint32_t version[3]) {
  const KRVideoEncoderConfig& v = r.video;
  w.Text(u"FileInfo_Version", Wide(std::to_string(int32_t(version[0])) + "." + std::to_string(int32_t(version[1]))));
  w.Text(u"FileInfo_BuildNum", Wide(std::to_string(int32_t(version[2]))));
  w.Short(u"EncVideo_Width", v.width);
  w.Short(u"EncVideo_Height", v.height);
  w.Short(u"EncVideo_Layers", v.layers);
  w.Short(u"EncVideo_FrameInterval", v.iFrameInterval);
  for (int l = 0; l < LayersInUse(v.layers); ++l) {
    w.Long(LayerKey(u"EncVideo_BitrateLayer", l).c_str(), v.bitRate[l]);
    w.Float(LayerKey(u"EncVideo_FramerateLayer", l).c_str(), v.frameRate[l]);
  }
  for (const KRAudioStreamEntry& e : r.audio.stream) {
    if (e.codec < 0 || e.codec > 2 || !e.enabled) continue;
    const char16_t* const* keys = kCodecKeys[e.codec];
    w.Flag(keys[0], true);
    w.Long(keys[1], e.bitRate);
    w.Long(keys[2], e.samplingRate);
    w.Short(keys[3], e.channels);
  }
  w.Unsigned(u"Output_Bandwidth", r.output.bandwidth);
  w.Short(u"Output_StreamType", r.output.streamType);
  w.Text(u"UserStatus_ProfileName", FieldText(r.application.profileName));
  w.Text(u"UserStatus_ProfileDescription", FieldText(r.application.profileDescription));
  w.Short(u"EncVideo_EnableFixedFrame", v.fixedIFrameInterval);
  w.Short(u"Output_EnableDownloadOnly", r.output.downloadOnly);
  w.Short(u"Output_EnableRandomPositioning", r.output.randomPositioning);
  w.Short(u"Output_ClientNoAudio", r.output.clientNoAudio);
  w.Short(u"EncVideo_EnableVideoRandomPosition", v.videoRandomPositioning);
}

void WriteSessionKeys(Writer& w, const KRSettingsRecords& r) {
  const KROutputConfig& o = r.output;
  const KRApplicationConfig& a = r.application;
  w.Short(u"UserStatus_LiveSource", a.liveSource);
  w.Text(u"Output_ImageFileName", FieldText(o.stillImageFileName));
  w.Text(u"UserStatus_InputFileName", FieldText(a.inputFileName));
  w.Short(u"UserStatus_VideoDeviceID", a.videoDeviceIndex);
  w.Short(u"UserStatus_AudioDeviceID", a.audioDeviceIndex);
  w.Text(u"Output_Author", FieldText(o.author));
  w.Text(u"Output_Copyright", FieldText(o.copyright));
  w.Text(u"Output_Description", FieldText(o.description));
  w.Text(u"Output_Rating", FieldText(o.rating));
  w.Text(u"Output_Title", FieldText(o.title));
  w.Short(u"Output_MediaOutType", o.mediaOutputType);
  w.Text(u"Output_OutputFileName", FieldText(o.outputFileName));
  w.Short(u"Output_FileOut", o.fileOutput);
  w.Float(u"UserStatus_MaxDuration", a.maxDuration);
  w.Short(u"UserStatus_DurationUnit", a.durationUnit);
  w.Short(u"UserStatus_MaxSize", int32_t(a.maxSize));
  w.Long(u"UserStatus_PortNum_RTSP", o.rtspPort);
  w.Long(u"UserStatus_PortNum_RTP", int32_t(o.rtpPort));
  w.Long(u"UserStatus_PortNum_RTCP", int32_t(o.rtcpPort));
  w.Short(u"EncVideo_FullSearch", r.video.fullSearch);
  w.Long(u"Output_ContentVersion", o.contentVersion);
}

// ---- reading ----

class Reader {
 public:
  explicit Reader(PropertyStore& store) : store_(store) {}
  // The key's text; false when it is missing (counted) or the get failed
  // (kept: it ends the reading).
  bool Get(const char16_t* key, std::u16string* text, bool counted = true) {
    if (failure_) return false;
    const int32_t r = store_.Get(key, text);
    if (r == KRM_E_MISSING_IDENTIFIER) {
      if (counted) missing_ = true;
      return false;
    }
    if (r != 0) {
      failure_ = r;
      return false;
    }
    return true;
  }
  void Text(const char16_t* key, RecordText& field) {
    std::u16string t;
    SetField(field, Get(key, &t) ? t : std::u16string());
  }
  // "%hd": the low 16 bits of the field; a wider field keeps its upper half.
  template <class Field>
  void Short(const char16_t* key, Field& field, int16_t missing) {
    std::u16string t;
    long long v;
    const uint16_t low = Get(key, &t) && ReadLong(t, &v) ? uint16_t(v) : uint16_t(missing);
    if constexpr (sizeof(Field) == 4)
      field = Field((uint32_t(field) & 0xFFFF0000u) | low);
    else
      field = Field(low);
  }
  template <class Field>
  void Long(const char16_t* key, Field& field, Field missing) {
    std::u16string t;
    long long v;
    field = Get(key, &t) && ReadLong(t, &v) ? Field(v) : missing;
  }
  void Float(const char16_t* key, float& field, float missing) {
    std::u16string t;
    float v;
    field = Get(key, &t) && ReadFloat(t, &v) ? v : missing;
  }
  bool Missing() const { return missing_; }
  int32_t Failure() const { return failure_; }
  int32_t Result() const { return failure_ ? failure_ : missing_ ? KRM_E_MISSING_IDENTIFIER : 0; }

 private:
  PropertyStore& store_;
  bool missing_ = false;
  int32_t failure_ = 0;
};

int32_t ReadProfileKeys(Reader& rd, KRSettingsRecords& r) {
  KRVideoEncoderConfig& v = r.video;
  KROutputConfig& o = r.output;
  std::u16string t;
  for (const char16_t* key : {u"FileInfo_Version", u"FileInfo_BuildNum"}) {
    if (!rd.Get(key, &t, false)) return rd.Failure() ? rd.Failure() : KRM_E_INVALID_PROFILE_FILE;
  }
  rd.Short(u"EncVideo_Width", v.width, 128);
  rd.Short(u"EncVideo_Height", v.height, 96);
  rd.Short(u"EncVideo_Layers", v.layers, 1);
  // The count indexes two-entry arrays.
  v.layers = LayersInUse(v.layers);
  o.width = v.width;
  o.height = v.height;
  o.enhancementLayers = uint32_t(v.layers - 1);
  rd.Short(u"EncVideo_FrameInterval", v.iFrameInterval, 10);
  for (int l = 0; l < v.layers; ++l) {
    rd.Long(LayerKey(u"EncVideo_BitrateLayer", l).c_str(), v.bitRate[l], int32_t(18290));
    rd.Float(LayerKey(u"EncVideo_FramerateLayer", l).c_str(), v.frameRate[l], l == 0 ? 5.0f : 10.0f);
    o.layerBitRate[l] = uint32_t(v.bitRate[l]);
    o.layerFrameRate[l] = v.frameRate[l];
  }
  for (KRAudioStreamEntry& e : r.audio.stream) e = {-1, 0, 0, 0, 0};
  int next = 0;
  for (int codec = 0; codec < 3 && !rd.Failure(); ++codec) {
    const char16_t* const* keys = kCodecKeys[codec];
    long long on = 0;
    if (!rd.Get(keys[0], &t, false) || !ReadLong(t, &on) || int16_t(on) != 1) continue;
    if (next >= kAudioStreamEntries) break;
    KRAudioStreamEntry& e = r.audio.stream[next++];
    e.codec = codec;
    e.enabled = 1;
    rd.Long(keys[1], e.bitRate, kCodecDefaults[codec][0]);
    rd.Long(keys[2], e.samplingRate, kCodecDefaults[codec][1]);
    rd.Short(keys[3], e.channels, int16_t(kCodecDefaults[codec][2]));
  }
  rd.Long(u"Output_Bandwidth", o.bandwidth, uint32_t(23040));
  rd.Short(u"Output_StreamType", o.streamType, 3);
  rd.Text(u"UserStatus_ProfileName", r.application.profileName);
  rd.Text(u"UserStatus_ProfileDescription", r.application.profileDescription);
  rd.Short(u"EncVideo_EnableFixedFrame", v.fixedIFrameInterval, 1);
  rd.Short(u"Output_EnableDownloadOnly", o.downloadOnly, 0);
  rd.Short(u"Output_EnableRandomPositioning", o.randomPositioning, 1);
  rd.Short(u"Output_ClientNoAudio", o.clientNoAudio, 1);
  rd.Short(u"EncVideo_EnableVideoRandomPosition", v.videoRandomPositioning, v.fixedIFrameInterval ? 1 : 0);
  return rd.Result();
}

}  // namespace

std::u16string FloatText(float value) {
  // "%f" of the value, always with a point: to_chars ignores the locale.
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, double(value), std::chars_format::fixed, 6);
  return Wide(std::string(buf, res.ptr));
}

bool ReadFloat(const std::u16string& text, float* value) {
  const std::string s = Narrow(text);
  const char* p = s.c_str();
  while (*p == ' ' || *p == '\t') ++p;
  if (*p == '+') ++p;
  double d;
  const auto res = std::from_chars(p, s.c_str() + s.size(), d);
  if (res.ec != std::errc()) return false;
  *value = float(d);
  return true;
}

int32_t SaveProfile(PropertyStore& store, const KRSettingsRecords& records, const uint32_t version[3],
                    const std::u16string& fileName) {
  Writer w(store);
  WriteProfileKeys(w, records, version);
  if (w.Result()) {
    // The keys already put would go into the next file saved.
    store.Close();
    return w.Result();
  }
  const int32_t saved = store.Save(fileName);
  const int32_t closed = store.Close();
  return saved ? saved : closed;
}

int32_t SaveSession(PropertyStore& store, const KRSettingsRecords& records, const uint32_t version[3],
                    const std::u16string& fileName) {
  Writer w(store);
  WriteProfileKeys(w, records, version);
  WriteSessionKeys(w, records);
  if (w.Result()) {
    store.Close();
    return w.Result();
  }
  if (store.Save(fileName)) {
    store.Close();
    return KRM_E_FUNCTION_FAILED;
  }
  return store.Close();
}

int32_t LoadProfile(PropertyStore& store, KRSettingsRecords& records, const std::u16string& fileName) {
  const int32_t loaded = store.Load(fileName);
  if (loaded) {
    store.Close();
    return loaded;
  }
  Reader rd(store);
  const int32_t read = ReadProfileKeys(rd, records);
  const int32_t closed = store.Close();
  return read ? read : closed;
}

int32_t LoadSession(PropertyStore& store, KRSettingsRecords& records, const std::u16string& fileName,
                    const FileProbe& canOpen) {
  store.Close();
  if (store.Load(fileName)) {
    store.Close();
    return KRM_E_INVALID_FILE_NAME;
  }
  Reader rd(store);
  const int32_t profile = ReadProfileKeys(rd, records);
  if (profile == KRM_E_INVALID_PROFILE_FILE || (profile && profile != KRM_E_MISSING_IDENTIFIER)) {
    store.Close();
    return profile == KRM_E_INVALID_PROFILE_FILE ? KRM_E_INVALID_SESSION_FILE : profile;
  }
  KROutputConfig& o = records.output;
  KRApplicationConfig& a = records.application;
  rd.Text(u"Output_ImageFileName", o.stillImageFileName);
  rd.Text(u"UserStatus_InputFileName", a.inputFileName);
  if (rd.Failure()) {
    store.Close();
    return rd.Failure();
  }
  const std::u16string image = FieldText(o.stillImageFileName), input = FieldText(a.inputFileName);
  if (!image.empty() && !canOpen(image)) {
    store.Close();
    return KRM_E_OPEN_STILL_IMAGE;
  }
  if (!input.empty() && !canOpen(input)) {
    store.Close();
    return KRM_E_OPEN_INPUT_FILE;
  }
  rd.Short(u"UserStatus_LiveSource", a.liveSource, 0);
  rd.Short(u"UserStatus_VideoDeviceID", a.videoDeviceIndex, 0);
  rd.Short(u"UserStatus_AudioDeviceID", a.audioDeviceIndex, 0);
  // Device indices pick from the device tables.
  a.videoDeviceIndex = int16_t(Clamp(a.videoDeviceIndex, 0, kDevices - 1));
  a.audioDeviceIndex = int16_t(Clamp(a.audioDeviceIndex, 0, kDevices - 1));
  rd.Text(u"Output_Author", o.author);
  rd.Text(u"Output_Copyright", o.copyright);
  rd.Text(u"Output_Description", o.description);
  rd.Text(u"Output_Rating", o.rating);
  rd.Text(u"Output_Title", o.title);
  rd.Short(u"Output_MediaOutType", o.mediaOutputType, 1);
  rd.Short(u"Output_FileOut", o.fileOutput, 0);
  rd.Text(u"Output_OutputFileName", o.outputFileName);
  rd.Float(u"UserStatus_MaxDuration", a.maxDuration, 0.0f);
  rd.Short(u"UserStatus_DurationUnit", a.durationUnit, 1);
  rd.Short(u"UserStatus_MaxSize", a.maxSize, 0);
  rd.Long(u"UserStatus_PortNum_RTSP", o.rtspPort, int32_t(7070));
  rd.Long(u"UserStatus_PortNum_RTP", o.rtpPort, uint32_t(0));
  rd.Long(u"UserStatus_PortNum_RTCP", o.rtcpPort, uint32_t(0));
  rd.Short(u"EncVideo_FullSearch", records.video.fullSearch, 0);
  rd.Long(u"Output_ContentVersion", o.contentVersion, int32_t(30));
  const int32_t closed = store.Close();
  if (rd.Failure()) return rd.Failure();
  return rd.Missing() || profile == KRM_E_MISSING_IDENTIFIER ? KRM_E_MISSING_IDENTIFIER : closed;
}

}  // namespace mediaengine
