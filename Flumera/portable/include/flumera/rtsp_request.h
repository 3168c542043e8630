// The RTSP server's side of the dialect: a connection's bytes gathered up to
// a request's blank line, the header readers, and the replies' texts. Texts
// are searched as the players write them (prefixes and plain substrings).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace flumera {

// Gathers a connection's bytes until a whole request (up to its blank line)
// is there. Requests are bounded: one that does not end within kMaxRequest
// bytes is refused whole.
class RequestReader {
 public:
  static constexpr size_t kMaxRequest = 2048;
  enum Result { kNeedMore, kComplete, kTooLong };

  // Appends received bytes (at most what is room left; the rest is kept by
  // the caller's next call). Returns how many were taken.
  size_t Append(const char* data, size_t n);
  // Looks for a complete request in what is gathered.
  Result Next(std::string_view* request);
  // Drops the request returned by Next (and everything when it was too long).
  void Consume();
  size_t Pending() const { return used_; }

 private:
  char buffer_[kMaxRequest];
  size_t used_ = 0;
  size_t requestLength_ = 0;
};

enum class RtspMethod { kDescribe, kSetup, kPlay, kPause, kTeardown, kGetParameter, kOther };
// By the request text's prefix ("DESCRIBE ", "SETUP ", ...).
RtspMethod MethodOf(std::string_view request);

// The text after `name` up to the next CR; false when the header or the CR
// is missing.
bool HeaderValue(std::string_view request, std::string_view name, std::string_view* value);
// The CSeq number: -1 when the header or its CR is missing.
long ReadCSeq(std::string_view request);
// A whole header line ("CSeq: 3", "Transport: ...") up to its CR, empty when
// missing, cut to `limit` bytes.
std::string HeaderLine(std::string_view request, std::string_view name, size_t limit = 512);
// "client_port=a-b"; false when missing.
bool ReadClientPorts(std::string_view request, unsigned* first, unsigned* second);
// The "Session:" number; false when the header or its CR is missing.
bool ReadSession(std::string_view request, unsigned long* session);
// The first line up to the first CR, cut to `limit` bytes.
std::string FirstLine(std::string_view request, size_t limit = 512);
// From "ID:" up to and including the request's last line feed, cut to
// `limit` - 1 bytes (the field keeps its terminating zero); empty when the
// request has no "ID:" or no line feed behind it.
std::string IdentificationText(std::string_view request, size_t limit = 256);
// "rtsp://host/live..." (also "Live", "LIVE").
bool IsLivePath(std::string_view request);
bool Contains(std::string_view text, std::string_view what);

// Replies.
// 503 "Service Unavailable", every other code 400 "Bad Request"; the
// request's CSeq line follows when it has one.
std::string ErrorReply(int code, std::string_view request);
// "RTSP/1.0 200 OK", the CSeq line, then `rest` (headers) and the blank line.
std::string OkReply(std::string_view request, std::string_view rest);

struct SetupReplyInfo {
  unsigned long session = 0;
  unsigned serverPort1 = 0, serverPort2 = 0;
  unsigned maxPacketSize = 0;  // 0: no "Version", "Max_packet_size", "RTCP-Interval" lines
  unsigned long rtcpInterval = 0;
};
// Text mode: the request's CSeq and Transport lines are echoed.
std::string SetupReplyText(std::string_view request, const SetupReplyInfo& info);
// Number mode (a reply sent later, after the host's verdict).
std::string SetupReplyNumbers(long cseq, unsigned clientPort1, unsigned clientPort2, const SetupReplyInfo& info);
// A refused admission: 401 "FAILED".
std::string RefusalReply(long cseq);
// The notice every client gets at the end: "END_OF_STREAM" with the rest of
// its SETUP line from the first blank (URL and version), then CSeq 0 and the
// session.
std::string EndOfStreamNotice(std::string_view setupLine, unsigned long session);

}  // namespace flumera
