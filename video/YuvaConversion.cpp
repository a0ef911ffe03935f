#include "YuvaConversion.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "imageio/DeepSamples.h"
#include "keying/WideVersions.h"

namespace Kvl {
namespace {

struct YuvCoefficients {
  std::int32_t yr, yg, yb, ur, ug, ub, vr, vg, vb;
};

constexpr int Shift = 16;

// One row, written plainly over arrays so that the compiler converts
// several pixels at a time, eight where the processor has AVX2's 32-bit
// multiplies: integers, so the same values.
KVL_WIDE_VERSIONS void convertRow(const Pixel32* row, std::uint16_t* luma, std::uint16_t* cb, std::uint16_t* cr, std::uint16_t* alpha,
                std::size_t width, YuvCoefficients k) {
  constexpr std::int32_t half = 1 << (Shift - 1);
  for (std::size_t x = 0; x < width; ++x) {
    const auto r = static_cast<std::int32_t>((row[x] >> 16) & 0xFF);
    const auto g = static_cast<std::int32_t>((row[x] >> 8) & 0xFF);
    const auto b = static_cast<std::int32_t>(row[x] & 0xFF);
    const auto a = static_cast<std::uint32_t>(row[x] >> 24);
    luma[x] = static_cast<std::uint16_t>(64 + ((k.yr * r + k.yg * g + k.yb * b + half) >> Shift));
    cb[x] = static_cast<std::uint16_t>(512 + ((k.ur * r + k.ug * g + k.ub * b + half) >> Shift));
    cr[x] = static_cast<std::uint16_t>(512 + ((k.vr * r + k.vg * g + k.vb * b + half) >> Shift));
    alpha[x] = static_cast<std::uint16_t>(a << 2 | a >> 6);  // 0 -> 0, 255 -> 1023
  }
}

// The matrix's luma weights of red and blue.
void lumaWeights(int matrix, double& kr, double& kb) {
  kr = matrix == SWS_CS_ITU709 ? 0.2126 : matrix == SWS_CS_BT2020 ? 0.2627 : 0.299;
  kb = matrix == SWS_CS_ITU709 ? 0.0722 : matrix == SWS_CS_BT2020 ? 0.0593 : 0.114;
}

// Rows of a 16-bit plane of the frame.
std::uint16_t* planeRow(AVFrame* frame, int index, int y) {
  return reinterpret_cast<std::uint16_t*>(frame->data[index] + std::ptrdiff_t{y} * frame->linesize[index]);
}

// Rounded by adding a half and truncating, which the compiler does several
// pixels at a time (lround it would not); the values are never negative.
std::uint16_t tenBits(float value, float scale, float offset) {
  return static_cast<std::uint16_t>(offset + scale * value + 0.5f);
}

struct DeepCoefficients {
  float yr, yg, yb, ub, vr;  // with cb = (b - y') / (2 (1 - kb)), cr = (r - y') / (2 (1 - kr))
};

// 0..1; not-a-number gives 0.
float unit(float value) { return value > 0 ? std::min(value, 1.0f) : 0.0f; }

KVL_WIDE_VERSIONS void convertDeepRow(const PixelF* row, std::uint16_t* luma, std::uint16_t* cb, std::uint16_t* cr,
                    std::uint16_t* alpha, std::size_t width, DeepCoefficients k) {
  for (std::size_t x = 0; x < width; ++x) {
    const float r = unit(row[x].red), g = unit(row[x].green), b = unit(row[x].blue), a = unit(row[x].alpha);
    const float y = k.yr * r + k.yg * g + k.yb * b;
    luma[x] = tenBits(y, 876, 64);  // the 10-bit limited ranges
    cb[x] = tenBits((b - y) * k.ub, 896, 512);
    cr[x] = tenBits((r - y) * k.vr, 896, 512);
    alpha[x] = tenBits(a, 1023, 0);
  }
}

}  // namespace

void convertDeepToYuva444p10(const PixelF* pixels, AVFrame* frame, int matrix) {
  double kr = 0, kb = 0;
  lumaWeights(matrix, kr, kb);
  const DeepCoefficients k{static_cast<float>(kr), static_cast<float>(1 - kr - kb), static_cast<float>(kb),
                           static_cast<float>(0.5 / (1 - kb)), static_cast<float>(0.5 / (1 - kr))};
  const auto width = static_cast<std::size_t>(frame->width);
  for (int y = 0; y < frame->height; ++y) {
    convertDeepRow(pixels + static_cast<std::size_t>(y) * width, planeRow(frame, 0, y), planeRow(frame, 1, y),
                   planeRow(frame, 2, y), planeRow(frame, 3, y), width, k);
  }
}

void convertDeepToRgba64(const PixelF* pixels, AVFrame* frame) {
  const auto width = static_cast<std::size_t>(frame->width);
  for (int y = 0; y < frame->height; ++y) {
    const PixelF* row = pixels + static_cast<std::size_t>(y) * width;
    std::uint16_t* out = planeRow(frame, 0, y);
    for (std::size_t x = 0; x < width; ++x, out += 4) {
      out[0] = toUint16(row[x].red);
      out[1] = toUint16(row[x].green);
      out[2] = toUint16(row[x].blue);
      out[3] = toUint16(row[x].alpha);
    }
  }
}

// BGRA to 10-bit YUV 4:4:4 with alpha (ProRes 4444), limited range, in
// integers: swscale has no fast path for it, and it would take most of the
// time. Alpha's 8 bits are repeated into 10, so that a decoder that drops the
// low bits and one that rounds both read back the same 8 bits.
void convertToYuva444p10(const Pixel32* pixels, AVFrame* frame, int matrix) {
  const double kr = matrix == SWS_CS_ITU709 ? 0.2126 : matrix == SWS_CS_BT2020 ? 0.2627 : 0.299;
  const double kb = matrix == SWS_CS_ITU709 ? 0.0722 : matrix == SWS_CS_BT2020 ? 0.0593 : 0.114;
  const double kg = 1 - kr - kb;
  const double ys = 876.0 / 255, cs = 896.0 / 255;  // the 10-bit limited ranges
  const auto fixed = [](double value) { return static_cast<std::int32_t>(std::lround(value * (1 << Shift))); };
  const YuvCoefficients k{fixed(kr * ys),
                          fixed(kg * ys),
                          fixed(kb * ys),
                          fixed(-kr / (2 * (1 - kb)) * cs),
                          fixed(-kg / (2 * (1 - kb)) * cs),
                          fixed(0.5 * cs),
                          fixed(0.5 * cs),
                          fixed(-kg / (2 * (1 - kr)) * cs),
                          fixed(-kb / (2 * (1 - kr)) * cs)};
  const auto plane = [frame](int index, int y) {
    return reinterpret_cast<std::uint16_t*>(frame->data[index] + std::ptrdiff_t{y} * frame->linesize[index]);
  };
  const auto width = static_cast<std::size_t>(frame->width);
  for (int y = 0; y < frame->height; ++y) {
    convertRow(pixels + static_cast<std::size_t>(y) * width, plane(0, y), plane(1, y), plane(2, y), plane(3, y), width,
               k);
  }
}

}  // namespace Kvl
