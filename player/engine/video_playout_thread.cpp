#include "video_playout_thread.h"

#include <process.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "engine/media_types.h"
#include "engine/player_ids.h"
#include "media_source.h"
#include "player_context.h"
#include "player_controller.h"
#include "shell/engine_services.h"
#include "video_renderer.h"

VideoPlayoutThread::VideoPlayoutThread(PlayerContext* c, MediaSource* s, PlayerShellServices* sh)
    : context(c), source(s), shell(sh) {
  runEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  CreateRenderer();
}

VideoPlayoutThread::~VideoPlayoutThread() {
  Join();
  if (thread) CloseHandle(thread);
  if (runEvent) CloseHandle(runEvent);
  vdec_destroy(&decoder);
  FreeInputBuffers();
  delete currentRenderer;  // the one renderer fills all three slots
}

uint32_t VideoPlayoutThread::CreateRenderer() {
  uint32_t ready = 0;
  DisplayFormat format = {};
  VideoRenderer* r = CreateVideoRenderer(&ready, &format, 0, context ? context->GetVideoWindow() : nullptr, shell);
  if (!r || !ready) {
    delete r;
    rendererReady = 0;
    return kRendererNotReady;
  }
  currentRenderer = fullScreenRenderer = windowRenderer = r;
  drawLeft = drawTop = 0;
  rendererReady = 1;
  return 0;
}

uint32_t VideoPlayoutThread::Start() {
  if (thread) return 0;
  unsigned id = 0;
  const uintptr_t h = _beginthreadex(nullptr, 0, &ThreadMain, this, CREATE_SUSPENDED, &id);
  if (h == 0) return kThreadNotCreated;
  thread = reinterpret_cast<HANDLE>(h);
  SetThreadPriority(thread, THREAD_PRIORITY_ABOVE_NORMAL);
  ResumeThread(thread);
  SetEvent(runEvent);
  return 0;
}

unsigned __stdcall VideoPlayoutThread::ThreadMain(void* self) {
  return static_cast<VideoPlayoutThread*>(self)->Run();
}

uint32_t VideoPlayoutThread::Pause() {
  ResetEvent(runEvent);
  return 0;
}

uint32_t VideoPlayoutThread::Resume(int32_t positionMs) {
  if (positionMs >= 0) resyncRequested = 1;
  SetEvent(runEvent);
  return 0;
}

uint32_t VideoPlayoutThread::Stop() {
  SetEvent(runEvent);
  if (thread) WaitForSingleObject(thread, 5000);
  return 0;
}

void VideoPlayoutThread::Join() {
  quit = true;
  if (runEvent) SetEvent(runEvent);
  if (!thread) return;
  // The thread watches `quit` in every wait, so it ends within one slice;
  // freeing what it uses while it runs is never an option.
  if (WaitForSingleObject(thread, 3000) == WAIT_TIMEOUT) WaitForSingleObject(thread, INFINITE);
}

bool VideoPlayoutThread::ThreadEnded() const {
  return !thread || WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
}

void VideoPlayoutThread::GetVideoSize(uint32_t* w, uint32_t* h) {
  if (w) *w = width;
  if (h) *h = height;
}

uint32_t VideoPlayoutThread::Repaint(uint32_t) {
  if (currentRenderer) currentRenderer->Open(drawLeft, drawTop, static_cast<int32_t>(width), static_cast<int32_t>(height));
  return 0;
}

void VideoPlayoutThread::SetDisplayMode(uint32_t mode) {
  if (!currentRenderer) return;
  if (mode == 2 || mode == 3) {
    currentRenderer->SetMode(mode);
    fullScreen = mode == 2 ? 1 : 0;
    currentRenderer = mode == 2 ? fullScreenRenderer : windowRenderer;
    currentRenderer->SetMode(mode);
  } else {
    currentRenderer->SetMode(mode);
  }
}

uint32_t VideoPlayoutThread::RenderFrame(const uint8_t* const p[3], int32_t left, int32_t top,
                                         const DisplayFormat& format, uint32_t mode) {
  if (currentRenderer) currentRenderer->Present(p, left, top, format, mode);
  return 0;
}

bool VideoPlayoutThread::Stopping() { return quit || context->GetEngineState() >= kStateStopping; }

void VideoPlayoutThread::FreeInputBuffers() {
  for (uint8_t*& b : inputBuffer) {
    delete[] b;
    b = nullptr;
  }
}

uint32_t VideoPlayoutThread::ReadSetting(const char16_t* name, uint32_t id) {
  uint32_t value = 0;
  if (!shell) return 0;
  HINSTANCE instance = context->GetInstance();
  if (name ? !shell->ReadSettingDword(instance, name, &value) : !shell->ReadSettingDwordById(instance, id, &value))
    return 0;
  return value;
}

void VideoPlayoutThread::WriteDebug(uint32_t y, const char* text) {
  char16_t line[128];
  size_t n = 0;
  for (; text[n] && n + 1 < std::size(line); ++n) line[n] = static_cast<char16_t>(static_cast<uint8_t>(text[n]));
  line[n] = 0;
  context->WriteDebugLine(5, y, line);
}

bool VideoPlayoutThread::ProbeShortHeaderSize(uint32_t layer, int* w, int* h) {
  while (!Stopping()) {
    uint32_t time = 0, length = 0;
    const uint32_t status = source->GetVideoFrame(inputBuffer[layer], inputCapacity[layer], layer, &time, &length);
    inputTime[layer] = static_cast<int32_t>(time);
    inputSize[layer] = static_cast<int32_t>(std::min(length, inputCapacity[layer]));
    if (status == kFrameEndOfMedia) return false;
    if (inputSize[layer] > 0) {
      // The picture header lies in the first bytes; never read past the unit.
      const int32_t probe = std::min<int32_t>(100, inputSize[layer]);
      if (vdec_probe_size(inputBuffer[layer], probe, w, h) != 0 && *w > 0 && *h > 0) return true;
    } else {
      Wait(40);  // nothing yet: ask again without spinning
    }
  }
  return false;
}

uint32_t VideoPlayoutThread::OpenDecoder() {
  resyncRequested = 0;
  layerCount = std::min(source->GetVideoLayerCount(), kMaxLayers);

  for (uint32_t layer = 0; layer < layerCount && !Stopping(); ++layer) {
    uint32_t capacity = source->GetMaxVideoFrameSize(layer);
    if (capacity == 0) capacity = kDefaultCapacity;
    inputCapacity[layer] = capacity;
    inputBuffer[layer] = new (std::nothrow) uint8_t[capacity];
    if (!inputBuffer[layer]) {
      context->ReportError(ids::kMsgClipCorrupted, static_cast<const char16_t*>(nullptr), 0, true);
      return 0;
    }
  }

  bool shortHeader = false;
  int w = 0, h = 0;
  for (uint32_t layer = 0; layer < layerCount && !Stopping();) {
    if (inputSize[layer] != 0) {
      ++layer;
      continue;
    }
    configData[layer] = source->GetVideoConfig(layer, &configSize[layer]);
    if (configSize[layer] == 12 && configData[layer]) {
      uint16_t words[2];
      std::memcpy(words, configData[layer], sizeof(words));
      if (words[0] != 0) {
        w = words[0];
        h = words[1];
      } else {
        ProbeShortHeaderSize(layer, &w, &h);
      }
      shortHeader = true;
    } else if (!configData[layer] || configSize[layer] == 0) {
      if (layer == 0) {
        context->ReportError(ids::kMsgClipCorrupted, static_cast<const char16_t*>(nullptr), 0, true);
        return 0;
      }
      --layerCount;
      continue;
    }
    ++layer;
  }
  if (Stopping()) return 0;
  if (layerCount == 0) {
    context->ReportError(ids::kMsgClipCorrupted, static_cast<const char16_t*>(nullptr), 0, true);
    return 0;
  }

  if (shortHeader) {
    if (!vdec_create_single(&decoder, w, h)) return 0;
    width = static_cast<uint32_t>(w);
    height = static_cast<uint32_t>(h);
  } else {
    int32_t sizes[kMaxLayers] = {};
    for (uint32_t i = 0; i < layerCount; ++i) sizes[i] = static_cast<int32_t>(configSize[i]);
    if (!vdec_create(&decoder, configData, sizes, static_cast<int>(layerCount))) return 0;
    width = static_cast<uint32_t>(vdec_get_width(&decoder));
    height = static_cast<uint32_t>(vdec_get_height(&decoder));
  }
  vdec_set_postfilter(&decoder, static_cast<int>(ReadSetting(nullptr, ids::kSetPostProcessing)));
  context->NotifyVideoSize(width, height, 0);
  return 1;
}

uint32_t VideoPlayoutThread::DecodeFrame() {
  if (resyncRequested) {
    inputSize[0] = inputSize[1] = 0;
    std::fill(std::begin(layerEnded), std::end(layerEnded), false);
    vdec_reset(&decoder);
    resyncRequested = 0;
  }
  uint32_t lastStatus = kFrameDelivered;
  for (;;) {
    bool ready = false;
    for (uint32_t layer = 0; layer < layerCount && !Stopping(); ++layer) {
      if (inputSize[layer] > 0) {
        ready = true;
        continue;
      }
      uint32_t time = 0, length = 0;
      const uint32_t status =
          source->GetVideoFrame(inputBuffer[layer], inputCapacity[layer], layer, &time, &length);
      inputTime[layer] = static_cast<int32_t>(time);
      inputSize[layer] = static_cast<int32_t>(std::min(length, inputCapacity[layer]));
      if (status == kFrameEndOfMedia) {
        inputSize[layer] = 0;
        layerEnded[layer] = true;
        if (layerCount == 1 || (layerEnded[0] && layerEnded[1])) return kFrameEndOfMedia;
        continue;
      }
      if (status == kFrameDelivered || status == kFrameBeforeStart || status == kFrameNoClockAdvance ||
          status == kFrameLater) {
        // The enhancement layer alone cannot go on once the base has ended.
        if (layer == 1 && status == kFrameLater && layerEnded[0]) return kFrameEndOfMedia;
        if (inputSize[layer] > 0)
          ready = true;
        else
          inputSize[layer] = 0;
        if (status != kFrameLater) lastStatus = status;
        continue;
      }
      return status;
    }
    if (!ready || Stopping()) return kFrameLater;

    uint8_t* inputs[kMaxLayers] = {inputBuffer[0], inputBuffer[1], inputBuffer[2], inputBuffer[3]};
    const int decoded = vdec_decode_frame(&decoder, inputs, inputTime, inputSize, nullptr);
    outputPicture = vdec_get_output_frame(&decoder);
    if (waitForIntra) {
      // A live stream joined between intra pictures shows nothing until one.
      if ((vdec_get_current_layer(&decoder) != 0 || !vdec_is_intra(&decoder)) && !Stopping()) continue;
      waitForIntra = 0;
    }
    return decoded ? lastStatus : kFrameDelivered;
  }
}

void VideoPlayoutThread::HoldUntil(int32_t timestamp) {
  // In slices, so that a stop, a seek or a clock that jumps is seen at once
  // and a wrong time stamp cannot keep the thread from ending.
  for (;;) {
    if (Stopping() || resyncRequested) return;
    const int32_t d = timestamp - static_cast<int32_t>(context->GetPosition());
    if (d <= 0) return;
    Wait(static_cast<uint32_t>(std::min<int32_t>(d, kEarlyMs)));
  }
}

uint32_t VideoPlayoutThread::Run() {
  const uint32_t flags = source->GetContentFlags();
  waitForIntra = source->IsLive();
  std::memset(&decoder, 0, sizeof(decoder));
  layerCount = 0;
  std::fill(std::begin(inputSize), std::end(inputSize), 0);
  std::fill(std::begin(inputTime), std::end(inputTime), 0);
  std::fill(std::begin(layerEnded), std::end(layerEnded), false);
  counters = Counters{};
  debugLevel = ReadSetting(u"Debug", 0);

  if (!rendererReady) {
    FreeInputBuffers();
    context->StreamFinished(2);
    return kNoRenderer;
  }

  if (OpenDecoder()) {
    const int32_t paddedWidth = static_cast<int32_t>((width + 15) & ~15u);
    const int32_t paddedHeight = static_cast<int32_t>((height + 15) & ~15u);
    sourceFormat = DisplayFormat{};
    sourceFormat.bitsPerPixel = 12;
    sourceFormat.height = static_cast<int32_t>(height);
    sourceFormat.width = static_cast<int32_t>(width);
    sourceFormat.kind = kDisplayKindPlanarYuv420;
    sourceFormat.pitch = paddedWidth;
    sourceFormat.rows = paddedHeight;
    frameArea = static_cast<uint32_t>(paddedWidth) * static_cast<uint32_t>(paddedHeight);

    if (flags > kContentAudio) {
      char text[96];
      while (!Stopping()) {
        const uint32_t iteration = ++counters.iterations;
        bool stop = false;
        while (WaitForSingleObject(runEvent, 500) == WAIT_TIMEOUT)
          if ((stop = Stopping())) break;
        if (stop || Stopping()) break;
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
        // A still image shows exactly one picture.
        if (flags >= kContentStill && iteration >= 2) break;
        const uint32_t status = DecodeFrame();
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
        if (status == kFrameBeforeStart) continue;  // decoded as a reference, never shown
        if (status == kFrameEndOfMedia) break;
        if (status != kFrameDelivered && status != kFrameNoClockAdvance) {
          // Nothing new (26, or a status the source has no picture for):
          // ask again later instead of showing the last picture again.
          Wait(200);
          continue;
        }

        const uint32_t layer = static_cast<uint32_t>(vdec_get_current_layer(&decoder));
        const uint32_t notNewer = status == kFrameNoClockAdvance ? 1 : 0;
        const uint32_t now = context->GetPosition();
        const int32_t t = vdec_get_timestamp(&decoder);
        const int32_t d = t - static_cast<int32_t>(now);
        if (debugLevel >= 1) {
          std::snprintf(text, sizeof(text), "C: %d ms V: %d ms D: %d ms", static_cast<int>(now), t, d);
          WriteDebug(56, text);
        }
        if (IsLate(d, iteration)) {
          source->ReportStatistics(now, static_cast<uint32_t>(t), layer, 1, notNewer);
          ++counters.skipped;
          continue;
        }
        if (d >= kEarlyMs) {
          ++counters.held;
          HoldUntil(t);
          if (resyncRequested) continue;  // a seek came: this picture is stale
        }
        if (Stopping()) break;
        source->ReportStatistics(context->GetPosition(), static_cast<uint32_t>(t), layer, 0, notNewer);
        if (outputPicture) {
          planes[0] = outputPicture;
          planes[1] = outputPicture + frameArea;
          planes[2] = planes[1] + frameArea / 4;
          RenderFrame(planes, drawLeft, drawTop, sourceFormat, 2);
          ++counters.presented;
        }
      }

      ClipEntryInfo entry = {};
      context->GetStatus(&entry);
      if (fullScreen && entry.playCount <= 1 && planes[0] && windowRenderer) {
        windowRenderer->Present(planes, drawLeft, drawTop, sourceFormat, 2);
        currentRenderer = fullScreenRenderer;
      }
    }
    if (debugLevel >= 3) {
      char text[96];
      std::snprintf(text, sizeof(text), "Frames Decoded: %u: Skipped: %u Held: %u", counters.iterations,
                    counters.skipped, counters.held);
      WriteDebug(84, text);
    }
  }

  vdec_destroy(&decoder);
  FreeInputBuffers();
  context->StreamFinished(2);
  return 0;
}
