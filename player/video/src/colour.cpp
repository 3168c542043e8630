#include "video/colour.h"

#include <algorithm>
#include <array>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#include <tmmintrin.h>
#endif

namespace {

// Row 5 of the matrix_coefficients table of ISO/IEC 13818-2 (16.16 fixed
// point); the palette is computed with it.
constexpr int kCrv = 104597, kCbu = 132201, kCgu = 25675, kCgv = 53279;

int TrailingZeros(uint32_t m) {
  int s = 0;
  while (s < 32 && !(m & (1u << s))) ++s;
  return s;
}

int RunLength(uint32_t m, int shift) {
  int b = 0;
  while (shift + b < 32 && (m & (1u << (shift + b)))) ++b;
  return b;
}

void BuildMaskTable(uint16_t* table, uint32_t mask) {
  const int s = TrailingZeros(mask);
  const int b = std::min(RunLength(mask, s), 8);
  for (int v = 0; v < 256; ++v) {
    table[v] = b == 0 ? 0 : uint16_t(((uint32_t(v) >> (8 - b)) << s) & mask);
  }
}

// Row r of the Y plane and the chroma rows that serve it (one chroma row for
// two luma rows; chroma rows are half the luma row, rounded up).
struct SourceRows {
  const uint8_t* const* planes;
  int yStride, cStride;
  SourceRows(const uint8_t* const p[3], int stride) : planes(p), yStride(stride), cStride((stride + 1) / 2) {}
  const uint8_t* Y(int r) const { return planes[0] + size_t(r) * yStride; }
  const uint8_t* U(int r) const { return planes[1] + size_t(r / 2) * cStride; }
  const uint8_t* V(int r) const { return planes[2] + size_t(r / 2) * cStride; }
};

#ifdef __SSE2__
// Sixteen pixels of a row as the tables give them, in 16-bit lanes: each
// table is a multiply and shift on values offset to stay unsigned, e.g.
// (149 (Y - 16)) >> 7 = ((149 Y + 48) >> 7) - 19, and the clip is the
// saturation of the pack to bytes.
struct Rgb16 { __m128i r, g, b; };  // bytes: 16 pixels each

inline Rgb16 ConvertSixteen(const uint8_t* Y, const uint8_t* U, const uint8_t* V) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i y8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Y));
  // The chroma terms once per pixel pair, then spread over both pixels.
  const __m128i u = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(U)), zero);
  const __m128i v = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(V)), zero);
  const __m128i vr = _mm_sub_epi16(_mm_srli_epi16(_mm_mullo_epi16(v, _mm_set1_epi16(204)), 7), _mm_set1_epi16(204));
  const __m128i ub = _mm_sub_epi16(_mm_add_epi16(_mm_add_epi16(u, u), _mm_srli_epi16(u, 6)), _mm_set1_epi16(258));
  const __m128i ug = _mm_sub_epi16(_mm_srli_epi16(_mm_mullo_epi16(u, _mm_set1_epi16(50)), 7), _mm_set1_epi16(50));
  const __m128i vg = _mm_sub_epi16(_mm_srli_epi16(_mm_mullo_epi16(v, _mm_set1_epi16(104)), 7), _mm_set1_epi16(104));
  const __m128i uv = _mm_add_epi16(vg, ug);
  __m128i out[3][2];
  for (int half = 0; half < 2; ++half) {
    const __m128i y = half ? _mm_unpackhi_epi8(y8, zero) : _mm_unpacklo_epi8(y8, zero);
    const __m128i yp = _mm_sub_epi16(
        _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(y, _mm_set1_epi16(149)), _mm_set1_epi16(48)), 7),
        _mm_set1_epi16(19));
    auto spread = [half](__m128i t) { return half ? _mm_unpackhi_epi16(t, t) : _mm_unpacklo_epi16(t, t); };
    out[0][half] = _mm_add_epi16(yp, spread(vr));
    out[1][half] = _mm_sub_epi16(yp, spread(uv));
    out[2][half] = _mm_add_epi16(yp, spread(ub));
  }
  return {_mm_packus_epi16(out[0][0], out[0][1]), _mm_packus_epi16(out[1][0], out[1][1]),
          _mm_packus_epi16(out[2][0], out[2][1])};
}

// The four registers of 16 pixels as bytes blue, green, red, 0.
inline void Interleave32(const Rgb16& c, __m128i px[4]) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i bgLo = _mm_unpacklo_epi8(c.b, c.g), bgHi = _mm_unpackhi_epi8(c.b, c.g);
  const __m128i r0Lo = _mm_unpacklo_epi8(c.r, zero), r0Hi = _mm_unpackhi_epi8(c.r, zero);
  px[0] = _mm_unpacklo_epi16(bgLo, r0Lo), px[1] = _mm_unpackhi_epi16(bgLo, r0Lo);
  px[2] = _mm_unpacklo_epi16(bgHi, r0Hi), px[3] = _mm_unpackhi_epi16(bgHi, r0Hi);
}

int Row32(const uint8_t* Y, const uint8_t* U, const uint8_t* V, uint8_t* d, int w) {
  int c = 0;
  for (; c + 16 <= w; c += 16, d += 64) {
    __m128i px[4];
    Interleave32(ConvertSixteen(Y + c, U + c / 2, V + c / 2), px);
    for (int k = 0; k < 4; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16 * k), px[k]);
  }
  return c;
}

// Four blue-green-red-0 pixels into the low twelve bytes.
inline __m128i Pack24(__m128i p) {
  const __m128i low32 = _mm_set_epi32(0, -1, 0, -1);
  const __m128i six = _mm_srli_epi64(_mm_set1_epi32(-1), 16);  // 6 bytes of each 64-bit lane
  const __m128i q = _mm_or_si128(_mm_and_si128(p, low32), _mm_srli_epi64(_mm_andnot_si128(low32, p), 8));
  return _mm_or_si128(_mm_and_si128(q, _mm_move_epi64(six)), _mm_srli_si128(_mm_andnot_si128(_mm_move_epi64(six), q), 2));
}

int Row24(const uint8_t* Y, const uint8_t* U, const uint8_t* V, uint8_t* d, int w) {
  int c = 0;
  for (; c + 16 <= w; c += 16, d += 48) {
    __m128i px[4];
    Interleave32(ConvertSixteen(Y + c, U + c / 2, V + c / 2), px);
    const __m128i q0 = Pack24(px[0]), q1 = Pack24(px[1]), q2 = Pack24(px[2]), q3 = Pack24(px[3]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_or_si128(q0, _mm_slli_si128(q1, 12)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), _mm_or_si128(_mm_srli_si128(q1, 4), _mm_slli_si128(q2, 8)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 32), _mm_or_si128(_mm_srli_si128(q2, 8), _mm_slli_si128(q3, 4)));
  }
  return c;
}

#if defined(__x86_64__) || defined(__i386__)
#define VDEC_COLOUR_SSSE3 1
// The 24-bit row with byte shuffles: each 16-byte store gathers its blue,
// green and red bytes from the three channel registers.
__attribute__((target("ssse3"))) int Row24Ssse3(const uint8_t* Y, const uint8_t* U, const uint8_t* V, uint8_t* d,
                                                int w) {
  alignas(16) static const auto masks = [] {
    std::array<std::array<std::array<int8_t, 16>, 3>, 3> m{};  // [store][channel][byte]
    for (int k = 0; k < 3; ++k)
      for (int ch = 0; ch < 3; ++ch)
        for (int j = 0; j < 16; ++j) {
          const int at = 16 * k + j;
          m[k][ch][j] = at % 3 == ch ? int8_t(at / 3) : int8_t(-128);
        }
    return m;
  }();
  __m128i shuffle[3][3];
  for (int k = 0; k < 3; ++k)
    for (int ch = 0; ch < 3; ++ch) shuffle[k][ch] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(masks[k][ch].data()));
  int c = 0;
  for (; c + 16 <= w; c += 16, d += 48) {
    const Rgb16 px = ConvertSixteen(Y + c, U + c / 2, V + c / 2);
    for (int k = 0; k < 3; ++k) {
      const __m128i out = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(px.b, shuffle[k][0]), _mm_shuffle_epi8(px.g, shuffle[k][1])),
                                       _mm_shuffle_epi8(px.r, shuffle[k][2]));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16 * k), out);
    }
  }
  return c;
}

bool HasSsse3() {
  static const bool available = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") != 0;
  }();
  return available;
}
#endif
#endif

}  // namespace

ColorConverter::ColorConverter(const DisplayFormat& dest) : format_(dest) {
  format_.palette = nullptr;
  for (int i = 0; i < 1024; ++i) clip_[i] = uint8_t(std::clamp(i - kClipOffset, 0, 255));
  for (int i = 0; i < 256; ++i) {
    // Arithmetic shifts: the tables round toward minus infinity.
    Ytab_[i] = (149 * (i - 16)) >> 7;
    UBtab_[i] = (258 * (i - 128)) >> 7;
    VRtab_[i] = (204 * (i - 128)) >> 7;
    UGtab_[i] = (50 * (i - 128)) >> 7;
    VGtab_[i] = (104 * (i - 128)) >> 7;
  }
  if (dest.palette == nullptr || dest.paletteSize == 0) return;
  palette_.assign(size_t(dest.paletteSize) * 4, 0);
  // Luma level in the high four bits of the index, U level in bits 2-3 and V
  // level in bits 0-1; entries 0-15 and 240-255 stay black.
  for (uint32_t n = 16; n < 240 && n < dest.paletteSize; ++n) {
    const int L = int(n >> 4);
    const int u = 32 * int((n >> 2) & 3) - 48;
    const int v = 32 * int(n & 3) - 48;
    const int Yp = L * 1220944 - 610472;
    uint8_t* e = &palette_[n * 4];
    e[0] = Clip((Yp + kCrv * v + 0x8000) >> 16);
    e[1] = Clip((Yp - kCgu * u - kCgv * v + 0x8000) >> 16);
    e[2] = Clip((Yp + kCbu * u + 0x8012) >> 16);
    e[3] = 0;
  }
  std::memcpy(dest.palette, palette_.data(), palette_.size());
  format_.palette = palette_.data();
}

bool ColorConverter::Fits(const DisplayFormat& dest, const DisplayFormat& source, int x, int y) {
  if (source.width <= 0 || source.height <= 0 || x < 0 || y < 0) return false;
  return int64_t(x) + source.width <= dest.pitch && int64_t(y) + source.height <= dest.rows;
}

template <class Store, class Fast>
int ColorConverter::ConvertYuvToRgb(const uint8_t* const planes[3], uint8_t* pixels, int x, int y,
                                    const DisplayFormat& dest, const DisplayFormat& source,
                                    int bytesPerPixel, Store store, Fast fast) const {
  if (!IsYuv(source) || !Fits(dest, source, x, y)) return 0;
  const int w = source.width, h = source.height;
  const SourceRows rows(planes, SourceStride(source));
  for (int r = 0; r < h; ++r) {
    const uint8_t *Y = rows.Y(r), *U = rows.U(r), *V = rows.V(r);
    uint8_t* d = pixels + (size_t(y + r) * dest.pitch + x) * bytesPerPixel;
    const int done = plain_ ? 0 : fast(Y, U, V, d, w);
    d += size_t(done) * bytesPerPixel;
    for (int c = done; c < w; c += 2) {
      // One chroma look-up serves the pixel pair.
      const int vr = VRtab_[V[c / 2]], uv = VGtab_[V[c / 2]] + UGtab_[U[c / 2]];
      const int ub = UBtab_[U[c / 2]];
      const int n = std::min(2, w - c);  // an odd width ends with one pixel
      for (int k = 0; k < n; ++k, d += bytesPerPixel) {
        const int Yp = Ytab_[Y[c + k]];
        store(d, Clip(Yp + vr), Clip(Yp - uv), Clip(Yp + ub));
      }
    }
  }
  return 1;
}

// ---------------------------------------------------------------- 24 / 32

namespace {
#ifdef __SSE2__
constexpr auto kRow32 = Row32;
constexpr auto kRow24 = Row24;
#else
constexpr auto kRow32 = [](const uint8_t*, const uint8_t*, const uint8_t*, uint8_t*, int) { return 0; };
constexpr auto kRow24 = kRow32;
#endif
}  // namespace

int ColorConverter24::Convert(const uint8_t* const planes[3], uint8_t* pixels, int x, int y,
                              const DisplayFormat& dest, const DisplayFormat& source, uint32_t) {
  if (format_.bitsPerPixel == 32) {
    return ConvertYuvToRgb(
        planes, pixels, x, y, dest, source, 4,
        [](uint8_t* d, uint8_t r, uint8_t g, uint8_t b) { d[0] = b, d[1] = g, d[2] = r, d[3] = 0; }, kRow32);
  }
  auto store = [](uint8_t* d, uint8_t r, uint8_t g, uint8_t b) { d[0] = b, d[1] = g, d[2] = r; };
#ifdef VDEC_COLOUR_SSSE3
  if (!baseline_ && HasSsse3()) return ConvertYuvToRgb(planes, pixels, x, y, dest, source, 3, store, Row24Ssse3);
#endif
  return ConvertYuvToRgb(planes, pixels, x, y, dest, source, 3, store, kRow24);
}

// ---------------------------------------------------------------- 12 / 16

ColorConverter16::ColorConverter16(const DisplayFormat& dest) : ColorConverter(dest) {
  BuildMaskTable(red_, dest.redMask);
  BuildMaskTable(green_, dest.greenMask);
  BuildMaskTable(blue_, dest.blueMask);
  const uint32_t masks[3] = {dest.redMask, dest.greenMask, dest.blueMask};
  for (int k = 0; k < 3; ++k) {
    const int s = TrailingZeros(masks[k]);
    packing_[k] = {8 - std::min(RunLength(masks[k], s), 8), s, uint16_t(masks[k])};
  }
}

int ColorConverter16::Convert(const uint8_t* const planes[3], uint8_t* pixels, int x, int y,
                              const DisplayFormat& dest, const DisplayFormat& source, uint32_t) {
  auto fast = [this](const uint8_t* Y, const uint8_t* U, const uint8_t* V, uint8_t* d, int w) {
    int c = 0;
#ifdef __SSE2__
    __m128i right[3], left[3], mask[3];
    for (int k = 0; k < 3; ++k) {
      right[k] = _mm_cvtsi32_si128(packing_[k].right), left[k] = _mm_cvtsi32_si128(packing_[k].left);
      mask[k] = _mm_set1_epi16(int16_t(packing_[k].mask));
    }
    const __m128i zero = _mm_setzero_si128();
    for (; c + 16 <= w; c += 16, d += 32) {
      const Rgb16 px = ConvertSixteen(Y + c, U + c / 2, V + c / 2);
      const __m128i channel[3] = {px.r, px.g, px.b};
      for (int half = 0; half < 2; ++half) {
        __m128i p = zero;
        for (int k = 0; k < 3; ++k) {
          const __m128i v = half ? _mm_unpackhi_epi8(channel[k], zero) : _mm_unpacklo_epi8(channel[k], zero);
          p = _mm_or_si128(p, _mm_and_si128(_mm_sll_epi16(_mm_srl_epi16(v, right[k]), left[k]), mask[k]));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16 * half), p);
      }
    }
#else
    (void)Y, (void)U, (void)V, (void)d, (void)w;
#endif
    return c;
  };
  return ConvertYuvToRgb(
      planes, pixels, x, y, dest, source, 2,
      [this](uint8_t* d, uint8_t r, uint8_t g, uint8_t b) {
        const uint16_t p = Pixel(r, g, b);
        d[0] = uint8_t(p), d[1] = uint8_t(p >> 8);  // the surface's little-endian pixels
      },
      fast);
}

// ---------------------------------------------------------------- 8

namespace {
constexpr uint8_t kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
}

ColorConverter8::ColorConverter8(const DisplayFormat& dest) : ColorConverter(dest) {
  for (int i = -8; i < 264; ++i) LY_[i + 8] = uint8_t(std::clamp(i >> 4, 1, 14) * 16);
  for (int k = 0; k < 144; ++k) {
    const int level = std::clamp((k - 40) >> 4, 0, 3);
    LU_[k] = uint8_t(level * 4);
    LV_[k] = uint8_t(level);
  }
  for (int i = 0; i < 256; ++i) M_[i] = uint8_t(i);
}

int ColorConverter8::Convert(const uint8_t* const planes[3], uint8_t* pixels, int x, int y,
                             const DisplayFormat& dest, const DisplayFormat& source, uint32_t) {
  if (!IsYuv(source) || !Fits(dest, source, x, y)) return 0;
  const int w = source.width, h = source.height;
  const SourceRows rows(planes, SourceStride(source));
  // The dither follows the pixel's position, so pictures whose size is not a
  // multiple of 4 stop at their last row and column instead of running over.
  for (int r = 0; r < h; ++r) {
    const uint8_t *Y = rows.Y(r), *U = rows.U(r), *V = rows.V(r);
    const uint8_t* bayer = kBayer[r & 3];
    uint8_t* d = pixels + size_t(y + r) * dest.pitch + x;
    for (int c = 0; c < w; ++c) {
      const int b = bayer[c & 3];
      const int u = U[c / 2] >> 1, v = V[c / 2] >> 1;
      d[c] = M_[LY_[Y[c] + b] | LU_[u + b] | LV_[v + b]];  // LY_ is offset by 8
    }
  }
  return 1;
}

// ---------------------------------------------------------------- 4

void ColorConverter4::Diffuse(int width, int height) {
  // Serpentine error diffusion over row pairs; positions are taken in the
  // contiguous buffer, so column -1 or `width` is the neighbouring row's end.
  // The buffer has one spare row so that the last pair's reach stays inside.
  uint8_t* G = grey_.data();
  auto add = [&](size_t i, int delta) { G[i] = Clip(G[i] + delta); };
  const size_t W = size_t(width);
  for (int k = 0; k < height - 2; k += 2) {
    const size_t r0 = size_t(k) * W, r1 = r0 + W, r2 = r1 + W;
    for (int x = 1; x <= width - 2; ++x) {
      const int e = G[r0 + x - 1] & 15;
      add(r0 + x, (7 * e) >> 4);
      add(r1 + x - 2, (3 * e) >> 4);
      add(r1 + x - 1, (5 * e) >> 4);
      add(r1 + x, e - ((5 * e) >> 4) - ((3 * e) >> 4) - ((7 * e) >> 4));
    }
    for (int x = width - 2; x >= 1; --x) {
      const int e = G[r1 + x + 1] & 15;
      add(r1 + x, (7 * e) >> 4);
      add(r2 + x + 2, (3 * e) >> 4);
      add(r2 + x + 1, (5 * e) >> 4);
      add(r2 + x, e - ((5 * e) >> 4) - ((3 * e) >> 4) - ((7 * e) >> 4));
    }
  }
}

int ColorConverter4::Convert(const uint8_t* const planes[3], uint8_t* pixels, int x, int y,
                             const DisplayFormat& dest, const DisplayFormat& source,
                             uint32_t mode) {
  // Grey only: the Y plane is all that is read, whatever the source kind.
  if (!Fits(dest, source, x, y)) return 0;
  const int w = source.width, h = source.height;
  const int yStride = SourceStride(source);
  grey_.assign(size_t(w) * (h + 1), 0);
  for (int r = 0; r < h; ++r) std::memcpy(&grey_[size_t(r) * w], planes[0] + size_t(r) * yStride, w);
  Diffuse(w, h);
  const uint8_t* G = grey_.data();
  if (mode & kConvertModePacked4) {
    // Two pixels per byte, the left one in the high nibble. Each surface row
    // starts on its own byte (an odd pitch ends in a spare nibble), and a
    // nibble that shares its byte with a pixel outside the picture keeps the
    // other pixel.
    const size_t rowBytes = (size_t(dest.pitch) + 1) / 2;
    for (int r = 0; r < h; ++r) {
      const uint8_t* g = G + size_t(r) * w;
      uint8_t* d = pixels + size_t(y + r) * rowBytes + size_t(x) / 2;
      int c = 0;
      if (x & 1) *d = uint8_t((*d & 0xF0) | (g[c++] >> 4)), ++d;
      for (; c + 1 < w; c += 2) *d++ = uint8_t((g[c] & 0xF0) | (g[c + 1] >> 4));
      if (c < w) *d = uint8_t((g[c] & 0xF0) | (*d & 0x0F));
    }
  } else {
    for (int r = 0; r < h; ++r) {
      const uint8_t* g = G + size_t(r) * w;
      uint8_t* d = pixels + size_t(y + r) * dest.pitch + x;
      for (int c = 0; c < w; ++c) d[c] = uint8_t((255 - g[c]) >> 4);
    }
  }
  return 1;
}

// ---------------------------------------------------------------- holder

int ColorConverterHolder::Select(const DisplayFormat& dest) {
  converter_.reset();
  switch (dest.bitsPerPixel) {
    case 4: converter_ = std::make_unique<ColorConverter4>(dest); break;
    case 8: converter_ = std::make_unique<ColorConverter8>(dest); break;
    case 12: converter_ = std::make_unique<ColorConverter12>(dest); break;
    case 16: converter_ = std::make_unique<ColorConverter16>(dest); break;
    case 24: converter_ = std::make_unique<ColorConverter24>(dest); break;
    case 32: converter_ = std::make_unique<ColorConverter32>(dest); break;
    default: return 0;
  }
  return 1;
}

int ColorConverterHolder::Convert(const uint8_t* const planes[3], uint8_t* pixels, int x, int y,
                                  const DisplayFormat& dest, const DisplayFormat& source,
                                  uint32_t mode) {
  if (!converter_) return 0;
  return converter_->Convert(planes, pixels, x, y, dest, source, mode);
}
