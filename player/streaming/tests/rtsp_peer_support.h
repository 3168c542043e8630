// Where the RTSP peers of tests/rtsp_peers.py listen (a CTest fixture
// writes the ports into rtsp_peers/ of the test's folder).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace peers {

inline std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// The port a peer listens on; fails the test with the reason when the peer
// is not there.
inline int PeerPort(const char* name) {
  const std::string port = ReadFile(std::string("rtsp_peers/") + name + ".port");
  if (port.empty()) {
    const std::string why = ReadFile(std::string("rtsp_peers/") + name + ".error");
    ADD_FAILURE() << "the " << name << " RTSP peer is not running: "
                  << (why.empty() ? "start it with tests/rtsp_peers.py (ctest does, as a fixture)" : why);
    return 0;
  }
  return std::atoi(port.c_str());
}

inline std::string Url(const char* peer, const std::string& path) {
  return "rtsp://127.0.0.1:" + std::to_string(PeerPort(peer)) + "/" + path;
}

}  // namespace peers
