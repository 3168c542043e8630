#include "fileformat/file_stream.h"

#include <cstring>

namespace fileformat {

FileOutBuf::FileOutBuf(std::FILE* f, size_t bufferSize) : file_(f), buffer_(bufferSize) {
  setp(buffer_.data(), buffer_.data() + buffer_.size());
}

FileOutBuf::~FileOutBuf() { close(); }

bool FileOutBuf::flushBuffer() {
  size_t n = static_cast<size_t>(pptr() - pbase());
  if (n && (!file_ || failed_ || std::fwrite(pbase(), 1, n, file_) != n)) failed_ = true;
  setp(buffer_.data(), buffer_.data() + buffer_.size());
  return !failed_;
}

bool FileOutBuf::close() {
  if (!file_) return !failed_;
  flushBuffer();
  if (std::fclose(file_) != 0) failed_ = true;
  file_ = nullptr;
  return !failed_;
}

FileOutBuf::int_type FileOutBuf::overflow(int_type c) {
  if (!flushBuffer()) return traits_type::eof();
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
  }
  return traits_type::not_eof(c);
}

std::streamsize FileOutBuf::xsputn(const char* s, std::streamsize n) {
  std::streamsize room = epptr() - pptr();
  if (n <= room) {
    std::memcpy(pptr(), s, static_cast<size_t>(n));
    pbump(static_cast<int>(n));
    return n;
  }
  if (!flushBuffer()) return 0;
  if (std::fwrite(s, 1, static_cast<size_t>(n), file_) != static_cast<size_t>(n)) {
    failed_ = true;
    return 0;
  }
  return n;
}

int FileOutBuf::sync() {
  if (!flushBuffer()) return -1;
  return file_ && std::fflush(file_) == 0 ? 0 : -1;
}

FileOutBuf::pos_type FileOutBuf::seekoff(off_type off, std::ios_base::seekdir dir,
                                         std::ios_base::openmode) {
  if (!file_ || !flushBuffer()) return pos_type(off_type(-1));
  if (dir == std::ios_base::cur && off == 0) {
    long p = std::ftell(file_);
    return p < 0 ? pos_type(off_type(-1)) : pos_type(off_type(p));
  }
  int whence = dir == std::ios_base::beg ? SEEK_SET : dir == std::ios_base::cur ? SEEK_CUR : SEEK_END;
  if (std::fseek(file_, static_cast<long>(off), whence) != 0) return pos_type(off_type(-1));
  long p = std::ftell(file_);
  return p < 0 ? pos_type(off_type(-1)) : pos_type(off_type(p));
}

FileOutBuf::pos_type FileOutBuf::seekpos(pos_type pos, std::ios_base::openmode mode) {
  return seekoff(off_type(pos), std::ios_base::beg, mode);
}

}  // namespace fileformat
