// The one walk over a version-2.0 file's atoms when it is opened.
#include <algorithm>
#include <initializer_list>

#include "byte_span.h"
#include "file_io.h"
#include "platform/os.h"
#include "reader/mp4_error.h"
#include "v2reader/mpeg4_file_v2_reader.h"

namespace v2reader {

using namespace reader;

namespace {

constexpr uint32_t kKnownTypes[] = {
    FourCC("ctts"), FourCC("dinf"), FourCC("dref"), FourCC("edts"), FourCC("elst"), FourCC("free"),
    FourCC("hdlr"), FourCC("hmhd"), FourCC("iods"), FourCC("mdat"), FourCC("mdhd"), FourCC("mdia"),
    FourCC("minf"), FourCC("moov"), FourCC("mvhd"), FourCC("nmhd"), FourCC("skip"), FourCC("smhd"),
    FourCC("stbl"), FourCC("stco"), FourCC("stdp"), FourCC("stsc"), FourCC("stsd"), FourCC("stsh"),
    FourCC("stss"), FourCC("stsz"), FourCC("stts"), FourCC("tkhd"), FourCC("trak"), FourCC("tref"),
    FourCC("udta"), FourCC("url "), FourCC("urn "), FourCC("vmhd")};

bool Known(uint32_t type) {
  return std::find(std::begin(kKnownTypes), std::end(kKnownTypes), type) != std::end(kKnownTypes);
}

constexpr size_t kMaxText = 256;  // characters with the terminator

// One child atom of a span: its type and its body. Sizes 0 and 2 to 7, and
// sizes beyond the container, are refused, so a walk always moves forward.
bool NextAtom(ByteSpan& in, uint32_t* type, ByteSpan* body) {
  if (!in.Has(8)) return false;
  const uint8_t* start = in.p;
  uint64_t size = in.U32();
  *type = in.U32();
  if (size == 1) {
    size = in.U64();
    if (in.error || size < 16) return false;
  } else if (size < 8) {
    return false;
  }
  size_t header = static_cast<size_t>(in.p - start);
  if (size - header > in.Remaining()) return false;
  *body = in.Take(static_cast<size_t>(size - header));
  return true;
}

// An MPEG-4 Systems descriptor: tag and expandable size (at most 4 bytes).
bool NextDescriptor(ByteSpan& in, uint8_t* tag, ByteSpan* body) {
  *tag = in.U8();
  uint32_t size = 0;
  for (int i = 0; i < 4; ++i) {
    uint8_t b = in.U8();
    size = size << 7 | (b & 0x7F);
    if (!(b & 0x80)) break;
    if (i == 3) return false;
  }
  if (in.error || size > in.Remaining()) return false;
  *body = in.Take(size);
  return true;
}

}  // namespace

class CMpeg4FileV2Reader::Parser {
 public:
  Parser(CMpeg4FileV2Reader* r, std::FILE* f) : r_(r), f_(f) {}

  int32_t Run() {
    const uint64_t length = LengthOf(f_);
    uint64_t pos = 0;
    bool haveMovie = false;
    while (pos < length) {
      uint32_t type;
      uint64_t size, header;
      if (!PeekAtom(pos, length, &type, &size, &header)) return READ_UNKNOWN_ATOM;
      if (type == FourCC("udta") || type == FourCC("skip")) {
        std::vector<uint8_t> body;
        if (size - header >= 4) {
          if (!ReadAt(pos + header, 4, &body)) return READ_USER_DATA_ATOM_FAILED;
          if (FourCCAt(body) == FourCC("krmm")) {
            if (!ReadAt(pos + header, size - header, &body)) return READ_USER_DATA_ATOM_FAILED;
            int32_t e = ReadClipTexts(body);
            if (e) return e;
          }
        }
      } else if (type == FourCC("mdat")) {
        r_->mediaData_.push_back({pos, size});
        // A media-data atom is never the file's last atom.
        if (pos + size >= length) return READ_MEDIA_DATA_ATOM_FAILED;
      } else if (type == FourCC("moov")) {
        if (haveMovie) return DUPLICATE_MOVIE_ATOMS;
        haveMovie = true;
        std::vector<uint8_t> body;
        if (!ReadAt(pos + header, size - header, &body)) return READ_MOVIE_ATOM_FAILED;
        ByteSpan in(body.data(), body.size());
        int32_t e = ReadMovie(in);
        if (e) return e;
      }
      // Any other known top-level atom (free, for one) is passed over.
      pos += size;
    }
    if (!haveMovie) return NO_MOVIE_ATOM_PRESENT;
    if (pos > length) return READ_FAILED;
    return EVERYTHING_FINE;
  }

 private:
  static uint32_t FourCCAt(const std::vector<uint8_t>& b) {
    return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
  }

  bool PeekAtom(uint64_t pos, uint64_t length, uint32_t* type, uint64_t* size, uint64_t* header) {
    std::vector<uint8_t> h;
    if (length - pos < 8 || !ReadAt(pos, 8, &h)) return false;
    ByteSpan s(h.data(), 8);
    *size = s.U32();
    *type = s.U32();
    if (!Known(*type)) return false;
    *header = 8;
    if (*size == 1) {
      if (length - pos < 16 || !ReadAt(pos + 8, 8, &h)) return false;
      ByteSpan l(h.data(), 8);
      *size = l.U64();
      *header = 16;
    }
    return *size >= *header && *size <= length - pos;
  }

  bool ReadAt(uint64_t pos, uint64_t n, std::vector<uint8_t>* out) {
    if (!SeekTo(f_, pos)) return false;
    out->resize(static_cast<size_t>(n));
    return n == 0 || std::fread(out->data(), 1, out->size(), f_) == out->size();
  }

  int32_t ReadClipTexts(const std::vector<uint8_t>& body) {
    ByteSpan in(body.data(), body.size());
    in.Skip(4);  // krmm
    for (std::u16string& text : r_->texts_) {
      text.clear();
      for (;;) {
        if (!in.Has(2)) return READ_USER_DATA_ATOM_FAILED;
        char16_t c = in.U16();
        if (c == 0) break;
        if (text.size() + 1 >= kMaxText) return READ_USER_DATA_ATOM_FAILED;
        text.push_back(c);
      }
    }
    r_->hasKrmm_ = true;
    return EVERYTHING_FINE;
  }

  int32_t ReadMovie(ByteSpan& in) {
    bool iods = false, mvhd = false;
    uint32_t type;
    ByteSpan body;
    while (in.Remaining()) {
      if (!NextAtom(in, &type, &body)) return READ_MOVIE_ATOM_FAILED;
      if (type == FourCC("iods")) {
        if (iods) return DUPLICATE_OBJECT_DESCRIPTORS;
        iods = true;
        int32_t e = ReadInitialObjectDescriptor(body);
        if (e) return e;
      } else if (type == FourCC("mvhd")) {
        if (mvhd) return DUPLICATE_MOVIE_HEADERS;
        mvhd = true;
        uint8_t version = body.U8();
        body.Skip(3 + (version == 1 ? 16 : 8));
        r_->movieTimeScale_ = body.U32();
        r_->movieDuration_ = version == 1 ? static_cast<uint32_t>(body.U64()) : body.U32();
        if (body.error) return READ_MOVIE_HEADER_ATOM_FAILED;
      } else if (type == FourCC("trak")) {
        auto track = std::make_unique<Track>();
        int32_t e = ReadTrack(body, track.get());
        if (e) return e;
        File(std::move(track));
      } else if (type != FourCC("free") && type != FourCC("skip") && type != FourCC("udta")) {
        break;  // the movie's children end at the first other atom
      }
    }
    if (!iods) return NO_OBJECT_DESCRIPTOR_ATOM_PRESENT;
    if (!mvhd) return NO_MOVIE_HEADER_ATOM_PRESENT;
    ApplyHintStartTimes();
    return EVERYTHING_FINE;
  }

  static int32_t ReadInitialObjectDescriptor(ByteSpan body) {
    body.Skip(4);  // version and flags
    uint8_t tag;
    ByteSpan d;
    if (body.error) return READ_OBJECT_DESCRIPTOR_ATOM_FAILED;
    if (!NextDescriptor(body, &tag, &d) || (tag != 0x10 && tag != 0x02)) return READ_INITIAL_OBJECT_DESCRIPTOR_FAILED;
    return EVERYTHING_FINE;
  }

  void File(std::unique_ptr<Track> track) {
    Track* t = track.get();
    r_->tracks_.push_back(std::move(track));
    if (t->handler == FourCC("soun")) {
      r_->audio_.push_back(t);
      r_->fileType_ |= 1;
    } else if (t->handler == FourCC("vide")) {
      r_->video_.push_back(t);
      r_->fileType_ |= 2;
      ++r_->scalability_;
    } else if (t->handler == FourCC("hint")) {
      if (t->firstEntryType == FourCC("krsi")) {
        // A session track says what the file is; it carries no per-sample
        // records, so it joins no hint list.
        if (!t->hintRecords.empty() && t->hintRecords[0].session == 2)
          r_->fileType_ = 4 | (r_->fileType_ & 1);
        return;
      }
      if (!t->hasReference) return;
      auto has = [&](const std::vector<Track*>& list) {
        return std::any_of(list.begin(), list.end(), [&](Track* m) { return m->id == t->firstReference; });
      };
      if (has(r_->audio_)) {
        r_->audioHints_.push_back(t);
      } else if (has(r_->video_)) {
        r_->videoHints_.push_back(t);
      }
    } else if (t->handler == FourCC("odsm")) {
      r_->objectDescriptorTrack_ = t;
    } else if (t->handler == FourCC("sdsm")) {
      r_->sceneTrack_ = t;
    } else {
      r_->other_.push_back(t);
    }
  }

  void ApplyHintStartTimes() {
    if (!r_->videoHints_.empty() && (r_->video_.size() == 1 || r_->video_.size() == 2)) {
      const auto& records = r_->videoHints_[0]->hintRecords;
      for (size_t i = 0; i < r_->video_.size() && i < records.size(); ++i)
        r_->video_[i]->table.startTime = records[i].startTime;
    }
    if (!r_->audioHints_.empty() && !r_->audio_.empty() && !r_->audioHints_[0]->hintRecords.empty())
      r_->audio_[0]->table.startTime = r_->audioHints_[0]->hintRecords[0].startTime;
  }

  int32_t ReadTrack(ByteSpan& in, Track* t) {
    bool tref = false, tkhd = false, mdia = false;
    uint32_t type;
    ByteSpan body;
    while (in.Remaining()) {
      if (!NextAtom(in, &type, &body)) return READ_TRACK_ATOM_FAILED;
      if (type == FourCC("tref")) {
        if (tref) return DUPLICATE_TRACK_REFERENCE_ATOMS;
        tref = true;
        int32_t e = ReadTrackReference(body, t);
        if (e) return e;
      } else if (type == FourCC("tkhd")) {
        if (tkhd) return DUPLICATE_TRACK_HEADER_ATOMS;
        tkhd = true;
        uint8_t version = body.U8();
        body.Skip(3 + (version == 1 ? 16 : 8));
        t->id = body.U32();
        body.Skip(4);
        t->duration = version == 1 ? static_cast<uint32_t>(body.U64()) : body.U32();
        body.Skip(8 + 2 + 2 + 2 + 2 + 36);
        t->width = body.U32() >> 16;
        t->height = body.U32() >> 16;
        if (body.error) return READ_TRACK_HEADER_ATOM_FAILED;
      } else if (type == FourCC("mdia")) {
        if (mdia) return DUPLICATE_MEDIA_ATOMS;
        mdia = true;
        int32_t e = ReadMedia(body, t);
        if (e) return e;
      }
    }
    if (!mdia) return NO_MEDIA_ATOM_PRESENT;
    if (!tkhd) return NO_TRACK_HEADER_ATOM_PRESENT;
    return EVERYTHING_FINE;
  }

  static int32_t ReadTrackReference(ByteSpan& in, Track* t) {
    uint32_t type;
    ByteSpan body;
    while (in.Remaining()) {
      if (!NextAtom(in, &type, &body)) return READ_TRACK_REFERENCE_ATOM_FAILED;
      if (body.Remaining() % 4) return READ_TRACK_REFERENCE_TYPE_ATOM_FAILED;
      if (!t->hasReference && body.Remaining() >= 4) {
        t->firstReference = body.U32();
        t->hasReference = true;
      }
    }
    return EVERYTHING_FINE;
  }

  int32_t ReadMedia(ByteSpan& in, Track* t) {
    ByteSpan mdhd, hdlr, minf, body;
    bool haveMdhd = false, haveHdlr = false, haveMinf = false;
    uint32_t type;
    while (in.Remaining()) {
      if (!NextAtom(in, &type, &body)) return READ_MEDIA_ATOM_FAILED;
      if (type == FourCC("mdhd") && !haveMdhd) mdhd = body, haveMdhd = true;
      else if (type == FourCC("hdlr") && !haveHdlr) hdlr = body, haveHdlr = true;
      else if (type == FourCC("minf") && !haveMinf) minf = body, haveMinf = true;
    }
    if (!haveMdhd) return READ_MEDIA_HEADER_ATOM_FAILED;
    uint8_t version = mdhd.U8();
    mdhd.Skip(3 + (version == 1 ? 16 : 8));
    t->timeScale = mdhd.U32();
    if (mdhd.error) return READ_MEDIA_HEADER_ATOM_FAILED;
    if (!haveHdlr) return READ_HANDLER_ATOM_FAILED;
    hdlr.Skip(8);
    t->handler = hdlr.U32();
    if (hdlr.error) return READ_HANDLER_ATOM_FAILED;
    if (!haveMinf) return READ_MEDIA_INFORMATION_ATOM_FAILED;
    return ReadMediaInformation(minf, t);
  }

  int32_t ReadMediaInformation(ByteSpan& in, Track* t) {
    uint32_t type;
    ByteSpan body;
    while (in.Remaining()) {
      if (!NextAtom(in, &type, &body)) return READ_MEDIA_INFORMATION_ATOM_FAILED;
      if (type == FourCC("stbl")) {
        int32_t e = ReadSampleTable(body, t);
        if (e) return e;
      } else if (type == FourCC("vmhd") && !body.Has(12)) {
        return READ_VIDEO_MEDIA_HEADER_ATOM_FAILED;
      } else if (type == FourCC("smhd") && !body.Has(8)) {
        return READ_SOUND_MEDIA_HEADER_ATOM_FAILED;
      } else if (type == FourCC("hmhd") && !body.Has(4)) {
        return READ_HINT_MEDIA_HEADER_ATOM_FAILED;
      } else if (type == FourCC("nmhd") && !body.Has(4)) {
        return READ_MPEG4_MEDIA_HEADER_ATOM_FAILED;
      } else if (type == FourCC("dinf")) {
        uint32_t child;
        ByteSpan dref;
        while (body.Remaining()) {
          if (!NextAtom(body, &child, &dref)) return READ_DATA_INFORMATION_ATOM_FAILED;
          if (child == FourCC("dref") && !dref.Has(8)) return READ_DATA_REFERENCE_ATOM_FAILED;
        }
      }
    }
    return EVERYTHING_FINE;
  }

  int32_t ReadSampleTable(ByteSpan& in, Track* t) {
    SampleTable& st = t->table;
    uint32_t type;
    ByteSpan b;
    while (in.Remaining()) {
      if (!NextAtom(in, &type, &b)) return READ_SAMPLE_TABLE_ATOM_FAILED;
      if (type == FourCC("stts")) {
        b.Skip(4);
        uint32_t n = b.U32();
        if (b.error || n > b.Remaining() / 8) return READ_TIME_TO_SAMPLE_ATOM_FAILED;
        st.stts.resize(n);
        for (auto& r : st.stts) r.count = b.U32(), r.delta = b.U32();
      } else if (type == FourCC("stsc")) {
        b.Skip(4);
        uint32_t n = b.U32();
        if (b.error || n > b.Remaining() / 12) return READ_SAMPLE_TO_CHUNK_ATOM_FAILED;
        st.stsc.resize(n);
        for (auto& r : st.stsc) {
          r.firstChunk = b.U32();
          r.samplesPerChunk = b.U32();
          b.Skip(4);
        }
      } else if (type == FourCC("stco")) {
        b.Skip(4);
        uint32_t n = b.U32();
        if (b.error || n > b.Remaining() / 4) return READ_CHUNK_OFFSET_ATOM_FAILED;
        st.stco.resize(n);
        for (auto& o : st.stco) o = b.U32();
      } else if (type == FourCC("stsz")) {
        b.Skip(4);
        st.constantSize = b.U32();
        st.sampleCount = b.U32();
        if (b.error) return READ_SAMPLE_SIZE_ATOM_FAILED;
        if (st.constantSize == 0) {
          if (st.sampleCount > b.Remaining() / 4) return READ_SAMPLE_SIZE_ATOM_FAILED;
          st.sizes.resize(st.sampleCount);
          for (auto& s : st.sizes) s = b.U32();
        }
      } else if (type == FourCC("stss")) {
        b.Skip(4);
        uint32_t n = b.U32();
        if (b.error || n > b.Remaining() / 4) return READ_SYNC_SAMPLE_ATOM_FAILED;
        st.hasSyncTable = true;
        st.syncSamples.resize(n);
        for (auto& s : st.syncSamples) s = b.U32();
      } else if (type == FourCC("stsd")) {
        int32_t e = ReadSampleDescriptions(b, t);
        if (e) return e;
      }
    }
    st.Derive();
    return EVERYTHING_FINE;
  }

  int32_t ReadSampleDescriptions(ByteSpan& in, Track* t) {
    in.Skip(4);
    uint32_t n = in.U32();
    if (in.error) return READ_SAMPLE_DESCRIPTION_ATOM_FAILED;
    uint32_t type;
    ByteSpan e;
    for (uint32_t i = 0; i < n; ++i) {
      if (!NextAtom(in, &type, &e)) return READ_SAMPLE_ENTRY_FAILED;
      if (i > 0) continue;  // only the first entry is used
      t->firstEntryType = type;
      int32_t r = ReadFirstEntry(type, e, t);
      if (r) return r;
    }
    return EVERYTHING_FINE;
  }

  static int32_t ReadFirstEntry(uint32_t type, ByteSpan& e, Track* t) {
    if (!e.Skip(8)) return READ_SAMPLE_ENTRY_FAILED;  // reserved, data reference index
    if (t->handler == FourCC("hint")) return ReadHintRecords(type, e, t);
    int32_t failed;
    if (type == FourCC("mp4v")) {
      failed = READ_VISUAL_SAMPLE_ENTRY_FAILED;
      e.Skip(70);
    } else if (type == FourCC("mp4a")) {
      failed = READ_AUDIO_SAMPLE_ENTRY_FAILED;
      e.Skip(20);
    } else if (type == FourCC("mp4s")) {
      failed = READ_MPEG_SAMPLE_ENTRY_FAILED;
    } else {
      return EVERYTHING_FINE;  // no decoder configuration to take
    }
    if (e.error) return failed;
    uint32_t child;
    ByteSpan esds;
    while (e.Remaining()) {
      if (!NextAtom(e, &child, &esds)) return failed;
      if (child == FourCC("esds")) return ReadEsds(esds, t);
    }
    return EVERYTHING_FINE;
  }

  static int32_t ReadHintRecords(uint32_t type, ByteSpan& e, Track* t) {
    bool video = type == FourCC("krbl") || type == FourCC("krss") || type == FourCC("krts");
    bool audio = type == FourCC("krau");
    bool session = type == FourCC("krsi");
    if (!video && !audio && !session) return EVERYTHING_FINE;
    uint32_t n = e.U32();
    const size_t recordSize = video ? 9 : audio ? 7 : 13;
    int32_t failed = video ? READ_VIDEO_HINT_SAMPLE_FAILED : audio ? READ_AUDIO_HINT_SAMPLE_FAILED : READ_HINT_SAMPLE_ENTRY_FAILED;
    if (e.error) return READ_HINT_SAMPLE_ENTRY_FAILED;
    if (n > e.Remaining() / recordSize) return failed;
    t->hintRecords.resize(n);
    for (HintRecord& r : t->hintRecords) {
      if (video) {
        e.Skip(1);
        r.flags = e.U8();
        r.startTime = e.U16();
        e.Skip(5);
      } else if (audio) {
        r.startTime = e.U16();
        e.Skip(5);
      } else {
        e.Skip(8);
        r.session = e.U32();
        e.Skip(1);
      }
    }
    return EVERYTHING_FINE;
  }

  static int32_t ReadEsds(ByteSpan& in, Track* t) {
    in.Skip(4);
    uint8_t tag;
    ByteSpan es;
    if (in.error) return READ_ESD_ATOM_FAILED;
    if (!NextDescriptor(in, &tag, &es) || tag != 0x03) return READ_ES_DESCRIPTOR_FAILED;
    es.Skip(2);
    uint8_t flags = es.U8();
    if (flags & 0x80) es.Skip(2);
    if (flags & 0x40) es.Skip(es.U8());
    if (flags & 0x20) es.Skip(2);
    if (es.error) return READ_ES_DESCRIPTOR_FAILED;
    ByteSpan d;
    while (es.Remaining()) {
      if (!NextDescriptor(es, &tag, &d)) return READ_ES_DESCRIPTOR_FAILED;
      if (tag == 0x04) {
        t->objectType = d.U8();
        d.Skip(1);
        t->bufferSizeDB = d.U24();
        d.Skip(4);
        t->averageBitrate = d.U32();
        if (d.error) return READ_DECODER_CONFIG_DESCRIPTOR_FAILED;
        ByteSpan info;
        while (d.Remaining()) {
          if (!NextDescriptor(d, &tag, &info)) return READ_DECODER_SPECIFIC_INFO_FAILED;
          if (tag == 0x05 && t->decoderSpecificInfo.empty()) t->decoderSpecificInfo.assign(info.p, info.end);
        }
      } else if (tag == 0x06 && !d.Has(1)) {
        return READ_SL_CONFIG_DESCRIPTOR_FAILED;
      }
    }
    return EVERYTHING_FINE;
  }

  CMpeg4FileV2Reader* r_;
  std::FILE* f_;
};

std::unique_ptr<CMpeg4FileV2Reader> CMpeg4FileV2Reader::Open(const std::u16string& fileName) {
  std::FILE* f = platform::openFile(fileName, "rb");
  if (!f) return nullptr;
  std::unique_ptr<CMpeg4FileV2Reader> r(new CMpeg4FileV2Reader());
  r->error_ = Parser(r.get(), f).Run();
  r->ok_ = r->error_ == EVERYTHING_FINE;
  std::fclose(f);
  for (auto& t : r->tracks_) t->table.fileName = fileName;
  return r;
}

}  // namespace v2reader
