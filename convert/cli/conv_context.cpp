#include "conv_context.h"

#include <process.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "volheader/vol_header.h"

namespace {

// Option letters in the order they are looked up: e, h, ?, f, n, i, o.
constexpr int kLetterIds[] = {9, 10, 11, 12, 13, 14, 15};
enum Option { kE, kH, kQ, kF, kN, kI, kO };

constexpr uint32_t FourCC(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 | uint32_t(uint8_t(s[2])) << 8 |
         uint32_t(uint8_t(s[3]));
}

bool EndsWithMp4(const std::string& s) { return s.size() >= 4 && lstrcmpiA(s.c_str() + s.size() - 4, ".mp4") == 0; }

// The '.' of the file name itself, not one in a folder's name.
size_t ExtensionDot(const std::string& s) {
  size_t dot = s.rfind('.');
  size_t slash = s.find_last_of("\\/:");
  return dot != std::string::npos && (slash == std::string::npos || dot > slash) ? dot : std::string::npos;
}

bool ToWide(const std::string& s, std::wstring* out) {
  if (s.empty()) {
    out->clear();
    return true;
  }
  int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, s.data(), int(s.size()), nullptr, 0);
  if (n <= 0) return false;
  out->assign(size_t(n), L'\0');
  return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, s.data(), int(s.size()), out->data(), n) == n;
}

std::string FullPath(const std::string& path) {
  char full[MAX_PATH * 2];
  DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  return n > 0 && n < sizeof full ? std::string(full, n) : path;
}

// A BSTR for one call, freed when the call is done.
class CallText {
 public:
  explicit CallText(const wchar_t* s) : b_(SysAllocString(s)) {}
  ~CallText() { SysFreeString(b_); }
  CallText(const CallText&) = delete;
  CallText& operator=(const CallText&) = delete;
  operator BSTR() const { return b_; }

 private:
  BSTR b_;
};

}  // namespace

int ConvContext::Init() {
  HINSTANCE self = GetModuleHandleA(nullptr);
  for (int id = 1; id < kTexts; ++id) {
    if (LoadStringA(self, UINT(id), texts_[id], sizeof texts_[id]) <= 0) return kResourceError;
  }
  return kSuccess;
}

void ConvContext::Apply(int option, const char* value) {
  switch (option) {
    case kE: errorTable_ = 1; break;
    case kH: help_ = 1; break;
    case kQ: usage_ = 1; break;
    case kF: force_ = 1; break;
    case kN: noVideoOnly_ = 1; break;
    case kI: if (value) input_ = value; break;
    case kO: if (value) output_ = value; break;
  }
}

int ConvContext::ParseArgs(int argc, char** argv) {
  if (argc <= 1) usage_ = 1;
  int pending = -1;
  bool sawOption = false;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (a[0] == '-' || a[0] == '/') {
      sawOption = true;
      if (pending >= 0) Apply(pending, nullptr);
      pending = -1;
      for (int k = 0; k < 7; ++k) {
        if (std::strcmp(a + 1, Text(kLetterIds[k])) == 0) pending = k;
      }
      if (pending < 0) return kInvalidSyntax;
      if (i == argc - 1) {
        Apply(pending, nullptr);
        pending = -1;
      }
    } else if (pending >= 0) {
      Apply(pending, a);
      pending = -1;
    }
  }
  if (!sawOption) usage_ = 1;
  if (help_) {
    PrintHelp();
    return kPrinted;
  }
  if (usage_) {
    PrintUsage();
    return kPrinted;
  }
  if (errorTable_) {
    PrintErrorTable();
    return kPrinted;
  }
  return kSuccess;
}

int ConvContext::CreateObjects() {
  if (FAILED(CoInitialize(nullptr))) return kComError;
  comStarted_ = true;
  if (FAILED(CoCreateInstance(CLSID_IMpeg4FileV2, nullptr, CLSCTX_INPROC_SERVER, IID_IIMpeg4FileV2,
                              reinterpret_cast<void**>(&reader_))))
    return kInputDll;
  if (FAILED(CoCreateInstance(CLSID_IMpeg4FileV3, nullptr, CLSCTX_INPROC_SERVER, IID_IIMpeg4FileV3,
                              reinterpret_cast<void**>(&writer_))))
    return kOutputDll;
  return kSuccess;
}

int ConvContext::PrepareNames() {
  if (input_.size() > kMaxPath) return kBadInputName;
  std::string base;
  if (EndsWithMp4(input_) && input_.size() > 4) {
    base = input_.substr(0, input_.size() - 4);
  } else if (size_t dot = ExtensionDot(input_); dot != std::string::npos) {
    base = input_.substr(0, dot);
  } else {
    base = input_;
    input_ += ".mp4";
    if (input_.size() > kMaxPath) return kBadInputName;
  }
  if (FILE* f = std::fopen(input_.c_str(), "r")) {
    std::fclose(f);
  } else {
    return kCannotOpenInput;
  }

  if (output_.empty()) {
    output_ = base + "-3.mp4";
  } else if (!EndsWithMp4(output_) && ExtensionDot(output_) == std::string::npos) {
    output_ += ".mp4";
  }
  if (output_.size() > kMaxPath) return kBadOutputName;
  // Overwriting the input would destroy what is being converted.
  if (lstrcmpiA(FullPath(output_).c_str(), FullPath(input_).c_str()) == 0) return kOutputExists;
  if (FILE* f = std::fopen(output_.c_str(), "r")) {
    std::fclose(f);
    if (!force_) return kOutputExists;
  }
  std::remove(output_.c_str());
  FILE* trial = std::fopen(output_.c_str(), "w");
  if (!trial) return kWriteError;
  std::fclose(trial);
  std::remove(output_.c_str());

  if (!ToWide(input_, &wideInput_)) return kBadInputName;
  if (!ToWide(output_, &wideOutput_)) return kBadOutputName;

  char temp[kMaxPath + 2];
  DWORD n = GetEnvironmentVariableA("TEMP", temp, sizeof temp);
  if (n > 0) {
    if (n > kMaxPath) return kBadTemp;
    std::string folder(temp, n);
    if (folder.back() != '\\') folder += '\\';
    if (folder.size() > kMaxPath || !ToWide(folder, &wideTemp_)) return kBadTemp;
  } else {
    size_t at = wideOutput_.find(L".mp4");
    wideTemp_ = at == std::wstring::npos || at == 0 ? L"" : wideOutput_.substr(0, at);
  }
  wchar_t name[64];
  swprintf(name, 64, L"%d_%ld", _getpid(), long(std::time(nullptr)));
  wideTempName_ = name;
  return kSuccess;
}

template <class Read>
int ConvContext::ReadGrowing(Read read) {
  int got = 0;
  if (buffer_.empty()) buffer_.resize(1);
  read(buffer_.data(), int(buffer_.size()), &got);
  if (got < 0) {
    // The sample did not fit and was left where it is: read it again.
    buffer_.resize(size_t(-int64_t(got)));
    read(buffer_.data(), int(buffer_.size()), &got);
  }
  return got;
}

int ConvContext::Fail(int code) {
  reader_->Destroy();
  writer_->close();
  DeleteFileW(wideOutput_.c_str());
  return code;
}

int ConvContext::Convert() {
  std::printf("Convorn %s\n", Text(45));
  bool opened = false;
  try {
    CallText name(wideInput_.c_str());
    opened = SUCCEEDED(reader_->readMP4File(name));
  } catch (...) {
    opened = false;
  }
  if (!opened) {
    reader_->Destroy();
    return kCannotOpenInput;
  }
  int fileType = 0, scalability = 0;
  reader_->getFileType(&fileType);
  reader_->getScalability(&scalability);
  {
    CallText folder(wideTemp_.c_str()), name(wideTempName_.c_str());
    if (FAILED(writer_->createMP4File(fileType, scalability, folder, name))) return Fail(kCannotCreateOutput);
  }

  // Clip texts through one caller buffer of 512 characters.
  BSTR text = SysAllocStringLen(nullptr, 512);
  if (!text) return Fail(kUnexpectedInput);
  text[0] = L'\0';
  reader_->getVersion(&text);
  std::wstring version = text;
  for (const char* part : {" converted to 3.0 by Convorn ", Text(46), " ", Text(45)}) {
    std::wstring w;
    ToWide(std::string(part).substr(0, 499), &w);
    version += w;
  }
  version.resize(std::min<size_t>(version.size(), 511));  // the buffer's room
  writer_->setVersion(CallText(version.c_str()));
  using Get = HRESULT (STDMETHODCALLTYPE IIMpeg4FileV2::*)(BSTR*);
  using Set = HRESULT (STDMETHODCALLTYPE IIMpeg4FileV3::*)(BSTR);
  const std::pair<Get, Set> texts[] = {
      {&IIMpeg4FileV2::getTitle, &IIMpeg4FileV3::setTitle},
      {&IIMpeg4FileV2::getCopyright, &IIMpeg4FileV3::setCopyright},
      {&IIMpeg4FileV2::getAuthor, &IIMpeg4FileV3::setAuthor},
      {&IIMpeg4FileV2::getDescription, &IIMpeg4FileV3::setDescription},
      {&IIMpeg4FileV2::getRating, &IIMpeg4FileV3::setRating},
  };
  for (const auto& [get, set] : texts) {
    text[0] = L'\0';
    (reader_->*get)(&text);
    (writer_->*set)(CallText(text));
  }
  SysFreeString(text);

  writer_->setFileFlagA(0);
  writer_->setFileReserved(reserved_);
  writer_->setVideoOnlyAllowed(noVideoOnly_ ? 0 : 1);
  writer_->setFileFlagB(1);
  writer_->setFileMode(3, 0);
  SYSTEMTIME now;
  GetSystemTime(&now);
  wchar_t stamp[64];
  swprintf(stamp, 64, L"%u%02u%02uT%02u%02u%02u.%uZ", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
           now.wSecond, now.wMilliseconds);
  writer_->setCreationTime(CallText(stamp));

  auto addTrack = [&](const char (&handler)[5], int kind, ULONG scale, bool full) {
    LONG t = 0;
    writer_->addTrack(FourCC(handler), kind, &t);
    if (full) writer_->setTrackReserved(t, reserved_);
    writer_->setTrackMode(t, 3, 0);
    if (full) writer_->setTrackTimescale(t, scale);
    return t;
  };
  LONG audio = 0, base = 0, enhancement = 0, still = 0;
  if (fileType & 1) {
    audio = addTrack("soun", 1, 8000, true);
    ULONG rate = 0;
    reader_->getAudioStreamBitrate(0, &rate);
    writer_->setTrackBitrate(audio, rate);
  }
  if (fileType & 2) {
    base = addTrack("vide", 1, 1000, true);
    ULONG rate = 0;
    reader_->getVideoStreamBitrate(0, &rate);
    writer_->setTrackBitrate(base, rate);
    if (scalability & 1) {
      LONG t = 0;
      writer_->addTrack(FourCC("vide"), 1, &t);
      enhancement = t;
      writer_->setTrackDependency(enhancement, base);
      writer_->setTrackReserved(enhancement, reserved_);
      writer_->setTrackMode(enhancement, 3, 0);
      writer_->setTrackTimescale(enhancement, 1000);
      rate = 0;
      reader_->getVideoStreamBitrate(1, &rate);
      writer_->setTrackBitrate(enhancement, rate);
    }
  }
  if (fileType & 4) still = addTrack("vide", 3, 0, false);

  int code = kSuccess;
  if (fileType & 2) code = ConvertVideo(base, enhancement, scalability);
  if (code == kSuccess && (fileType & 1)) code = ConvertAudio(audio);
  if (code == kSuccess && (fileType & 4)) code = ConvertStill(still);
  if (code == kReadError) return Fail(kReadError);
  if (code == kSuccess) {
    if (FAILED(writer_->writeMP4File(CallText(wideOutput_.c_str())))) code = kWriteError;
  }
  reader_->Destroy();
  writer_->close();
  if (code != kSuccess) DeleteFileW(wideOutput_.c_str());
  return code;
}

int ConvContext::ConvertVideo(LONG base, LONG enhancement, int scalability) {
  std::printf("%s\n", Text(37));
  ULONG size = 0;
  reader_->getMaxVideoBufferSizeDB(0, &size);
  if (scalability & 1) {
    ULONG second = 0;
    reader_->getMaxVideoBufferSizeDB(1, &second);
    size = std::max(size, second);
    std::printf("%s\n", Text(40));
  }
  buffer_.assign(std::max<ULONG>(size, 1), 0);
  const ULONG protocols[] = {FourCC("krbl"), FourCC("krts"), FourCC("krss"), FourCC("krst")};
  const ULONG protocol = protocols[std::clamp(scalability, 0, 3)];
  bool configured[2] = {false, false};
  auto next = [&](unsigned char* b, int n, int* got) { reader_->getNextVideoSample(b, n, got); };
  for (int count = ReadGrowing(next); count > 0; count = ReadGrowing(next)) {
    ULONG stamp = 0;
    reader_->getTimestampForCurrentVideoSample(&stamp);
    unsigned char flags = 0, layer = 0;
    reader_->getNextVideoHintSampleFlagsAndLayer(protocol, &flags, &layer);
    const int index = layer == 1 && enhancement ? 1 : 0;
    const LONG target = index ? enhancement : base;
    const unsigned char* data = buffer_.data();
    if (!configured[index]) {
      volheader::VolRewrite r;
      r.data = data;
      r.length = size_t(count);
      if (!volheader::RewriteVolHeader(&r, index)) return kReadError;
      writer_->setDecoderConfig(r.out, int(r.outLength), target);
      data += r.length;
      count -= int(r.length);
      configured[index] = true;
    }
    if (FAILED(writer_->addSample(target, const_cast<unsigned char*>(data), count, stamp, flags))) return kWriteError;
  }
  return kSuccess;
}

int ConvContext::ConvertAudio(LONG track) {
  std::printf("%s\n", Text(38));
  ULONG size = 0;
  reader_->getMaxAudioBufferSizeDB(0, &size);
  buffer_.assign(std::max<ULONG>(size, 1), 0);
  auto next = [&](unsigned char* b, int n, int* got) { reader_->getNextAudioSample(b, n, 0, got); };
  for (int count = ReadGrowing(next); count > 0; count = ReadGrowing(next)) {
    ULONG stamp = 0;
    reader_->getTimestampForCurrentAudioSample(0, &stamp);
    // Milliseconds become ticks of the 8000 Hz time scale.
    if (FAILED(writer_->addSample(track, buffer_.data(), count, stamp * 8, 0))) return kWriteError;
  }
  return kSuccess;
}

int ConvContext::ConvertStill(LONG track) {
  std::printf("%s\n", Text(39));
  ULONG size = 0;
  reader_->getMaxVideoBufferSizeDB(0, &size);
  buffer_.assign(std::max<ULONG>(size, 1), 0);
  auto next = [&](unsigned char* b, int n, int* got) { reader_->getNextVideoSample(b, n, got); };
  int count = ReadGrowing(next);
  const unsigned char* data = buffer_.data();
  if (count > 0) {
    volheader::VolRewrite r;
    r.data = data;
    r.length = size_t(count);
    if (!volheader::RewriteVolHeader(&r, 0)) return kReadError;
    writer_->setDecoderConfig(r.out, int(r.outLength), track);
    data += r.length;
    count -= int(r.length);
  }
  while (count > 0) {
    ULONG stamp = 0;
    reader_->getTimestampForCurrentVideoSample(&stamp);
    if (FAILED(writer_->addSample(track, const_cast<unsigned char*>(data), count, stamp, 0))) return kWriteError;
    count = ReadGrowing(next);
    data = buffer_.data();
  }
  return kSuccess;
}

void ConvContext::PrintError(int code) const {
  int id;
  switch (code) {
    case 1: case 2: case 3: case 4: case 5: case 6: id = code; break;
    case 7: id = 30; break;
    case 8: id = 31; break;
    case 9: id = 34; break;
    case 10: id = 35; break;
    case 11: id = 36; break;
    case 90: id = 7; break;
    case 91: id = 8; break;
    case 92: id = 29; break;
    case 93: id = 33; break;
    default: id = 41; break;
  }
  std::printf("%s %d: %s\n", Text(44), code, Text(id));
}

void ConvContext::PrintHelp() const {
  std::printf("\n%s\n\n%s\n  (%s)\n\n", Text(19), Text(20), Text(45));
  const int letters[] = {14, 15, 13, 12, 9, 10, 11};
  for (int i = 0; i < 7; ++i) std::printf("  -%s\t%s\n", Text(letters[i]), Text(21 + i));
  std::printf("\n%s\n", Text(28));
  for (int id : {16, 17, 18}) std::printf("   %s\n", Text(id));
}

void ConvContext::PrintUsage() const { std::printf("\n%s\n  (%s)\n\n", Text(20), Text(45)); }

void ConvContext::PrintErrorTable() const {
  std::printf("\n%s\n\n", Text(32));
  const int ids[] = {1, 2, 3, 4, 5, 6, 7, 8, 34, 35, 36};
  for (int code = 1; code <= 11; ++code) std::printf("\t%d\t%s\n", code, Text(ids[code - 1]));
  const int late[] = {30, 31, 29, 33};
  for (int code = 90; code <= 93; ++code) std::printf("\t%d\t%s\n", code, Text(late[code - 90]));
}

void ConvContext::Release() {
  if (reader_) reader_->Release();
  reader_ = nullptr;
  if (writer_) writer_->Release();
  writer_ = nullptr;
  if (comStarted_) CoUninitialize();
  comStarted_ = false;
}
