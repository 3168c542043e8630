#include "volheader/vol_header.h"

#include <cstring>

namespace volheader {

namespace {
constexpr uint32_t kVisualObjectSequence = 0x000001B0;
constexpr uint32_t kUserData = 0x000001B2;
constexpr uint32_t kVisualObject = 0x000001B5;
constexpr int kBase = 0;
}  // namespace

bool FindVolHeaderEnd(const uint8_t* data, size_t* length) {
  const size_t n = *length;
  if (n >= 3 && data[0] == 0 && data[1] == 0 && data[2] == 0x80) {
    // Short-header content carries no configuration of its own.
    *length = 0;
    return true;
  }
  if (n < 4 || data[0] != 0 || data[1] != 0 || data[2] != 1 || !(data[3] == 0xB0 || data[3] < 0x20)) return false;
  for (size_t i = 4; i + 3 < n; ++i) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && (data[i + 3] == 0xB3 || data[i + 3] == 0xB6)) {
      *length = i;
      return true;
    }
  }
  return false;
}

int ParseVolHeader(BitReader& in, VolHeaderInfo* info, int layer) {
  *info = VolHeaderInfo();
  if (in.Show(32) == kVisualObjectSequence) {
    in.Skip(32);
    in.Read(8);  // profile_and_level_indication, replaced
    if (in.Show(32) == kUserData) in.SkipUserData();
    in.Skip(32);  // visual object start code
    if (in.Read1()) in.Read(4 + 3);
    if (in.Read(4) == 1 && in.Read1()) {
      in.Read(3 + 1);
      if (in.Read1()) in.Read(24);
    }
    in.ByteAlign();
    if (in.Show(32) == kUserData) in.SkipUserData();
  }
  if (in.Error()) return 1;
  if (in.Show(27) != 8) {
    if (in.Show(22) == 0x20) {
      info->shortHeader = true;
      return 0;
    }
    return 1;
  }
  in.Skip(32);
  in.Skip(28);
  info->layerId = in.Read(4);
  in.Read1();  // random_accessible_vol
  in.Read(8);  // video_object_type_indication
  uint32_t verid = 1;
  if (in.Read1()) {
    verid = in.Read(4);
    in.Read(3);
  }
  if (in.Read(4) == 15) in.Read(16);
  if (in.Read1()) {
    in.Read(2 + 1);
    if (in.Read1()) {
      const int vbv[] = {15, 1, 15, 1, 15, 1, 3, 11, 1, 15, 1};
      for (int bits : vbv) in.Read(bits);
    }
  }
  // Only rectangular video has the fields below in this order.
  if (in.Read(2) != 0) return 1;
  in.Read1();
  info->timeIncrementResolution = in.Read(16);
  int bits = 0;
  for (uint32_t v = info->timeIncrementResolution ? info->timeIncrementResolution - 1 : 0; v; v >>= 1) ++bits;
  info->timeIncrementBits = bits < 1 ? 1 : bits;
  in.Read1();
  info->fixedVopRate = in.Read1();
  if (info->fixedVopRate) info->fixedVopTimeIncrement = in.Read(info->timeIncrementBits);
  in.Read1();
  info->width = in.Read(13);
  in.Read1();
  info->height = in.Read(13);
  in.Read1();

  if (in.Read1()) return 1;  // interlaced
  // The rewritten header says obmc_disable 1: content with OBMC would no
  // longer decode.
  if (in.Read1() == 0) return 1;
  if (in.Read(verid == 1 ? 1 : 2)) return 1;  // sprite_enable
  if (in.Read1()) return 1;                   // not_8_bit
  if (in.Read1()) return 1;                   // quant_type
  // Quarter-sample motion is not carried into the rewritten header either.
  if (verid != 1 && in.Read1()) return 1;
  if (in.Read1() == 0) return 1;  // complexity_estimation_disable
  info->resyncMarkerDisable = in.Read1();
  info->dataPartitioned = in.Read1();
  if (info->dataPartitioned) {
    if (layer != kBase) return 1;
    info->reversibleVlc = in.Read1();
    info->resyncMarkerDisable = 0;
  }
  if (verid != 1) {
    if (in.Read1()) return 1;  // newpred_enable
    if (in.Read1()) return 1;  // reduced_resolution_vop_enable, not carried either
  }
  info->scalability = in.Read1();
  if (info->scalability) {
    if (layer == kBase) return 1;
    info->hierarchyType = in.Read1();
    info->refLayerId = in.Read(4);
    info->refLayerSamplingDirection = in.Read1();
    for (uint32_t& f : info->samplingFactors) f = in.Read(5);
    in.Read1();  // enhancement_type
  }
  // A field read past the header's end fails the header.
  return in.Error() ? 1 : 0;
}

int WriteVolHeader(BitBuffer& out, const VolHeaderInfo& info, uint32_t profile) {
  if (info.shortHeader) return 0;
  int full = 0;
  auto put = [&](uint32_t v, int n) { full |= out.Put(v, n); };
  put(kVisualObjectSequence, 32);
  put(profile, 8);
  put(kVisualObject, 32);
  put(0, 1);  // is_visual_object_identifier
  put(1, 4);  // video
  put(0, 1);  // video_signal_type
  full |= out.Stuffing();
  put(0x00000100, 32);
  put(0x00000120 | (info.layerId & 0xF), 32);
  put(0, 1);
  put(info.layerId == 0 ? 1 : 2, 8);  // simple, or simple scalable
  put(0, 1);
  put(1, 4);  // square pixels
  put(0, 1);
  put(0, 2);  // rectangular
  put(1, 1);
  put(info.timeIncrementResolution, 16);
  put(1, 1);
  put(info.fixedVopRate, 1);
  if (info.fixedVopRate) put(info.fixedVopTimeIncrement, info.timeIncrementBits);
  put(1, 1);
  put(info.width, 13);
  put(1, 1);
  put(info.height, 13);
  put(1, 1);
  put(0, 1);  // interlaced
  put(1, 1);  // obmc_disable
  put(0, 1);  // sprite_enable
  put(0, 1);  // not_8_bit
  put(0, 1);  // quant_type
  put(1, 1);  // complexity_estimation_disable
  put(info.resyncMarkerDisable, 1);
  put(info.dataPartitioned, 1);
  if (info.dataPartitioned) put(info.reversibleVlc, 1);
  if (info.scalability) {
    put(1, 1);
    put(1, 1);  // hierarchy_type
    put(0, 4);  // ref_layer_id
    put(0, 1);  // ref_layer_sampling_direc
    for (int i = 0; i < 4; ++i) put(1, 5);
    put(0, 1);  // enhancement_type
  } else {
    put(0, 1);
  }
  full |= out.Stuffing();
  return full ? 1 : 0;
}

bool RewriteVolHeader(VolRewrite* r, int layer) {
  if (r->length >= 3 && r->data[0] == 0 && r->data[1] == 0 && r->data[2] == 0x80) {
    // Short-header pictures pass whole: there is no configuration to move.
    r->length = 0;
    r->outLength = 0;
    return true;
  }
  size_t length = r->length;
  if (FindVolHeaderEnd(r->data, &length)) r->length = length;
  BitReader in(r->data, r->length);
  VolHeaderInfo info;
  if (ParseVolHeader(in, &info, layer) != 0) return false;
  BitBuffer out(kMaxVolHeader);
  if (WriteVolHeader(out, info, layer != kBase ? 0x12 : 0x02) != 0) return false;
  r->outLength = out.ByteCount();
  std::memcpy(r->out, out.Data(), r->outLength);
  return true;
}

}  // namespace volheader
