// The graph events the control takes and the records it reads from them:
// always within the event's length and each field's size (ASan watches the
// reads natively; every block here is allocated at its exact length).
#include "ctlvane/events.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

using namespace ctlvane;

TEST(GraphEvents, HandledCodes) {
  const struct {
    int32_t code;
    bool handled;
  } rows[] = {{0, true},     {1, true},      {2, false},     {32771, false}, {32772, true},
              {32779, true}, {32780, false}, {32781, true},  {32782, false}, {32787, false},
              {32788, true}, {32790, true},  {32791, false}, {-1, false}};
  for (const auto& r : rows) EXPECT_EQ(IsHandledEvent(r.code), r.handled) << r.code;
}

// A block of exactly `bytes` bytes on the heap, so a read past it is seen.
std::unique_ptr<unsigned char[]> Block(const std::vector<unsigned char>& bytes) {
  auto b = std::make_unique<unsigned char[]>(bytes.size());
  if (!bytes.empty()) std::memcpy(b.get(), bytes.data(), bytes.size());
  return b;
}

std::vector<unsigned char> Record(uint32_t word, const std::string& address, const std::string& text,
                                  size_t total = 292) {
  std::vector<unsigned char> r(total < 292 ? 292 : total, 0);
  std::memcpy(r.data(), &word, 4);
  std::memcpy(r.data() + 4, address.data(), address.size() < 32 ? address.size() : 32);
  std::memcpy(r.data() + 36, text.data(), text.size() < 256 ? text.size() : 256);
  r.resize(total);
  return r;
}

TEST(GraphEvents, ClientRecordsAreReadWithinTheirLengthAndFields) {
  const std::string unterminatedAddress(32, '7');  // fills its field, no zero
  const std::string longText(256, 'x');            // fills its field, no zero
  const struct {
    const char* what;
    std::vector<unsigned char> bytes;
    bool read;
    uint32_t word;
    std::string address, text;
  } rows[] = {
      {"the streamer's record", Record(12, "127.0.0.1", "ID: user=ann;pw=secret\n"), true, 12, "127.0.0.1",
       "ID: user=ann;pw=secret\n"},
      {"address filling its field", Record(3, unterminatedAddress, "pw"), true, 3, unterminatedAddress, "pw"},
      {"text filling its field, no terminator", Record(4, "10.0.0.2", longText), true, 4, "10.0.0.2",
       longText},
      {"status record of 36 bytes", Record(2, "192.168.1.9", "", 36), true, 2, "192.168.1.9", ""},
      {"cut inside the address", Record(5, "127.0.0.1", "", 10), true, 5, "127.0.", ""},
      {"cut inside the text", Record(6, "1.2.3.4", "abcdef", 39), true, 6, "1.2.3.4", "abc"},
      {"only the word", Record(7, "1.2.3.4", "", 4), true, 7, "", ""},
      {"too short for the word", Record(8, "", "", 3), false, 0, "", ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    auto block = Block(r.bytes);
    ClientRecord record;
    ASSERT_EQ(ReadClientRecord(block.get(), r.bytes.size(), &record), r.read);
    if (!r.read) continue;
    EXPECT_EQ(record.word, r.word);
    EXPECT_EQ(record.address, r.address);
    EXPECT_EQ(record.text, r.text);
  }
  ClientRecord record;
  EXPECT_FALSE(ReadClientRecord(nullptr, 292, &record)) << "no block";
  auto block = Block(Record(1, "1.1.1.1", ""));
  EXPECT_FALSE(ReadClientRecord(block.get(), 0, &record)) << "length 0";
}

TEST(GraphEvents, PortTextIsReadWithinItsLength) {
  const struct {
    const char* what;
    std::string bytes;  // exactly what the block holds
    bool read;
    int32_t port;
  } rows[] = {
      {"terminated", std::string("7070", 5), true, 7070},
      {"no terminator", "554", true, 554},
      {"length cuts the digits", "80", true, 80},
      {"digits then other text", "8000 busy", true, 8000},
      {"no digit", "port", false, 0},
      {"empty text", std::string(1, '\0'), false, 0},
      {"larger than a long", "99999999999", false, 0},
      {"only 15 digits looked at", std::string(20, '1'), false, 0},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    auto block = Block(std::vector<unsigned char>(r.bytes.begin(), r.bytes.end()));
    int32_t port = -1;
    ASSERT_EQ(ReadPortText(block.get(), r.bytes.size(), &port), r.read);
    if (r.read) {
      EXPECT_EQ(port, r.port);
    }
  }
  int32_t port = 0;
  EXPECT_FALSE(ReadPortText(nullptr, 5, &port));
  auto block = Block({'7', '0'});
  EXPECT_FALSE(ReadPortText(block.get(), 0, &port));
}

}  // namespace
