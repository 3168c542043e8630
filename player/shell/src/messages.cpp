#include "shell/messages.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "shell/portable/message_text.h"
#include "shell/portable/settings_values.h"
#include "shell/settings_store.h"
#include "shell/win_api_table.h"

namespace {

std::atomic<MessageBoxFunction> g_messageBox{nullptr};

int Box(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style) {
  MessageBoxFunction f = g_messageBox.load();
  return (f ? f : &MessageBoxW)(owner, text, caption, style);
}

std::string Utf8(const wchar_t* text) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return std::string();
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
  out.pop_back();
  return out;
}

void LogLine(HINSTANCE instance, const wchar_t* text) {
  std::wstring line(text);
  line += L'\n';
  InstrumentLogText(instance, line.c_str());
}

}  // namespace

HWND PlayerMainWindow(HINSTANCE instance) {
  wchar_t className[64];
  if (WinApi().LoadStringW(instance, 3, className, 64) <= 0) return nullptr;
  return WinApi().FindWindowW(className, nullptr);
}

int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style) {
  return Box(owner, text, caption, style);
}

void SetMessageBoxForTesting(MessageBoxFunction function) { g_messageBox.store(function); }

int IsInstrumentLogOn(HINSTANCE instance) {
  wchar_t name[kSettingStringCapacity] = {};
  return ReadSettingStringById(instance, shell::kInstrumentTesting, name) && name[0] != 0 ? 1 : 0;
}

void InstrumentLogText(HINSTANCE instance, const wchar_t* text) {
  wchar_t name[kSettingStringCapacity] = {};
  if (!text || !ReadSettingStringById(instance, shell::kInstrumentTesting, name) || name[0] == 0) return;
  FILE* file = _wfopen(name, L"a+");
  if (!file) return;
  if (text[0] == L'\n' && text[1] == 0) {
    std::fputs("\n", file);
  } else {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    char prefix[20];
    shell::FormatLogTimePrefix(now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                               prefix);
    std::fputs(prefix, file);
    std::fputs(Utf8(text).c_str(), file);
  }
  std::fclose(file);
}

void InstrumentLog(HINSTANCE instance, const wchar_t* format, ...) {
  if (!format || !IsInstrumentLogOn(instance)) return;
  if (format[0] == L'\n' && format[1] == 0) {
    InstrumentLogText(instance, format);
    return;
  }
  wchar_t text[1024];
  va_list args;
  va_start(args, format);
  const int n = std::vswprintf(text, 1024, format, args);
  va_end(args);
  // A line longer than the buffer is cut, never left unterminated.
  if (n < 0) text[1023] = 0;
  InstrumentLogText(instance, text);
}

int ShowMessage(HINSTANCE instance, UINT id, const wchar_t* argument, UINT style) {
  const bool logOn = IsInstrumentLogOn(instance) != 0;
  if (id == 0) {
    if (logOn) {
      LogLine(instance, argument ? argument : L"");
      return 0;
    }
    return Box(PlayerMainWindow(instance), argument, nullptr, style);
  }
  const shell::MessageLook look = shell::MessageLookFor(id, style);
  wchar_t caption[shell::kMessageCapacity] = {};
  if (look.captionId != 0 && WinApi().LoadStringW(instance, look.captionId, caption, shell::kMessageCapacity) <= 0)
    caption[0] = 0;

  wchar_t pattern[shell::kMessageCapacity] = {};
  wchar_t text[shell::kMessageCapacity] = {};
  if (WinApi().LoadStringW(instance, id, pattern, shell::kMessageCapacity) <= 0) {
    shell::FormatMissingStringText(id, reinterpret_cast<char16_t*>(text), shell::kMessageCapacity);
    if (logOn) {
      LogLine(instance, text);
      return 0;
    }
    return Box(PlayerMainWindow(instance), text, L"!! Debug Message !!", look.style);
  }
  shell::FormatMessageText(reinterpret_cast<const char16_t*>(pattern), reinterpret_cast<const char16_t*>(argument),
                           reinterpret_cast<char16_t*>(text), shell::kMessageCapacity);
  if (logOn) {
    LogLine(instance, text);
    return 0;
  }
  return Box(PlayerMainWindow(instance), text, look.captionId ? caption : nullptr, look.style | MB_SETFOREGROUND);
}
