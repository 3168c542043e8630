// RTP reception: packets filed per track in a ring of slots by sequence
// number, loss and jitter measured, frames rebuilt by the depacketisers for
// the player's reader threads; RTCP received and receiver reports sent.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "streaming/rtcp.h"
#include "streaming/rtp_payload.h"
#include "streaming/socket_layer.h"

namespace streaming {

// Rescales RTP time stamps and counts their 32-bit wraps (the least form of
// the engine's converter that reception needs).
struct TimestampConverter {
  uint32_t timescale = 0;
  uint32_t last = 0;
  uint32_t wraps = 0;
  // Takes a value ahead of the last by less than 2^31; false otherwise.
  bool Update(uint32_t value);
  // The time stamp, wraps included, in the given units per second; 0 for a
  // timescale of 0.
  uint64_t ToUnits(uint32_t unitsPerSecond) const;
};

// What the RTSP client hands over after PLAY, per track.
struct TrackSyncRecord {
  uint32_t playWords[4] = {};
  uint32_t rtcpIntervalMs = 0;  // 0: keep the default
  bool hasSeq = false;
  uint16_t seq = 0;
  bool hasRtptime = false;
  uint32_t rtptime = 0;
  int32_t startPositionMs = -1;  // start of the PLAY range; negative when not given
  // A PLAY without a range after PAUSE: the packets queued before the pause
  // are still to be read, so the read position stays where it is.
  bool resume = false;
};

// The clock packet arrivals are stamped with: microseconds of a steady
// clock (only differences mean anything).
uint64_t ArrivalClockUs();

struct PacketSlot {
  const uint8_t* payload = nullptr;  // null = empty
  uint32_t payloadLength = 0;
  uint32_t timestamp = 0;
  uint32_t sequence = 0;  // extended
  bool marker = false;
  uint32_t wholeLength = 0;  // the datagram: header, payload and padding
  uint64_t arrivalUs = 0;
};

struct TrackState {
  int32_t kind = kPayloadMpeg4;
  uint8_t payloadType = 0;
  uint32_t clockRate = 0;
  uint32_t slotCount = 0;
  bool firstPacket = true;
  uint32_t ssrc = 0;  // as received
  bool ssrcFixed = false;
  uint32_t baseSequence = 0;
  uint32_t highest = 0;
  uint32_t readPosition = 65535;
  uint32_t last = 0;
  uint32_t cycles = 0;
  bool infoSeq = false, infoTimestamp = false, readSet = false;
  uint32_t infoSeqValue = 0;
  uint32_t infoTimestampValue = 0;
  uint32_t timeOffset = 0;  // PLAY start in RTP units
  uint32_t converterBase = 0;  // the converter's first value: presentation time 0 (plus the offset)
  uint32_t queued = 0, received = 0, skipped = 0;
  int32_t cumulativeLost = 0;
  RtcpTrackReportState report;
  uint64_t payloadOctets = 0;
  uint32_t octetsSinceReport = 0, allOctetsSinceReport = 0, deliveredSinceReport = 0;
  int64_t lastTransit = 0;
  bool haveTransit = false;
  double jitter = 0;
  uint32_t jitterRounded = 0;
  uint32_t lsr = 0, lsrArrival = 0;
  uint32_t lastReport = 0, reportInterval = 5000, reportParameter = 5000;
  bool forceReport = false;
  uint32_t trackBitRate = 0, presentationBitRate = 0;
  uint32_t ratios[2] = {};
  uint32_t lastBufferedMs = 0;
  uint32_t framesDecoded = 0, framesCorrupt = 0;
  // When the last packet of the frame handed out last arrived.
  uint64_t lastFrameArrivalUs = 0;
  bool feedbackSent = false;
  // The server said BYE for this track's source: once what came before it
  // is read, the track has ended (a presentation without a range end has
  // no other sign of its end).
  bool byeReceived = false;
  bool needPacket = true;
  Mpeg4AssemblyState mpeg4;
  H263AssemblyState h263;
  std::vector<uint8_t> frame;  // where frames spanning packets are built
  std::vector<PacketSlot> slots;
  std::unique_ptr<TimestampConverter> converter;
};

struct ReceiveRecord {
  int32_t presentation = 0;
  uint32_t playWords[4] = {};
  std::vector<uint8_t> buffer;  // the ring datagrams are read into
  uint32_t writeOffset = 0;
  uint32_t bufferedBytes = 0;
  uint32_t trackCount = 0;
  int32_t mainTrack = -1;
  uint32_t lowMs = 0, highMs = 0;
  uint32_t feedbackCounter = 0;
  uint32_t startTime = 0;
  uint32_t endMs = 0;  // 0 = none
  uint32_t bufferTimeMs = 0;  // what the server is told to buffer
  bool serverIsKrss = false;
  bool paused = false;
  bool dataStarted = false;
  TrackState tracks[kMaxStreams];
};

// Results beyond the common ones.
enum RtpResult : int32_t {
  kRtpBadTrack = 7,
  kRtpRejected = 8,
  kRtpCut = 11,
  kRtpNoFrame = 12,
  kRtpBufferSmall = 13,
  kRtpLostData = 20,
  kRtpEnded = 22,
  kRtpPeekBusy = 23,
  kRtpPeekIncomplete = 24,
};

class RtpSession {
 public:
  explicit RtpSession(SocketLayer* sockets);
  RtpSession(const RtpSession&) = delete;
  RtpSession& operator=(const RtpSession&) = delete;

  // The session lock shared with the player's readers; an own one until set.
  void SetLock(std::mutex* lock) { lock_ = lock ? lock : &ownLock_; }
  void Lock() { lock_->lock(); }
  void Unlock() { lock_->unlock(); }
  void SetTooLargeCallback(void (*callback)(void*), void* context) {
    tooLarge_ = callback;
    tooLargeContext_ = context;
  }
  // The clock arrival times and reports are taken from: the stream clock,
  // or a test's own.
  void SetClock(uint32_t (*clock)()) { clock_ = clock; }
  void ReportTooLarge() {
    if (tooLarge_) tooLarge_(tooLargeContext_);
  }

  int32_t AddRecord(int32_t presentation, uint32_t bufferBytes, uint32_t lowMs, uint32_t highMs);
  int32_t RemoveRecord(int32_t presentation);
  // frameCapacity: the largest frame the reader takes (its buffer size).
  int32_t SetTrackKind(int32_t presentation, uint32_t track, int32_t kind, uint8_t payloadType,
                       uint32_t frameCapacity);
  int32_t SetClockRate(int32_t presentation, uint32_t track, uint32_t hz);
  int32_t SetSlots(int32_t presentation, uint32_t track, uint32_t count, uint32_t ssrc, bool ssrcFixed);
  int32_t SetSlotArray(int32_t presentation, uint32_t track);
  int32_t ApplyPlayInfo(int32_t presentation, uint32_t track, const TrackSyncRecord& sync);
  // Play: the presentation's start (stream clock), its end in ms (0 none).
  int32_t SetPlaying(int32_t presentation, uint32_t startTime, uint32_t endMs, bool serverIsKrss);
  int32_t SetPaused(int32_t presentation, bool paused);
  int32_t ResetPresentation(int32_t presentation);
  int32_t SetBufferTime(int32_t presentation, uint32_t ms);
  // 0 with ms 0 when the presentation has no record.
  int32_t GetBufferTime(int32_t presentation, uint32_t& ms);
  uint32_t GetTrackCount(int32_t presentation);

  // Where the next datagram of a presentation is to be read (the ring's
  // rule: wrap when fewer than 4096 bytes remain); null when unknown.
  uint8_t* ReceiveWindow(int32_t presentation, uint32_t& room);
  int32_t ReceiveRtp(int32_t presentation, uint32_t track, const uint8_t* packet, uint32_t length);
  int32_t ReceiveRtcp(int32_t presentation, uint32_t track, const uint8_t* packet, uint32_t length);

  // Reader threads. time: the frame's RTP time stamp rebased to the PLAY
  // start, or all ones when the frame did not begin on a new packet.
  int32_t GetFrame(int32_t presentation, uint32_t track, uint8_t* buffer, uint32_t& length, uint32_t& time);
  int32_t PeekFrame(int32_t presentation, uint32_t track, uint32_t& time, uint32_t& word);
  uint32_t GetBufferedDuration(int32_t presentation, uint32_t track);
  int32_t GetLossPercent(int32_t presentation, uint32_t track);
  void RequestReportNow(int32_t presentation);

  // The RTP task: receiver reports at each track's interval.
  int32_t Run();

  // Under the lock, for statistics and tests.
  bool ReadTrack(int32_t presentation, uint32_t track, TrackState const*& state);
  // Written by the media data task, read by the reader threads.
  std::atomic<uint32_t> idleMs{0};

 private:
  ReceiveRecord* Find(int32_t presentation);
  uint8_t* WindowLocked(ReceiveRecord& r, uint32_t& room);
  void ResetLocked(ReceiveRecord& r);
  void ReleaseSlot(ReceiveRecord& r, TrackState& t, PacketSlot& s);
  bool EndReached(ReceiveRecord& r, TrackState& t);
  // The end test of the readers: the range end, the socket layer's ended
  // flag (END_OF_STREAM), or the source's BYE.
  bool Ended(ReceiveRecord& r, TrackState& t);
  uint32_t Rebase(const TrackState& t, uint32_t timestamp) const;
  int32_t SendReport(ReceiveRecord& r, uint32_t stream, uint8_t appSubtype, bool withApp);

  SocketLayer* sockets_;
  uint32_t (*clock_)();
  std::vector<std::unique_ptr<ReceiveRecord>> records_;
  void (*tooLarge_)(void*) = nullptr;
  void* tooLargeContext_ = nullptr;
  char canonicalName_[9] = {};
  RtcpSdesContext sdes_;
  std::mutex ownLock_;
  std::mutex* lock_ = &ownLock_;
};

// Reads every socket of the poll table: RTP and RTCP into the reception,
// RTSP bytes into the client through a sink.
class RtspReceiveSink {
 public:
  virtual ~RtspReceiveSink() = default;
  // 1 with a window, 21 skip this time, 0 stop the run.
  virtual int32_t GetReceiveWindow(int32_t presentation, uint8_t*& window, uint32_t& length) = 0;
  virtual void CommitReceived(int32_t presentation, uint32_t bytes) = 0;
};

class MediaDataTask {
 public:
  MediaDataTask(RtspReceiveSink* rtsp, RtpSession* rtp, SocketLayer* sockets)
      : rtsp_(rtsp), rtp_(rtp), sockets_(sockets) {}
  int32_t Run();
  static void RunTask(void* self) { static_cast<MediaDataTask*>(self)->Run(); }

 private:
  RtspReceiveSink* rtsp_;
  RtpSession* rtp_;
  SocketLayer* sockets_;
  uint32_t lastEmptyWait_ = 0;
  uint32_t selectWait_ = 5000;
};

}  // namespace streaming
