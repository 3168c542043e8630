// Configuration and picture headers, time stamps and layers, on hand-built
// streams.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "synth.h"
#include "vdec_internal.h"

using namespace vdectest;

namespace {

int createFrom(VideoDecoder* dec, const std::vector<uint8_t>& vol) {
  const uint8_t* cfg[1] = {vol.data()};
  const int32_t sizes[1] = {int32_t(vol.size())};
  return vdec_create(dec, cfg, sizes, 1);
}

// Decodes one access unit; returns the result and leaves the size in *left.
int decodeUnit(VideoDecoder* dec, std::vector<uint8_t> unit, int32_t ts = -1,
               uint8_t* out = nullptr, int32_t* left = nullptr) {
  uint8_t* in[1] = {unit.data()};
  int32_t t[1] = {ts};
  int32_t size[1] = {int32_t(unit.size())};
  const int r = vdec_decode_frame(dec, in, t, size, out);
  if (left) *left = size[0];
  return r;
}

}  // namespace

TEST(Headers, VolSizeLimits) {
  struct Case {
    int width, height;
    int probe;       // vdec_probe_size result
    int codedWidth;  // 0 when refused
    int32_t createError;
  };
  const Case cases[] = {
      {1026, 576, 0, 0, VDEC_ERROR_HEADER},
      {1024, 576, 2, 1024, VDEC_ERROR_TOO_LARGE},  // decodable, but beyond the player's surface
      {180, 144, 2, 192, VDEC_OK},
      {176, 120, 2, 176, VDEC_OK},
  };
  for (const Case& c : cases) {
    VolParams p;
    p.width = c.width;
    p.height = c.height;
    const auto vol = makeVol(p);
    int w = 0, h = 0;
    EXPECT_EQ(vdec_probe_size(vol.data(), int32_t(vol.size()), &w, &h), c.probe) << c.width;
    if (c.probe) {
      EXPECT_EQ(w, c.codedWidth);
    }
    VideoDecoder dec;
    EXPECT_EQ(createFrom(&dec, vol), c.createError == VDEC_OK ? 1 : 0) << c.width;
    EXPECT_EQ(dec.error, c.createError) << c.width;
    if (dec.state) {
      const VolInfo* v = dec.state->vol[0];
      EXPECT_EQ(v->codedWidth, c.codedWidth);
      EXPECT_EQ(v->mbCols, c.codedWidth / 16);
      EXPECT_EQ(vdec_get_width(&dec), c.width);
      EXPECT_EQ(vdec_get_height(&dec), c.height);
    }
    vdec_destroy(&dec);
  }
}

TEST(Headers, RefusedTools) {
  VolParams interlaced;
  interlaced.interlaced = true;
  const auto vol = makeVol(interlaced);
  int w, h;
  EXPECT_EQ(vdec_probe_size(vol.data(), int32_t(vol.size()), &w, &h), 0);
  // Truncated configuration.
  const auto good = makeVol(VolParams{});
  for (size_t n : {size_t(3), size_t(10), good.size() / 2}) {
    EXPECT_EQ(vdec_probe_size(good.data(), int32_t(n), &w, &h), 0) << n;
    VideoDecoder dec;
    const uint8_t* cfg[1] = {good.data()};
    const int32_t sizes[1] = {int32_t(n)};
    EXPECT_EQ(vdec_create(&dec, cfg, sizes, 1), 0);
    EXPECT_EQ(dec.error, VDEC_ERROR_HEADER);
  }
}

TEST(Headers, LoadedMatrixRepeatsLastValue) {
  VolParams p;
  p.quantType = true;
  p.intraMatrix = {8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 0};
  VideoDecoder dec;
  ASSERT_EQ(createFrom(&dec, makeVol(p)), 1);
  const VolInfo* v = dec.state->vol[0];
  EXPECT_EQ(v->intraMatrix[0], 0);   // the DC uses the DC scaler
  EXPECT_EQ(v->intraMatrix[1], 9);   // zigzag position 1
  EXPECT_EQ(v->intraMatrix[24], 17); // zigzag position 9 is raster 24, the tenth value
  EXPECT_EQ(v->intraMatrix[63], 17);
  EXPECT_EQ(v->nonIntraMatrix[63], 33);  // default
  vdec_destroy(&dec);
}

TEST(Headers, VopFcodeOutOfRangeIsRefused) {
  VideoDecoder dec;
  ASSERT_EQ(createFrom(&dec, makeVol(VolParams{})), 1);
  VopParams p;
  p.type = 1;
  p.fcode = 4;
  BitWriter w;
  writeVopHeader(w, p);
  w.stuffing();
  int32_t left = -1;
  EXPECT_EQ(decodeUnit(&dec, w.bytes(), -1, nullptr, &left), 0);
  EXPECT_EQ(left, 0);
  // The same picture with f_code 3 is taken.
  p.fcode = 3;
  BitWriter ok;
  writeVopHeader(ok, p);
  for (int i = 0; i < 99; ++i) ok.put(1, 1);  // every macroblock not coded
  ok.stuffing();
  EXPECT_EQ(decodeUnit(&dec, ok.bytes()), 1);
  vdec_destroy(&dec);
}

TEST(Headers, StartCodeSearchEndsAtBufferEnd) {
  const uint8_t data[] = {0x12, 0x34, 0x00, 0x00, 0x7F, 0xFF, 0x00, 0x01};
  BitReader br;
  br.bind(data, sizeof data);
  br.skip(8);
  EXPECT_EQ(vdec::findNextPictureStart(br), 3);
  br.setPosition(8);
  EXPECT_EQ(vdec::findNextVopOrGov(br), 3);
  const uint8_t vop[] = {0xAA, 0x00, 0x00, 0x01, 0xB2, 0x00, 0x00, 0x01, 0xB6, 0x40};
  br.bind(vop, sizeof vop);
  br.skip(8);
  EXPECT_EQ(vdec::findNextVopOrGov(br), 0);
  EXPECT_EQ(br.position(), 5u * 8);  // the user data start code is skipped whole
}

TEST(Headers, ShortHeaderSourceFormatAgainstBuffers) {
  VideoDecoder dec;
  ASSERT_EQ(vdec_create_single(&dec, 128, 96), 1);
  EXPECT_EQ(decodeUnit(&dec, makeShortHeaderIntra(2, 0, 4, 100, 120)), 0);  // QCIF into sub-QCIF
  vdec_destroy(&dec);

  ASSERT_EQ(vdec_create_single(&dec, 176, 144), 1);
  std::vector<uint8_t> out(176 * 144 * 3 / 2);
  ASSERT_EQ(decodeUnit(&dec, makeShortHeaderIntra(1, 0, 4, 100, 120), -1, out.data()), 1);
  EXPECT_EQ(vdec_get_width(&dec), 128);
  EXPECT_EQ(vdec_get_height(&dec), 96);
  // Flat picture, packed at 128 x 96: Y then U then V.
  EXPECT_EQ(out[0], 100);
  EXPECT_EQ(out[128 * 96 - 1], 100);
  EXPECT_EQ(out[128 * 96], 120);
  EXPECT_EQ(out[128 * 96 * 3 / 2 - 1], 120);
  EXPECT_EQ(decodeUnit(&dec, makeShortHeaderIntra(2, 1, 4, 100, 120)), 0);  // QCIF now refused
  vdec_destroy(&dec);
}

TEST(Headers, ShortHeaderTimestamps) {
  VideoDecoder dec;
  ASSERT_EQ(vdec_create_single(&dec, 128, 96), 1);
  ASSERT_EQ(decodeUnit(&dec, makeShortHeaderIntra(1, 0, 4, 100, 120), 0), 1);
  EXPECT_EQ(vdec_get_timestamp(&dec), 0);
  ASSERT_EQ(decodeUnit(&dec, makeShortHeaderIntra(1, 1, 4, 100, 120)), 1);
  EXPECT_EQ(vdec_get_timestamp(&dec), 33);  // one tick of 1001/30 ms
  // 1000 ms anchors the tick count at 30; the next tick is 31 x 1001 / 30 ms.
  ASSERT_EQ(decodeUnit(&dec, makeShortHeaderIntra(1, 2, 4, 100, 120), 1000), 1);
  EXPECT_EQ(vdec_get_timestamp(&dec), 1000);
  ASSERT_EQ(decodeUnit(&dec, makeShortHeaderIntra(1, 3, 4, 100, 120)), 1);
  EXPECT_EQ(vdec_get_timestamp(&dec), 1034);
  vdec_destroy(&dec);
}

TEST(Headers, Mpeg4TimestampsAndReset) {
  VideoDecoder dec;
  ASSERT_EQ(createFrom(&dec, makeVol(VolParams{})), 1);
  VopParams p;
  p.timeIncrement = 5;  // resolution 25: 200 ms
  ASSERT_EQ(decodeUnit(&dec, makeFlatIntraVop(99, p)), 1);
  EXPECT_EQ(vdec_get_timestamp(&dec), 200);
  p.timeIncrement = 10;
  ASSERT_EQ(decodeUnit(&dec, makeFlatIntraVop(99, p), 5000), 1);  // caller's time anchors
  EXPECT_EQ(vdec_get_timestamp(&dec), 5000);
  vdec_reset(&dec);
  p.timeIncrement = 15;
  ASSERT_EQ(decodeUnit(&dec, makeFlatIntraVop(99, p)), 1);
  EXPECT_EQ(vdec_get_timestamp(&dec), 5200);
  p.timeIncrement = 0;
  p.moduloTimeBase = 1;  // next second
  ASSERT_EQ(decodeUnit(&dec, makeFlatIntraVop(99, p)), 1);
  EXPECT_EQ(vdec_get_timestamp(&dec), 5600);
  vdec_destroy(&dec);
}

TEST(Headers, DisplaySizeIsCroppedIntoCallerBuffer) {
  VolParams vp;
  vp.width = 176;
  vp.height = 120;
  VideoDecoder dec;
  ASSERT_EQ(createFrom(&dec, makeVol(vp)), 1);
  EXPECT_EQ(dec.state->vol[0]->codedHeight, 128);
  std::vector<uint8_t> out(176 * 120 * 3 / 2 + 16, 0xEE);
  ASSERT_EQ(decodeUnit(&dec, makeFlatIntraVop(11 * 8, VopParams{}), -1, out.data()), 1);
  EXPECT_EQ(vdec_get_output_frame(&dec), out.data());
  for (size_t i = 0; i < 176 * 120 * 3 / 2; ++i) ASSERT_EQ(out[i], 128) << i;
  EXPECT_EQ(out[176 * 120 * 3 / 2], 0xEE);  // nothing written past 88 x 60 chroma
  vdec_destroy(&dec);
}

TEST(Headers, NotCodedVopKeepsReference) {
  VideoDecoder dec;
  ASSERT_EQ(createFrom(&dec, makeVol(VolParams{})), 1);
  ASSERT_EQ(decodeUnit(&dec, makeFlatIntraVop(99, VopParams{})), 1);
  uint8_t* shown = vdec_get_output_frame(&dec);
  const DecodedFrame* ref = dec.state->ref;
  VopParams p;
  p.coded = false;
  p.timeIncrement = 1;
  BitWriter w;
  writeVopHeader(w, p);
  w.stuffing();
  dec.outputPicture = nullptr;
  EXPECT_EQ(decodeUnit(&dec, w.bytes()), 1);
  EXPECT_EQ(vdec_get_output_frame(&dec), nullptr);  // no new picture
  EXPECT_EQ(dec.state->ref, ref);
  EXPECT_EQ(ref->y, shown);
  vdec_destroy(&dec);
}

TEST(Headers, BidirectionalVopIsSkipped) {
  VideoDecoder dec;
  ASSERT_EQ(createFrom(&dec, makeVol(VolParams{})), 1);
  ASSERT_EQ(decodeUnit(&dec, makeFlatIntraVop(99, VopParams{})), 1);
  const DecodedFrame* ref = dec.state->ref;
  VopParams b;
  b.type = 2;
  b.timeIncrement = 1;
  BitWriter w;
  writeVopHeader(w, b);
  for (int i = 0; i < 40; ++i) w.put(0xA5, 8);  // macroblock data, never read
  w.stuffing();
  int32_t left = -1;
  dec.outputPicture = nullptr;
  EXPECT_EQ(decodeUnit(&dec, w.bytes(), -1, nullptr, &left), 0);
  EXPECT_EQ(left, 0);  // consumed whole
  EXPECT_EQ(vdec_get_output_frame(&dec), nullptr);
  EXPECT_EQ(dec.state->ref, ref);
  vdec_destroy(&dec);
}

// The base layer and a temporal enhancement layer of QCIF.
struct TwoLayers {
  std::vector<uint8_t> base, enhancement;
  TwoLayers() {
    VolParams enh;
    enh.layerId = 1;
    enh.withVos = false;
    enh.scalability = true;
    base = makeVol(VolParams{});
    enhancement = makeVol(enh);
  }
  int create(VideoDecoder* dec) const {
    const uint8_t* cfg[2] = {base.data(), enhancement.data()};
    const int32_t sizes[2] = {int32_t(base.size()), int32_t(enhancement.size())};
    return vdec_create(dec, cfg, sizes, 2);
  }
};

TEST(Headers, LayersAndBlackStart) {
  const TwoLayers layers;
  const auto& v0 = layers.base;
  VideoDecoder dec;
  ASSERT_EQ(layers.create(&dec), 1);
  // Before any picture every frame is black.
  for (const DecodedFrame* f : {dec.state->ref, dec.state->enh, dec.state->cur}) {
    EXPECT_EQ(f->y[0], 16);
    EXPECT_EQ(f->y[176 * 144 - 1], 16);
    EXPECT_EQ(f->u[0], 128);
    EXPECT_EQ(f->v[176 * 144 / 4 - 1], 128);
  }
  // Equal time stamps: the base layer goes first.
  auto u0 = makeFlatIntraVop(99, VopParams{});
  VopParams ep;
  ep.refSelect = true;
  auto u1 = makeFlatIntraVop(99, ep);
  uint8_t* in[2] = {u0.data(), u1.data()};
  int32_t ts[2] = {400, 400};
  int32_t sz[2] = {int32_t(u0.size()), int32_t(u1.size())};
  ASSERT_EQ(vdec_decode_frame(&dec, in, ts, sz, nullptr), 1);
  EXPECT_EQ(vdec_get_current_layer(&dec), 0);
  EXPECT_EQ(sz[0], 0);
  ASSERT_EQ(vdec_decode_frame(&dec, in, ts, sz, nullptr), 1);
  EXPECT_EQ(vdec_get_current_layer(&dec), 1);
  EXPECT_EQ(vdec_get_timestamp(&dec), 400);
  EXPECT_EQ(vdec_decode_frame(&dec, in, ts, sz, nullptr), 0);  // nothing left
  vdec_destroy(&dec);

  // A later layer of another size would not fit the frame buffers.
  VolParams big;
  big.layerId = 1;
  big.withVos = false;
  big.scalability = true;
  big.width = 352;
  big.height = 288;
  const auto v2 = makeVol(big);
  const uint8_t* cfg2[2] = {v0.data(), v2.data()};
  const int32_t sizes2[2] = {int32_t(v0.size()), int32_t(v2.size())};
  EXPECT_EQ(vdec_create(&dec, cfg2, sizes2, 2), 0);
  EXPECT_EQ(dec.error, VDEC_ERROR_LAYER_SIZE);
}

TEST(Resilience, GroupHeadersOnSomeRows) {
  VideoDecoder dec;
  ASSERT_EQ(vdec_create_single(&dec, 176, 144), 1);
  std::vector<uint8_t> out(176 * 144 * 3 / 2);
  ASSERT_EQ(decodeUnit(&dec, makeShortHeaderIntraWithGobs(2, 6, 90, 130, {3, 5}), -1, out.data()), 1);
  for (size_t i = 0; i < 176 * 144; ++i) ASSERT_EQ(out[i], 90) << i;
  for (size_t i = 176 * 144; i < out.size(); ++i) ASSERT_EQ(out[i], 130) << i;
  vdec_destroy(&dec);
}

TEST(Resilience, PacketNumberPastTheLastMacroblockContinuesInSequence) {
  VideoDecoder dec;
  ASSERT_EQ(createFrom(&dec, makeVol([] {
              VolParams p;
              p.resyncMarkerDisable = false;
              return p;
            }())),
            1);
  BitWriter w;
  writeVopHeader(w, VopParams{});
  writeFlatIntraMacroblocks(w, 11);
  writePacketHeader(w, 120, 7, 4);  // beyond the 99 macroblocks
  writeFlatIntraMacroblocks(w, 88);
  w.stuffing();
  std::vector<uint8_t> out(176 * 144 * 3 / 2);
  ASSERT_EQ(decodeUnit(&dec, w.bytes(), -1, out.data()), 1);
  for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], 128) << i;  // nothing concealed (black)

  // A packet that starts at macroblock 30 after a damaged first packet: 0 to
  // 29 come from the reference, the rest decodes.
  BitWriter d;
  VopParams p;
  p.timeIncrement = 1;
  writeVopHeader(d, p);
  d.put(0, 20);  // no macroblock code
  writePacketHeader(d, 30, 7, 4);
  writeFlatIntraMacroblocks(d, 69);
  d.stuffing();
  std::vector<uint8_t> ref(out);
  vdec_destroy(&dec);
  ASSERT_EQ(createFrom(&dec, makeVol([] {
              VolParams v;
              v.resyncMarkerDisable = false;
              return v;
            }())),
            1);
  ASSERT_EQ(decodeUnit(&dec, d.bytes(), -1, out.data()), 1);
  // Macroblock 29 (row 2, column 7) is black from the initial reference;
  // macroblock 30 is decoded grey.
  EXPECT_EQ(out[size_t(2 * 16) * 176 + 7 * 16], 16);
  EXPECT_EQ(out[size_t(2 * 16) * 176 + 8 * 16], 128);
  EXPECT_EQ(out[0], 16);
  EXPECT_EQ(out[176 * 144 - 1], 128);
  vdec_destroy(&dec);
}

// A layer's header read in one call (the layer not chosen) is read again when
// a later call brings another buffer for that layer.
TEST(Headers, LayerInputReplacedBetweenCalls) {
  VideoDecoder dec;
  ASSERT_EQ(TwoLayers().create(&dec), 1);
  VopParams p0, p1;
  p0.timeIncrement = 1;
  p1.refSelect = true;
  p1.timeIncrement = 3;
  auto u0 = makeFlatIntraVop(99, p0);
  auto first = std::make_unique<std::vector<uint8_t>>(makeFlatIntraVop(99, p1));
  p1.timeIncrement = 2;
  auto second = makeFlatIntraVop(99, p1);  // made while the first lives: another address
  {
    uint8_t* in[2] = {u0.data(), first->data()};
    int32_t ts[2] = {-1, -1};
    int32_t sz[2] = {int32_t(u0.size()), int32_t(first->size())};
    ASSERT_EQ(vdec_decode_frame(&dec, in, ts, sz, nullptr), 1);
    EXPECT_EQ(vdec_get_current_layer(&dec), 0);  // 40 ms before layer 1's 120 ms
  }
  first.reset();  // layer 1's buffer is gone
  uint8_t* in[2] = {u0.data(), second.data()};
  int32_t ts[2] = {-1, -1};
  int32_t sz[2] = {0, int32_t(second.size())};
  ASSERT_EQ(vdec_decode_frame(&dec, in, ts, sz, nullptr), 1);
  EXPECT_EQ(vdec_get_current_layer(&dec), 1);
  EXPECT_EQ(vdec_get_timestamp(&dec), 80);
  vdec_destroy(&dec);
}
