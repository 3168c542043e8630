#include "wave_out_device.h"

#include <new>

#include "engine/audio_timing.h"
#include "engine/player_ids.h"
#include "player_context.h"

WaveOutApi* WaveOutApi::System() {
  static WaveOutApi system;
  return &system;
}

WaveOutDevice::WaveOutDevice(uint32_t* ok, uint32_t channels, uint32_t rate, uint32_t bits, PlayerContext* ctx,
                             uint32_t count, WaveOutApi* a)
    : api(a ? a : WaveOutApi::System()), context(ctx), bufferCount(count ? count : 1) {
  *ok = 0;
  buffers = new WaveBuffer[bufferCount];
  if (audio_timing::FormatAcceptable(channels, rate, bits)) {
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<WORD>(channels);
    format.nSamplesPerSec = rate;
    format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    format.nAvgBytesPerSec = format.nBlockAlign * rate;
    format.wBitsPerSample = static_cast<WORD>(bits);
    format.cbSize = 0;
    bytesPerSecond = bits / 8 * channels * rate;
    *ok = 1;
  }
  freeEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  queueReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  volumeWord = 50;
}

WaveOutDevice::~WaveOutDevice() {
  context = nullptr;
  if (handle) {
    api->Reset(handle);
    AwaitReturns(1000);
    api->Close(handle);
    handle = nullptr;
  }
  EndCallbackThread();
  if (freeEvent) CloseHandle(freeEvent);
  if (queueReady) CloseHandle(queueReady);
  FreeBuffers();
  delete[] buffers;
}

void WaveOutDevice::SetCallback(Completion c, void* ctx) {
  completion = c;
  completionContext = ctx;
}

void WaveOutDevice::ClearCounters() {
  InterlockedExchange(&buffersOutstanding, 0);
  InterlockedExchange(&queuedMs, 0);
}

bool WaveOutDevice::StartCallbackThread() {
  if (callbackThread) return true;
  ResetEvent(queueReady);
  DWORD id = 0;
  callbackThread = CreateThread(nullptr, 0, CallbackThread, this, CREATE_SUSPENDED, &id);
  if (!callbackThread) return false;
  callbackThreadId = id;
  SetThreadPriority(callbackThread, THREAD_PRIORITY_ABOVE_NORMAL);
  ResumeThread(callbackThread);
  // The device posts to the thread's queue from the open on.
  WaitForSingleObject(queueReady, 3000);
  return true;
}

void WaveOutDevice::EndCallbackThread() {
  if (!callbackThread) return;
  const DWORD id = callbackThreadId;
  callbackThreadId = 0;
  // Completions already posted are handled before the quit.
  if (id) PostThreadMessageW(id, WM_QUIT, 0, 0);
  WaitForSingleObject(callbackThread, 3000);
  CloseHandle(callbackThread);
  callbackThread = nullptr;
}

DWORD WINAPI WaveOutDevice::CallbackThread(LPVOID p) {
  auto* self = static_cast<WaveOutDevice*>(p);
  MSG msg;
  PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // makes the queue
  SetEvent(self->queueReady);
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == MM_WOM_DONE) self->OnDone(reinterpret_cast<WAVEHDR*>(msg.lParam));
    if (self->callbackThreadId == 0) break;
  }
  return 0;
}

void WaveOutDevice::OnDone(WAVEHDR* header) {
  if (!header) return;
  const LONG ms = bytesPerSecond ? static_cast<LONG>(uint64_t(header->dwBufferLength) * 1000 / bytesPerSecond) : 0;
  // Never below zero: a flush has already cleared what is coming back.
  LONG before = queuedMs;
  for (;;) {
    const LONG after = before >= ms ? before - ms : 0;
    const LONG seen = InterlockedCompareExchange(&queuedMs, after, before);
    if (seen == before) break;
    before = seen;
  }
  if (completion) completion(completionContext, static_cast<uint32_t>(header->dwUser));
  for (uint32_t i = 0; i < bufferCount; ++i) {
    WaveBuffer& b = buffers[i];
    if (&b.header != header || !b.prepared) continue;
    api->Unprepare(handle, &b.header);
    b.prepared = false;  // the data block stays with its slot
  }
  InterlockedDecrement(&buffersOutstanding);
  SetEvent(freeEvent);
}

uint32_t WaveOutDevice::Open() {
  if (api->GetNumDevs() == 0) return 0;
  if (handle) {
    ClearCounters();
    return 0;
  }
  if (api->Open(nullptr, WAVE_MAPPER, &format, 0, 0, WAVE_FORMAT_QUERY) == WAVERR_BADFORMAT) return 0;
  if (!StartCallbackThread()) return 0;
  MMRESULT r = MMSYSERR_ALLOCATED;
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    r = api->Open(&handle, WAVE_MAPPER, &format, callbackThreadId, reinterpret_cast<DWORD_PTR>(this),
                  CALLBACK_THREAD);
    if (r != MMSYSERR_ALLOCATED) break;
    handle = nullptr;
    api->Sleep(kBusyPauseMs);
  }
  ClearCounters();
  if (r == MMSYSERR_NOERROR) {
    ringIndex = 0;
    SetEvent(freeEvent);
    return 1;
  }
  handle = nullptr;
  // A thread of a failed open has nothing to wait for.
  EndCallbackThread();
  if (r == MMSYSERR_ALLOCATED && context) context->ReportError(ids::kMsgAudioDeviceBusy, static_cast<const char16_t*>(nullptr), 0, true);
  return 0;
}

void WaveOutDevice::FreeBuffers() {
  for (uint32_t i = 0; i < bufferCount; ++i) {
    WaveBuffer& b = buffers[i];
    if (b.prepared && handle) api->Unprepare(handle, &b.header);
    b.prepared = false;
    delete[] b.data;
    b = WaveBuffer{};
  }
}

bool WaveOutDevice::AllocateBuffers(uint32_t bytes) {
  if (buffersOutstanding > 0) AwaitReturns(1000);
  FreeBuffers();
  bufferBytes = bytes;
  ringIndex = 0;
  for (uint32_t i = 0; i < bufferCount; ++i) {
    buffers[i].capacity = bytes;
    buffers[i].data = new (std::nothrow) uint8_t[bytes ? bytes : 1];
    if (!buffers[i].data) return false;
  }
  return true;
}

uint8_t* WaveOutDevice::GetFreeBuffer() {
  if (static_cast<uint32_t>(buffersOutstanding) >= bufferCount) return nullptr;
  WaveBuffer& b = buffers[ringIndex];
  if (b.prepared) return nullptr;  // still with the device
  return b.data;
}

uint32_t WaveOutDevice::QueueBuffer(uint32_t sequence) {
  uint32_t written = 0;
  WaveBuffer& b = buffers[ringIndex];
  if (handle && b.data && !b.prepared) {
    b.header = WAVEHDR{};
    b.header.lpData = reinterpret_cast<LPSTR>(b.data);
    b.header.dwBufferLength = b.capacity;
    b.header.dwUser = sequence;
    if (api->Prepare(handle, &b.header) == MMSYSERR_NOERROR) {
      b.prepared = true;
      // Counted before the write: the completion may come at once.
      InterlockedIncrement(&buffersOutstanding);
      InterlockedExchangeAdd(&queuedMs, static_cast<LONG>(uint64_t(bufferBytes) * 1000 / bytesPerSecond));
      if (api->Write(handle, &b.header) == MMSYSERR_NOERROR) {
        ringIndex = (ringIndex + 1) % bufferCount;
        written = 1;
      } else {
        InterlockedDecrement(&buffersOutstanding);
        InterlockedExchangeAdd(&queuedMs, -static_cast<LONG>(uint64_t(bufferBytes) * 1000 / bytesPerSecond));
        api->Unprepare(handle, &b.header);
        b.prepared = false;
      }
    }
  }
  if (static_cast<uint32_t>(buffersOutstanding) >= bufferCount) {
    ResetEvent(freeEvent);
    // A completion between the count and the reset must not be lost.
    if (static_cast<uint32_t>(buffersOutstanding) < bufferCount) SetEvent(freeEvent);
  }
  return written;
}

bool WaveOutDevice::WaitFree(DWORD ms) {
  WaitForSingleObject(freeEvent, ms);
  return static_cast<uint32_t>(buffersOutstanding) < bufferCount;
}

void WaveOutDevice::Pause() {
  if (handle) api->Pause(handle);
}

void WaveOutDevice::Restart() {
  if (handle) api->Restart(handle);
}

void WaveOutDevice::Flush() {
  if (!handle) return;
  api->Restart(handle);
  api->Reset(handle);
  InterlockedExchange(&queuedMs, 0);
}

void WaveOutDevice::AwaitReturns(DWORD limitMs) {
  const DWORD start = GetTickCount();
  while (buffersOutstanding > 0 && callbackThread && GetTickCount() - start < limitMs) Sleep(5);
}

void WaveOutDevice::CloseDevice() {
  if (handle) {
    api->Reset(handle);
    api->Restart(handle);
    // The buffers come back through the callback thread before the close.
    AwaitReturns(1000);
    if (api->Close(handle) == MMSYSERR_NOERROR) handle = nullptr;
  }
  EndCallbackThread();
}

void WaveOutDevice::SetVolume(uint32_t percent) {
  volumeWord = audio_timing::VolumeWord(percent > 100 ? 100 : percent);
  if (handle) api->SetVolume(handle, volumeWord);
}

uint32_t WaveOutDevice::GetVolume() const { return ((volumeWord & 0xFFFF) * 100 + 32767) / 65535; }

uint32_t WaveOutDevice::PlayedBytes() {
  if (!handle) return 0;
  MMTIME t = {};
  t.wType = TIME_BYTES;
  if (api->Position(handle, &t) != MMSYSERR_NOERROR || t.wType != TIME_BYTES) return 0;
  return t.u.cb;
}
