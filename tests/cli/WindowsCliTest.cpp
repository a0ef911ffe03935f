// keyvale-cli as a Windows user meets it: patterns it expands itself, file
// names in any language, and PNG and JPEG through the system's codecs. The
// pattern and name tests run on Linux too, where the same code keeps names
// as their bytes.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "CliTestSupport.h"
#include "SystemCodecFiles.h"
#include "cli/Wildcards.h"
#include "imageio/PathText.h"
#include "support/TgaBytes.h"

namespace Kvl::Test {
namespace {

namespace fs = std::filesystem;

// As keyvale-cli.exe runs: patterns expanded by the program.
CliRun runAsOnWindows(const std::vector<std::string>& arguments) {
  std::ostringstream out, err;
  Cli::ConsoleOptions console;
  console.expandWildcards = true;
  CliRun run;
  run.status = Cli::runCommandLine(arguments, out, err, console);
  run.out = out.str();
  run.err = err.str();
  return run;
}

// Paths built from UTF-8 text, as the program holds them.
std::string inFolder(const fs::path& folder, const std::string& name) { return textOf(folder / pathOf(name)); }

std::string writeTarga(const std::string& path, int width, int height, int seed = 0) {
  return TgaBytes(width, height).pixels(greenScreen(width, height, GreenChannel, seed)).writeTo(pathOf(path));
}

std::set<std::string> namesIn(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(textOf(entry.path().filename()));
  return names;
}

TEST(Wildcards, MatchLikeWindowsFileNames) {
  EXPECT_TRUE(Cli::matchesWildcard("*.JPG", "shot.jpg"));  // without regard to case
  EXPECT_TRUE(Cli::matchesWildcard("shot?.tga", "shot1.tga"));
  EXPECT_FALSE(Cli::matchesWildcard("shot?.tga", "shot12.tga"));
  EXPECT_FALSE(Cli::matchesWildcard("shot?.tga", "shot.tga"));
  EXPECT_TRUE(Cli::matchesWildcard("?.tga", "\xC3\xB1.tga"));  // one character, two bytes: ñ
  EXPECT_TRUE(Cli::matchesWildcard("*a*b", "xaxab"));          // the first * must give back
  EXPECT_FALSE(Cli::matchesWildcard("*a*b", "xabx"));
  EXPECT_TRUE(Cli::matchesWildcard("*", ""));
  EXPECT_FALSE(Cli::matchesWildcard("*.tga", "shot.tga.png"));
}

TEST(Wildcards, APatternBecomesItsFilesInOrderAndOneMatchingNothingIsNamed) {
  TempDir dir;
  writeTarga(inFolder(dir.path(), "b.tga"), 3, 2, 1);
  writeTarga(inFolder(dir.path(), "a.TGA"), 3, 2, 2);
  std::ofstream(pathOf(inFolder(dir.path(), "notes.txt"))) << "not a picture";
  fs::create_directory(dir.path() / "folder.tga");  // a folder is never an input
  const std::string out = inFolder(dir.path(), "keyed");
  const CliRun run = runAsOnWindows({"key", inFolder(dir.path(), "*.tga"), "--out-dir", out, "--jobs", "1"});
  ASSERT_EQ(run.status, Cli::ExitSuccess) << run.err;
  EXPECT_EQ(run.out.find(inFolder(dir.path(), "a.TGA") + ": "), 0u) << run.out;  // sorted: a before b
  EXPECT_NE(run.out.find("\n" + inFolder(dir.path(), "b.tga") + ": "), std::string::npos) << run.out;
  EXPECT_EQ(namesIn(out), (std::set<std::string>{"a.tga", "b.tga"}));

  const std::string nothing = inFolder(dir.path(), "*.jpg");
  const CliRun none = runAsOnWindows({"key", nothing, inFolder(dir.path(), "a.TGA"), "--out-dir", out + "2"});
  EXPECT_EQ(none.status, Cli::ExitFileError);
  EXPECT_EQ(none.err, "keyvale-cli: " + nothing + ": no file matches this pattern\n");
  EXPECT_FALSE(fs::exists(pathOf(out + "2")));
}

#ifndef _WIN32
// Windows names cannot hold * or ?; elsewhere a file named so is taken as named.
TEST(Wildcards, AnExistingFileIsTakenAsItIsNamed) {
  TempDir dir;
  const std::string literal = writeTarga(inFolder(dir.path(), "shot?.tga"), 3, 2);
  writeTarga(inFolder(dir.path(), "shot1.tga"), 3, 2);
  const CliRun run = runAsOnWindows({"key", literal, inFolder(dir.path(), "out.tga")});
  ASSERT_EQ(run.status, Cli::ExitSuccess) << run.err;
  EXPECT_EQ(run.out.find("shot1"), std::string::npos);
}
#endif

// Han, Latin-1 and a space: outside any one Windows code page but UTF-8.
const std::string TokyoZurich = "\xE4\xB8\x9C\xE4\xBA\xAC Z\xC3\xBCrich \xC3\xB1";  // 东京 Zürich ñ

TEST(UnicodeNames, AFileAndAFolderOfThemAreKeyedUnderTheirNames) {
  TempDir dir;
  const std::string plain = writeTarga(inFolder(dir.path(), "plain.tga"), 6, 5);
  const std::string single = writeTarga(inFolder(dir.path(), TokyoZurich + ".tga"), 6, 5);
  const CliRun one = runAsOnWindows({"key", single, inFolder(dir.path(), "keyed " + TokyoZurich + ".tga")});
  const CliRun reference = runAsOnWindows({"key", plain, inFolder(dir.path(), "keyed plain.tga")});
  ASSERT_EQ(one.status, Cli::ExitSuccess) << one.err;
  ASSERT_EQ(reference.status, Cli::ExitSuccess) << reference.err;
  EXPECT_EQ(readFileBytes(pathOf(inFolder(dir.path(), "keyed " + TokyoZurich + ".tga"))),
            readFileBytes(pathOf(inFolder(dir.path(), "keyed plain.tga"))));

  const fs::path folder = pathOf(inFolder(dir.path(), TokyoZurich));
  fs::create_directory(folder);
  writeTarga(inFolder(folder, TokyoZurich + ".tga"), 4, 3, 1);
  writeTarga(inFolder(folder, "\xC3\xB1" "and\xC3\xBA.tga"), 4, 3, 2);  // ñandú
  const std::string out = inFolder(dir.path(), "keyed \xC3\xBC");
  const CliRun batch = runAsOnWindows({"key", inFolder(folder, "*.tga"), "--out-dir", out});
  ASSERT_EQ(batch.status, Cli::ExitSuccess) << batch.err;
  EXPECT_EQ(namesIn(pathOf(out)), (std::set<std::string>{TokyoZurich + ".tga", "\xC3\xB1" "and\xC3\xBA.tga"}));
  EXPECT_NE(batch.out.find(TokyoZurich + ".tga: channel="), std::string::npos) << batch.out;
}

}  // namespace
}  // namespace Kvl::Test
