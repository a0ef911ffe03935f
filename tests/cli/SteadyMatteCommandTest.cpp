// --steady-matte on the command line: a sequence keyed in farm chunks, or
// with any number of --jobs, gives the bytes of one run; a clip of the
// same frames keys as the sequence does; the option is refused where there
// are no frames to steady with, or no plate keyer.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>

#include "CliTestSupport.h"
#include "ClipTools.h"
#include "cli/FrameSequence.h"
#include "support/TgaBytes.h"

namespace Kvl::Test {
namespace {

namespace fs = std::filesystem;
using namespace Kvl::Cli;

constexpr int Width = 64, Height = 36;

// Frame `index` of a shot: a skin-coloured subject whose edge fades over
// ten pixels, holding still and then moving a pixel a frame, over chroma
// green with noise of its own.
std::vector<Pixel32> shotFrame(int index) {
  std::mt19937 random(static_cast<unsigned>(1000 + index));
  std::uniform_int_distribution<int> grain(-4, 4);
  const double edge = 24 + std::max(0, index - 3);
  std::vector<Pixel32> pixels;
  for (int y = 0; y < Height; ++y) {
    for (int x = 0; x < Width; ++x) {
      const double a = std::clamp((x - edge) / 10.0, 0.0, 1.0);
      const auto level = [&](double backdrop, double subject) {
        return static_cast<std::uint8_t>(std::clamp(std::lround(a * subject + (1 - a) * backdrop) + grain(random), 0L, 255L));
      };
      pixels.push_back(makePixel(level(40, 205), level(175 + y % 5, 150), level(60, 120)));
    }
  }
  return pixels;
}

fs::path writeShot(const fs::path& folder, long first, int count) {
  fs::create_directories(folder);
  const FramePattern pattern = *parseFramePattern((folder / "plate.%04d.tga").string());
  for (int i = 0; i < count; ++i) TgaBytes(Width, Height, 24).pixels(shotFrame(i)).writeTo(framePath(pattern, first + i));
  return folder / "plate.%04d.tga";
}

std::string bytesOf(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

CliRun keyShot(const fs::path& shot, const fs::path& out, std::vector<std::string> options) {
  std::vector<std::string> arguments = {"key", shot.string(), "--out-dir", out.string(), "--frames", "11-18"};
  arguments.insert(arguments.end(), options.begin(), options.end());
  return runCli(arguments);
}

TEST(SteadyMatteCommand, ChunksAndJobsGiveTheBytesOfOneRun) {
  TempDir dir;
  const fs::path shot = writeShot(dir.path() / "in", 11, 8);
  const std::vector<std::string> plate = {"--keyer", "plate", "--steady-matte"};
  auto options = [&](std::vector<std::string> more) {
    more.insert(more.begin(), plate.begin(), plate.end());
    return more;
  };
  const CliRun whole = keyShot(shot, dir.path() / "whole", options({"--jobs", "1"}));
  ASSERT_EQ(whole.status, ExitSuccess) << whole.err;
  const CliRun threaded = keyShot(shot, dir.path() / "threaded", options({"--jobs", "3"}));
  ASSERT_EQ(threaded.status, ExitSuccess) << threaded.err;
  // Chunks of three: each reads the two frames before its first.
  for (const char* task : {"2", "0", "1"}) {
    const CliRun chunk = keyShot(shot, dir.path() / "chunked", options({"--chunk-size", "3", "--task", task}));
    ASSERT_EQ(chunk.status, ExitSuccess) << chunk.err;
  }
  const CliRun perFrame = keyShot(shot, dir.path() / "perframe", {"--keyer", "plate"});
  ASSERT_EQ(perFrame.status, ExitSuccess) << perFrame.err;
  int differing = 0;
  for (int frame = 11; frame <= 18; ++frame) {
    char name[32];
    std::snprintf(name, sizeof name, "plate.%04d.tga", frame);
    const std::string expected = bytesOf(dir.path() / "whole" / name);
    ASSERT_FALSE(expected.empty()) << name;
    EXPECT_EQ(bytesOf(dir.path() / "threaded" / name), expected) << name;
    EXPECT_EQ(bytesOf(dir.path() / "chunked" / name), expected) << name;
    const bool same = bytesOf(dir.path() / "perframe" / name) == expected;
    if (frame == 11) EXPECT_TRUE(same) << "the first frame has nothing before it to steady with";
    differing += same ? 0 : 1;
  }
  EXPECT_GE(differing, 5);
}

TEST(SteadyMatteCommand, RefusedWithoutFramesOrThePlateKeyer) {
  TempDir dir;
  TgaBytes(Width, Height, 24).pixels(shotFrame(0)).writeTo(dir.file("still.tga"));
  const CliRun still = runCli({"key", dir.file("still.tga"), dir.file("out.tga"), "--keyer", "plate", "--steady-matte"});
  EXPECT_EQ(still.status, ExitUsage);
  EXPECT_NE(still.err.find("for a clip or a --frames sequence"), std::string::npos) << still.err;
  const CliRun classic = runCli({"key", "s.%04d.tga", "--out-dir", dir.file("o"), "--frames", "1-3", "--steady-matte"});
  EXPECT_EQ(classic.status, ExitUsage);
  EXPECT_NE(classic.err.find("add --keyer plate"), std::string::npos) << classic.err;
  // A frame before the one keyed that cannot be read is named.
  const fs::path shot = writeShot(dir.path() / "in", 1, 3);
  fs::remove(dir.path() / "in" / "plate.0001.tga");
  const CliRun missing = runCli({"key", shot.string(), "--out-dir", dir.file("k"), "--frames", "1-3", "--keyer", "plate",
                                 "--steady-matte", "--reference-frame", "2"});
  EXPECT_EQ(missing.status, ExitFileError);
  EXPECT_NE(missing.err.find("plate.0001.tga"), std::string::npos) << missing.err;
  EXPECT_FALSE(fs::exists(dir.path() / "k" / "plate.0002.tga")) << "steadied by a frame it could not read";
}

TEST(SteadyMatteCommand, AClipKeysAsItsFramesDo) {
  SKIP_WITHOUT_VIDEO();
  TempDir dir;
  const fs::path shot = writeShot(dir.path() / "in", 11, 8);
  const std::string setting = dir.file("shot.kvs");
  ASSERT_EQ(runCli({"key", shot.string(), "--frames", "11-18", "--keyer", "plate", "--settings-out", setting}).status,
            ExitSuccess);
  // Lossless RGB, so the clip's frames are the pictures' pixels.
  ffmpeg("-start_number 11 -i '" + shot.string() + "' -c:v ffv1 -pix_fmt bgr0 '" + dir.file("shot.mkv") + "'");
  const CliRun clip = runCli({"key", dir.file("shot.mkv"), "--out-dir", dir.file("clip"), "--settings", setting,
                              "--steady-matte"});
  ASSERT_EQ(clip.status, ExitSuccess) << clip.err;
  const CliRun frames = keyShot(shot, dir.path() / "frames", {"--settings", setting, "--steady-matte"});
  ASSERT_EQ(frames.status, ExitSuccess) << frames.err;
  for (int i = 0; i < 8; ++i) {
    char clipName[32], frameName[32];
    std::snprintf(clipName, sizeof clipName, "shot.%06d.tga", i + 1);
    std::snprintf(frameName, sizeof frameName, "plate.%04d.tga", 11 + i);
    const TargaFile fromClip = readTargaFile(dir.path() / "clip" / clipName);
    const TargaFile fromFrames = readTargaFile(dir.path() / "frames" / frameName);
    ASSERT_EQ(fromClip.pixels.size(), fromFrames.pixels.size()) << clipName;
    EXPECT_TRUE(fromClip.pixels == fromFrames.pixels) << clipName;
  }
}

}  // namespace
}  // namespace Kvl::Test
