// The inner encoder's parts: the generated Huffman books against the data
// files, the bit counters against the writer, the element writers read back
// by an independent python reader, the reservoir's arithmetic, the framing
// CRC against crcmod, and the loop modes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "mp4aenc/bitmux.h"
#include "mp4aenc/bitres.h"
#include "mp4aenc/loops.h"
#include "mp4aenc/ms_stereo.h"
#include "mp4aenc/noiseless.h"
#include "param_front_end.h"
#include "peer.h"
#include "table_file.h"

namespace {

std::string Message(ErrorRecord* e) {
  if (!e) return "(none)";
  std::string m = e->message;
  error_free(e);
  return m;
}

TEST(HuffmanBooks, GeneratedArraysEqualTheDataFiles) {
  for (int book = 1; book <= 11; ++book) {
    char name[32];
    std::snprintf(name, sizeof name, "huffman_spectrum_cb%02d", book);
    const std::vector<double> len = table_column(name, 2);
    ASSERT_FALSE(len.empty()) << name;
    const AacHuffBook* b = aac_huff_book(book);
    for (size_t i = 0; i < len.size(); ++i) EXPECT_EQ(b->len[i], int(len[i])) << name << " row " << i;
  }
  const std::vector<double> len = table_column("huffman_scalefactor", 2);
  ASSERT_EQ(len.size(), 121u);
  for (int d = -60; d <= 60; ++d) EXPECT_EQ(aac_scf_len(d), int(len[size_t(d + 60)]));
  EXPECT_EQ(aac_scf_len(61), kAacBookInfinity);
}

// Every counted book equals the bits the writer puts out for the run.
TEST(BitCounters, EveryBookEqualsTheWrittenCodewordsSignsAndEscapes) {
  std::mt19937 rng(7);
  const int lavs[] = {0, 1, 2, 3, 4, 7, 12, 15, 16, 40, 300, 8191};
  for (int lav : lavs)
    for (int run = 0; run < 20; ++run) {
      std::vector<int> v(size_t(4 * (1 + run % 8)));
      int largest = 0;
      for (int& x : v) {
        x = lav ? int(rng() % unsigned(2 * lav + 1)) - lav : 0;
        largest = std::max(largest, std::abs(x));
      }
      int bits[12];
      aac_count_all_books(v.data(), int(v.size()), largest, bits);
      EXPECT_EQ(bits[0], largest ? kAacBookInfinity : 0);
      for (int book = 1; book <= 11; ++book) {
        if (bits[book] == kAacBookInfinity) {
          EXPECT_LT(aac_huff_book(book)->lav, largest) << "book " << book;
          continue;
        }
        BitBuffer* b = bitbuf_create(1 << 16);
        const long written = aac_write_spectrum(b, v.data(), int(v.size()), book);
        EXPECT_EQ(written, bitbuf_bit_position(b));
        EXPECT_EQ(bits[book], bitbuf_bit_position(b)) << "book " << book << " lav " << lav;
        bitbuf_free(b);
      }
      int best = 0, book = -1;
      aac_best_book(v.data(), int(v.size()), largest, &best, &book);
      // The cheaper of the pair of books made for the largest value.
      const int odd = largest <= 1 ? 1 : largest <= 2 ? 3 : largest <= 4 ? 5 : largest <= 7 ? 7 : largest <= 12 ? 9 : 11;
      EXPECT_EQ(best, largest ? std::min(bits[odd], odd < 11 ? bits[odd + 1] : bits[odd]) : 0);
      if (largest) {
        EXPECT_EQ(bits[book], best);
      }
    }
}

TEST(BitCounters, LimitsEscapesAndTies) {
  // Largest value 2: books 1 and 2 cannot code the run.
  const int two[4] = {2, 0, -1, 0};
  int bits[12];
  aac_count_all_books(two, 4, 2, bits);
  EXPECT_EQ(bits[1], kAacBookInfinity);
  EXPECT_EQ(bits[2], kAacBookInfinity);
  EXPECT_LT(bits[3], kAacBookInfinity);
  // 16 costs the codeword for 16 plus 5 escape bits, 32 plus 7.
  const AacHuffBook* b11 = aac_huff_book(11);
  const int sixteen[2] = {16, 0}, thirtyTwo[2] = {32, 0};
  aac_count_all_books(sixteen, 2, 16, bits);
  EXPECT_EQ(bits[11], b11->len[16 * 17] + 1 + 5);
  aac_count_all_books(thirtyTwo, 2, 32, bits);
  EXPECT_EQ(bits[11], b11->len[16 * 17] + 1 + 7);
  // A run that costs the same in books 5 and 6 (largest value 3 or 4) chooses 5.
  const AacHuffBook *b5 = aac_huff_book(5), *b6 = aac_huff_book(6);
  bool found = false;
  for (int i = 0; i < 81 && !found; ++i)
    for (int j = 0; j < 81 && !found; ++j) {
      const int run[4] = {i / 9 - 4, i % 9 - 4, j / 9 - 4, j % 9 - 4};
      int largest = 0;
      for (int v : run) largest = std::max(largest, std::abs(v));
      if (largest < 3 || b5->len[i] + b5->len[j] != b6->len[i] + b6->len[j]) continue;
      int n = 0, book = 0;
      aac_best_book(run, 4, largest, &n, &book);
      EXPECT_EQ(book, 5);
      EXPECT_EQ(n, b5->len[i] + b5->len[j]);
      found = true;
    }
  EXPECT_TRUE(found);
  int n = -1, book = -1;
  const int zeros[4] = {0, 0, 0, 0};
  aac_best_book(zeros, 4, 0, &n, &book);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(book, 0);
}

TEST(BitCounters, RoundingIsExplicit) {
  EXPECT_EQ(aac_nearest(2.5), 3.0);
  EXPECT_EQ(aac_nearest(-2.5), -3.0);
  EXPECT_EQ(aac_nearest(-2.4), -2.0);
  const float in[5] = {1.9f, -1.9f, 0.4f, 2.0f, -0.6f};
  int out[5];
  aac_float_to_int(in, out, 5, 1.0f, 0.0f);
  EXPECT_EQ(std::vector<int>(out, out + 5), (std::vector<int>{1, -1, 0, 2, 0}));
}

TEST(Sectioning, SideBitsAndGreedyMerge) {
  EXPECT_EQ(aac_section_side_bits(31, 0), 4 + 10);
  EXPECT_EQ(aac_section_side_bits(30, 0), 4 + 5);
  EXPECT_EQ(aac_section_side_bits(7, 1), 4 + 6);
  // Three bands, the middle one much cheaper in book 5: one section of book 5
  // (45 + 30 + 45 + 9 beats 41 + 41 + 41 + 9).
  int bandBits[3][12];
  for (auto& b : bandBits)
    for (int k = 0; k < 12; ++k) b[k] = k == 0 ? kAacBookInfinity : 40 + k;  // book 5 costs 45
  bandBits[1][5] = 30;
  AacSection s[3];
  int count = 0;
  const long total = aac_section_greedy(3, bandBits, 0, 0, 0, s, &count);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(s[0].book, 5);
  EXPECT_EQ(total, 45 + 30 + 45 + 9);
  // Without merging each band keeps its own cheapest book.
  EXPECT_EQ(aac_section_greedy(3, bandBits, 0, 1, 0, s, &count), 41 + 30 + 41 + 3 * 9);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(s[1].book, 5);
}

// ---- writers, read back by the python reader ----

struct Parsed {
  std::string json;
  int status = -1;
};

Parsed ParseFrame(BitBuffer* b, long rate) {
  // Byte-aligned copy of what was written.
  const long bits = long(bitbuf_bit_position(b));
  std::string hex;
  char two[3];
  for (long at = 0; at < bits; at += 8) {
    uint32_t v = 0;
    const int take = bits - at >= 8 ? 8 : int(bits - at);
    bitbuf_read_bits(b, take, &v);
    std::snprintf(two, sizeof two, "%02x", unsigned(v << (8 - take)) & 0xffu);
    hex += two;
  }
  Parsed p;
  p.json = RunPeer("/usr/bin/python3 " + std::string(MP4AENC_TEST_DIR) + "/ics_parse.py " + SUITE_TABLES_DIR + " " +
                       std::to_string(rate) + " " + hex + " 2>&1",
                   &p.status);
  return p;
}

std::string List(const std::vector<int>& v) {
  std::string s = "[";
  for (size_t i = 0; i < v.size(); ++i) s += (i ? ", " : "") + std::to_string(v[i]);
  return s + "]";
}

// A long-window channel at 44.1 kHz: 40 bands, a 31-band section of book
// 1 and a 9-band one of book 11 with escapes, scalefactors that move.
AacChannelResult LongChannel(std::vector<int>* values) {
  static const int kOffsets[] = {0,   4,   8,   12,  16,  20,  24,  28,  32,  36,  40,  48,  56,  64,  72,  80,  88,
                                 96,  108, 120, 132, 144, 160, 176, 196, 216, 240, 264, 292, 320, 352, 384, 416, 448,
                                 480, 512, 544, 576, 608, 640, 672, 704, 736, 768, 800, 832, 864, 896, 928, 1024};
  AacChannelResult r = {};
  r.blockType = 0;
  r.windowShape = 1;
  r.groups = 1;
  r.groupLength[0] = 1;
  r.bandsPerWindow = 49;
  r.maxSfb = 40;
  for (int b = 0; b <= 49; ++b) r.bandOffset[b] = kOffsets[b];
  r.sectionCount[0] = 2;
  r.section[0][0] = {1, 0, 31};
  r.section[0][1] = {11, 31, 9};
  r.globalGain = 120;
  std::mt19937 rng(3);
  for (int b = 0; b < 40; ++b) {
    r.book[b] = b < 31 ? 1 : 11;
    r.sf[b] = 120 + (b % 5) - 2 * (b % 3);
    for (int k = kOffsets[b]; k < kOffsets[b + 1]; ++k)
      r.q[k] = b < 31 ? int(rng() % 3) - 1 : int(rng() % 61) - 30;
  }
  r.sf[0] = 120;
  values->assign(r.q, r.q + kOffsets[40]);
  return r;
}

TEST(Writers, IndividualChannelStreamReadsBack) {
  if (!PeerAvailable()) GTEST_SKIP() << "no python here";
  std::vector<int> values;
  AacChannelResult r = LongChannel(&values);
  // TNS: {3, -4} at 4-bit resolution goes with 3 bits; {4} needs 4.
  TnsInfo tns = {};
  tns.active = 1;
  tns.window[0].nFilters = 2;
  TnsFilter& a = tns.window[0].filter[0];
  a.order = 2, a.resolution = 4, a.direction = 1, a.startBand = 20, a.stopBand = 40;
  a.index[1] = 3, a.index[2] = -4;
  TnsFilter& c = tns.window[0].filter[1];
  c.order = 1, c.resolution = 4, c.direction = 0, c.startBand = 5, c.stopBand = 20;
  c.index[1] = 4;
  r.tns = &tns;
  BitBuffer* b = bitbuf_create(1 << 16);
  bitbuf_write_bits(b, 0, 3);  // SCE
  bitbuf_write_bits(b, 5, 4);
  const long n = aac_write_ics(b, &r, 0);
  bitbuf_write_bits(b, 7, 3);
  const long total = long(bitbuf_bit_position(b));
  EXPECT_EQ(total, n + 10);
  const Parsed p = ParseFrame(b, 44100);
  bitbuf_free(b);
  ASSERT_EQ(p.status, 0) << p.json;
  EXPECT_NE(p.json.find("\"type\": \"SCE\", \"tag\": 5"), std::string::npos) << p.json;
  EXPECT_NE(p.json.find("\"window_sequence\": 0, \"window_shape\": 1, \"max_sfb\": 40"), std::string::npos);
  // A section of 31 long-window bands is written 31 then 0.
  EXPECT_NE(p.json.find("{\"book\": 1, \"length\": 31, \"pieces\": [31, 0]}, {\"book\": 11, \"length\": 9, "
                        "\"pieces\": [9]}"),
            std::string::npos)
      << p.json;
  std::vector<int> sf(r.sf, r.sf + 40);
  EXPECT_NE(p.json.find("\"scalefactors\": [" + List(sf) + "]"), std::string::npos) << p.json;
  EXPECT_NE(p.json.find("{\"length\": 29, \"order\": 2, \"direction\": 1, \"coef_compress\": 1, \"coef\": [3, -4]}"),
            std::string::npos)
      << p.json;
  EXPECT_NE(p.json.find("{\"length\": 15, \"order\": 1, \"direction\": 0, \"coef_compress\": 0, \"coef\": [4]}"),
            std::string::npos)
      << p.json;
  EXPECT_NE(p.json.find("\"values\": " + List(values)), std::string::npos);
  EXPECT_NE(p.json.find("\"bits\": " + std::to_string(total)), std::string::npos) << p.json;
}

TEST(Writers, PairWithMidSideInEveryBandAndShortWindows) {
  if (!PeerAvailable()) GTEST_SKIP() << "no python here";
  static const int kShort[] = {0, 4, 8, 12, 16, 20, 28, 36, 44, 56, 68, 80, 96, 112, 128};
  AacChannelResult r = {};
  r.blockType = 2;
  r.groups = 3;
  r.groupLength[0] = 3, r.groupLength[1] = 1, r.groupLength[2] = 4;
  r.bandsPerWindow = 14;
  r.maxSfb = 9;
  for (int b = 0; b <= 14; ++b) r.bandOffset[b] = kShort[b];
  r.globalGain = 90;
  std::mt19937 rng(5);
  int at = 0;
  for (int g = 0; g < 3; ++g) {
    r.sectionCount[g] = 1;
    r.section[g][0] = {7, 0, 9};
    for (int b = 0; b < 9; ++b) {
      r.book[g * kPsyMaxBands + b] = 7;
      r.sf[g * kPsyMaxBands + b] = 90 + b % 3;
    }
    for (int k = 0; k < r.groupLength[g] * kShort[9]; ++k) r.q[at + k] = int(rng() % 15) - 7;
    at += r.groupLength[g] * 128;
  }
  r.sf[0] = 90;
  r.commonWindow = 1;
  int ms[kAacMaxGroupBands];
  for (int& m : ms) m = 1;
  BitBuffer* b = bitbuf_create(1 << 16);
  bitbuf_write_bits(b, 1, 3);
  bitbuf_write_bits(b, 0, 4);
  bitbuf_write_bits(b, 1, 1);
  aac_write_ics_info(b, &r);
  EXPECT_EQ(aac_write_ms_mask(b, r.groups, r.maxSfb, ms), 2);
  aac_write_ics(b, &r, 1);
  aac_write_ics(b, &r, 1);
  bitbuf_write_bits(b, 7, 3);
  const Parsed p = ParseFrame(b, 48000);
  bitbuf_free(b);
  ASSERT_EQ(p.status, 0) << p.json;
  EXPECT_NE(p.json.find("\"common_window\": 1, \"ics_info\": {\"reserved\": 0, \"window_sequence\": 2, "
                        "\"window_shape\": 0, \"max_sfb\": 9, \"groups\": [3, 1, 4]}, \"ms_mask_present\": 2, \"ics\""),
            std::string::npos)
      << p.json;
}

// A pair whose second channel codes its top ten bands as intensity: books
// 15 and 14 in its section data, the positions on their own chain from 0
// (its scalefactors untouched), and every band's ms_used sent one by one
// though all are set (mask 2 would turn the intensity bands in some
// decoders and not in others).
TEST(Writers, PairWithIntensityBandsReadsBack) {
  if (!PeerAvailable()) GTEST_SKIP() << "no python here";
  std::vector<int> values;
  AacChannelResult l = LongChannel(&values), r = LongChannel(&values);
  l.commonWindow = r.commonWindow = 1;
  for (int b = 30; b < 40; ++b) {
    l.jsFlags[b] = kJsIntensity | kJsMsOnIntensity;
    r.book[b] = 0;
    for (int k = r.bandOffset[b]; k < r.bandOffset[b + 1]; ++k) r.q[k] = 0;
  }
  for (int b = 0; b < 30; ++b) l.jsFlags[b] = kJsMs;
  aac_mark_intensity_bands(&r, &l,
                           [](const void*, int, int b, int* pos, int* outOfPhase) {
                             *pos = 3 * (b - 35);  // -15 .. 12
                             *outOfPhase = b >= 35;
                             return true;
                           },
                           nullptr);
  BitBuffer* b = bitbuf_create(1 << 16);
  bitbuf_write_bits(b, 1, 3);
  bitbuf_write_bits(b, 0, 4);
  bitbuf_write_bits(b, 1, 1);
  aac_write_ics_info(b, &l);
  int ms[kAacMaxGroupBands];
  for (int i = 0; i < kAacMaxGroupBands; ++i) ms[i] = aac_ms_used(l.jsFlags[i]);
  EXPECT_EQ(aac_write_ms_mask(b, l.groups, l.maxSfb, ms, 1), 2 + 40);
  aac_write_ics(b, &l, 1);
  aac_write_ics(b, &r, 1);
  bitbuf_write_bits(b, 7, 3);
  const Parsed p = ParseFrame(b, 44100);
  bitbuf_free(b);
  ASSERT_EQ(p.status, 0) << p.json;
  EXPECT_NE(p.json.find("\"ms_mask_present\": 1, \"ms_used\": " + List(std::vector<int>(40, 1))), std::string::npos)
      << p.json;
  // With ms_used set, in-phase bands take book 14 and out-of-phase ones 15.
  EXPECT_NE(p.json.find("{\"book\": 1, \"length\": 30, \"pieces\": [30]}, {\"book\": 14, \"length\": 5, \"pieces\": "
                        "[5]}, {\"book\": 15, \"length\": 5, \"pieces\": [5]}]"),
            std::string::npos)
      << p.json;
  std::vector<int> sf(r.sf, r.sf + 30);
  for (int band = 30; band < 40; ++band) sf.push_back(3 * (band - 35));
  EXPECT_NE(p.json.find("\"scalefactors\": [" + List(sf) + "]"), std::string::npos) << p.json;
}

TEST(Writers, FillElementsOfSixSevenAnd167Bits) {
  struct Case {
    long fill, written;
    const char* element;
  } cases[] = {{6, 0, nullptr},
               {7, 7, "{\"type\": \"FIL\", \"count\": 0, \"payload_bytes\": 0"},
               {167, 167, "{\"type\": \"FIL\", \"count\": 15, \"esc_count\": 5, \"payload_bytes\": 19"},
               {8 * 300, 2167 + 231, "\"esc_count\": 255, \"payload_bytes\": 269"}};
  for (const Case& c : cases) {
    BitBuffer* b = bitbuf_create(1 << 16);
    EXPECT_EQ(aac_write_fill(b, c.fill), c.written) << c.fill;
    bitbuf_write_bits(b, 7, 3);
    if (PeerAvailable()) {
      const Parsed p = ParseFrame(b, 48000);
      ASSERT_EQ(p.status, 0) << p.json;
      if (c.element) {
        EXPECT_NE(p.json.find(c.element), std::string::npos) << p.json;
      } else {
        EXPECT_EQ(p.json.find("FIL"), std::string::npos) << p.json;
      }
    }
    bitbuf_free(b);
  }
}

TEST(Writers, SampleRatesOutsideTheTableAreRefused) {
  AacChannelMap map;
  ASSERT_EQ(aac_channel_map_build(&map, 1, 0), nullptr);
  struct Case {
    long rate;
    const char* message;
  } cases[] = {{7350, "invalid sample rate"}, {45000, "invalid sample rate"}, {48000, "(none)"}};
  for (const Case& c : cases) {
    AacBitmux* m = nullptr;
    const AacBitmuxConfig config = {&map, 1, c.rate, 64000, 1024, 1000.0f, 3, 0};
    EXPECT_EQ(Message(aac_bitmux_create(&m, &config)), c.message) << c.rate;
    aac_bitmux_free(m);
  }
  EXPECT_EQ(aac_bitmux_sampling_index(48000), 3);
  EXPECT_EQ(aac_bitmux_sampling_index(8000), 11);
}

// ---- reservoir ----

TEST(Reservoir, FrameBytesRemainderAndTheExtraByte) {
  BitRes* r = nullptr;
  ASSERT_EQ(BitResInit(&r, 64000, 64000, 1, 1, 44100, 1024, 1000.0f, 0), nullptr);
  EXPECT_EQ(r->frameBytes, 185);
  EXPECT_EQ(r->frameRem, 33500);
  BitResFrameInfo info;
  EXPECT_EQ(BitResFrameBits(r, &info), 8 * 185);
  EXPECT_EQ(info.extraByte, 0);
  EXPECT_EQ(BitResFrameBits(r, &info), 8 * 186);
  EXPECT_EQ(info.extraByte, 1);
  // Over 44100 frames exactly 33500 extra bytes.
  long extra = 1;
  for (int f = 2; f < 44100; ++f) extra += (BitResFrameBits(r, &info), info.extraByte);
  EXPECT_EQ(extra, 33500);
  // Size: min(mean * 1000, 6144 - mean) bits, whole bytes; filled to 0.8.
  const long mean = 64000L * 1024 / 44100;
  EXPECT_EQ(r->maxBits, 8 * ((6144 - mean + 7) / 8));
  EXPECT_EQ(r->fill, 8 * long(float(r->maxBits / 8) * 0.8f));
  BitResFree(r);
}

TEST(Reservoir, OverflowIsStuffedAndTheFillStaysWholeBytes) {
  BitRes* r = nullptr;
  ASSERT_EQ(BitResInit(&r, 64000, 64000, 1, 1, 44100, 1024, 1000.0f, 0), nullptr);
  r->fill = r->maxFill - 3;
  // Granted 16 bits more than used: the fill would pass the top by 13.
  EXPECT_EQ(BitResUpdate(r, 8 * 100 + 16, 100), 8 * 100 + 13 + 0);
  EXPECT_EQ(r->fill, r->maxFill);
  r->fill = 21;
  EXPECT_EQ(BitResUpdate(r, 800, 100), 800 + 5);  // 21 % 8 back to the frame
  EXPECT_EQ(r->fill, 16);
  BitResFree(r);
  // A bitrate per channel above rate * 6144 / 1024: no reservoir, factor 1.
  ASSERT_EQ(BitResInit(&r, 300000, 300000, 1, 1, 44100, 1024, 1000.0f, 0), nullptr);
  EXPECT_EQ(r->maxBits, 0);
  BitResCtrl l, s;
  ASSERT_TRUE(BitResCtrlCreate(&l, 0, 44100, 300000));
  ASSERT_TRUE(BitResCtrlCreate(&s, 2, 44100, 300000));
  EXPECT_EQ(BitResCtrlFactor(0, r->maxBits, 500.0f, &l, &s, 0, 0), 1.0f);
  BitResFree(r);
  ASSERT_EQ(BitResInit(&r, 64000, 64000, 1, 1, 44100, 1024, 0.0f, 0), nullptr);
  EXPECT_EQ(r->maxBits, 0);
  BitResFree(r);
  EXPECT_FALSE(BitResCtrlCreate(&l, 4, 44100, 64000));
}

TEST(Reservoir, FactorLimitsAndAdaptationBounds) {
  BitResCtrl l, s;
  ASSERT_TRUE(BitResCtrlCreate(&l, 0, 44100, 64000));
  ASSERT_TRUE(BitResCtrlCreate(&s, 2, 44100, 64000));
  const float peBase = 64000.0f * 1500.0f / 44100.0f + 70.0f;
  EXPECT_EQ(l.peMin, int(0.8f * peBase));
  EXPECT_EQ(l.peMax, int(1.2f * peBase));
  const long maxBits = 4000;
  // Half full: save and spend from their curves; below peMin 1 - save,
  // above peMax 1 + spend.
  const float ratio = 0.5f;
  const float save = 0.3f - 0.35f * (ratio - 0.2f) / 0.75f;
  const float spend = -0.04f + 0.44f * (ratio - 0.1f) / 0.85f;
  EXPECT_NEAR(BitResCtrlFactor(2000, maxBits, 1.0f, &l, &s, 0, 0), 1.0f - save, 1e-5);
  EXPECT_NEAR(BitResCtrlFactor(2000, maxBits, 1e5f, &l, &s, 0, 0), 1.0f + spend, 1e-5);
  // Adaptation keeps the range between about 0.02 and 0.1 of the reservoir.
  for (int f = 0; f < 400; ++f) {
    BitResCtrlAdapt(f % 2 ? 3000.0f : 100.0f, &l, maxBits, 1.0f);
    EXPECT_LE(l.peMax - l.peMin, int(0.1 * maxBits) + 1);
    EXPECT_GE(l.peMax - l.peMin, int(0.02 * maxBits) - 1);
  }
}

// ---- framing header ----

TEST(FramingHeader, CrcEqualsCrcmodAndTheCounterWraps) {
  AacFramingHeader* h = nullptr;
  ASSERT_EQ(aac_framing_create(&h), nullptr);
  EXPECT_EQ(aac_framing_bits(h), 48);
  EXPECT_EQ(Message(aac_framing_write(h, nullptr, 10, 3, 3)), "invalid nr Channels");
  BitBuffer* b = bitbuf_create(1 << 16);
  std::mt19937 rng(9);
  std::string frames;
  for (int f = 0; f < 33; ++f) {
    const int64_t start = bitbuf_bit_position(b);
    const int channels = 1 + f % 2;
    ASSERT_EQ(aac_framing_write(h, b, 30, f % 7, channels), nullptr);
    for (int i = 0; i < 24; ++i) bitbuf_write_bits(b, rng() & 0xffu, 8);
    aac_framing_close(h, b);
    ASSERT_EQ(bitbuf_bit_position(b) - start, 48 + 24 * 8);
    std::string hex;
    char two[3];
    for (int i = 0; i < 30; ++i) {
      uint32_t v = 0;
      bitbuf_read_bits(b, 8, &v);
      std::snprintf(two, sizeof two, "%02x", v);
      hex += two;
    }
    // The counter in bits 26..30, the channel bit at 12.
    const unsigned counter = (unsigned(std::stoul(hex.substr(6, 2), nullptr, 16)) >> 1) & 31u;
    EXPECT_EQ(counter, unsigned(f % 32));
    EXPECT_EQ((std::stoul(hex.substr(2, 2), nullptr, 16) >> 3) & 1u, unsigned(channels == 2));
    frames += hex + " ";
  }
  bitbuf_free(b);
  aac_framing_free(h);
  if (!PeerAvailable()) return;
  // crcmod over the frame with the 16 CRC bits (bits 31..46) left out.
  // crcmod over the frame without its 16 CRC bits (bits 31..46).
  const std::string script =
      "import crcmod,sys\n"
      "f=crcmod.mkCrcFun(0x18005,initCrc=0xFFFF,rev=False,xorOut=0)\n"
      "bad=0\n"
      "for h in sys.argv[1:]:\n"
      " d=bytes.fromhex(h); n=int.from_bytes(d,'big'); L=len(d)*8\n"
      " crc=(n>>(L-47))&0xFFFF\n"
      " rest=((n>>(L-31))<<(L-47))|(n&((1<<(L-47))-1))\n"
      " bad+=f(rest.to_bytes((L-16)//8,'big'))!=crc\n"
      "print(bad)\n";
  const std::string path = ScratchPath("framing_crc.py");
  FILE* out = std::fopen(path.c_str(), "w");
  ASSERT_NE(out, nullptr);
  std::fputs(script.c_str(), out);
  std::fclose(out);
  int status = 0;
  EXPECT_EQ(RunPeer("/usr/bin/python3 " + path + " " + frames, &status), "0\n");
  EXPECT_EQ(status, 0);
}

// ---- loop modes ----

TEST(Loops, AdvancedSimulationTargets) {
  const long granted[2] = {1000, 1000};
  long target[2];
  const long proportional[2] = {1951, 49};  // second share 49 bits
  aac_loops_targets(proportional, granted, 2, target);
  EXPECT_EQ(target[0], 1951 - 50);
  EXPECT_EQ(target[1], 99);
  const long even[2] = {300, 100};
  aac_loops_targets(even, granted, 2, target);
  EXPECT_EQ(target[0], 1500);
  EXPECT_EQ(target[1], 500);
}

// A channel of noise with thresholds 30 dB below its bands' energy.
struct NoiseChannel {
  PsyOut out = {};
  int widths[kPsyMaxBands];
  NoiseChannel() {
    std::mt19937 rng(11);
    std::normal_distribution<float> n(0.0f, 1000.0f);
    out.blockType = 0;
    out.groups = 1;
    out.groupLength[0] = 1;
    out.bandsPerWindow = 32;
    for (int b = 0; b < 32; ++b) widths[b] = 32;
    out.bandWidths = widths;
    out.maxSfb = 32;
    for (int k = 0; k < 1024; ++k) out.spectrum[k] = n(rng) / float(1 + k / 64);
    for (int b = 0; b < 32; ++b) {
      double e = 0.0;
      for (int k = 32 * b; k < 32 * b + 32; ++k) e += double(out.spectrum[k]) * out.spectrum[k];
      out.energy[b] = float(e);
      out.threshold[b] = float(e * 1e-3);
    }
  }
};

struct LoopRun {
  int passes = 0;
  long bits = 0;
  std::vector<int> q;
};

LoopRun RunLoops(std::initializer_list<std::string> params, long granted) {
  configure_params(params);
  AacChannelMap map;
  EXPECT_EQ(aac_channel_map_build(&map, 1, 0), nullptr);
  AacLoops* l = nullptr;
  const AacLoopsSetup setup = {1, &map, 44100, 1024};
  EXPECT_EQ(aac_loops_create(&l, &setup), nullptr);
  NoiseChannel ch;
  const PsyOut* psy[1] = {&ch.out};
  const long g[1] = {granted};
  EXPECT_EQ(aac_loops_frame(l, psy, g), nullptr);
  LoopRun r;
  r.passes = aac_loops_passes(l);
  r.bits = aac_loops_result(l, 0)->usedBits;
  r.q.assign(aac_loops_result(l, 0)->q, aac_loops_result(l, 0)->q + 1024);
  aac_loops_free(l);
  configure_params({});
  return r;
}

TEST(Loops, ModesPassesAndSectioning) {
  const long granted = 6000;
  const LoopRun normal = RunLoops({}, granted);
  EXPECT_GT(normal.passes, 1);  // the outer loop amplified distorted bands
  EXPECT_LE(normal.bits, granted);
  EXPECT_GT(normal.bits, granted * 8 / 10);
  EXPECT_EQ(RunLoops({"-itm 1"}, granted).passes, 1);
  EXPECT_EQ(RunLoops({"-itm 3"}, granted).passes, 1);
  const LoopRun one = RunLoops({"-mol 1"}, granted);
  EXPECT_EQ(one.passes, 1);
  EXPECT_LE(one.bits, granted);
  const LoopRun fast1 = RunLoops({"-fsec 1"}, granted), fast4 = RunLoops({"-fsec 4"}, granted);
  EXPECT_EQ(fast1.q, fast4.q);
  EXPECT_EQ(fast1.bits, fast4.bits);
  EXPECT_LE(fast1.bits, granted);
  // A timer at a tiny share of real time stops after the first pass.
  EXPECT_EQ(RunLoops({"-tlf 0.0"}, granted).passes, 1);
}

TEST(Loops, RefusedSetUps) {
  AacChannelMap map;
  ASSERT_EQ(aac_channel_map_build(&map, 2, 0), nullptr);
  AacLoops* l = nullptr;
  AacLoopsSetup setup = {10, &map, 44100, 1024};
  EXPECT_EQ(Message(aac_loops_create(&l, &setup)), "number of channels too large");
  setup.map = nullptr;
  EXPECT_EQ(Message(aac_loops_create(&l, &setup)), "invalid procedure parameters");
  configure_params({"-itm 2"});
  setup = {2, &map, 44100, 1024};
  ASSERT_EQ(aac_loops_create(&l, &setup), nullptr);
  NoiseChannel a, b;
  const PsyOut* psy[2] = {&a.out, &b.out};
  const long g[2] = {2000, 2000};
  EXPECT_EQ(Message(aac_loops_frame(l, psy, g)), "iteration mode 2 (fast iteration) is not built");
  aac_loops_free(l);
  configure_params({});
}

}  // namespace
