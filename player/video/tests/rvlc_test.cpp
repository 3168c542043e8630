// Data-partitioned pictures with reversible codes, which ffmpeg does not
// write: a small encoder here builds intra and predicted pictures from the
// code tables of the data files with random content, and ffmpeg's decode of
// the same stream is the reference.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <tuple>
#include <unistd.h>

#include "peer.h"
#include "synth.h"
#include "video/vdec.h"

using namespace vdectest;

namespace {

// Code words of one table by their values (up to three value columns).
struct Codes {
  std::vector<std::pair<std::string, std::vector<int>>> rows;
  const std::string& find(const std::vector<int>& v) const {
    for (const auto& r : rows)
      if (r.second == v) return r.first;
    ADD_FAILURE() << "no code";
    return rows[0].first;
  }
};

Codes load(const std::string& file, const std::vector<std::string>& valueColumns) {
  Codes c;
  std::ifstream f(std::string(SUITE_TABLES_DIR) + "/video/" + file);
  std::vector<std::string> cols;
  std::string line;
  while (std::getline(f, line)) {
    if (line.rfind("# columns:", 0) == 0) {
      std::istringstream is(line.substr(10));
      for (std::string s; is >> s;) cols.push_back(s);
    } else if (!line.empty() && line[0] != '#') {
      std::istringstream is(line);
      std::vector<std::string> row;
      for (std::string s; is >> s;) row.push_back(s);
      std::vector<int> v;
      for (const auto& name : valueColumns)
        for (size_t i = 0; i < cols.size(); ++i)
          if (cols[i] == name) v.push_back(std::stoi(row[i]));
      c.rows.emplace_back(row[0], v);
    }
  }
  return c;
}

class Encoder {
 public:
  explicit Encoder(unsigned seed) : rng_(seed) {
    rvlcIntra_ = load("mpeg4_rvlc_tcoef_intra.txt", {"last", "run", "level"});
    rvlcInter_ = load("mpeg4_rvlc_tcoef_inter.txt", {"last", "run", "level"});
    mcbpcIntra_ = load("mcbpc_intra.txt", {"mb_type", "cbpc"});
    mcbpcInter_ = load("mcbpc_inter.txt", {"mb_type", "cbpc"});
    cbpy_ = load("cbpy.txt", {"cbpy_intra", "cbpy_inter"});
    mvd_ = load("mvd.txt", {"value_halfpel"});
    dcLum_ = load("mpeg4_dc_size_luminance.txt", {"dc_size"});
    dcChrom_ = load("mpeg4_dc_size_chrominance.txt", {"dc_size"});
  }

  // One VOP of 99 macroblocks in two video packets (0-49, 50-98).
  std::vector<uint8_t> vop(int type, int timeIncrement) {
    BitWriter w;
    VopParams p;
    p.type = type;
    p.timeIncrement = timeIncrement;
    p.quant = 5;
    writeVopHeader(w, p);
    packet(w, type, 0, 50);
    writePacketHeaderFor(w, type, 50);
    packet(w, type, 50, 99);
    w.stuffing();
    return w.bytes();
  }

 private:
  struct Mb {
    int type;  // 0 inter, 2 four vectors, 3 intra, -1 not coded
    int cbpc;
    int cbpyRow;
    bool acPred;
  };

  int rnd(int lo, int hi) { return lo + int(rng_() % unsigned(hi - lo + 1)); }

  void writePacketHeaderFor(BitWriter& w, int type, int mb) {
    w.stuffing();
    w.put(1, type == 0 ? 17 : 17);  // f_code 1: 16 zeros and a one, as for intra
    w.put(uint32_t(mb), 7);
    w.put(5, 5);
    w.put(0, 1);
  }

  void dc(BitWriter& w, int block) {
    const int v = rnd(-3, 3);
    int size = 0;
    for (int a = v < 0 ? -v : v; a; a >>= 1) ++size;
    w.code((block < 4 ? dcLum_ : dcChrom_).find({size}));
    if (size) w.put(uint32_t(v > 0 ? v : v + (1 << size) - 1), size);
  }

  void texture(BitWriter& w, bool intra) {
    const Codes& t = intra ? rvlcIntra_ : rvlcInter_;
    int pos = intra ? 1 : 0;
    const int events = rnd(1, 4);
    for (int e = 0; e < events; ++e) {
      const bool last = e == events - 1;
      if (rnd(0, 9) == 0) {  // escape: 0000 1, LAST, RUN, marker, LEVEL, marker, 0000 s
        const int run = rnd(0, 2);
        const int level = rnd(1, 40);
        w.code("00001");
        w.put(last, 1);
        w.put(uint32_t(run), 6);
        w.put(1, 1);
        w.put(uint32_t(level), 11);
        w.put(1, 1);
        w.put(rnd(0, 1), 5);  // the last of the five bits is the sign
        pos += run + 1;
        continue;
      }
      // A table entry with this last flag whose run still fits.
      for (;;) {
        const auto& r = t.rows[size_t(rnd(0, int(t.rows.size()) - 1))];
        if (r.second[0] != int(last) || r.second[1] > 6 || pos + r.second[1] > 63 - 2 * (events - e))
          continue;
        w.code(r.first);
        w.put(rnd(0, 1), 1);  // sign
        pos += r.second[1] + 1;
        break;
      }
    }
  }

  void vector(BitWriter& w) {
    for (int k = 0; k < 2; ++k) w.code(mvd_.find({rnd(-3, 3)}));
  }

  void packet(BitWriter& w, int type, int first, int end) {
    std::vector<Mb> mbs;
    const Codes& mcbpc = type == 0 ? mcbpcIntra_ : mcbpcInter_;
    for (int m = first; m < end; ++m) {
      Mb mb{};
      if (type == 0) {
        mb.type = 3;
      } else {
        const int r = rnd(0, 9);
        mb.type = r < 2 ? -1 : r < 3 ? 3 : r < 5 ? 2 : 0;
      }
      mb.cbpc = rnd(0, 3);
      mb.cbpyRow = rnd(0, 15);
      mb.acPred = rnd(0, 1) == 1;
      mbs.push_back(mb);
      if (type == 1) w.put(mb.type < 0, 1);  // not_coded
      if (mb.type < 0) continue;
      w.code(mcbpc.find({mb.type, mb.cbpc}));
      if (type == 0) {
        for (int b = 0; b < 6; ++b) dc(w, b);
      } else if (mb.type == 0) {
        vector(w);
      } else if (mb.type == 2) {
        for (int b = 0; b < 4; ++b) vector(w);
      }
    }
    if (type == 0) {
      w.put(0x6B001, 19);  // DC marker
    } else {
      w.put(0x1F001, 17);  // motion marker
    }
    for (const Mb& mb : mbs) {
      if (mb.type < 0) continue;
      if (mb.type == 3) w.put(mb.acPred, 1);
      w.code(cbpy_.rows[size_t(mb.cbpyRow)].first);
      if (type == 1 && mb.type == 3)
        for (int b = 0; b < 6; ++b) dc(w, b);
    }
    for (const Mb& mb : mbs) {
      if (mb.type < 0) continue;
      const bool intra = mb.type == 3;
      const int luma = cbpy_.rows[size_t(mb.cbpyRow)].second[intra ? 0 : 1];
      const int cbp = (luma << 2) | mb.cbpc;
      for (int b = 0; b < 6; ++b)
        if (cbp & (32 >> b)) texture(w, intra);
    }
  }

  std::mt19937 rng_;
  Codes rvlcIntra_, rvlcInter_, mcbpcIntra_, mcbpcInter_, cbpy_, mvd_, dcLum_, dcChrom_;
};

}  // namespace

TEST(Rvlc, HandBuiltStreamMatchesFfmpegDecode) {
  if (!ffmpegAvailable()) GTEST_SKIP() << "ffmpeg not reachable";
  VolParams vp;
  vp.dataPartitioned = true;
  vp.reversibleVlc = true;
  vp.resyncMarkerDisable = false;
  const auto vol = makeVol(vp);
  Encoder enc(11);
  std::vector<std::vector<uint8_t>> units;
  for (int i = 0; i < 8; ++i) units.push_back(enc.vop(i % 4 == 0 ? 0 : 1, i % 25));
  Clip clip;
  clip.width = 176;
  clip.height = 144;
  clip.stream = vol;
  for (const auto& u : units) clip.stream.insert(clip.stream.end(), u.begin(), u.end());

  // ffmpeg's decode of the same bytes.
  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("vdec-rvlc-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto es = dir / "s.m4v", yuv = dir / "s.yuv";
  {
    std::ofstream f(es, std::ios::binary);
    f.write(reinterpret_cast<const char*>(clip.stream.data()), std::streamsize(clip.stream.size()));
  }
  const std::string cmd = "ffmpeg -nostdin -v error -y -threads 1 -err_detect explode -f m4v -i " +
                          es.string() + " -f rawvideo -pix_fmt yuv420p " + yuv.string();
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  {
    std::ifstream f(yuv, std::ios::binary);
    clip.yuv.assign(std::istreambuf_iterator<char>(f), {});
  }
  std::filesystem::remove_all(dir);
  ASSERT_EQ(clip.frames(), 8);

  const Result r = decodeUnits(clip, false, vol, units);
  std::printf("  reversible codes, partitioned: %d pictures, PSNR-Y mean %.2f dB, worst %.2f dB\n",
              int(r.psnr.size()), r.mean(), r.worst());
  EXPECT_EQ(r.decoded, 8);
  ASSERT_EQ(r.psnr.size(), 8u);
  EXPECT_GE(r.worst(), 48.0);
}
