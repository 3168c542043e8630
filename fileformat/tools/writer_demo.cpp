// Writes an MP4 content file the way the archive recorder does, from an
// MPEG-4 video and an AAC or AMR stream given as files.
//   writer_demo OUT.mp4 [--video F.m4v] [--fps N] [--aac F.adts | --amr F.amr]
#include <iostream>
#include <string>

#include "elementary_streams.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: writer_demo OUT.mp4 [--video F.m4v] [--fps N] [--aac F.adts | --amr F.amr]\n";
    return 2;
  }
  fileformat::tools::Recording in;
  for (int i = 2; i + 1 < argc; i += 2) {
    std::string opt = argv[i];
    if (opt == "--video") in.video = argv[i + 1];
    else if (opt == "--aac") in.aac = argv[i + 1];
    else if (opt == "--amr") in.amr = argv[i + 1];
    else if (opt == "--fps") in.fps = std::stod(argv[i + 1]);
  }
  auto r = fileformat::tools::recordMp4(argv[1], in);
  if (!r.ok) {
    std::cerr << "writer_demo: " << r.error << "\n";
    return 1;
  }
  std::cout << "writer_demo: wrote " << argv[1] << " with " << r.samples << " samples in "
            << r.tracks << " media tracks\n";
  return 0;
}
