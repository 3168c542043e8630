// Elementary streams cut into the samples the archive recorder hands the
// writer, and a recording made through MP4WriterApi in the recorder's order.
// Used by the writer demo and the writer's peer tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fileformat::tools {

using Bytes = std::vector<uint8_t>;

struct Sample {
  Bytes data;
  uint32_t time;  // milliseconds
  uint32_t flag;  // video: 0x04 for a frame that is not a sync frame; AMR: the mode
};

Bytes readAll(const std::string& path);
// MPEG-4 visual: split at VOP start codes; headers travel with the VOP after
// them; the bytes before the first VOP are the decoder configuration.
std::vector<Sample> splitVideo(const Bytes& es, double fps, Bytes* config);
// AAC in ADTS: the raw frames and the AudioSpecificConfig.
std::vector<Sample> splitAdts(const Bytes& adts, Bytes* config);
// AMR storage format ("#!AMR\n"): payloads without their header byte.
std::vector<Sample> splitAmr(const Bytes& amr);

struct Recording {
  std::string video;  // .m4v file, or empty
  double fps = 15;
  std::string aac;  // .adts file, or empty
  std::string amr;  // .amr file, or empty
};
struct RecordResult {
  bool ok = false;
  std::string error;
  size_t samples = 0;
  size_t tracks = 0;
};
// Writes `out` through MP4FileWriter::Create and MP4WriterApi as the archive
// recorder does, the samples interleaved by time.
RecordResult recordMp4(const std::string& out, const Recording& in);

}  // namespace fileformat::tools
