// The control's side of the settings model: the engine, the file system and
// message boxes behind `SettingsHost`, the file checks of `srcFileName` and
// `OutputFileName`, and the settings dispatch methods.
#include <cstdlib>
#include <string>

#include "atl/module.h"
#include "control.h"
#include "text.h"

namespace {

using namespace ctlvane;

// The framework's file failure cause of a Windows error.
int FileFailureCause(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND: return 2;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_DIRECTORY: return 3;
    case ERROR_TOO_MANY_OPEN_FILES: return 4;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT: return 5;
    case ERROR_INVALID_HANDLE: return 6;
    case ERROR_SEEK: return 9;
    case ERROR_SHARING_VIOLATION: return 11;
    case ERROR_LOCK_VIOLATION: return 12;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return 13;
    case ERROR_HANDLE_EOF: return 14;
    default: return 1;  // a generic failure: no text of its own
  }
}

void SetText(VARIANT* v, std::u16string_view text) {
  VariantClear(v);
  V_VT(v) = VT_BSTR;
  V_BSTR(v) = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
}
void SetShort(VARIANT* v, SHORT value) {
  VariantClear(v);
  V_VT(v) = VT_I2;
  V_I2(v) = value;
}
void SetLong(VARIANT* v, LONG value) {
  VariantClear(v);
  V_VT(v) = VT_I4;
  V_I4(v) = value;
}
void SetBool(VARIANT* v, bool value) {
  VariantClear(v);
  V_VT(v) = VT_BOOL;
  V_BOOL(v) = value ? VARIANT_TRUE : VARIANT_FALSE;
}

// A VARIANT argument's text: a string, or a reference to one; `given` is
// false for an argument left out.
bool VariantString(const VARIANT& v, std::u16string* text, bool* given) {
  *given = !(V_VT(&v) == VT_ERROR && V_ERROR(&v) == DISP_E_PARAMNOTFOUND) && V_VT(&v) != VT_EMPTY;
  const VARIANT* s = V_VT(&v) == (VT_BYREF | VT_VARIANT) ? V_VARIANTREF(&v) : &v;
  BSTR b = nullptr;
  if (V_VT(s) == VT_BSTR) b = V_BSTR(s);
  else if (V_VT(s) == (VT_BYREF | VT_BSTR)) b = *V_BSTRREF(s);
  else return false;
  *text = b ? U16(b, SysStringLen(b)) : std::u16string();
  return true;
}

}  // namespace

// What the settings model asks of the engine, the disk and the user.
class CKRActiveCtrl::SettingsHostImpl : public SettingsHost {
 public:
  explicit SettingsHostImpl(CKRActiveCtrl& control) : c_(control) {}

  bool FileInfo(std::u16string_view path, SourceInfo* info) override {
    atl::ComPtr<IGenFromFile> file;
    if (!c_.engine_ || FAILED(c_.engine_->QueryInterface(IID_IGenFromFile, file.OutVoid())) || !file) return false;
    KRSourceFileInfo record = {};
    if (FAILED(file->GetSourceFileInfo(Wide(path).c_str(), &record))) return false;
    *info = SourceInfoFrom(record);
    info->fileName = std::u16string(path);
    return true;
  }
  bool CaptureSizes(int device, std::vector<Size>* sizes) override {
    atl::ComPtr<IGenFromLive> live;
    if (!c_.engine_ || FAILED(c_.engine_->QueryInterface(IID_IGenFromLive, live.OutVoid())) || !live) return false;
    if (FAILED(live->SelectDevice(device, 0))) return false;
    KRVideoCaptureCapabilities caps = {};
    if (FAILED(live->GetVideoCaptureCapabilities(&caps))) return false;
    for (int32_t i = 0; caps.sizes && i < caps.count; ++i) sizes->push_back(Size{caps.sizes[i][0], caps.sizes[i][1]});
    free(caps.sizes);  // the engine's realloc, one runtime for both
    return true;
  }
  bool SelectAudioDevice(int device) override {
    atl::ComPtr<IGenFromLive> live;
    if (!c_.engine_ || FAILED(c_.engine_->QueryInterface(IID_IGenFromLive, live.OutVoid())) || !live) return false;
    return SUCCEEDED(live->SelectDevice(device, 1));
  }
  bool StillImageSize(std::u16string_view path, Size* size) override {
    atl::ComPtr<IGenFromFile> file;
    if (!c_.engine_ || FAILED(c_.engine_->QueryInterface(IID_IGenFromFile, file.OutVoid())) || !file) return false;
    LONG flag = 0, bytes = 0;
    BITMAPINFOHEADER* header = nullptr;
    if (FAILED(file->GetImgInfo(Wide(path).c_str(), &flag, &header, &bytes)) || !header) return false;
    *size = Size{header->biWidth, header->biHeight < 0 ? -header->biHeight : header->biHeight};
    CoTaskMemFree(header);
    return true;
  }
  int TrialCreate(std::u16string_view path) override {
    const std::wstring name = Wide(path);
    // An existing file is opened for writing and left as it is.
    HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND)
      h = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE,
                      nullptr);
    if (h == INVALID_HANDLE_VALUE) return FileFailureCause(GetLastError());
    CloseHandle(h);
    return 0;
  }
  void Report(HResult code) override { c_.ReportError(code); }
  void Show(const std::vector<Message>& lines, unsigned captionId, bool warning) override {
    std::u16string text;
    for (const Message& m : lines) text += (text.empty() ? u"" : u"\n\n") + FormatText(m, &LoadText);
    const std::u16string caption = LoadText(captionId ? captionId : kCaptionTextId);
    MessageBoxW(c_.ControlWindow(), Wide(text).c_str(), Wide(caption).c_str(),
                MB_OK | (warning ? MB_ICONEXCLAMATION : MB_ICONINFORMATION));
  }

 private:
  CKRActiveCtrl& c_;
};

SourceInfo SourceInfoFrom(const KRSourceFileInfo& record) {
  SourceInfo s;
  const size_t n = wcsnlen(record.fileName, std::size(record.fileName));
  s.fileName = U16(record.fileName, n);
  s.width = record.width;
  s.height = record.height;
  s.bitsPerPixel = record.bitsPerPixel;
  s.frameRate = record.frameRate;
  s.duration = record.duration;
  s.audioStreams = record.audioStreams;
  s.videoStreams = record.videoStreams;
  return s;
}

std::u16string CKRActiveCtrl::SettingsText(const Message& message) { return FormatText(message, &LoadText); }

void CKRActiveCtrl::InitSettings() {
  settingsHost_ = std::make_unique<SettingsHostImpl>(*this);
  wchar_t folder[MAX_PATH + 1] = {};
  GetCurrentDirectoryW(MAX_PATH + 1, folder);
  settings_.folders.fill(U16(folder));
  BindMethod(77, [this](olectl::DispArgs& a, VARIANT* r) {
    Message m;
    const HRESULT hr = settings_.ValidateInputSource(*settingsHost_, &m);
    AfterCommit();
    SetText(a.Out(0), SettingsText(m));
    SetLong(r, hr);
    return S_OK;
  });
  BindMethod(98, [this](olectl::DispArgs& a, VARIANT* r) {
    Message m;
    const HRESULT hr = settings_.ValidateOutputFile(*settingsHost_, &m);
    SetText(a.Out(0), SettingsText(m));
    SetLong(r, hr);
    return S_OK;
  });
  BindMethod(80, [this](olectl::DispArgs& a, VARIANT* r) {
    const AudioEntry entry{a.Short(1), a.Bool(2), a.Long(3), a.Long(4), a.Short(5)};
    SetLong(r, SettingsModel::ConfigAudioCodec(*settingsHost_, records_.audio, a.Short(0), entry));
    return S_OK;
  });
  BindMethod(81, [this](olectl::DispArgs& a, VARIANT* r) {
    AudioEntry entry;
    const HRESULT hr = SettingsModel::GetConfigAudioCodec(*settingsHost_, records_.audio, a.Short(0), &entry);
    if (SUCCEEDED(hr)) {
      SetShort(a.Out(1), static_cast<SHORT>(entry.codec));
      SetBool(a.Out(2), entry.enabled);
      SetLong(a.Out(3), entry.samplingRate);
      SetLong(a.Out(4), entry.bitRate);
      SetShort(a.Out(5), entry.channels);
    }
    SetLong(r, hr);
    return S_OK;
  });
  BindMethod(78, [this](olectl::DispArgs& a, VARIANT* r) {
    HRESULT result = S_OK;
    for (size_t i = 0; i < 4; ++i) {
      std::u16string path;
      bool given = false;
      const bool text = VariantString(a.In(i), &path, &given);
      if (!given) continue;
      HRESULT refusal = !text ? kBadParameter : path.size() > 255 ? kStringTooLong : S_OK;
      if (refusal == S_OK) {
        settings_.folders[i] = path;
        continue;
      }
      ReportError(refusal);
      result = refusal;
    }
    SetLong(r, result);
    return S_OK;
  });
  BindMethod(79, [this](olectl::DispArgs&, VARIANT* r) {
    SAFEARRAY* list = SafeArrayCreateVector(VT_BSTR, 0, 4);
    if (!list) return E_OUTOFMEMORY;
    for (LONG i = 0; i < 4; ++i) {
      const std::wstring folder = Wide(settings_.folders[static_cast<size_t>(i)]);
      BSTR b = SysAllocStringLen(folder.c_str(), static_cast<UINT>(folder.size()));
      SafeArrayPutElement(list, &i, b);  // copies the string
      SysFreeString(b);
    }
    VariantClear(r);
    V_VT(r) = VT_ARRAY | VT_BSTR;
    V_ARRAY(r) = list;
    return S_OK;
  });
  BindMethod(76, [this](olectl::DispArgs&, VARIANT* r) {
    SetLong(r, ShowPropDlg(1, u""));
    return S_OK;
  });
  BindMethod(82, [this](olectl::DispArgs& a, VARIANT* r) {
    std::u16string text;
    bool given = false;
    HRESULT hr = S_OK;
    if (!VariantString(a.In(1), &text, &given)) hr = kBadParameter;
    else if (text.size() >= 256) hr = kStringTooLong;
    if (hr != S_OK) ReportError(hr);
    else hr = ShowPropDlg(a.Short(0), text);
    SetLong(r, hr);
    return S_OK;
  });
}

HRESULT CKRActiveCtrl::ShowPropDlg(int page, std::u16string_view text) {
  if (!ShowSettingsSheet(page, text)) {
    ReportError(kCannotShowPages);
    return kCannotShowPages;
  }
  return S_OK;
}

bool CKRActiveCtrl::ShowSettingsSheet(int page, std::u16string_view text) {
  // The sheet edits the working settings; OK commits them.
  settings_.ReloadWorkingSettings();
  if (!settingsSheet_ || !settingsSheet_(page, text)) return false;
  settings_.CommitSettings(*settingsHost_);
  AfterCommit();
  return true;
}

void CKRActiveCtrl::AfterCommit() {
  PropertiesFromRecords();
  const Size capture = settings_.captureSize;
  // A capture size of 0 x 0 (none listed holds the encoding size) is no
  // size a capture device can take; the previous one stays.
  if (capture.width > 0 && capture.height > 0) {
    capWidth_ = static_cast<SHORT>(capture.width);
    capHeight_ = static_cast<SHORT>(capture.height);
    accepted_[kCapWidth] = capWidth_;
    accepted_[kCapHeight] = capHeight_;
  }
}

HRESULT CKRActiveCtrl::CheckSourceFile(const std::u16string& name) {
  Message message;
  if (name.empty()) {
    settings_.sourceValid = false;
    return S_OK;
  }
  if (!IsMediaFileName(name, &message)) return kInvalidValue;
  // Without an engine the file's facts wait for the start.
  if (!engine_) {
    settings_.sourceValid = false;
    return S_OK;
  }
  SourceInfo info;
  if (!settingsHost_->FileInfo(name, &info)) return kInvalidValue;
  if (info.HasPicture()) {
    if (info.width <= info.height) return kSourceNotWider;
    if (!CheckSourceDimensions(info, &message)) return kWrongInputDimensions;
  }
  settings_.source = info;
  settings_.sourceValid = true;
  return S_OK;
}

bool CKRActiveCtrl::CheckOutputFileName(std::u16string* name) {
  // A name for a stream alone is only kept; it is checked once a file is
  // written (ValidateOutputFile, the start).
  if (!OutputGoesToFile(records_.output)) return true;
  Message message;
  return SettingsModel::CheckOutputFile(*settingsHost_, kFileOutput, name, &message);
}
