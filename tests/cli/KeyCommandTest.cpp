// `keyvale-cli key INPUT OUTPUT`: the file it writes is the one Save As
// writes, the settings it chooses are the ones Open chooses, and a file it
// cannot read or write costs nothing but one line on stderr.

#include <gtest/gtest.h>

#include <algorithm>

#include "video/VideoFiles.h"
#include "CliTestSupport.h"
#include "engine/ChannelControls.h"
#include "engine/PreviewWorkspace.h"
#include "imageio/ImageSaver.h"
#include "support/RecordingShell.h"
#include "support/TgaBytes.h"

namespace Kvl::Test {
namespace {

std::string settingsLine(const KeySettings& s) {
  return std::string("channel=") + Cli::channelName(s.channel) + " contrast=" + std::to_string(s.contrast) +
         " offset=" + std::to_string(s.offset) + "\n";
}

std::vector<std::uint8_t> savedBySaver(const std::string& input, const std::string& output, KeyChannel channel,
                                       std::uint8_t contrast, std::uint8_t offset) {
  TgaSaver saver;
  EXPECT_TRUE(saver.save(output.c_str(), input.c_str(), channel, contrast, offset)) << saver.describeError();
  return readFileBytes(output);
}

TEST(KeyCommand, RefusedInputsCostOneLineAndNoOutput) {
  TempDir dir;
  TgaBytes(2, 1).type(1).pixels({0, 0}).writeTo(dir.path() / "mapped.tga");
  TgaBytes(2, 1, 16).raw({1, 2, 3, 4}).writeTo(dir.path() / "depth16.tga");
  const char bitmap[] = "BM\x46\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\x02\0";  // a BMP file's start
  std::ofstream(dir.file("bitmap.bmp"), std::ios::binary).write(bitmap, sizeof bitmap - 1);
  // A file that is neither Targa nor a clip gets the video libraries' reason
  // where the build has them.
  const char* const notPicture = canReadClips() ? "not a picture or clip keyvale-cli can read (a picture format "
                                                  "keyvale-cli does not read: bmp_pipe)"
                                                : "not a true-colour Targa file";
  const struct {
    const char* name;
    const char* reason;
  } cases[] = {
      {"missing.tga", "cannot open for reading"},
      {"mapped.tga", "not a true-colour Targa file (image type 1)"},
      {"depth16.tga", "unsupported pixel depth 16"},
      {"bitmap.bmp", notPicture},
  };
  for (const auto& c : cases) {
    const std::string input = dir.file(c.name);
    for (const bool outputExists : {false, true}) {
      const std::string output = dir.file("out.tga");
      std::filesystem::remove(output);
      if (outputExists) std::ofstream(output) << "keep me";
      const CliRun run = runCli({"key", input, output, "--channel", "auto", "--auto-adjust"});
      EXPECT_EQ(run.status, Cli::ExitFileError) << c.name;
      EXPECT_TRUE(run.err.starts_with("keyvale-cli: " + input + ": " + c.reason)) << run.err;
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
      EXPECT_EQ(run.err.back(), '\n');
      EXPECT_TRUE(run.out.empty()) << c.name;
      EXPECT_EQ(std::filesystem::exists(output), outputExists) << c.name;
      if (outputExists) EXPECT_EQ(readFileBytes(output), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
    }
  }
  EXPECT_TRUE(leftoverPartials(dir.path()).empty());
}

TEST(KeyCommand, AnOutputThatCannotBeWrittenIsNamed) {
  TempDir dir;
  const std::string input = TgaBytes(2, 2).pixels(greenScreen(2, 2)).writeTo(dir.path() / "in.tga");
  const std::string output = (dir.path() / "no-such-folder" / "out.tga").string();
  const CliRun run = runCli({"key", input, output});
  EXPECT_EQ(run.status, Cli::ExitFileError);
  EXPECT_EQ(run.err, "keyvale-cli: " + output + ": cannot open for writing\n");
  EXPECT_TRUE(run.out.empty());
}

TEST(KeyCommand, WritesWhatTheKeyedWriterWritesAndPrintsTheSettings) {
  TempDir dir;
  const std::vector<Pixel32> picture = greenScreen(7, 5, BlueChannel);
  const std::string plain = TgaBytes(7, 5).pixels(picture).writeTo(dir.path() / "plain.tga");
  // Run-length, 32 bits, an image ID, a colour map to skip and a top-left origin.
  TgaBytes awkward(7, 5, 32);
  awkward.rle().id({1, 2, 3, 4, 5}).colourMap(3, 24).descriptor(0x20).runPacket(4, picture[0]).rawPacket({picture[1], picture[2], picture[3]});
  for (std::size_t i = 7; i < picture.size(); ++i) awkward.rawPacket({picture[i]});
  const std::string odd = awkward.writeTo(dir.path() / "awkward.tga");

  const struct {
    const char* channel;
    KeyChannel value;
    int contrast, offset;
  } settings[] = {{"green", GreenChannel, 0, 0}, {"blue", BlueChannel, 30, 10}, {"red", RedChannel, 200, 55}};
  for (const std::string& input : {plain, odd}) {
    for (const auto& s : settings) {
      const std::string output = dir.file("cli.tga");
      const CliRun run = runCli({"key", input, output, "--channel", s.channel, "--contrast",
                                 std::to_string(s.contrast), "--offset", std::to_string(s.offset)});
      ASSERT_EQ(run.status, Cli::ExitSuccess) << run.err;
      EXPECT_EQ(run.out, "channel=" + std::string(s.channel) + " contrast=" + std::to_string(s.contrast) +
                             " offset=" + std::to_string(s.offset) + "\n");
      EXPECT_TRUE(run.err.empty()) << run.err;
      EXPECT_EQ(readFileBytes(output), savedBySaver(input, dir.file("saver.tga"), s.value,
                                                    static_cast<std::uint8_t>(s.contrast),
                                                    static_cast<std::uint8_t>(s.offset)))
          << input << " " << s.channel;
    }
  }
}

// Open then Save As in the window, as the engine does them: the command
// line must arrive at the same settings and the same file.
TEST(KeyCommand, AutoSettingsAreTheOnesOpenChooses) {
  TempDir dir;
  for (const KeyChannel backdrop : {GreenChannel, BlueChannel, RedChannel}) {
    const std::string input = TgaBytes(300, 170).pixels(greenScreen(300, 170, backdrop)).writeTo(dir.path() / "in.tga");
    Kvl::Test::RecordingShell shell;
    PreviewWorkspace workspace(shell);
    KeySettings opened;
    openPicture(input.c_str(), opened, shell, workspace.processor());
    ASSERT_EQ(opened.channel, backdrop);
    ASSERT_GT(opened.contrast, 0) << "the picture must give auto adjust something to choose";

    const std::string output = dir.file("out.tga");
    const CliRun run = runCli({"key", input, output, "--channel", "auto", "--auto-adjust"});
    ASSERT_EQ(run.status, Cli::ExitSuccess) << run.err;
    EXPECT_EQ(run.out, settingsLine(opened));
    EXPECT_EQ(readFileBytes(output), savedBySaver(input, dir.file("saver.tga"), opened.channel,
                                                  opened.contrast, opened.offset));

    // --channel auto alone keeps the given sliders; --auto-adjust alone the given channel.
    EXPECT_EQ(runCli({"key", input, output, "--channel", "auto", "--contrast", "9"}).out,
              "channel=" + std::string(Cli::channelName(backdrop)) + " contrast=9 offset=0\n");
    KeySettings adjusted;
    adjusted.channel = GreenChannel;
    selectChannel(GreenChannel, adjusted, shell, &workspace.processor());
    autoAdjust(adjusted, shell, &workspace.processor());
    EXPECT_EQ(runCli({"key", input, output, "--auto-adjust"}).out, settingsLine(adjusted));
  }
}

TEST(KeyCommand, OverwritingTheInputNeedsOverwrite) {
  TempDir dir;
  const TgaBytes picture = TgaBytes(6, 4).pixels(greenScreen(6, 4));
  const std::string input = picture.writeTo(dir.path() / "shot.tga");
  const std::vector<std::uint8_t> original = readFileBytes(input);
  // The same file under another spelling of its path.
  const std::string sameFile = (dir.path() / "." / "shot.tga").string();

  const CliRun refused = runCli({"key", input, sameFile, "--contrast", "20"});
  EXPECT_EQ(refused.status, Cli::ExitFileError);
  EXPECT_EQ(refused.err, "keyvale-cli: " + sameFile + ": output would overwrite its input; add --overwrite to allow it\n");
  EXPECT_EQ(readFileBytes(input), original);

  const std::vector<std::uint8_t> expected = savedBySaver(input, dir.file("expected.tga"), GreenChannel, 20, 0);
  const CliRun allowed = runCli({"key", input, sameFile, "--contrast", "20", "--overwrite"});
  EXPECT_EQ(allowed.status, Cli::ExitSuccess) << allowed.err;
  EXPECT_EQ(readFileBytes(input), expected);
  EXPECT_TRUE(leftoverPartials(dir.path()).empty());
}

TEST(KeyCommand, TruncatedTargaIsKeyedAsTheWindowKeysItWithAWarning) {
  TempDir dir;
  const std::string input = TgaBytes(4, 3).pixels(greenScreen(4, 3)).writeTo(dir.path() / "cut.tga");
  std::filesystem::resize_file(input, std::filesystem::file_size(input) - 7);  // two and a third pixels short
  for (const bool autoSettings : {false, true}) {
    std::vector<std::string> arguments = {"key", input, dir.file("out.tga")};
    if (autoSettings) arguments.insert(arguments.end(), {"--channel", "auto", "--auto-adjust"});
    const CliRun run = runCli(arguments);
    EXPECT_EQ(run.status, Cli::ExitSuccess);
    EXPECT_EQ(run.err, "keyvale-cli: warning: " + input + ": file is truncated; missing pixels are keyed as black\n");
    const TargaFile keyed = readTargaFile(dir.file("out.tga"));
    ASSERT_EQ(keyed.pixels.size(), 12u);
    EXPECT_EQ(keyed.pixels.back() & 0x00FFFFFFu, 0u);  // black, whatever its alpha
  }
}

}  // namespace
}  // namespace Kvl::Test
