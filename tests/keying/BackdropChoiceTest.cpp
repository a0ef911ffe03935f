// How the plate keyer tells the backdrop from the subject: close-ups whose
// subject fills most of the frame, of every colour, on green, lime and blue
// backdrops lit unevenly; pictures without a backdrop refused; a backdrop
// colour named by the user.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "engine/Keying.h"
#include "keying/PlateKeyer.h"

namespace Kvl::Test {
namespace {

constexpr std::uint32_t Width = 160, Height = 120;

struct Rgb {
  double red, green, blue;
};

std::string nameOf(Rgb c) {
  return std::to_string(std::lround(c.red)) + "," + std::to_string(std::lround(c.green)) + "," +
         std::to_string(std::lround(c.blue));
}

Pixel32 pixelOf(Rgb c) {
  const auto level = [](double v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); };
  return makePixel(level(c.red), level(c.green), level(c.blue));
}

// A close-up: a subject standing on the bottom edge, centred, its width and
// height `scale` of the frame's (so it fills scale squared of it), with a
// texture of `texture` levels (fur, hair, a face's shading); the backdrop
// behind falls off by 40% to the corners, darkens by a third over the
// floor, and carries noise of 3 levels.
struct CloseUp {
  Rgb backdrop, subject;
  double scale;
  double texture = 0;

  bool inSubject(std::uint32_t x, std::uint32_t y, int margin) const {
    const double half = scale * Width / 2, top = Height * (1 - scale);
    return x + 0.5 >= Width / 2.0 - half + margin && x + 0.5 < Width / 2.0 + half - margin && y + 0.5 >= top + margin;
  }

  std::vector<Pixel32> picture() const {
    std::mt19937 random(11);
    std::normal_distribution<double> grain(0, 3), grainOfSubject(0, texture);
    std::vector<Pixel32> pixels(std::size_t{Width} * Height);
    for (std::uint32_t y = 0; y < Height; ++y) {
      for (std::uint32_t x = 0; x < Width; ++x) {
        Rgb c;
        if (inSubject(x, y, 0)) {
          const double shade = texture > 0 ? grainOfSubject(random) : 0;
          c = {subject.red + shade, subject.green + shade, subject.blue + shade};
        } else {
          const double dx = (x + 0.5) / Width - 0.5, dy = (y + 0.5) / Height - 0.5;
          const double floor = std::clamp((static_cast<double>(y) / Height - 0.8) / 0.1, 0.0, 1.0);
          const double light = (1 - 0.4 * (dx * dx + dy * dy) / 0.5) * (1 - 0.35 * floor);
          c = {backdrop.red * light, backdrop.green * light, backdrop.blue * light};
        }
        pixels[std::size_t{y} * Width + x] = pixelOf({c.red + grain(random), c.green + grain(random), c.blue + grain(random)});
      }
    }
    return pixels;
  }
};

std::optional<PlateSettings> fit(const std::vector<Pixel32>& picture, PlateRequest request, std::string* refusal = nullptr) {
  BackdropSurvey survey(Width, Height);
  for (std::uint32_t y = 0; y < Height; ++y) {
    if (survey.wantsRow(y)) survey.addRow(picture.data() + std::size_t{y} * Width, y);
  }
  request.autoAdjust = true;
  return fitPlate(survey, request, refusal);
}

struct Shares {
  double subjectKept = 0;   // subject pixels above alpha 128
  double backdropLeft = 0;  // backdrop pixels above alpha 32
};

Shares keyedShares(const CloseUp& shot, const PlateSettings& settings) {
  std::vector<Pixel32> pixels = shot.picture();
  keyFrame(pixels.data(), Width, Height, {KeyerKind::Plate, {}, settings});
  double subject = 0, kept = 0, backdrop = 0, left = 0;
  for (std::uint32_t y = 0; y < Height; ++y) {
    for (std::uint32_t x = 0; x < Width; ++x) {
      const unsigned alpha = alphaOf(pixels[std::size_t{y} * Width + x]);
      if (shot.inSubject(x, y, 2)) subject += 1, kept += alpha > 128;
      if (!shot.inSubject(x, y, -2)) backdrop += 1, left += alpha > 32;
    }
  }
  return {kept / subject, left / backdrop};
}

const Rgb ChromaGreen{40, 180, 60}, Lime{150, 172, 60}, BlueScreen{30, 65, 185};

// Warm, pale, white and dark subjects, and one of the backdrop's own kind
// (green-ish, yet a different hue), from a fifth of the frame to four
// fifths: the backdrop is found and keyed clear, the subject kept, never
// the other way round.
TEST(BackdropChoice, FindsTheBackdropBehindSubjectsFillingMostOfTheFrame) {
  const struct {
    Rgb backdrop;
    KeyChannel channel;
    Rgb greenish;
  } backdrops[] = {
      {ChromaGreen, GreenChannel, {112, 118, 44}},  // olive
      {Lime, GreenChannel, {30, 200, 70}},          // pure green
      {BlueScreen, BlueChannel, {60, 160, 70}},     // green
  };
  for (const auto& b : backdrops) {
    const struct {
      Rgb colour;
      double texture;
    } subjects[] = {
        {{235, 215, 185}, 0},  // warm and pale: a doll, blonde hair
        {{200, 150, 120}, 4},  // skin
        {{246, 244, 238}, 6},  // white: a plush sheep
        {{150, 100, 60}, 14},  // a brown teddy bear's fur
        {{30, 26, 24}, 3},     // dark cloth
        {b.greenish, 3},
    };
    for (const auto& s : subjects) {
      for (const double fill : {0.2, 0.4, 0.6, 0.8}) {
        const CloseUp shot{b.backdrop, s.colour, std::sqrt(fill), s.texture};
        const std::string what = "subject " + nameOf(s.colour) + " filling " + std::to_string(fill) + " of " +
                                 nameOf(b.backdrop);
        std::string refusal;
        const auto settings = fit(shot.picture(), {}, &refusal);
        ASSERT_TRUE(settings) << what << ": " << refusal;
        EXPECT_EQ(settings->channel, b.channel) << what;
        const Shares shares = keyedShares(shot, *settings);
        // Noise on a subject this dark reaches the lime's weak excess of green
        // in its shadow now and then: a limit of the per-pixel key.
        const bool darkOnLime = s.colour.red < 50 && b.backdrop.red == Lime.red;
        EXPECT_GE(shares.subjectKept, darkOnLime ? 0.9 : 0.99) << what;
        EXPECT_LE(shares.backdropLeft, 0.01) << what;
      }
    }
  }
}

// A picture with no saturated region of one hue has no backdrop: keying it
// would key its subject away, so it is refused, with a reason.
TEST(BackdropChoice, RefusesPicturesWithoutABackdrop) {
  for (const Rgb colour : {Rgb{128, 128, 128}, Rgb{250, 250, 250}, Rgb{235, 215, 185}, Rgb{12, 10, 14}}) {
    const CloseUp shot{colour, colour, 0.5};
    std::string refusal;
    EXPECT_FALSE(fit(shot.picture(), {}, &refusal)) << nameOf(colour);
    EXPECT_NE(refusal.find("no backdrop"), std::string::npos) << refusal;
  }
  // Skin against itself keyed on green, as asked: nothing has green's excess.
  const CloseUp skin{{200, 150, 120}, {200, 150, 120}, 0.5};
  EXPECT_FALSE(fit(skin.picture(), {GreenChannel}));
}

// A named backdrop colour: the backdrop is the part of the picture of its
// hue, even where the subject is saturated too and fills most of the frame;
// a colour the picture does not show, or one without a key channel, is
// refused.
TEST(BackdropChoice, KeysAgainstTheNamedScreenColour) {
  const CloseUp shot{Lime, {200, 120, 50}, std::sqrt(0.7), 2};  // an orange subject, as saturated as the wall
  PlateRequest request;
  request.screen = makePixel(148, 171, 63);  // picked from the wall, a little off its mean
  const auto settings = fit(shot.picture(), request);
  ASSERT_TRUE(settings);
  EXPECT_EQ(settings->channel, GreenChannel);
  EXPECT_EQ(settings->screen, request.screen);
  const Shares shares = keyedShares(shot, *settings);
  EXPECT_GE(shares.subjectKept, 0.99);
  EXPECT_LE(shares.backdropLeft, 0.01);

  std::string refusal;
  request.screen = makePixel(30, 65, 185);  // blue, which the picture does not show
  EXPECT_FALSE(fit(shot.picture(), request, &refusal));
  EXPECT_NE(refusal.find("--screen"), std::string::npos) << refusal;
  request.screen = makePixel(120, 120, 120);
  EXPECT_FALSE(fit(shot.picture(), request, &refusal));
  EXPECT_NE(refusal.find("--screen"), std::string::npos) << refusal;
}

}  // namespace
}  // namespace Kvl::Test
