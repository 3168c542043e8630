// The HTTP download client: its header checks as tables, and whole downloads
// from the python peer of the dialect (tests/download_peer.py, started for the
// whole run by a CTest fixture) of a clip our writer recorded: the data file
// equals the clip byte for byte in order, shuffled, split, after an abort and
// a resume, after the data file was lost; the requests equal the dialect's
// text; each error answer gives its code.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "streaming/download_files.h"
#include "streaming/http_download.h"
#include "streaming/net.h"

using namespace streaming;
using Client = streaming::HttpDownload;

namespace {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

const std::filesystem::path kPeerDir = "download_peer";

int PeerPort() {
  const std::string port = ReadFile(kPeerDir / "http.port");
  if (port.empty())
    ADD_FAILURE() << "the download peer is not running: ctest starts it as a fixture "
                     "(tests/download_peer.sh)";
  return std::atoi(port.c_str());
}

struct Part {
  uint32_t first, last, timeMs;
};

// parts.json: [[first, last, playbackTime], ...] in the order sent.
std::vector<Part> PeerParts() {
  std::vector<Part> parts;
  std::vector<uint32_t> numbers;
  const std::string text = ReadFile(kPeerDir / "parts.json");
  for (size_t i = 0; i < text.size();) {
    if (text[i] >= '0' && text[i] <= '9') {
      size_t end = i;
      while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
      numbers.push_back(uint32_t(std::stoul(text.substr(i, end - i))));
      i = end;
    } else {
      ++i;
    }
  }
  for (size_t i = 0; i + 2 < numbers.size(); i += 3) parts.push_back({numbers[i], numbers[i + 1], numbers[i + 2]});
  return parts;
}

// The requests the peer read for a name, oldest first.
std::vector<std::string> PeerLog(const std::string& name) {
  std::vector<std::string> out;
  const std::string text = ReadFile(kPeerDir / (name + ".log"));
  size_t at = 0;
  for (size_t end; (end = text.find("=====\n", at)) != std::string::npos; at = end + 6)
    out.push_back(text.substr(at, end - at));
  return out;
}

template <size_t N>
void Put(char (&field)[N], const char* text) {
  std::strncpy(field, text, N - 1);
}
template <size_t N>
void Put(char16_t (&field)[N], const std::u16string& text) {
  size_t i = 0;
  for (; i < text.size() && i < N - 1; ++i) field[i] = text[i];
  field[i] = 0;
}

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::filesystem::path OutDir(const std::string& name) {
  auto dir = std::filesystem::absolute("download_out") / name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

std::string Url(const std::string& mode, const std::string& name) {
  return "http://127.0.0.1:" + std::to_string(PeerPort()) + "/" + mode + "/" + name + ".mp4";
}

DownloadRequest MakeRequest(const std::string& url, const std::filesystem::path& dir, int32_t idle = 5) {
  DownloadRequest r{};
  Put(r.url, Wide(url));
  Put(r.basePath, (dir / "krdl").u16string());
  Put(r.version, "3.0");
  Put(r.userAgent, "WMF/1.1,Orlomer 3.0,ENGL");
  Put(r.userNetwork, "UNKNOWN");
  Put(r.deviceInfo, "OS=WINNT;MEM=1000");
  r.idleLimit = idle;
  r.storageSize = 0x7FFFFFFF;
  r.stateFlags = 1;
  return r;
}

TrackRequest MakeTracks() {
  TrackRequest t{};
  Put(t.clip, u"Clip");
  Put(t.date, "20261210T120000");
  t.trackIds[0] = 1;
  t.trackIds[1] = 2;
  t.trackCount = 2;
  t.storedValue = 3;
  return t;
}

const std::string& Source() {
  static const std::string clip = ReadFile(kPeerDir / "clip.mp4");
  return clip;
}

}  // namespace

TEST(HttpHeader, StatusesGiveTheirCodes) {
  const struct {
    const char* status;
    int32_t code;
  } cases[] = {
      {"200 OK", 1},
      {"302 Found", 1},
      {"400 Bad Request", 7},
      {"403 Forbidden", 8},
      {"404 Not Found", 9},
      {"409 Conflict", 10},
      {"405 Method Not Allowed", 11},
      {"412 Precondition Failed", 12},
      {"415 Unsupported Media Type", 13},
      {"416 Requested Range Not Satisfiable", 14},
      {"500 Internal Server Error", 15},
      {"501 Method Not Supported", 16},
      {"503 Service Unavailable", 17},
      {"505 HTTP Version Not Supported", 18},
  };
  for (const auto& c : cases) {
    const std::string h = std::string("HTTP/1.1 ") + c.status + "\r\nContent-Length: 0\r\n\r\n";
    EXPECT_EQ(ClassifyHeader(h.data(), uint32_t(h.size())), c.code) << c.status;
    if (c.code >= 7) {
      EXPECT_STREQ(HttpStatusText(c.code), c.status);
    }
  }
  // Anywhere in the header counts; not in a body behind it; the search order
  // decides between two.
  const std::string page = "HTTP/1.1 200 OK\r\nX-Why: 404 Not Found\r\n\r\n";
  EXPECT_EQ(ClassifyHeader(page.data(), uint32_t(page.size())), 9);
  const std::string body = "HTTP/1.1 200 OK\r\n\r\n404 Not Found";
  EXPECT_EQ(ClassifyHeader(body.data(), uint32_t(body.size())), 1);
  const std::string two = "HTTP/1.1 500 Internal Server Error\r\nX: 403 Forbidden\r\n\r\n";
  EXPECT_EQ(ClassifyHeader(two.data(), uint32_t(two.size())), 8);
}

TEST(HttpHeader, ClassifiedOnlyOnceTheBlankLineIsComplete) {
  const std::string h = "HTTP/1.1 200 OK\r\nContent-Type: application/sdp\r\nContent-Length: 5\r\n\r\nv=0\r\n";
  const uint32_t blank = HeaderLength(h.data(), uint32_t(h.size()));
  ASSERT_GT(blank, 0u);
  for (uint32_t n = 0; n <= h.size(); ++n)
    EXPECT_EQ(ClassifyHeader(h.data(), n), n >= blank ? 1 : 0) << n;
}

TEST(HttpHeader, Boundaries) {
  const struct {
    const char* header;
    const char* delimiter;  // null: none
  } cases[] = {
      {"Content-Type: multipart/byteranges; boundary=abc\r\n", "--abc"},
      {"Content-Type: multipart/byteranges; boundary=\"a b;c\"\r\n", "--a b;c"},
      {"Content-Type: multipart/byteranges; boundary=\r\n", nullptr},
      {"Content-Type: multipart/byteranges; boundary=\"open\r\n", nullptr},
      {"Content-Type: multipart/byteranges\r\n", nullptr},
      {"Content-Type: multipart/byteranges; boundary=abc", nullptr},
  };
  for (const auto& c : cases) {
    char out[80] = {};
    const bool ok = ParseBoundary(c.header, uint32_t(std::strlen(c.header)), out, sizeof out);
    EXPECT_EQ(ok, c.delimiter != nullptr) << c.header;
    if (ok && c.delimiter) {
      EXPECT_STREQ(out, c.delimiter);
    }
  }
  const std::string longer = "boundary=" + std::string(100, 'b') + "\r\n";
  char out[80];
  EXPECT_FALSE(ParseBoundary(longer.data(), uint32_t(longer.size()), out, sizeof out));
}

TEST(HttpHeader, PartHeaders) {
  const std::string ok = "\r\n--B\r\nContent-Range: bytes 10-19\r\n"
                         "Content-Type: application/x-mp4; playbackTime=4000\r\n\r\n";
  const struct {
    std::string text;
    uint32_t total;
    int32_t result;
  } cases[] = {
      {ok, 100, 1},
      {ok, 20, 1},
      {ok, 19, 6},  // last beyond the download
      {"--B\r\nContent-Range: bytes 20-19\r\nContent-Type: application/x-mp4; playbackTime=1\r\n\r\n", 100, 6},
      {"--B\r\nContent-Range: bytes 0-9\r\nContent-Type: application/x-mp4\r\n\r\n", 100, 6},
      {"--C\r\nContent-Range: bytes 0-9\r\nContent-Type: application/x-mp4; playbackTime=1\r\n\r\n", 100, 6},
      {"--B\r\nContent-Range: bytes -9\r\nContent-Type: application/x-mp4; playbackTime=1\r\n\r\n", 100, 6},
      {"--B\r\nContent-Range: bytes 0-99999999999\r\nContent-Type: application/x-mp4; playbackTime=1\r\n\r\n",
       0xFFFFFFFF, 6},
      {"--B\r\nContent-Range: bytes 0-9\r\nContent-Type: video/mp4; playbackTime=1\r\n\r\n", 100, 6},
  };
  for (const auto& c : cases) {
    PartHeader p;
    EXPECT_EQ(ParsePartHeader(c.text.data(), uint32_t(c.text.size()), "--B", c.total, p), c.result) << c.text;
  }
  PartHeader p;
  ASSERT_EQ(ParsePartHeader(ok.data(), uint32_t(ok.size()), "--B", 100, p), 1);
  EXPECT_EQ(p.first, 10u);
  EXPECT_EQ(p.last, 19u);
  EXPECT_EQ(p.playbackTimeMs, 4000u);
  EXPECT_EQ(p.headerLength, ok.size());
}

TEST(HttpDownloadPeer, RequestsAreTheDialectsLines) {
  const auto dir = OutDir("lines");
  const int port = PeerPort();
  DownloadRequest r = MakeRequest(Url("plain", "lines"), dir);
  Put(r.user, "ann");
  Put(r.authentication, "secret");
  Put(r.expiration, "20270101");
  Put(r.application, "app-string");
  Put(r.filler, "fill");
  Put(r.signature, "sig");
  Client client;
  ASSERT_EQ(client.FetchDescription(r), 0);
  EXPECT_EQ(std::u16string(client.Request().host), u"127.0.0.1");
  EXPECT_EQ(std::u16string(client.Request().port), Wide(std::to_string(port)));
  DownloadClipInfo info{};
  client.GetClipInfo(&info);
  EXPECT_EQ(info.mediaCount, 2u);
  EXPECT_STREQ(info.sessionName, "lines");
  EXPECT_EQ(info.rangeEndMs, 20000u);
  EXPECT_STREQ(info.media[0].encodingName, "MP4V-ES");
  EXPECT_EQ(info.media[1].trackNumber, 2u);
  EXPECT_EQ(client.DownloadMedia(MakeTracks()), kHttpComplete);
  int32_t total = 0, remaining = -1, time = -1;
  client.GetContentLength(&total);
  client.GetRemainingBytes(&remaining);
  client.GetPlaybackTime(&time);
  EXPECT_EQ(size_t(total), Source().size());
  EXPECT_EQ(remaining, 0);
  EXPECT_EQ(uint32_t(time), PeerParts().back().timeMs);
  float rate = 0;
  client.GetDownloadRate(&rate);
  EXPECT_GT(rate, 0.0f);
  uint32_t stored = 0, flags = 0;
  client.GetStoredValue(&stored);
  client.GetStateFlags(&flags);
  EXPECT_EQ(stored, 3u);
  EXPECT_EQ(flags, 1u);
  const char* message = "x";
  client.GetServerMessage(&message);
  EXPECT_EQ(message, nullptr);

  const std::string common =
      "User-Agent: WMF/1.1,Orlomer 3.0,ENGL\r\n"
      "Host: 127.0.0.1\r\n"
      "User-Network: UNKNOWN\r\n"
      "DeviceInfo: OS=WINNT;MEM=1000\r\n"
      "ID: user=ann; authentication=secret\r\n"
      "Expiration: 20270101\r\n"
      "Application-Specific-String: app-string\r\n"
      "Verification: filler=fill; signature=sig\r\n";
  const std::string get = "GET " + Url("plain", "lines") + " HTTP/1.1\r\n";
  const auto log = PeerLog("lines");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], get + "Accept: application/sdp\r\n" + common + "Connection: Keep-Alive\r\n\r\n");
  EXPECT_EQ(log[1], get + "Accept: application/x-mp4; storageSize=2147483647\r\n" + common +
                        "Track-List: track_ID=1;track_ID=2;\r\n"
                        "Range: milliseconds=0\r\n"
                        "If-Unmodified-Since: Thu Dec 10 12:00:00 2026\r\n"
                        "Connection: close\r\n\r\n");
  EXPECT_EQ(ReadFile(dir / "krdl.tmp"), Source());
  const std::string state = ReadFile(dir / "krdl.dat");
  ASSERT_EQ(state.size(), 6156u);
  uint32_t saved = 0;
  std::memcpy(&saved, state.data() + 6152, 4);
  EXPECT_EQ(saved, Source().size());
  // For ffprobe (a CTest step after this test). MinGW's copy does not
  // overwrite, so the old one goes first.
  const auto finished = std::filesystem::absolute("download_out") / "finished.tmp";
  std::filesystem::remove(finished);
  std::filesystem::copy_file(dir / "krdl.tmp", finished);
}

TEST(HttpDownloadPeer, DataFileEqualsTheClip) {
  for (const char* mode : {"plain", "quoted", "shuffled", "split", "longheader"}) {
    SCOPED_TRACE(mode);
    const std::string name = std::string("equal-") + mode;
    const auto dir = OutDir(name);
    Client client;
    ASSERT_EQ(client.FetchDescription(MakeRequest(Url(mode, name), dir)), 0);
    EXPECT_EQ(client.DownloadMedia(MakeTracks()), kHttpComplete);
    EXPECT_TRUE(ReadFile(dir / "krdl.tmp") == Source());
    client.Shutdown();
  }
}

TEST(HttpDownloadPeer, ErrorAnswers) {
  const struct {
    std::string mode;
    bool media;  // the error comes with the media answer
    int32_t code;
    const char* message;
  } cases[] = {
      {"describe400", false, 7, "Server says 400 for this clip."},
      {"describe403", false, 8, "Server says 403 for this clip."},
      {"describe404", false, 9, "Server says 404 for this clip."},
      {"describe409", false, 10, "Server says 409 for this clip."},
      {"describe405", false, 11, "Server says 405 for this clip."},
      {"describe412", false, 12, nullptr},
      {"describe415", false, 13, nullptr},
      {"describe416", false, 14, nullptr},
      {"describe500", false, 15, nullptr},
      {"describe501", false, 16, nullptr},
      {"describe503", false, 17, nullptr},
      {"describe505", false, 18, nullptr},
      {"media404", true, 9, "Server says 404 for this clip."},
      {"media503", true, 17, "Server says 503 for this clip."},
      {"textmsg", false, 2, nullptr},       // a 200 must carry a description
      {"badtype", false, 6, nullptr},
      {"hugeheader", false, 6, nullptr},     // beyond the 4096-byte buffer
      {"toolong", true, 24, nullptr},        // one byte beyond the storage size
      {"nodelimiter", true, 6, nullptr},
      {"notime", true, 6, nullptr},
      {"badrange", true, 6, nullptr},
      {"closepart", true, 23, nullptr},      // closed inside a part
      {"closebetween", true, 6, nullptr},    // closed between two parts
      {"silent", true, 23, nullptr},         // idle limit of 2 waits
      // Cut to the 99 characters the message field holds, terminated.
      {"longmessage", false, 8, "ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                "ABCDEFGHIJKLMNOPQRSTU"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    const std::string name = "error-" + c.mode;
    const auto dir = OutDir(name);
    Client client;
    DownloadRequest r = MakeRequest(Url(c.mode, name), dir, 2);
    if (c.mode == "toolong") r.storageSize = uint32_t(Source().size());
    const int32_t described = client.FetchDescription(r);
    if (!c.media) {
      EXPECT_EQ(described, c.code);
    } else {
      ASSERT_EQ(described, 0);
      EXPECT_EQ(client.DownloadMedia(MakeTracks()), c.code);
    }
    const char* message = nullptr;
    client.GetServerMessage(&message);
    if (c.message) {
      ASSERT_NE(message, nullptr);
      EXPECT_STREQ(message, c.message);
    }
    client.Shutdown();
  }
}

TEST(HttpDownloadPeer, ConnectFailuresAndTheDefaultPort) {
  const auto dir = OutDir("connect");
  // A port nobody listens on: a socket bound and closed again.
  net::Startup();
  net::Socket s = net::OpenTcp();
  ASSERT_TRUE(net::Bind(s, 0));
  const uint16_t port = net::LocalPort(s);
  net::Close(s);
  Client refused;
  EXPECT_EQ(refused.FetchDescription(MakeRequest("http://127.0.0.1:" + std::to_string(port) + "/a.mp4", dir)),
            kHttpNoConnection);
  Client bare;
  bare.FetchDescription(MakeRequest("http://127.0.0.1/a.mp4", dir));
  EXPECT_EQ(std::u16string(bare.Request().port), u"9300");
  EXPECT_EQ(std::u16string(bare.Request().host), u"127.0.0.1");
  Client bad;
  EXPECT_EQ(bad.FetchDescription(MakeRequest("http://127.0.0.1:99999/a.mp4", dir)), kHttpNoConnection);
  net::Cleanup();
}

TEST(HttpDownloadPeer, LocalFileFailures) {
  const auto dir = OutDir("files");
  // A base name whose ".dat" does not fit 256 units.
  DownloadRequest r = MakeRequest(Url("plain", "files"), dir);
  const std::u16string longBase = (dir / std::string(250, 'n')).u16string();
  Put(r.basePath, longBase);
  Client tooLong;
  EXPECT_EQ(tooLong.FetchDescription(r), kHttpFileError);
  // Resuming without a state file.
  DownloadRequest resume = MakeRequest("", dir);
  resume.resume = 1;
  Client lost;
  EXPECT_EQ(lost.FetchDescription(resume), kHttpFileError);
}

// Interrupted inside part k (the peer stalls there the first time), aborted,
// then resumed by a new client from the state file alone.
TEST(HttpDownloadPeer, AbortThenResume) {
  const auto parts = PeerParts();
  ASSERT_GT(parts.size(), 10u);
  const struct {
    uint32_t k;
    bool loseData;
  } cases[] = {{2, false}, {2, true}, {9, false}, {9, true}};
  for (const auto& c : cases) {
    const std::string name = "resume-" + std::to_string(c.k) + (c.loseData ? "-lost" : "");
    SCOPED_TRACE(name);
    const auto dir = OutDir(name);
    int32_t before = 0;
    for (uint32_t i = 0; i < c.k; ++i) before += int32_t(parts[i].last - parts[i].first + 1);
    {
      Client client;
      ASSERT_EQ(client.FetchDescription(MakeRequest(Url("stall" + std::to_string(c.k), name), dir)), 0);
      std::atomic<int32_t> result{-1};
      std::thread worker([&] { result = client.DownloadMedia(MakeTracks()); });
      // Parts before k are in once the remaining bytes say so; then part k's
      // header and half its body arrive and the peer stalls.
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      for (;;) {
        int32_t total = 0, remaining = 0;
        client.GetContentLength(&total);
        client.GetRemainingBytes(&remaining);
        if ((total > 0 && total - remaining >= before) || std::chrono::steady_clock::now() > deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      client.Abort();
      worker.join();
      EXPECT_EQ(result, kHttpAborted);
      client.CloseAll();
    }
    const std::string state = ReadFile(dir / "krdl.dat");
    ASSERT_EQ(state.size(), 6156u);
    uint32_t words[2];
    std::memcpy(words, state.data(), 8);
    EXPECT_EQ(words[0], parts[c.k].timeMs);
    EXPECT_EQ(int32_t(words[1]), before);
    if (c.loseData) std::filesystem::remove(dir / "krdl.tmp");

    DownloadRequest resume{};
    resume.resume = 1;
    Put(resume.basePath, (dir / "krdl").u16string());
    Client again;
    ASSERT_EQ(again.FetchDescription(resume), 0);
    DownloadClipInfo info{};
    again.GetClipInfo(&info);
    EXPECT_STREQ(info.sessionName, name.c_str());
    EXPECT_EQ(again.DownloadMedia(TrackRequest{}), kHttpComplete);
    const auto log = PeerLog(name);
    ASSERT_EQ(log.size(), 3u);  // one description, two media requests
    EXPECT_NE(log[2].find("Range: milliseconds=" + std::to_string(parts[c.k].timeMs) + "\r\n"), std::string::npos);
    EXPECT_NE(log[2].find("storageSize=" + std::to_string(Source().size()) + "\r\n"), std::string::npos);
    EXPECT_NE(log[2].find("Track-List: track_ID=1;track_ID=2;\r\n"), std::string::npos);
    const std::string data = ReadFile(dir / "krdl.tmp");
    if (!c.loseData || parts[c.k].timeMs == 0) {
      EXPECT_TRUE(data == Source());
    } else {
      // Only the parts from k on came again, each at its offset.
      for (size_t i = c.k; i < parts.size(); ++i) {
        const uint32_t n = parts[i].last - parts[i].first + 1;
        ASSERT_GE(data.size(), parts[i].last + 1);
        EXPECT_EQ(data.compare(parts[i].first, n, Source(), parts[i].first, n), 0) << "part " << i;
      }
    }
  }
}

// A resumed download whose server never answers the media request: complete
// (19) only when the state file says every byte is in; with bytes still
// missing the idle limit is a time-out (23), not a finished download.
TEST(HttpDownloadPeer, ASilentServerEndsAResumeAsCompleteOnlyWithEveryByte) {
  const int32_t total = int32_t(Source().size());
  const struct {
    int32_t received;
    int32_t result;
  } cases[] = {{total, kHttpComplete}, {total / 2, kHttpTimedOut}, {total - 1, kHttpTimedOut}};
  for (const auto& c : cases) {
    const std::string name = "silent-resume-" + std::to_string(c.received);
    SCOPED_TRACE(name);
    const auto dir = OutDir(name);
    {
      DownloadFiles files;
      ASSERT_TRUE(files.SetBasePath((dir / "krdl").u16string().c_str()));
      ASSERT_TRUE(files.CreateState(MakeRequest(Url("silent", name), dir, 2)));
      DownloadClipInfo info{};
      info.mediaCount = 2;
      ASSERT_TRUE(files.AppendTracks(MakeTracks(), info));
      ASSERT_TRUE(files.AppendTotalLength(total));
      ASSERT_TRUE(files.WriteProgress(4000, c.received));
    }
    DownloadRequest resume{};
    resume.resume = 1;
    Put(resume.basePath, (dir / "krdl").u16string());
    Client client;
    ASSERT_EQ(client.FetchDescription(resume), 0);
    EXPECT_EQ(client.DownloadMedia(TrackRequest{}), c.result);
    int32_t remaining = -1;
    client.GetRemainingBytes(&remaining);
    EXPECT_EQ(remaining, total - c.received);
    const auto log = PeerLog(name);
    ASSERT_EQ(log.size(), 1u);  // the media request only
    EXPECT_NE(log[0].find("Range: milliseconds=4000\r\n"), std::string::npos);
    client.Shutdown();
  }
}
