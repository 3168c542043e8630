// A seekable output stream buffer over a C file, so the writer renders into
// files with wide (UTF-16) names through the platform layer.
#pragma once

#include <cstdio>
#include <streambuf>
#include <vector>

namespace fileformat {

class FileOutBuf : public std::streambuf {
 public:
  explicit FileOutBuf(std::FILE* f, size_t bufferSize = 1 << 16);
  ~FileOutBuf() override;
  // Flushes and closes; false when anything failed to reach the file.
  bool close();

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;
  pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override;
  pos_type seekpos(pos_type pos, std::ios_base::openmode mode) override;

 private:
  bool flushBuffer();

  std::FILE* file_;
  std::vector<char> buffer_;
  bool failed_ = false;
};

}  // namespace fileformat
