// The decoder's generated tables against the codec table data files.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tables.h"

using namespace vdec;

namespace {

struct DataFile {
  std::vector<std::string> columns;
  std::vector<std::vector<std::string>> rows;
  int col(const std::string& name) const {
    for (size_t i = 0; i < columns.size(); ++i)
      if (columns[i] == name) return int(i);
    ADD_FAILURE() << "no column " << name;
    return 0;
  }
};

DataFile load(const std::string& rel) {
  DataFile d;
  std::ifstream f(std::string(SUITE_TABLES_DIR) + "/" + rel);
  EXPECT_TRUE(f.good()) << rel;
  std::string line;
  while (std::getline(f, line)) {
    if (line.rfind("# columns:", 0) == 0) {
      std::istringstream is(line.substr(10));
      for (std::string c; is >> c;) d.columns.push_back(c);
    } else if (!line.empty() && line[0] != '#') {
      std::istringstream is(line);
      std::vector<std::string> row;
      for (std::string v; is >> v;) row.push_back(v);
      if (!row.empty()) d.rows.push_back(row);
    }
  }
  return d;
}

// Decodes a code given as 0/1 text through the table's lookup.
int decodeBits(const VlcTable& t, const std::string& bits, uint32_t* used) {
  std::vector<uint8_t> buf(8, 0);
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i] == '1') buf[i / 8] |= uint8_t(0x80 >> (i % 8));
  BitReader br;
  br.bind(buf.data(), uint32_t(buf.size()));
  const int v = vlcRead(br, t);
  *used = br.position();
  return v;
}

}  // namespace

TEST(Tables, VlcCodesMatchDataAndDecode) {
  struct Case {
    const VlcTable* table;
    std::vector<std::string> valueColumns;
    int (*pack)(const int* v);
  };
  auto tcoef = [](const int* v) { return v[0] < 0 ? -1 : (v[0] << 12) | (v[1] << 6) | v[2]; };
  auto mcbpc = [](const int* v) { return v[0] < 0 ? -1 : (v[0] << 2) | v[1]; };
  auto single = [](const int* v) { return v[0]; };
  const Case cases[] = {
      {&kTcoefIntra, {"last", "run", "level"}, tcoef},
      {&kTcoefInter, {"last", "run", "level"}, tcoef},
      {&kRvlcIntra, {"last", "run", "level"}, tcoef},
      {&kRvlcInter, {"last", "run", "level"}, tcoef},
      {&kDcSizeLum, {"dc_size"}, single},
      {&kDcSizeChrom, {"dc_size"}, single},
      {&kMcbpcIntra, {"mb_type", "cbpc"}, mcbpc},
      {&kMcbpcInter, {"mb_type", "cbpc"}, mcbpc},
      {&kCbpy, {"cbpy_intra"}, single},
      {&kMvd, {"value_halfpel"}, single},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table->source);
    const DataFile d = load(c.table->source);
    ASSERT_EQ(int(d.rows.size()), c.table->codeCount);
    const int codeCol = d.col("code");
    for (size_t r = 0; r < d.rows.size(); ++r) {
      const std::string& bits = d.rows[r][size_t(codeCol)];
      int v[3] = {0, 0, 0};
      for (size_t k = 0; k < c.valueColumns.size(); ++k)
        v[k] = std::stoi(d.rows[r][size_t(d.col(c.valueColumns[k]))]);
      EXPECT_EQ(bits, c.table->codes[r].bits);
      for (int k = 0; k < 3; ++k) EXPECT_EQ(v[k], c.table->codes[r].values[k]) << bits;
      uint32_t used = 0;
      EXPECT_EQ(decodeBits(*c.table, bits, &used), c.pack(v)) << bits;
      EXPECT_EQ(used, bits.size()) << bits;
    }
  }
}

TEST(Tables, InvalidCodeIsReported) {
  uint32_t used = 0;
  // Twelve zero bits are no coefficient code and no MCBPC code.
  EXPECT_EQ(decodeBits(kTcoefIntra, "000000000000", &used), kVlcInvalid);
  EXPECT_EQ(decodeBits(kMcbpcInter, "000000000000", &used), kVlcInvalid);
}

TEST(Tables, ListsMatchData) {
  struct Scan {
    const uint8_t* table;
    const char* file;
  };
  for (const Scan& s : {Scan{kScanZigzag, "video/scan_zigzag.txt"},
                        Scan{kScanAltHorizontal, "video/scan_alternate_horizontal.txt"},
                        Scan{kScanAltVertical, "video/scan_alternate_vertical.txt"}}) {
    const DataFile d = load(s.file);
    ASSERT_EQ(d.rows.size(), 64u);
    for (const auto& r : d.rows)
      EXPECT_EQ(s.table[std::stoi(r[size_t(d.col("scan_pos"))])],
                std::stoi(r[size_t(d.col("raster_index"))]))
          << s.file;
  }
  for (const auto& [table, file] : {std::pair{kDefaultIntraMatrix, "video/default_intra_quant_matrix.txt"},
                                    std::pair{kDefaultNonIntraMatrix,
                                              "video/default_nonintra_quant_matrix.txt"}}) {
    const DataFile d = load(file);
    ASSERT_EQ(d.rows.size(), 8u);
    for (int r = 0; r < 8; ++r)
      for (int c = 0; c < 8; ++c) EXPECT_EQ(table[8 * r + c], std::stoi(d.rows[size_t(r)][size_t(c)]));
  }
  {
    const DataFile d = load("video/dc_scaler.txt");
    for (const auto& r : d.rows) {
      const int qp = std::stoi(r[0]);
      EXPECT_EQ(kDcScalerLum[qp], std::stoi(r[size_t(d.col("dc_scaler_luminance"))]));
      EXPECT_EQ(kDcScalerChrom[qp], std::stoi(r[size_t(d.col("dc_scaler_chrominance"))]));
    }
  }
  struct Escape {
    const int8_t (*table)[64];
    const char* file;
    const char* key;
    const char* value;
  };
  for (const Escape& e : {Escape{kLmaxIntra, "video/mpeg4_lmax_intra.txt", "run", "lmax"},
                          Escape{kLmaxInter, "video/mpeg4_lmax_inter.txt", "run", "lmax"},
                          Escape{kRmaxIntra, "video/mpeg4_rmax_intra.txt", "level", "rmax"},
                          Escape{kRmaxInter, "video/mpeg4_rmax_inter.txt", "level", "rmax"}}) {
    const DataFile d = load(e.file);
    int listed = 0;
    for (const auto& r : d.rows) {
      EXPECT_EQ(e.table[std::stoi(r[size_t(d.col("last"))])][std::stoi(r[size_t(d.col(e.key))])],
                std::stoi(r[size_t(d.col(e.value))]))
          << e.file;
      ++listed;
    }
    int present = 0;
    for (int last = 0; last < 2; ++last)
      for (int k = 0; k < 64; ++k) present += e.table[last][k] >= 0;
    EXPECT_EQ(present, listed) << e.file;
  }
  {
    const DataFile d = load("video/intra_dc_vlc_thr.txt");
    for (const auto& r : d.rows) EXPECT_EQ(kIntraDcSwitchQp[std::stoi(r[0])], std::stoi(r[1]));
    const DataFile q = load("video/dquant.txt");
    for (const auto& r : q.rows) EXPECT_EQ(kDquant[std::stoi(r[0])], std::stoi(r[1]));
    const DataFile m = load("video/chroma_mv_rounding_4mv.txt");
    for (const auto& r : m.rows) EXPECT_EQ(kChromaRound4mv[std::stoi(r[0])], std::stoi(r[1]));
    const DataFile f = load("video/h263_source_format.txt");
    ASSERT_EQ(f.rows.size(), 5u);
    for (const auto& r : f.rows) {
      const SourceFormat& sf = kSourceFormats[std::stoi(r[0])];
      EXPECT_EQ(sf.width, std::stoi(r[size_t(f.col("width"))]));
      EXPECT_EQ(sf.height, std::stoi(r[size_t(f.col("height"))]));
      EXPECT_EQ(sf.gobs, std::stoi(r[size_t(f.col("num_gobs"))]));
      EXPECT_EQ(sf.rowsPerGob, std::stoi(r[size_t(f.col("mb_rows_per_gob"))]));
    }
  }
}

// The one-look coefficient tables agree with the full reader on every bit
// pattern they index, whatever bits follow.
TEST(Tables, CoefFastLookupMatchesFullReader) {
  for (const VlcTable* t : {&kTcoefIntra, &kTcoefInter, &kRvlcIntra, &kRvlcInter}) {
    SCOPED_TRACE(t->source);
    ASSERT_NE(t->fast, nullptr);
    int hits = 0;
    for (uint32_t idx = 0; idx < (1u << kCoefFastBits); ++idx) {
      for (const uint32_t tail : {0u, 0xFFFFFFFFu, 0x5A5A5A5Au}) {
        const uint32_t word = (idx << (32 - kCoefFastBits)) | (tail >> kCoefFastBits);
        uint8_t buf[8] = {uint8_t(word >> 24), uint8_t(word >> 16), uint8_t(word >> 8), uint8_t(word),
                          uint8_t(tail), uint8_t(tail), uint8_t(tail), uint8_t(tail)};
        BitReader br;
        br.bind(buf, sizeof buf);
        bool negative = false;
        const int sym = vlcReadSigned(br, *t, &negative);
        const CoefEntry f = t->fast[idx];
        if (!f.lenLast) {
          EXPECT_TRUE(sym < 0 || br.position() > uint32_t(kCoefFastBits)) << idx;
          continue;
        }
        ++hits;
        ASSERT_GE(sym, 0) << idx;
        EXPECT_EQ(br.position(), f.lenLast & 31u) << idx;
        EXPECT_EQ(f.lenLast >> 7, sym >> 12) << idx;
        EXPECT_EQ(f.run, (sym >> 6) & 63) << idx;
        EXPECT_EQ(f.level, negative ? -(sym & 63) : (sym & 63)) << idx;
      }
    }
    EXPECT_GT(hits, 0);
  }
}
