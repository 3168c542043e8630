// ffprobe as an independent judge of the top-level layout.
#include <gtest/gtest.h>

#include "fileformat/file_type_atom.h"
#include "fileformat/movie_header_atom.h"
#include "fileformat/render.h"
#include "fileformat/user_data_atom.h"
#include "test_util.h"

namespace fileformat {
namespace {

TEST(Peer, FfprobeReadsFtypMoovUdta) {
  if (!test::peersAvailable()) GTEST_SKIP() << "ffprobe not reachable";
  FileTypeAtom ftyp;
  ftyp.SetMajorBrand(fourcc("wmf "));
  ftyp.SetMinorVersion(0x00010001);
  ContainerAtom moov(fourcc("moov"));
  moov.recomputeSize();
  MovieHeaderAtom* mvhd = moov.adopt(std::make_unique<MovieHeaderAtom>());
  mvhd->UpdateDuration(0);
  mvhd->UpdateDuration(2000);
  UserDataAtom udta;
  test::Bytes file = test::render(ftyp);
  for (const Atom* a : {static_cast<const Atom*>(&moov), static_cast<const Atom*>(&udta)}) {
    test::Bytes b = test::render(*a);
    file.insert(file.end(), b.begin(), b.end());
  }
  std::string path = test::scratchPath("top_level.mp4");
  test::writeFile(path, file);
  std::string out;
  int rc = test::runCommand("ffprobe -v error -show_entries format=duration,format_name -of "
                            "default=noprint_wrappers=1 '" + path + "'",
                            &out);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("format_name=mov,mp4"), std::string::npos) << out;
  EXPECT_NE(out.find("duration=4.000000"), std::string::npos) << out;
  EXPECT_EQ(out.find("rror"), std::string::npos) << out;
}

}  // namespace
}  // namespace fileformat
