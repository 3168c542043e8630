#include <cstring>

#include "streaming/rtsp_message.h"
#include "streaming/text_util.h"

namespace streaming {

namespace {
// Kept of a junk run while resynchronising, so that a header end split
// across receives is still found.
constexpr uint32_t kResyncKeep = 20;
}  // namespace

bool RtspReader::GetReceiveWindow(uint8_t*& window, uint32_t& length) {
  switch (state_) {
    case 1:
    case 11:
    case 12:
      window = buf_ + dataEnd_;
      length = kBufferSize - dataEnd_;
      break;
    case 6:
      dataStart_ = dataEnd_ = scanPos_ = 0;
      window = buf_;
      length = kBufferSize;
      break;
    case 8: {
      while (fragIndex_ < fragCount_ &&
             fragOffset_ >= fragments_[fragIndex_].length) {
        ++fragIndex_;
        fragOffset_ = 0;
      }
      if (fragIndex_ >= fragCount_) {
        state_ = 10;  // the caller's fragments are shorter than the body
        windowLength_ = 0;
        return false;
      }
      const BodyFragment& f = fragments_[fragIndex_];
      window = f.data + fragOffset_;
      length = f.length - fragOffset_;
      if (length > bodyLength_ - bodyDone_) length = bodyLength_ - bodyDone_;
      break;
    }
    default:
      windowLength_ = 0;
      return false;
  }
  windowLength_ = length;
  return true;
}

bool RtspReader::Commit(uint32_t n) {
  if (n > windowLength_) return false;
  windowLength_ = 0;
  switch (state_) {
    case 1:
    case 6:
    case 11:
    case 12:
      dataEnd_ += n;
      Scan();
      return true;
    case 8:
      fragOffset_ += n;
      bodyDone_ += n;
      if (bodyDone_ == bodyLength_) state_ = 9;
      return true;
    default:
      return false;
  }
}

int32_t RtspReader::Step() {
  switch (state_) {
    case 0:
      return kEventIdle;
    case 1:
    case 6:
    case 8:
    case 12:
      return kEventNeedBytes;
    case 3:
    case 5: {
      int32_t event = state_ == 3 ? kEventHeader : kEventHeaderTooLong;
      state_ = bodyLength_ > 0 ? 4 : 0;
      Scan();
      return event;
    }
    case 4:
      return kEventBodyPending;
    case 9:
      state_ = 0;
      return kEventBodyComplete;
    case 11:
      state_ = 12;
      return kEventHeaderTooLong;
    default:
      state_ = 10;
      return kEventFailed;
  }
}

bool RtspReader::Begin(RtspMessage& record) {
  if (state_ != 0) return false;
  message_ = &record;
  state_ = 1;
  Scan();
  return true;
}

bool RtspReader::SetBodyTarget(const BodyFragment* fragments, uint32_t count) {
  if (state_ != 4) return false;
  fragIndex_ = fragOffset_ = bodyDone_ = 0;
  fragments_ = fragments;
  fragCount_ = fragments ? count : 0;
  state_ = fragments ? 7 : 6;
  Scan();
  return true;
}

void RtspReader::Scan() {
  switch (state_) {
    case 1:
      ScanHeader();
      break;
    case 6:
    case 7:
      MoveBody();
      break;
    case 11:
    case 12:
      Resynchronise();
      break;
    case 0:
    case 4:
    case 8:
      break;
    default:
      state_ = 10;
      break;
  }
}

uint32_t RtspReader::FindHeaderEnd(uint32_t from) const {
  // Two equal line-end bytes in a row, or CR LF CR LF with all four present.
  for (uint32_t i = from < dataStart_ ? dataStart_ : from; i + 1 < dataEnd_; ++i) {
    uint8_t c = buf_[i];
    if (c != '\r' && c != '\n') continue;
    if (buf_[i + 1] == c) return i + 2;
    if (c == '\r' && buf_[i + 1] == '\n' && i + 3 < dataEnd_ && buf_[i + 2] == '\r' &&
        buf_[i + 3] == '\n')
      return i + 4;
  }
  return 0;
}

void RtspReader::Compact() {
  if (dataStart_ == 0) return;
  std::memmove(buf_, buf_ + dataStart_, dataEnd_ - dataStart_);
  dataEnd_ -= dataStart_;
  dataStart_ = 0;
  scanPos_ = 0;
}

void RtspReader::ScanHeader() {
  buf_[dataEnd_] = 0;
  RtspMessage& m = *message_;
  const uint32_t avail = dataEnd_ - dataStart_;
  if (avail > 0 && buf_[dataStart_] == '$') {
    if (avail >= 4) {
      m.kind = kRequest;
      m.method = kMethodFrame;
      uint8_t channel = buf_[dataStart_ + 1];
      m.channelText[0] = char(channel);
      m.channelText[1] = 0;
      m.contentType = RtspToken{m.channelText, channel ? 1u : 0u, 0};
      m.hasContentType = true;
      bodyLength_ = uint32_t(buf_[dataStart_ + 2]) << 8 | buf_[dataStart_ + 3];
      m.contentLength = int32_t(bodyLength_);
      m.hasContentLength = true;
      dataStart_ += 4;
      scanPos_ = dataStart_;
      state_ = 3;
      return;
    }
  } else if (uint32_t end = FindHeaderEnd(scanPos_); end != 0) {
    const uint32_t headerLength = end - dataStart_;
    const char* h = reinterpret_cast<const char*>(buf_ + dataStart_);
    // The body length: the number behind the first "Content-Length" that
    // starts inside the header.
    bodyLength_ = 0;
    static const RtspToken& kWord = vocab::kContentLength;
    bool badLength = false;
    for (uint32_t i = 0; i + kWord.length <= avail && i < headerLength; ++i) {
      if (!TokenEqualsNoCase(RtspToken{h + i, kWord.length, 0}, kWord)) continue;
      const char* p = h + i + kWord.length;
      const char* limit = h + avail;
      while (p < limit && (*p == ' ' || *p == '\t' || *p == ':')) ++p;
      uint32_t v = 0;
      if (!ReadDecimal(p, limit, v) || v > kMaxBodyLength) {
        badLength = true;
        v = 0;
      }
      bodyLength_ = v;
      break;
    }
    uint32_t copied = headerLength;
    if (headerLength <= kMaxHeaderText) {
      state_ = 3;
    } else {
      copied = kMaxHeaderText;
      m.SetError(kParseHeaderTooLong);
      state_ = 5;
    }
    std::memcpy(m.headerText, h, copied);
    m.headerText[copied] = 0;
    m.headerTextLength = headerLength;
    dataStart_ = scanPos_ = end;
    if (dataStart_ == dataEnd_) dataStart_ = dataEnd_ = scanPos_ = 0;
    m.ParseHeaderCopy(copied);
    // A length that is no number cannot be trusted to find the next message.
    if (badLength) m.SetError(kParseMalformed);
    // The record tells the length that was consumed: a "Content-Length"
    // met first inside another line, or a second differing one, makes the
    // message malformed rather than a record that disagrees with the stream.
    const uint32_t recorded = m.hasContentLength ? uint32_t(m.contentLength) : 0;
    if (state_ == 3 && recorded != bodyLength_) {
      m.SetError(kParseMalformed);
      m.contentLength = int32_t(bodyLength_);
      m.hasContentLength = true;
    }
    return;
  }
  // No header end yet.
  if (avail >= kBufferSize) {
    state_ = 11;
    Resynchronise();
  } else if (dataStart_ != 0) {
    Compact();
  } else {
    scanPos_ = dataEnd_ >= dataStart_ + 4 ? dataEnd_ - 4 : dataStart_;
  }
}

void RtspReader::MoveBody() {
  uint32_t avail = dataEnd_ - dataStart_;
  uint32_t need = bodyLength_ - bodyDone_;
  if (state_ == 6) {
    uint32_t n = avail < need ? avail : need;
    dataStart_ += n;
    bodyDone_ += n;
    if (bodyDone_ == bodyLength_) state_ = 0;
  } else {
    while (avail > 0 && need > 0) {
      while (fragIndex_ < fragCount_ && fragOffset_ >= fragments_[fragIndex_].length) {
        ++fragIndex_;
        fragOffset_ = 0;
      }
      if (fragIndex_ >= fragCount_) {
        state_ = 10;  // the caller's fragments are shorter than the body
        return;
      }
      const BodyFragment& f = fragments_[fragIndex_];
      uint32_t n = f.length - fragOffset_;
      if (n > avail) n = avail;
      if (n > need) n = need;
      std::memcpy(f.data + fragOffset_, buf_ + dataStart_, n);
      fragOffset_ += n;
      dataStart_ += n;
      bodyDone_ += n;
      avail -= n;
      need -= n;
    }
    state_ = need == 0 ? 9 : 8;
  }
  scanPos_ = dataStart_;
  if (dataStart_ == dataEnd_) dataStart_ = dataEnd_ = scanPos_ = 0;
}

void RtspReader::Resynchronise() {
  if (uint32_t end = FindHeaderEnd(scanPos_); end != 0) {
    dataStart_ = scanPos_ = end;
    if (dataStart_ == dataEnd_) dataStart_ = dataEnd_ = scanPos_ = 0;
    state_ = 0;
    return;
  }
  uint32_t avail = dataEnd_ - dataStart_;
  if (avail > kResyncKeep) dataStart_ = dataEnd_ - kResyncKeep;
  Compact();
  scanPos_ = 0;
}

}  // namespace streaming
