// A clean plate from the shot itself: --clean-plate-frames from the empty
// frames at the head of a shot, --clean-plate-from-shot from a shot whose
// subject never leaves. Either is written beside the setting file and named
// there, so a run with that setting file keys every frame exactly as the
// first run did; frames the shot does not have, and clashing options, are
// refused.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "CliTestSupport.h"
#include "ClipTools.h"
#include "cli/FrameSequence.h"
#include "cli/ShotPlate.h"
#include "support/TgaBytes.h"

namespace Kvl::Test {
namespace {

namespace fs = std::filesystem;
using namespace Kvl::Cli;

constexpr int Width = 48, Height = 30;

// Frames 1-3 show the empty set (a green backdrop with a dark crease at
// column 20, too narrow for the fitted model); from frame 4 on a
// skin-coloured subject stands on the right. With `walking`, the subject
// is in every frame, crossing the set six pixels a frame.
std::vector<Pixel32> frame(int number, bool walking = false) {
  std::vector<Pixel32> pixels;
  for (int y = 0; y < Height; ++y) {
    for (int x = 0; x < Width; ++x) {
      const int grain = (x * 7 + y * 3 + number * 5) % 7 - 3;
      const int light = x == 20 ? 60 : 100;
      auto level = [&](int v) { return static_cast<std::uint8_t>(std::clamp(v * light / 100 + grain, 0, 255)); };
      const bool subject = walking ? x >= 6 * number && x < 6 * number + 10 && y >= 8 && y < 24
                                   : number >= 4 && x >= 30 && y >= 8 && y < 24;
      pixels.push_back(subject ? makePixel(205, 150, 120) : makePixel(level(40), level(180), level(60)));
    }
  }
  return pixels;
}

fs::path writeShot(const fs::path& folder, bool walking = false) {
  fs::create_directories(folder);
  const FramePattern pattern = *parseFramePattern((folder / "shot.%04d.tga").string());
  for (int number = 1; number <= 6; ++number) {
    TgaBytes(Width, Height, 24).pixels(frame(number, walking)).writeTo(framePath(pattern, number));
  }
  return folder / "shot.%04d.tga";
}

std::string bytesOf(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(ShotCleanPlate, WrittenBesideTheSettingFileAndKeyedAgainstByEveryRun) {
  TempDir dir;
  const fs::path shot = writeShot(dir.path() / "in");
  const std::string setting = dir.file("take.kvs");
  const CliRun first = runCli({"key", shot.string(), "--out-dir", dir.file("first"), "--frames", "1-6", "--keyer",
                               "plate", "--clean-plate-frames", "1-3", "--settings-out", setting});
  ASSERT_EQ(first.status, ExitSuccess) << first.err;
  const fs::path plate = dir.path() / "take.clean-plate.tga";
  ASSERT_TRUE(fs::exists(plate));
  std::ifstream settingFile(setting);
  const std::string text{std::istreambuf_iterator<char>(settingFile), std::istreambuf_iterator<char>()};
  EXPECT_NE(text.find("clean-plate=" + fs::absolute(plate).string()), std::string::npos) << text;
  // The plate is the empty set: keyed against it, the crease is backdrop.
  const TargaFile keyed = readTargaFile(dir.path() / "first" / "shot.0005.tga");
  ASSERT_EQ(keyed.pixels.size(), std::size_t{Width} * Height);
  for (int y = 0; y < Height; ++y) EXPECT_EQ(alphaOf(keyed.pixels[std::size_t(y) * Width + 20]), 0) << y;
  // A farm task with the setting file keys the same bytes.
  const CliRun task = runCli({"key", shot.string(), "--out-dir", dir.file("task"), "--frames", "1-6", "--chunk-size",
                              "4", "--task", "1", "--settings", setting});
  ASSERT_EQ(task.status, ExitSuccess) << task.err;
  for (const char* name : {"shot.0005.tga", "shot.0006.tga"}) {
    EXPECT_EQ(bytesOf(dir.path() / "task" / name), bytesOf(dir.path() / "first" / name)) << name;
  }
}

// The alphas of column 20 (the crease) of a keyed frame.
std::vector<int> creaseAlphas(const fs::path& keyed) {
  const TargaFile file = readTargaFile(keyed);
  std::vector<int> alphas;
  for (std::size_t y = 0; y < Height && file.pixels.size() == std::size_t{Width} * Height; ++y) {
    alphas.push_back(alphaOf(file.pixels[y * Width + 20]));
  }
  return alphas;
}

TEST(ShotCleanPlate, MadeFromAShotWithoutAnEmptyFrame) {
  TempDir dir;
  const fs::path shot = writeShot(dir.path() / "in", true);
  const std::vector<int> clear(Height, 0);
  // The fitted model cannot follow the crease: it keys partly opaque.
  ASSERT_EQ(runCli({"key", shot.string(), "--out-dir", dir.file("model"), "--frames", "1-6", "--keyer", "plate"}).status,
            ExitSuccess);
  EXPECT_NE(creaseAlphas(dir.path() / "model" / "shot.0006.tga"), clear);
  // Every pixel shows the backdrop in some frame: the crease is backdrop.
  const std::string setting = dir.file("walk.kvs");
  const CliRun run = runCli({"key", shot.string(), "--out-dir", dir.file("shot"), "--frames", "1-6", "--keyer", "plate",
                             "--clean-plate-from-shot", "--settings-out", setting});
  ASSERT_EQ(run.status, ExitSuccess) << run.err;
  EXPECT_EQ(creaseAlphas(dir.path() / "shot" / "shot.0006.tga"), clear);
  ASSERT_TRUE(fs::exists(dir.path() / "walk.clean-plate.tga"));
  // And a task with the setting file keys the same bytes.
  ASSERT_EQ(runCli({"key", shot.string(), "--out-dir", dir.file("task"), "--frames", "1-6", "--chunk-size", "3",
                    "--task", "1", "--settings", setting})
                .status,
            ExitSuccess);
  EXPECT_EQ(bytesOf(dir.path() / "task" / "shot.0006.tga"), bytesOf(dir.path() / "shot" / "shot.0006.tga"));
}

TEST(ShotCleanPlate, FramesSpreadOverALongRange) {
  std::string error;
  EXPECT_EQ(cleanPlateFrameChoice(*parseFrameRange("0-4", error)), (std::vector<long>{0, 1, 2, 3, 4}));
  const std::vector<long> spread = cleanPlateFrameChoice(*parseFrameRange("0-96", error));
  ASSERT_EQ(spread.size(), MostCleanPlateFrames);
  EXPECT_EQ(spread.front(), 0);
  EXPECT_EQ(spread[1], 4);
  EXPECT_EQ(spread.back(), 96);
  EXPECT_EQ(cleanPlatePathFor("farm/shot.kvs"), "farm/shot.clean-plate.tga");  // beside it, as named
}

TEST(ShotCleanPlate, RefusalsNameTheReason) {
  TempDir dir;
  const fs::path shot = writeShot(dir.path() / "in");
  struct Case {
    std::vector<std::string> arguments;
    int status;
    const char* message;
  };
  const std::string pattern = shot.string();
  const std::vector<Case> cases = {
      {{"key", pattern, "--frames", "1-6", "--clean-plate-frames", "1-3"}, ExitUsage, "add --keyer plate"},
      {{"key", pattern, "--frames", "1-6", "--keyer", "plate", "--clean-plate-frames", "3-1"}, ExitUsage, "before"},
      {{"key", pattern, "--frames", "1-6", "--keyer", "plate", "--clean-plate-frames", "1-3", "--clean-plate",
        pattern},
       ExitUsage, "give one"},
      {{"key", pattern, "--frames", "1-6", "--settings", dir.file("s.kvs"), "--clean-plate-frames", "1-3"},
       ExitUsage, "drop --clean-plate-frames"},
      {{"key", dir.file("in/shot.0001.tga"), dir.file("o.tga"), "--keyer", "plate", "--clean-plate-frames", "1-3"},
       ExitUsage, "for a clip or a --frames sequence"},
      {{"key", pattern, "--frames", "1-6", "--keyer", "plate", "--clean-plate-frames", "1-3",
        "--clean-plate-from-shot"},
       ExitUsage, "give one"},
      {{"key", dir.file("in/shot.0001.tga"), dir.file("o.tga"), "--keyer", "plate", "--clean-plate-from-shot"},
       ExitUsage, "for a clip or a --frames sequence"},
      {{"key", pattern, "--frames", "1-6", "--keyer", "plate", "--clean-plate-frames", "5-9", "--out-dir",
        dir.file("o")},
       ExitFileError, "shot.0007.tga"},
  };
  for (const Case& c : cases) {
    const CliRun run = runCli(c.arguments);
    EXPECT_EQ(run.status, c.status) << c.message << "\n" << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err.substr(0, 300);
  }
}

// A file that is neither clip nor picture, given with an option that reads
// a clip's other frames, is refused for what it is, naming it, as it is
// without the option: not as though the option were misused.
TEST(ShotCleanPlate, AFileThatIsNoClipIsRefusedForWhatItIs) {
  TempDir dir;
  const std::string empty = dir.file("empty.mov"), notes = dir.file("notes.mov");
  std::ofstream(empty, std::ios::binary).flush();
  std::ofstream(notes, std::ios::binary) << "not a clip, and longer than a Targa header would be\n";
  for (const std::string& input : {empty, notes}) {
    for (const std::vector<std::string>& option :
         {std::vector<std::string>{"--steady-matte"}, {"--clean-plate-frames", "1-3"}, {"--clean-plate-from-shot"}}) {
      std::vector<std::string> arguments = {"key", input, dir.file("o.mov"), "--keyer", "plate"};
      arguments.insert(arguments.end(), option.begin(), option.end());
      const CliRun run = runCli(arguments);
      EXPECT_EQ(run.status, ExitFileError) << option.front() << "\n" << run.err;
      EXPECT_EQ(run.err.rfind("keyvale-cli: " + input + ": ", 0), 0u) << run.err;
      EXPECT_FALSE(fs::exists(dir.file("o.mov")));
    }
  }
  const CliRun plain = runCli({"key", empty, dir.file("o.mov")});
  EXPECT_EQ(plain.status, ExitFileError) << plain.err;
  EXPECT_NE(plain.err.find(empty + ": the file is empty"), std::string::npos) << plain.err;
}

// A clip cut off mid-way declares frames it cannot give. Frames asked for
// by number that were lost refuse the plate, saying so rather than that
// the clip has none, and nothing is written; frames spread over the shot
// are taken from those that decode (a container's count is often a frame
// or two over), and the clip is keyed with its loss told.
TEST(ShotCleanPlate, ACutClipsLostFramesAreToldAsLost) {
  SKIP_WITHOUT_VIDEO();
  TempDir dir;
  const std::string whole = dir.file("whole.mkv"), cut = dir.file("cut.mkv");
  ffmpeg("-f lavfi -i testsrc2=s=64x48:r=25 -frames:v 25 -c:v ffv1 -pix_fmt yuv422p10le '" + whole + "'");
  const std::string bytes = bytesOf(whole);
  std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() * 3 / 5);
  const CliRun lost = runCli({"key", cut, dir.file("o.mov"), "--keyer", "plate", "--clean-plate-frames", "20-24"});
  EXPECT_EQ(lost.status, ExitFileError) << lost.err;
  EXPECT_NE(lost.err.find(cut + ": --clean-plate-frames: frame 20 cannot be decoded"), std::string::npos) << lost.err;
  EXPECT_NE(lost.err.find("cut short or damaged"), std::string::npos) << lost.err;
  EXPECT_FALSE(fs::exists(dir.file("o.mov")));
  const CliRun beyond = runCli({"key", whole, dir.file("o.mov"), "--keyer", "plate", "--clean-plate-frames", "30-32"});
  EXPECT_NE(beyond.err.find("the clip has no frame 30"), std::string::npos) << beyond.err;

  const CliRun spread = runCli({"key", cut, dir.file("o.mov"), "--keyer", "plate", "--clean-plate-from-shot"});
  EXPECT_EQ(spread.status, ExitFileError) << spread.err;
  EXPECT_NE(spread.err.find("could not be decoded"), std::string::npos) << spread.err;
  EXPECT_TRUE(fs::exists(dir.file("o.mov")));
}

TEST(ShotCleanPlate, AClipsOwnFramesCountFromZero) {
  SKIP_WITHOUT_VIDEO();
  TempDir dir;
  const fs::path shot = writeShot(dir.path() / "in");
  ffmpeg("-start_number 1 -i '" + shot.string() + "' -c:v ffv1 -pix_fmt bgr0 '" + dir.file("shot.mkv") + "'");
  const std::string setting = dir.file("clip.kvs");
  const CliRun run = runCli({"key", dir.file("shot.mkv"), "--out-dir", dir.file("k"), "--keyer", "plate",
                             "--clean-plate-frames", "0-2", "--settings-out", setting});
  ASSERT_EQ(run.status, ExitSuccess) << run.err;
  EXPECT_EQ(bytesOf(dir.path() / "clip.clean-plate.tga").empty(), false);
  const TargaFile keyed = readTargaFile(dir.path() / "k" / "shot.000005.tga");
  ASSERT_EQ(keyed.pixels.size(), std::size_t{Width} * Height);
  for (int y = 0; y < Height; ++y) EXPECT_EQ(alphaOf(keyed.pixels[std::size_t(y) * Width + 20]), 0) << y;
  const CliRun past = runCli({"key", dir.file("shot.mkv"), "--out-dir", dir.file("k2"), "--keyer", "plate",
                              "--clean-plate-frames", "4-9"});
  EXPECT_EQ(past.status, ExitFileError);
  EXPECT_NE(past.err.find("no frame 6"), std::string::npos) << past.err;
}

}  // namespace
}  // namespace Kvl::Test
