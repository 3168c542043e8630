// Small media fixtures the conversion tests make themselves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace convert_testing {

// `frames` AMR frames (20 ms each) of a tone coded by our encoder in `mode`,
// in the storage format ("#!AMR\n", then header byte and payload per frame).
std::vector<uint8_t> MakeAmr(int frames, int mode);
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFile(const std::string& path);

}  // namespace convert_testing
