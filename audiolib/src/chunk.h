// The table-driven chunk engine of the RIFF/RIFX and AIFF/AIFC formats:
// chunk ids and typed field lists, sizes and fields patched afterwards,
// nested containers.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "xiostream.h"

namespace audiolib {

enum FieldType { kInt16 = 0, kUint16 = 1, kCount32 = 2, kUint32 = 3, kExtended = 4, kPString = 5, kFourCC = 6 };

// End actions and special indices.
enum : int { kLeaveOpen = -1, kClose = -2, kContainer = -3, kEndLevel = -4, kEndOfInput = -1 };

struct ChunkField {
  int id;  // 0 ends the list
  int type;
};

struct ChunkLayout {
  char ids[10][5];
  ChunkField fields[10][11];
};

extern const ChunkLayout kWaveLayout;
extern const ChunkLayout kAiffLayout;

// Indices in the layouts.
enum WaveChunk { kRiff = 0, kRifx = 1, kFmt = 2, kFmtMpeg = 3, kFmtAac = 4, kFact = 5, kData = 6 };
enum AiffChunk { kForm = 0, kFver = 1, kComm = 2, kCommAifc = 3, kSsnd = 4 };

// One field's value: numbers (type 4 as a double in `real`), texts for 5 and 6.
struct FieldValue {
  int id = 0;
  int64_t number = 0;
  double real = 0.0;
  std::string text;
};

double extended_to_double(const uint8_t bytes[10]);
void double_to_extended(double value, uint8_t bytes[10]);

// The view of the chunk being read: reads stop at its size.
class ChunkInStream : public ByteInStream {
 public:
  ChunkInStream(ByteInStream* inner, int64_t size) : inner_(inner), size_(size) {}
  int64_t skip(int64_t n) override;
  int64_t read(void* buffer, int64_t n) override;
  bool eof() override { return consumed_ >= size_ || inner_->eof(); }
  int64_t size() const { return size_; }
  int64_t consumed() const { return consumed_; }
  // Skips to the chunk's end (size rounded up to even).
  void skipRest() { skip(((size_ + 1) & ~int64_t(1)) - consumed_); }

 private:
  ByteInStream* inner_;
  int64_t size_;
  int64_t consumed_ = 0;
};

class ChunkParser {
 public:
  ChunkParser(ByteInStream* in, const ChunkLayout& layout, bool littleEndian)
      : in_(in), layout_(layout), little_(littleEndian) {}
  // The next chunk of the layout (unknown ids are skipped whole);
  // kEndOfInput at a clean end. The rest of a chunk left unread is skipped
  // first, except for a container entered with enterContainer(). A
  // `container` chunk's size does not bound its form type (streamed files
  // leave it 0).
  int nextChunk(bool container = false);
  // The text of field `id` in `values`, empty when the chunk ended before it.
  static std::string text(const std::vector<FieldValue>& values, int id);
  // Reads the fields of list `index` (all of them, in order) from the
  // current chunk; `endAction` kLeaveOpen leaves the rest unread, kClose
  // skips to the chunk's end.
  std::vector<FieldValue> readFields(int index, int endAction);
  // Chunks that follow are read inside the current one.
  void enterContainer() { current_.reset(); }
  ChunkInStream* chunk() { return current_.get(); }
  ByteInStream* input() { return in_; }

 private:
  ByteInStream* in_;
  const ChunkLayout& layout_;
  bool little_;
  std::unique_ptr<ChunkInStream> current_;
};

// Named values for writeChunk; fields not named are written as zeros.
struct FieldSet {
  int id;
  int64_t number;
  const char* text;
};

class ChunkWriter {
 public:
  // auError 5 unless `out` is seekable.
  ChunkWriter(ByteOutStream* out, const ChunkLayout& layout, bool littleEndian);
  // Writes the header of chunk `index` (unless the previous call left a
  // chunk open) and its field list, then closes, leaves open or nests as
  // `action` says. Index kClose closes the current chunk; kEndLevel leaves
  // the nesting level and closes its container.
  void writeChunk(int index, std::initializer_list<FieldSet> values, int action);
  void writeChunk(int index) { writeChunk(index, {}, kClose); }
  // Rewrites one field of the first chunk written with `index` at the
  // current level.
  void patchField(int index, int fieldId, int64_t value);
  // Data bytes of the open chunk so far.
  int64_t openLength();

 private:
  struct Written {
    int index;
    int64_t dataStart;
  };
  struct Level {
    int64_t containerStart;  // data start of the container, -1 at the top
    std::vector<Written> chunks;
  };
  void closeChunk(int64_t dataStart);
  void put(const void* bytes, int64_t n);
  void writeField(const ChunkField& f, const FieldSet* value);

  ByteOutStream* out_;
  const ChunkLayout& layout_;
  bool little_;
  std::vector<Level> levels_;
  int64_t openStart_ = -1;  // data start of the chunk left open, or -1
};

}  // namespace audiolib
