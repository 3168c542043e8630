// The application object: OLE start, the message loop with its
// pre-translate chain (application filter, frame, view) and idle updates,
// a registry store for its own settings, the single-document template,
// and the services a program asks for at start: control containment
// (AtlAxWin), rich-edit controls, HTML Help.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "appframe/command.h"
#include "appframe/frame.h"
#include "appframe/settings.h"
#include "appframe/view.h"

namespace appf {

// Resource id (menu, accelerators, icon, document string) and the three
// classes of a single-document program.
class SingleDocTemplate {
 public:
  SingleDocTemplate(HINSTANCE module, UINT resourceId, std::function<std::unique_ptr<Document>()> newDocument,
                    std::function<std::unique_ptr<FrameWindow>()> newFrame,
                    std::function<std::unique_ptr<View>()> newView);
  ~SingleDocTemplate();
  // A new document in a new frame (the first time) or in the frame there
  // is; null when the document, the frame or its client cannot be made.
  Document* OpenNewDocument(int show);
  Document* CurrentDocument() const { return document_.get(); }
  FrameWindow* Frame() const { return frame_.get(); }
  UINT ResourceId() const { return resourceId_; }
  // The frame window class (the default when empty).
  void SetFrameClass(const std::wstring& name) { frameClass_ = name; }
  // Destroys the frame's window (if any) and forgets frame and document.
  void Close();

 private:
  HINSTANCE module_;
  UINT resourceId_;
  std::function<std::unique_ptr<Document>()> newDocument_;
  std::function<std::unique_ptr<FrameWindow>()> newFrame_;
  std::function<std::unique_ptr<View>()> newView_;
  std::wstring frameClass_;
  std::unique_ptr<Document> document_;
  std::unique_ptr<FrameWindow> frame_;
};

class Application : public CommandTarget {
 public:
  explicit Application(std::wstring name);
  ~Application() override;
  static Application* Current();

  // The whole life: OLE, InitInstance, the loop, ExitInstance; the exit
  // code. False from InitInstance ends at once (code of ExitInstance).
  int Main(HINSTANCE instance, const wchar_t* commandLine, int show);
  virtual bool InitInstance() { return true; }
  virtual int ExitInstance();

  // The message loop until WM_QUIT; its code.
  int Run();
  // One message before dispatch: the application filter, then the main
  // frame (accelerators), then the view the message is for.
  virtual bool PreTranslateMessage(MSG* message);
  // The application's own filter, first in the chain.
  virtual bool ProcessMessageFilter(MSG* message) {
    (void)message;
    return false;
  }
  // With an empty queue: status panes follow their update handlers. True
  // for more idle calls.
  virtual bool OnIdle(LONG count);

  // Services.
  bool EnableControlContainer();
  // "RICHEDIT" (riched32.dll) and Rich Edit 2.0 (riched20.dll, unless a
  // RICHED20.DLL is loaded already).
  bool EnableRichEdit();
  // HtmlHelp through hhctrl.ocx; null window when it cannot be called.
  HWND HtmlHelp(HWND owner, const std::wstring& file, UINT command, DWORD_PTR data);

  // Settings under HKEY_CURRENT_USER\Software\<key>\<name>, and a recent
  // file list of `recentCount` entries (shown in no menu).
  void SetRegistryKey(const std::wstring& key);
  void LoadStdProfileSettings(size_t recentCount);
  Settings& Profile() { return settings_; }
  RecentFiles& Recent() { return recent_; }

  void AddDocTemplate(std::unique_ptr<SingleDocTemplate> docTemplate);
  SingleDocTemplate* DocTemplate() const { return template_.get(); }
  // The framework's new-document command: the template opens one.
  bool OnFileNew();

  FrameWindow* MainFrame() const { return mainFrame_; }
  void SetMainFrame(FrameWindow* frame) { mainFrame_ = frame; }
  HINSTANCE Instance() const { return instance_; }
  const std::wstring& CommandLine() const { return commandLine_; }
  // How the template shows a new frame (Main takes the program's).
  int ShowCommand() const { return show_; }
  void SetShowCommand(int show) { show_ = show; }
  const std::wstring& Name() const { return name_; }
  void SetExitCode(int code) { exitCode_ = code; }
  int ExitCode() const { return exitCode_; }

 protected:
  HINSTANCE instance_ = nullptr;
  std::wstring commandLine_;
  int show_ = SW_SHOWNORMAL;

 private:
  std::wstring name_;
  FrameWindow* mainFrame_ = nullptr;
  std::unique_ptr<SingleDocTemplate> template_;
  Settings settings_;
  RecentFiles recent_;
  int exitCode_ = 0;
  bool oleStarted_ = false;
};

}  // namespace appf
