// Orlomer, the player program: the shell's start-up with the skinned main
// window, and a player controller over the engine's standard parts (local
// files, the audio path over the decoder libraries beside the program, the
// video playout thread, the streaming client's clock).
#include <windows.h>

#include "player_controller.h"
#include "shell/main_window.h"
#include "shell/shell_services.h"
#include "shell/startup.h"
#include "standard_parts.h"

namespace {

class OrlomerParts : public ShellStartupParts {
 public:
  ShellMainWindow* NewMainWindow(HINSTANCE instance, bool* failed) override {
    auto* window = new MainWindow(instance, failed);
    if (*failed) {
      delete window;
      return nullptr;
    }
    return window;
  }
  PlayerController* NewController() override { return new PlayerController(&services, &parts); }

  ShellServices services;
  StandardEngineParts parts{&services};
};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  OrlomerParts parts;
  return PlayerWinMain(instance, commandLine, &parts);
}
