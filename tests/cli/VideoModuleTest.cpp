// keyvale-cli run as the program it is: a still is keyed without the video
// libraries in the process; they come in through the video module only when
// a clip is opened; and a module that is missing or broken refuses the clip
// with a reason instead of taking the program down. The dynamic loader's
// own trace (LD_DEBUG=files) tells what was loaded.

#ifndef _WIN32

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "CliTestSupport.h"
#include "support/TgaBytes.h"

namespace Kvl::Test {
namespace {

struct ProgramRun {
  int status = -1;  // -1 when it did not exit by itself (a crash)
  std::string err;
};

std::string quoted(const std::string& text) { return "'" + text + "'"; }

ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments, const TempDir& dir,
                      bool traceLoading = false) {
  std::string command = traceLoading ? "LD_DEBUG=files " : "";
  command += quoted(program);
  for (const std::string& argument : arguments) command += " " + quoted(argument);
  command += " >/dev/null 2>" + quoted(dir.file("stderr.txt"));
  const int status = std::system(command.c_str());
  ProgramRun run;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::stringstream err;
  err << std::ifstream(dir.file("stderr.txt")).rdbuf();
  run.err = err.str();
  return run;
}

TEST(VideoModule, AStillIsKeyedWithoutTheVideoLibraries) {
  TempDir dir;
  const std::string input = TgaBytes(8, 6).pixels(greenScreen(8, 6)).writeTo(dir.path() / "in.tga");
  const ProgramRun run = runProgram(KEYVALE_CLI_PATH, {"key", input, dir.file("out.tga")}, dir, true);
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_NE(run.err.find("libc.so"), std::string::npos) << "the loader traced nothing:\n" << run.err;
  EXPECT_EQ(run.err.find("libav"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("keyvale-video"), std::string::npos) << run.err;
  EXPECT_TRUE(std::filesystem::exists(dir.file("out.tga")));
}

#if KEYVALE_HAVE_VIDEO

// The start of a QuickTime file with nothing behind it: a clip to
// keyvale-cli, which hands it to the video backend.
void writeClipStart(const std::string& path) {
  std::ofstream(path, std::ios::binary) << std::string("\0\0\0\x14" "ftypqt  \0\0\0\0qt  ", 20);
}

TEST(VideoModule, AClipIsKeyedThroughTheModuleBesideTheProgram) {
  if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ffmpeg tool";
  TempDir dir;
  const std::string clip = dir.file("clip.mp4");
  const std::string make = "ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=64x48:rate=5 -t 1 " + quoted(clip);
  ASSERT_EQ(std::system(make.c_str()), 0);
  const ProgramRun run = runProgram(KEYVALE_CLI_PATH, {"key", clip, dir.file("out.mov")}, dir, true);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("keyvale-video.so"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("libavformat"), std::string::npos) << run.err;
  const std::string count = "ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 " +
                            quoted(dir.file("out.mov")) + " > " + quoted(dir.file("frames.txt"));
  ASSERT_EQ(std::system(count.c_str()), 0);
  std::string frames;
  std::getline(std::ifstream(dir.file("frames.txt")), frames);
  EXPECT_EQ(frames, "5");
}

// A copy of the program in a folder of its own has no module beside it.
TEST(VideoModule, AMissingOrBrokenModuleRefusesTheClipWithItsReason) {
  TempDir dir;
  const std::string program = dir.file("keyvale-cli");
  std::filesystem::copy_file(KEYVALE_CLI_PATH, program);
  const std::string clip = dir.file("take.mov");
  writeClipStart(clip);
  const std::string module = dir.file("keyvale-video.so");
  const std::string reason = "keyvale-cli: " + clip + ": video clips need keyvale-cli's video module: " + module + ": ";

  ProgramRun run = runProgram(program, {"key", clip, dir.file("out.mov")}, dir);
  EXPECT_EQ(run.status, Cli::ExitFileError);
  EXPECT_EQ(run.err, reason + "cannot open shared object file: No such file or directory\n");

  std::ofstream(module, std::ios::binary) << "not a shared object";
  run = runProgram(program, {"key", clip, dir.file("out.mov")}, dir);
  EXPECT_EQ(run.status, Cli::ExitFileError);
  EXPECT_TRUE(run.err.starts_with(reason)) << run.err;
  EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;

  EXPECT_FALSE(std::filesystem::exists(dir.file("out.mov")));
  EXPECT_EQ(leftoverPartials(dir.path()), std::vector<std::string>{});
}

// As the package lays it out: the program in usr/bin, the module in
// usr/lib/<multiarch>/keyvale. A file that only looks like a clip gets as
// far as the video libraries, which refuse it with their own reason.
TEST(VideoModule, AnInstalledProgramFindsItsModuleUnderLib) {
  TempDir dir;
  const std::filesystem::path bin = dir.path() / "usr" / "bin";
  const std::filesystem::path lib = dir.path() / "usr" / "lib" / KEYVALE_MULTIARCH / "keyvale";
  std::filesystem::create_directories(bin);
  std::filesystem::create_directories(lib);
  std::filesystem::copy_file(KEYVALE_CLI_PATH, bin / "keyvale-cli");
  std::filesystem::copy_file(KEYVALE_VIDEO_MODULE_PATH, lib / "keyvale-video.so");
  const std::string clip = dir.file("take.mov");
  writeClipStart(clip);
  const ProgramRun run = runProgram((bin / "keyvale-cli").string(), {"key", clip, dir.file("out.mov")}, dir);
  EXPECT_EQ(run.status, Cli::ExitFileError);
  EXPECT_TRUE(run.err.starts_with("keyvale-cli: " + clip + ": not a picture or clip keyvale-cli can read")) << run.err;
}

#endif

}  // namespace
}  // namespace Kvl::Test

#endif
