#include "appframe/app.h"

#include <ole2.h>

#include "window/control_host.h"

namespace appf {

namespace {

Application* g_current = nullptr;

}  // namespace

SingleDocTemplate::SingleDocTemplate(HINSTANCE module, UINT resourceId,
                                     std::function<std::unique_ptr<Document>()> newDocument,
                                     std::function<std::unique_ptr<FrameWindow>()> newFrame,
                                     std::function<std::unique_ptr<View>()> newView)
    : module_(module),
      resourceId_(resourceId),
      newDocument_(std::move(newDocument)),
      newFrame_(std::move(newFrame)),
      newView_(std::move(newView)) {}

SingleDocTemplate::~SingleDocTemplate() { Close(); }

void SingleDocTemplate::Close() {
  // The windows go first, while every view and the document still exist.
  if (frame_) frame_->Destroy();
  frame_.reset();
  document_.reset();
}

Document* SingleDocTemplate::OpenNewDocument(int show) {
  bool made = false;
  if (!document_) {
    document_ = newDocument_ ? newDocument_() : std::make_unique<Document>();
    if (!document_) return nullptr;
    made = true;
  }
  if (!frame_) {
    frame_ = newFrame_ ? newFrame_() : std::make_unique<FrameWindow>();
    CreateContext context{document_.get(), newView_};
    if (!frame_ || !frame_->LoadFrame(module_, resourceId_, &context, frameClass_.c_str())) {
      Close();
      return nullptr;
    }
    made = true;
  }
  if (!document_->OnNewDocument()) {
    if (made) Close();
    return nullptr;
  }
  frame_->InitialUpdateFrame(document_.get(), show);
  return document_.get();
}

Application::Application(std::wstring name) : name_(std::move(name)) {
  g_current = this;
  OnCommand(kIdFileNew, [this] { OnFileNew(); });
  OnCommand(kIdAppExit, [this] {
    if (mainFrame_ && mainFrame_->Handle()) SendMessageW(mainFrame_->Handle(), WM_CLOSE, 0, 0);
  });
}

Application::~Application() {
  template_.reset();
  if (g_current == this) g_current = nullptr;
}

Application* Application::Current() { return g_current; }

int Application::Main(HINSTANCE instance, const wchar_t* commandLine, int show) {
  instance_ = instance;
  commandLine_ = commandLine ? commandLine : L"";
  show_ = show;
  if (FAILED(OleInitialize(nullptr))) return -1;
  oleStarted_ = true;
  if (InitInstance()) {
    int loop = Run();
    if (exitCode_ == 0) exitCode_ = loop;
  }
  int code = ExitInstance();
  if (template_) template_->Close();
  mainFrame_ = nullptr;
  OleUninitialize();
  oleStarted_ = false;
  return code;
}

int Application::ExitInstance() {
  if (recent_.Size()) recent_.Save();
  return exitCode_;
}

int Application::Run() {
  MSG message = {};
  LONG idle = 0;
  for (;;) {
    while (!PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE)) {
      if (!OnIdle(idle++)) break;
    }
    BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == -1) return -1;
    if (got == 0) return static_cast<int>(message.wParam);
    if (!PreTranslateMessage(&message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    // Painting and the system's caret timer change no command state.
    if (message.message != WM_PAINT && message.message != 0x0118) idle = 0;
  }
}

bool Application::PreTranslateMessage(MSG* message) {
  if (ProcessMessageFilter(message)) return true;
  FrameWindow* frame = mainFrame_;
  if (!frame || !frame->Handle() || !message->hwnd) return false;
  if (message->hwnd != frame->Handle() && !IsChild(frame->Handle(), message->hwnd)) return false;
  // The frame first (its accelerators), then the view holding the window:
  // a form view's dialog navigation would take the keys otherwise.
  if (frame->PreTranslateMessage(message)) return true;
  Document* document = frame->ActiveDocument();
  if (!document) return false;
  for (View* view : document->Views()) {
    HWND h = view->Handle();
    if (h && (h == message->hwnd || IsChild(h, message->hwnd))) return view->PreTranslateMessage(message);
  }
  return false;
}

bool Application::OnIdle(LONG count) {
  if (count == 0 && mainFrame_ && mainFrame_->Handle()) mainFrame_->OnIdleUpdate();
  return false;
}

bool Application::EnableControlContainer() { return win::EnableControlHosting(); }

bool Application::EnableRichEdit() {
  bool first = LoadLibraryW(L"riched32.dll") != nullptr;
  bool second = GetModuleHandleW(L"RICHED20.DLL") != nullptr || LoadLibraryW(L"riched20.dll") != nullptr;
  return first && second;
}

HWND Application::HtmlHelp(HWND owner, const std::wstring& file, UINT command, DWORD_PTR data) {
  using HtmlHelpFn = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);
  static HtmlHelpFn help = [] () -> HtmlHelpFn {
    HMODULE module = LoadLibraryW(L"hhctrl.ocx");
    if (!module) return nullptr;
    return reinterpret_cast<HtmlHelpFn>(reinterpret_cast<void*>(GetProcAddress(module, "HtmlHelpW")));
  }();
  if (!help) return nullptr;
  return help(owner, file.c_str(), command, data);
}

void Application::SetRegistryKey(const std::wstring& key) { settings_.SetKey(L"Software\\" + key + L"\\" + name_); }

void Application::LoadStdProfileSettings(size_t recentCount) {
  recent_.Attach(&settings_, recentCount);
  recent_.Load();
}

void Application::AddDocTemplate(std::unique_ptr<SingleDocTemplate> docTemplate) {
  template_ = std::move(docTemplate);
}

bool Application::OnFileNew() {
  if (!template_) return false;
  Document* document = template_->OpenNewDocument(show_);
  if (document && !mainFrame_) mainFrame_ = template_->Frame();
  return document != nullptr;
}

}  // namespace appf
