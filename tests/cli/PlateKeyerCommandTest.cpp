// keyvale-cli --keyer plate: its setting file round-trips, a shot keyed
// with a written setting comes out as the run that chose it, the bytes do
// not depend on --jobs, and what the plate keyer cannot take is refused.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "CliTestSupport.h"
#include "cli/SettingsFile.h"
#include "support/TgaBytes.h"

namespace Kvl::Test {
namespace {

Keying plateKeying() {
  Keying keying;
  keying.keyer = KeyerKind::Plate;
  PlateSettings& s = keying.plate;
  s.channel = BlueChannel;
  s.backdropTolerance = 17;
  s.foregroundTolerance = 3;
  s.hueTolerance = 250;
  s.hueRange = 1;
  s.backdrop = {3, 2, {makePixel(1, 2, 3), makePixel(255, 0, 16), makePixel(0, 0, 0), makePixel(16, 32, 48),
                       makePixel(200, 201, 202), makePixel(255, 255, 255)}};
  return keying;
}

// With a named backdrop colour and without (as files written before it was
// known are).
TEST(PlateSettingsFile, ReadsWhatItWrites) {
  Keying written = plateKeying();
  for (const bool named : {false, true}) {
    if (named) written.plate.screen = makePixel(0x9a, 0xae, 0x3c);
    const std::string text = Cli::formatSettingsFile(written);
    EXPECT_EQ(text.find("screen=#9aae3c\n") != std::string::npos, named) << text;
    std::string error;
    const auto read = Cli::parseSettingsFile(text, error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(*read, written);
  }
}

TEST(PlateSettingsFile, RefusesWhatDoesNotDescribeOneBackdropNamingTheLine) {
  const std::string head = "keyer=plate\nchannel=green\nbackdrop-tolerance=12\nforeground-tolerance=4\n"
                           "hue-tolerance=12\nhue-range=64\n";  // lines 1-6
  const struct {
    std::string text;
    const char* reason;
  } cases[] = {
      {head + "backdrop-cells=2x1\nbackdrop=#000000 #ffffff\nbackdrop=#000000 #ffffff\n",
       "backdrop-cells names 1 rows; 2 backdrop lines are given"},
      {head + "backdrop-cells=2x1\nbackdrop=#000000\n", "line 8: backdrop rows hold 2 colours, not 1"},
      {head + "backdrop-cells=2x1\nbackdrop=#000000 #fffff\n", "line 8: backdrop takes colours as #RRGGBB, not '#fffff'"},
      {head + "backdrop-cells=2x1\nbackdrop=#000000 green\n", "line 8: backdrop takes colours as #RRGGBB, not 'green'"},
      {head + "backdrop-cells=65x1\n", "line 7: backdrop-cells takes COLUMNSxROWS, each from 1 to 64"},
      {head + "backdrop-cells=0x1\n", "line 7: backdrop-cells takes COLUMNSxROWS, each from 1 to 64"},
      {head + "backdrop-cells=1x1\nbackdrop=#000000\ncontrast=40\n",
       "line 9: unknown setting 'contrast' for the plate keyer"},
      {head + "backdrop=#000000\n", "no backdrop-cells given"},
      {head + "screen=9aae3c\n", "line 7: screen takes a colour as #RRGGBB"},
      {"keyer=chroma\n", "line 1: keyer takes classic or plate"},
      {"channel=green\ncontrast=40\noffset=20\nbackdrop=#000000\n",
       "line 4: unknown setting 'backdrop' for the classic keyer"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(Cli::parseSettingsFile(c.text, error)) << c.text;
    EXPECT_EQ(error, c.reason) << c.text;
  }
}

class PlateCommand : public ::testing::Test {
protected:
  std::string picture(const std::string& name, int seed) {
    return TgaBytes(96, 64).pixels(greenScreen(96, 64, GreenChannel, seed)).writeTo(dir.path() / name);
  }
  TempDir dir;
};

TEST_F(PlateCommand, AWrittenSettingKeysTheShotAsTheRunThatChoseIt) {
  const std::string input = picture("a.tga", 1);
  const std::string setting = dir.file("shot.keyvale");
  const CliRun chosen = runCli({"key", input, dir.file("chosen.tga"), "--keyer", "plate", "--auto-adjust",
                                "--settings-out", setting});
  ASSERT_EQ(chosen.status, Cli::ExitSuccess) << chosen.err;
  EXPECT_EQ(chosen.out.rfind("keyer=plate channel=green ", 0), 0u) << chosen.out;

  const CliRun reused = runCli({"key", input, dir.file("reused.tga"), "--settings", setting});
  ASSERT_EQ(reused.status, Cli::ExitSuccess) << reused.err;
  EXPECT_EQ(reused.out, chosen.out);
  EXPECT_EQ(readFileBytes(dir.file("reused.tga")), readFileBytes(dir.file("chosen.tga")));
}

TEST_F(PlateCommand, TheBytesDoNotDependOnJobs) {
  const std::vector<std::string> inputs = {picture("a.tga", 1), picture("b.tga", 2), picture("c.tga", 3)};
  for (const char* jobs : {"1", "3"}) {
    const CliRun run = runCli({"key", inputs[0], inputs[1], inputs[2], "--out-dir", dir.file(jobs), "--jobs", jobs,
                               "--keyer", "plate", "--auto-adjust"});
    ASSERT_EQ(run.status, Cli::ExitSuccess) << run.err;
  }
  for (const char* name : {"a.tga", "b.tga", "c.tga"}) {
    EXPECT_EQ(readFileBytes(dir.path() / "1" / name), readFileBytes(dir.path() / "3" / name)) << name;
  }
}

TEST_F(PlateCommand, RefusesTheClassicKeyersSlidersAndAMixedSetting) {
  const std::string input = picture("a.tga", 1);
  const std::string output = dir.file("out.tga");
  const CliRun sliders = runCli({"key", input, output, "--keyer", "plate", "--contrast", "40"});
  EXPECT_EQ(sliders.status, Cli::ExitUsage);
  EXPECT_NE(sliders.err.find("--contrast and --offset set the classic keyer"), std::string::npos) << sliders.err;
  EXPECT_EQ(runCli({"key", input, output, "--keyer", "chroma"}).status, Cli::ExitUsage);

  std::ofstream(dir.file("plate.keyvale")) << Cli::formatSettingsFile(plateKeying());
  EXPECT_EQ(runCli({"key", input, output, "--keyer", "plate", "--settings", dir.file("plate.keyvale")}).status,
            Cli::ExitUsage);
  const CliRun preview = runCli({"preview", input, "--composite", dir.file("c.tga"), "--matte", dir.file("m.tga"),
                                 "--settings", dir.file("plate.keyvale")});
  EXPECT_EQ(preview.status, Cli::ExitFileError);
  EXPECT_FALSE(std::filesystem::exists(output));
  EXPECT_FALSE(std::filesystem::exists(dir.file("c.tga")));
}

// A picture with no backdrop is refused, naming the file, rather than keyed
// against its own subject; --screen names the backdrop, and needs the plate
// keyer and a colour.
TEST_F(PlateCommand, RefusesAPictureWithoutABackdropAndTakesANamedScreen) {
  const std::string grey = TgaBytes(96, 64).pixels(std::vector<Pixel32>(96 * 64, makePixel(128, 128, 128)))
                               .writeTo(dir.path() / "grey.tga");
  const std::string output = dir.file("out.tga");
  const CliRun refused = runCli({"key", grey, output, "--keyer", "plate"});
  EXPECT_EQ(refused.status, Cli::ExitFileError);
  EXPECT_NE(refused.err.find("grey.tga"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("no backdrop found"), std::string::npos) << refused.err;
  EXPECT_FALSE(std::filesystem::exists(output));

  const std::string input = picture("a.tga", 1);
  const std::string setting = dir.file("shot.keyvale");
  const CliRun named = runCli({"key", input, output, "--keyer", "plate", "--screen", "#30b040", "--settings-out", setting});
  ASSERT_EQ(named.status, Cli::ExitSuccess) << named.err;
  EXPECT_NE(named.out.find(" screen=#30b040"), std::string::npos) << named.out;
  EXPECT_EQ(runCli({"key", input, output, "--screen", "#30b040"}).status, Cli::ExitUsage);
  EXPECT_EQ(runCli({"key", input, output, "--keyer", "plate", "--screen", "green"}).status, Cli::ExitUsage);
}

// A clean plate keys the shot; the setting file names it, so a task keying
// with the file alone gives the same bytes; one of another size is refused.
TEST_F(PlateCommand, KeysAgainstACleanPlateTheSettingFileNames) {
  const std::string input = picture("a.tga", 1);
  const std::string clean = TgaBytes(96, 64).pixels(greenScreen(96, 64, GreenChannel, 7)).writeTo(dir.path() / "empty.tga");
  const std::string setting = dir.file("shot.keyvale");
  const CliRun chosen = runCli({"key", input, dir.file("chosen.tga"), "--keyer", "plate", "--auto-adjust",
                                "--clean-plate", clean, "--settings-out", setting});
  ASSERT_EQ(chosen.status, Cli::ExitSuccess) << chosen.err;
  std::string error;
  const auto written = Cli::readSettingsFile(setting, error);
  ASSERT_TRUE(written) << error;
  EXPECT_EQ(std::filesystem::path(written->plate.cleanPlateFile), std::filesystem::absolute(clean));

  const CliRun reused = runCli({"key", input, dir.file("reused.tga"), "--settings", setting});
  ASSERT_EQ(reused.status, Cli::ExitSuccess) << reused.err;
  EXPECT_EQ(readFileBytes(dir.file("reused.tga")), readFileBytes(dir.file("chosen.tga")));

  const std::string small = TgaBytes(48, 32).pixels(greenScreen(48, 32, GreenChannel, 7)).writeTo(dir.path() / "small.tga");
  const CliRun mismatched =
      runCli({"key", input, dir.file("mismatched.tga"), "--keyer", "plate", "--clean-plate", small});
  EXPECT_EQ(mismatched.status, Cli::ExitFileError);
  EXPECT_NE(mismatched.err.find("the clean plate"), std::string::npos) << mismatched.err;
  EXPECT_FALSE(std::filesystem::exists(dir.file("mismatched.tga")));
  const CliRun missing = runCli({"key", input, dir.file("missing.tga"), "--keyer", "plate", "--clean-plate",
                                 dir.file("none.png")});
  EXPECT_EQ(missing.status, Cli::ExitFileError);
  EXPECT_NE(missing.err.find("none.png"), std::string::npos) << missing.err;
  EXPECT_EQ(runCli({"key", input, dir.file("classic.tga"), "--clean-plate", clean}).status, Cli::ExitUsage);
}

}  // namespace
}  // namespace Kvl::Test
