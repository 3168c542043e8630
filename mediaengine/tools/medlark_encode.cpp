// medlark_encode [--register] IN OUT [STREAM_TYPE]: encodes a media file to
// an MP4 file through the media engine, the way the authoring control drives
// it (the records, the event window, StartEncode, the events until the end).
// --register first registers the engine and the filters beside the program.
// Prints the run's figures; exit code 0 when the file was written.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "encode_host.h"

int main(int argc, char** argv) {
  int arg = 1;
  bool registerFirst = false;
  if (arg < argc && std::strcmp(argv[arg], "--register") == 0) {
    registerFirst = true;
    ++arg;
  }
  if (argc - arg < 2) {
    std::fprintf(stderr, "usage: medlark_encode [--register] IN OUT [STREAM_TYPE]\n");
    return 2;
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (registerFirst) {
    for (const std::string& dll : RegisterCompanions({"Medlark.dll", "KRVideoEncoder.dll", "KRStreamMux.dll",
                                                      "KRStreamer.dll", "KRFrameGrabber.dll", "Tonquill.dll"}))
      std::fprintf(stderr, "medlark_encode: could not register %s\n", dll.c_str());
  }
  EncodeJob job;
  auto wide = [](const char* s) {
    wchar_t buf[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, s, -1, buf, MAX_PATH);
    wchar_t full[MAX_PATH] = {};
    GetFullPathNameW(buf, MAX_PATH, full, nullptr);
    return std::wstring(full);
  };
  job.input = wide(argv[arg]);
  job.output = wide(argv[arg + 1]);
  if (argc - arg > 2) job.streamType = std::atoi(argv[arg + 2]);
  EncodeResult r;
  RunFileEncode(job, &r);
  std::printf("engine 0x%08lx, start 0x%08lx, stop 0x%08lx; %d notices, %zu events; end of stream %s, archive %s\n",
              static_cast<unsigned long>(r.created), static_cast<unsigned long>(r.started),
              static_cast<unsigned long>(r.stopped), r.notices, r.events.size(), r.complete ? "yes" : "no",
              r.archived ? "written" : "missing");
  if (!r.streamTimes.empty())
    std::printf("stream time %.0f s at the last sample; run %.2f s wall\n", r.streamTimes.back(), r.wallSeconds);
  CoUninitialize();
  return SUCCEEDED(r.started) && r.complete && r.archived ? 0 : 1;
}
