// `keyvale-cli key INPUT... --out-dir DIR`: the same bytes whatever the
// number of threads, every good file keyed when others fail, nothing half
// written, and no input lost to an output.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <thread>

#include "CliTestSupport.h"
#include "cli/BatchPlan.h"
#include "cli/BatchRunner.h"
#include "cli/Progress.h"
#include "imageio/ImageSaver.h"
#include "support/TgaBytes.h"

namespace Kvl::Test {
namespace {

namespace fs = std::filesystem;

// Pictures of different sizes, backdrops and encodings.
std::vector<std::string> writeFrames(const fs::path& folder, int count) {
  std::vector<std::string> paths;
  for (int i = 0; i < count; ++i) {
    const int width = 40 + 13 * i, height = 30 + 7 * i;
    const KeyChannel backdrop = i % 3 == 2 ? BlueChannel : GreenChannel;
    TgaBytes frame(static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height), i % 2 ? 32 : 24);
    if (i % 2) frame.descriptor(0x20);  // stored top row first
    frame.pixels(greenScreen(width, height, backdrop, i));
    paths.push_back(frame.writeTo(folder / ("frame" + std::to_string(i) + ".tga")));
  }
  return paths;
}

std::vector<std::string> keyArguments(const std::vector<std::string>& inputs, const fs::path& outDir,
                                      std::vector<std::string> options) {
  std::vector<std::string> arguments = {"key"};
  arguments.insert(arguments.end(), inputs.begin(), inputs.end());
  arguments.insert(arguments.end(), {"--out-dir", outDir.string()});
  arguments.insert(arguments.end(), options.begin(), options.end());
  return arguments;
}

TEST(Batch, ThreadsChangeNeitherTheBytesNorTheMessages) {
  TempDir dir;
  std::vector<std::string> inputs = writeFrames(dir.path(), 9);
  inputs.insert(inputs.begin() + 4, dir.file("missing.tga"));
  const CliRun serial = runCli(keyArguments(inputs, dir.path() / "serial", {"--channel", "auto", "--auto-adjust", "--jobs", "1"}));
  const CliRun parallel = runCli(keyArguments(inputs, dir.path() / "parallel", {"--channel", "auto", "--auto-adjust", "--jobs", "4"}));
  EXPECT_EQ(serial.status, Cli::ExitFileError);
  EXPECT_EQ(parallel.status, Cli::ExitFileError);
  EXPECT_EQ(parallel.out, serial.out);
  EXPECT_EQ(parallel.err, serial.err);
  for (int i = 0; i < 9; ++i) {
    const std::string name = "frame" + std::to_string(i) + ".tga";
    const auto expected = readFileBytes(dir.path() / "serial" / name);
    ASSERT_FALSE(expected.empty()) << name;
    EXPECT_EQ(readFileBytes(dir.path() / "parallel" / name), expected) << name;
  }
  // One line per keyed file, in the order given, each naming its input.
  std::istringstream lines(serial.out);
  std::string line;
  for (const std::string& input : inputs) {
    if (input.ends_with("missing.tga")) continue;
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_TRUE(line.starts_with(input + ": channel=")) << line;
  }
  EXPECT_FALSE(std::getline(lines, line));
}

TEST(Batch, EachFileGetsItsOwnSettingsAndTheKeyedWritersBytes) {
  TempDir dir;
  const std::vector<std::string> inputs = writeFrames(dir.path(), 3);
  const CliRun run = runCli(keyArguments(inputs, dir.path() / "out", {"--channel", "auto", "--auto-adjust"}));
  ASSERT_EQ(run.status, Cli::ExitSuccess) << run.err;
  std::istringstream lines(run.out);
  for (int i = 0; i < 3; ++i) {
    std::string line, name, channel;
    int contrast = -1, offset = -1;
    ASSERT_TRUE(std::getline(lines, line));
    char channelText[8] = {};
    ASSERT_EQ(std::sscanf(line.substr(inputs[static_cast<std::size_t>(i)].size()).c_str(),
                          ": channel=%7s contrast=%d offset=%d", channelText, &contrast, &offset), 3) << line;
    const KeyChannel keyChannel = std::string(channelText) == "blue" ? BlueChannel : GreenChannel;
    EXPECT_EQ(keyChannel, i == 2 ? BlueChannel : GreenChannel);
    const std::string saved = dir.file("saver.tga");
    TgaSaver saver;
    ASSERT_TRUE(saver.save(saved.c_str(), inputs[static_cast<std::size_t>(i)].c_str(), keyChannel,
                           static_cast<std::uint8_t>(contrast), static_cast<std::uint8_t>(offset)));
    EXPECT_EQ(readFileBytes(dir.path() / "out" / ("frame" + std::to_string(i) + ".tga")), readFileBytes(saved));
  }
}

TEST(Batch, ABrokenFileIsReportedAndTheRestAreKeyed) {
  TempDir dir;
  std::vector<std::string> inputs = writeFrames(dir.path(), 4);
  const std::string broken = TgaBytes(2, 2, 16).raw({1, 2, 3, 4}).writeTo(dir.path() / "broken.tga");
  inputs.insert(inputs.begin() + 2, broken);
  const fs::path out = dir.path() / "new" / "out";  // created, folders and all
  const CliRun run = runCli(keyArguments(inputs, out, {"--jobs", "3"}));
  EXPECT_EQ(run.status, Cli::ExitFileError);
  EXPECT_EQ(run.err, "keyvale-cli: " + broken + ": unsupported pixel depth 16\n");
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(fs::exists(out / ("frame" + std::to_string(i) + ".tga"))) << i;
  EXPECT_FALSE(fs::exists(out / "broken.tga"));
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 4);
}

// An output that cannot be replaced (a folder stands in its place) fails
// alone, leaves no temporary file behind, and leaves the folder as it was.
TEST(Batch, AFailedWriteLeavesNoPartialOutput) {
  TempDir dir;
  const std::vector<std::string> inputs = writeFrames(dir.path(), 3);
  const fs::path out = dir.path() / "out";
  fs::create_directories(out / "frame1.tga");
  const CliRun run = runCli(keyArguments(inputs, out, {"--jobs", "2"}));
  EXPECT_EQ(run.status, Cli::ExitFileError);
  EXPECT_EQ(run.err, "keyvale-cli: " + (out / "frame1.tga").string() + ": cannot open for writing\n");
  EXPECT_TRUE(fs::is_directory(out / "frame1.tga"));
  EXPECT_TRUE(fs::is_empty(out / "frame1.tga"));
  EXPECT_TRUE(fs::exists(out / "frame0.tga"));
  EXPECT_TRUE(fs::exists(out / "frame2.tga"));
  EXPECT_TRUE(leftoverPartials(dir.path()).empty());
}

TEST(Batch, TwoInputsForOneOutputIsAUsageError) {
  TempDir dir;
  const std::vector<std::string> inputs = writeFrames(dir.path(), 1);
  fs::create_directories(dir.path() / "other");
  const std::string twin = TgaBytes(2, 2).pixels(greenScreen(2, 2)).writeTo(dir.path() / "other" / "FRAME0.targa");
  const CliRun run = runCli(keyArguments({inputs[0], twin}, dir.path() / "out", {}));
  EXPECT_EQ(run.status, Cli::ExitUsage);
  EXPECT_NE(run.err.find(inputs[0] + " and " + twin + " would both be keyed into"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(dir.path() / "out"));
}

TEST(Batch, AnOutputReplacesItsOwnInputOnlyWithOverwrite) {
  TempDir dir;
  const std::string input = TgaBytes(5, 3).pixels(greenScreen(5, 3)).writeTo(dir.path() / "a.tga");
  const auto original = readFileBytes(input);
  const CliRun refused = runCli(keyArguments({input}, dir.path(), {"--contrast", "10"}));
  EXPECT_EQ(refused.status, Cli::ExitFileError);
  EXPECT_EQ(refused.err, "keyvale-cli: " + (dir.path() / "a.tga").string() +
                             ": output would overwrite its input; add --overwrite to allow it\n");
  EXPECT_EQ(readFileBytes(input), original);

  TgaSaver saver;
  ASSERT_TRUE(saver.save(dir.file("expected.tga").c_str(), input.c_str(), GreenChannel, 10, 0));
  const CliRun allowed = runCli(keyArguments({input}, dir.path(), {"--contrast", "10", "--overwrite"}));
  EXPECT_EQ(allowed.status, Cli::ExitSuccess) << allowed.err;
  EXPECT_EQ(readFileBytes(input), readFileBytes(dir.file("expected.tga")));
}

// An input reached through a link is still that file: keying another input
// onto it is refused even with --overwrite, or the result would depend on
// which file was keyed first.
TEST(Batch, AnOutputNeverReplacesAnotherInput) {
  TempDir dir;
  fs::create_directories(dir.path() / "keyed");
  const std::string first = TgaBytes(3, 3).pixels(greenScreen(3, 3)).writeTo(dir.path() / "shot.tga");
  const std::string target = TgaBytes(4, 2).pixels(greenScreen(4, 2)).writeTo(dir.path() / "keyed" / "shot.tga");
  const auto targetBytes = readFileBytes(target);
  std::error_code error;
  fs::create_symlink(target, dir.path() / "link.tga", error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  const std::string link = dir.file("link.tga");

  const CliRun run = runCli(keyArguments({first, link}, dir.path() / "keyed", {"--overwrite"}));
  EXPECT_EQ(run.status, Cli::ExitFileError);
  EXPECT_EQ(run.err, "keyvale-cli: " + (dir.path() / "keyed" / "shot.tga").string() +
                         ": output would overwrite another input, " + link + "\n");
  EXPECT_EQ(readFileBytes(target), targetBytes);
  EXPECT_TRUE(fs::exists(dir.path() / "keyed" / "link.tga"));
}

TEST(Batch, OutputNamesAndSameFileChecks) {
  using Cli::OutputFormat;
  EXPECT_EQ(Cli::outputPathFor("shots/take.final.jpg", "out", OutputFormat::Targa), (fs::path("out") / "take.final.tga").string());
  EXPECT_EQ(Cli::outputPathFor("shot", "out", OutputFormat::Png), (fs::path("out") / "shot.png").string());
  TempDir dir;
  fs::create_directories(dir.path() / "sub");
  const std::string file = TgaBytes(1, 1).pixels({0}).writeTo(dir.path() / "f.tga");
  EXPECT_TRUE(Cli::isSameFile(file, (dir.path() / "sub" / ".." / "f.tga").string()));
  EXPECT_TRUE(Cli::isSameFile(dir.file("new.tga"), (dir.path() / "sub" / ".." / "new.tga").string()));
  EXPECT_FALSE(Cli::isSameFile(file, dir.file("new.tga")));
  EXPECT_FALSE(Cli::isSameFile(file, (dir.path() / "sub" / "f.tga").string()));
}

TEST(Batch, ProgressLineOnlyOnATerminalAndNotWhenQuiet) {
  TempDir dir;
  const std::vector<std::string> inputs = writeFrames(dir.path(), 3);
  const CliRun piped = runCli(keyArguments(inputs, dir.path() / "a", {}), false);
  EXPECT_TRUE(piped.err.empty()) << piped.err;
  const CliRun quiet = runCli(keyArguments(inputs, dir.path() / "b", {"--quiet"}), true);
  EXPECT_TRUE(quiet.err.empty()) << quiet.err;
  const CliRun single = runCli({"key", inputs[0], dir.file("single.tga")}, true);
  EXPECT_TRUE(single.err.empty()) << single.err;

  const CliRun shown = runCli(keyArguments(inputs, dir.path() / "c", {"--jobs", "2"}), true);
  EXPECT_EQ(shown.status, Cli::ExitSuccess);
  EXPECT_EQ(shown.out, piped.out);  // stdout is the same either way
  EXPECT_TRUE(shown.err.starts_with("\rKeying 0/3 files")) << shown.err;
  const std::size_t last = shown.err.rfind('\r');
  ASSERT_NE(last, std::string::npos);
  EXPECT_TRUE(shown.err.substr(last).starts_with("\rKeying 3/3 files  ")) << shown.err;
  EXPECT_EQ(shown.err.back(), '\n');
}

TEST(Batch, ProgressText) {
  EXPECT_EQ(Cli::formatProgress(0, 40, 0, 0.0), "Keying 0/40 files");
  EXPECT_EQ(Cli::formatProgress(10, 40, 20'000'000, 2.0), "Keying 10/40 files  10.0 MP/s  0:06 left");
  EXPECT_EQ(Cli::formatProgress(1, 3, 2'073'600, 61.5), "Keying 1/3 files  0.0 MP/s  2:03 left");
  EXPECT_EQ(Cli::formatProgress(1, 200, 1'000'000, 30.0), "Keying 1/200 files  0.0 MP/s  1:39:30 left");
  EXPECT_EQ(Cli::formatProgress(40, 40, 82'944'000, 4.0), "Keying 40/40 files  20.7 MP/s");
}

TEST(Batch, ThreadCount) {
  EXPECT_EQ(Cli::threadCountFor(8, 3), 3);
  EXPECT_EQ(Cli::threadCountFor(2, 100), 2);
  EXPECT_EQ(Cli::threadCountFor(5, 0), 1);
  const int cores = Cli::threadCountFor(0, 1000);
  EXPECT_GE(cores, 1);
  EXPECT_EQ(cores, static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
}

}  // namespace
}  // namespace Kvl::Test
