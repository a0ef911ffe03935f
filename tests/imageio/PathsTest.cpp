// Paths as users make them: spaces, names that look like words the program
// might use itself, very long names and paths, letters beyond ASCII, folders
// where a file is expected. Paths are narrow strings (UTF-8 on Linux, the
// system code page on Windows), handed to the C runtime as they are.

#include <gtest/gtest.h>

#include <cstdio>

#include "WriteChecks.h"
#include "imageio/ImageLoader.h"
#include "imageio/ImageSaver.h"
#include "support/TgaBytes.h"

namespace Kvl {
namespace {

using Test::partialFilesUnder;
using Test::readFileBytes;
using Test::TempDir;
using Test::TgaBytes;

constexpr Pixel32 Skin = makePixel(210, 150, 120);
constexpr Pixel32 Backdrop = makePixel(40, 220, 60);

class PathsTest : public ::testing::Test {
protected:
  // A 3 x 2 source at `path` (a narrow string as the user's program gives it).
  static void writeSource(const std::string& path) {
    const auto bytes = TgaBytes(3, 2).pixels({Skin, Backdrop, Skin, Backdrop, Skin, Backdrop}).bytes();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    std::fclose(file);
  }

  // Reads `source`, saves it keyed to `output` and reads that back.
  void expectLoadAndSave(const std::string& source, const std::string& output) {
    TgaLoader loader;
    ASSERT_TRUE(loader.load(source.c_str())) << source;
    EXPECT_EQ(loader.width, 3);
    TgaSaver saver;
    ASSERT_TRUE(saver.save(output.c_str(), source.c_str(), GreenChannel, 0, 0))
        << output << ": " << saver.describeError();
    TgaLoader back;
    ASSERT_TRUE(back.load(output.c_str())) << output;
    EXPECT_EQ(back.width, 3);
    EXPECT_EQ(back.height, 2);
    EXPECT_EQ(back.bitsPerPixel, 32);
    EXPECT_EQ(partialFilesUnder(dir.path()), std::vector<std::string>{});
  }

  TempDir dir;
};

// Leading and doubled spaces; not trailing ones, which Windows strips.
TEST_F(PathsTest, SpacesInFolderAndFileNames) {
  std::filesystem::create_directory(dir.path() / " my  pictures");
  const std::string source = dir.file(" my  pictures/ shot 01  final.tga");
  writeSource(source);
  expectLoadAndSave(source, dir.file(" my  pictures/keyed shot 01.tga"));
}

TEST_F(PathsTest, NamesBeginningWithCancel) {
  for (const char* name : {"cancel", "cancel.tga", "Cancel shot.tga", "cancelled"}) {
    const std::string source = dir.file(std::string(name) + " source");
    writeSource(source);
    expectLoadAndSave(source, dir.file(name));
  }
}

TEST_F(PathsTest, LongNamesWithinWhatEverySystemTakes) {
  const std::string source = dir.file(std::string(120, 's') + ".tga");
  writeSource(source);
  expectLoadAndSave(source, dir.file(std::string(120, 'k') + ".tga"));
}

#if defined(__linux__)
// The temporary file is named after the target; at 255 bytes, the longest
// name Linux file systems take, it falls back to a short name of its own.
TEST_F(PathsTest, TheLongestNamesAndPathsOnLinux) {
  const std::string longest(255 - 4, 'k');
  const std::string source = dir.file(std::string(251, 's') + ".tga");
  writeSource(source);
  expectLoadAndSave(source, dir.file(longest + ".tga"));

  std::filesystem::path deep = dir.path();
  for (int level = 0; level < 14; ++level) deep /= std::string(200, static_cast<char>('a' + level));
  std::filesystem::create_directories(deep);
  ASSERT_GT(deep.string().size(), 2800u);
  const std::string deepSource = (deep / "source.tga").string();
  writeSource(deepSource);
  expectLoadAndSave(deepSource, (deep / (std::string(240, 'k') + ".tga")).string());
}

TEST_F(PathsTest, Utf8NamesOnLinux) {
  std::filesystem::create_directory(dir.path() / "Bilder für Jürgen");
  const std::string source = dir.file("Bilder für Jürgen/grüne Wiese – 緑の背景.tga");
  writeSource(source);
  expectLoadAndSave(source, dir.file("Bilder für Jürgen/freigestellt ✓ – 切り抜き.tga"));
}
#else
// Narrow paths are in the system code page; a name the code page cannot
// spell cannot be made at all, and the case is skipped.
TEST_F(PathsTest, CodePageNamesOnWindows) {
  const std::string source = dir.file("gr\xFCne Wiese.tga");  // u-umlaut in Windows-1252
  std::FILE* probe = std::fopen(source.c_str(), "wb");
  if (probe == nullptr) GTEST_SKIP() << "the code page has no u-umlaut";
  std::fclose(probe);
  writeSource(source);
  expectLoadAndSave(source, dir.file("freigestellt \xE9t\xE9.tga"));
}
#endif

TEST_F(PathsTest, AFolderWhereAPictureIsExpected) {
  const std::string folder = dir.path().string();
  TgaLoader loader;
  EXPECT_FALSE(loader.load(folder.c_str()));
  EXPECT_EQ(loader.error(), LoadError::CannotOpen);

  const std::string output = dir.file("keyed.tga");
  TgaSaver saver;
  EXPECT_FALSE(saver.save(output.c_str(), folder.c_str(), GreenChannel, 0, 0));
  EXPECT_EQ(saver.error(), SaveError::SourceUnreadable);
  EXPECT_EQ(saver.describeError(), "cannot open for reading");
  EXPECT_FALSE(std::filesystem::exists(output));

  // A file named as if it were a folder.
  const std::string source = dir.file("source.tga");
  writeSource(source);
  EXPECT_FALSE(loader.load((source + "/").c_str()));
  EXPECT_FALSE(saver.save((source + "/keyed.tga").c_str(), source.c_str(), GreenChannel, 0, 0));
  EXPECT_EQ(partialFilesUnder(dir.path()), std::vector<std::string>{});
}

// A bare name has no folder part: the temporary file goes beside it in the
// current folder.
TEST_F(PathsTest, ARelativeNameWithoutAFolder) {
  writeSource(dir.file("source.tga"));
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  TgaSaver saver;
  const bool saved = saver.save("keyed.tga", "source.tga", GreenChannel, 0, 0);
  std::filesystem::current_path(previous);
  EXPECT_TRUE(saved);
  EXPECT_EQ(readFileBytes(dir.path() / "keyed.tga").size(), 18u + 4u * 6u);
  EXPECT_EQ(partialFilesUnder(dir.path()), std::vector<std::string>{});
}

}  // namespace
}  // namespace Kvl
