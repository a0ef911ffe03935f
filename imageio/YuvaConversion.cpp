#include "YuvaConversion.h"

#include <cmath>
#include <cstdint>

namespace Kvl {

// BGRA to 10-bit YUV 4:4:4 with alpha (ProRes 4444), limited range, in
// integers: swscale has no fast path for it, and it would take most of the
// time. Alpha's 8 bits are repeated into 10, so that a decoder that drops the
// low bits and one that rounds both read back the same 8 bits.
void convertToYuva444p10(const Pixel32* pixels, AVFrame* frame, int matrix) {
  const double kr = matrix == SWS_CS_ITU709 ? 0.2126 : 0.299;
  const double kb = matrix == SWS_CS_ITU709 ? 0.0722 : 0.114;
  const double kg = 1 - kr - kb;
  const double ys = 876.0 / 255, cs = 896.0 / 255;  // the 10-bit limited ranges
  constexpr int Shift = 16;
  const auto fixed = [](double value) { return static_cast<std::int32_t>(std::lround(value * (1 << Shift))); };
  const std::int32_t yr = fixed(kr * ys), yg = fixed(kg * ys), yb = fixed(kb * ys);
  const std::int32_t ur = fixed(-kr / (2 * (1 - kb)) * cs), ug = fixed(-kg / (2 * (1 - kb)) * cs), ub = fixed(0.5 * cs);
  const std::int32_t vr = fixed(0.5 * cs), vg = fixed(-kg / (2 * (1 - kr)) * cs), vb = fixed(-kb / (2 * (1 - kr)) * cs);
  const std::int32_t half = 1 << (Shift - 1);
  for (int y = 0; y < frame->height; ++y) {
    auto* lumaRow = reinterpret_cast<std::uint16_t*>(frame->data[0] + std::ptrdiff_t{y} * frame->linesize[0]);
    auto* cbRow = reinterpret_cast<std::uint16_t*>(frame->data[1] + std::ptrdiff_t{y} * frame->linesize[1]);
    auto* crRow = reinterpret_cast<std::uint16_t*>(frame->data[2] + std::ptrdiff_t{y} * frame->linesize[2]);
    auto* alphaRow = reinterpret_cast<std::uint16_t*>(frame->data[3] + std::ptrdiff_t{y} * frame->linesize[3]);
    const Pixel32* row = pixels + std::ptrdiff_t{y} * frame->width;
    for (int x = 0; x < frame->width; ++x) {
      const std::int32_t r = redOf(row[x]), g = greenOf(row[x]), b = blueOf(row[x]);
      lumaRow[x] = static_cast<std::uint16_t>(64 + ((yr * r + yg * g + yb * b + half) >> Shift));
      cbRow[x] = static_cast<std::uint16_t>(512 + ((ur * r + ug * g + ub * b + half) >> Shift));
      crRow[x] = static_cast<std::uint16_t>(512 + ((vr * r + vg * g + vb * b + half) >> Shift));
      const unsigned alpha = alphaOf(row[x]);
      alphaRow[x] = static_cast<std::uint16_t>(alpha << 2 | alpha >> 6);  // 0 -> 0, 255 -> 1023
    }
  }
}

}  // namespace Kvl
