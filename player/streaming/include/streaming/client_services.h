// What the player media engine uses of the streaming client: the streaming
// session behind a stream source, the millisecond clock that the engine and
// its threads run on, and the HTTP client behind a download source. The
// streaming client implements these; the engine side only calls them.
// Texts are 8-bit unless they are char16_t.
#pragma once

#include <cstdint>

// The RTSP/RTP client session of one stream source, owned by that source.
// Results: 1 success; other codes as each operation says.
class StreamSession {
 public:
  virtual ~StreamSession() = default;

  // Runs every RTSP, RTP and RTCP task in the calling thread until Stop:
  // 1 after an orderly stop, 14 when the sockets failed (the stream source
  // reports a network error), 0 when its tasks could not be added.
  virtual uint32_t Start() = 0;
  virtual uint32_t Stop() = 0;
  // Cleared by the stream source before it starts its describe thread.
  volatile uint8_t abortFlag = 0;

  virtual uint32_t SetClientInfo(const char* userAgent, const char* userNetwork,
                                 const char* deviceInfo) = 0;
  // The six request texts of the clip descriptor's access record.
  virtual uint32_t SetAccessInfo(const char* user, const char* authentication,
                                 const char* expiration, const char* application,
                                 const char* extra, const char* signature) = 0;
  // 1 described; 0 failure; 15 session ended; 21 connection failure.
  virtual uint32_t DescribeW(int32_t* presentation, const char16_t* url) = 0;
  virtual void GetSdpText(int32_t presentation, uint32_t* length, const char** text) = 0;

  virtual int32_t GetMediaCount(int32_t presentation) = 0;
  virtual const char* GetMediaCodecName(int32_t presentation, int32_t media) = 0;
  virtual int32_t GetMediaBandwidth(int32_t presentation, int32_t media) = 0;
  virtual uint32_t GetMediaClockRate(int32_t presentation, int32_t media) = 0;
  // 0 or more for an enhancement layer (the media it depends on).
  virtual int32_t GetMediaDependsOn(int32_t presentation, int32_t media) = 0;
  virtual double GetMediaFrameRate(int32_t presentation, int32_t media) = 0;
  // Still image bytes, or the decoder configuration of a video media.
  virtual uint32_t GetMediaConfig(int32_t presentation, int32_t media, const uint8_t** data,
                                  uint32_t* size) = 0;
  // Below 1 when the presentation has no end (live).
  virtual int32_t GetRangeEnd(int32_t presentation) = 0;

  virtual const char* GetTitle(int32_t presentation) = 0;
  virtual const char* GetDescription(int32_t presentation) = 0;
  virtual const char* GetAuthor(int32_t presentation) = 0;
  virtual const char* GetCopyright(int32_t presentation) = 0;
  virtual const char* GetCopyrightNotice(int32_t presentation) = 0;
  virtual const char* GetRating(int32_t presentation) = 0;  // "Not Rated" by default

  // At most 8 media are selected per presentation.
  virtual uint32_t SelectMedia(int32_t presentation, int32_t media) = 0;
  // receiverValue: 1000 for audio, 60000 for video.
  virtual uint32_t SetupMedia(int32_t presentation, int32_t media, uint32_t receiverValue,
                              uint32_t reserved, void* completion) = 0;
  // A preroll of 0 is replaced by the presentation's own value (7000 when
  // the server gives none) and written back.
  virtual uint32_t SetBufferTime(int32_t presentation, uint32_t* prerollMs) = 0;
  virtual uint32_t CreateTrackReceivers(int32_t presentation, uint32_t bufferMs) = 0;
  virtual uint32_t CloseTrackReceivers(int32_t presentation) = 0;

  virtual uint32_t Play(int32_t presentation, uint32_t startMs, uint32_t endMs, uint32_t reserved,
                        void* completion) = 0;
  // 22 when the presentation already ended.
  virtual uint32_t Pause(int32_t presentation) = 0;
  // 15 timed out; 22 ended.
  virtual uint32_t Resume(int32_t presentation) = 0;
  virtual uint32_t PauseIfPlaying(int32_t presentation) = 0;
  virtual uint32_t Teardown(int32_t presentation) = 0;

  // 0x7FFFFFFF or more once a live presentation has ended.
  virtual uint32_t GetBufferedDuration(int32_t presentation, int32_t media) = 0;
  // The buffer counts as full only while this is below 30.
  virtual uint32_t GetLossPercent(int32_t presentation, int32_t media) = 0;
  virtual uint32_t GetPacketsReceived(int32_t presentation, int32_t media) = 0;
  // 23 (complete) and 24 (still arriving): a next frame is waiting, with
  // its time stamp; 12 nothing yet; 22 the end.
  virtual uint32_t PeekNextFrame(int32_t presentation, int32_t media, uint32_t* timestamp,
                                 uint32_t* size) = 0;
  // 1 and 11 (cut at the buffer) deliver a frame, 20 one with lost data;
  // 12 no data yet; 22 the end; 13 and 14 (socket failure) fail; 5 and 6
  // a presentation or media out of range.
  virtual uint32_t GetNextFrame(int32_t presentation, int32_t media, uint8_t* buffer,
                                uint32_t* length, uint32_t* timestamp) = 0;
  virtual void GetLastStatus(int32_t presentation, uint32_t* statusCode, const char** reason) = 0;

  // Calls the client makes of its RTSP client and RTP session.
  // The session-level c= address; empty when the description has none or
  // names the unspecified 0.0.0.0.
  virtual const char* GetConnectionAddress(int32_t presentation) = 0;
  virtual void GetContentVersion(int32_t presentation, uint8_t* major, uint8_t* minor) = 0;
  virtual uint32_t GetH263Params(int32_t presentation, int32_t media, uint32_t* profile,
                                 uint32_t* level) = 0;
  virtual uint32_t ResetPresentation(int32_t presentation) = 0;
};

// The millisecond clock of the engine; `streaming::TickClock` is the one the
// player runs on, the engine's tests give their own.
class TickClock {
 public:
  virtual ~TickClock() = default;
  // videoOnly = 1 (clips without audio) also takes a wall-clock base.
  virtual uint32_t StartWallClock(uint32_t videoOnly) = 0;
  // Shifts the clock so that it reads ms now.
  virtual uint32_t SetTime(uint32_t ms) = 0;
  virtual uint32_t GetTime() = 0;
  virtual void CloseEvent() = 0;
};

// The download client's records belong to the streaming client
// (streaming/download_files.h, streaming/sdp.h).
namespace streaming {
struct DownloadRequest;    // 2320 bytes
struct TrackRequest;       // 616 bytes
struct DownloadClipInfo;   // 3208 bytes
}  // namespace streaming

// The HTTP client of a progressive download; owned by the download source.
// Results (streaming::HttpResult): 0 success; 1 an answer without length;
// 2 not a description; 3-5 socket, bind, connect; 6 unexpected answer;
// 7 400, 8 403, 9 404, 10 409, 11 405, 12 412, 13 415, 14 416, 15 500,
// 16 501, 17 503, 18 505; 19 complete; 20 receive error; 22 a local file
// failure; 23 timed out or connection ended; 24 longer than the storage;
// 25 aborted. Getters give 0 and write their value.
class HttpDownload {
 public:
  virtual ~HttpDownload() = default;
  virtual int32_t FetchDescription(const streaming::DownloadRequest& request) = 0;
  virtual int32_t DownloadMedia(const streaming::TrackRequest& tracks) = 0;
  virtual int32_t Abort() = 0;
  virtual void Shutdown() = 0;
  virtual void CloseAll() = 0;
  virtual int32_t GetClipInfo(streaming::DownloadClipInfo* out) = 0;
  virtual int32_t GetPlaybackTime(int32_t* out) = 0;
  virtual int32_t GetDownloadRate(float* out) = 0;  // bytes per ms
  virtual int32_t GetContentLength(int32_t* out) = 0;
  virtual int32_t GetRemainingBytes(int32_t* out) = 0;
  virtual int32_t GetStateFlags(uint32_t* out) = 0;
  virtual int32_t GetStoredValue(uint32_t* out) = 0;
  // Null when the server sent no message.
  virtual int32_t GetServerMessage(const char** out) = 0;
};
