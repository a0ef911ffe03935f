// The plate keyer on made-up plates whose matte is known: flat backdrops of
// any hue clear, backdrops that fall off and carry a floor shadow clear,
// foreground far from the backdrop solid, edges un-mixed to their own
// colour, and the same bytes whatever the row order or thread count.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "engine/Keying.h"
#include "keying/CleanPlate.h"
#include "keying/PlateKeyer.h"
#include "imageio/PictureFiles.h"
#include "support/TgaBytes.h"

namespace Kvl::Test {
namespace {

constexpr std::uint32_t Width = 160, Height = 120;

struct Rgb {
  double red, green, blue;
};

Pixel32 pixelOf(Rgb c) {
  const auto level = [](double v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); };
  return makePixel(level(c.red), level(c.green), level(c.blue));
}

// A backdrop of `colour` lit `falloff` darker at the corners than in the
// middle, with a soft shadow `shadow` deep over its bottom fifth.
Rgb litBackdrop(Rgb colour, std::uint32_t x, std::uint32_t y, double falloff, double shadow) {
  const double dx = (x + 0.5) / Width - 0.5, dy = (y + 0.5) / Height - 0.5;
  double light = 1 - falloff * (dx * dx + dy * dy) / 0.5;
  const double floor = std::clamp((static_cast<double>(y) / Height - 0.8) / 0.1, 0.0, 1.0);
  light *= 1 - shadow * floor;
  return {colour.red * light, colour.green * light, colour.blue * light};
}

using Picture = std::vector<Pixel32>;  // top row first

// A plate: the lit backdrop, sensor noise of `noise` levels, and a square of
// `foreground` from (50, 30) to (110, 90).
Picture plate(Rgb backdrop, Rgb foreground, double falloff, double shadow, double noise) {
  std::mt19937 random(7);
  std::normal_distribution<double> grain(0, noise);
  Picture picture(std::size_t{Width} * Height);
  for (std::uint32_t y = 0; y < Height; ++y) {
    for (std::uint32_t x = 0; x < Width; ++x) {
      const bool inside = x >= 50 && x < 110 && y >= 30 && y < 90;
      Rgb c = inside ? foreground : litBackdrop(backdrop, x, y, falloff, shadow);
      if (noise > 0) c = {c.red + grain(random), c.green + grain(random), c.blue + grain(random)};
      picture[std::size_t{y} * Width + x] = pixelOf(c);
    }
  }
  return picture;
}

PlateSettings fit(const Picture& picture, bool autoAdjust) {
  BackdropSurvey survey(Width, Height);
  for (std::uint32_t y = 0; y < Height; ++y) {
    if (survey.wantsRow(y)) survey.addRow(picture.data() + std::size_t{y} * Width, y);
  }
  const std::optional<PlateSettings> settings = fitPlate(survey, {std::nullopt, autoAdjust});
  EXPECT_TRUE(settings.has_value()) << "no backdrop found";
  return settings.value_or(PlateSettings{});
}

Picture keyed(const Picture& picture, const PlateSettings& settings, int threads = 1) {
  Picture out = picture;
  keyFrame(out.data(), Width, Height, {KeyerKind::Plate, {}, settings}, threads);
  return out;
}

bool insideSquare(std::size_t i, int margin) {
  const auto x = static_cast<int>(i % Width), y = static_cast<int>(i / Width);
  return x >= 50 + margin && x < 110 - margin && y >= 30 + margin && y < 90 - margin;
}

const Rgb ChromaGreen{40, 180, 60}, Lime{150, 170, 60}, BlueScreen{30, 60, 190}, DimLime{108, 124, 43};

TEST(PlateKeyer, AFlatBackdropOfAnyHueKeysFullyClear) {
  for (const Rgb hue : {ChromaGreen, Lime, BlueScreen, Rgb{200, 90, 40}, Rgb{120, 60, 160}, Rgb{0, 255, 0}}) {
    const Picture flat = plate(hue, hue, 0, 0, 0);
    for (const bool autoAdjust : {false, true}) {
      const Picture out = keyed(flat, fit(flat, autoAdjust));
      const auto opaque = std::count_if(out.begin(), out.end(), [](Pixel32 p) { return alphaOf(p) != 0; });
      EXPECT_EQ(opaque, 0) << "backdrop " << hue.red << "," << hue.green << "," << hue.blue;
    }
  }
}

// The backdrop falls off by 40% to the corners, darkens by a third over the
// floor and carries noise; the square in front must come out solid and
// everything else, but for a rim the square's edge shares, clear.
TEST(PlateKeyer, KeysUnevenBackdropsClearAndFarForegroundSolid) {
  const struct {
    Rgb backdrop, foreground;
  } cases[] = {
      {ChromaGreen, {200, 150, 120}},  // skin
      {ChromaGreen, {20, 15, 10}},     // dark hair
      {ChromaGreen, {250, 250, 250}},  // white
      {Lime, {220, 200, 40}},          // a yellow ball on a yellow-green wall
      {Lime, {200, 170, 100}},         // straw
      {Lime, {0, 255, 0}},             // pure green: far from lime by hue
      {BlueScreen, {230, 200, 60}},
      {BlueScreen, {120, 20, 30}},     // dark red
      // A dim lime wall with little green excess, where white, pale pink
      // and black have no less excess than the wall, and only lie beyond
      // any mix with it.
      {DimLime, {250, 250, 250}},
      {DimLime, {240, 215, 225}},
      {DimLime, {25, 22, 20}},
  };
  for (const auto& c : cases) {
    const Picture picture = plate(c.backdrop, c.foreground, 0.4, 0.35, 3);
    const Picture out = keyed(picture, fit(picture, true));
    std::size_t solidMisses = 0, backdropLeft = 0, backdropPixels = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
      if (insideSquare(i, 1)) solidMisses += alphaOf(out[i]) != 255;
      if (!insideSquare(i, -2)) {
        ++backdropPixels;
        backdropLeft += alphaOf(out[i]) > 32;
      }
    }
    const std::string what = "foreground " + std::to_string(c.foreground.red) + "," +
                             std::to_string(c.foreground.green) + "," + std::to_string(c.foreground.blue);
    EXPECT_EQ(solidMisses, 0u) << what;
    EXPECT_LE(backdropLeft * 1000, backdropPixels) << what << ": more than 0.1% of the backdrop left";
  }
}

// A pixel half foreground, half local backdrop is keyed half transparent,
// and its colour comes back as the foreground's.
TEST(PlateKeyer, UnmixesAnEdgePixelFromTheLocalBackdrop) {
  Picture picture = plate(ChromaGreen, ChromaGreen, 0.4, 0, 0);
  // About as much green as blue, the backdrop's larger other channel, so
  // that the colour difference of the mix is half the backdrop's.
  const Rgb foreground{100, 110, 120};
  const PlateSettings settings = fit(picture, false);
  for (const std::uint32_t x : {4u, 80u, 150u}) {
    const std::size_t i = std::size_t{60} * Width + x;
    const Pixel32 b = picture[i];
    picture[i] = pixelOf({(foreground.red + redOf(b)) / 2, (foreground.green + greenOf(b)) / 2,
                          (foreground.blue + blueOf(b)) / 2});
  }
  const Picture out = keyed(picture, settings);
  for (const std::uint32_t x : {4u, 80u, 150u}) {
    const Pixel32 p = out[std::size_t{60} * Width + x];
    EXPECT_NEAR(alphaOf(p), 128, 12) << "x " << x;
    EXPECT_NEAR(redOf(p), foreground.red, 12) << "x " << x;
    EXPECT_NEAR(greenOf(p), foreground.green, 12) << "x " << x;
    EXPECT_NEAR(blueOf(p), foreground.blue, 12) << "x " << x;
  }
}

// Green spill on a solid foreground is taken out; its other colours stay.
TEST(PlateKeyer, TakesSpillOutOfSolidForeground) {
  const Rgb spilled{150, 153, 120};  // skin with a little green light on it
  const Picture picture = plate(ChromaGreen, spilled, 0.2, 0, 0);
  const Picture out = keyed(picture, fit(picture, false));
  const Pixel32 p = out[std::size_t{60} * Width + 80];
  EXPECT_EQ(alphaOf(p), 255);
  EXPECT_LE(greenOf(p), std::max(redOf(p), blueOf(p)));
  EXPECT_GE(redOf(p), 140);
}

// Rows are keyed alone: any number of threads gives the same bytes.
TEST(PlateKeyer, TheSameBytesForAnyThreadCount) {
  const Picture picture = plate(Lime, {220, 200, 40}, 0.4, 0.3, 4);
  const PlateSettings settings = fit(picture, true);
  const Picture one = keyed(picture, settings, 1);
  for (const int threads : {2, 3, 8}) EXPECT_EQ(keyed(picture, settings, threads), one) << threads << " threads";
}

// A picture held in memory (top row first), handed out in either order.
class MemorySource final : public PictureSource {
public:
  MemorySource(const Picture& picture, std::uint32_t width, std::uint32_t height, RowOrder order)
      : picture_(picture) {
    setShape(width, height, order);
  }
  void readRows(Pixel32* out, std::size_t rows) override {
    for (std::size_t i = 0; i < rows; ++i, ++next_) {
      const std::uint64_t fromTop = height() - 1 - handedOutIndex(next_);
      std::copy_n(picture_.begin() + static_cast<std::ptrdiff_t>(fromTop * width()), width(), out + i * width());
    }
  }
  void skipRows(std::uint64_t rows) override { next_ += rows; }
  bool rewind() override {
    next_ = 0;
    return true;
  }
  bool damaged() const override { return false; }

private:
  const Picture& picture_;
  std::uint64_t next_ = 0;
};

// Keeps the rows it is given, top row first, and how often each came.
class MemorySink final : public PictureSink {
public:
  bool open(const std::string&, std::uint64_t width, std::uint64_t height, RowOrder) override {
    width_ = width;
    height_ = height;
    rows.assign(static_cast<std::size_t>(width * height), 0);
    writes.assign(static_cast<std::size_t>(height), 0);
    return true;
  }
  void writeRows(std::uint64_t firstRow, const Pixel32* pixels, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint64_t fromTop = height_ - 1 - (firstRow + i);
      ++writes[fromTop];
      std::copy_n(pixels + i * width_, width_, rows.begin() + static_cast<std::ptrdiff_t>(fromTop * width_));
    }
  }
  bool commit() override { return true; }
  Picture rows;
  std::vector<int> writes;

private:
  std::uint64_t width_ = 0, height_ = 0;
};

// A picture of several chunks, streamed from a file in either row order:
// each chunk is keyed while the one before is written and the next read,
// and the output is the picture keyed whole, for any number of threads.
// Against a clean plate, whose second pass looks across rows, too.
TEST(PlateKeyer, StreamsPicturesOfManyChunksToTheBytesOfTheWholeKey) {
  const std::uint32_t width = 700, height = 800;  // three chunks, the last a short one
  const auto tiled = [&](const Picture& tile) {
    Picture picture(std::size_t{width} * height);
    for (std::size_t i = 0; i < picture.size(); ++i) picture[i] = tile[(i / width % Height) * Width + i % width % Width];
    return picture;
  };
  const Picture picture = tiled(plate(ChromaGreen, {230, 210, 30}, 0.4, 0.3, 3));
  const auto cleanPlate =
      std::make_shared<const CleanPlate>(smoothedCleanPlate(tiled(plate(ChromaGreen, ChromaGreen, 0.4, 0.3, 3)), width, height));
  for (const RowOrder order : {RowOrder::BottomUp, RowOrder::TopDown}) {
    MemorySource source(picture, width, height, order);
    std::string refusal;
    Keying keying = *chooseKeying(source, {KeyerKind::Plate, SettingsRequest::automatic(), std::nullopt}, refusal);
    for (const bool againstCleanPlate : {false, true}) {
      if (againstCleanPlate) keying.plate.cleanPlate = cleanPlate;
      Picture whole = picture;
      keyFrame(whole.data(), width, height, keying);
      for (const int threads : {1, 2, 3}) {
        ASSERT_TRUE(source.rewind());
        MemorySink sink;
        ASSERT_TRUE(sink.open("", width, height, order));
        keyPicture(source, keying, sink, threads);
        const std::string what = std::to_string(threads) + " threads, " +
                                 (order == RowOrder::TopDown ? "top" : "bottom") + " row first" +
                                 (againstCleanPlate ? ", clean plate" : "");
        EXPECT_EQ(sink.rows, whole) << what;
        EXPECT_TRUE(std::all_of(sink.writes.begin(), sink.writes.end(), [](int n) { return n == 1; })) << what;
      }
    }
  }
}

// The keyed bytes of one plate, as a number: the same in every build (the
// eight-wide and the four-wide key, Linux and Windows), or a farm of mixed
// machines would key a shot's frames differently. A change to the method
// changes it, and is then written here.
TEST(PlateKeyer, KeysTheSameBytesInEveryBuild) {
  const Picture picture = plate(Lime, {220, 200, 40}, 0.4, 0.3, 4);
  const PlateSettings settings = fit(picture, true);
  const Picture out = keyed(picture, settings);
  std::uint64_t hash = 1469598103934665603u;  // FNV-1a over the pixels' bytes
  for (const Pixel32 p : out) {
    for (int shift = 0; shift < 32; shift += 8) hash = (hash ^ ((p >> shift) & 0xFF)) * 1099511628211u;
  }
  EXPECT_EQ(settings.backdropTolerance, 17);
  EXPECT_EQ(settings.hueTolerance, 18);
  EXPECT_EQ(hash, 4048683640802119079u) << hash;
}

// The edge pass looks at the pixels the key cleared only in rows the keyer
// says may lie over a backdrop of little excess (less than the two
// tolerances together), a test of the model's cells instead of the row's
// pixels: it must never say no where a pixel of the row does lie over one.
// A green wall of 60 levels' excess falling off to a third at the corners
// and in a deep floor shadow crosses that line within rows and between them.
TEST(PlateKeyer, SaysARowMayLieOverLittleExcessWhereverAPixelOfItDoes) {
  const Picture picture = plate({100, 160, 60}, {200, 60, 50}, 0.65, 0.6, 2);
  const PlateSettings settings = fit(picture, true);
  PlateKeyer keyer(settings, Width, Height);
  const auto others = settings.channel == RedChannel     ? std::pair{1, 2}
                      : settings.channel == GreenChannel ? std::pair{0, 2}
                                                         : std::pair{0, 1};
  const float least = static_cast<float>(settings.backdropTolerance + settings.foregroundTolerance);
  int lowRows = 0, highRows = 0;
  for (std::uint32_t y = 0; y < Height; ++y) {
    const float* b = keyer.backdropOf(y);
    bool low = false;
    for (std::uint32_t x = 0; x < Width; ++x) {
      const auto at = [&](int channel) { return b[static_cast<std::size_t>(channel) * Width + x]; };
      low = low || at(static_cast<int>(settings.channel)) - std::max(at(others.first), at(others.second)) < least;
    }
    if (low) {
      ++lowRows;
      ASSERT_TRUE(keyer.mayHaveLowExcess()) << "row " << y;
    } else {
      highRows += keyer.mayHaveLowExcess() ? 0 : 1;
    }
  }
  EXPECT_GT(lowRows, 0) << "the wall never falls below the tolerances: nothing tested";
  EXPECT_GT(highRows, 0) << "every row said to have little excess: the test passes over no pixel";
}

// A saturated red object moving over green, blurred over 16 pixels: the
// colour difference alone keys its ramp far too hard (a mix of red and
// green has less green than red long before it is solid; 89 for 55, 225
// for 103). Un-mixed against the red beside it, each pixel of the ramp the
// key left partly transparent gets its own alpha back, and so do the mixes
// it keyed solid a few pixels in from those, beyond the reach of spill;
// the red itself stays solid. The bytes of such edges are pinned like the
// rest.
TEST(PlateKeyer, KeysASaturatedBlurredEdgeAgainstTheForegroundBesideIt) {
  const Rgb red{205, 72, 42};
  Picture picture = plate(ChromaGreen, red, 0.3, 0, 2);
  std::vector<double> truth(picture.size());
  for (std::uint32_t y = 30; y < 90; ++y) {
    for (std::uint32_t x = 34; x < 66; ++x) {
      const std::size_t i = std::size_t{y} * Width + x;
      const double a = std::clamp((x + 0.5 - 34) / 16, 0.0, 1.0);
      const Pixel32 b = picture[std::size_t{y} * Width + 20];  // the backdrop a little to the left
      picture[i] = pixelOf({a * red.red + (1 - a) * redOf(b), a * red.green + (1 - a) * greenOf(b),
                            a * red.blue + (1 - a) * blueOf(b)});
      truth[i] = a * 255;
    }
  }
  const Picture out = keyed(picture, fit(picture, true));
  double error = 0;
  int count = 0;
  for (std::uint32_t y = 32; y < 88; ++y) {
    for (std::uint32_t x = 35; x < 41; ++x) {
      const std::size_t i = std::size_t{y} * Width + x;
      error += std::abs(alphaOf(out[i]) - truth[i]);
      ++count;
    }
  }
  EXPECT_LT(error / count, 8) << "mean alpha error over the ramp's partly transparent part";
  double solidPartError = 0;
  int solidPartCount = 0;
  for (std::uint32_t y = 32; y < 88; ++y) {
    for (std::uint32_t x = 41; x < 50; ++x) {
      const std::size_t i = std::size_t{y} * Width + x;
      solidPartError += std::abs(alphaOf(out[i]) - truth[i]);
      ++solidPartCount;
    }
    for (std::uint32_t x = 50; x < 66; ++x) {
      EXPECT_EQ(alphaOf(out[std::size_t{y} * Width + x]), 255) << "the red itself at " << x << ", " << y;
    }
  }
  EXPECT_LT(solidPartError / solidPartCount, 20) << "mean alpha error over the ramp's mixes of 0.44 and more";
  std::uint64_t hash = 1469598103934665603u;
  for (const Pixel32 p : out) {
    for (int shift = 0; shift < 32; shift += 8) hash = (hash ^ ((p >> shift) & 0xFF)) * 1099511628211u;
  }
  EXPECT_EQ(hash, 9852776874994330980u) << hash;
}

// A pale or skin-coloured subject with a blurred edge (a fleece's fuzz, a
// face out of focus) over green and over blue: the colour difference, which
// takes the foreground to have none of the backdrop's excess, keys most of
// the ramp too hard, solid well before it is. Measured against the whole
// colour vector towards the subject beside it, each mix gets its own alpha
// back (without that, the errors are 27, 35 and 38 levels).
TEST(PlateKeyer, KeysAPaleBlurredEdgeByTheSubjectsColourBesideIt) {
  struct Case {
    Rgb backdrop, subject;
    double mostError;
  };
  for (const Case& c : {Case{ChromaGreen, {235, 228, 205}, 8}, Case{ChromaGreen, {200, 150, 120}, 24},
                        Case{BlueScreen, {235, 228, 205}, 16}}) {
    Picture picture = plate(c.backdrop, c.subject, 0.3, 0, 2);
    std::vector<double> truth(picture.size());
    for (std::uint32_t y = 30; y < 90; ++y) {
      for (std::uint32_t x = 34; x < 66; ++x) {
        const std::size_t i = std::size_t{y} * Width + x;
        const double a = std::clamp((x + 0.5 - 34) / 16, 0.0, 1.0);
        const Pixel32 b = picture[std::size_t{y} * Width + 30];
        picture[i] = pixelOf({a * c.subject.red + (1 - a) * redOf(b), a * c.subject.green + (1 - a) * greenOf(b),
                              a * c.subject.blue + (1 - a) * blueOf(b)});
        truth[i] = a * 255;
      }
    }
    const Picture out = keyed(picture, fit(picture, true));
    double error = 0;
    int count = 0;
    for (std::uint32_t y = 32; y < 88; ++y) {
      for (std::uint32_t x = 34; x < 50; ++x) {
        error += std::abs(alphaOf(out[std::size_t{y} * Width + x]) - truth[std::size_t{y} * Width + x]);
        ++count;
      }
      for (std::uint32_t x = 52; x < 66; ++x) ASSERT_EQ(alphaOf(out[std::size_t{y} * Width + x]), 255) << x << ", " << y;
    }
    EXPECT_LT(error / count, c.mostError) << "mean alpha error over the ramp, subject red " << static_cast<int>(c.subject.red);
  }
}

#if KEYVALE_HAVE_JPEG
// The same plates stored as footage is, 4:2:0 JPEG at quality 75: the colour
// at half resolution rings and bleeds a pixel past every edge, and the flat
// backdrop shows less noise than the edges carry error. Read as libjpeg
// upsamples and fitted to the backdrop's noise alone, 2-4% of the backdrop
// stayed (a rim two pixels wide); read and fitted as keyvale-cli does for the
// plate keyer, at most a few pixels of the rim do.
TEST(PlateKeyer, KeysFootageJpegWithoutARimAroundTheForeground) {
  const struct {
    Rgb backdrop, foreground;
  } cases[] = {
      {ChromaGreen, {230, 210, 30}},
      {ChromaGreen, {20, 15, 10}},
      {Lime, {220, 200, 40}},
      {BlueScreen, {230, 200, 60}},
  };
  TempDir dir;
  const std::string path = dir.file("plate.jpg");
  for (const auto& c : cases) {
    const std::string what = "foreground " + std::to_string(c.foreground.red) + "," +
                             std::to_string(c.foreground.green) + "," + std::to_string(c.foreground.blue);
    const Picture picture = plate(c.backdrop, c.foreground, 0.4, 0.35, 3);
    const std::unique_ptr<PictureSink> sink = makeFootageJpegSink(75);
    ASSERT_TRUE(sink->open(path, Width, Height, RowOrder::TopDown)) << sink->failure();
    for (std::uint32_t y = 0; y < Height; ++y) sink->writeRows(Height - 1 - y, picture.data() + std::size_t{y} * Width, 1);
    ASSERT_TRUE(sink->commit()) << sink->failure();

    PictureError error;
    const std::unique_ptr<PictureSource> source = openPicture(path, PictureFormat::Jpeg, error, ChromaUpsampling::LumaGuided);
    ASSERT_TRUE(source) << describe(error);
    std::string refusal;
    const auto chosen = chooseKeying(*source, {KeyerKind::Plate, SettingsRequest::automatic(), std::nullopt}, refusal);
    ASSERT_TRUE(chosen) << refusal;
    const Keying& keying = *chosen;
    ASSERT_TRUE(source->rewind());
    Picture out(picture.size());
    source->readRows(out.data(), Height);
    keyFrame(out.data(), Width, Height, keying);

    std::size_t solidMisses = 0, backdropLeft = 0, backdropPixels = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
      if (insideSquare(i, 2)) solidMisses += alphaOf(out[i]) != 255;
      if (!insideSquare(i, 0)) {
        ++backdropPixels;
        backdropLeft += alphaOf(out[i]) > 32;
      }
    }
    EXPECT_EQ(solidMisses, 0u) << what << ", backdrop tolerance " << int{keying.plate.backdropTolerance};
    EXPECT_LE(backdropLeft * 200, backdropPixels) << what << ": " << backdropLeft << " backdrop pixels left";
  }
}
#endif

}  // namespace
}  // namespace Kvl::Test
