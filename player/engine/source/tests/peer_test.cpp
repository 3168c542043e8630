// Every audio sample of an ffmpeg-made file comes out of the file source in
// order, in groups, with the bytes, sizes and times ffprobe reads.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "file_source.h"
#include "packet_list.h"
#include "source_test_support.h"

using namespace source_test;

namespace {

bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

}  // namespace

TEST(FileSourcePeer, AacGroupsHoldFfprobesPackets) {
  if (!Shell("command -v ffmpeg >/dev/null 2>&1")) GTEST_SKIP() << "ffmpeg is not installed";
  const auto dir = ScratchDir();
  const std::string clip = (dir / "peer.mp4").string(), list = (dir / "packets.txt").string();
  ASSERT_TRUE(Shell("ffmpeg -v error -y -f lavfi -i sine=frequency=300:sample_rate=16000 -t 7 -c:a aac -b:a 24k " +
                  clip));
  ASSERT_TRUE(Shell("ffprobe -v error -select_streams a -show_entries packet=pts,size,data_hash "
                  "-show_data_hash adler32 -of default=nw=1 " + clip + " > " + list));
  std::ifstream in(list);
  const std::vector<Packet> packets = ParsePackets(in);
  ASSERT_GT(packets.size(), 100u);

  RecordingHost host;
  FileSource source(nullptr, &host);
  ASSERT_EQ(source.Open((dir / "peer.mp4").u16string().c_str(), nullptr), 0u);
  int32_t count = 0;
  TrackEntry* tracks = source.GetTrackList(&count);
  ASSERT_EQ(count, 1);
  source.SelectTrack(tracks[0].trackId);
  ASSERT_EQ(source.SetAudioTrack(tracks[0].trackId), 16000u);
  ASSERT_EQ(source.SetPlayRange(0, kPlayToEnd), 0u);
  std::vector<uint8_t> buffer(11 + 10 * source.GetMaxAudioFrameSize());
  size_t next = 0;
  uint32_t status, ts = 0, length = 0;
  while ((status = source.GetAudioFrame(buffer.data(), uint32_t(buffer.size()), 0, &ts, &length)) == kFrameDelivered) {
    const uint32_t n = buffer[0];
    ASSERT_GE(n, 1u);
    ASSERT_LE(next + n, packets.size());
    // ffprobe shows the times after the edit list; ours are media times.
    EXPECT_EQ(int64_t(ts), packets[next].pts - packets[0].pts) << next;
    uint32_t at = 1 + n, total = 1 + n;
    for (uint32_t i = 0; i < n; ++i, ++next) {
      const Packet& p = packets[next];
      ASSERT_LE(at + p.size, length);
      EXPECT_EQ(Adler32(buffer.data() + at, p.size), p.adler) << "packet " << next;
      at += p.size;
      total += p.size;
    }
    EXPECT_EQ(total, length);
  }
  EXPECT_EQ(status, kFrameEndOfMedia);
  // Samples are played up to the movie's duration; ffmpeg's edit list for the
  // encoder's priming makes the duration end before the last samples.
  size_t inDuration = 0;
  for (const Packet& p : packets)
    if ((p.pts - packets[0].pts) * 1000 / 16000 <= int64_t(source.GetDuration())) ++inDuration;
  EXPECT_LT(packets.size() - inDuration, 3u);
  EXPECT_EQ(next, inDuration);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}
