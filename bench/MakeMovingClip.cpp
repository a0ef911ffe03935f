// keyvale_make_moving_clip: a moving shot with its true matte, for
// temporal-bench.sh: the plates' foreground (a figure with fine hair, a
// straw hat, a glass pane, a motion-blurred box) swaying sideways over the
// unevenly lit green backdrop, each frame with sensor noise of its own.
//
//   keyvale_make_moving_clip DIR [--size WIDTHxHEIGHT] [--frames N] [--noise SIGMA] [--sway PIXELS]
//
// Writes DIR/clip.0001.png ... (the frames as shot), DIR/truth.0001.png ...
// (the true straight colour, alpha the true matte) and DIR/motion.txt, a
// line "FRAME DX" per frame: how many whole pixels the foreground moved
// right since the frame before (0 for the first), the true motion the
// motion-compensated measure follows. The sway is 12 pixels either way
// (--sway) over 24 frames: up to three pixels a frame mid-swing, holds at
// its ends.
// Default 960x540, 24 frames, noise of sigma 3 levels.

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <numbers>
#include <string>

#include "PlateFiles.h"
#include "Plates.h"
#include "imageio/PictureFiles.h"

namespace {

using namespace Kvl;
using namespace Kvl::Bench;

struct Options {
  std::string folder;
  std::uint32_t width = 960;
  std::uint32_t height = 540;
  int frames = 24;
  double noise = PlateEffects{}.noiseSigma;
  double sway = 12;  // pixels either way
};

bool parseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    unsigned width = 0, height = 0;
    char extra = 0;
    if (argument == "--size" && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%ux%u%c", &width, &height, &extra) != 2) return false;
      if (width < 64 || height < 64 || width > 8192 || height > 8192) return false;
      options.width = width;
      options.height = height;
    } else if (argument == "--frames" && i + 1 < argc) {
      options.frames = std::atoi(argv[++i]);
      if (options.frames < 2 || options.frames > 10000) return false;
    } else if (argument == "--sway" && i + 1 < argc) {
      options.sway = std::atof(argv[++i]);
      if (!(options.sway >= 0 && options.sway <= 200)) return false;
    } else if (argument == "--noise" && i + 1 < argc) {
      options.noise = std::atof(argv[++i]);
      if (!(options.noise >= 0 && options.noise <= 64)) return false;
    } else if (options.folder.empty() && !argument.starts_with("-")) {
      options.folder = argument;
    } else {
      return false;
    }
  }
  return !options.folder.empty();
}

// The foreground's offset in frame `frame` (from 0), in whole pixels, so
// that the true motion is exact.
int swayAt(double sway, int frame) {
  return static_cast<int>(std::lround(sway * std::sin(2 * std::numbers::pi * frame / 24.0)));
}

// The foreground moved `dx` pixels right; what comes in from the side is empty.
std::vector<Pixel32> shifted(const std::vector<Pixel32>& truth, std::uint32_t width, std::uint32_t height, int dx) {
  std::vector<Pixel32> moved(truth.size(), 0);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const long from = static_cast<long>(x) - dx;
      if (from >= 0 && from < static_cast<long>(width)) {
        moved[std::size_t{y} * width + x] = truth[std::size_t{y} * width + static_cast<std::size_t>(from)];
      }
    }
  }
  return moved;
}

std::string numbered(const std::string& folder, const char* name, int frame) {
  char text[64];
  std::snprintf(text, sizeof text, "/%s.%04d.png", name, frame);
  return folder + text;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parseOptions(argc, argv, options)) {
    std::fprintf(stderr, "usage: keyvale_make_moving_clip DIR [--size WIDTHxHEIGHT] [--frames N] [--noise SIGMA] [--sway PIXELS]\n");
    return 2;
  }
  const std::vector<Pixel32> still = foregroundTruth(options.width, options.height);
  const PlateRecipe green = benchmarkPlates().front();
  std::ofstream motion(options.folder + "/motion.txt");
  for (int frame = 0; frame < options.frames; ++frame) {
    PlateRecipe recipe = green;
    recipe.noiseSeed = green.noiseSeed * 1000 + static_cast<std::uint64_t>(frame);
    Plate plate;
    plate.width = options.width;
    plate.height = options.height;
    plate.truth = shifted(still, options.width, options.height, swayAt(options.sway, frame));
    PlateEffects effects;
    effects.noiseSigma = options.noise;
    shootPlate(recipe, effects, plate);
    std::unique_ptr<PictureSink> plateSink = makePngSink(1), truthSink = makePngSink(1);
    std::string error;
    if (!plateSink || !truthSink ||
        !writeWholePicture(*plateSink, numbered(options.folder, "clip", frame + 1), plate.width, plate.height,
                           plate.composite, error) ||
        !writeWholePicture(*truthSink, numbered(options.folder, "truth", frame + 1), plate.width, plate.height,
                           plate.truth, error)) {
      std::fprintf(stderr, "keyvale_make_moving_clip: %s\n", plateSink ? error.c_str() : "no PNG in this build");
      return 1;
    }
    motion << frame + 1 << ' ' << (frame == 0 ? 0 : swayAt(options.sway, frame) - swayAt(options.sway, frame - 1)) << '\n';
  }
  motion.close();
  return motion.fail() ? 1 : 0;
}
