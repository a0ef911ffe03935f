// keyvale_score_temporal: how steady keyed mattes of a moving shot are, by
// the temporal measures of the video-matting benchmark (Erofeev, Gitman,
// Vatolin, Fedorov and Wang, 2015), with the mean alpha error beside them.
//
//   keyvale_score_temporal MOTION.txt TRUTH-PATTERN KEYED-PATTERN FIRST LAST
//
// The patterns hold one printf number (truth.%04d.png); frames FIRST to
// LAST are scored; each keyed picture is an RGBA PNG of the truth's size,
// only its alpha scored. MOTION.txt (keyvale_make_moving_clip's) gives each
// frame's true sideways motion of the foreground in whole pixels. Alpha
// counts from 0 to 1. Prints one line of four figures:
//
//  - dtSSD x 100: per frame pair, sqrt(mean over pixels of
//    ((a_t - a_t-1) - (g_t - g_t-1))^2), averaged over the pairs: how much
//    the matte changes that the truth does not (flicker), or fails to
//    change where the truth does (lag);
//  - MESSDdt x 1000: per frame pair, the mean over pixels of
//    |E_t(p) - E_t-1(p - v)|, E the squared alpha error and v the true
//    motion that brought p where it is (the foreground's, for a pixel the
//    true foreground covers at t, else none); the paper follows the truth's
//    optical flow, here the motion is known exactly. Pixels whose origin
//    lies outside the frame are left out. Error that travels with the
//    subject costs nothing; error that comes and goes does;
//  - the mean absolute alpha error over all pixels and frames, in levels
//    (0-255), and the same over the true edges (0 < truth < 255).

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "PlateFiles.h"

namespace {

using namespace Kvl;
using namespace Kvl::Bench;

struct Frame {
  std::uint32_t width = 0, height = 0;
  std::vector<double> truth, keyed;  // alpha 0..1, top row first
};

std::string numbered(const std::string& pattern, long frame) {
  std::vector<char> text(pattern.size() + 32);
  std::snprintf(text.data(), text.size(), pattern.c_str(), frame);
  return text.data();
}

std::vector<double> alphas(const WholePicture& picture) {
  std::vector<double> alpha(picture.pixels.size());
  for (std::size_t i = 0; i < alpha.size(); ++i) alpha[i] = alphaOf(picture.pixels[i]) / 255.0;
  return alpha;
}

bool readFrame(const std::string& truthPattern, const std::string& keyedPattern, long number, Frame& frame) {
  WholePicture truth, keyed;
  std::string error;
  if (!readPngWithAlpha(numbered(truthPattern, number), truth, error) ||
      !readPngWithAlpha(numbered(keyedPattern, number), keyed, error)) {
    std::fprintf(stderr, "keyvale_score_temporal: %s\n", error.c_str());
    return false;
  }
  if (truth.width != keyed.width || truth.height != keyed.height) {
    std::fprintf(stderr, "keyvale_score_temporal: frame %ld: the keyed picture is not of the truth's size\n", number);
    return false;
  }
  frame = {truth.width, truth.height, alphas(truth), alphas(keyed)};
  return true;
}

double dtSsd(const Frame& before, const Frame& now) {
  double sum = 0;
  for (std::size_t i = 0; i < now.truth.size(); ++i) {
    const double difference = (now.keyed[i] - before.keyed[i]) - (now.truth[i] - before.truth[i]);
    sum += difference * difference;
  }
  return std::sqrt(sum / static_cast<double>(now.truth.size()));
}

double messdDt(const Frame& before, const Frame& now, int dx) {
  double sum = 0;
  std::size_t counted = 0;
  for (std::uint32_t y = 0; y < now.height; ++y) {
    for (std::uint32_t x = 0; x < now.width; ++x) {
      const std::size_t i = std::size_t{y} * now.width + x;
      const long fromX = now.truth[i] > 0 ? static_cast<long>(x) - dx : static_cast<long>(x);
      if (fromX < 0 || fromX >= static_cast<long>(now.width)) continue;
      const std::size_t j = std::size_t{y} * now.width + static_cast<std::size_t>(fromX);
      const double errorNow = (now.keyed[i] - now.truth[i]) * (now.keyed[i] - now.truth[i]);
      const double errorBefore = (before.keyed[j] - before.truth[j]) * (before.keyed[j] - before.truth[j]);
      sum += std::fabs(errorNow - errorBefore);
      ++counted;
    }
  }
  return counted > 0 ? sum / static_cast<double>(counted) : 0;
}

std::map<long, int> readMotion(const std::string& path) {
  std::map<long, int> motion;
  std::ifstream in(path);
  long frame = 0;
  int dx = 0;
  while (in >> frame >> dx) motion[frame] = dx;
  return motion;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: keyvale_score_temporal MOTION.txt TRUTH-PATTERN KEYED-PATTERN FIRST LAST\n");
    return 2;
  }
  const std::map<long, int> motion = readMotion(argv[1]);
  const long first = std::atol(argv[4]), last = std::atol(argv[5]);
  if (last <= first) {
    std::fprintf(stderr, "keyvale_score_temporal: LAST must come after FIRST\n");
    return 2;
  }
  double dt = 0, messd = 0, error = 0, edgeError = 0;
  std::size_t pixels = 0, edgePixels = 0;
  Frame before, now;
  for (long number = first; number <= last; ++number) {
    if (!readFrame(argv[2], argv[3], number, now)) return 1;
    for (std::size_t i = 0; i < now.truth.size(); ++i) {
      const double e = std::fabs(now.keyed[i] - now.truth[i]) * 255;
      error += e;
      if (now.truth[i] > 0 && now.truth[i] < 1) edgeError += e, ++edgePixels;
    }
    pixels += now.truth.size();
    if (number > first) {
      if (now.truth.size() != before.truth.size()) return 1;
      const auto found = motion.find(number);
      dt += dtSsd(before, now);
      messd += messdDt(before, now, found == motion.end() ? 0 : found->second);
    }
    before = std::move(now);
  }
  const double pairs = static_cast<double>(last - first);
  std::printf("%.4f %.4f %.4f %.3f\n", 100 * dt / pairs, 1000 * messd / pairs, error / static_cast<double>(pixels),
              edgePixels > 0 ? edgeError / static_cast<double>(edgePixels) : 0.0);
  return 0;
}
