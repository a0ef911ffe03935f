// Matte refinement through the still path: the sink that turns the keyer's
// chunks into the refiner's row order and back, pictures read from either
// end through keyvale-cli, and the options' refusals.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

#include "CliTestSupport.h"
#include "CodecFiles.h"
#include "cli/Refinement.h"
#include "support/TgaBytes.h"

#if KEYVALE_HAVE_PNG
#include <png.h>
#endif

namespace Kvl::Test {
namespace {

// Keeps what it is given, row by row from the bottom, and when.
class RecordingSink final : public PictureSink {
public:
  bool open(const std::string&, std::uint64_t width, std::uint64_t height, RowOrder) override {
    width_ = width;
    rows.assign(static_cast<std::size_t>(width * height), 0);
    return true;
  }
  void writeRows(std::uint64_t firstRow, const Pixel32* pixels, std::size_t count) override {
    std::copy_n(pixels, count * width_, rows.begin() + static_cast<std::ptrdiff_t>(firstRow * width_));
  }
  bool commit() override {
    if (committed != nullptr) *committed = true;
    return true;
  }
  std::vector<Pixel32> rows;  // bottom row first
  bool* committed = nullptr;  // the test's own flag: it outlives a sink that is abandoned

private:
  std::uint64_t width_ = 0;
};

std::vector<Pixel32> flipRows(const std::vector<Pixel32>& pixels, std::size_t width) {
  std::vector<Pixel32> flipped;
  for (std::size_t y = pixels.size() / width; y-- > 0;) {
    flipped.insert(flipped.end(), pixels.begin() + static_cast<std::ptrdiff_t>(y * width),
                   pixels.begin() + static_cast<std::ptrdiff_t>((y + 1) * width));
  }
  return flipped;
}

std::shared_ptr<const MatteRefinement> everyStep() {
  auto refinement = std::make_shared<MatteRefinement>();
  refinement->choke = 2;
  refinement->feather = 3;
  refinement->garbage = {{0, 0, 3, 40}, {10, 15, 100, 2}};
  refinement->holdoutMatte = std::make_shared<const MatteMask>(MatteMask{2, 1, {0, 96}});
  return refinement;
}

// Chunks of every size, from the bottom up as a Targa source hands them and
// from the top down as PNG, JPEG and frames do, bottom row first inside.
TEST(RefiningSink, ChunksOfAnySizeFromEitherEndGiveTheWholeFrameResult) {
  constexpr std::size_t Width = 13, Height = 29;
  const std::vector<Pixel32> keyed = greenScreen(Width, Height);  // bottom row first, alpha 0
  std::vector<Pixel32> topDown = flipRows(keyed, Width);
  for (std::size_t i = 0; i < topDown.size(); ++i) topDown[i] |= Pixel32{static_cast<std::uint8_t>(i * 37 % 256)} << 24;
  const std::vector<Pixel32> bottomUp = flipRows(topDown, Width);
  const auto refinement = everyStep();
  std::vector<Pixel32> whole = topDown;
  refineFrame(*refinement, whole.data(), Width, Height);
  const std::vector<Pixel32> want = flipRows(whole, Width);

  for (const RowOrder order : {RowOrder::BottomUp, RowOrder::TopDown}) {
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{5}, std::size_t{7}, Height}) {
      bool committed = false;
      auto recording = std::make_unique<RecordingSink>();
      recording->committed = &committed;
      RecordingSink& got = *recording;
      Cli::RefiningSink sink(std::move(recording), refinement);
      ASSERT_TRUE(sink.open("unused", Width, Height, order));
      for (std::size_t done = 0; done < Height; done += chunk) {
        const std::size_t rows = std::min(chunk, Height - done);
        const std::size_t first = order == RowOrder::BottomUp ? done : Height - done - rows;
        sink.writeRows(first, bottomUp.data() + first * Width, rows);
      }
      ASSERT_TRUE(sink.commit()) << sink.failure();
      EXPECT_TRUE(committed);
      EXPECT_EQ(got.rows, want) << (order == RowOrder::BottomUp ? "bottom up" : "top down") << ", chunks of "
                                << chunk;
    }
  }
}

// Rows out of order would give a wrong matte: the output is refused instead.
TEST(RefiningSink, RowsOutOfOrderFailInsteadOfWritingAWrongMatte) {
  bool committed = false;
  auto recording = std::make_unique<RecordingSink>();
  recording->committed = &committed;
  Cli::RefiningSink sink(std::move(recording), everyStep());
  ASSERT_TRUE(sink.open("unused", 4, 6, RowOrder::BottomUp));
  const std::vector<Pixel32> rows(8, 0xFF00FF00u);
  sink.writeRows(0, rows.data(), 2);
  sink.writeRows(3, rows.data(), 2);
  EXPECT_FALSE(sink.commit());
  EXPECT_FALSE(committed);
}

std::vector<int> alphasOf(const std::vector<Pixel32>& pixels) {
  std::vector<int> alphas;
  for (const Pixel32 pixel : pixels) alphas.push_back(alphaOf(pixel));
  return alphas;
}

const std::vector<std::string> Setting = {"--contrast", "40", "--offset", "20"};

CliRun key(const std::string& input, const std::string& output, std::vector<std::string> options) {
  std::vector<std::string> arguments = {"key", input, output};
  arguments.insert(arguments.end(), Setting.begin(), Setting.end());
  arguments.insert(arguments.end(), options.begin(), options.end());
  return runCli(arguments);
}

#if KEYVALE_HAVE_PNG
// Wide enough that the keyer hands the picture over in several chunks, the
// last one short: the refiner's window spans chunk borders either way.
TEST(Refinement, TargaAndPngInputsGiveTheMatteOfTheWholeFrameRefined) {
  constexpr int Width = 700, Height = 900;
  TempDir dir;
  const std::vector<Pixel32> shot = greenScreen(Width, Height);  // bottom row first
  const std::string targa = TgaBytes(Width, Height).pixels(shot).writeTo(dir.path() / "shot.tga");
  PngContent content{Width, Height, PNG_COLOR_TYPE_RGB, 8, false, {}, {}, {}};
  for (int y = Height - 1; y >= 0; --y) {
    std::vector<std::uint8_t> row;
    for (int x = 0; x < Width; ++x) {
      const Pixel32 p = shot[static_cast<std::size_t>(y * Width + x)];
      row.insert(row.end(), {redOf(p), greenOf(p), blueOf(p)});
    }
    content.rows.push_back(row);
  }
  writePng(dir.file("shot.png"), content);

  const std::vector<std::string> refine = {"--choke", "3", "--feather", "4", "--garbage", "650,-10,100,300",
                                           "--garbage", "0,450,20,20"};
  ASSERT_EQ(key(targa, dir.file("plain.tga"), {}).status, 0);
  const CliRun fromTarga = key(targa, dir.file("targa.tga"), refine);
  ASSERT_EQ(fromTarga.status, 0) << fromTarga.err;
  const CliRun fromPng = key(dir.file("shot.png"), dir.file("png.tga"), refine);
  ASSERT_EQ(fromPng.status, 0) << fromPng.err;

  std::vector<Pixel32> want = flipRows(readTargaFile(dir.file("plain.tga")).pixels, Width);
  Cli::RefineOptions options;
  options.choke = 3;
  options.feather = 4;
  options.garbage = {{650, -10, 100, 300}, {0, 450, 20, 20}};
  std::shared_ptr<const MatteRefinement> refinement;
  ASSERT_TRUE(Cli::loadRefinement(options, refinement, std::cerr));
  refineFrame(*refinement, want.data(), Width, Height);
  want = flipRows(want, Width);

  const TargaFile targaOut = readTargaFile(dir.file("targa.tga"));
  const TargaFile pngOut = readTargaFile(dir.file("png.tga"));
  EXPECT_TRUE(targaOut.pixels == want);
  EXPECT_TRUE(pngOut.pixels == want);
  EXPECT_NE(alphasOf(want), alphasOf(readTargaFile(dir.file("plain.tga")).pixels));
  // The garbage reaching out past the top-right corner is clear, whatever was keyed there.
  EXPECT_EQ(alphaOf(targaOut.pixels[static_cast<std::size_t>((Height - 1) * Width + Width - 1)]), 0);
}
#endif

// A mask file is read once and stretched: a 2x1 white-and-black picture
// clears the left half of every picture of a batch, whatever its size.
TEST(Refinement, MaskFilesClearWhereWhiteAndStretchToEachPicture) {
  TempDir dir;
  const std::string mask = TgaBytes(2, 1).pixels({makePixel(255, 255, 255), makePixel(0, 0, 0)}).writeTo(
      dir.path() / "mask.tga");
  const std::string small = TgaBytes(6, 4).pixels(greenScreen(6, 4)).writeTo(dir.path() / "small.tga");
  const std::string large =
      TgaBytes(10, 3).pixels(greenScreen(10, 3, GreenChannel, 1)).writeTo(dir.path() / "large.tga");
  std::vector<std::string> arguments = {"key", small, large, "--out-dir", dir.file("keyed"), "--garbage-matte", mask};
  arguments.insert(arguments.end(), Setting.begin(), Setting.end());
  const CliRun run = runCli(arguments);
  ASSERT_EQ(run.status, 0) << run.err;
  arguments = {"key", small, large, "--out-dir", dir.file("plain")};
  arguments.insert(arguments.end(), Setting.begin(), Setting.end());
  ASSERT_EQ(runCli(arguments).status, 0);
  for (const auto& [name, width] : std::map<std::string, std::size_t>{{"small.tga", 6}, {"large.tga", 10}}) {
    const auto masked = readTargaFile(dir.path() / "keyed" / name).pixels;
    const auto plain = readTargaFile(dir.path() / "plain" / name).pixels;
    ASSERT_EQ(masked.size(), plain.size());
    for (std::size_t i = 0; i < masked.size(); ++i) {
      EXPECT_EQ(masked[i], i % width < width / 2 ? plain[i] & 0x00FFFFFFu : plain[i]) << name << " pixel " << i;
    }
  }
}

TEST(Refinement, MalformedRectanglesAreUsageErrorsAndUnreadableMasksFailBeforeAnyOutput) {
  TempDir dir;
  const std::string input = TgaBytes(6, 4).pixels(greenScreen(6, 4)).writeTo(dir.path() / "shot.tga");
  for (const char* malformed : {"1,2,3", "1,2,3,4,5", "a,b,c,d", "0,0,0,5", "0,0,5,-1", "1, 2,3,4", "1,2,3,4,"}) {
    const CliRun run = key(input, dir.file("out.tga"), {"--garbage", malformed});
    EXPECT_EQ(run.status, Cli::ExitUsage) << malformed;
    EXPECT_NE(run.err.find("--garbage takes X,Y,W,H"), std::string::npos) << run.err;
  }
  for (const char* option : {"--choke", "--feather"}) {
    EXPECT_EQ(key(input, dir.file("out.tga"), {option, "101"}).status, Cli::ExitUsage) << option;
  }
  const std::string notAPicture = dir.file("notes.txt");
  std::ofstream(notAPicture) << "not a picture";
  for (const char* option : {"--garbage-matte", "--holdout-matte"}) {
    for (const std::string& mask : {dir.file("missing.png"), notAPicture}) {
      const CliRun run = runCli({"key", input, "--out-dir", dir.file("keyed"), option, mask});
      EXPECT_EQ(run.status, Cli::ExitFileError) << option;
      EXPECT_NE(run.err.find(mask + ": "), std::string::npos) << run.err;
      EXPECT_FALSE(std::filesystem::exists(dir.file("keyed"))) << option;
    }
  }
}

}  // namespace
}  // namespace Kvl::Test
