// Each case names the facility it proves, so a machine that lacks one says
// which in the failure message.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <mmsystem.h>
#include <objbase.h>
#include <strmif.h>
#include <uuids.h>
#include <control.h>

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr UINT_PTR kTimerId = 7;

LRESULT CALLBACK timerWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_TIMER && wp == kTimerId) {
    KillTimer(hwnd, kTimerId);
    PostQuitMessage(42);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

std::string moduleDir() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string p(path);
  return p.substr(0, p.find_last_of("\\/") + 1);
}

}  // namespace

TEST(Smoke, WindowReceivesTimerMessage) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = timerWndProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"SmokeTimerWindow";
  RegisterClassW(&wc);
  HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"smoke", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                              nullptr, wc.hInstance, nullptr);
  ASSERT_NE(hwnd, nullptr) << "facility missing: window creation (no display? Xvfb not running)";
  ASSERT_NE(SetTimer(hwnd, kTimerId, 20, nullptr), 0u) << "facility missing: window timers";
  // Bounded wait: a second timer ends the loop if WM_TIMER never comes.
  UINT_PTR guard = SetTimer(nullptr, 0, 5000, nullptr);
  MSG msg;
  int quitCode = 0;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER && msg.hwnd == nullptr) break;
    DispatchMessageW(&msg);
  }
  if (msg.message == WM_QUIT) quitCode = static_cast<int>(msg.wParam);
  KillTimer(nullptr, guard);
  DestroyWindow(hwnd);
  EXPECT_EQ(quitCode, 42) << "facility missing: WM_TIMER was not delivered to the window within 5 s";
}

TEST(Smoke, WaveOutPlaysInRealTime) {
  WAVEFORMATEX fmt = {};
  fmt.wFormatTag = WAVE_FORMAT_PCM;
  fmt.nChannels = 1;
  fmt.nSamplesPerSec = 8000;
  fmt.wBitsPerSample = 16;
  fmt.nBlockAlign = 2;
  fmt.nAvgBytesPerSec = 16000;
  HANDLE done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HWAVEOUT wo = nullptr;
  MMRESULT r = waveOutOpen(&wo, WAVE_MAPPER, &fmt, reinterpret_cast<DWORD_PTR>(done), 0, CALLBACK_EVENT);
  ASSERT_EQ(r, MMSYSERR_NOERROR) << "facility missing: waveOut device (is PulseAudio running?)";
  WaitForSingleObject(done, 0);  // the open itself signals the event

  // 100 ms of a 440 Hz tone.
  std::vector<short> pcm(800);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<short>(8000 * std::sin(i * 2 * 3.14159265 * 440 / 8000));
  WAVEHDR hdr = {};
  hdr.lpData = reinterpret_cast<LPSTR>(pcm.data());
  hdr.dwBufferLength = static_cast<DWORD>(pcm.size() * sizeof(short));
  ASSERT_EQ(waveOutPrepareHeader(wo, &hdr, sizeof hdr), MMSYSERR_NOERROR);
  LARGE_INTEGER f, t0, t1;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&t0);
  ASSERT_EQ(waveOutWrite(wo, &hdr, sizeof hdr), MMSYSERR_NOERROR);
  while (!(hdr.dwFlags & WHDR_DONE)) {
    if (WaitForSingleObject(done, 3000) == WAIT_TIMEOUT) break;
  }
  QueryPerformanceCounter(&t1);
  double ms = 1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(f.QuadPart);
  EXPECT_TRUE(hdr.dwFlags & WHDR_DONE) << "facility missing: waveOut never completed the buffer";
  // A sink that completes buffers at once would break the player's audio clock.
  EXPECT_GE(ms, 70.0) << "facility missing: waveOut is not real-time (100 ms of PCM done after " << ms << " ms)";
  EXPECT_LE(ms, 1500.0) << "waveOut took " << ms << " ms for 100 ms of PCM";
  waveOutReset(wo);
  waveOutUnprepareHeader(wo, &hdr, sizeof hdr);
  waveOutClose(wo);
  CloseHandle(done);
}

TEST(Smoke, RegistryValueRoundTripUnderHkcu) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Apps\\Kestrune\\SmokeTest", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS)
      << "facility missing: registry (HKCU)";
  DWORD value = 0x12345678;
  ASSERT_EQ(RegSetValueExW(key, L"Probe", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), sizeof value),
            ERROR_SUCCESS);
  DWORD read = 0, size = sizeof read, type = 0;
  ASSERT_EQ(RegQueryValueExW(key, L"Probe", nullptr, &type, reinterpret_cast<BYTE*>(&read), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(read, value);
  RegCloseKey(key);
  RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Apps\\Kestrune\\SmokeTest");
}

TEST(Smoke, WinsockTcpEchoOnLoopback) {
  WSADATA wsa;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0) << "facility missing: Winsock 2";
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_NE(listener, INVALID_SOCKET);
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  int len = sizeof addr;
  getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);

  std::thread echo([listener] {
    SOCKET c = accept(listener, nullptr, nullptr);
    if (c == INVALID_SOCKET) return;
    char buf[64];
    int n = recv(c, buf, sizeof buf, 0);
    if (n > 0) send(c, buf, n, 0);
    closesocket(c);
  });
  SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  DWORD timeout = 3000;
  setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&timeout), sizeof timeout);
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0)
      << "facility missing: TCP connect on 127.0.0.1";
  const char msg[] = "OPTIONS * RTSP/1.0";
  ASSERT_EQ(send(client, msg, sizeof msg, 0), static_cast<int>(sizeof msg));
  char back[64] = {};
  int got = 0;
  while (got < static_cast<int>(sizeof msg)) {
    int n = recv(client, back + got, sizeof back - got, 0);
    if (n <= 0) break;
    got += n;
  }
  closesocket(client);
  echo.join();
  closesocket(listener);
  WSACleanup();
  EXPECT_EQ(got, static_cast<int>(sizeof msg));
  EXPECT_STREQ(back, msg);
}

TEST(Smoke, DirectShowFilterGraphManagerCreates) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  IGraphBuilder* graph = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                reinterpret_cast<void**>(&graph));
  EXPECT_TRUE(SUCCEEDED(hr)) << "facility missing: DirectShow filter graph manager (hr=0x" << std::hex << hr << ")";
  if (graph) {
    IMediaControl* control = nullptr;
    EXPECT_TRUE(SUCCEEDED(graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control))));
    if (control) control->Release();
    graph->Release();
  }
  CoUninitialize();
}

TEST(Smoke, LoadLibraryAndGetProcAddressOnOurDll) {
  std::string path = moduleDir() + SMOKE_PROBE_DLL;
  HMODULE dll = LoadLibraryA(path.c_str());
  ASSERT_NE(dll, nullptr) << "facility missing: LoadLibrary of " << path;
  using AddFn = int(__stdcall*)(int, int);
  auto add = reinterpret_cast<AddFn>(reinterpret_cast<void*>(GetProcAddress(dll, "ProbeAdd@8")));
  if (!add) add = reinterpret_cast<AddFn>(reinterpret_cast<void*>(GetProcAddress(dll, "ProbeAdd")));
  ASSERT_NE(add, nullptr) << "facility missing: GetProcAddress";
  EXPECT_EQ(add(40, 2), 42);
  FreeLibrary(dll);
}
