// Clips as cameras, phones and broadcast make them: the sizes, containers,
// rotations, colour tags and timing of real footage, keyed through the
// automatic settings that new users reach for first. The clips are made
// with the ffmpeg tool, small enough to take a second or two each.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "CliTestSupport.h"
#include "ClipTools.h"
#include "support/TgaBytes.h"

namespace Kvl::Test {
namespace {

int frameCount(const std::string& path) {
  return std::atoi(probe(path, "v:0", "stream=nb_read_frames -count_frames").c_str());
}

const std::vector<std::string> Automatic = {"--channel", "auto", "--auto-adjust"};

CliRun keyAutomatically(const std::string& clip, const std::string& output) {
  std::vector<std::string> arguments = {"key", clip, output};
  arguments.insert(arguments.end(), Automatic.begin(), Automatic.end());
  return runCli(arguments);
}

// swscale's converters write whole blocks of pixels: a width that is a
// multiple of 8 but not of 16 (1080, 1000) ran the last row past the end of
// a frame sized exactly, which corrupted the heap on the way that reads up
// to the reference frame a second in. Odd sizes leave the odd last pixels
// to the converters' slower code.
TEST(Footage, RealSizesKeyWithAutomaticSettingsPastTheReferenceFrame) {
  SKIP_WITHOUT_VIDEO();
  TempDir dir;
  struct Case {
    const char* size;
    const char* codec;
  };
  for (const Case& c : {Case{"1080x720", "-c:v libx264 -preset ultrafast -pix_fmt yuv420p"},
                        Case{"1000x560", "-c:v libx264 -preset ultrafast -pix_fmt yuv420p"},
                        Case{"1920x1080", "-c:v libx264 -preset ultrafast -pix_fmt yuv420p"},
                        Case{"161x121", "-c:v ffv1 -pix_fmt yuv420p"},
                        Case{"5x3", "-c:v ffv1 -pix_fmt yuv444p"},
                        Case{"1x1", "-c:v ffv1 -pix_fmt yuv420p"},
                        Case{"161x121", "-c:v libx264 -preset ultrafast -pix_fmt yuv444p"}}) {
    const std::string clip = dir.file(std::string(c.size) + ".mkv");
    // Made in RGB first: lavfi's sources round odd sizes down for YUV 4:2:0.
    ffmpeg("-f lavfi -i \"color=0x30b040:s=" + std::string(c.size) + ":r=5,drawbox=x=iw/4:y=ih/4:w=iw/3:h=ih/3:"
           "color=0xc04020:t=fill,format=rgb24,noise=alls=20:allf=t\" -frames:v 7 " + c.codec + " '" + clip + "'");
    const std::string output = dir.file(std::string(c.size) + "-keyed.mkv");
    const CliRun run = keyAutomatically(clip, output);
    ASSERT_EQ(run.status, Cli::ExitSuccess) << c.size << ": " << run.err;
    EXPECT_TRUE(run.out.starts_with("channel=")) << run.out;
    EXPECT_EQ(frameCount(output), 7) << c.size;
    EXPECT_EQ(probe(output, "v:0", "stream=width") + "x" + probe(output, "v:0", "stream=height"), c.size);
  }
}

}  // namespace
}  // namespace Kvl::Test
