#include "streaming/http_download.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/os.h"
#include "streaming/net.h"
#include "streaming/scheduler.h"

namespace streaming {

namespace {

// The longest description accepted (a clip's SDP is a few hundred bytes).
constexpr uint32_t kMaxDescription = 64 * 1024;

class SocketLink : public DownloadLink {
 public:
  ~SocketLink() override { Close(); }
  int32_t Connect(const char* host, uint16_t port) override {
    Close();
    // A failed start is tolerated: the socket call then says so.
    started = net::Startup() || started;
    socket = net::OpenTcp();
    if (socket == net::kNoSocket) return kHttpNoSocket;
    if (!net::Bind(socket, 0)) return kHttpNoBind;
    uint32_t address = 0;
    if (port == 0 || !net::Resolve(host, address)) return kHttpNoConnection;
    if (net::Connect(socket, address, port) != net::kOk) return kHttpNoConnection;
    // Receives first try without waiting: a select per receive costs more
    // than the receive itself (much more under Wine).
    if (!net::SetNonBlocking(socket)) return kHttpNoConnection;
    return kHttpOk;
  }
  int32_t Send(const char* data, uint32_t length) override {
    net::Result r;
    for (int tries = 0; tries < 1000; ++tries) {
      const int32_t n = net::Send(socket, data, length, r);
      if (n >= 0 || r != net::kWouldBlock) return n;
      platform::sleepMs(1);
    }
    return -1;
  }
  int32_t Receive(uint8_t* out, uint32_t capacity) override {
    net::Result r;
    int32_t n = net::Recv(socket, out, capacity, r);
    if (n < 0 && r == net::kWouldBlock) {
      bool readable = false;
      if (net::SelectReadable(&socket, 1, 1000000, &readable) < 0) return -2;
      if (!readable) return 0;
      n = net::Recv(socket, out, capacity, r);
      if (n < 0 && r == net::kWouldBlock) return 0;
    }
    if (n > 0) return n;
    return r == net::kClosed ? -1 : -2;
  }
  void Close() override {
    if (socket != net::kNoSocket) net::Close(socket);
    socket = net::kNoSocket;
  }
  void Cleanup() override {
    if (started) net::Cleanup();
    started = false;
  }

 private:
  net::Socket socket = net::kNoSocket;
  bool started = false;
};

// A bounded 8-bit field of a request record, as far as it is terminated.
std::string Field(const char* text, size_t size) {
  size_t n = 0;
  while (n < size && text[n]) ++n;
  return std::string(text, n);
}

template <size_t N>
std::string Field(const char (&text)[N]) {
  return Field(text, N);
}

template <size_t N>
std::string Narrow(const char16_t (&text)[N], size_t limit) {
  size_t n = 0;
  while (n < N && text[n]) ++n;
  std::string s = platform::utf16ToUtf8(std::u16string_view(text, n));
  if (s.size() > limit) s.resize(limit);
  return s;
}

template <size_t N>
void PutWide(char16_t (&out)[N], const char16_t* text, size_t units) {
  if (units >= N) units = N - 1;
  std::memcpy(out, text, units * sizeof(char16_t));
  out[units] = 0;
}

std::string Format(const char* format, const std::string& a) {
  std::string s(format);
  const size_t at = s.find("%s");
  return s.substr(0, at) + a + s.substr(at + 2);
}

}  // namespace

std::unique_ptr<DownloadLink> NewSocketLink() { return std::make_unique<SocketLink>(); }

HttpDownload::HttpDownload(std::unique_ptr<DownloadLink> l) : link(l ? std::move(l) : NewSocketLink()) {}

HttpDownload::~HttpDownload() { CloseAll(); }

int32_t HttpDownload::Abort() {
  abortFlag = 1;
  return 0;
}

void HttpDownload::CloseAll() {
  files.Close();
  link->Close();
  connected = false;
}

void HttpDownload::CleanupSockets() { link->Cleanup(); }

void HttpDownload::Shutdown() {
  abortFlag = 1;
  CloseAll();
  CleanupSockets();
}

int32_t HttpDownload::GetClipInfo(DownloadClipInfo* out) {
  *out = clipInfo;
  return 0;
}
int32_t HttpDownload::GetPlaybackTime(int32_t* out) {
  *out = playbackTime;
  return 0;
}
int32_t HttpDownload::GetDownloadRate(float* out) {
  *out = rate;
  return 0;
}
int32_t HttpDownload::GetContentLength(int32_t* out) {
  *out = totalLength;
  return 0;
}
int32_t HttpDownload::GetRemainingBytes(int32_t* out) {
  // Against the end this answer reaches: a resumed answer may repeat a part.
  const int32_t remaining = (expectedTotal > 0 ? expectedTotal.load() : totalLength.load()) - received;
  *out = remaining > 0 ? remaining : 0;
  return 0;
}
int32_t HttpDownload::GetStateFlags(uint32_t* out) {
  *out = request.stateFlags;
  return 0;
}
int32_t HttpDownload::GetStoredValue(uint32_t* out) {
  *out = trackRequest.storedValue;
  return 0;
}
int32_t HttpDownload::GetServerMessage(const char** out) {
  *out = serverMessage[0] ? serverMessage : nullptr;
  return 0;
}

int32_t HttpDownload::Connect() {
  // Host and port from the URL: between "//" and the next '/'.
  std::u16string url(request.url, std::char_traits<char16_t>::length(request.url));
  const size_t slashes = url.find(u"//");
  const size_t path = slashes == std::u16string::npos ? slashes : url.find(u'/', slashes + 2);
  if (path != std::u16string::npos) {
    std::u16string host = url.substr(slashes + 2, path - slashes - 2);
    std::u16string port = u"9300";
    const size_t colon = host.find(u':');
    if (colon != std::u16string::npos) {
      port = host.substr(colon + 1);
      host.resize(colon);
    }
    PutWide(request.host, host.data(), host.size());
    PutWide(request.port, port.data(), port.size());
  }
  uint32_t port = 0;
  const std::string portText = Narrow(request.port, 24);
  for (char c : portText) port = (c >= '0' && c <= '9' && port <= 65535) ? port * 10 + uint32_t(c - '0') : 0x10000;
  if (portText.empty() || port > 65535) port = 0;
  const int32_t rc = link->Connect(Narrow(request.host, 50).c_str(), uint16_t(port));
  if (rc != kHttpOk) {
    link->Close();
    CleanupSockets();
    return rc;
  }
  connected = true;
  buffered = 0;
  return kHttpOk;
}

bool HttpDownload::SendAll(const std::string& text) {
  size_t sent = 0;
  while (sent < text.size() && !abortFlag) {
    const int32_t n = link->Send(text.data() + sent, uint32_t(text.size() - sent));
    if (n <= 0) return false;  // the following read reports it
    sent += size_t(n);
  }
  return sent == text.size();
}

std::string HttpDownload::CommonLines(const char* acceptLine) const {
  const DownloadRequest& r = request;
  std::string s = Format("GET %s HTTP/1.1\r\n", Narrow(r.url, 256));
  s += acceptLine;
  s += Format("User-Agent: %s\r\n", Field(r.userAgent));
  s += Format("Host: %s\r\n", Narrow(r.host, 50));
  s += Format("User-Network: %s\r\n", Field(r.userNetwork));
  s += Format("DeviceInfo: %s\r\n", Field(r.deviceInfo));
  s += "ID: user=" + Field(r.user) + "; authentication=" + Field(r.authentication) + "\r\n";
  s += Format("Expiration: %s\r\n", Field(r.expiration));
  s += Format("Application-Specific-String: %s\r\n", Field(r.application));
  s += "Verification: filler=" + Field(r.filler) + "; signature=" + Field(r.signature) + "\r\n";
  return s;
}

std::string HttpDownload::DescriptionRequestText() const {
  return CommonLines("Accept: application/sdp\r\n") + "Connection: Keep-Alive\r\n\r\n";
}

std::string HttpDownload::MediaRequestText() const {
  char accept[64];
  std::snprintf(accept, sizeof accept, "Accept: application/x-mp4; storageSize=%u\r\n", request.storageSize);
  std::string s = CommonLines(accept);
  s += "Track-List: ";
  const uint32_t count = trackRequest.trackCount < TrackRequest::kMaxTracks ? trackRequest.trackCount
                                                                            : TrackRequest::kMaxTracks;
  for (uint32_t i = 0; i < count; ++i) s += "track_ID=" + std::to_string(int32_t(trackRequest.trackIds[i])) + ";";
  s += "\r\n";
  s += "Range: milliseconds=" + std::to_string(request.startMs) + "\r\n";
  char date[64] = {};
  if (!IsoToCtimeDate(Field(trackRequest.date).c_str(), date, sizeof date)) date[0] = 0;
  s += Format("If-Unmodified-Since: %s\r\n", date);
  s += "Connection: close\r\n\r\n";
  return s;
}

void HttpDownload::Consume(uint32_t bytes) {
  if (bytes >= buffered) {
    buffered = 0;
    return;
  }
  std::memmove(buffer, buffer + bytes, buffered - bytes);
  buffered -= bytes;
}

int32_t HttpDownload::ReceiveMore(int32_t& idle) {
  for (;;) {
    if (abortFlag) return kHttpAborted;
    const uint32_t room = kHeaderBufferSize - buffered;
    const int32_t n = link->Receive(buffer + buffered, room);
    if (n > 0) {
      buffered += uint32_t(n);
      return kHttpOk;
    }
    if (n == -2) {
      CleanupSockets();
      return kHttpReceiveError;
    }
    if (++idle >= idleLimit) {
      CleanupSockets();
      return kHttpTimedOut;
    }
  }
}

int32_t HttpDownload::ReadHeader() {
  int32_t idle = 0;
  for (;;) {
    const int32_t kind = ClassifyHeader(reinterpret_cast<const char*>(buffer), buffered);
    if (kind != 0) return kind;
    // A header that does not fit the buffer can never be classified.
    if (buffered >= kHeaderBufferSize) return kHttpUnexpected;
    if (abortFlag) return kHttpAborted;
    const uint32_t room = kHeaderBufferSize - buffered;
    const int32_t n = link->Receive(buffer + buffered, room < 1024 ? room : 1024);
    if (n > 0) {
      buffered += uint32_t(n);
      continue;
    }
    if (n == -2) {
      CleanupSockets();
      return kHttpReceiveError;
    }
    if (++idle >= idleLimit) {
      CleanupSockets();
      return kHttpTimedOut;
    }
  }
}

void HttpDownload::TakeServerMessage(const uint8_t* body, uint32_t available, uint32_t bodyLength) {
  uint32_t n = available < bodyLength ? available : bodyLength;
  if (n > kServerMessageSize - 1) n = kServerMessageSize - 1;
  std::memcpy(serverMessage, body, n);
  serverMessage[n] = 0;
}

int32_t HttpDownload::FetchDescription(const DownloadRequest& caller) {
  abortFlag = 0;
  rate = 0.0f;
  serverMessage[0] = 0;
  resuming = caller.resume != 0;
  resumingMedia = false;
  expectedTotal = 0;
  request = caller;
  CloseAll();
  if (!files.SetBasePath(caller.basePath)) return kHttpFileError;
  bool describe = !resuming;
  if (!resuming) {
    received = 0;
    totalLength = 0;
    playbackTime = 0;
    clipInfo = DownloadClipInfo{};
    if (!files.CreateState(request)) return kHttpFileError;
  } else {
    DownloadSavedState saved;
    saved.request = caller;
    saved.clipInfo = clipInfo;
    saved.tracks = trackRequest;
    if (!files.OpenState(saved)) return kHttpFileError;
    request = saved.request;
    request.resume = caller.resume;
    request.startMs = saved.playbackTimeMs;
    playbackTime = saved.playbackTimeMs;
    received = saved.received;
    trackRequest = saved.tracks;
    clipInfo = saved.clipInfo;
    totalLength = saved.totalLength;
    // A state file cut before the total length: the media starts afresh,
    // and before the clip information the description is fetched again.
    resumingMedia = saved.totalLength > 0;
    if (resumingMedia) {
      request.storageSize = uint32_t(saved.totalLength);
    } else {
      received = 0;
      request.startMs = 0;
    }
    describe = !saved.haveClipInfo;
    haveTracks = saved.haveTracks;
  }
  idleLimit = request.idleLimit > 0 ? request.idleLimit : 1;
  const int32_t rc = Connect();
  if (rc != kHttpOk) {
    CloseAll();
    return rc;
  }
  if (!describe) return kHttpOk;
  SendAll(DescriptionRequestText());
  return ReadDescriptionAnswer();
}

int32_t HttpDownload::ReadDescriptionAnswer() {
  const int32_t kind = ReadHeader();
  const char* text = reinterpret_cast<const char*>(buffer);
  if (kind == kHttpAborted || kind == kHttpReceiveError || kind == kHttpTimedOut || kind == kHttpUnexpected) {
    CloseAll();
    return kind;
  }
  const uint32_t header = HeaderLength(text, buffered);
  const uint32_t searched = header ? header : buffered;
  if (kind == kHttpHeaderComplete && !FindText(text, searched, "Content-Type: application/sdp") &&
      !FindText(text, searched, "Content-Type: text/message")) {
    CloseAll();
    return kHttpUnexpected;
  }
  uint32_t length = 0;
  const bool hasLength = NumberAfter(text, searched, "Content-Length: ", length);
  if (kind != kHttpHeaderComplete) {
    CloseAll();
    if (kind == 10 && hasLength && length <= 0x7FFFFFFF) totalLength = int32_t(length);
    if (hasLength) TakeServerMessage(buffer + header, header ? buffered - header : 0, length);
    return kind;
  }
  if (!hasLength) {
    CloseAll();
    return kHttpHeaderComplete;
  }
  if (length > kMaxDescription) {
    CloseAll();
    return kHttpBadDescription;
  }
  std::string body(reinterpret_cast<const char*>(buffer + header), buffered - header);
  Consume(buffered);
  int32_t idle = 0;
  while (body.size() < length) {
    const int32_t n = ReceiveMore(idle);
    if (n != kHttpOk) {
      CloseAll();
      return n;
    }
    body.append(reinterpret_cast<const char*>(buffer), buffered);
    Consume(buffered);
  }
  // Bytes beyond the body belong to nothing we asked for.
  body.resize(length);
  SdpParser parser;
  SdpSessionDescription session;
  const int32_t parsed = ParseSdpIntoClipInfo(parser, body.data(), length, session, clipInfo);
  return parsed == 0 ? kHttpOk : kHttpBadDescription;
}

int32_t HttpDownload::DownloadMedia(const TrackRequest& caller) {
  // A resumed download keeps the tracks it asked for, unless its state file
  // was cut before they were stored.
  if (!resuming || !haveTracks) {
    trackRequest = caller;
    if (trackRequest.trackCount > TrackRequest::kMaxTracks) trackRequest.trackCount = TrackRequest::kMaxTracks;
    if (!files.AppendTracks(trackRequest, clipInfo)) {
      CloseAll();
      return kHttpFileError;
    }
  }
  if (!connected) {
    CloseAll();
    return kHttpNoConnection;
  }
  const uint32_t start = platform::monotonicMs() & 0xFFFFFFFFu;
  if (!resumingMedia) received = 0;
  SendAll(MediaRequestText());
  const int32_t kind = ReadHeader();
  const char* text = reinterpret_cast<const char*>(buffer);
  auto finish = [&](int32_t last, int32_t expectedEnd) {
    CloseAll();
    if (received >= 1 && received >= expectedEnd) return int32_t(kHttpComplete);
    return abortFlag ? int32_t(kHttpAborted) : last;
  };
  if (kind == kHttpAborted) return finish(kind, 0x7FFFFFFF);
  if (kind == kHttpTimedOut && resumingMedia && received >= totalLength && totalLength > 0) {
    CloseAll();
    return kHttpComplete;
  }
  if (kind == kHttpReceiveError || kind == kHttpTimedOut || kind == kHttpUnexpected) {
    CloseAll();
    return kind;
  }
  const uint32_t header = HeaderLength(text, buffered);
  const uint32_t searched = header ? header : buffered;
  if (kind == kHttpHeaderComplete &&
      ((!FindText(text, searched, "Content-Type: multipart/byteranges;") &&
        !FindText(text, searched, "Content-Type: text/message")) ||
       !FindText(text, searched, "boundary="))) {
    CloseAll();
    return kHttpUnexpected;
  }
  uint32_t length = 0;
  const bool hasLength = NumberAfter(text, searched, "Content-Length: ", length);
  if (kind != kHttpHeaderComplete) {
    if (kind == 10 && hasLength && length <= 0x7FFFFFFF) totalLength = int32_t(length);
    serverMessage[0] = 0;
    if (hasLength) TakeServerMessage(buffer + header, header ? buffered - header : 0, length);
    return finish(kind, 0x7FFFFFFF);
  }
  if (!hasLength) {
    serverMessage[0] = 0;
    CloseAll();
    return kHttpHeaderComplete;
  }
  // A fresh answer must fit the storage it announced; a resumed one the
  // file it continues (it may send again parts that share a playback time).
  const uint64_t bound = resumingMedia ? uint64_t(totalLength) : request.storageSize;
  if (length > bound || length > 0x7FFFFFFF || length == 0) {
    CloseAll();
    return kHttpTooLong;
  }
  if (!resumingMedia) {
    totalLength = int32_t(length);
    request.storageSize = length;
    if (!files.AppendTotalLength(int32_t(length))) {
      CloseAll();
      return kHttpFileError;
    }
  }
  char delimiter[80];
  if (!ParseBoundary(text, searched, delimiter, sizeof delimiter)) {
    CloseAll();
    return kHttpUnexpected;
  }
  if (!files.OpenData(!resumingMedia, int32_t(length))) {
    CloseAll();
    return kHttpFileError;
  }
  Consume(header);
  const int32_t expectedEnd = resumingMedia ? int32_t(length) + received : int32_t(length);
  expectedTotal = expectedEnd;
  startTick = start;
  const int32_t last = ReadMediaParts(expectedEnd, delimiter);
  return finish(last, expectedEnd);
}

int32_t HttpDownload::ReadMediaParts(int32_t expectedEnd, const char* delimiter) {
  int32_t last = kHttpOk;
  while (received < expectedEnd && !abortFlag) {
    const int32_t kind = ReadHeader();
    if (kind == kHttpAborted) return kind;
    if (kind < kHttpHeaderComplete || kind > kHttpVersionNotSupported) return kHttpUnexpected;
    const char* text = reinterpret_cast<const char*>(buffer);
    PartHeader part;
    if (ParsePartHeader(text, buffered, delimiter, uint32_t(totalLength), part) != kHttpHeaderComplete)
      return kHttpUnexpected;
    const uint32_t partLength = part.last - part.first + 1;
    if (kind != kHttpHeaderComplete) {
      // An error status inside a part: its body is the server's message.
      const uint32_t header = part.headerLength;
      TakeServerMessage(buffer + header, header ? buffered - header : 0, partLength);
      return kind;
    }
    playbackTime = int32_t(part.playbackTimeMs);
    if (!files.WriteProgress(playbackTime, received)) return kHttpFileError;
    Consume(part.headerLength);
    uint32_t written = 0;
    int32_t idle = 0;
    while (written < partLength) {
      if (buffered == 0) {
        const int32_t n = ReceiveMore(idle);
        if (n != kHttpOk) return n;
        idle = 0;
      }
      const uint32_t take = buffered < partLength - written ? buffered : partLength - written;
      if (!files.WriteData(part.first + written, buffer, take)) return kHttpFileError;
      written += take;
      Consume(take);
    }
    received += int32_t(partLength);
    const uint32_t now = platform::monotonicMs() & 0xFFFFFFFFu;
    const uint32_t elapsed = now > startTick ? now - startTick : startTick - now;
    rate = elapsed ? float(received) / float(elapsed) : float(received);
    last = kHttpOk;
  }
  return last;
}

}  // namespace streaming
