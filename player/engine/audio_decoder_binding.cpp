#include "audio_decoder_binding.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/audio_timing.h"
#include "engine/media_types.h"
#include "engine/player_ids.h"
#include "media_source.h"
#include "player_context.h"
#include "shell/engine_services.h"
#include "wave_out_device.h"

using namespace audio_timing;

namespace {

constexpr uint32_t kCodecAmr = 0, kCodecEvrc = 1, kCodecAac = 2;
constexpr uint32_t kNoEntry = 35, kNotBound = 34, kNoMemory = 14, kNotConfigured = 37, kNoDevice = 29;
constexpr DWORD kSliceMs = 50;

std::u16string Widen(const char* s) {
  std::u16string out;
  while (s && *s) out.push_back(static_cast<unsigned char>(*s++));
  return out;
}

}  // namespace

AudioDecoderBinding::AudioDecoderBinding(PlayerContext* ctx, MediaSource* src, PlayerShellServices* sh,
                                         WaveOutApi* a)
    : context(ctx), source(src), shell(sh), api(a) {
  runEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  uint32_t debug = 0;
  if (ReadDword(u"Debug", &debug)) debugLevel = debug;
}

AudioDecoderBinding::~AudioDecoderBinding() {
  if (thread) {
    if (runEvent) SetEvent(runEvent);
    WaitForSingleObject(thread, 3000);
    CloseHandle(thread);
    thread = nullptr;
  }
  if (runEvent) CloseHandle(runEvent);
  runEvent = nullptr;
  delete device;
  device = nullptr;
  if (decoder) decoder->Stop();
  if (freeInterface) freeInterface(&decoder);
  decoder = nullptr;
  if (library) FreeLibrary(library);
  library = nullptr;
}

bool AudioDecoderBinding::ReadDword(const char16_t* name, uint32_t* value) {
  if (!shell) return false;
  return shell->ReadSettingDword(context ? context->GetInstance() : nullptr, name, value);
}

void AudioDecoderBinding::ShowDebugBox(const char16_t* text, const char16_t* title) {
  if (debugLevel == 0) return;
  MessageBoxW(nullptr, reinterpret_cast<LPCWSTR>(text), reinterpret_cast<LPCWSTR>(title), MB_OK);
}

void AudioDecoderBinding::WriteDebugLine(uint32_t line, const char* text) {
  if (debugLevel == 0 || !context) return;
  context->WriteDebugLine(5, 14 * line, Widen(text).c_str());
}

void AudioDecoderBinding::ReleaseBinding() {
  if (decoder) {
    decoder->Stop();
    decoder->Destroy(1);
    decoder = nullptr;
  }
  if (library) {
    if (freeInterface) freeInterface(&decoder);
    FreeLibrary(library);
    library = nullptr;
  }
  getInterface = nullptr;
  freeInterface = nullptr;
}

uint32_t AudioDecoderBinding::LoadCodec(const CodecEntry& entry, uint32_t startMs, uint32_t endMs, uint32_t trackId) {
  if (configured || (entry.type == codecType && library && entry.type != kCodecAac)) {
    configured = 1;
    SetPlayRange(startMs, endMs);
    return 0;
  }
  ReleaseBinding();
  ++loadCount;
  library = LoadLibraryW(reinterpret_cast<LPCWSTR>(entry.libraryFile));
  if (!library) return kNotBound;
  getInterface = reinterpret_cast<GetInterfaceFn*>(reinterpret_cast<void*>(GetProcAddress(library, "GetInterface")));
  freeInterface = reinterpret_cast<FreeInterfaceFn*>(reinterpret_cast<void*>(GetProcAddress(library, "FreeInterface")));
  if (!getInterface || !freeInterface) return kNotBound;  // the library stays loaded
  getInterface(&decoder, this);
  if (!decoder) {
    FreeLibrary(library);
    library = nullptr;
    getInterface = nullptr;
    freeInterface = nullptr;
    codecType = kNoCodec;
    return kNotBound;
  }
  codecType = entry.type;
  startTime = startMs;
  endTime = endMs;
  return SelectTrack(trackId);
}

uint32_t AudioDecoderBinding::SelectTrack(uint32_t trackId) {
  const uint32_t startMs = startTime, endMs = endTime;
  if (!decoder || !source) return kNotBound;
  AudioCodecConfig* config = nullptr;
  settings = AudioDecoderSettings{};
  if (codecType == kCodecAac) {
    uint32_t length = 0;
    codecConfig.data = source->GetAudioConfig(trackId, &length);
    codecConfig.length = length;
    config = &codecConfig;
    settings.sampleRate = 0;
    settings.channels = 2;
    settings.flag = 1;
  } else {
    settings.sampleRate = 8000;
    settings.channels = 1;
    settings.flag = codecType == kCodecEvrc ? 1 : 0;
  }
  const uint32_t units = source->SetAudioTrack(trackId);
  settings.unitsPerSecond = units;
  settings.zero1 = settings.zero2 = 0;
  const uint32_t start = MsToUnits(startMs, units);
  const uint32_t end = MsToUnits(endMs, units);
  const float rangeLength = static_cast<float>(endMs) - static_cast<float>(startMs);

  const int32_t init = decoder->InitializeDecoder(&settings, start, end, config);
  if (init != 0) {
    char text[96];
    std::snprintf(text, sizeof(text), "pCAIDecoder->InitializeDecoder( ) Failed with %d", static_cast<int>(init));
    // Users see the player's own message, not the library's code.
    wchar_t message[256] = {};
    if (context) LoadStringW(context->GetInstance(), ids::kMsgCannotPlayAudio, message, 255);
    std::u16string shown = reinterpret_cast<const char16_t*>(message);
    shown += u"\n";
    ShowDebugBox(shown.c_str(), u"Audio Decoder Error");
    return init == -1 ? kNoMemory : kNotBound;
  }

  uint32_t sync = 1;
  lipSync = ReadDword(u"LipSync", &sync) ? sync : 1;
  uint32_t first = syncWindowFirstMs, second = syncWindowSecondMs;
  if (!lipSync) first = second = static_cast<uint32_t>(rangeLength);
  decoder->SetSyncWindows(WindowUnits(first, units), WindowUnits(second, units));

  if (codecType == kCodecAac) {
    if (decoder->GetOutputFormat(&outputFormat) != 0) {
      ShowDebugBox(u"AudioDecoder::SelectTrack() Getting the AAC Codec Settings Failed", u"Audio Decoder Error");
      return kNotBound;
    }
  } else {
    outputFormat.sampleRate = settings.sampleRate;
    outputFormat.channels = settings.channels;
    outputFormat.bitsPerSample = 16;
  }
  bufferMs = audio_timing::BufferMs(settings.sampleRate);
  bufferBytes = audio_timing::BufferBytes(outputFormat.sampleRate, outputFormat.channels, outputFormat.bitsPerSample, bufferMs);

  delete device;
  uint32_t ok = 0;
  device = new WaveOutDevice(&ok, outputFormat.channels, outputFormat.sampleRate, outputFormat.bitsPerSample,
                             context, kBufferCount, api);
  configured = ok;
  if (!configured) {
    char text[128];
    std::snprintf(text, sizeof(text),
                  "Failed to initialize the Audio Device: nChannels: %d SamplingRate: %d BitsPerSample: %d",
                  outputFormat.channels, static_cast<int>(outputFormat.sampleRate),
                  static_cast<int>(outputFormat.bitsPerSample));
    ShowDebugBox(Widen(text).c_str(), u"Audio Decoder Error");
    return kNotBound;
  }
  device->SetCallback(&AudioDecoderBinding::OnWaveDone, this);
  SetPlayRange(startMs, endMs);
  return 0;
}

void AudioDecoderBinding::SetPlayRange(uint32_t startMs, uint32_t endMs) {
  if (!configured) {
    lastRangeResult = kNotConfigured;
    return;
  }
  rangeStart = MsToUnits(startMs, settings.unitsPerSecond);
  rangeEnd = MsToUnits(endMs, settings.unitsPerSecond);
  rangePending = 1;
  lastRangeResult = 0;
}

uint32_t AudioDecoderBinding::OpenDevice() {
  if (!configured) return kNotConfigured;
  if (!device || !device->Open()) return kNoDevice;
  device->SetVolume(volume);
  if (!device->AllocateBuffers(bufferBytes)) return kNoDevice;
  return 0;
}

uint32_t AudioDecoderBinding::Start() {
  baseTimeMs = 0;
  buffersQueued = 0;
  resyncSequence = 0;
  resyncPending = 1;
  if (thread) {
    // A finished run of an earlier play.
    WaitForSingleObject(thread, 3000);
    CloseHandle(thread);
    thread = nullptr;
  }
  thread = CreateThread(nullptr, 0, ThreadMain, this, CREATE_SUSPENDED, &threadId);
  if (!thread) {
    if (runEvent) CloseHandle(runEvent);
    runEvent = nullptr;
    return kThreadNotCreated;
  }
  SetThreadPriority(thread, THREAD_PRIORITY_ABOVE_NORMAL);
  ResumeThread(thread);
  SetEvent(runEvent);
  return 0;
}

uint32_t AudioDecoderBinding::Pause() {
  if (device) device->Pause();
  if (runEvent) ResetEvent(runEvent);
  return 0;
}

uint32_t AudioDecoderBinding::Resume(int32_t positionMs) {
  if (positionMs >= 0) {
    resyncPending = 1;
    resyncSequence = buffersQueued;
  }
  if (device) device->Restart();
  if (runEvent) SetEvent(runEvent);
  return 0;
}

uint32_t AudioDecoderBinding::Stop() {
  if (runEvent) SetEvent(runEvent);
  // A stop reported from the audio thread itself cannot wait for it.
  if (thread && GetCurrentThreadId() != threadId) WaitForSingleObject(thread, 5000);
  return 0;
}

void AudioDecoderBinding::SetVolume(uint32_t v) {
  volume = v;
  if (device) device->SetVolume(v);
}

uint32_t AudioDecoderBinding::GetVolume() const { return device ? device->GetVolume() : 0; }

uint32_t AudioDecoderBinding::ReadFrame(uint8_t* buffer, uint32_t capacity, uint32_t* timestamp, uint32_t* length) {
  uint32_t ts = 0, len = 0;
  const uint32_t status = source->GetAudioFrame(buffer, capacity, 0, &ts, &len);
  if (timestamp) *timestamp = ts;
  if (length) *length = len;
  const uint32_t units = settings.unitsPerSecond;
  if (debugLevel && device) {
    char line[96];
    std::snprintf(line, sizeof(line), "C: %u ms A: %u ms D: %d ms", static_cast<unsigned>(UnitsToMs(decodePosition, units)),
                  source->ConvertTime(0, 1000, ts),
                  static_cast<int>(UnitsToMs(int64_t(ts) - int64_t(decodePosition), units)));
    WriteDebugLine(3, line);
  }
  uint32_t sleepMs = 0;
  uint32_t result = MapFrameStatus(status, &sleepMs);
  if (sleepMs) Sleep(sleepMs);
  if (resyncPending || status == kFrameClockStarted) {
    resyncPending = 0;
    baseTimeMs = static_cast<uint32_t>(UnitsToMs(ts, units));
    if (status == kFrameClockStarted)
      resyncSequence = buffersQueued;
    else
      result = 1;
  }
  return ReadResult(result, buffersQueued, resyncSequence);
}

void AudioDecoderBinding::OnWaveDone(void* p, uint32_t sequence) {
  auto* self = static_cast<AudioDecoderBinding*>(p);
  if (!self->device) return;
  const int64_t clock = ClockAfterBuffer(sequence, self->resyncSequence, self->baseTimeMs, self->bufferBytes,
                                         self->device->BytesPerSecond());
  if (clock >= 0 && self->context) self->context->SetPosition(static_cast<uint32_t>(clock));
}

void AudioDecoderBinding::SetResyncState(uint32_t queued, uint32_t resyncAt, uint32_t baseMs) {
  buffersQueued = queued;
  resyncSequence = resyncAt;
  baseTimeMs = baseMs;
  resyncPending = 0;
}

DWORD WINAPI AudioDecoderBinding::ThreadMain(LPVOID p) {
  return static_cast<AudioDecoderBinding*>(p)->SyncLoop();
}

uint32_t AudioDecoderBinding::DecodeBuffer(WaveBufferDesc* desc) {
  uint32_t ignored = 0;
  const int32_t r = decoder->Decode(decodePosition, &ignored, desc);
  switch (r) {
    case kDecodeFilled:
      if (desc->hasAudio == 0) std::memset(desc->data, 0, desc->capacity);
      if (!device->QueueBuffer(buffersQueued)) Sleep(bufferMs);
      buffersQueued = buffersQueued + 1;
      return 0;
    case kDecodeEnd:
    case kDecodeEndToo:
      if (debugLevel >= 4) MessageBoxW(nullptr, L"AudioDecoder Flagged EOS", L"Audio Decoder Message", MB_OK);
      return 1;
    case kDecodeWarning:
      if (debugLevel >= 4) MessageBoxW(nullptr, L"AudioDecoder Warning", L"Audio Decoder Message", MB_OK);
      return 0;
    case kDecodeNoMemory:
      if (context) context->ReportError(ids::kMsgLowMemory, static_cast<const char16_t*>(nullptr), 0, true);
      return 1;
    default:
      if (r < 0) {
        if (context)
          context->ReportError(r == kDecodeCorrupt ? ids::kMsgClipCorrupted : ids::kMsgCannotPlayAudio,
                               static_cast<const char16_t*>(nullptr), 0, true);
        return 1;
      }
      if (context) context->ReportError(ids::kMsgCannotPlayAudio, static_cast<const char16_t*>(nullptr), 0, true);
      return 0;
  }
}

uint32_t AudioDecoderBinding::SyncLoop() {
  if (!configured || !decoder || !device || !context) return kNotConfigured;
  debugClockStarted = 1;
  bool endOfStream = false;
  uint64_t sumD = 0, sumA = 0;
  static uint64_t debugOrigin = 0;
  auto stopping = [this] { return context->GetEngineState() >= kStateStopping; };
  for (;;) {
    if (stopping() || endOfStream) {
      if (!rangePending) break;
      endOfStream = false;
    }
    while (!stopping() && runEvent && WaitForSingleObject(runEvent, kSliceMs) == WAIT_TIMEOUT) {
    }
    if (stopping()) continue;
    while (!stopping() && !device->WaitFree(kSliceMs)) {
      if (rangePending) break;  // a new range flushes the device below
    }
    if (rangePending && device) {
      decoder->Reset(rangeStart, rangeEnd);
      device->Flush();
      rangePending = 0;
    }
    if (stopping()) continue;
    uint8_t* pcm = device->IsOpen() ? device->GetFreeBuffer() : nullptr;
    if (pcm) {
      decodePosition = audio_timing::DecodePosition(context->GetPosition(), device->QueuedMs(), settings.unitsPerSecond);
      if (debugLevel) {
        if (debugClockStarted) {
          debugOrigin = GetTickCount64();
          debugClockStarted = 0;
        }
        const uint64_t span = GetTickCount64() - debugOrigin;
        char line[96];
        std::snprintf(line, sizeof(line), "D: %02d %02d:%02d:%02d.%03d DC: %3.4f DP: %d", 0,
                      static_cast<int>(span / 3600000), static_cast<int>(span / 60000 % 60),
                      static_cast<int>(span / 1000 % 60), static_cast<int>(span % 1000), 0.0, 0);
        WriteDebugLine(2, line);
      }
      WaveBufferDesc desc = {pcm, bufferBytes, 0, 1};
      if (DecodeBuffer(&desc) != 0) endOfStream = true;
      decoder->GetStatistics(&statistics);
      sumD += statistics.words[1];
      sumA += statistics.words[3];
      if (debugLevel && lipSync) {
        char line[96];
        std::snprintf(line, sizeof(line), "TS: %d Ticks A: %d D: %d", static_cast<int>(settings.unitsPerSecond),
                      static_cast<int>(sumA), static_cast<int>(sumD));
        WriteDebugLine(5, line);
      }
    }
    if (endOfStream) {
      // The rest of the audio drains, in slices that watch for a stop or a new range.
      const DWORD until = GetTickCount() + device->QueuedMs() + bufferMs;
      while (!stopping() && !rangePending && static_cast<LONG>(until - GetTickCount()) > 0) Sleep(kSliceMs);
    }
  }
  decoder->Reset(rangeStart, rangeEnd);
  device->CloseDevice();
  context->StreamFinished(1);
  return 0;
}
