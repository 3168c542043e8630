#include "stream_source.h"

#include <algorithm>
#include <cstring>

#include "engine/player_ids.h"
#include "platform/os.h"

namespace {

constexpr uint32_t kLive = 0x7FFFFFFF;
constexpr uint32_t kMsgServerBase = 50000;
constexpr uint32_t kMsgNoData = 50058;
constexpr uint32_t kMsgNoClipInfo = 50056;
constexpr uint32_t kMsgNetworkRetry = 50412;
constexpr uint32_t kMsgLiveEnded = 51206;
constexpr uint32_t kMsgNoConnectionCheck = 51304;

bool IsAudioName(const char* n) {
  return n && (std::strcmp(n, "AMR") == 0 || std::strcmp(n, "EVRC") == 0 || std::strcmp(n, "AAC") == 0);
}
bool IsH263Name(const char* n) {
  return n && (std::strcmp(n, "H263-2000") == 0 || std::strcmp(n, "H263-1998") == 0);
}
bool IsVideoName(const char* n) { return n && (std::strcmp(n, "MP4V-ES") == 0 || IsH263Name(n)); }
bool IsStillName(const char* n) { return n && std::strncmp(n, "X-MP4V-IMAGE", 12) == 0; }

// The frame results of the session.
bool IsFrame(uint32_t rc) { return rc == 1 || rc == 11 || rc == 20; }

std::string Bounded(const char* text, size_t size) { return std::string(text, strnlen(text, size)); }

void Rebase(streaming::TimestampConverter* c, uint32_t ts) {
  if (!c) return;
  c->last = ts;
  c->wraps = 0;
}

uint32_t ToMs(streaming::TimestampConverter* c, uint32_t ts) {
  if (!c || c->timescale == 0) return 0;
  c->Update(ts);
  return uint32_t(std::min<uint64_t>(c->ToUnits(1000), 0xFFFFFFFEu));
}

}  // namespace

StreamSource::StreamSource(PlayerContext* c, StreamHost* h) : MediaSource(c), host(h) {
  kind = kSourceStream;
  uint32_t v = 0;
  if (host->ReadSettingDword(ids::kSetMaximumBufferedData, &v)) maxBufferedDataMs = v;
  session.reset(host->NewSession());
}

StreamSource::~StreamSource() {
  if (!describeRunning) {
    if (host->GetEngineState() >= kStateStopping) {
      StopSession();
    } else {
      Finish();
      Close();
    }
    presentation = -1;
  }
  StopSession();
  JoinSession();
  if (describeThread.joinable()) describeThread.join();
  for (auto& c : converter) c.reset();
  session.reset();
}

void StreamSource::SetClipText(ClipText which, const char* utf8) {
  clipTexts[which][0] = 0;
  if (!utf8) return;
  const std::u16string wide = platform::utf8ToUtf16(utf8);
  const size_t n = std::min<size_t>(wide.size(), 255);
  std::memcpy(clipTexts[which], wide.data(), n * sizeof(char16_t));
  clipTexts[which][n] = 0;
}

uint32_t StreamSource::Open(const char16_t* where, const ClipAccessInfo* access) {
  ended = 0;
  endAfterPause = 0;
  trackCount = 0;
  for (auto& t : clipTexts) t[0] = 0;
  if (!StoreLocation(where, access)) return 35;
  std::memset(receiveStats, 0, sizeof receiveStats);
  highestTimeMs = 0;
  videoOnly = 0;
  durationMs = kLive;
  if (!session) return 35;
  const std::string agent = host->UserAgent(), network = host->UserNetwork(), device = host->DeviceInfo();
  if (session->SetClientInfo(agent.c_str(), network.c_str(), device.c_str()) != 1) {
    host->ReportError(ids::kMsgNetworkError, nullptr);
    return 35;
  }
  if (accessInfo.present && accessInfo.flag) {
    const ClipAccessInfo& a = accessInfo;
    const std::string user = Bounded(a.user, sizeof a.user), auth = Bounded(a.authentication, sizeof a.authentication),
                      expiry = Bounded(a.expiration, sizeof a.expiration),
                      app = Bounded(a.application, sizeof a.application), extra = Bounded(a.extra, sizeof a.extra),
                      signature = Bounded(a.signature, sizeof a.signature);
    if (session->SetAccessInfo(user.c_str(), auth.c_str(), expiry.c_str(), app.c_str(), extra.c_str(),
                               signature.c_str()) != 1) {
      host->ReportError(ids::kMsgNetworkError, nullptr);
      return 35;
    }
    playStartMs = a.startMs;
    playEndMs = a.endMs;
  }
  for (auto& c : converter) c.reset();
  return StartConnect();
}

uint32_t StreamSource::StartConnect() {
  JoinSession();  // a session thread that ended before
  sessionRunning = true;
  sessionThread = std::thread([this] { SessionThread(); });
  if (!host->ConnectionUp()) return 25;
  session->abortFlag = 0;
  presentation = -1;
  if (describeThread.joinable()) describeThread.join();
  describeRunning = true;
  describeThread = std::thread([this] { DescribeThread(); });
  return 0;
}

void StreamSource::SessionThread() {
  ended = 0;
  const uint32_t rc = session->Start();
  if (!ended) {
    ended = 1;
    switch (rc) {
      case 2: host->ReportError(ids::kMsgClipNotFound, nullptr); break;
      case 12: host->ReportError(kMsgNoData, nullptr); break;
      case 14:
        if (host->GetEngineState() < kStateStopping) {
          sessionEnded = 1;
          host->ReportError(ids::kMsgNetworkError, nullptr);
        }
        break;
      case 16: host->ReportError(kMsgNoClipInfo, nullptr); break;
      case 17: host->ReportError(ids::kMsgVersionTooOld, nullptr); break;
      default: break;
    }
  }
  sessionRunning = false;
}

void StreamSource::DescribeThread() {
  sessionEnded = 0;
  int32_t id = -1;
  const uint32_t rc = session->DescribeW(&id, location);
  presentation = id;
  uint32_t result;
  switch (rc) {
    case 1: result = 0; break;
    case 0:
      ReportError(false, 0);
      result = 39;
      break;
    case 15:
      sessionEnded = 1;
      result = 19;
      break;
    case 21: result = 25; break;
    default: result = 15; break;
  }
  uint32_t sdpLength = 0;
  const char* sdp = nullptr;
  session->GetSdpText(presentation, &sdpLength, &sdp);
  if (!(result == 0 && !sessionEnded && host->GetEngineState() < kStateStopping)) StopSession();
  if (!sessionEnded) {
    if (host->GetEngineState() < kStateStopping) host->OpenResult(result);
  } else {
    host->OpenResult(19);
  }
  describeRunning = false;
}

void StreamSource::StopSession() {
  if (session) session->Stop();
}

void StreamSource::JoinSession() {
  if (!sessionThread.joinable()) return;
  // A report from the session thread can reach Finish on that thread.
  if (sessionThread.get_id() == std::this_thread::get_id()) return;
  sessionThread.join();
}

void StreamSource::ReportError(bool fatal, uint32_t messageId) {
  uint32_t status = 0;
  const char* reason = nullptr;
  if (session) session->GetLastStatus(presentation, &status, &reason);
  const std::string text = reason ? reason : "";
  if (fatal) Finish();
  if (!text.empty() && text != "OK") {
    const std::u16string wide = platform::utf8ToUtf16(text.substr(0, 100));
    host->ReportError(status > 200 ? kMsgServerBase + status : ids::kMsgUnableToPlayClip, wide.c_str());
  } else if (messageId >= 1) {
    host->ReportError(messageId, nullptr);
  } else if (status > 200) {
    host->ReportError(kMsgServerBase + status, nullptr);
  }
}

TrackEntry* StreamSource::GetTrackList(int32_t* count) {
  trackCount = 0;
  contentFlags = 0;
  audioTrackCount = videoLayerCount = 0;
  audioTrackId = -1;
  videoTrackId[0] = videoTrackId[1] = -1;
  std::memset(selectionOrder, 0, sizeof selectionOrder);
  hasAudioMedia = totalBandwidth = 0;
  const int32_t media = session && presentation >= 0 ? session->GetMediaCount(presentation) : -1;
  if (media < 0) {
    if (count) *count = -2;
    return tracks;
  }
  uint8_t major = 0, minor = 0;
  session->GetContentVersion(presentation, &major, &minor);
  const char* address = session->GetConnectionAddress(presentation);
  const bool playable = major == 3 || !address || !*address;
  // The table holds ten rows: media beyond them are not offered.
  const uint32_t n = std::min<uint32_t>(uint32_t(media), kMaxTracks);
  for (uint32_t i = 0; i < n; ++i) {
    TrackEntry& e = tracks[i];
    e = TrackEntry{};
    e.trackId = i;
    const char* name = session->GetMediaCodecName(presentation, int32_t(i));
    const std::u16string wide = platform::utf8ToUtf16(name ? name : "");
    const size_t units = std::min<size_t>(wide.size(), 31);
    std::memcpy(e.codecName, wide.data(), units * sizeof(char16_t));
    const int32_t bandwidth = session->GetMediaBandwidth(presentation, int32_t(i));
    e.bitrate = e.flags = bandwidth > 0 ? uint32_t(bandwidth) : 0;
    if (IsAudioName(name)) hasAudioMedia = 1;
    if (playable) e.flags |= kTrackPlayableVersion;
    // AAC is not played from a stream.
    if (name && std::strcmp(name, "AAC") == 0) e.flags = 0;
  }
  trackCount = n;
  if (count) *count = int32_t(n);
  return tracks;
}

uint32_t StreamSource::SelectTrack(uint32_t id) {
  TrackEntry* e = FindTrack(id);
  if (!e || !session || presentation < 0) return 39;
  const char* name = session->GetMediaCodecName(presentation, int32_t(id));
  const uint32_t rate = session->GetMediaClockRate(presentation, int32_t(id));
  auto newConverter = [rate] {
    auto c = std::make_unique<streaming::TimestampConverter>();
    c->timescale = rate;
    return c;
  };
  uint32_t receiverValue;
  if (IsAudioName(name)) {
    audioTrackId = int32_t(id);
    selectionOrder[std::min<uint32_t>(audioTrackCount + videoLayerCount, kMaxTracks - 1)] = id;
    contentFlags |= kContentAudio;
    ++audioTrackCount;
    totalBandwidth += e->bitrate;
    converter[0] = newConverter();
    receiverValue = 1000;
  } else if (IsVideoName(name)) {
    if (videoLayerCount >= 2) return 0;
    videoTimescale[videoLayerCount] = rate;
    const bool layer1 = session->GetMediaDependsOn(presentation, int32_t(id)) >= 0 || videoLayerCount > 0;
    if (!layer1 && videoTrackId[0] >= 0) return 0;
    contentFlags |= kContentVideo;
    const uint32_t layer = layer1 ? 1 : 0;
    videoTrackId[layer] = int32_t(id);
    converter[1 + layer] = newConverter();
    selectionOrder[std::min<uint32_t>(audioTrackCount + videoLayerCount, kMaxTracks - 1)] = id;
    ++videoLayerCount;
    totalBandwidth += e->bitrate;
    receiverValue = 60000;
  } else if (IsStillName(name)) {
    contentFlags |= kContentStill;
    videoTimescale[0] = rate;
    videoTrackId[0] = int32_t(id);
    videoLayerCount = 1;
    converter[1] = newConverter();
    receiverValue = 60000;
  } else {
    return 0;  // a codec the player has no decoder for is left out
  }
  e->selected = 1;
  if (session->SelectMedia(presentation, int32_t(id)) != 1 ||
      session->SetupMedia(presentation, int32_t(id), receiverValue, 0, nullptr) != 1) {
    ReportError(false, 0);
    return 39;
  }
  return 0;
}

uint32_t StreamSource::SetPlayRange(uint32_t start, uint32_t end) {
  if (contentFlags == 0) return 2;
  playEndMs = end;
  playStartMs = start;
  if (describeThread.joinable() && !describeRunning) describeThread.join();
  if (!sessionRunning) {
    // Finished before: connect again; the open result starts the play.
    host->SetPlayerState(kPlayerConnecting, true);
    host->SetStatusText(ids::kStatusConnecting);
    Open(location, &accessInfo);
    return 1;
  }
  const uint32_t state = host->GetEngineState();
  if (videoTrackId[0] < 0) {
    contentFlags &= ~kContentVideo;
    videoLayerCount = 0;
  }
  if (start != 0) host->SetStatusText(state == kStateOpened ? ids::kStatusConnecting : ids::kStatusPositioning);
  if (contentFlags == kContentStill) {
    ReportError(true, ids::kMsgCannotPlayAudio);
    return 23;
  }
  if (contentFlags == kContentVideo && hasAudioMedia && start == 0) host->ReportError(ids::kMsgVideoOnly, nullptr);

  std::memset(receiveStats, 0, sizeof receiveStats);
  highestTimeMs = 0;
  videoOnly = contentFlags == kContentVideo ? 1 : 0;
  const int32_t rangeEnd = session->GetRangeEnd(presentation);
  durationMs = rangeEnd > 0 ? uint32_t(rangeEnd) : kLive;
  if (IsLive()) end = kLive;
  else if (end == 0 || end >= kLive) end = durationMs;
  playStartMs = start;
  playEndMs = end;
  highestTimeMs = start;
  startPending = 1;
  for (int32_t& t : lastTimestampMs) t = -1;

  SetClipText(kTitle, session->GetTitle(presentation));
  SetClipText(kDescription, session->GetDescription(presentation));
  SetClipText(kAuthor, session->GetAuthor(presentation));
  SetClipText(kCopyright, session->GetCopyright(presentation));
  SetClipText(kExtraText, session->GetCopyrightNotice(presentation));
  SetClipText(kRating, session->GetRating(presentation));
  SetClipText(kVersionText, session->GetConnectionAddress(presentation));
  if (!clipTexts[kTitle][0]) host->LoadText(ids::kStrUntitled, clipTexts[kTitle], kTextUnits);

  // The preroll: the setting, else the presentation's own, bounded by what
  // the free storage holds at the media's byte rate.
  uint32_t preroll = maxBufferedDataMs;
  session->SetBufferTime(presentation, &preroll);
  const double bytesPerMs = double(totalBandwidth) * 0.000125;
  uint64_t freeBytes = 0;
  if (host->FreeStorage(&freeBytes) && bytesPerMs > 0) {
    freeBytes = std::min<uint64_t>(freeBytes, 0x7FFFFFFF);
    if (double(preroll) * bytesPerMs > double(freeBytes)) preroll = uint32_t(double(freeBytes) / bytesPerMs);
  }
  if (preroll < 1) {
    preroll = 1000;
  } else if (preroll < 1000) {
    ReportError(false, ids::kMsgNoMemoryToPlay);
    return 14;
  }
  maxBufferedDataMs = preroll;

  if (state != kStatePaused) {
    if (session->CreateTrackReceivers(presentation, 2 * preroll) != 1) {
      ReportError(true, 0);
      return 39;
    }
    if (!host->ConnectionUp()) {
      ReportError(false, kMsgNoConnectionCheck);
      return 25;
    }
  } else if (session->ResetPresentation(presentation) != 1) {
    return 39;
  }
  // The end with the preroll, never past the presentation's; no wrap.
  uint64_t playTo = uint64_t(end) + preroll;
  if (durationMs < kLive) playTo = std::min<uint64_t>(playTo, durationMs);
  playTo = std::min<uint64_t>(playTo, kLive);
  if (session->Play(presentation, start, uint32_t(playTo), 0, nullptr) != 1) {
    ReportError(true, 0);
    return 23;
  }
  if (start == 0) host->SetStatusText(ids::kStatusBuffering);
  inRange = 1;
  playing = 0;
  return 0;
}

bool StreamSource::Rebuffer(int32_t media, bool video) {
  buffering = 1;
  if (!video || videoOnly) playing = 0;
  const uint32_t state = host->GetEngineState();
  if (!startPending && !ended && state != kStatePaused) {
    host->SetStatusText(ids::kStatusBuffering);
    pausePositionMs = NowMs();
  }
  uint32_t waited = 0;
  bool full = false;
  if (!ended) {
    while (!full && host->GetEngineState() <= kStatePlaying && waited < kRebufferLimitMs && host->ConnectionUp()) {
      const uint32_t buffered = session->GetBufferedDuration(presentation, media);
      full = buffered >= maxBufferedDataMs && session->GetLossPercent(presentation, media) < 30;
      receiveStats[0] = session->GetPacketsReceived(presentation, media);
      host->Sleep(40);
      waited += 40;
      if (!startPending) {
        // 99 % at most until the target is reached with little loss.
        const uint64_t percent = maxBufferedDataMs ? uint64_t(buffered) * 100 / maxBufferedDataMs : 100;
        host->SetBufferLevel(uint32_t(std::min<uint64_t>(percent, full ? 100 : 99)));
      }
    }
  }
  buffering = 0;
  if (waited >= kRebufferLimitMs && !full) return false;
  if (!startPending && state != kStatePaused) host->SetStatusText(ids::kStatusPlaying);
  return true;
}

uint32_t StreamSource::TimeOut(bool fatal) {
  sessionEnded = 1;
  StopSession();
  ReportError(fatal, kMsgNetworkRetry);
  return kFrameEndOfMedia;
}

void StreamSource::Pace(int32_t media, streaming::TimestampConverter* c) {
  if (!c || c->timescale == 0) return;
  // A frame due within the window waits in steps, never longer than the
  // window itself (the clock may stand still).
  for (uint32_t waited = 0; waited < kPaceWindowMs; waited += kPaceStepMs) {
    uint32_t t = 0, word = 0;
    const uint32_t rc = session->PeekNextFrame(presentation, media, &t, &word);
    if ((rc != 23 && rc != 24) || int32_t(t) < 0) return;
    streaming::TimestampConverter probe = *c;
    const uint64_t due = (probe.Update(t) ? probe.ToUnits(1000) : uint64_t(t) * 1000 / c->timescale);
    const uint64_t now = NowMs();
    if (!(now < due && due < now + kPaceWindowMs)) return;
    host->Sleep(kPaceStepMs);
  }
}

uint32_t StreamSource::FrameFailure(uint32_t rc, bool video) {
  switch (rc) {
    case 0: case 3: case 13: case 15: case 18:
      ReportError(false, 0);
      return kFrameEndOfMedia;
    case 14:
      ReportError(false, ids::kMsgNetworkError);
      return kFrameEndOfMedia;
    case 2: case 16:
      ReportError(false, ids::kMsgClipNotFound);
      return kFrameEndOfMedia;
    case 17:
      ReportError(false, ids::kMsgVersionTooOld);
      return kFrameEndOfMedia;
    case 22: return kFrameEndOfMedia;
    case 12: case 19:
      if (video) {
        if (!ended) return kFrameLater;
        endAfterPause = 1;
        return kFrameEndOfMedia;
      }
      if (ended && endAfterPause) {
        session->PauseIfPlaying(presentation);
        return kFrameEndOfMedia;
      }
      return kFrameLater;
    default: return 0;
  }
}

uint32_t StreamSource::GetAudioFrame(uint8_t* buffer, uint32_t capacity, uint32_t, uint32_t* timestamp,
                                     uint32_t* length) {
  *length = 0;
  if (!session || presentation < 0 || audioTrackId < 0 || !buffer) return kFrameEndOfMedia;
  uint32_t status = kFrameNone;
  const uint32_t state = host->GetEngineState();
  const uint32_t buffered = session->GetBufferedDuration(presentation, audioTrackId);
  if ((buffered < 1 || startPending) && state < kStateStopping && !Rebuffer(audioTrackId, false)) {
    status = TimeOut(false);
  } else if (!host->ConnectionUp()) {
    status = TimeOut(false);
  } else if (buffered >= kLive && IsLive()) {
    sessionEnded = 1;
    StopSession();
    ReportError(true, kMsgLiveEnded);
    status = kFrameEndOfMedia;
  } else if (host->GetEngineState() >= kStateStopping) {
    status = kFrameEndOfMedia;
  } else if (host->GetEngineState() == kStatePaused || host->GetEngineState() == 3) {
    return kFrameLater;
  }
  if (status != kFrameEndOfMedia) {
    // Audio is not paced: it drives the clock, and the decoder must stay
    // ahead of it by the device's queued buffers. Held to the clock it
    // would starve the device, and the clock would crawl behind the wall.
    uint32_t got = capacity, ts = 0;
    const uint32_t rc = session->GetNextFrame(presentation, audioTrackId, buffer, &got, &ts);
    if (rc > 24) return status;
    if (!IsFrame(rc)) {
      const uint32_t failure = FrameFailure(rc, false);
      if (!failure) return status;
      status = failure;
    } else {
      *length = got;
      *timestamp = ts;
      streaming::TimestampConverter* c = converter[0].get();
      bool restarted = false;
      uint32_t ms;
      if (playing || int32_t(ts) < 0) {
        ms = ToMs(c, ts);
      } else {
        // The first frame since a (re)start sets the clock.
        Rebase(c, ts);
        if (converter[1] || converter[2]) videoRebase = 1;
        ms = ToMs(c, ts);
        const uint32_t base = (playStartMs ? playStartMs : pausePositionMs) + 1000;
        const bool early = !IsLive() && ms >= base && ms - pausePositionMs <= maxBufferedDataMs;
        if (!early) {
          playing = 1;
          host->SetPosition(ms);
          restarted = true;
          if (state == kStatePlaying) host->SetStatusText(ids::kStatusPlaying);
        }
      }
      receiveStats[0] = session->GetPacketsReceived(presentation, audioTrackId);
      status = kFrameDelivered;
      if (int32_t(ts) > 0) {
        if (ms < playStartMs) {
          inRange = 0;
        } else if (ms > playEndMs) {
          Finish();
          status = kFrameEndOfMedia;
        } else if (!inRange) {
          inRange = 1;
          host->SetStatusText(ids::kStatusPlaying);
        }
      }
      startPending = 0;
      if (ms > highestTimeMs) highestTimeMs = ms;
      lastTimestampMs[0] = int32_t(ms);
      if (restarted && status != kFrameEndOfMedia) status = kFrameClockStarted;
    }
  }
  if (status == kFrameEndOfMedia) {
    ended = 1;
    host->Notify(4);
  }
  return status;
}

uint32_t StreamSource::GetVideoFrame(uint8_t* buffer, uint32_t capacity, uint32_t layer, uint32_t* timestampMs,
                                     uint32_t* length) {
  *length = 0;
  if (layer > 1) return kFrameEndOfMedia;
  if (!videoOnly) {
    while (!playing && host->GetEngineState() < kStateStopping && !ended) host->Sleep(40);
  }
  if (!session || presentation < 0) return kFrameLater;
  const int32_t media = videoTrackId[layer];
  if (media < 0 || !buffer) return kFrameEndOfMedia;
  uint32_t status = kFrameNone;
  const uint32_t buffered = session->GetBufferedDuration(presentation, media);
  if (videoOnly) {
    if (buffered < 1 || startPending) {
      if (layer == 1) return kFrameLater;
      if (host->GetEngineState() < kStateStopping && !Rebuffer(media, true)) status = TimeOut(true);
    }
  } else {
    while (buffering && host->GetEngineState() < 3) {
      host->Sleep(40);
      receiveStats[0] = session->GetPacketsReceived(presentation, media);
    }
  }
  const uint32_t state = host->GetEngineState();
  if (status == kFrameEndOfMedia) {
  } else if (!host->ConnectionUp()) {
    status = TimeOut(true);
  } else if (state > kStatePaused) {
    status = kFrameEndOfMedia;
  } else if (buffered >= kLive && IsLive()) {
    sessionEnded = 1;
    if (videoOnly) {
      StopSession();
      ReportError(true, kMsgLiveEnded);
    }
    status = kFrameEndOfMedia;
  } else if (state == kStatePaused) {
    return kFrameLater;
  }
  if (status != kFrameEndOfMedia) {
    streaming::TimestampConverter* c = converter[1 + layer].get();
    Pace(media, c);
    uint32_t got = capacity, ts = 0;
    const uint32_t rc = session->GetNextFrame(presentation, media, buffer, &got, &ts);
    if (rc > 24) return status;
    if (!IsFrame(rc)) {
      const uint32_t failure = FrameFailure(rc, true);
      if (!failure) return status;
      status = failure;
    } else {
      *length = got;
      uint32_t ms = 0xFFFFFFFF;
      if (int32_t(ts) > 0 || (ts == 0 && !playing)) {
        if (!playing || videoRebase) {
          Rebase(converter[1].get(), ts);
          Rebase(converter[2].get(), ts);
          videoRebase = 0;
        }
        ms = ToMs(c, ts);
      } else if (ts == 0) {
        ms = ToMs(c, ts);
      }
      *timestampMs = ms;
      status = kFrameDelivered;
      if (videoOnly && !playing && ms != 0xFFFFFFFF) {
        playing = 1;
        host->SetPosition(ms);
        if (state == kStatePlaying) host->SetStatusText(ids::kStatusPlaying);
      }
      const bool before = ms == 0xFFFFFFFF ? lastVideoTimestampMs < int32_t(playStartMs) : ms < playStartMs;
      if (before && contentFlags != (kContentAudio | kContentStill)) {
        status = kFrameBeforeStart;
        if (videoOnly) inRange = 0;
      } else if (ms != 0xFFFFFFFF && ms > playEndMs) {
        Finish();
        host->Notify(2);
        status = kFrameEndOfMedia;
      } else {
        if (!inRange && (videoOnly || (contentFlags & kContentStill))) {
          inRange = 1;
          host->SetStatusText(ids::kStatusPlaying);
        }
        startPending = 0;
        if (videoOnly && ms != 0xFFFFFFFF && ms > highestTimeMs) {
          highestTimeMs = ms;
        } else if (rc == 11 || rc == 20) {
          status = kFrameNoClockAdvance;
        } else if (ms != 0xFFFFFFFF) {
          const int64_t apart = int64_t(ms) - int64_t(NowMs());
          if ((apart < 0 ? -apart : apart) > int64_t(maxBufferedDataMs)) status = kFrameLater;
        }
      }
      if (ms != 0xFFFFFFFF) {
        lastVideoTimestampMs = int32_t(ms);
        lastTimestampMs[1 + layer] = int32_t(ms);
      }
    }
  }
  if (status == kFrameEndOfMedia) {
    ended = 1;
    if (videoOnly) host->Notify(4);
  }
  return status;
}

const uint8_t* StreamSource::GetVideoConfig(uint32_t layer, uint32_t* size) {
  if (size) *size = 0;
  if (layer > 1 || videoTrackId[layer] < 0 || !session) return nullptr;
  const int32_t media = videoTrackId[layer];
  if (IsH263Name(session->GetMediaCodecName(presentation, media))) {
    uint32_t profile = 0, level = 0;
    std::memset(h263Config, 0, sizeof h263Config);
    if (session->GetH263Params(presentation, media, &profile, &level) > 0 && int32_t(profile) >= 0 &&
        int32_t(level) >= 0) {
      const uint16_t words[2] = {uint16_t(profile), uint16_t(level)};
      std::memcpy(h263Config, words, sizeof words);
    }
    if (size) *size = sizeof h263Config;
    return h263Config;
  }
  const uint8_t* data = nullptr;
  uint32_t n = 0;
  if (session->GetMediaConfig(presentation, media, &data, &n) != 1) return nullptr;
  if (size) *size = n;
  return data;
}

uint32_t StreamSource::Pause() {
  if (host->GetEngineState() != kStatePlaying) return 0;
  pausePositionMs = NowMs();
  if (!host->ConnectionUp()) {
    ReportError(false, kMsgNoConnectionCheck);
    return 25;
  }
  if (!sessionRunning) return 0;
  const uint32_t rc = session->Pause(presentation);
  inRange = 0;
  if (rc == 1) return 0;
  if (rc == 22) {
    ended = 1;
    return 0;
  }
  ReportError(true, 0);
  return 21;
}

uint32_t StreamSource::Resume(int32_t position) {
  if (!host->ConnectionUp()) {
    ReportError(false, kMsgNoConnectionCheck);
    return 25;
  }
  if (!sessionRunning) return position > 0 ? SetPlayRange(uint32_t(position), playEndMs) : 0;
  if (position >= 0) return SetPlayRange(uint32_t(position), playEndMs);
  const uint32_t rc = session->Resume(presentation);
  if (rc == 1) {
    host->SetPosition(pausePositionMs);
    return 0;
  }
  if (rc == 22) {
    ended = 1;
    return 0;
  }
  ReportError(true, rc == 15 ? ids::kMsgTimedOut : 0);
  return 22;
}

uint32_t StreamSource::Finish() {
  if (!session) return 0;
  if (presentation < 0) {
    session->PauseIfPlaying(0);
    return 0;
  }
  if (host->GetEngineState() >= kStateStopped) return 0;
  if (sessionEnded || !sessionRunning) {
    // Stopped already: no request can be answered any more.
    StopSession();
    JoinSession();
    return 0;
  }
  if (!host->ConnectionUp()) {
    ReportError(false, kMsgNoConnectionCheck);
    return 25;
  }
  const uint32_t rc = session->PauseIfPlaying(presentation);
  if (rc == 15) ReportError(false, ids::kMsgTimedOut);
  if (rc != 1) {
    // The session cannot go on: its thread is ended here.
    StopSession();
    JoinSession();
    host->Notify(4);
    return 24;
  }
  return 0;
}

uint32_t StreamSource::Close() {
  if (!session || presentation < 0) return 0;
  if (host->GetEngineState() < kStateStopping) session->PauseIfPlaying(presentation);
  const uint32_t closed = session->CloseTrackReceivers(presentation);
  if (sessionRunning) session->Teardown(presentation);
  StopSession();
  JoinSession();
  presentation = -1;
  return closed == 1 || closed == 5 ? 0 : 25;
}

uint32_t StreamSource::GetBufferLevel() {
  if (!session || presentation < 0) return 0;
  uint32_t level = 0xFFFFFFFF;
  for (int32_t media : {audioTrackId, videoTrackId[0]}) {
    if (media >= 0 && media < 65535) level = std::min(level, session->GetBufferedDuration(presentation, media));
  }
  return level == 0xFFFFFFFF ? 0 : level;
}

uint32_t StreamSource::GetTrackStatistic() {
  if (!session || presentation < 0) return 0;
  const int32_t media = audioTrackId >= 0 ? audioTrackId : videoTrackId[0];
  return media >= 0 ? session->GetLossPercent(presentation, media) : 0;
}

float StreamSource::GetContentVersion(uint32_t) {
  uint8_t major = 0, minor = 0;
  if (session && presentation >= 0) session->GetContentVersion(presentation, &major, &minor);
  return float(major) + float(minor) / 256.0f;
}

uint32_t StreamSource::SetAudioTrack(uint32_t id) {
  audioTrackId = int32_t(id);
  audioTimescale = session && presentation >= 0 ? session->GetMediaClockRate(presentation, int32_t(id)) : 0;
  return audioTimescale;
}

uint32_t StreamSource::IsLive() {
  return host->GetEngineState() < kStateStopping && session && presentation >= 0 &&
                 session->GetRangeEnd(presentation) < 1
             ? 1
             : 0;
}

uint32_t StreamSource::ConvertTime(uint32_t which, uint32_t unitsPerSecond, uint32_t) {
  if (which > 2 || !converter[which]) return 0;
  return uint32_t(converter[which]->ToUnits(unitsPerSecond));
}
