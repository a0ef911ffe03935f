// PNG and JPEG in, PNG out: the same key as the equivalent Targa picture,
// and a PNG any viewer shows upright. Native builds only.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "CliTestSupport.h"
#include "CodecFiles.h"
#include "support/TgaBytes.h"

#include "imageio/PictureFiles.h"

#if KEYVALE_HAVE_PNG
#include <png.h>
#include <zlib.h>
#endif

namespace Kvl::Test {
namespace {

namespace fs = std::filesystem;

[[maybe_unused]] void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

// The file cut or padded with zeros to exactly `size` bytes.
[[maybe_unused]] void writeResized(const std::string& path, std::vector<std::uint8_t> bytes, std::size_t size) {
  bytes.resize(size);
  writeBytes(path, bytes);
}

// keyvale-cli refuses the picture in the size rule's words and writes nothing.
[[maybe_unused]] void expectRefusedForItsSize(const std::string& picture, const std::string& declared) {
  const std::string output = picture + ".tga";
  const CliRun run = runCli({"key", picture, output});
  EXPECT_EQ(run.status, Cli::ExitFileError);
  EXPECT_EQ(run.err, "keyvale-cli: " + picture + ": file holds far too little data for its declared size (" +
                         declared + ")\n");
  EXPECT_FALSE(fs::exists(output));
}

// Top-down (as PNG and JPEG store rows) to bottom-up (as Targa does).
[[maybe_unused]] std::vector<Pixel32> flipRows(const std::vector<Pixel32>& pixels, int width, int height) {
  std::vector<Pixel32> flipped;
  for (int y = height - 1; y >= 0; --y) {
    const auto row = pixels.begin() + static_cast<std::ptrdiff_t>(y) * width;
    flipped.insert(flipped.end(), row, row + width);
  }
  return flipped;
}

// Keys `picture` and `targa` with the same arguments and expects the same
// output bytes and settings lines.
[[maybe_unused]] void expectKeyedAlike(const std::string& picture, const std::string& targa, const fs::path& folder,
                      const std::vector<std::string>& options) {
  std::vector<std::string> fromPicture = {"key", picture, (folder / "from-picture.tga").string()};
  std::vector<std::string> fromTarga = {"key", targa, (folder / "from-targa.tga").string()};
  fromPicture.insert(fromPicture.end(), options.begin(), options.end());
  fromTarga.insert(fromTarga.end(), options.begin(), options.end());
  const CliRun a = runCli(fromPicture), b = runCli(fromTarga);
  ASSERT_EQ(a.status, Cli::ExitSuccess) << a.err;
  ASSERT_EQ(b.status, Cli::ExitSuccess) << b.err;
  EXPECT_EQ(a.out, b.out);
  EXPECT_TRUE(a.err.empty()) << a.err;
  const auto expected = readFileBytes(folder / "from-targa.tga");
  ASSERT_GT(expected.size(), 18u);
  EXPECT_EQ(readFileBytes(folder / "from-picture.tga"), expected) << picture;
}

#if KEYVALE_HAVE_PNG

constexpr int Width = 7, Height = 5;  // odd width: packed rows end mid-byte

// Colour of the pixel at (x, y from the top) in every PNG case.
std::uint8_t sample(int x, int y, int channel) {
  return static_cast<std::uint8_t>(channel == 1 ? 200 - 9 * x - 5 * y : 30 * x + 40 * y + 15 * channel);
}

struct PngCase {
  const char* name;
  PngContent content;
  std::vector<Pixel32> expected;  // top row first
  std::vector<std::uint8_t> alpha;  // the file's own, top row first: 255 where it holds none
};

std::vector<std::uint8_t> packBits(const std::vector<int>& values, int bits) {
  std::vector<std::uint8_t> packed((values.size() * static_cast<std::size_t>(bits) + 7) / 8, 0);
  for (std::size_t i = 0; i < values.size(); ++i) {
    const std::size_t bit = i * static_cast<std::size_t>(bits);
    packed[bit / 8] = static_cast<std::uint8_t>(packed[bit / 8] | values[i] << (8 - bits - static_cast<int>(bit % 8)));
  }
  return packed;
}

PngCase colourCase(const char* name, bool alpha, int depth, bool interlaced = false) {
  PngCase c{name,
            {Width, Height, alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, depth, interlaced, {}, {}, {}}, {}, {}};
  for (int y = 0; y < Height; ++y) {
    std::vector<std::uint8_t> row;
    for (int x = 0; x < Width; ++x) {
      std::uint8_t rgb[3];
      for (int k = 0; k < 3; ++k) {
        if (depth == 8) {
          rgb[k] = sample(x, y, k);
          row.push_back(rgb[k]);
        } else {
          // 16-bit samples are rounded to the nearest 8-bit value.
          const int wide = sample(x, y, k) * 257 + (x * 61 + k * 17) % 257 - 128;
          const int clamped = std::max(0, std::min(65535, wide));
          rgb[k] = static_cast<std::uint8_t>((2 * clamped + 257) / 514);
          row.push_back(static_cast<std::uint8_t>(clamped >> 8));
          row.push_back(static_cast<std::uint8_t>(clamped & 0xFF));
        }
      }
      // Ignored by keying; 16-bit, v * 257 reads back as v.
      if (alpha) row.insert(row.end(), depth == 8 ? 1 : 2, static_cast<std::uint8_t>(x * 40 + y));
      c.expected.push_back(makePixel(rgb[0], rgb[1], rgb[2]));
      c.alpha.push_back(alpha ? static_cast<std::uint8_t>(x * 40 + y) : 255);
    }
    c.content.rows.push_back(row);
  }
  return c;
}

PngCase greyCase(const char* name, bool alpha, int depth) {
  PngCase c{name,
            {Width, Height, alpha ? PNG_COLOR_TYPE_GRAY_ALPHA : PNG_COLOR_TYPE_GRAY, depth, false, {}, {}, {}}, {}, {}};
  const int levels = (1 << depth) - 1;
  for (int y = 0; y < Height; ++y) {
    std::vector<int> values;
    std::vector<std::uint8_t> row;
    for (int x = 0; x < Width; ++x) {
      const int value = (x * 3 + y * 5) % (levels + 1);
      const auto grey = static_cast<std::uint8_t>(value * 255 / levels);  // low depths scale up exactly
      values.push_back(value);
      c.expected.push_back(makePixel(grey, grey, grey));
      c.alpha.push_back(alpha ? static_cast<std::uint8_t>(255 - x) : 255);
      if (depth == 8) row.push_back(static_cast<std::uint8_t>(value));
      if (alpha) row.push_back(static_cast<std::uint8_t>(255 - x));
    }
    c.content.rows.push_back(depth == 8 ? row : packBits(values, depth));
  }
  return c;
}

PngCase paletteCase(const char* name, int depth) {
  PngCase c{name, {Width, Height, PNG_COLOR_TYPE_PALETTE, depth, false, {}, {}, {}}, {}, {}};
  const int entries = std::min(1 << depth, 12);
  for (int i = 0; i < entries; ++i) {
    c.content.palette.insert(c.content.palette.end(), {static_cast<std::uint8_t>(20 * i), static_cast<std::uint8_t>(250 - 7 * i),
                                                 static_cast<std::uint8_t>(11 * i + 3)});
    c.content.transparency.push_back(static_cast<std::uint8_t>(i * 20));  // ignored
  }
  for (int y = 0; y < Height; ++y) {
    std::vector<int> indices;
    for (int x = 0; x < Width; ++x) {
      const int index = (x + 2 * y) % entries;
      indices.push_back(index);
      const auto* entry = &c.content.palette[static_cast<std::size_t>(index) * 3];
      c.expected.push_back(makePixel(entry[0], entry[1], entry[2]));
      c.alpha.push_back(c.content.transparency[static_cast<std::size_t>(index)]);
    }
    c.content.rows.push_back(packBits(indices, depth));
  }
  return c;
}

std::vector<PngCase> everyPngLayout() {
  return {
      colourCase("rgb8", false, 8),        colourCase("rgba8", true, 8),      colourCase("rgb16", false, 16),
      colourCase("rgba16", true, 16),      colourCase("interlaced", false, 8, true),
      greyCase("grey1", false, 1),         greyCase("grey2", false, 2),       greyCase("grey4", false, 4),
      greyCase("grey8", false, 8),         greyCase("greyalpha8", true, 8),   paletteCase("palette4", 4),
      paletteCase("palette8", 8),
  };
}

// Every pixel of `source`, top row first, as the reader hands them out.
std::vector<Pixel32> readTopDown(PictureSource& source) {
  std::vector<Pixel32> pixels(source.pixelCount());
  source.readRows(pixels.data(), source.height());
  return source.rowOrder() == RowOrder::TopDown ? pixels : flipRows(pixels, static_cast<int>(source.width()),
                                                                    static_cast<int>(source.height()));
}

TEST(PngInput, EveryLayoutKeysLikeTheSameTargaPicture) {
  TempDir dir;
  for (const PngCase& c : everyPngLayout()) {
    SCOPED_TRACE(c.name);
    const std::string png = dir.file(std::string(c.name) + ".png");
    writePng(png, c.content);
    const std::string targa = TgaBytes(Width, Height).pixels(flipRows(c.expected, Width, Height)).writeTo(dir.path() / "same.tga");
    expectKeyedAlike(png, targa, dir.path(), {"--channel", "red", "--contrast", "12", "--offset", "3"});
  }
}

// The plate benchmark's scorer reads a keyed output's alpha: every layout
// gives the colours keying reads with the file's own alpha (a palette's
// transparency too), solid where the file holds none.
TEST(PngInput, ReadWithAlphaKeepsTheFilesAlpha) {
  TempDir dir;
  for (const PngCase& c : everyPngLayout()) {
    SCOPED_TRACE(c.name);
    const std::string png = dir.file(std::string(c.name) + ".png");
    writePng(png, c.content);
    PictureError error;
    const std::unique_ptr<PictureSource> source = openPngWithAlpha(png, error);
    ASSERT_TRUE(source) << describe(error);
    const std::vector<Pixel32> pixels = readTopDown(*source);
    EXPECT_FALSE(source->damaged());
    ASSERT_EQ(pixels.size(), c.expected.size());
    for (std::size_t i = 0; i < pixels.size(); ++i) {
      EXPECT_EQ(pixels[i], c.expected[i] | Pixel32{c.alpha[i]} << 24) << "pixel " << i;
    }
    // Keying still reads no alpha.
    const std::unique_ptr<PictureSource> keyed = openPicture(png, PictureFormat::Png, error);
    ASSERT_TRUE(keyed);
    EXPECT_EQ(readTopDown(*keyed), c.expected);
  }
}

TEST(PngInput, DetectionAndAutoAdjustSeeThePictureTheTargaShows) {
  TempDir dir;
  const int width = 310, height = 190;
  const std::vector<Pixel32> topDown = flipRows(greenScreen(width, height, BlueChannel), width, height);
  PngContent content{width, height, PNG_COLOR_TYPE_RGB, 8, false, {}, {}, {}};
  for (int y = 0; y < height; ++y) {
    std::vector<std::uint8_t> row;
    for (int x = 0; x < width; ++x) {
      const Pixel32 p = topDown[static_cast<std::size_t>(y * width + x)];
      row.insert(row.end(), {redOf(p), greenOf(p), blueOf(p)});
    }
    content.rows.push_back(row);
  }
  const std::string png = dir.file("shot.png");
  writePng(png, content);
  const std::string targa = TgaBytes(width, height).pixels(flipRows(topDown, width, height)).writeTo(dir.path() / "shot.tga");
  expectKeyedAlike(png, targa, dir.path(), {"--channel", "auto", "--auto-adjust"});
  const CliRun preview = runCli({"preview", png, "--composite", dir.file("pc.tga"), "--matte", dir.file("pm.tga"),
                                 "--channel", "auto", "--auto-adjust"});
  const CliRun previewTarga = runCli({"preview", targa, "--composite", dir.file("tc.tga"), "--matte",
                                      dir.file("tm.tga"), "--channel", "auto", "--auto-adjust"});
  ASSERT_EQ(preview.status, Cli::ExitSuccess) << preview.err;
  EXPECT_EQ(preview.out, previewTarga.out);
  EXPECT_TRUE(preview.out.starts_with("channel=blue contrast=")) << preview.out;
  EXPECT_EQ(readFileBytes(dir.file("pc.tga")), readFileBytes(dir.file("tc.tga")));
}

// Any viewer shows the top row of a PNG first: it must hold the top row
// of the Targa picture, with red, green, blue and the levelled alpha.
TEST(PngOutput, DecodesToTheKeyedPixelsUpright) {
  TempDir dir;
  const int width = 9, height = 6;
  const std::string input = TgaBytes(width, height).pixels(greenScreen(width, height)).writeTo(dir.path() / "in.tga");
  // The same source stored top row first must give the same PNG.
  const std::string topDown = TgaBytes(width, height, 32).descriptor(0x20)
                                  .pixels(flipRows(greenScreen(width, height), width, height)).writeTo(dir.path() / "td.tga");
  ASSERT_EQ(runCli({"key", input, dir.file("keyed.tga"), "--contrast", "20", "--offset", "5"}).status, 0);
  const TargaFile keyed = readTargaFile(dir.file("keyed.tga"));
  ASSERT_EQ(keyed.pixels.size(), std::size_t{width * height});
  for (const std::string& source : {input, topDown}) {
    const CliRun run = runCli({"key", source, dir.file("keyed.png"), "--contrast", "20", "--offset", "5"});
    ASSERT_EQ(run.status, Cli::ExitSuccess) << run.err;
    const RgbaImage png = readPngRgba(dir.file("keyed.png"));
    ASSERT_EQ(png.width, std::uint32_t{width});
    ASSERT_EQ(png.height, std::uint32_t{height});
    int partlyClear = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const Pixel32 want = keyed.pixels[static_cast<std::size_t>((height - 1 - y) * width + x)];
        const std::uint8_t* got = &png.rgba[static_cast<std::size_t>((y * width + x) * 4)];
        EXPECT_EQ(makePixel(got[0], got[1], got[2], got[3]), want) << "x " << x << " y " << y << " from top";
        partlyClear += got[3] > 0 && got[3] < 255;
      }
    }
    EXPECT_GT(partlyClear, 0);
  }
}

// A top-down Targa streams into the PNG a chunk of rows at a time, from the
// top; a bottom-up one is held whole and written at the end. More than one
// chunk each way, so a chunk in the wrong place or order shows.
TEST(PngOutput, ATopDownTargaOfSeveralChunksGivesTheSamePngAsBottomUp) {
  TempDir dir;
  const int width = 600, height = 450;  // 270000 pixels: two chunks of rows
  const std::vector<Pixel32> picture = greenScreen(width, height);
  const std::string bottomUp = TgaBytes(width, height).pixels(picture).writeTo(dir.path() / "bu.tga");
  const std::string topDown =
      TgaBytes(width, height).descriptor(0x20).pixels(flipRows(picture, width, height)).writeTo(dir.path() / "td.tga");
  for (const auto& [source, output] : {std::pair{bottomUp, "bu.png"}, std::pair{topDown, "td.png"}}) {
    const CliRun run = runCli({"key", source, dir.file(output), "--contrast", "20", "--offset", "5"});
    ASSERT_EQ(run.status, Cli::ExitSuccess) << run.err;
  }
  const auto expected = readFileBytes(dir.path() / "bu.png");
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(readFileBytes(dir.path() / "td.png"), expected);
}

// The writer's own filter and chunks against libpng's decoder, at the
// levels that store, squeeze least (the default), a little more and
// hardest. Half the picture is noise, so that every Paeth predictor choice
// occurs where rows are filtered; stored, it needs more than one IDAT chunk.
TEST(PngOutput, EveryLevelDecodesWithLibpngToTheKeyedPixels) {
  TempDir dir;
  const int width = 600, height = 450;
  std::vector<Pixel32> picture = greenScreen(width, height);
  std::uint32_t noise = 12345;
  for (std::size_t i = 0; i < picture.size() / 2; ++i) {
    noise = noise * 1103515245u + 12345u;
    picture[i] ^= noise >> 5;
  }
  const std::string input = TgaBytes(width, height, 32).pixels(picture).writeTo(dir.path() / "in.tga");
  ASSERT_EQ(runCli({"key", input, dir.file("keyed.tga"), "--contrast", "20", "--offset", "5"}).status, 0);
  const TargaFile keyed = readTargaFile(dir.file("keyed.tga"));
  ASSERT_EQ(keyed.pixels.size(), picture.size());
  for (const std::string& level : {std::string("0"), std::string("1"), std::string("3"), std::string("12")}) {
    const CliRun run = runCli({"key", input, dir.file("keyed.png"), "--contrast", "20", "--offset", "5",
                               "--png-level", level});
    ASSERT_EQ(run.status, Cli::ExitSuccess) << run.err;
    const RgbaImage png = readPngRgba(dir.file("keyed.png"));
    ASSERT_EQ(png.rgba.size(), picture.size() * 4) << level;
    std::size_t wrong = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const Pixel32 want = keyed.pixels[static_cast<std::size_t>((height - 1 - y) * width + x)];
        const std::uint8_t* got = &png.rgba[static_cast<std::size_t>((y * width + x) * 4)];
        if (makePixel(got[0], got[1], got[2], got[3]) != want && wrong++ == 0) {
          ADD_FAILURE() << "level " << level << ": first wrong pixel at x " << x << " y " << y << " from top";
        }
      }
    }
    EXPECT_EQ(wrong, 0u) << "level " << level;
  }
}

// The whole file must satisfy libpng's own reader, which checks every
// chunk's CRC as far as the last (IEND): a keyed PNG keys again, and reads
// back with its alpha to the keyed pixels.
TEST(PngOutput, ReadsBackThroughKeyvalesOwnReaderAlphaAndAll) {
  TempDir dir;
  const int width = 40, height = 30;
  const std::string input = TgaBytes(width, height).pixels(greenScreen(width, height)).writeTo(dir.path() / "in.tga");
  ASSERT_EQ(runCli({"key", input, dir.file("keyed.tga"), "--contrast", "20", "--offset", "5"}).status, 0);
  ASSERT_EQ(runCli({"key", input, dir.file("keyed.png"), "--contrast", "20", "--offset", "5"}).status, 0);
  const CliRun again = runCli({"key", dir.file("keyed.png"), dir.file("again.tga")});
  EXPECT_EQ(again.status, Cli::ExitSuccess) << again.err;
  PictureError error;
  const std::unique_ptr<PictureSource> png = openPngWithAlpha(dir.file("keyed.png"), error);
  ASSERT_TRUE(png) << describe(error);
  const TargaFile keyed = readTargaFile(dir.file("keyed.tga"));
  EXPECT_EQ(readTopDown(*png), flipRows(keyed.pixels, width, height));
}

TEST(PngOutput, BatchFormatPngFromPngInput) {
  TempDir dir;
  const PngCase c = colourCase("rgb", false, 8);
  writePng(dir.file("a.png"), c.content);
  const std::string targa = TgaBytes(Width, Height).pixels(flipRows(c.expected, Width, Height)).writeTo(dir.path() / "b.tga");
  const CliRun run = runCli({"key", dir.file("a.png"), targa, "--out-dir", dir.file("out"), "--format", "png", "--jobs", "2"});
  ASSERT_EQ(run.status, Cli::ExitSuccess) << run.err;
  const RgbaImage a = readPngRgba(dir.file("out/a.png")), b = readPngRgba(dir.file("out/b.png"));
  ASSERT_EQ(a.rgba.size(), std::size_t{Width * Height * 4});
  EXPECT_EQ(a.rgba, b.rgba);
  EXPECT_TRUE(leftoverPartials(dir.path()).empty());
}

TEST(PngInput, DamagedFilesAreRefusedWithTheirReason) {
  TempDir dir;
  writePng(dir.file("whole.png"), colourCase("rgb", false, 8).content);
  std::vector<std::uint8_t> bytes = readFileBytes(dir.file("whole.png"));
  bytes.resize(bytes.size() / 2);
  std::ofstream(dir.file("cut.png"), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                             static_cast<std::streamsize>(bytes.size()));
  const std::vector<std::uint8_t> garbage = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 1, 2, 3, 4, 5, 6, 7, 8, 9};
  std::ofstream(dir.file("garbage.png"), std::ios::binary).write(reinterpret_cast<const char*>(garbage.data()),
                                                                 static_cast<std::streamsize>(garbage.size()));
  for (const char* name : {"cut.png", "garbage.png"}) {
    const CliRun run = runCli({"key", dir.file(name), dir.file("out.tga")});
    EXPECT_EQ(run.status, Cli::ExitFileError) << name;
    EXPECT_TRUE(run.err.starts_with("keyvale-cli: " + dir.file(name) + ": damaged PNG file: ")) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_FALSE(fs::exists(dir.file("out.tga")));
  }
}

// A header can declare 2^31 x 2^31 pixels in 33 bytes. A picture above
// 16 MiB decoded must bring a sixteenth of its smallest encoding: for
// 2049 x 2049 RGB, 2049 rows of 6148 bytes at deflate's best ratio of 1032:1
// take 12,207 bytes, a sixteenth of that 763. A file that short cannot be a
// whole picture, but one that long goes on to be decoded (and fails there).
TEST(PngInput, ALargePictureNeedsASixteenthOfItsSmallestEncoding) {
  TempDir dir;
  writePng(dir.file("small.png"), colourCase("rgb", false, 8).content);
  std::vector<std::uint8_t> bytes = readFileBytes(dir.file("small.png"));
  ASSERT_LT(bytes.size(), 762u);
  const auto declare = [&](std::uint32_t side) {
    for (const int at : {16, 20}) {
      for (int i = 0; i < 4; ++i) bytes[static_cast<std::size_t>(at + i)] = static_cast<std::uint8_t>(side >> (24 - 8 * i));
    }
    const auto crc = static_cast<std::uint32_t>(::crc32(0, bytes.data() + 12, 17));
    for (int i = 0; i < 4; ++i) bytes[static_cast<std::size_t>(29 + i)] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
  };
  declare(2049);
  writeResized(dir.file("short.png"), bytes, 762);
  writeResized(dir.file("enough.png"), bytes, 763);
  declare(1'000'000);  // the largest libpng reads
  writeResized(dir.file("huge.png"), bytes, 4096);

  expectRefusedForItsSize(dir.file("short.png"), "2049 x 2049");
  expectRefusedForItsSize(dir.file("huge.png"), "1000000 x 1000000");
  const CliRun enough = runCli({"key", dir.file("enough.png"), dir.file("out.tga")});
  EXPECT_EQ(enough.status, Cli::ExitFileError);
  EXPECT_TRUE(enough.err.starts_with("keyvale-cli: " + dir.file("enough.png") + ": damaged PNG file: ")) << enough.err;
}

#endif  // KEYVALE_HAVE_PNG

#if KEYVALE_HAVE_JPEG

// The JPEG's own decoded pixels, as a Targa picture: both must key alike.
std::string targaOfJpeg(const std::string& jpeg, const fs::path& path) {
  int width = 0, height = 0;
  const std::vector<std::uint8_t> rgb = decodeJpegRgb(jpeg, width, height);
  std::vector<Pixel32> topDown;
  for (std::size_t i = 0; i + 2 < rgb.size(); i += 3) topDown.push_back(makePixel(rgb[i], rgb[i + 1], rgb[i + 2]));
  return TgaBytes(static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height))
      .pixels(flipRows(topDown, width, height)).writeTo(path);
}

std::vector<std::uint8_t> rgbSamples(const std::vector<Pixel32>& bottomUp, int width, int height) {
  std::vector<std::uint8_t> samples;
  for (const Pixel32 p : flipRows(bottomUp, width, height)) samples.insert(samples.end(), {redOf(p), greenOf(p), blueOf(p)});
  return samples;
}

TEST(JpegInput, KeysLikeATargaOfItsDecodedPixels) {
  TempDir dir;
  const int width = 250, height = 170;  // not a multiple of the 8- or 16-pixel blocks
  writeJpeg(dir.file("colour.jpg"), width, height, 3, rgbSamples(greenScreen(width, height), width, height));
  std::vector<std::uint8_t> grey;
  for (const Pixel32 p : flipRows(greenScreen(width, height, GreenChannel, 3), width, height)) grey.push_back(greenOf(p));
  writeJpeg(dir.file("grey.jpg"), width, height, 1, grey);
  for (const char* name : {"colour.jpg", "grey.jpg"}) {
    SCOPED_TRACE(name);
    const std::string targa = targaOfJpeg(dir.file(name), dir.path() / "same.tga");
    expectKeyedAlike(dir.file(name), targa, dir.path(), {"--channel", "auto", "--auto-adjust"});
    expectKeyedAlike(dir.file(name), targa, dir.path(), {"--channel", "blue", "--contrast", "60", "--offset", "30"});
  }
}

TEST(JpegInput, TruncatedIsKeyedWithAWarningAndBrokenIsRefused) {
  TempDir dir;
  const int width = 64, height = 48;
  writeJpeg(dir.file("whole.jpg"), width, height, 3, rgbSamples(greenScreen(width, height), width, height));
  std::vector<std::uint8_t> bytes = readFileBytes(dir.file("whole.jpg"));
  const auto writeBytes = [&](const std::string& name, const std::vector<std::uint8_t>& data) {
    std::ofstream(dir.file(name), std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                                          static_cast<std::streamsize>(data.size()));
  };
  writeBytes("cut.jpg", std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() * 2 / 3)));
  writeBytes("broken.jpg", {0xFF, 0xD8, 0xFF, 0xE0, 0, 4, 0, 0, 0xFF, 0x00, 1, 2, 3});

  const CliRun cut = runCli({"key", dir.file("cut.jpg"), dir.file("cut.tga")});
  EXPECT_EQ(cut.status, Cli::ExitSuccess);
  EXPECT_EQ(cut.err, "keyvale-cli: warning: " + dir.file("cut.jpg") + ": file is damaged or truncated; keyed as far as it decodes\n");
  EXPECT_EQ(readTargaFile(dir.file("cut.tga")).pixels.size(), std::size_t{width * height});

  const CliRun broken = runCli({"key", dir.file("broken.jpg"), dir.file("broken.tga")});
  EXPECT_EQ(broken.status, Cli::ExitFileError);
  EXPECT_TRUE(broken.err.starts_with("keyvale-cli: " + dir.file("broken.jpg") + ": damaged JPEG file: ")) << broken.err;
  EXPECT_FALSE(fs::exists(dir.file("broken.tga")));

  std::vector<std::uint8_t> cmyk(std::size_t{width * height * 4}, 0x40);
  writeJpeg(dir.file("cmyk.jpg"), width, height, 4, cmyk);
  const CliRun refused = runCli({"key", dir.file("cmyk.jpg"), dir.file("cmyk.tga")});
  EXPECT_EQ(refused.status, Cli::ExitFileError);
  EXPECT_EQ(refused.err, "keyvale-cli: " + dir.file("cmyk.jpg") + ": unsupported JPEG colour space (CMYK)\n");
}

// For 2049 x 2049, 257 x 257 blocks at two bits each take 16,513 bytes, a
// sixteenth of that 1,033: the least a file declaring it must hold. One that
// long is decoded, its missing blocks filled in, as any truncated JPEG.
TEST(JpegInput, ALargePictureNeedsASixteenthOfItsSmallestEncoding) {
  TempDir dir;
  writeJpeg(dir.file("small.jpg"), 16, 16, 1, std::vector<std::uint8_t>(256, 0x80));
  std::vector<std::uint8_t> bytes = readFileBytes(dir.file("small.jpg"));
  ASSERT_LT(bytes.size(), 1032u);
  const std::uint8_t startOfFrame[] = {0xFF, 0xC0};
  const auto frame = std::search(bytes.begin(), bytes.end(), std::begin(startOfFrame), std::end(startOfFrame));
  ASSERT_NE(frame, bytes.end());
  const auto declare = [&](std::uint16_t side) {
    for (const int at : {5, 7}) {
      frame[at] = static_cast<std::uint8_t>(side >> 8);
      frame[at + 1] = static_cast<std::uint8_t>(side);
    }
  };
  declare(2049);
  writeResized(dir.file("short.jpg"), bytes, 1032);
  writeResized(dir.file("enough.jpg"), bytes, 1033);
  declare(65500);  // the largest libjpeg reads
  writeResized(dir.file("huge.jpg"), bytes, 4096);

  expectRefusedForItsSize(dir.file("short.jpg"), "2049 x 2049");
  expectRefusedForItsSize(dir.file("huge.jpg"), "65500 x 65500");
  PictureError error;
  const auto enough = openPicture(dir.file("enough.jpg"), PictureFormat::Jpeg, error);
  ASSERT_NE(enough, nullptr) << describe(error);
  EXPECT_EQ(enough->width(), 2049u);
  EXPECT_EQ(enough->height(), 2049u);
  EXPECT_TRUE(enough->damaged());
}

// Every scan makes the decoder pass over the whole picture, so a small file
// of thousands could keep it busy for minutes; real files have about ten.
TEST(JpegInput, FilesOfMoreThan500ScansAreRefused) {
  TempDir dir;
  const int width = 24, height = 16;
  std::vector<std::uint8_t> grey;
  for (const Pixel32 p : flipRows(greenScreen(width, height), width, height)) grey.push_back(greenOf(p));
  writeProgressiveGreyJpeg(dir.file("500.jpg"), width, height, grey, 500);
  writeProgressiveGreyJpeg(dir.file("501.jpg"), width, height, grey, 501);

  const std::string targa = targaOfJpeg(dir.file("500.jpg"), dir.path() / "same.tga");
  expectKeyedAlike(dir.file("500.jpg"), targa, dir.path(), {"--channel", "auto", "--auto-adjust"});
  const CliRun refused = runCli({"key", dir.file("501.jpg"), dir.file("501.tga")});
  EXPECT_EQ(refused.status, Cli::ExitFileError);
  EXPECT_EQ(refused.err, "keyvale-cli: " + dir.file("501.jpg") + ": unsupported JPEG file: more than 500 scans\n");
  EXPECT_FALSE(fs::exists(dir.file("501.tga")));
}

// The luma component's sampling factors as the frame header (SOF0) gives
// them: 0x22 when colour is stored at half resolution each way, 0x11 at full.
int lumaSampling(const std::vector<std::uint8_t>& jpeg) {
  for (std::size_t i = 2; i + 11 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) return jpeg[i + 11];
  }
  return -1;
}

// The test plates are stored as footage is, 4:2:0; keyed pictures over a
// background keep full colour. Both hold the picture's colours, upright.
TEST(JpegOutput, FootagePlatesHalveTheColourResolution) {
  TempDir dir;
  const int width = 64, height = 48;
  std::vector<Pixel32> topDown;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      topDown.push_back(makePixel(static_cast<std::uint8_t>(40 + 3 * x), static_cast<std::uint8_t>(200 - 2 * y),
                                  static_cast<std::uint8_t>(90 + x + y), 255));
    }
  }
  const std::pair<std::unique_ptr<PictureSink>, int> sinks[] = {{makeFootageJpegSink(75), 0x22},
                                                                {makeJpegSink(), 0x11}};
  for (const auto& [sink, sampling] : sinks) {
    SCOPED_TRACE(sampling);
    const std::string path = dir.file("plate.jpg");
    ASSERT_TRUE(sink->open(path, width, height, RowOrder::TopDown)) << sink->failure();
    for (int y = 0; y < height; ++y) {
      sink->writeRows(static_cast<std::uint64_t>(height - 1 - y), topDown.data() + y * width, 1);
    }
    ASSERT_TRUE(sink->commit()) << sink->failure();
    EXPECT_EQ(lumaSampling(readFileBytes(path)), sampling);
    int decodedWidth = 0, decodedHeight = 0;
    const std::vector<std::uint8_t> rgb = decodeJpegRgb(path, decodedWidth, decodedHeight);
    ASSERT_EQ(rgb.size(), topDown.size() * 3);
    double error = 0;
    for (std::size_t i = 0; i < topDown.size(); ++i) {
      error += std::abs(rgb[3 * i] - redOf(topDown[i])) + std::abs(rgb[3 * i + 1] - greenOf(topDown[i])) +
               std::abs(rgb[3 * i + 2] - blueOf(topDown[i]));
    }
    EXPECT_LT(error / double(rgb.size()), 2.0);  // smooth gradients survive either way
  }
}

#endif  // KEYVALE_HAVE_JPEG

// Without the libraries the formats are refused by name, never misread as Targa.
#if (!KEYVALE_HAVE_PNG || !KEYVALE_HAVE_JPEG) && !KEYVALE_HAVE_SYSTEM_CODECS
TEST(TargaOnlyBuild, PngAndJpegAreRefusedClearly) {
  TempDir dir;
  const std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13};
  const std::vector<std::uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16};
  std::ofstream(dir.file("a.png"), std::ios::binary).write(reinterpret_cast<const char*>(png.data()), 12);
  std::ofstream(dir.file("b.jpg"), std::ios::binary).write(reinterpret_cast<const char*>(jpeg.data()), 6);
  const std::string targa = TgaBytes(2, 2).pixels(greenScreen(2, 2)).writeTo(dir.path() / "c.tga");
  const CliRun run = runCli({"key", dir.file("a.png"), dir.file("b.jpg"), targa, "--out-dir", dir.file("out")});
  EXPECT_EQ(run.status, Cli::ExitFileError);
  if (!KEYVALE_HAVE_PNG) EXPECT_NE(run.err.find("a.png: PNG files are not supported by this build"), std::string::npos) << run.err;
  if (!KEYVALE_HAVE_JPEG) EXPECT_NE(run.err.find("b.jpg: JPEG files are not supported by this build"), std::string::npos) << run.err;
  EXPECT_TRUE(fs::exists(dir.file("out/c.tga")));
  if (!KEYVALE_HAVE_PNG) {
    const CliRun png = runCli({"key", targa, dir.file("c.png")});
    EXPECT_EQ(png.status, Cli::ExitFileError);
    EXPECT_NE(png.err.find("PNG output is not supported by this build"), std::string::npos) << png.err;
  }
}
#endif

}  // namespace
}  // namespace Kvl::Test
