// The HTTP client of a progressive download: the clip's description (SDP)
// first, then the chosen tracks as one multipart/byteranges answer whose
// parts are written into the data file at the offsets the server names.
// The state file lets a later run resume (download_files.h).
//
// Threads: FetchDescription and DownloadMedia run in the download source's
// worker threads; Abort and the getters come from other threads and meet
// the worker only in single words (abort flag, counters, rate). Every wait
// is at most 1 second, after which the abort flag is read.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "streaming/client_services.h"
#include "streaming/download_files.h"
#include "streaming/sdp.h"

namespace streaming {

enum HttpResult : int32_t {
  kHttpOk = 0,
  kHttpHeaderComplete = 1,  // also: such an answer without "Content-Length: "
  kHttpBadDescription = 2,
  kHttpNoSocket = 3,
  kHttpNoBind = 4,
  kHttpNoConnection = 5,
  kHttpUnexpected = 6,
  kHttpBadRequest = 7,       // first of the error statuses, in the search order
  kHttpVersionNotSupported = 18,
  kHttpComplete = 19,
  kHttpReceiveError = 20,
  kHttpFileError = 22,
  kHttpTimedOut = 23,
  kHttpTooLong = 24,
  kHttpAborted = 25,
};

constexpr uint16_t kDefaultDownloadPort = 9300;
constexpr uint32_t kHeaderBufferSize = 4096;
constexpr uint32_t kServerMessageSize = 100;

// The status text that gives a code of 7..18 (search order); null otherwise.
const char* HttpStatusText(int32_t code);

// Bytes search over [text, text + length), NULs included; null when absent.
const char* FindText(const char* text, uint32_t length, const char* needle);
// The decimal number right behind needle; false without digits or beyond
// 32 bits.
bool NumberAfter(const char* text, uint32_t length, const char* needle, uint32_t& value);
// Only the header (up to and with its blank line, or all of it while that
// is missing) is searched: 7..18 an error status, 1 complete, 0 not yet.
int32_t ClassifyHeader(const char* text, uint32_t length);
// Bytes of the header with its blank line; 0 while incomplete.
uint32_t HeaderLength(const char* text, uint32_t length);
// "--" and the text behind "boundary=" (to the next '"' when quoted, else
// to CR); false when missing, empty or longer than size - 1.
bool ParseBoundary(const char* header, uint32_t length, char* delimiter, uint32_t size);

struct PartHeader {
  uint32_t first = 0;
  uint32_t last = 0;
  uint32_t playbackTimeMs = 0;
  uint32_t headerLength = 0;  // bytes up to the part's data
};
// A classified part header (ClassifyHeader gave 1..18): 1 its fields and
// range are sound (0 <= first <= last < total), else 6.
int32_t ParsePartHeader(const char* text, uint32_t length, const char* delimiter, uint32_t total,
                        PartHeader& part);

// The connection under the client: sockets in the player, a script in the
// fuzzer and some tests.
class DownloadLink {
 public:
  virtual ~DownloadLink() = default;
  // 0 connected; 3 no socket, 4 not bound, 5 not resolved or refused.
  virtual int32_t Connect(const char* host, uint16_t port) = 0;
  // Bytes sent, or -1.
  virtual int32_t Send(const char* data, uint32_t length) = 0;
  // Waits at most 1 second: bytes received; 0 none within the wait; -1 the
  // peer closed (a receive of 0 bytes); -2 a receive error.
  virtual int32_t Receive(uint8_t* buffer, uint32_t capacity) = 0;
  virtual void Close() = 0;
  // Ends the socket library's use where the connection started it.
  virtual void Cleanup() = 0;
};
std::unique_ptr<DownloadLink> NewSocketLink();

class HttpDownload : public ::HttpDownload {
 public:
  // link null: a socket connection.
  explicit HttpDownload(std::unique_ptr<DownloadLink> link = nullptr);
  ~HttpDownload() override;

  int32_t FetchDescription(const DownloadRequest& request) override;
  int32_t DownloadMedia(const TrackRequest& tracks) override;
  int32_t Abort() override;
  void Shutdown() override;
  void CloseAll() override;
  int32_t GetClipInfo(DownloadClipInfo* out) override;
  int32_t GetPlaybackTime(int32_t* out) override;
  int32_t GetDownloadRate(float* out) override;
  int32_t GetContentLength(int32_t* out) override;
  int32_t GetRemainingBytes(int32_t* out) override;
  int32_t GetStateFlags(uint32_t* out) override;
  int32_t GetStoredValue(uint32_t* out) override;
  int32_t GetServerMessage(const char** out) override;

  // The requests as sent, from the request as it stands.
  std::string DescriptionRequestText() const;
  std::string MediaRequestText() const;
  const DownloadRequest& Request() const { return request; }
  const DownloadFiles& Files() const { return files; }

 private:
  int32_t Connect();
  bool SendAll(const std::string& text);
  std::string CommonLines(const char* acceptLine) const;
  // Reads until the buffer holds a classified header: 1..18, or 6 (too
  // large), 19, 20, 23, 25.
  int32_t ReadHeader();
  // Adds received bytes to the buffer: 0, else 20, 23 or 25.
  int32_t ReceiveMore(int32_t& idle);
  int32_t ReadDescriptionAnswer();
  int32_t ReadMediaParts(int32_t expectedEnd, const char* delimiter);
  void TakeServerMessage(const uint8_t* body, uint32_t available, uint32_t bodyLength);
  void Consume(uint32_t bytes);
  void CleanupSockets();

  std::unique_ptr<DownloadLink> link;
  bool connected = false;
  DownloadFiles files;
  DownloadClipInfo clipInfo{};
  int32_t idleLimit = 30;
  bool resuming = false;
  bool resumingMedia = false;  // the state file knew the total length
  bool haveTracks = false;     // the state file held the track request
  uint32_t startTick = 0;
  std::atomic<int32_t> abortFlag{0};
  std::atomic<int32_t> playbackTime{0};
  std::atomic<int32_t> totalLength{0};
  std::atomic<float> rate{0.0f};
  std::atomic<int32_t> received{0};
  std::atomic<int32_t> expectedTotal{0};  // where the running answer ends
  char serverMessage[kServerMessageSize] = {};
  DownloadRequest request{};
  TrackRequest trackRequest{};
  uint8_t buffer[kHeaderBufferSize + 1] = {};
  uint32_t buffered = 0;
};

}  // namespace streaming
