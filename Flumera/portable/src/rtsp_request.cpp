#include "flumera/rtsp_request.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace flumera {

size_t RequestReader::Append(const char* data, size_t n) {
  const size_t take = n < kMaxRequest - used_ ? n : kMaxRequest - used_;
  std::memcpy(buffer_ + used_, data, take);
  used_ += take;
  return take;
}

RequestReader::Result RequestReader::Next(std::string_view* request) {
  const std::string_view text(buffer_, used_);
  const size_t end = text.find("\r\n\r\n");
  if (end == std::string_view::npos) {
    requestLength_ = used_;
    return used_ >= kMaxRequest ? kTooLong : kNeedMore;
  }
  requestLength_ = end + 4;
  *request = text.substr(0, requestLength_);
  return kComplete;
}

void RequestReader::Consume() {
  if (requestLength_ >= used_) {
    used_ = 0;
  } else {
    std::memmove(buffer_, buffer_ + requestLength_, used_ - requestLength_);
    used_ -= requestLength_;
  }
  requestLength_ = 0;
}

namespace {
bool StartsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }
}  // namespace

bool Contains(std::string_view text, std::string_view what) { return text.find(what) != std::string_view::npos; }

RtspMethod MethodOf(std::string_view r) {
  if (StartsWith(r, "DESCRIBE ")) return RtspMethod::kDescribe;
  if (StartsWith(r, "SETUP ")) return RtspMethod::kSetup;
  if (StartsWith(r, "PLAY ")) return RtspMethod::kPlay;
  if (StartsWith(r, "PAUSE ")) return RtspMethod::kPause;
  if (StartsWith(r, "TEARDOWN ")) return RtspMethod::kTeardown;
  if (StartsWith(r, "GET_PARAMETER ")) return RtspMethod::kGetParameter;
  return RtspMethod::kOther;
}

bool HeaderValue(std::string_view r, std::string_view name, std::string_view* value) {
  const size_t at = r.find(name);
  if (at == std::string_view::npos) return false;
  const size_t from = at + name.size();
  const size_t cr = r.find('\r', from);
  if (cr == std::string_view::npos) return false;
  *value = r.substr(from, cr - from);
  return true;
}

namespace {
// atoi/atol over a bounded text: leading blanks, a sign, digits; saturates.
long LeadingNumber(std::string_view v) {
  size_t i = 0;
  while (i < v.size() && (v[i] == ' ' || v[i] == '\t')) ++i;
  bool negative = false;
  if (i < v.size() && (v[i] == '-' || v[i] == '+')) negative = v[i++] == '-';
  long long n = 0;
  for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) {
    n = n * 10 + (v[i] - '0');
    if (n > 0x7FFFFFFF) n = 0x7FFFFFFF;
  }
  return long(negative ? -n : n);
}
}  // namespace

long ReadCSeq(std::string_view r) {
  std::string_view v;
  if (!HeaderValue(r, "CSeq:", &v)) return -1;
  return LeadingNumber(v);
}

std::string HeaderLine(std::string_view r, std::string_view name, size_t limit) {
  const size_t at = r.find(name);
  if (at == std::string_view::npos) return {};
  const size_t cr = r.find('\r', at);
  if (cr == std::string_view::npos) return {};
  return std::string(r.substr(at, std::min(cr - at, limit)));
}

bool ReadClientPorts(std::string_view r, unsigned* first, unsigned* second) {
  const size_t at = r.find("client_port=");
  if (at == std::string_view::npos) return false;
  std::string_view rest = r.substr(at + 12);
  const size_t end = rest.find_first_of("\r;");
  rest = rest.substr(0, end);
  const size_t dash = rest.find('-');
  *first = unsigned(LeadingNumber(rest.substr(0, dash)) & 0xFFFF);
  *second = dash == std::string_view::npos ? *first + 1 : unsigned(LeadingNumber(rest.substr(dash + 1)) & 0xFFFF);
  return true;
}

bool ReadSession(std::string_view r, unsigned long* session) {
  std::string_view v;
  if (!HeaderValue(r, "Session:", &v)) return false;
  *session = static_cast<unsigned long>(LeadingNumber(v));
  return true;
}

std::string FirstLine(std::string_view r, size_t limit) {
  const size_t cr = r.find('\r');
  return std::string(r.substr(0, std::min(cr == std::string_view::npos ? r.size() : cr, limit)));
}

std::string IdentificationText(std::string_view r, size_t limit) {
  const size_t at = r.find("ID:");
  const size_t lf = r.rfind('\n');
  if (at == std::string_view::npos || lf == std::string_view::npos || lf < at || limit == 0) return {};
  return std::string(r.substr(at, std::min(lf + 1 - at, limit - 1)));
}

bool IsLivePath(std::string_view r) {
  const size_t scheme = r.find("rtsp://");
  if (scheme == std::string_view::npos) return false;
  const size_t slash = r.find('/', scheme + 7);
  if (slash == std::string_view::npos) return false;
  const std::string_view path = r.substr(slash + 1);
  return StartsWith(path, "live") || StartsWith(path, "Live") || StartsWith(path, "LIVE");
}

std::string ErrorReply(int code, std::string_view r) {
  std::string out = code == 503 ? "RTSP/1.0 503 Service Unavailable\r\n" : "RTSP/1.0 400 Bad Request\r\n";
  const std::string cseq = HeaderLine(r, "CSeq:");
  if (!cseq.empty()) out += cseq + "\r\n\r\n";
  return out;
}

std::string OkReply(std::string_view r, std::string_view rest) {
  std::string out = "RTSP/1.0 200 OK\r\n";
  out += HeaderLine(r, "CSeq:");
  out += "\r\n";
  out += rest;
  out += "\r\n";
  return out;
}

namespace {
std::string PacketLines(const SetupReplyInfo& info) {
  if (info.maxPacketSize == 0) return {};
  char b[128];
  std::snprintf(b, sizeof b, "Version: 2.0\r\nMax_packet_size: %u\r\nRTCP-Interval: %lu\r\n", info.maxPacketSize,
                info.rtcpInterval);
  return b;
}
}  // namespace

std::string SetupReplyText(std::string_view r, const SetupReplyInfo& info) {
  char b[160];
  std::string out = "RTSP/1.0 200 OK\r\n";
  out += HeaderLine(r, "CSeq:") + "\r\n";
  std::snprintf(b, sizeof b, "Session: %lu\r\n", info.session);
  out += b;
  out += PacketLines(info);
  out += HeaderLine(r, "Transport:");
  std::snprintf(b, sizeof b, ";server_port=%u-%u\r\n\r\n", info.serverPort1, info.serverPort2);
  return out + b;
}

std::string SetupReplyNumbers(long cseq, unsigned clientPort1, unsigned clientPort2, const SetupReplyInfo& info) {
  char b[256];
  std::snprintf(b, sizeof b, "RTSP/1.0 200 OK\r\nCSeq: %ld\r\nSession: %lu\r\n", cseq, info.session);
  std::string out = b;
  out += PacketLines(info);
  std::snprintf(b, sizeof b, "Transport:RTP/AVP;unicast;client_port=%u-%u;server_port=%u-%u\r\n\r\n", clientPort1,
                clientPort2, info.serverPort1, info.serverPort2);
  return out + b;
}

std::string RefusalReply(long cseq) {
  char b[64];
  std::snprintf(b, sizeof b, "RTSP/1.0 401 FAILED\r\nCSeq: %ld\r\n\r\n", cseq);
  return b;
}

std::string EndOfStreamNotice(std::string_view setupLine, unsigned long session) {
  const size_t blank = setupLine.find(' ');
  std::string out = "END_OF_STREAM";
  if (blank != std::string_view::npos) out += setupLine.substr(blank);
  // The line ends before the headers, so a reader can take it as a request.
  char b[64];
  std::snprintf(b, sizeof b, "\r\nCSeq: 0\r\nSession: %lu\r\n\r\n", session);
  return out + b;
}

}  // namespace flumera
