// Deep pictures through keyvale-cli: an OpenEXR sequence keyed in float
// with its highlights kept, premultiplied by default and straight on
// request; an 8-bit plate keyed into OpenEXR's linear light; TIFF naming
// its alpha; light wrap over a background; and the refusals.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "CliTestSupport.h"
#include "imageio/DeepFiles.h"
#include "support/TgaBytes.h"

#if KEYVALE_HAVE_TIFF
#include <tiff.h>
#endif

namespace Kvl::Test {
namespace {

namespace fs = std::filesystem;

#if KEYVALE_HAVE_EXR
// A linear green plate with a bright, warm subject in its middle whose
// core is far above 1.0, and a soft edge around it. RGB, no alpha.
DeepSamples linearPlate(std::uint32_t width, std::uint32_t height, float seed) {
  DeepSamples samples{width, height, false, {}};
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const float dx = static_cast<float>(x) - width / 2.0f, dy = static_cast<float>(y) - height / 2.0f;
      const float a = std::clamp(6 - std::sqrt(dx * dx + dy * dy) / 2, 0.0f, 1.0f);
      const float core = std::sqrt(dx * dx + dy * dy) < 4 ? 6.0f : 0.9f;
      samples.values.insert(samples.values.end(), {a * core + (1 - a) * 0.05f, a * 0.3f + (1 - a) * (0.6f + seed),
                                                   a * 0.2f + (1 - a) * 0.08f});
    }
  }
  return samples;
}

TEST(DeepCommands, AnExrSequenceKeysInFloatPremultipliedWithItsHighlightsKept) {
  TempDir dir;
  for (int frame = 1; frame <= 3; ++frame) {
    writeExr(dir.file("p." + std::to_string(frame) + ".exr"), linearPlate(40, 30, 0.01f * static_cast<float>(frame)), true);
  }
  const std::vector<std::string> key = {"key", dir.file("p.#.exr"), dir.file("k.#.exr"), "--frames", "1-3", "--keyer", "plate"};
  const CliRun run = runCli(key);
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(runCli({"key", dir.file("p.2.exr"), dir.file("straight.exr"), "--keyer", "plate", "--settings-out",
                    dir.file("s.txt"), "--alpha", "straight", "--matte-out", dir.file("m.tga"), "--status",
                    dir.file("st.tga")}).status, 0);
  bool half = false;
  std::string compression;
  const DeepSamples premultiplied = readExr(dir.file("k.2.exr"), half, compression);
  const DeepSamples straight = readExr(dir.file("straight.exr"), half, compression);
  EXPECT_TRUE(half);
  EXPECT_EQ(compression, "zip");
  ASSERT_TRUE(premultiplied.alpha);
  ASSERT_EQ(premultiplied.values.size(), straight.values.size());
  float brightest = 0;
  std::size_t between = 0;
  for (std::size_t i = 0; i < premultiplied.values.size(); i += 4) {
    const float alpha = straight.values[i + 3];
    EXPECT_EQ(premultiplied.values[i + 3], alpha);
    between += alpha > 0 && alpha < 1;
    for (std::size_t c = 0; c < 3; ++c) {
      // Both half floats: the product rounded once more.
      EXPECT_NEAR(premultiplied.values[i + c], straight.values[i + c] * alpha, std::abs(straight.values[i + c]) / 1024 + 1e-4)
          << "sample " << i + c;
    }
    brightest = std::max(brightest, premultiplied.values[i]);
  }
  EXPECT_GT(brightest, 5.0f);  // the core at 6.0, solid, not clipped
  // The matte view of a deep key: its alpha in 8 bits (the EXR's alpha is a
  // half float, so a level either way).
  const TargaFile matte = readTargaFile(dir.file("m.tga"));  // bottom row first
  ASSERT_EQ(matte.pixels.size() * 4, straight.values.size());
  for (std::size_t i = 0; i < matte.pixels.size(); ++i) {
    const std::size_t x = i % 40, y = 29 - i / 40;
    EXPECT_NEAR(redOf(matte.pixels[i]), straight.values[(y * 40 + x) * 4 + 3] * 255, 1.0) << i;
  }
  EXPECT_TRUE(fs::exists(dir.path() / "st.tga"));
  EXPECT_GT(between, 10u);
  // A farm resumes: only the missing frame is keyed again.
  fs::remove(dir.path() / "k.3.exr");
  std::vector<std::string> resume = key;
  resume.push_back("--skip-existing");
  const CliRun again = runCli(resume);
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.out.find("p.1.exr: skipped"), std::string::npos) << again.out;
  EXPECT_TRUE(fs::exists(dir.path() / "k.3.exr"));
  EXPECT_TRUE(leftoverPartials(dir.path()).empty());
}

// The classic keyer keys through 8 bits; an 8-bit plate keyed into OpenEXR
// has its sRGB levels turned into linear light, premultiplied.
TEST(DeepCommands, EightBitKeysGoIntoExrAsLinearLight) {
  TempDir dir;
  const std::vector<Pixel32> shot = greenScreen(6, 4);
  const std::string input = TgaBytes(6, 4).pixels(shot).writeTo(dir.path() / "shot.tga");
  ASSERT_EQ(runCli({"key", input, dir.file("k.tga"), "--contrast", "40", "--offset", "20"}).status, 0);
  const CliRun run = runCli({"key", input, dir.file("k.exr"), "--contrast", "40", "--offset", "20"});
  ASSERT_EQ(run.status, 0) << run.err;
  const TargaFile keyed = readTargaFile(dir.file("k.tga"));  // bottom row first
  bool half = false;
  std::string compression;
  const DeepSamples exr = readExr(dir.file("k.exr"), half, compression);  // top row first
  ASSERT_EQ(exr.values.size(), keyed.pixels.size() * 4);
  const auto linear = [](int level) {
    const double v = level / 255.0;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
  };
  for (std::size_t i = 0; i < keyed.pixels.size(); ++i) {
    const std::size_t x = i % 6, y = 3 - i / 6;
    const float* got = &exr.values[(y * 6 + x) * 4];
    const Pixel32 p = keyed.pixels[i];
    const double alpha = alphaOf(p) / 255.0;
    EXPECT_NEAR(got[3], alpha, 1.0 / 2048) << i;
    EXPECT_NEAR(got[0], linear(redOf(p)) * alpha, 1.0 / 1024) << i;
    EXPECT_NEAR(got[1], linear(greenOf(p)) * alpha, 1.0 / 1024) << i;
  }
  // And the classic keyer reads an OpenEXR plate, shown in 8 bits.
  const CliRun back = runCli({"key", dir.file("k.exr"), dir.file("again.tga")});
  EXPECT_EQ(back.status, 0) << back.err;
}
#endif

#if KEYVALE_HAVE_EXR && KEYVALE_HAVE_PNG
// A 16-bit PNG is sRGB unless told: keyed into OpenEXR its values are
// turned into linear light; said to be linear, they are kept.
TEST(DeepCommands, TheInputTransferDecidesHowValuesReachLinearLight) {
  TempDir dir;
  DeepSamples plate{9, 5, false, {}};
  for (std::size_t i = 0; i < 9 * 5; ++i) {
    const bool subject = i % 9 >= 3 && i % 9 < 6;  // a solid warm band down the middle
    plate.values.insert(plate.values.end(), subject ? std::initializer_list<float>{50000, 30000, 20000}
                                                    : std::initializer_list<float>{9000, 52000, 8000});
  }
  writePng16(dir.file("p.png"), plate);
  ASSERT_EQ(runCli({"key", dir.file("p.png"), dir.file("srgb.exr"), "--keyer", "plate"}).status, 0);
  ASSERT_EQ(runCli({"key", dir.file("p.png"), dir.file("linear.exr"), "--keyer", "plate", "--input-transfer", "linear"}).status, 0);
  bool half = false;
  std::string compression;
  const DeepSamples srgb = readExr(dir.file("srgb.exr"), half, compression);
  const DeepSamples linear = readExr(dir.file("linear.exr"), half, compression);
  const std::size_t middle = (2 * 9 + 4) * 4;  // row 2, column 4: solid subject
  ASSERT_EQ(linear.values[middle + 3], 1.0f);
  const double coded = 50000.0 / 65535;
  EXPECT_NEAR(linear.values[middle], coded, coded / 1024);
  const double decoded = std::pow((coded + 0.055) / 1.055, 2.4);
  EXPECT_NEAR(srgb.values[middle], decoded, decoded / 1024);
}
#endif

#if KEYVALE_HAVE_TIFF
TEST(DeepCommands, TiffNamesItsAlphaAndPngRefusesPremultiplied) {
  TempDir dir;
  DeepSamples plate{8, 6, false, {}};
  for (std::size_t i = 0; i < 8 * 6; ++i) plate.values.insert(plate.values.end(), {9000.0f + static_cast<float>(i * 97), 52000, 8000});
  writeTiff16(dir.file("p.tif"), plate, false);
  for (const char* alpha : {"straight", "premultiplied"}) {
    const CliRun run = runCli({"key", dir.file("p.tif"), dir.file("k.tif"), "--keyer", "plate", "--alpha", alpha});
    ASSERT_EQ(run.status, 0) << run.err;
    std::uint16_t extra = 0;
    const DeepSamples keyed = readTiff16(dir.file("k.tif"), extra);
    EXPECT_EQ(extra, std::string(alpha) == "straight" ? EXTRASAMPLE_UNASSALPHA : EXTRASAMPLE_ASSOCALPHA);
    EXPECT_TRUE(keyed.alpha);
  }
  const CliRun png = runCli({"key", dir.file("p.tif"), dir.file("k.png"), "--keyer", "plate", "--alpha", "premultiplied"});
  EXPECT_EQ(png.status, 1);
  EXPECT_NE(png.err.find("straight alpha only"), std::string::npos) << png.err;
  EXPECT_FALSE(fs::exists(dir.path() / "k.png"));
}
#endif

TEST(DeepCommands, LightWrapChangesOnlyTheEdgesAndNeedsABackground) {
  TempDir dir;
  constexpr int Width = 24, Height = 16;
  std::vector<Pixel32> shot;  // bottom row first: a red square on green
  for (int y = 0; y < Height; ++y) {
    for (int x = 0; x < Width; ++x) {
      const bool inside = x >= 6 && x < 18 && y >= 3 && y < 13;
      shot.push_back(inside ? makePixel(200, 40, 30) : makePixel(20, 220, 30));
    }
  }
  const std::string input = TgaBytes(Width, Height).pixels(shot).writeTo(dir.path() / "shot.tga");
  const std::vector<std::string> over = {"key", input, "", "--keyer", "plate", "--background", "#2040F0"};
  std::vector<std::string> plain = over, off = over, wrapped = over;
  plain[2] = dir.file("plain.tga");
  off[2] = dir.file("off.tga");
  off.insert(off.end(), {"--light-wrap", "0"});
  wrapped[2] = dir.file("wrapped.tga");
  wrapped.insert(wrapped.end(), {"--light-wrap", "3"});
  for (const auto& arguments : {plain, off, wrapped}) ASSERT_EQ(runCli(arguments).status, 0) << arguments[2];
  EXPECT_EQ(readFileBytes(dir.file("plain.tga")), readFileBytes(dir.file("off.tga")));
  const TargaFile a = readTargaFile(dir.file("plain.tga")), b = readTargaFile(dir.file("wrapped.tga"));
  ASSERT_EQ(a.pixels.size(), b.pixels.size());
  const auto at = [&](const TargaFile& file, int x, int y) { return file.pixels[static_cast<std::size_t>(y * Width + x)]; };
  EXPECT_EQ(at(a, 12, 8), at(b, 12, 8));   // the square's middle: more than 3 pixels in
  EXPECT_EQ(at(a, 1, 1), at(b, 1, 1));     // the backdrop: background only
  EXPECT_NE(at(a, 6, 8), at(b, 6, 8));     // the square's left edge takes the blue
  EXPECT_GT(blueOf(at(b, 6, 8)), blueOf(at(a, 6, 8)));
  const CliRun refused = runCli({"key", input, dir.file("x.tga"), "--light-wrap", "4"});
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("--background"), std::string::npos);
}

}  // namespace
}  // namespace Kvl::Test
