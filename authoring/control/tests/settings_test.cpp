// The settings methods and the file checks of the control inside the test
// program, with a scripted engine behind IGenFromFile and IGenFromLive:
// srcFileName and OutputFileName, ValidateInputSource and
// ValidateOutputFile with their texts, the audio entries, the dialog
// folders, the property sheet's seam and the commit it runs.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "atl/module.h"
#include "atl/object.h"
#include "com_client.h"
#include "control.h"
#include "control_testing.h"
#include "host_testing.h"

namespace {

using atl::Bstr;
using atl::ComPtr;
using E = EventSink::Event;

VARIANT Missing() {
  VARIANT x;
  V_VT(&x) = VT_ERROR;
  V_ERROR(&x) = DISP_E_PARAMNOTFOUND;
  return x;
}

// The engine's file and live sources as far as the settings use them.
class ScriptedEngine : public IGenFromFile, public IGenFromLive {
 public:
  std::map<std::wstring, KRSourceFileInfo> files;
  std::vector<std::pair<int32_t, int32_t>> captureSizes;
  std::vector<std::wstring> calls;

  void AddFile(const std::wstring& name, int32_t w, int32_t h, int32_t audio = 1, int32_t video = 1) {
    KRSourceFileInfo info = {};
    wcsncpy(info.fileName, name.c_str(), 255);
    info.width = w;
    info.height = h;
    info.bitsPerPixel = 24;
    info.frameRate = 15;
    info.duration = 10;
    info.audioStreams = audio;
    info.videoStreams = video;
    files[name] = info;
  }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IGenFromFile)) {
      *out = static_cast<IGenFromFile*>(this);
    } else if (IsEqualIID(iid, IID_IGenFromLive)) {
      *out = static_cast<IGenFromLive*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }

  STDMETHODIMP GetSourceFileInfo(LPCWSTR name, KRSourceFileInfo* info) override {
    calls.push_back(std::wstring(L"GetSourceFileInfo ") + name);
    auto f = files.find(name);
    if (f == files.end()) return static_cast<HRESULT>(0x800A03EC);
    *info = f->second;
    return S_OK;
  }
  STDMETHODIMP SelectDevice(LONG index, LONG kind) override {
    calls.push_back(L"SelectDevice " + std::to_wstring(index) + L" " + std::to_wstring(kind));
    return index == 0 ? S_OK : static_cast<HRESULT>(0x800A03F6);
  }
  STDMETHODIMP GetVideoCaptureCapabilities(void* record) override {
    auto* caps = static_cast<KRVideoCaptureCapabilities*>(record);
    caps->count = static_cast<int32_t>(captureSizes.size());
    caps->sizes = static_cast<int32_t(*)[2]>(malloc(captureSizes.size() * sizeof(int32_t[2]) + 1));
    for (size_t i = 0; i < captureSizes.size(); ++i) {
      caps->sizes[i][0] = captureSizes[i].first;
      caps->sizes[i][1] = captureSizes[i].second;
    }
    caps->highestFrameRate = 30;
    return S_OK;
  }

  STDMETHODIMP SetSourceFileName(LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP StartEncode(LONG) override { return E_NOTIMPL; }
  STDMETHODIMP StartPreview(LONG) override { return E_NOTIMPL; }
  STDMETHODIMP GetDSEvent(LONG*, LONG_PTR*, LONG_PTR*) override { return E_NOTIMPL; }
  STDMETHODIMP GetDSEventHandle(HANDLE*) override { return E_NOTIMPL; }
  STDMETHODIMP FreeDSEvent(LONG, LONG_PTR, LONG_PTR) override { return E_NOTIMPL; }
  STDMETHODIMP Stop() override { return E_NOTIMPL; }
  STDMETHODIMP SetPreviewType(LONG) override { return E_NOTIMPL; }
  STDMETHODIMP GetStreamTime(double*) override { return E_NOTIMPL; }
  STDMETHODIMP GetImgInfo(LPCWSTR, LONG*, BITMAPINFOHEADER**, LONG*) override { return E_NOTIMPL; }
  STDMETHODIMP GetDecodedImg(BITMAPINFOHEADER*, BYTE**) override { return E_NOTIMPL; }
  STDMETHODIMP SaveImgFile(LPCWSTR, LONG, BYTE*) override { return E_NOTIMPL; }
  STDMETHODIMP ConfigVideoCapture(void*) override { return E_NOTIMPL; }
  STDMETHODIMP GetConfigVideoCapture(void*) override { return E_NOTIMPL; }
  STDMETHODIMP DisplayVideoCaptureDlg(LONG, HWND) override { return E_NOTIMPL; }
  STDMETHODIMP DisplayVidCaptureDlg(LONG, HWND) override { return E_NOTIMPL; }
  STDMETHODIMP GetDeviceNames(LONG, void*, void*) override { return E_NOTIMPL; }
  STDMETHODIMP StartPreview(LONG, LONG) override { return E_NOTIMPL; }
  STDMETHODIMP Stop(SHORT) override { return E_NOTIMPL; }
  STDMETHODIMP GetCurrentMediaTime(double*) override { return E_NOTIMPL; }
  STDMETHODIMP GetCurrentImage(LONG*, BYTE**) override { return E_NOTIMPL; }
  STDMETHODIMP InitLive() override { return E_NOTIMPL; }
};

std::wstring Folder() {
  wchar_t folder[MAX_PATH + 1] = {};
  GetCurrentDirectoryW(MAX_PATH + 1, folder);
  return folder;
}

class Settings : public InProcessControl {
 protected:
  void SetUp() override {
    InProcessControl::SetUp();
    if (HasFatalFailure()) return;
    // The engine's defaults, as a bound control has them.
    mediaengine::ResetToDefaults(control_->Records());
    scratch_ = Folder() + L"\\ctlvane_settings_scratch";
    CreateDirectoryW(scratch_.c_str(), nullptr);
  }
  void TearDown() override {
    if (control_) control_->SetEngine(nullptr);
    InProcessControl::TearDown();
    RemoveDirectoryW(scratch_.c_str());
  }
  IDispatch* D() { return dispatch_.Get(); }
  HRESULT Put(DISPID id, VARIANT value) {
    Call c;
    Invoke(D(), id, DISPATCH_PROPERTYPUT, {value}, &c);
    return c.hr;
  }
  HRESULT PutText(DISPID id, const std::wstring& text) {
    Bstr b(text.c_str());
    return Put(id, VText(b));
  }
  std::wstring Get(DISPID id) {
    Call c;
    Invoke(D(), id, DISPATCH_PROPERTYGET, {}, &c);
    EXPECT_EQ(c.hr, S_OK) << "get " << id;
    return VariantText(c.result.Get());
  }

  std::wstring scratch_;
};

TEST_F(Settings, SourceFileNameIsCheckedByTheEngineFacts) {
  // Without an engine only the name's extension is looked at.
  EXPECT_EQ(PutText(17, L"C:\\media\\clip.avi"), S_OK);
  EXPECT_EQ(PutText(17, L"C:\\media\\notes.txt"), S_OK);
  EXPECT_EQ(Get(17), L"C:\\media\\clip.avi");
  EXPECT_EQ(sink_.events, (std::vector<E>{KRError(0x800A03F3, L"Invalid value")}));
  EXPECT_FALSE(control_->Settings().sourceValid);

  ScriptedEngine engine;
  engine.AddFile(L"C:\\m\\tall.avi", 96, 128);
  engine.AddFile(L"C:\\m\\square.avi", 240, 240);
  engine.AddFile(L"C:\\m\\huge.avi", 801, 600);
  engine.AddFile(L"C:\\m\\clip.avi", 320, 240);
  engine.AddFile(L"C:\\m\\song.wav", 0, 0, 1, 0);
  control_->SetEngine(static_cast<IGenFromFile*>(&engine));
  const struct {
    const wchar_t* name;
    uint32_t refusal;
    const wchar_t* text;
  } cases[] = {
      {L"C:\\m\\tall.avi", 0x800A041D,
       L"The source width must be greater than source height.  Please specify a new source."},
      {L"C:\\m\\square.avi", 0x800A041D,
       L"The source width must be greater than source height.  Please specify a new source."},
      {L"C:\\m\\huge.avi", 0x800A0406, L"Wrong input dimensions"},
      {L"C:\\m\\gone.avi", 0x800A03F3, L"Invalid value"},
      {L"C:\\m\\song.wav", 0, nullptr},  // no picture to measure
      {L"C:\\m\\clip.avi", 0, nullptr},
  };
  for (const auto& c : cases) {
    sink_.events.clear();
    const std::wstring before = Get(17);
    EXPECT_EQ(PutText(17, c.name), S_OK);
    if (c.refusal) {
      EXPECT_EQ(Get(17), before) << c.name;
      EXPECT_EQ(sink_.events, (std::vector<E>{KRError(c.refusal, c.text)})) << c.name;
    } else {
      EXPECT_EQ(Get(17), c.name);
      EXPECT_TRUE(sink_.events.empty()) << c.name;
    }
  }
  EXPECT_TRUE(control_->Settings().sourceValid);
  EXPECT_EQ(control_->Settings().source.width, 320);
  EXPECT_EQ(control_->Settings().source.frameRate, 15.0f);
}

TEST_F(Settings, OutputFileNameGetsItsExtensionAndATrialCreateThatKeepsFiles) {
  ASSERT_EQ(Put(9, V(1)), S_OK);  // to a file
  const std::wstring fresh = scratch_ + L"\\clip";
  EXPECT_EQ(PutText(11, fresh), S_OK);
  EXPECT_EQ(Get(11), fresh + L".mp4");
  EXPECT_EQ(GetFileAttributesW((fresh + L".mp4").c_str()), INVALID_FILE_ATTRIBUTES) << "the trial file is gone";

  const std::wstring kept = scratch_ + L"\\kept.MP4";
  { std::ofstream(std::string(kept.begin(), kept.end()), std::ios::binary) << "content"; }
  EXPECT_EQ(PutText(11, kept), S_OK);
  EXPECT_EQ(Get(11), kept);
  std::ifstream back(std::string(kept.begin(), kept.end()), std::ios::binary);
  std::string content((std::istreambuf_iterator<char>(back)), std::istreambuf_iterator<char>());
  back.close();
  EXPECT_EQ(content, "content") << "an existing file is not touched";
  DeleteFileW(kept.c_str());

  EXPECT_TRUE(sink_.events.empty());
  for (const std::wstring& bad : {scratch_ + L"\\no such folder\\clip.mp4", scratch_ + L"\\"}) {
    sink_.events.clear();
    EXPECT_EQ(PutText(11, bad), S_OK);
    EXPECT_EQ(Get(11), kept) << bad;
    EXPECT_EQ(sink_.events, (std::vector<E>{KRError(0x800A03EC, L"Invalid file name")})) << bad;
  }
  // A streamed output keeps the name as it is given.
  ASSERT_EQ(Put(9, V(4)), S_OK);
  EXPECT_EQ(PutText(11, fresh), S_OK);
  EXPECT_EQ(Get(11), fresh);
}

TEST_F(Settings, ValidateInputSourceFitsCommitsAndAnswersWithItsText) {
  ScriptedEngine engine;
  engine.AddFile(L"C:\\m\\small.avi", 160, 120);
  control_->SetEngine(static_cast<IGenFromFile*>(&engine));
  ASSERT_EQ(Put(1, V(176)), S_OK);
  ASSERT_EQ(Put(3, V(144)), S_OK);
  ASSERT_EQ(Put(12, V(0)), S_OK);
  ASSERT_EQ(PutText(17, L"C:\\m\\small.avi"), S_OK);
  ASSERT_EQ(PutText(24, L"Web"), S_OK);
  ASSERT_EQ(PutText(11, scratch_ + L"\\old.mp4"), S_OK);
  sink_.events.clear();

  Outs text(1);
  Call c;
  Invoke(D(), 77, DISPATCH_METHOD, text.refs, &c);
  EXPECT_EQ(Result(c), S_OK);
  EXPECT_EQ(text.Text(),
            L"The specified source dimensions are smaller than the current settings.  The encoding video size has "
            L"been changed to 160 x 120.");
  EXPECT_EQ(Get(1), L"160");
  EXPECT_EQ(Get(3), L"120");
  EXPECT_EQ(control_->Records().output.width, 160);
  EXPECT_EQ(Get(11), scratch_ + L"\\Web_small.mp4");
  EXPECT_TRUE(sink_.events.empty());

  ASSERT_EQ(PutText(17, L"C:\\m\\gone.avi"), S_OK);  // refused: the name stays
  const wchar_t gone[] = L"C:\\m\\gone.avi";
  memcpy(control_->Records().application.inputFileName, gone, sizeof gone);
  sink_.events.clear();
  Outs failure(1);
  Invoke(D(), 77, DISPATCH_METHOD, failure.refs, &c);
  EXPECT_EQ(static_cast<uint32_t>(Result(c)), 0x800A0426u);
  EXPECT_EQ(failure.Text(), L"Unable to Open the Input File: C:\\m\\gone.avi");
  EXPECT_EQ(sink_.events, (std::vector<E>{KRError(0x800A0426, L"Validate input source failed")}));
}

TEST_F(Settings, ValidateInputSourceForACaptureDeviceChoosesTheCaptureSize) {
  ScriptedEngine engine;
  engine.captureSizes = {{160, 120}, {176, 144}, {352, 288}};
  control_->SetEngine(static_cast<IGenFromFile*>(&engine));
  ASSERT_EQ(Put(12, V(1)), S_OK);
  ASSERT_EQ(Put(10, V(2)), S_OK);
  ASSERT_EQ(Put(1, V(176)), S_OK);
  ASSERT_EQ(Put(3, V(144)), S_OK);
  Outs text(1);
  Call c;
  Invoke(D(), 77, DISPATCH_METHOD, text.refs, &c);
  EXPECT_EQ(Result(c), S_OK);
  EXPECT_EQ(text.Text(), L"");
  EXPECT_EQ(Get(15), L"176");
  EXPECT_EQ(Get(16), L"144");
  EXPECT_EQ(engine.calls, std::vector<std::wstring>{L"SelectDevice 0 0"});
}

TEST_F(Settings, ValidateOutputFileNamesTheReason) {
  const wchar_t name[] = L"C:\\no such folder\\x.mp4";
  memcpy(control_->Records().output.outputFileName, name, sizeof name);
  Outs text(1);
  Call c;
  Invoke(D(), 98, DISPATCH_METHOD, text.refs, &c);
  EXPECT_EQ(static_cast<uint32_t>(Result(c)), 0x800A03ECu);
  EXPECT_EQ(text.Text(),
            L"All or part of the path C:\\no such folder\\x.mp4 is invalid  Please select another output file.");
  EXPECT_EQ(sink_.events, (std::vector<E>{KRError(0x800A03EC, L"Invalid file name")}));

  ASSERT_EQ(PutText(11, scratch_ + L"\\fine.mp4"), S_OK);
  sink_.events.clear();
  Invoke(D(), 98, DISPATCH_METHOD, text.refs, &c);
  EXPECT_EQ(Result(c), S_OK);
  EXPECT_TRUE(sink_.events.empty());
}

TEST_F(Settings, AudioEntriesThroughTheDispatchMethods) {
  const struct {
    LONG index, codec;
    bool enable;
    LONG sampling, rate;
    uint32_t result;
    std::vector<E> events;
  } cases[] = {
      {1, 0, true, 8000, 12200, 0, {}},
      {2, 2, true, 44100, 64000, 0, {}},
      {0, 0, true, 8000, 7950, 0x800A03F4, {KRError(0x800A03F4, L"Bad parameter")}},
      {5, 0, true, 8000, 12200, 0x800A03F4, {KRError(0x800A03F4, L"Bad parameter")}},
      {3, 7, true, 8000, 12200, 0x800A0421, {}},
  };
  for (const auto& k : cases) {
    sink_.events.clear();
    Call c;
    Invoke(D(), 80, DISPATCH_METHOD, {V(k.index), V(k.codec), VBool(k.enable), V(k.sampling), V(k.rate), V(2)}, &c);
    EXPECT_EQ(static_cast<uint32_t>(Result(c)), k.result) << k.index << " " << k.codec;
    EXPECT_EQ(sink_.events, k.events) << k.index << " " << k.codec;
  }
  EXPECT_EQ(control_->Records().audio.stream[1].bitRate, 12200);
  EXPECT_EQ(control_->Records().audio.stream[1].enabled, 1);
  Outs entry(5);
  std::vector<VARIANT> args = {V(2)};
  args.insert(args.end(), entry.refs.begin(), entry.refs.end());
  Call c;
  Invoke(D(), 81, DISPATCH_METHOD, args, &c);
  EXPECT_EQ(Result(c), S_OK);
  EXPECT_EQ(entry.Text(), L"2,true,44100,64000,2");
  sink_.events.clear();
  args[0] = V(5);
  Invoke(D(), 81, DISPATCH_METHOD, args, &c);
  EXPECT_EQ(static_cast<uint32_t>(Result(c)), 0x800A03F4u);
  EXPECT_EQ(sink_.events, (std::vector<E>{KRError(0x800A03F4, L"Bad parameter")}));
}

TEST_F(Settings, DialogFoldersTakeStringsOfAtMost255Characters) {
  Bstr input(L"C:\\in"), profile(L"C:\\profiles"), tooLong(std::wstring(256, L'o').c_str());
  Call c;
  Invoke(D(), 78, DISPATCH_METHOD, {VText(input), Missing(), VText(tooLong), VText(profile)}, &c);
  EXPECT_EQ(static_cast<uint32_t>(Result(c)), 0x800A03FBu);
  EXPECT_EQ(sink_.events, (std::vector<E>{KRError(0x800A03FB, L"The given string is too long")}));
  Invoke(D(), 79, DISPATCH_METHOD, {}, &c);
  ASSERT_EQ(c.hr, S_OK);
  ASSERT_EQ(V_VT(&c.result.Get()), VT_ARRAY | VT_BSTR);
  SAFEARRAY* list = V_ARRAY(&c.result.Get());
  std::vector<std::wstring> folders;
  for (LONG i = 0; i < 4; ++i) {
    BSTR b = nullptr;
    ASSERT_EQ(SafeArrayGetElement(list, &i, &b), S_OK);
    folders.emplace_back(b ? b : L"");
    SysFreeString(b);
  }
  EXPECT_EQ(folders, (std::vector<std::wstring>{L"C:\\in", Folder(), Folder(), L"C:\\profiles"}));
  sink_.events.clear();
  Invoke(D(), 78, DISPATCH_METHOD, {V(3), Missing(), Missing(), Missing()}, &c);
  EXPECT_EQ(static_cast<uint32_t>(Result(c)), 0x800A03F4u) << "a path is a string";
}

TEST_F(Settings, PropertySheetSeamCommitsOnOkOnly) {
  Call c;
  Invoke(D(), 76, DISPATCH_METHOD, {}, &c);
  EXPECT_EQ(static_cast<uint32_t>(Result(c)), 0x800A0425u) << "no sheet to show yet";
  Bstr longText(std::wstring(256, L't').c_str()), page(L"Codec");
  const struct {
    VARIANT text;
    uint32_t result;
  } refusals[] = {{V(1), 0x800A03F4}, {VText(longText), 0x800A03FB}};
  for (const auto& r : refusals) {
    sink_.events.clear();
    Invoke(D(), 82, DISPATCH_METHOD, {V(2), r.text}, &c);
    EXPECT_EQ(static_cast<uint32_t>(Result(c)), r.result);
    EXPECT_EQ(sink_.events.size(), 1u);
  }

  // A sheet that changes the bit rate on the working settings.
  int shownPage = 0;
  std::u16string shownText;
  bool ok = false;
  control_->SetSettingsSheet([&](int p, std::u16string_view t) {
    shownPage = p;
    shownText = std::u16string(t);
    control_->Settings().working.video.bitRate[0] = 4321;
    return ok;
  });
  Invoke(D(), 82, DISPATCH_METHOD, {V(3), VText(page)}, &c);
  EXPECT_EQ(static_cast<uint32_t>(Result(c)), 0x800A0425u) << "Cancel";
  EXPECT_EQ(shownPage, 3);
  EXPECT_EQ(shownText, u"Codec");
  EXPECT_NE(Get(4), L"4321");
  ok = true;
  sink_.events.clear();
  Invoke(D(), 76, DISPATCH_METHOD, {}, &c);
  EXPECT_EQ(Result(c), S_OK);
  EXPECT_EQ(shownPage, 1);
  EXPECT_EQ(Get(4), L"4321");
  EXPECT_TRUE(sink_.events.empty());

  // A still image stream without an image: the commit tells the user and
  // runs audio only.
  ASSERT_EQ(Put(10, V(5)), S_OK);
  DialogCloser user(L"Error occurred in KRActive", 10000);
  Invoke(D(), 76, DISPATCH_METHOD, {}, &c);
  EXPECT_TRUE(user.Seen());
  EXPECT_EQ(Result(c), S_OK);
  EXPECT_EQ(Get(10), L"1");
}

TEST_F(Settings, DurationLimitFollowsMaxDurationAndItsUnit) {
  ASSERT_EQ(Put(22, V(2)), S_OK);
  VARIANT d;
  V_VT(&d) = VT_R8;
  V_R8(&d) = 2.5;
  ASSERT_EQ(Put(21, d), S_OK);
  EXPECT_EQ(control_->Settings().durationLimit, 150);
  ASSERT_EQ(Put(22, V(3)), S_OK);
  EXPECT_EQ(control_->Settings().durationLimit, 9000);
}

}  // namespace
