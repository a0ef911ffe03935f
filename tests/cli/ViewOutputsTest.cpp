// The matte and status views beside a keyed picture: their pixels from the
// keyed output's and the plate's, rows from either end of the file, over a
// background and after refinement, frame sequences, and the refusals.

#include <gtest/gtest.h>

#include <filesystem>

#include "CliTestSupport.h"
#include "CodecFiles.h"
#include "keying/KeyViews.h"
#include "support/TgaBytes.h"

namespace Kvl::Test {
namespace {

namespace fs = std::filesystem;

// The status view as a person would compute it: a quarter of the Rec. 601
// luma, three quarters of the marking colour.
Pixel32 expectedStatus(Pixel32 plate, std::uint8_t alpha) {
  const int luma = (77 * redOf(plate) + 150 * greenOf(plate) + 29 * blueOf(plate) + 128) / 256;
  const Pixel32 colour = alpha == 0 ? makePixel(0x20, 0x60, 0xFF) : alpha == 255 ? makePixel(255, 255, 255) : makePixel(0xFF, 0xB0, 0);
  const auto mix = [&](int c) { return static_cast<std::uint8_t>((luma + 3 * c + 2) / 4); };
  return makePixel(mix(redOf(colour)), mix(greenOf(colour)), mix(blueOf(colour)), 255);
}

TEST(KeyViews, ThreeStatusColoursAndTheMatteAsGrey) {
  const Pixel32 plate[] = {makePixel(0x10, 0xF0, 0x20), makePixel(0x80, 0x40, 0x30), makePixel(0xFF, 0xFF, 0xFF),
                           makePixel(0, 0, 0)};
  const Pixel32 keyed[] = {makePixel(1, 2, 3, 0), makePixel(1, 2, 3, 1), makePixel(1, 2, 3, 254),
                           makePixel(1, 2, 3, 255)};
  Pixel32 status[4], matte[4];
  statusView(plate, keyed, status, 4);
  matteAsGrey(keyed, matte, 4);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(status[i], expectedStatus(plate[i], alphaOf(keyed[i]))) << i;
    const std::uint8_t a = alphaOf(keyed[i]);
    EXPECT_EQ(matte[i], makePixel(a, a, a, 255)) << i;
  }
}

void expectViewsOf(const TargaFile& keyed, const std::vector<Pixel32>& plateBottomUp, const std::string& matte,
                   const std::string& status) {
  const TargaFile matteFile = readTargaFile(matte);
  const TargaFile statusFile = readTargaFile(status);
  ASSERT_EQ(matteFile.pixels.size(), keyed.pixels.size());
  ASSERT_EQ(statusFile.pixels.size(), keyed.pixels.size());
  for (std::size_t i = 0; i < keyed.pixels.size(); ++i) {
    const std::uint8_t a = alphaOf(keyed.pixels[i]);
    EXPECT_EQ(matteFile.pixels[i], makePixel(a, a, a, 255)) << i;
    EXPECT_EQ(statusFile.pixels[i], expectedStatus(plateBottomUp[i], a)) << i;
  }
}

// Both keyers; a Targa plate read from the bottom, refined and laid over a
// background, whose views still show the refined matte, not the opaque one.
TEST(ViewOutputs, MatteAndStatusFollowTheRefinedKeyNotTheBackground) {
  TempDir dir;
  const std::vector<Pixel32> shot = greenScreen(7, 5);
  const std::string input = TgaBytes(7, 5).pixels(shot).writeTo(dir.path() / "shot.tga");
  const std::vector<std::vector<std::string>> keyers = {{"--contrast", "40", "--offset", "20"}, {"--keyer", "plate"}};
  for (const std::vector<std::string>& keyer : keyers) {
    std::vector<std::string> plain = {"key", input, dir.file("keyed.tga"), "--feather", "1"};
    plain.insert(plain.end(), keyer.begin(), keyer.end());
    ASSERT_EQ(runCli(plain).status, 0);
    std::vector<std::string> viewed = plain;
    viewed[2] = dir.file("over.tga");
    viewed.insert(viewed.end(), {"--background", "#204080", "--matte-out", dir.file("m.tga"), "--status", dir.file("s.tga")});
    const CliRun run = runCli(viewed);
    ASSERT_EQ(run.status, 0) << keyer.front() << run.err;
    expectViewsOf(readTargaFile(dir.file("keyed.tga")), shot, dir.file("m.tga"), dir.file("s.tga"));
    EXPECT_TRUE(leftoverPartials(dir.path()).empty());
  }
}

#if KEYVALE_HAVE_PNG
// A PNG plate hands out its rows from the top: the status view must read
// the plate again in that order and place each row as the keyed rows are.
TEST(ViewOutputs, StatusOfATopDownPlateMatchesRowForRow) {
  TempDir dir;
  constexpr int Width = 5, Height = 9;
  const std::vector<Pixel32> shot = greenScreen(Width, Height);  // bottom row first
  PngContent png{Width, Height, 2, 8, false, {}, {}, {}};
  for (int y = Height; y-- > 0;) {
    std::vector<std::uint8_t> row;
    for (int x = 0; x < Width; ++x) {
      const Pixel32 p = shot[static_cast<std::size_t>(y * Width + x)];
      row.insert(row.end(), {redOf(p), greenOf(p), blueOf(p)});
    }
    png.rows.push_back(row);
  }
  writePng(dir.file("shot.png"), png);
  const CliRun run = runCli({"key", dir.file("shot.png"), dir.file("keyed.tga"), "--contrast", "40", "--offset", "20",
                             "--matte-out", dir.file("m.tga"), "--status", dir.file("s.tga")});
  ASSERT_EQ(run.status, 0) << run.err;
  expectViewsOf(readTargaFile(dir.file("keyed.tga")), shot, dir.file("m.tga"), dir.file("s.tga"));
}
#endif

TEST(ViewOutputs, SequencesGetAViewPerFrameAndResumeWhenOneIsMissing) {
  TempDir dir;
  for (int frame = 1; frame <= 3; ++frame) {
    TgaBytes(6, 4).pixels(greenScreen(6, 4, GreenChannel, frame)).writeTo(dir.path() / ("p." + std::to_string(frame) + ".tga"));
  }
  const std::vector<std::string> key = {"key", dir.file("p.#.tga"), dir.file("k.#.tga"), "--frames", "1-3",
                                        "--matte-out", dir.file("m.#.tga"), "--status", dir.file("s.#.tga")};
  ASSERT_EQ(runCli(key).status, 0);
  for (int frame = 1; frame <= 3; ++frame) {
    const std::string n = std::to_string(frame);
    expectViewsOf(readTargaFile(dir.file("k." + n + ".tga")), greenScreen(6, 4, GreenChannel, frame),
                  dir.file("m." + n + ".tga"), dir.file("s." + n + ".tga"));
  }
  fs::remove(dir.path() / "s.2.tga");
  std::vector<std::string> resume = key;
  resume.push_back("--skip-existing");
  const CliRun run = runCli(resume);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("p.1.tga: skipped"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("p.2.tga: skipped"), std::string::npos) << run.out;
  EXPECT_TRUE(fs::exists(dir.path() / "s.2.tga"));
}

TEST(ViewOutputs, RefusedWhereTheyWouldNameManyPicturesOrLoseOne) {
  TempDir dir;
  const std::string input = TgaBytes(6, 4).pixels(greenScreen(6, 4)).writeTo(dir.path() / "shot.tga");
  const auto refusal = [&](const std::vector<std::string>& arguments) {
    const CliRun run = runCli(arguments);
    EXPECT_NE(run.status, 0);
    return run.err;
  };
  EXPECT_NE(refusal({"key", input, "--out-dir", dir.file("o"), "--matte-out", dir.file("m.tga")}).find("names one picture"),
            std::string::npos);
  EXPECT_NE(refusal({"key", dir.file("p.#.tga"), dir.file("k.#.tga"), "--frames", "1-2", "--status", dir.file("s.tga")})
                .find("frame pattern"),
            std::string::npos);
  EXPECT_NE(refusal({"key", input, dir.file("k.tga"), "--matte-out", input}).find("would overwrite the input"),
            std::string::npos);
  EXPECT_NE(refusal({"key", input, dir.file("k.tga"), "--status", dir.file("k.tga")}).find("would overwrite the output"),
            std::string::npos);
  // A view that cannot be made leaves no keyed output behind it half-made.
  const CliRun unwritable = runCli({"key", input, dir.file("k.tga"), "--matte-out", dir.file("none/m.tga")});
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_NE(unwritable.err.find("none/m.tga"), std::string::npos) << unwritable.err;
  EXPECT_FALSE(fs::exists(dir.path() / "k.tga"));
  EXPECT_TRUE(leftoverPartials(dir.path()).empty());
}

}  // namespace
}  // namespace Kvl::Test
