// keyvale_make_plates: writes the synthetic keying plates (Plates.h) and
// their truth into a folder, for plate-bench.sh.
//
//   keyvale_make_plates DIR [--size WIDTHxHEIGHT] [--only NAME]
//
// For each plate NAME: NAME.png, or NAME.jpg for the JPEG ones (4:2:0);
// NAME-truth.png, whose colour is the true straight foreground and whose
// alpha is the true matte; NAME-clean.png (or .jpg), the empty set with
// noise of its own, for keying against a clean plate; NAME.txt, lines "plate FILE", "screen green|blue"
// and "key 0xRRGGBB" (the backdrop's mean colour). Also sky.png, a
// background to key the plates over. Default size 1280x720. Prints each
// plate's name as it is written.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "PlateFiles.h"
#include "Plates.h"
#include "imageio/PictureFiles.h"

namespace {

using namespace Kvl;
using namespace Kvl::Bench;

struct Options {
  std::string folder;
  std::uint32_t width = 1280;
  std::uint32_t height = 720;
  std::string only;
};

bool parseSize(const char* text, Options& options) {
  unsigned width = 0, height = 0;
  char extra = 0;
  if (std::sscanf(text, "%ux%u%c", &width, &height, &extra) != 2) return false;
  if (width < 16 || height < 16 || width > 16384 || height > 16384) return false;
  options.width = width;
  options.height = height;
  return true;
}

bool parseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--size" && i + 1 < argc) {
      if (!parseSize(argv[++i], options)) return false;
    } else if (argument == "--only" && i + 1 < argc) {
      options.only = argv[++i];
    } else if (options.folder.empty() && !argument.starts_with("-")) {
      options.folder = argument;
    } else {
      return false;
    }
  }
  return !options.folder.empty();
}

std::string hexColour(Pixel32 colour) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02x%02x%02x", redOf(colour), greenOf(colour), blueOf(colour));
  return text;
}

bool writeDescription(const std::string& path, const std::string& plateFile, const PlateRecipe& recipe,
                      const Plate& plate) {
  std::ofstream out(path);
  out << "plate " << plateFile << "\nscreen " << (recipe.screen == ScreenChannel::Green ? "green" : "blue")
      << "\nkey " << hexColour(plate.backdropMean) << "\n";
  out.close();
  return !out.fail();
}

bool writePlate(const Options& options, const PlateRecipe& recipe) {
  const Plate plate = makePlate(recipe, options.width, options.height);
  const std::string base = options.folder + "/" + recipe.name;
  const std::string plateFile = recipe.name + (recipe.jpegQuality > 0 ? ".jpg" : ".png");
  std::unique_ptr<PictureSink> plateSink =
      recipe.jpegQuality > 0 ? makeFootageJpegSink(recipe.jpegQuality) : makePngSink(DefaultPngLevel);
  std::unique_ptr<PictureSink> truthSink = makePngSink(DefaultPngLevel);
  std::unique_ptr<PictureSink> cleanSink =
      recipe.jpegQuality > 0 ? makeFootageJpegSink(recipe.jpegQuality) : makePngSink(DefaultPngLevel);
  if (!plateSink || !truthSink || !cleanSink) {
    std::fprintf(stderr, "keyvale_make_plates: this build writes no PNG or JPEG files\n");
    return false;
  }
  std::string error;
  if (!writeWholePicture(*plateSink, options.folder + "/" + plateFile, plate.width, plate.height, plate.composite,
                         error) ||
      !writeWholePicture(*truthSink, base + "-truth.png", plate.width, plate.height, plate.truth, error) ||
      !writeWholePicture(*cleanSink, base + "-clean" + (recipe.jpegQuality > 0 ? ".jpg" : ".png"), plate.width,
                         plate.height, plate.cleanPlate, error)) {
    std::fprintf(stderr, "keyvale_make_plates: %s\n", error.c_str());
    return false;
  }
  if (!writeDescription(base + ".txt", plateFile, recipe, plate)) {
    std::fprintf(stderr, "keyvale_make_plates: cannot write %s.txt\n", base.c_str());
    return false;
  }
  return true;
}

bool writeSky(const Options& options) {
  std::unique_ptr<PictureSink> sink = makePngSink(DefaultPngLevel);
  std::string error;
  if (sink && writeWholePicture(*sink, options.folder + "/sky.png", options.width, options.height,
                                skyGradient(options.width, options.height), error)) {
    return true;
  }
  std::fprintf(stderr, "keyvale_make_plates: %s\n", sink ? error.c_str() : "this build writes no PNG files");
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parseOptions(argc, argv, options)) {
    std::fprintf(stderr, "usage: keyvale_make_plates DIR [--size WIDTHxHEIGHT] [--only NAME]\n"
                         "  (sizes 16 to 16384 each way)\n");
    return 2;
  }
  bool found = options.only.empty();
  for (const PlateRecipe& recipe : benchmarkPlates()) {
    if (!options.only.empty() && recipe.name != options.only) continue;
    found = true;
    if (!writePlate(options, recipe)) return 1;
    std::printf("%s\n", recipe.name.c_str());
  }
  if (!found) {
    std::fprintf(stderr, "keyvale_make_plates: no plate is called %s\n", options.only.c_str());
    return 2;
  }
  return writeSky(options) ? 0 : 1;
}
