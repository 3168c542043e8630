// A controller over the test doubles, with a real main window.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "fakes.h"
#include "player_context.h"
#include "player_controller.h"
#include "player_engine.h"

struct TestPlayer {
  TestWindow window;
  FakeShell shell;
  FakeParts parts;
  RecordingObserver observer;
  std::unique_ptr<PlayerController> controller;

  TestPlayer() { controller = std::make_unique<PlayerController>(&shell, &parts); }
  uint32_t Init(const char16_t* commandLine = nullptr) {
    return controller->Init(window.hwnd, GetModuleHandleW(nullptr), &observer, commandLine);
  }
  PlayerEngine* engine() { return controller->Session()->Engine(); }
  PlayerContext* context() { return engine()->Context(); }
  // Runs the start-up timer's ticks by hand until it hands over to Play.
  void FinishStartup() {
    for (int i = 0; i < 200 && engine()->StartupTimerRunning(); ++i) engine()->OnStartupTick();
  }
  // The audio and video threads report their ends; the end-of-clip step
  // then runs from this thread's message loop.
  void EndClip() {
    const size_t before = observer.Calls().size();
    context()->StreamFinished(1);
    context()->StreamFinished(2);
    PumpUntil([&] { return observer.Calls().size() > before; }, 2000);
    PumpPending();
  }
};

// true when want appears in have in this order (other lines may come between).
inline ::testing::AssertionResult InOrder(const std::vector<std::string>& have,
                                          const std::vector<std::string>& want) {
  size_t i = 0;
  for (const std::string& h : have)
    if (i < want.size() && h == want[i]) ++i;
  if (i == want.size()) return ::testing::AssertionSuccess();
  std::string all;
  for (const std::string& h : have) all += "  " + h + "\n";
  return ::testing::AssertionFailure() << "missing \"" << want[i] << "\" in order; calls were:\n" << all;
}

// A file source that opens at once with an AMR and an MPEG-4 video track.
inline void AmrAndVideoFile(FakeSource* s) {
  s->signalOnOpen = true;
  s->AddTrack(1, u"AMR", 12200);
  s->AddTrack(2, u"MP4V-ES", 64000);
}
