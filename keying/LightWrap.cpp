#include "LightWrap.h"

#include <algorithm>
#include <cmath>

namespace Kvl {
namespace {

// One pass of a running mean along `count` values `stride` apart.
void blurLine(float* first, std::size_t count, std::size_t stride, std::size_t radius, std::vector<float>& line) {
  line.assign(count, 0);
  double sum = 0;
  std::size_t from = 0, to = 0;  // the window [from, to)
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t wantTo = std::min(count, i + radius + 1), wantFrom = i > radius ? i - radius : 0;
    for (; to < wantTo; ++to) sum += first[to * stride];
    for (; from < wantFrom; ++from) sum -= first[from * stride];
    line[i] = static_cast<float>(sum / static_cast<double>(to - from));
  }
  for (std::size_t i = 0; i < count; ++i) first[i * stride] = line[i];
}

}  // namespace

void boxBlur(std::vector<float>& values, std::uint32_t width, std::uint32_t height, std::size_t channels,
             int radius) {
  if (radius <= 0 || width == 0 || height == 0) return;
  const auto reach = static_cast<std::size_t>(radius);
  std::vector<float> line;
  for (std::size_t y = 0; y < height; ++y) {
    for (std::size_t c = 0; c < channels; ++c) blurLine(values.data() + y * width * channels + c, width, channels, reach, line);
  }
  for (std::size_t x = 0; x < width; ++x) {
    for (std::size_t c = 0; c < channels; ++c) {
      blurLine(values.data() + x * channels + c, height, std::size_t{width} * channels, reach, line);
    }
  }
}

void wrapLightBlurred(std::vector<PixelF>& keyed, std::uint32_t width, std::uint32_t height, int radius,
                      const std::vector<float>& blurredBackground) {
  std::vector<float> matte(keyed.size());
  for (std::size_t i = 0; i < keyed.size(); ++i) matte[i] = std::clamp(keyed[i].alpha, 0.0f, 1.0f);
  boxBlur(matte, width, height, 1, radius);
  for (std::size_t i = 0; i < keyed.size(); ++i) {
    // Half of the light at most: at the rim the blurred matte is about 1/2.
    const float wrap = std::clamp(1.0f - matte[i], 0.0f, 1.0f) * 0.5f;
    const float* b = blurredBackground.data() + i * 3;
    PixelF& p = keyed[i];
    p.red += (b[0] - p.red) * wrap;
    p.green += (b[1] - p.green) * wrap;
    p.blue += (b[2] - p.blue) * wrap;
  }
}

void wrapLight(std::vector<Pixel32>& keyed, std::uint32_t width, std::uint32_t height, int radius,
               const std::vector<Pixel32>& background) {
  const auto unit = [](std::uint8_t level) { return static_cast<float>(level); };
  std::vector<PixelF> deep(keyed.size());
  for (std::size_t i = 0; i < keyed.size(); ++i) {
    const Pixel32 p = keyed[i];
    deep[i] = {unit(redOf(p)), unit(greenOf(p)), unit(blueOf(p)), static_cast<float>(alphaOf(p)) / 255.0f};
  }
  wrapLight(deep, width, height, radius, [&](std::uint32_t x, std::uint32_t y) {
    const Pixel32 b = background[std::size_t{y} * width + x];
    return PixelF{unit(redOf(b)), unit(greenOf(b)), unit(blueOf(b)), 1};
  });
  const auto level = [](float v) { return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0f, 255.0f))); };
  for (std::size_t i = 0; i < keyed.size(); ++i) {
    keyed[i] = makePixel(level(deep[i].red), level(deep[i].green), level(deep[i].blue), alphaOf(keyed[i]));
  }
}

}  // namespace Kvl
