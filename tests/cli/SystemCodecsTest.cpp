// PNG and JPEG in keyvale-cli.exe, through the codecs Windows carries:
// PNG in keys exactly as the same Targa (as with libpng on Linux), PNG out
// holds the keyed pixels upright, alpha and all, and a JPEG keys as its
// decoded pixels do. Windows builds only.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "CliTestSupport.h"
#include "SystemCodecFiles.h"
#include "imageio/PathText.h"
#include "support/TgaBytes.h"

namespace Kvl::Test {
namespace {

#if KEYVALE_HAVE_SYSTEM_CODECS

namespace fs = std::filesystem;

constexpr int Width = 9, Height = 6;  // not square, rows and columns all differ

// Bottom row first (as Targa keeps them) to top row first, 4 bytes a pixel.
BgraImage uprightBgra(const std::vector<Pixel32>& bottomUp, int width, int height, std::uint8_t alpha) {
  BgraImage image{static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), {}};
  for (int y = height - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x) {
      const Pixel32 p = bottomUp[static_cast<std::size_t>(y * width + x)];
      image.bgra.insert(image.bgra.end(), {blueOf(p), greenOf(p), redOf(p), alpha});
    }
  }
  return image;
}

std::vector<Pixel32> bottomUpPixels(const BgraImage& image) {
  std::vector<Pixel32> pixels;
  for (std::uint32_t y = image.height; y-- > 0;) {
    for (std::uint32_t x = 0; x < image.width; ++x) {
      const std::uint8_t* p = image.bgra.data() + (std::size_t{y} * image.width + x) * 4;
      pixels.push_back(makePixel(p[2], p[1], p[0]));
    }
  }
  return pixels;
}

// Keys `picture` and `targa` alike (auto settings: detection and auto
// adjust see the same pixels) and expects the same bytes and lines.
void expectKeyedAlike(const std::string& picture, const std::string& targa, const TempDir& dir) {
  const CliRun a = runCli({"key", picture, dir.file("from-picture.tga"), "--auto-adjust"});
  const CliRun b = runCli({"key", targa, dir.file("from-targa.tga"), "--auto-adjust"});
  ASSERT_EQ(a.status, Cli::ExitSuccess) << a.err;
  ASSERT_EQ(b.status, Cli::ExitSuccess) << b.err;
  EXPECT_EQ(a.out, b.out);
  EXPECT_EQ(readFileBytes(dir.path() / "from-picture.tga"), readFileBytes(dir.path() / "from-targa.tga"));
}

TEST(SystemCodecs, PngKeysExactlyAsTheSameTarga) {
  TempDir dir;
  const std::vector<Pixel32> pixels = greenScreen(Width, Height);
  const std::string targa = TgaBytes(Width, Height).pixels(pixels).writeTo(dir.path() / "shot.tga");
  // The file's own alpha is dropped, as the Targa reader drops it.
  writeWithSystem(dir.file("shot.png"), SystemFormat::Png, uprightBgra(pixels, Width, Height, 0x40));
  expectKeyedAlike(dir.file("shot.png"), targa, dir);
}

// BMP comes for free with the system's codecs, once the Targa reader has
// refused the file.
TEST(SystemCodecs, BmpKeysExactlyAsTheSameTarga) {
  TempDir dir;
  const std::vector<Pixel32> pixels = greenScreen(Width, Height, BlueChannel);
  const std::string targa = TgaBytes(Width, Height).pixels(pixels).writeTo(dir.path() / "shot.tga");
  writeWithSystem(dir.file("shot.bmp"), SystemFormat::Bmp, uprightBgra(pixels, Width, Height, 0));
  expectKeyedAlike(dir.file("shot.bmp"), targa, dir);
}

TEST(SystemCodecs, PngOutputHoldsTheKeyedPixelsUpright) {
  TempDir dir;
  const std::string targa = TgaBytes(Width, Height).pixels(greenScreen(Width, Height)).writeTo(dir.path() / "s.tga");
  ASSERT_EQ(runCli({"key", targa, dir.file("keyed.tga")}).status, Cli::ExitSuccess);
  const CliRun run = runCli({"key", targa, dir.file("keyed.png")});
  ASSERT_EQ(run.status, Cli::ExitSuccess) << run.err;
  const TargaFile keyed = readTargaFile(dir.path() / "keyed.tga");
  const BgraImage png = readWithSystem(dir.file("keyed.png"));
  ASSERT_EQ(png.width, std::uint32_t{Width});
  ASSERT_EQ(png.height, std::uint32_t{Height});
  for (int y = 0; y < Height; ++y) {  // y from the top
    for (int x = 0; x < Width; ++x) {
      const Pixel32 want = keyed.pixels[static_cast<std::size_t>((Height - 1 - y) * Width + x)];
      const std::uint8_t* got = png.bgra.data() + static_cast<std::size_t>(y * Width + x) * 4;
      const Pixel32 gotPixel = static_cast<Pixel32>(got[0] | got[1] << 8 | got[2] << 16 | Pixel32{got[3]} << 24);
      EXPECT_EQ(gotPixel, want) << "x " << x << " y " << y;
    }
  }
  EXPECT_TRUE(leftoverPartials(dir.path()).empty());
}

// The JPEG's colours are the decoder's: keyed, they give what the same
// decoded pixels give as a Targa. They lie nearer the pixels the file was
// made from than those pixels flipped or with red and blue swapped (the
// sharp edges of the picture cost a JPEG many levels in places).
TEST(SystemCodecs, JpegKeysAsItsDecodedPixels) {
  TempDir dir;
  const std::vector<Pixel32> pixels = greenScreen(16, 12);
  writeWithSystem(dir.file("shot.jpg"), SystemFormat::Jpeg, uprightBgra(pixels, 16, 12, 0xFF));
  const BgraImage decoded = readWithSystem(dir.file("shot.jpg"));
  ASSERT_EQ(decoded.bgra.size(), std::size_t{16 * 12 * 4});
  const std::vector<Pixel32> asDecoded = bottomUpPixels(decoded);
  const auto distance = [&](const std::vector<Pixel32>& from) {
    long total = 0;
    for (std::size_t i = 0; i < from.size(); ++i) {
      total += std::abs(redOf(from[i]) - redOf(asDecoded[i])) + std::abs(greenOf(from[i]) - greenOf(asDecoded[i])) +
               std::abs(blueOf(from[i]) - blueOf(asDecoded[i]));
    }
    return total;
  };
  std::vector<Pixel32> swapped, flipped;
  for (Pixel32 p : pixels) swapped.push_back(makePixel(blueOf(p), greenOf(p), redOf(p)));
  for (int y = 11; y >= 0; --y) flipped.insert(flipped.end(), pixels.begin() + y * 16, pixels.begin() + y * 16 + 16);
  EXPECT_LT(distance(pixels), distance(swapped));
  EXPECT_LT(distance(pixels), distance(flipped));
  const std::string targa = TgaBytes(16, 12).pixels(asDecoded).writeTo(dir.path() / "decoded.tga");
  expectKeyedAlike(dir.file("shot.jpg"), targa, dir);
}

TEST(SystemCodecs, ABrokenFileInABatchIsNamedAndTheRestAreKeyed) {
  TempDir dir;
  const fs::path shots = dir.path() / "shots";
  fs::create_directory(shots);
  const std::vector<Pixel32> pixels = greenScreen(Width, Height);
  writeWithSystem((shots / "a.png").string(), SystemFormat::Png, uprightBgra(pixels, Width, Height, 0xFF));
  writeWithSystem((shots / "b.jpg").string(), SystemFormat::Jpeg, uprightBgra(pixels, Width, Height, 0xFF));
  TgaBytes(Width, Height).pixels(pixels).writeTo(shots / "c.tga");
  const std::vector<std::uint8_t> cut = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H'};
  std::ofstream((shots / "broken.png"), std::ios::binary).write(reinterpret_cast<const char*>(cut.data()), 14);
  std::ostringstream out, err;
  Cli::ConsoleOptions console;
  console.expandWildcards = true;
  const int status = Cli::runCommandLine({"key", (shots / "*").string(), "--out-dir", dir.file("keyed")}, out, err,
                                         console);
  EXPECT_EQ(status, Cli::ExitFileError);
  EXPECT_EQ(err.str().rfind("keyvale-cli: " + (shots / "broken.png").string() + ": damaged PNG file: ", 0), 0u)
      << err.str();
  for (const char* name : {"a.tga", "b.tga", "c.tga"}) EXPECT_TRUE(fs::exists(dir.path() / "keyed" / name)) << name;
  EXPECT_FALSE(fs::exists(dir.path() / "keyed" / "broken.tga"));
}

#endif

}  // namespace
}  // namespace Kvl::Test
