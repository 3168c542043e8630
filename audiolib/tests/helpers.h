// Shared by the audio file library's tests: a known signal, scratch files
// and whole-file reads through the front.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audiolib/audiofile.h"

// Interleaved int16 samples: a tone per channel plus a ramp through the
// full range, so that byte order and width mistakes show.
std::vector<int16_t> test_signal(int frames, int channels);
// The same with the low byte cleared (what survives an 8-bit file).
std::vector<int16_t> top_bytes(const std::vector<int16_t>& v);
std::vector<float> to_float(const std::vector<int16_t>& v, double scale);

// A fresh scratch file name in the working folder.
std::string scratch(const std::string& name);
std::string slurp(const std::string& path);
void spit(const std::string& path, const std::string& bytes);

AudioFileFormat make_format(int bits, int rate, int channels, double scale = 32768.0);

// Writes float samples on the 16-bit scale with type `type`; answers the
// open code (0 when all went well, with the file completed).
int write_file(const std::string& path, int type, AudioFileFormat format, const std::vector<float>& samples);

struct ReadBack {
  int code = -1;
  int type = 0;
  AudioFileFormat format{};
  std::vector<int16_t> samples;
};
// Opens with `type` (and `format` when given) and reads every sample through
// the 16-bit path.
ReadBack read_file(const std::string& path, int type, const AudioFileFormat* format = nullptr);

// Runs a host command (native builds only); its output, exit code in *status.
bool peers_available();
std::string run(const std::string& command, int* status = nullptr);
std::string fixtures_script();
