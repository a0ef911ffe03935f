// Any bytes as a key setting file, then as a small picture keyed with it.
// The parser must take or refuse any text without harm; a setting it takes
// must read back unchanged from the text it writes for it; and keying a
// picture with it, or with a backdrop fitted to the picture itself, must
// stay within the picture, on one thread or several, to the same bytes.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "cli/SettingsFile.h"
#include "engine/Keying.h"
#include "keying/PlateKeyer.h"

namespace {

// A picture of up to 24 x 16 pixels whose size and colours come from the bytes.
struct Picture {
  std::uint32_t width = 1, height = 1;
  std::vector<Kvl::Pixel32> pixels;
};

Picture pictureFrom(const std::uint8_t* data, std::size_t size) {
  Picture picture;
  if (size > 0) picture.width = 1 + data[0] % 24u;
  if (size > 1) picture.height = 1 + data[1] % 16u;
  picture.pixels.resize(std::size_t{picture.width} * picture.height);
  for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
    const auto byte = [&](std::size_t k) { return size == 0 ? std::uint8_t{0} : data[(3 * i + k) % size]; };
    picture.pixels[i] = Kvl::makePixel(byte(0), byte(1), byte(2));
  }
  return picture;
}

void fail(const char* what) {
  std::fprintf(stderr, "fuzz_plate_settings: %s\n", what);
  std::abort();
}

// Keys the picture on one thread and on three; the bytes must agree.
void keyBothWays(const Picture& picture, const Kvl::Keying& keying) {
  std::vector<Kvl::Pixel32> one = picture.pixels, three = picture.pixels;
  Kvl::keyFrame(one.data(), picture.width, picture.height, keying, 1);
  Kvl::keyFrame(three.data(), picture.width, picture.height, keying, 3);
  if (one != three) fail("the thread count changed the keyed bytes");
}

std::optional<Kvl::PlateSettings> fitted(const Picture& picture, bool autoAdjust) {
  Kvl::BackdropSurvey survey(picture.width, picture.height);
  for (std::uint32_t y = 0; y < picture.height; ++y) {
    if (survey.wantsRow(y)) survey.addRow(picture.pixels.data() + std::size_t{y} * picture.width, y);
  }
  Kvl::PlateRequest request;
  request.autoAdjust = autoAdjust;
  return Kvl::fitPlate(survey, request);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const Picture picture = pictureFrom(data, size);
  std::string error;
  if (const auto keying = Kvl::Cli::parseSettingsFile(text, error)) {
    std::string again;
    const auto reread = Kvl::Cli::parseSettingsFile(Kvl::Cli::formatSettingsFile(*keying), again);
    if (!reread || !(*reread == *keying)) fail("a setting did not read back as written");
    keyBothWays(picture, *keying);
  } else if (error.empty()) {
    fail("a refused setting gave no reason");
  }
  Kvl::Keying plate;
  plate.keyer = Kvl::KeyerKind::Plate;
  for (const bool autoAdjust : {false, true}) {
    const auto settings = fitted(picture, autoAdjust);
    if (!settings) continue;  // no backdrop in the picture: refused, nothing to key
    plate.plate = *settings;
    keyBothWays(picture, plate);
  }
  return 0;
}
