// Frame sequences for render farms: patterns and ranges, chunks that
// tile the range exactly, one setting for the whole shot whichever chunk
// a task keys, resuming a killed run, and keeping to the CPUs given.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "CliTestSupport.h"
#include "cli/BatchRunner.h"
#include "cli/FrameSequence.h"
#include "cli/UsableCpus.h"
#include "support/TgaBytes.h"

#if defined(__linux__)
#include <sched.h>
#endif

namespace Kvl::Test {
namespace {

namespace fs = std::filesystem;
using namespace Kvl::Cli;

TEST(FramePatterns, PaddingComesFromThePlaceholder) {
  struct Case {
    const char* pattern;
    long frame;
    const char* path;
  };
  for (const Case& c : {Case{"shot.%04d.png", 7, "shot.0007.png"}, Case{"shot.####.tga", 12, "shot.0012.tga"},
                        Case{"dir.v2/s_%d.tga", 1001, "dir.v2/s_1001.tga"}, Case{"#.tga", 123, "123.tga"},
                        Case{"s.%03d.png", 12345, "s.12345.png"}}) {
    const auto pattern = parseFramePattern(c.pattern);
    ASSERT_TRUE(pattern) << c.pattern;
    EXPECT_EQ(framePath(*pattern, c.frame), c.path) << c.pattern;
  }
  for (const char* refused : {"shot.png", "a.%04d.%04d.png", "a.##.%d.png", "a.%4d.png", "a.%s.png", "a%"}) {
    EXPECT_FALSE(parseFramePattern(refused)) << refused;
  }
}

TEST(FrameRanges, StepsAndRefusals) {
  std::string error;
  const auto stepped = parseFrameRange("3-12x4", error);
  ASSERT_TRUE(stepped) << error;
  EXPECT_EQ(stepped->frames(), (std::vector<long>{3, 7, 11}));
  EXPECT_EQ(stepped->middleFrame(), 7);
  const auto single = parseFrameRange("5", error);
  ASSERT_TRUE(single);
  EXPECT_EQ(single->frames(), (std::vector<long>{5}));
  // The earlier of the two middle frames: 1-48 has 24 and 25.
  EXPECT_EQ(parseFrameRange("1-48", error)->middleFrame(), 24);
  for (const char* refused : {"", "-5", "1-", "1-x2", "9-3", "1-10x0", "1-10x", "a-b", "1-10y2", "1--3", "1-2-3"}) {
    EXPECT_FALSE(parseFrameRange(refused, error)) << refused;
    EXPECT_FALSE(error.empty()) << refused;
  }
}

TEST(FrameChunks, TileTheRangeAndTheLastIsShort) {
  std::string error;
  const FrameRange range{1, 72, 1};
  ASSERT_EQ(chunkCount(range.count(), 10), 8u);
  std::vector<long> seen;
  for (long task = 0; task < 8; ++task) {
    const auto frames = chunkFrames(range, 10, task, error);
    ASSERT_TRUE(frames) << task;
    seen.insert(seen.end(), frames->begin(), frames->end());
  }
  EXPECT_EQ(seen, range.frames());
  EXPECT_EQ(*chunkFrames(range, 10, 7, error), (std::vector<long>{71, 72}));
  EXPECT_FALSE(chunkFrames(range, 10, 8, error));
  EXPECT_NE(error.find("tasks 0 to 7"), std::string::npos) << error;
  // Steps are counted in frames keyed, not frame numbers.
  EXPECT_EQ(*chunkFrames(FrameRange{0, 20, 5}, 2, 2, error), (std::vector<long>{20}));
}

TEST(FrameSequenceCommand, UsageErrorsExitWithTwoAndSayWhy) {
  struct Case {
    std::vector<std::string> arguments;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{"key", "s.%04d.tga", "--out-dir", "o", "--frames", "9-1"}, "before the first"},
      {{"key", "s.tga", "--out-dir", "o", "--frames", "1-9"}, "placeholder"},
      {{"key", "s.%04d.tga", "o.tga", "--frames", "1-9"}, "placeholder"},
      {{"key", "s.%04d.tga", "--frames", "1-9"}, "--out-dir"},
      {{"key", "s.%04d.tga", "--out-dir", "o", "--frames", "1-72", "--chunk-size", "10", "--task", "8"}, "tasks 0 to 7"},
      {{"key", "s.%04d.tga", "--out-dir", "o", "--frames", "1-9", "--task", "0"}, "--chunk-size"},
      {{"key", "s.%04d.tga", "--out-dir", "o", "--frames", "1-9", "--reference-frame", "10"}, "outside"},
      {{"key", "a.tga", "--out-dir", "o", "--chunk-size", "2", "--task", "0"}, "needs --frames"},
  };
  for (const Case& c : cases) {
    const CliRun run = runCli(c.arguments);
    EXPECT_EQ(run.status, Cli::ExitUsage) << c.message;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err.substr(0, 200);
  }
}

// A shot of `count` frames numbered from `first`, each different.
fs::path writeShot(const fs::path& folder, long first, int count) {
  fs::create_directories(folder);
  const FramePattern pattern = *parseFramePattern((folder / "plate.%04d.tga").string());
  for (int i = 0; i < count; ++i) {
    TgaBytes frame(33, 21, 24);
    frame.pixels(greenScreen(33, 21, i % 4 == 3 ? BlueChannel : GreenChannel, i));
    frame.writeTo(framePath(pattern, first + i));
  }
  return folder / "plate.%04d.tga";
}

std::vector<std::string> keySequence(const fs::path& shot, const fs::path& out, const std::string& frames,
                                     std::vector<std::string> options) {
  std::vector<std::string> arguments = {"key", shot.string(), "--out-dir", out.string(), "--frames", frames,
                                        "--jobs", "2"};
  arguments.insert(arguments.end(), options.begin(), options.end());
  return arguments;
}

void expectSameFiles(const fs::path& expected, const fs::path& actual) {
  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(expected)) {
    const fs::path name = entry.path().filename();
    EXPECT_EQ(readFileBytes(actual / name), readFileBytes(entry.path())) << name;
    ++files;
  }
  EXPECT_GT(files, 0u);
  EXPECT_EQ(std::distance(fs::directory_iterator(actual), fs::directory_iterator{}),
            static_cast<std::ptrdiff_t>(files));
}

// Chunks keyed by separate tasks give the files of one run over the
// range: the setting comes from the range's reference frame, never from
// a chunk's first frame (frames here differ, and some are blue-screen).
TEST(FrameSequenceCommand, ChunksAgreeWithOneRunOverTheRange) {
  TempDir dir;
  const fs::path shot = writeShot(dir.path() / "in", 101, 12);
  const std::vector<std::string> automatic = {"--channel", "auto", "--auto-adjust"};
  const CliRun whole = runCli(keySequence(shot, dir.path() / "whole", "101-112", automatic));
  ASSERT_EQ(whole.status, Cli::ExitSuccess) << whole.err;
  std::string combined;
  for (const char* task : {"0", "1", "2"}) {
    std::vector<std::string> options = automatic;
    options.insert(options.end(), {"--chunk-size", "5", "--task", task, "--progress", "plain"});
    const CliRun chunk = runCli(keySequence(shot, dir.path() / "chunked", "101-112", options));
    ASSERT_EQ(chunk.status, Cli::ExitSuccess) << chunk.err;
    combined += chunk.out;
  }
  // A farm log gets a line per frame even off a terminal; the last chunk is short.
  const CliRun last = runCli(keySequence(shot, dir.path() / "log", "101-112",
                                         {"--chunk-size", "5", "--task", "2", "--progress", "plain"}));
  EXPECT_TRUE(last.err.starts_with("Keying 1/2 files")) << last.err;
  EXPECT_NE(last.err.find("\nKeying 2/2 files"), std::string::npos) << last.err;
  EXPECT_EQ(combined, whole.out);
  expectSameFiles(dir.path() / "whole", dir.path() / "chunked");
  EXPECT_TRUE(fs::exists(dir.path() / "whole" / "plate.0112.tga"));
  // The setting file of the shot, made first on its own, keys the same.
  const fs::path setting = dir.file("shot.kvs");
  std::vector<std::string> makeSetting = {"key", shot.string(), "--frames", "101-112", "--settings-out",
                                          setting.string()};
  makeSetting.insert(makeSetting.end(), automatic.begin(), automatic.end());
  ASSERT_EQ(runCli(makeSetting).status, Cli::ExitSuccess);
  const CliRun fromFile =
      runCli(keySequence(shot, dir.path() / "fromfile", "101-112", {"--settings", setting.string()}));
  ASSERT_EQ(fromFile.status, Cli::ExitSuccess) << fromFile.err;
  expectSameFiles(dir.path() / "whole", dir.path() / "fromfile");
}

TEST(FrameSequenceCommand, MissingFramesAreNamedAndTheRestKeyed) {
  TempDir dir;
  const fs::path shot = writeShot(dir.path() / "in", 1, 6);
  fs::remove(dir.path() / "in" / "plate.0003.tga");
  const CliRun run = runCli({"key", shot.string(), (dir.path() / "k.####.tga").string(), "--frames", "1-6"});
  EXPECT_EQ(run.status, Cli::ExitFileError);
  EXPECT_NE(run.err.find("plate.0003.tga"), std::string::npos) << run.err;
  for (const char* name : {"k.0001.tga", "k.0002.tga", "k.0004.tga", "k.0006.tga"}) {
    EXPECT_TRUE(fs::exists(dir.path() / name)) << name;
  }
  EXPECT_FALSE(fs::exists(dir.path() / "k.0003.tga"));
}

// What a run killed midway leaves: some frames finished, one half-written
// under its partial name. The rerun keys only what is missing, clears the
// partial files of its own frames and nothing else, and ends byte-identical
// to a clean run.
TEST(FrameSequenceCommand, SkipExistingResumesAKilledRun) {
  TempDir dir;
  const fs::path shot = writeShot(dir.path() / "in", 1, 8);
  const fs::path clean = dir.path() / "clean", resumed = dir.path() / "resumed";
  ASSERT_EQ(runCli(keySequence(shot, clean, "1-8", {})).status, Cli::ExitSuccess);
  fs::create_directories(resumed);
  for (const char* finished : {"plate.0001.tga", "plate.0002.tga", "plate.0005.tga"}) {
    fs::copy_file(clean / finished, resumed / finished);
  }
  const auto half = readFileBytes(clean / "plate.0003.tga");
  std::ofstream(resumed / "plate.0003.tga.482113.kvl-partial", std::ios::binary)
      .write(reinterpret_cast<const char*>(half.data()), static_cast<std::streamsize>(half.size() / 2));
  std::ofstream(resumed / "notes.txt.7.kvl-partial") << "not one of this run's outputs";
  const auto before = fs::last_write_time(resumed / "plate.0005.tga");
  const CliRun run = runCli(keySequence(shot, resumed, "1-8", {"--skip-existing"}));
  ASSERT_EQ(run.status, Cli::ExitSuccess) << run.err;
  EXPECT_NE(run.out.find("plate.0005.tga: skipped"), std::string::npos) << run.out;
  EXPECT_EQ(fs::last_write_time(resumed / "plate.0005.tga"), before);
  EXPECT_EQ(leftoverPartials(resumed), (std::vector<std::string>{"notes.txt.7.kvl-partial"}));
  fs::remove(resumed / "notes.txt.7.kvl-partial");
  expectSameFiles(clean, resumed);
}

TEST(UsableCpus, QuotaFilesRoundUp) {
  EXPECT_EQ(cpusFromCgroupV2("150000 100000"), 2);
  EXPECT_EQ(cpusFromCgroupV2("50000 100000"), 1);
  EXPECT_EQ(cpusFromCgroupV2("max 100000"), std::nullopt);
  EXPECT_EQ(cpusFromCgroupV2(""), std::nullopt);
  EXPECT_EQ(cpusFromCgroupV1("400000", "100000"), 4);
  EXPECT_EQ(cpusFromCgroupV1("-1", "100000"), std::nullopt);
}

#if defined(__linux__)
// As `taskset -c 0` starts a task: one CPU allowed, so one thread by default.
TEST(UsableCpus, AffinityMaskIsHonoured) {
  cpu_set_t original;
  ASSERT_EQ(sched_getaffinity(0, sizeof original, &original), 0);
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(0, &one);
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  const int usable = usableCpuCount();
  const int threads = threadCountFor(0, 10);
  sched_setaffinity(0, sizeof original, &original);
  EXPECT_EQ(usable, 1);
  EXPECT_EQ(threads, 1);
}
#endif

}  // namespace
}  // namespace Kvl::Test
