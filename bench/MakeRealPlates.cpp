// keyvale_make_real_plates: writes the real-subject keying plates
// (RealPlates.h) and their truth into a folder, for real-plate-bench.sh.
//
//   keyvale_make_real_plates DATA OUT [--only NAME]
//
// DATA holds input/GTnn.png and gt/GTnn.png (bench/fetch-matting-data.sh).
// For each plate NAME: NAME.png, or NAME.jpg for the JPEG ones (4:2:0,
// quality 75); NAME-truth.png (true straight colour, true alpha);
// NAME-clean.png or NAME-clean.jpg, the clean plate: another exposure of the
// same lit backdrop with nothing in front of it, noise of its own (drawn
// from a stream apart from the plate's, so the plate's bytes do not depend
// on it) and the plate's JPEG step; NAME.txt, lines "plate FILE", "clean
// FILE", "screen green|blue", "key 0xRRGGBB" (the backdrop's mean colour),
// "photo GTnn" and "share S" (the subject's share of the frame, 0-1). Prints
// each plate's name as it is written.

#include <cstdio>
#include <fstream>
#include <string>

#include "PlateFiles.h"
#include "RealPlates.h"
#include "imageio/PictureFiles.h"

namespace {

using namespace Kvl;
using namespace Kvl::Bench;

std::string hexColour(Pixel32 colour) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02x%02x%02x", redOf(colour), greenOf(colour), blueOf(colour));
  return text;
}

bool writeDescription(const std::string& path, const std::string& plateFile, const std::string& cleanFile,
                      const RealPlateRecipe& recipe, const Plate& plate) {
  std::ofstream out(path);
  out << "plate " << plateFile << "\nclean " << cleanFile << "\nscreen " << (recipe.plate.screen == ScreenChannel::Green ? "green" : "blue")
      << "\nkey " << hexColour(plate.backdropMean) << "\nphoto " << recipe.photo << "\nshare " << subjectShare(plate)
      << "\n";
  out.close();
  return !out.fail();
}

bool readPhoto(const std::string& data, const std::string& photo, WholePicture& foreground, std::string& error) {
  WholePicture picture, alpha;
  if (!readPngWithAlpha(data + "/input/" + photo + ".png", picture, error) ||
      !readPngWithAlpha(data + "/gt/" + photo + ".png", alpha, error)) {
    return false;
  }
  if (picture.width != alpha.width || picture.height != alpha.height) {
    error = photo + ": the photograph and its alpha differ in size";
    return false;
  }
  foreground = estimateForeground(picture, alpha);
  return true;
}

bool writePlate(const std::string& data, const std::string& folder, const RealPlateRecipe& recipe) {
  WholePicture foreground;
  std::string error;
  if (!readPhoto(data, recipe.photo, foreground, error)) {
    std::fprintf(stderr, "keyvale_make_real_plates: %s\n", error.c_str());
    return false;
  }
  const Plate plate = makeRealPlate(recipe, foreground);
  const std::string& name = recipe.plate.name;
  const bool jpeg = recipe.plate.jpegQuality > 0;
  const std::string plateFile = name + (jpeg ? ".jpg" : ".png");
  const std::string cleanFile = name + (jpeg ? "-clean.jpg" : "-clean.png");
  const auto footageSink = [&] {
    return jpeg ? makeFootageJpegSink(recipe.plate.jpegQuality) : makePngSink(DefaultPngLevel);
  };
  std::unique_ptr<PictureSink> plateSink = footageSink();
  std::unique_ptr<PictureSink> cleanSink = footageSink();
  std::unique_ptr<PictureSink> truthSink = makePngSink(DefaultPngLevel);
  if (!plateSink || !cleanSink || !truthSink) {
    std::fprintf(stderr, "keyvale_make_real_plates: this build writes no PNG or JPEG files\n");
    return false;
  }
  if (!writeWholePicture(*plateSink, folder + "/" + plateFile, plate.width, plate.height, plate.composite, error) ||
      !writeWholePicture(*truthSink, folder + "/" + name + "-truth.png", plate.width, plate.height, plate.truth,
                         error) ||
      !writeWholePicture(*cleanSink, folder + "/" + cleanFile, plate.width, plate.height, plate.cleanPlate, error)) {
    std::fprintf(stderr, "keyvale_make_real_plates: %s\n", error.c_str());
    return false;
  }
  if (!writeDescription(folder + "/" + name + ".txt", plateFile, cleanFile, recipe, plate)) {
    std::fprintf(stderr, "keyvale_make_real_plates: cannot write %s/%s.txt\n", folder.c_str(), name.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string only;
  if (argc == 5 && std::string(argv[3]) == "--only") only = argv[4];
  if (argc != 3 && only.empty()) {
    std::fprintf(stderr, "usage: keyvale_make_real_plates DATA OUT [--only NAME]\n");
    return 2;
  }
  bool found = only.empty();
  for (const RealPlateRecipe& recipe : realPlates()) {
    if (!only.empty() && recipe.plate.name != only) continue;
    found = true;
    if (!writePlate(argv[1], argv[2], recipe)) return 1;
    std::printf("%s\n", recipe.plate.name.c_str());
  }
  if (!found) {
    std::fprintf(stderr, "keyvale_make_real_plates: no plate is called %s\n", only.c_str());
    return 2;
  }
  return 0;
}
