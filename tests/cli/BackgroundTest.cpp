// `--background`: keyed pictures laid over a colour or a picture, giving
// opaque files whose colours are the keyed ones blended by the alpha and
// rounded to the nearest whole value.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "CliTestSupport.h"
#include "CodecFiles.h"
#include "keying/Compose.h"
#include "support/TgaBytes.h"

namespace Kvl::Test {
namespace {

// The blend in real numbers, rounded half up.
std::uint8_t exactBlend(int keyed, int back, int alpha) {
  return static_cast<std::uint8_t>((keyed * alpha + back * (255 - alpha)) / 255.0 + 0.5 + 1e-9);
}

TEST(Background, BlendRoundsToTheNearestValueForEveryAlpha) {
  for (int alpha = 0; alpha < 256; ++alpha) {
    for (int keyed = 0; keyed < 256; keyed += 5) {
      Pixel32 pixel = makePixel(static_cast<std::uint8_t>(keyed), static_cast<std::uint8_t>(255 - keyed), 7,
                                static_cast<std::uint8_t>(alpha));
      composeOverColour(&pixel, makePixel(0x10, 0xF0, 0x99), 1);
      ASSERT_EQ(pixel, makePixel(exactBlend(keyed, 0x10, alpha), exactBlend(255 - keyed, 0xF0, alpha),
                                 exactBlend(7, 0x99, alpha), 255))
          << "alpha " << alpha << " keyed " << keyed;
    }
  }
}

TEST(Background, StillsOverAColourOrACoveringPictureAreOpaque) {
  TempDir dir;
  const std::vector<Pixel32> shot = greenScreen(6, 4);
  const std::string input = TgaBytes(6, 4).pixels(shot).writeTo(dir.path() / "shot.tga");
  ASSERT_EQ(runCli({"key", input, dir.file("keyed.tga"), "--contrast", "40", "--offset", "20"}).status, 0);
  const TargaFile keyed = readTargaFile(dir.file("keyed.tga"));

  const CliRun overColour = runCli({"key", input, dir.file("colour.tga"), "--contrast", "40", "--offset", "20",
                                    "--background", "#C08040"});
  ASSERT_EQ(overColour.status, 0) << overColour.err;
  const TargaFile colour = readTargaFile(dir.file("colour.tga"));
  ASSERT_EQ(colour.pixels.size(), keyed.pixels.size());
  for (std::size_t i = 0; i < keyed.pixels.size(); ++i) {
    Pixel32 want = keyed.pixels[i];
    composeOverColour(&want, makePixel(0xC0, 0x80, 0x40), 1);
    EXPECT_EQ(colour.pixels[i], want) << i;
  }

  // A 12x4 picture as tall as the 6x4 frame covers it unscaled, centred:
  // output column x shows picture column x + 3. Each column has its own red.
  std::vector<Pixel32> backdrop;
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 12; ++x) backdrop.push_back(makePixel(static_cast<std::uint8_t>(x * 20), static_cast<std::uint8_t>(y), 0));
  }
  const std::string picture = TgaBytes(12, 4).pixels(backdrop).writeTo(dir.path() / "backdrop.tga");
  const CliRun overPicture = runCli({"key", input, dir.file("picture.tga"), "--contrast", "40", "--offset", "20",
                                     "--background", picture});
  ASSERT_EQ(overPicture.status, 0) << overPicture.err;
  const TargaFile over = readTargaFile(dir.file("picture.tga"));
  ASSERT_EQ(over.pixels.size(), keyed.pixels.size());
  for (std::size_t i = 0; i < keyed.pixels.size(); ++i) {
    const std::size_t x = i % 6, y = i / 6;  // both files bottom row first
    Pixel32 want = keyed.pixels[i];
    composeOver(&want, &backdrop[y * 12 + x + 3], 1);
    EXPECT_EQ(over.pixels[i], want) << "x " << x << " y " << y;
  }

  const CliRun badColour = runCli({"key", input, dir.file("bad.tga"), "--background", "#12345"});
  EXPECT_EQ(badColour.status, 1);
  EXPECT_NE(badColour.err.find("#RRGGBB"), std::string::npos) << badColour.err;
}

#if KEYVALE_HAVE_JPEG
// Over a background the picture is opaque, and may be a JPEG file: it
// decodes to the opaque Targa's colours within the encoder's loss, upright.
// Without a background the matte would be lost, so it is refused.
TEST(Background, OpaquePicturesMayBeJpegAndOnlyThey) {
  TempDir dir;
  const std::string input = TgaBytes(48, 32).pixels(greenScreen(48, 32)).writeTo(dir.path() / "shot.tga");
  const std::vector<std::string> settings = {"--contrast", "40", "--offset", "20", "--background", "#C08040"};
  const auto key = [&](const std::vector<std::string>& output) {
    std::vector<std::string> arguments = {"key", input};
    arguments.insert(arguments.end(), output.begin(), output.end());
    arguments.insert(arguments.end(), settings.begin(), settings.end());
    return runCli(arguments);
  };
  ASSERT_EQ(key({dir.file("opaque.tga")}).status, 0);
  const CliRun jpeg = key({dir.file("opaque.jpg")});
  ASSERT_EQ(jpeg.status, 0) << jpeg.err;
  const TargaFile opaque = readTargaFile(dir.file("opaque.tga"));
  int width = 0, height = 0;
  const std::vector<std::uint8_t> rgb = decodeJpegRgb(dir.file("opaque.jpg"), width, height);
  ASSERT_EQ(width, 48);
  ASSERT_EQ(height, 32);
  int largest = 0;
  long total = 0;
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 48; ++x) {
      const Pixel32 want = opaque.pixels[static_cast<std::size_t>((31 - y) * 48 + x)];  // Targa bottom row first
      const std::uint8_t* got = &rgb[static_cast<std::size_t>(y * 48 + x) * 3];
      const int differences[] = {std::abs(got[0] - redOf(want)), std::abs(got[1] - greenOf(want)),
                                 std::abs(got[2] - blueOf(want))};
      for (const int difference : differences) {
        largest = std::max(largest, difference);
        total += difference;
      }
    }
  }
  // Quality 95 at full colour resolution: a few levels on this made-up
  // picture of fine detail (under one on the bundled sample). A flip or a
  // channel swap would be off by tens.
  EXPECT_LE(largest, 24);
  EXPECT_LT(static_cast<double>(total) / (48 * 32 * 3), 4.0);

  const CliRun batch = runCli({"key", input, "--out-dir", dir.file("keyed"), "--format", "jpg", "--background",
                               "#000000"});
  EXPECT_EQ(batch.status, 0) << batch.err;
  EXPECT_TRUE(std::filesystem::exists(dir.file("keyed/shot.jpg")));

  const CliRun matteLost = runCli({"key", input, dir.file("alpha.jpeg")});
  EXPECT_EQ(matteLost.status, Cli::ExitUsage);
  EXPECT_NE(matteLost.err.find("a JPEG file holds no alpha"), std::string::npos) << matteLost.err;
  EXPECT_FALSE(std::filesystem::exists(dir.file("alpha.jpeg")));
}
#endif

}  // namespace
}  // namespace Kvl::Test
