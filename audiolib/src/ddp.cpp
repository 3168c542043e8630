// One audio track of a CD image described by "DDP 2.00" files: the
// identification file, the map stream and the optional subcode (PQ) file.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audiofile_internal.h"

using namespace audiolib;

namespace {

constexpr int64_t kSector = 2352;
constexpr int64_t kTwoSeconds = 150 * kSector;  // 352800: the standard gap
constexpr size_t kMaxTracks = 100;

struct FileCloser {
  void operator()(FILE* f) const { fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

FILE* open_either(const std::string& prefix, const char* upper, const char* lower) {
  FILE* f = fopen((prefix + upper).c_str(), "rb");
  return f ? f : fopen((prefix + lower).c_str(), "rb");
}

// Fixed-width decimal text; what is not a number counts as 0.
int64_t number(const uint8_t* p, int width) {
  char digits[16] = {};
  std::memcpy(digits, p, size_t(width));
  const long long v = std::atoll(digits);
  return v < 0 ? 0 : v;
}

std::string file_name(const uint8_t* packet) {
  std::string name;
  for (int i = 74; i < 74 + 17 && packet[i] != ' ' && packet[i] != 0; ++i) name += char(packet[i]);
  return name;
}

struct Track {
  int number = 0;
  bool audio = false;
  int64_t length = 0;  // in the image, generated gaps included
  int64_t pregapGenerated = 0, postgapGenerated = 0;
  int64_t pregapIncluded = 0, postgapIncluded = 0;
  int64_t offset = 0;
  std::string name;
};

int64_t cd_time(const uint8_t* p) { return (number(p, 2) * 4500 + number(p + 2, 2) * 75 + number(p + 4, 2)) * kSector; }

class InputDDP : public AudioReader {
 public:
  InputDDP(std::unique_ptr<PeekInStream> in, int64_t samples, int64_t offset, bool little, double scale)
      : AudioReader(std::move(in)) {
    setFormat(44100, 2, 16, samples);
    in_->skip(offset);
    startSamples(little, scale, true);
  }
  int64_t readFloat(float* dst, int64_t n) override { return noteEnd(n, AudioReader::readFloat(dst, n)); }
  int64_t readShort(int16_t* dst, int64_t n) override { return noteEnd(n, AudioReader::readShort(dst, n)); }

 private:
  int64_t noteEnd(int64_t asked, int64_t got) {
    if (got < asked && got + left_ > 0 && left_ > 0) fprintf(stderr, "\nInputDDP: Unexpected eof\n");
    return got;
  }
};

struct Subcode {
  bool haveStart = false, haveEnd = false;
  int64_t start = 0, end = 0;
};

int read_subcode(const std::string& prefix, const uint8_t* packet, int wanted, Subcode& sc) {
  const std::string name = file_name(packet);
  int64_t size = number(packet + 14, 8);
  fprintf(stderr, "  Parsing %d bytes of PQ information in file %s:\n", int(size), name.c_str());
  File f(fopen((prefix + name).c_str(), "rb"));
  if (!f) return 14;
  uint8_t p[64];
  while (size >= 64 && !sc.haveEnd && fread(p, 1, 64, f.get()) == 64) {
    size -= 64;
    if (std::memcmp(p, "VVVS", 4) != 0) {
      fprintf(stderr, "  Ignoring unknown subcode block\n");
      continue;
    }
    const bool leadOut = std::memcmp(p + 4, "AA", 2) == 0;
    const int track = leadOut ? -1 : int(number(p + 4, 2));
    const int index = int(number(p + 6, 2));
    const int m = int(number(p + 10, 2)), s = int(number(p + 12, 2)), fr = int(number(p + 14, 2));
    if (track == wanted && index == 1 && !sc.haveStart) {
      sc.start = cd_time(p + 10);
      sc.haveStart = true;
      fprintf(stderr, "    Track %d starts at CD a-time %d:%d:%d\n", track, m, s, fr);
    } else if (track == wanted + 1 || (leadOut && sc.haveStart)) {
      sc.end = cd_time(p + 10);
      sc.haveEnd = true;
      if (leadOut)
        fprintf(stderr, "    Session");
      else
        fprintf(stderr, "    Track %d", track);
      fprintf(stderr, " ends at CD a-time %d:%d:%d\n", m, s, fr);
    }
  }
  return 0;
}

}  // namespace

int audiofile_open_ddp(AudioFileHandle* h, const char* path, AudioFileFormat* format) {
  const std::string prefix = path ? path : "";
  const int wanted = format->bitrate;
  fprintf(stderr, "\nDDP-SUPPORT IS STILL EXPERIMENTAL!\n");
  fprintf(stderr, "\nParsing DDP-files:\n");
  uint8_t id[128] = {};
  {
    File f(open_either(prefix, "DDPID", "ddpid"));
    if (!f) return 7;
    if (fread(id, 1, 128, f.get()) < 89 || std::memcmp(id, "DDP 2.00", 8) != 0) {
      fprintf(stderr, "Wrong DDP-Version!\n");
      return 8;
    }
  }
  bool orange = false;
  if (id[86] == ' ') {
    fprintf(stderr, "  Red/Green/Yellow book CD detected\n");
  } else if (id[86] == 'O') {
    orange = true;
    fprintf(stderr, "  Orange book CD detected\n");
  } else {
    return 8;
  }
  if (std::memcmp(id + 87, "CD", 2) != 0) {
    fprintf(stderr, "Not a CD-description!\n");
    return 8;
  }

  File map(open_either(prefix, "DDPMS", "ddpms"));
  if (!map) return 9;
  std::vector<Track> tracks;
  Subcode sc;
  bool firstSession = true;
  uint8_t p[128];
  while (fread(p, 1, 128, map.get()) == 128) {
    if (std::memcmp(p, "VVVM", 4) != 0) continue;
    if (std::memcmp(p + 4, "D0", 2) == 0) {
      // More descriptors than a CD has tracks: not a map this reader trusts.
      if (tracks.size() == kMaxTracks) return 11;
      Track t;
      t.audio = std::memcmp(p + 38, "DA", 2) == 0 || std::memcmp(p + 38, "2X", 2) == 0;
      int64_t generatedPregap = 0;
      if (orange) {
        switch (p[91]) {
          case ' ':
            break;
          case 'I':
            generatedPregap = 16464;
            break;
          case 'S':
            generatedPregap = firstSession ? 26460000 : 15876000;
            firstSession = false;
            break;
          case 'T':
            generatedPregap = 357504;
            break;
          default:
            fprintf(stderr, "Warning: unknown new track field!\n");
        }
      }
      const int64_t pre1 = number(p + 42, 4), pre2 = number(p + 46, 4), post = number(p + 50, 4);
      t.pregapGenerated = generatedPregap + (pre2 == 0 ? kTwoSeconds : 0);
      t.pregapIncluded = (pre1 + pre2) * kSector;
      t.postgapIncluded = post * kSector;
      t.postgapGenerated = post == 0 ? kTwoSeconds : 0;
      t.length = t.postgapGenerated + number(p + 14, 8) * kSector + t.pregapGenerated;
      t.number = int(number(p + 55, 2));
      t.offset = number(p + 104, 9);
      t.name = file_name(p);
      fprintf(stderr, "  Track %ld at byte %ld in file %s:\n", long(t.number), long(t.offset), t.name.c_str());
      fprintf(stderr, "    %ld bytes pregap included, %ld bytes to generate\n", long(t.pregapIncluded),
              long(t.pregapGenerated));
      fprintf(stderr, "    %ld bytes postgap included, %ld bytes to generate\n", long(t.postgapIncluded),
              long(t.postgapGenerated));
      tracks.push_back(t);
    } else if (std::memcmp(p + 4, "S0", 2) == 0) {
      const int rc = read_subcode(prefix, p, wanted, sc);
      if (rc != 0) return rc;
    }
  }
  map.reset();

  if (!sc.haveStart) return 11;
  if (sc.end < sc.start) return 10;
  const Track* chosen = nullptr;
  int64_t offset = 0, size = 0;
  if (sc.haveEnd) {
    fprintf(stderr, "  There was PQ-info for track %d overriding DDPMS\n", wanted);
    int64_t before = 0;
    for (const Track& t : tracks) {
      if (before + t.length - t.postgapGenerated - t.postgapIncluded > sc.start) {
        chosen = &t;
        break;
      }
      before += t.length;
    }
    if (!chosen) return 11;  // the start lies past every entry
    int64_t start = sc.start, end = sc.end;
    if (start < before + chosen->pregapGenerated) {
      fprintf(stderr, "  Track start marker is in generated pregap, moving it to actual track start\n");
      start = before + chosen->pregapGenerated;
    }
    if (end > before + chosen->length - chosen->postgapGenerated) {
      fprintf(stderr, "  Track end marker is in generated postgap, moving it to actual track end\n");
      end = before + chosen->length - chosen->postgapGenerated;
    }
    if (start >= end) {
      fprintf(stderr, "Track end is less or equal track start!\n");
      return 10;
    }
    offset = chosen->offset + start - chosen->pregapGenerated - before;
    size = end - start;
  } else {
    for (const Track& t : tracks)
      if (t.number == wanted) chosen = &t;
    if (!chosen) return 11;
    offset = chosen->pregapIncluded + chosen->offset;
    size = chosen->length - chosen->postgapIncluded - chosen->postgapGenerated - chosen->pregapGenerated -
           chosen->pregapIncluded;
    if (size <= 0) return 11;
  }
  if (!chosen->audio) {
    fprintf(stderr, "Track %d is not an audio track!\n", wanted);
    return 11;
  }
  fprintf(stderr, "Track %d data starts at byte %ld in file %s and has %ld bytes\n", wanted, long(offset),
          chosen->name.c_str(), long(size));
  FILE* image = fopen((prefix + chosen->name).c_str(), "rb");
  if (!image) return 16;
  h->file = image;
  try {
    auto in = std::make_unique<PeekInStream>(new FileInStream(image));
    h->object = std::make_unique<InputDDP>(std::move(in), size / 2, offset, format->littleEndian != 0,
                                           h->format.scale);
  } catch (const auError& e) {
    return open_failure_code(e, false);
  }
  h->format.valid = 1;
  h->format.bitsPerSample = 16;
  h->format.sampleRate = 44100;
  h->format.channels = 2;
  h->format.length = int32_t(std::min<int64_t>(size / 2, INT32_MAX));
  h->format.littleEndian = format->littleEndian;
  return 0;
}
