// The setting file: what a person may write in it, what is refused, and
// that a setting written by one run keys another picture exactly as the
// first run's own choice did.

#include <gtest/gtest.h>

#include <fstream>

#include "CliTestSupport.h"
#include "cli/SettingsFile.h"
#include "support/TgaBytes.h"

namespace Kvl::Test {
namespace {

TEST(SettingsFile, ReadsWhatItWritesAndWhatAPersonTypes) {
  const Keying written{KeyerKind::Classic, {BlueChannel, 125, 62}, {}};
  std::string error;
  EXPECT_EQ(Cli::parseSettingsFile(Cli::formatSettingsFile(written), error), written) << error;

  const auto typed = Cli::parseSettingsFile("# shot 12\r\n\n  offset = 7 \r\ncontrast=0\nchannel=red\n", error);
  ASSERT_TRUE(typed) << error;
  EXPECT_EQ(typed->classic, (KeySettings{RedChannel, 0, 7}));
}

TEST(SettingsFile, RefusesIncompleteOrWrongSettingsNamingTheLine) {
  const struct {
    const char* text;
    const char* reason;
  } cases[] = {
      {"channel=green\ncontrast=40\n", "no offset given"},
      {"channel=auto\ncontrast=40\noffset=20\n", "line 1: channel takes red, green or blue"},
      {"channel=green\ncontrast=256\noffset=20\n", "line 2: contrast takes a number from 0 to 255"},
      {"channel=green\ncontrast=-1\noffset=20\n", "line 2: contrast takes a number from 0 to 255"},
      {"channel=green\ncontrast=4O\noffset=20\n", "line 2: contrast takes a number from 0 to 255"},
      {"channel=green\ncontrast=40\noffset=20\noffset=21\n", "line 4: offset is given twice"},
      {"channel=green\ncontrast 40\noffset=20\n", "line 2: expected name=value"},
      {"channel=green\ncontrast=40\noffset=20\ngamma=2\n", "line 4: unknown setting 'gamma' for the classic keyer"},
      {"", "no channel given"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(Cli::parseSettingsFile(c.text, error)) << c.text;
    EXPECT_EQ(error, c.reason) << c.text;
  }
}

TEST(SettingsFile, AChosenSettingWrittenOnceKeysTheNextPictureTheSame) {
  TempDir dir;
  const std::string first = TgaBytes(40, 30).pixels(greenScreen(40, 30, GreenChannel, 1)).writeTo(dir.path() / "a.tga");
  const std::string second = TgaBytes(40, 30).pixels(greenScreen(40, 30, GreenChannel, 2)).writeTo(dir.path() / "b.tga");
  const std::string setting = dir.file("shot.keyvale");

  const CliRun chosen = runCli({"key", first, dir.file("a-keyed.tga"), "--channel", "auto", "--auto-adjust",
                                "--settings-out", setting});
  ASSERT_EQ(chosen.status, Cli::ExitSuccess) << chosen.err;
  std::string error;
  const auto read = Cli::readSettingsFile(setting, error);
  ASSERT_TRUE(read) << error;
  const KeySettings& s = read->classic;
  EXPECT_EQ(chosen.out, "channel=" + std::string(Cli::channelName(s.channel)) + " contrast=" +
                            std::to_string(s.contrast) + " offset=" + std::to_string(s.offset) + "\n");

  const CliRun reused = runCli({"key", second, dir.file("b-from-file.tga"), "--settings", setting});
  const CliRun given = runCli({"key", second, dir.file("b-given.tga"), "--channel", Cli::channelName(s.channel),
                               "--contrast", std::to_string(s.contrast), "--offset", std::to_string(s.offset)});
  ASSERT_EQ(reused.status, Cli::ExitSuccess) << reused.err;
  EXPECT_EQ(reused.out, chosen.out);
  EXPECT_EQ(readFileBytes(dir.file("b-from-file.tga")), readFileBytes(dir.file("b-given.tga")));
}

TEST(SettingsFile, MisuseIsRefusedBeforeAnyOutputIsWritten) {
  TempDir dir;
  const std::string input = TgaBytes(4, 3).pixels(greenScreen(4, 3)).writeTo(dir.path() / "in.tga");
  const std::string output = dir.file("out.tga");
  std::ofstream(dir.file("bad.keyvale")) << "channel=green\n";

  const CliRun missing = runCli({"key", input, output, "--settings", dir.file("none.keyvale")});
  EXPECT_EQ(missing.status, Cli::ExitFileError);
  EXPECT_EQ(missing.err, "keyvale-cli: " + dir.file("none.keyvale") + ": No such file or directory\n");
  const CliRun broken = runCli({"key", input, output, "--settings", dir.file("bad.keyvale")});
  EXPECT_EQ(broken.status, Cli::ExitFileError);
  EXPECT_EQ(broken.err, "keyvale-cli: " + dir.file("bad.keyvale") + ": no contrast given\n");
  const CliRun mixed = runCli({"key", input, output, "--settings", dir.file("bad.keyvale"), "--contrast", "4"});
  EXPECT_EQ(mixed.status, Cli::ExitUsage);
  EXPECT_TRUE(mixed.err.starts_with("keyvale-cli: --settings gives the whole setting; drop --contrast\n"));
  const CliRun many = runCli({"key", input, input, "--out-dir", dir.file("keyed"), "--auto-adjust",
                              "--settings-out", dir.file("out.keyvale")});
  EXPECT_EQ(many.status, Cli::ExitUsage);
  EXPECT_FALSE(std::filesystem::exists(output));
  EXPECT_FALSE(std::filesystem::exists(dir.file("keyed")));
}

}  // namespace
}  // namespace Kvl::Test
