#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "rtp_fixture.h"
#include "streaming/rtp_payload.h"

using namespace streaming;
using fixture::RtpPacket;

namespace {

using fixture::Frame;

struct Delivered {
  Frame bytes;
  uint8_t flags;
};

// Calls the assembler as RTP reception does: once per packet, again while
// it asks to keep the packet.
template <typename State, typename Assemble>
std::vector<Delivered> assemble(std::vector<RtpPacket> packets, State& st, Assemble fn, uint32_t capacity = 65536) {
  std::vector<Delivered> out;
  std::vector<uint8_t> buffer(capacity);
  st.capacity = capacity;
  for (auto& p : packets) {
    for (int guard = 0; guard < 64; ++guard) {
      FrameContext ctx;
      ctx.payload = p.bytes.data() + p.payloadOffset;
      ctx.payloadLength = p.payloadLength();
      ctx.marker = p.marker;
      ctx.timestamp = p.timestamp;
      ctx.buffer = buffer.data();
      uint8_t flags = fn(st, ctx);
      if (flags & kFrameDone) out.push_back({Frame(ctx.output, ctx.output + ctx.outputLength), flags});
      if (!(flags & kKeepPacket)) break;
    }
  }
  return out;
}

}  // namespace

TEST(Depacketiser, PatternHelpers) {
  const uint8_t buf[] = {1, 0, 0, 1, 0xB6, 9};
  const uint8_t vop[] = {0, 0, 1, 0xB6};
  EXPECT_EQ(FindPattern(vop, 4, buf, 6), 1);
  EXPECT_EQ(FindPattern(vop, 4, buf, 4), -1);
  EXPECT_FALSE(PatternDiffers(buf + 1, vop, 4));
  EXPECT_TRUE(PatternDiffers(buf, vop, 4));
  EXPECT_FALSE(PatternDiffers(buf, vop, 0));
}

// rtpmp4vpay's packets of an ffmpeg stream come back as the stream's frames.
TEST(Depacketiser, Mpeg4FramesEqualTheSource) {
  auto packets = fixture::ReadPackets("rtp_mp4v.bin");
  ASSERT_GT(packets.size(), 20u);
  auto source = fixture::Mpeg4Frames(fixture::ReadFile("src.m4v"));
  Mpeg4AssemblyState st;
  auto frames = assemble(packets, st, AssembleMpeg4VideoPayload);
  ASSERT_EQ(frames.size(), source.size());
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].bytes, source[i]) << "frame " << i;
    EXPECT_EQ(frames[i].flags & (kFrameCut | kPacketError), 0) << i;
  }
  EXPECT_EQ(frames[0].bytes[3], 0xB3);  // the first frame keeps the GOV header in front of its VOP

  // The last packet of a frame lost: the next time stamp delivers the part
  // flagged as cut and keeps its packet, whose frame then follows whole.
  size_t cut = 0;
  while (packets[cut].marker || packets[cut + 1].timestamp != packets[cut].timestamp) ++cut;
  while (!packets[cut].marker) ++cut;
  std::vector<RtpPacket> lossy = packets;
  lossy.erase(lossy.begin() + long(cut));
  Mpeg4AssemblyState st2;
  auto got = assemble(lossy, st2, AssembleMpeg4VideoPayload);
  ASSERT_EQ(got.size(), source.size());
  size_t k = 0;
  while (got[k].bytes == source[k]) ++k;
  EXPECT_EQ(got[k].flags, kFrameDone | kKeepPacket | kFrameCut);
  EXPECT_LT(got[k].bytes.size(), source[k].size());
  EXPECT_TRUE(std::equal(got[k].bytes.begin(), got[k].bytes.end(), source[k].begin()));
  EXPECT_EQ(got[k + 1].bytes, source[k + 1]);
}

TEST(Depacketiser, Mpeg4PacketsOfTheirOwn) {
  // Two VOPs and the marker bit: two frames from two calls.
  uint8_t two[] = {0, 0, 1, 0xB6, 1, 2, 0, 0, 1, 0xB6, 3, 4, 5};
  RtpPacket p;
  p.bytes.assign(two, two + sizeof two);
  p.marker = true;
  p.timestamp = 90;
  Mpeg4AssemblyState st;
  st.firstPacket = false;
  auto got = assemble({p}, st, AssembleMpeg4VideoPayload);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].flags, kFrameDone | kKeepPacket);
  EXPECT_EQ(got[0].bytes.size(), 6u);
  EXPECT_EQ(got[1].flags, kFrameDone);
  EXPECT_EQ(got[1].bytes.size(), 7u);
  // Without a VOP the packet is unusable; a frame beyond the capacity is cut.
  uint8_t none[] = {1, 2, 3, 4, 5};
  RtpPacket q;
  q.bytes.assign(none, none + sizeof none);
  q.marker = true;
  q.timestamp = 180;
  FrameContext ctx;
  std::vector<uint8_t> buf(4);
  ctx.payload = q.bytes.data();
  ctx.payloadLength = 5;
  ctx.marker = true;
  ctx.timestamp = 180;
  ctx.buffer = buf.data();
  EXPECT_EQ(AssembleMpeg4VideoPayload(st, ctx), kPacketError);
  Mpeg4AssemblyState small;
  auto cut = assemble({p}, small, AssembleMpeg4VideoPayload, 4);
  EXPECT_EQ(cut[0].flags & kFrameCut, kFrameCut);
  EXPECT_EQ(cut[0].bytes.size(), 4u);
}

TEST(Depacketiser, H263FramesEqualTheSource) {
  auto packets = fixture::ReadPackets("rtp_h263.bin");
  ASSERT_GT(packets.size(), 12u);
  auto source = fixture::H263Frames(fixture::ReadFile("src.h263"));
  H263AssemblyState st;
  auto frames = assemble(packets, st, AssembleH263Payload);
  ASSERT_EQ(frames.size(), source.size());
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].bytes, source[i]) << "frame " << i;
    EXPECT_EQ(frames[i].bytes[0], 0);  // the P bit's start code is restored
    EXPECT_EQ(frames[i].bytes[1], 0);
  }
}

TEST(Depacketiser, H263ShortAndHeadlessPackets) {
  H263AssemblyState st;
  st.capacity = 64;
  std::vector<uint8_t> buf(64);
  uint8_t oneByte[] = {0x04};
  FrameContext ctx;
  ctx.payload = oneByte;
  ctx.payloadLength = 1;
  ctx.marker = true;
  ctx.buffer = buf.data();
  EXPECT_EQ(AssembleH263Payload(st, ctx), kPacketError);  // shorter than its header
  // A marked packet of a new picture time without a start code is dropped.
  uint8_t tail[] = {0x00, 0x00, 0x12, 0x34, 0x56};
  ctx.payload = tail;
  ctx.payloadLength = sizeof tail;
  ctx.timestamp = 3000;
  EXPECT_EQ(AssembleH263Payload(st, ctx), kPacketError);
}

// rtpamrpay's packets carry the synthetic AMR file's frames in order.
TEST(Depacketiser, AmrTablesOfContentsMatchTheSource) {
  const std::string src = fixture::ReadFile("src.amr");
  ASSERT_EQ(src.substr(0, 6), "#!AMR\n");
  static const uint8_t kBytes[] = {12, 13, 15, 17, 19, 20, 26, 31};
  std::vector<uint8_t> headers;
  std::string speech;
  for (size_t i = 6; i < src.size();) {
    uint8_t h = uint8_t(src[i]);
    uint8_t n = kBytes[(h >> 3) & 7];
    headers.push_back(h);
    speech += src.substr(i + 1, n);
    i += 1 + n;
  }
  auto packets = fixture::ReadPackets("rtp_amr.bin");
  std::vector<uint8_t> gotHeaders;
  std::string gotSpeech;
  std::vector<uint8_t> out(512);
  for (auto& p : packets) {
    FrameContext ctx;
    ctx.payload = p.bytes.data() + p.payloadOffset;
    ctx.payloadLength = p.payloadLength();
    ASSERT_EQ(ParseAmrToc(ctx), kFrameDone);
    uint32_t n = WriteTocFrame(ctx, out.data(), uint32_t(out.size()));
    ASSERT_EQ(n, ctx.outputLength);
    ASSERT_EQ(out[0], ctx.frames);
    for (uint32_t k = 0; k < ctx.frames; ++k) gotHeaders.push_back(out[1 + k] & 0x7F);
    gotSpeech.append(reinterpret_cast<const char*>(out.data()) + 1 + ctx.frames, ctx.speechLength);
  }
  ASSERT_EQ(gotHeaders.size(), headers.size());
  for (size_t i = 0; i < headers.size(); ++i) EXPECT_EQ(gotHeaders[i] & 0x78, headers[i] & 0x78) << i;
  EXPECT_EQ(gotSpeech, speech);
}

TEST(Depacketiser, SpeechTablesAreBoundedByThePayload) {
  // Twelve chained AMR entries (mode 0, 12 bytes each): ten are taken.
  std::vector<uint8_t> amr = {0xF0};
  for (int i = 0; i < 12; ++i) amr.push_back(i < 11 ? 0x84 : 0x04);
  amr.resize(amr.size() + 12 * 12, 0x55);
  FrameContext ctx;
  ctx.payload = amr.data();
  ctx.payloadLength = uint32_t(amr.size());
  EXPECT_EQ(ParseAmrToc(ctx), kFrameDone | kFrameCut);
  EXPECT_EQ(ctx.frames, 10);
  // Entries that run off the end, or speech shorter than they announce.
  std::vector<uint8_t> runaway = {0xF0, 0x84, 0x84};
  ctx.payload = runaway.data();
  ctx.payloadLength = 3;
  EXPECT_EQ(ParseAmrToc(ctx), kFrameDone | kPacketError);
  EXPECT_EQ(ctx.outputLength, 0u);
  std::vector<uint8_t> shortSpeech = {0xF0, 0x3C, 1, 2};
  ctx.payload = shortSpeech.data();
  ctx.payloadLength = 4;
  EXPECT_EQ(ParseAmrToc(ctx), kFrameDone | kPacketError);

  std::vector<uint8_t> evrc = {0x04, 9, 9, 9};  // no 0x20: one entry
  ctx.payload = evrc.data();
  ctx.payloadLength = 4;
  EXPECT_EQ(ParseEvrcToc(ctx), kFrameDone);
  EXPECT_EQ(ctx.frames, 1);
  EXPECT_EQ(ctx.outputLength, 5u);
  std::vector<uint8_t> evrcMany(11, 0x24);
  evrcMany.push_back(0x04);
  ctx.payload = evrcMany.data();
  ctx.payloadLength = uint32_t(evrcMany.size());
  EXPECT_EQ(ParseEvrcToc(ctx), kFrameDone | kFrameCut);
  std::vector<uint8_t> evrcRunaway(3, 0x24);
  ctx.payload = evrcRunaway.data();
  ctx.payloadLength = 3;
  EXPECT_EQ(ParseEvrcToc(ctx) & kPacketError, kPacketError);
}
