// `keyvale-cli preview` writes the two surfaces the window paints, as they
// are in memory, so that screenshots of the real window can be compared
// with it pixel for pixel.

#include <gtest/gtest.h>

#include <cstring>

#include "CliTestSupport.h"
#include "engine/ChannelControls.h"
#include "engine/PreviewWorkspace.h"
#include "support/RecordingShell.h"
#include "support/TgaBytes.h"

namespace Kvl::Test {
namespace {

// The file a buffer of 240 x 160 pixels must become: the keyed writer's
// header with no image ID, then the buffer's bytes, row 0 first.
std::vector<std::uint8_t> surfaceFile(const Pixel32* pixels) {
  std::vector<std::uint8_t> bytes(18, 0);
  bytes[2] = 2;
  bytes[12] = PreviewWidth & 0xFF;
  bytes[13] = PreviewWidth >> 8;
  bytes[14] = PreviewHeight & 0xFF;
  bytes[15] = PreviewHeight >> 8;
  bytes[16] = 32;
  bytes.resize(18 + PreviewPixelCount * sizeof(Pixel32));
  std::memcpy(bytes.data() + 18, pixels, PreviewPixelCount * sizeof(Pixel32));
  return bytes;
}

struct Rendered {
  std::vector<std::uint8_t> composite;
  std::vector<std::uint8_t> matte;
  KeySettings settings;
};

// The window's own sequence: a fresh checkerboard scrolled `scrolls` times,
// Open (or a load with given settings), one render.
Rendered renderDirectly(const std::string& input, int scrolls, const KeySettings* given) {
  Kvl::Test::RecordingShell shell;
  PreviewWorkspace workspace(shell);
  for (int i = 0; i < scrolls; ++i) KeyProcessor::scrollCheckerboard(workspace.checkerboard());
  Rendered result;
  if (given != nullptr) {
    workspace.processor().loadSource(input.c_str());
    result.settings = *given;
  } else {
    openPicture(input.c_str(), result.settings, shell, workspace.processor());
  }
  const KeySettings& s = result.settings;
  workspace.processor().render(s.channel, s.contrast, s.offset);
  result.composite = surfaceFile(workspace.composite());
  result.matte = surfaceFile(workspace.matte());
  return result;
}

TEST(PreviewCommand, WritesTheRenderedSurfacesAsTheyAreInMemory) {
  TempDir dir;
  const std::string input = TgaBytes(321, 187).pixels(greenScreen(321, 187, BlueChannel)).writeTo(dir.path() / "in.tga");
  const std::string composite = dir.file("composite.tga"), matte = dir.file("matte.tga");
  KeySettings given;
  given.channel = BlueChannel;
  given.contrast = 35;
  given.offset = 12;
  for (const int scroll : {0, 1, 5, 23}) {
    const CliRun run = runCli({"preview", input, "--composite", composite, "--matte", matte, "--channel", "blue",
                               "--contrast", "35", "--offset", "12", "--scroll", std::to_string(scroll)});
    ASSERT_EQ(run.status, Cli::ExitSuccess) << run.err;
    EXPECT_EQ(run.out, "channel=blue contrast=35 offset=12\n");
    const Rendered expected = renderDirectly(input, scroll, &given);
    EXPECT_EQ(readFileBytes(composite), expected.composite) << "scroll " << scroll;
    EXPECT_EQ(readFileBytes(matte), expected.matte) << "scroll " << scroll;
  }
}

TEST(PreviewCommand, AutoSettingsRenderAsAfterOpen) {
  TempDir dir;
  const std::string input = TgaBytes(300, 200).pixels(greenScreen(300, 200)).writeTo(dir.path() / "in.tga");
  const std::string composite = dir.file("c.tga"), matte = dir.file("m.tga");
  const CliRun run = runCli({"preview", input, "--composite", composite, "--matte", matte, "--channel", "auto",
                             "--auto-adjust", "--scroll", "7"});
  ASSERT_EQ(run.status, Cli::ExitSuccess) << run.err;
  const Rendered expected = renderDirectly(input, 7, nullptr);
  EXPECT_EQ(run.out, "channel=green contrast=" + std::to_string(expected.settings.contrast) +
                         " offset=" + std::to_string(expected.settings.offset) + "\n");
  EXPECT_EQ(readFileBytes(composite), expected.composite);
  EXPECT_EQ(readFileBytes(matte), expected.matte);

  // The composite carries the levelled alpha the matte shows as grey; the
  // matte's own alpha byte is 0.
  const TargaFile c = readTargaFile(composite), m = readTargaFile(matte);
  ASSERT_EQ(c.pixels.size(), std::size_t{PreviewPixelCount});
  ASSERT_EQ(m.pixels.size(), std::size_t{PreviewPixelCount});
  int partlyClear = 0;
  for (int i = 0; i < PreviewPixelCount; ++i) {
    const auto at = static_cast<std::size_t>(i);
    ASSERT_EQ(alphaOf(m.pixels[at]), 0) << "pixel " << i;
    ASSERT_EQ(m.pixels[at], Pixel32{alphaOf(c.pixels[at])} * 0x010101u) << "pixel " << i;
    partlyClear += alphaOf(c.pixels[at]) > 0 && alphaOf(c.pixels[at]) < 255;
  }
  EXPECT_GT(partlyClear, 0);
}

// Row 0 of the buffer is the bottom row on screen and the first row in the
// file; the bottom-left pixel of the picture must land there.
TEST(PreviewCommand, RowsAreWrittenInBufferOrder) {
  TempDir dir;
  std::vector<Pixel32> picture(2 * 2, makePixel(10, 20, 30));
  picture[0] = makePixel(200, 100, 50);  // bottom-left: opaque, keeps its colour
  const std::string input = TgaBytes(2, 2).pixels(picture).writeTo(dir.path() / "in.tga");
  const CliRun run = runCli({"preview", input, "--composite", dir.file("c.tga"), "--matte", dir.file("m.tga")});
  ASSERT_EQ(run.status, Cli::ExitSuccess) << run.err;
  const TargaFile c = readTargaFile(dir.file("c.tga"));
  ASSERT_EQ(c.pixels.size(), std::size_t{PreviewPixelCount});
  EXPECT_EQ(c.descriptor, 0);
  EXPECT_EQ(c.pixels[0], makePixel(200, 100, 50, 255));  // opaque: the colour itself
  EXPECT_EQ(c.pixels[PreviewPixelCount - 1], makePixel(10, 20, 30, 255));
}

TEST(PreviewCommand, UnreadableInputWritesNothing) {
  TempDir dir;
  const CliRun run = runCli({"preview", dir.file("missing.tga"), "--composite", dir.file("c.tga"), "--matte",
                             dir.file("m.tga")});
  EXPECT_EQ(run.status, Cli::ExitFileError);
  EXPECT_EQ(run.err, "keyvale-cli: " + dir.file("missing.tga") + ": cannot open for reading\n");
  EXPECT_FALSE(std::filesystem::exists(dir.file("c.tga")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("m.tga")));
}

}  // namespace
}  // namespace Kvl::Test
