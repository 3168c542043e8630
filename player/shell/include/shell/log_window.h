// The debug log window "QLTLogWindow": a small always-visible window of
// seven text lines that the engine writes debug lines into when the setting
// "Debug" is non-zero. Lines at y = 0, 14, ... 84 are kept and repainted.
#pragma once

#include <windows.h>

#include "shell/engine_services.h"

class ShellLogWindow : public QLTLogWindow {
 public:
  static constexpr int kRows = 7;
  static constexpr int kLineUnits = 256;

  explicit ShellLogWindow(HINSTANCE instance);
  ~ShellLogWindow() override;
  ShellLogWindow(const ShellLogWindow&) = delete;
  ShellLogWindow& operator=(const ShellLogWindow&) = delete;

  void WriteLine(uint32_t x, uint32_t y, const char16_t* text) override;
  void Close() override;
  // Redraws the window now; 1 when there is a window.
  uint32_t Update() override;
  void Repaint(HDC dc);

  HWND Window() const { return window_; }
  const char16_t* Line(int row) const { return lines_[row]; }

  static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  void Draw(HDC dc, int x, int y, const char16_t* text);

  HWND window_ = nullptr;
  HINSTANCE instance_ = nullptr;
  char16_t lines_[10][kLineUnits] = {};
};
