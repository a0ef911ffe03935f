#include "MatteScore.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <vector>

namespace Kvl::Bench {
namespace {

// The gradient error's filters: first derivative of a Gaussian of sigma 1.4
// across, the Gaussian along, each scaled to unit energy as the benchmark's
// evaluation code does.
constexpr double GradientSigma = 1.4;

struct Filters {
  std::vector<double> gaussian, derivative;
  int radius = 0;
};

Filters gradientFilters() {
  Filters f;
  // The benchmark's filter size: out to where the Gaussian falls below 1%
  // (4 pixels each way for sigma 1.4).
  constexpr double Epsilon = 1e-2;
  const double reach = -2 * std::log(std::sqrt(2 * std::numbers::pi) * GradientSigma * Epsilon);
  f.radius = static_cast<int>(std::ceil(GradientSigma * std::sqrt(reach)));
  double g2 = 0, d2 = 0;
  for (int i = -f.radius; i <= f.radius; ++i) {
    const double g =
        std::exp(-i * i / (2 * GradientSigma * GradientSigma)) / (GradientSigma * std::sqrt(2 * std::numbers::pi));
    f.gaussian.push_back(g);
    f.derivative.push_back(-i / (GradientSigma * GradientSigma) * g);
    g2 += g * g, d2 += f.derivative.back() * f.derivative.back();
  }
  for (double& g : f.gaussian) g /= std::sqrt(g2);
  for (double& d : f.derivative) d /= std::sqrt(d2);
  return f;
}

// One separable pass: `kernel` along x (alongX) or y, edges repeated.
std::vector<double> convolve(const std::vector<double>& in, std::uint32_t width, std::uint32_t height,
                             const std::vector<double>& kernel, int radius, bool alongX) {
  std::vector<double> out(in.size());
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      double sum = 0;
      for (int k = -radius; k <= radius; ++k) {
        const std::int64_t sx = std::clamp<std::int64_t>(std::int64_t{x} + (alongX ? k : 0), 0, width - 1);
        const std::int64_t sy = std::clamp<std::int64_t>(std::int64_t{y} + (alongX ? 0 : k), 0, height - 1);
        sum += kernel[static_cast<std::size_t>(k + radius)] * in[static_cast<std::size_t>(sy * width + sx)];
      }
      out[std::size_t{y} * width + x] = sum;
    }
  }
  return out;
}

std::vector<double> gradientMagnitude(std::span<const std::uint8_t> alpha, std::uint32_t width, std::uint32_t height) {
  static const Filters f = gradientFilters();
  std::vector<double> a(alpha.size());
  for (std::size_t i = 0; i < a.size(); ++i) a[i] = alpha[i] / 255.0;
  const auto gx =
      convolve(convolve(a, width, height, f.derivative, f.radius, true), width, height, f.gaussian, f.radius, false);
  const auto gy =
      convolve(convolve(a, width, height, f.gaussian, f.radius, true), width, height, f.derivative, f.radius, false);
  std::vector<double> magnitude(a.size());
  for (std::size_t i = 0; i < a.size(); ++i) magnitude[i] = std::hypot(gx[i], gy[i]);
  return magnitude;
}

double gradientError(std::span<const std::uint8_t> truth, std::span<const std::uint8_t> keyed, std::uint32_t width,
                     std::uint32_t height) {
  const auto t = gradientMagnitude(truth, width, height), k = gradientMagnitude(keyed, width, height);
  double sum = 0;
  for (std::size_t i = 0; i < t.size(); ++i) sum += (k[i] - t[i]) * (k[i] - t[i]);
  return sum;
}

// The largest 4-connected region of `mask`, marked in `largest`.
void largestRegion(const std::vector<bool>& mask, std::uint32_t width, std::uint32_t height,
                   std::vector<bool>& largest) {
  std::vector<std::int32_t> label(mask.size(), -1);
  std::vector<std::size_t> stack, sizes;
  for (std::size_t start = 0; start < mask.size(); ++start) {
    if (!mask[start] || label[start] >= 0) continue;
    const auto id = static_cast<std::int32_t>(sizes.size());
    std::size_t size = 0;
    stack.assign(1, start);
    label[start] = id;
    while (!stack.empty()) {
      const std::size_t i = stack.back();
      stack.pop_back();
      ++size;
      const std::size_t x = i % width, y = i / width;
      const std::size_t around[4] = {x > 0 ? i - 1 : i, x + 1 < width ? i + 1 : i, y > 0 ? i - width : i,
                                     y + 1 < height ? i + width : i};
      for (std::size_t n : around) {
        if (mask[n] && label[n] < 0) label[n] = id, stack.push_back(n);
      }
    }
    sizes.push_back(size);
  }
  const auto best =
      sizes.empty() ? -1 : static_cast<std::int32_t>(std::max_element(sizes.begin(), sizes.end()) - sizes.begin());
  largest.assign(mask.size(), false);
  for (std::size_t i = 0; i < mask.size(); ++i) largest[i] = best >= 0 && label[i] == best;
}

// Rhemann's connectivity error: at thresholds 0.1 to 1, each pixel's level
// is the last threshold at which it still belonged to the largest region
// both mattes share; the error sums how far each matte's alpha stands above
// that level (by 0.15 or more) differently.
double connectivityError(std::span<const std::uint8_t> truth, std::span<const std::uint8_t> keyed, std::uint32_t width,
                         std::uint32_t height) {
  std::vector<double> level(truth.size(), -1);
  std::vector<bool> mask(truth.size()), largest;
  for (int step = 1; step <= 10; ++step) {
    for (std::size_t i = 0; i < truth.size(); ++i) mask[i] = truth[i] * 10 >= step * 255 && keyed[i] * 10 >= step * 255;
    largestRegion(mask, width, height, largest);
    for (std::size_t i = 0; i < truth.size(); ++i) {
      if (level[i] < 0 && !largest[i]) level[i] = (step - 1) / 10.0;
    }
  }
  double sum = 0;
  for (std::size_t i = 0; i < truth.size(); ++i) {
    const double l = level[i] < 0 ? 1 : level[i];
    const double dt = truth[i] / 255.0 - l, dk = keyed[i] / 255.0 - l;
    sum += std::abs((1 - (dk >= 0.15 ? dk : 0)) - (1 - (dt >= 0.15 ? dt : 0)));
  }
  return sum;
}

std::vector<bool> edgeBand(std::span<const std::uint8_t> truth, std::uint32_t width, std::uint32_t height) {
  std::vector<bool> band(truth.size(), false);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::uint8_t a = truth[std::size_t{y} * width + x];
      if (a == 0 || a == 255) continue;
      for (std::int64_t by = std::max<std::int64_t>(0, y - EdgeBand);
           by <= std::min<std::int64_t>(height - 1, y + EdgeBand); ++by) {
        for (std::int64_t bx = std::max<std::int64_t>(0, x - EdgeBand);
             bx <= std::min<std::int64_t>(width - 1, x + EdgeBand); ++bx) {
          band[static_cast<std::size_t>(by * width + bx)] = true;
        }
      }
    }
  }
  return band;
}

}  // namespace

MatteScore scoreMatte(std::span<const std::uint8_t> truth, std::span<const std::uint8_t> keyed, std::uint32_t width,
                      std::uint32_t height, bool structural) {
  MatteScore score;
  const std::vector<bool> band = edgeBand(truth, width, height);
  std::uint64_t all = 0, inverse = 0, edge = 0, backdrop = 0, leaks = 0;
  for (std::size_t i = 0; i < truth.size(); ++i) {
    const int error = std::abs(truth[i] - keyed[i]);
    all += static_cast<std::uint64_t>(error);
    inverse += static_cast<std::uint64_t>(std::abs(255 - truth[i] - keyed[i]));
    if (band[i]) edge += static_cast<std::uint64_t>(error), ++score.edgePixels;
    if (truth[i] == 0) ++backdrop, leaks += keyed[i] > 32 ? 1u : 0u;
  }
  const double n = double(std::max<std::size_t>(truth.size(), 1));
  score.all = double(all) / n;
  score.edge = score.edgePixels ? double(edge) / double(score.edgePixels) : 0;
  score.leak = backdrop ? double(leaks) / double(backdrop) : 0;
  score.inverted = inverse < all;
  if (structural) {
    score.gradient = gradientError(truth, keyed, width, height) / 1000;
    score.connectivity = connectivityError(truth, keyed, width, height) / 1000;
  }
  return score;
}

std::string formatMatteScore(const MatteScore& score) {
  char line[160];
  std::snprintf(line, sizeof line, "%.2f %.2f %.2f %.2f %.2f %s", score.all, score.edge, score.leak * 100,
                score.gradient, score.connectivity, score.inverted ? "yes" : "no");
  return line;
}

}  // namespace Kvl::Bench
