// Clips as cameras, phones and broadcast make them: the sizes, containers,
// rotations, colour tags and timing of real footage, keyed through the
// automatic settings that new users reach for first. The clips are made
// with the ffmpeg tool, small enough to take a second or two each.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <utility>
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
           "color=0xc04020:t=fill,format=rgb24,noise=alls=20:allf=t\" -frames:v 6 " + c.codec + " '" + clip + "'");
    const std::string output = dir.file(std::string(c.size) + "-keyed.mkv");
    const CliRun run = keyAutomatically(clip, output);
    ASSERT_EQ(run.status, Cli::ExitSuccess) << c.size << ": " << run.err;
    EXPECT_TRUE(run.out.starts_with("channel=")) << run.out;
    EXPECT_EQ(frameCount(output), 6) << c.size;
    EXPECT_EQ(probe(output, "v:0", "stream=width") + "x" + probe(output, "v:0", "stream=height"), c.size);
  }
}

// Containers without a signature keyvale-cli knows go through the video
// libraries' own probe; a Targa file never does, and a file that is neither
// says why in the video libraries' words.
TEST(Footage, EveryContainerIsRecognisedByProbeAndKeyedWhole) {
  SKIP_WITHOUT_VIDEO();
  TempDir dir;
  const std::string source = "-f lavfi -i \"testsrc2=s=64x48:r=10\" -frames:v 10 ";
  for (const auto& [name, codec] : std::vector<std::pair<std::string, std::string>>{
           {"camera.m2ts", "-c:v libx264 -f mpegts"},
           {"dvd.vob", "-c:v mpeg2video -f vob"},
           {"web.wmv", "-c:v wmv2 -f asf"},
           {"web.ivf", "-c:v libvpx -f ivf"},
           {"raw.h264", "-c:v libx264 -f h264"},
           {"raw.hevc", "-c:v libx265 -x265-params log-level=none -f hevc"}}) {
    const std::string clip = dir.file(name);
    ffmpeg(source + codec + " '" + clip + "'");
    const CliRun run = keyAutomatically(clip, dir.file(name + ".mkv"));
    ASSERT_EQ(run.status, Cli::ExitSuccess) << name << ": " << run.err;
    EXPECT_EQ(frameCount(dir.file(name + ".mkv")), 10) << name;
  }
  // MXF and DV take broadcast sizes and rates only.
  const std::string mxf = dir.file("broadcast.mxf");
  ffmpeg("-f lavfi -i \"testsrc2=s=320x240:r=25\" -frames:v 5 -c:v mpeg2video -f mxf '" + mxf + "'");
  EXPECT_EQ(keyAutomatically(mxf, dir.file("broadcast.mkv")).status, Cli::ExitSuccess);
  EXPECT_EQ(frameCount(dir.file("broadcast.mkv")), 5);
  const std::string dv = dir.file("tape.dv");
  ffmpeg("-f lavfi -i \"testsrc2=s=720x576:r=25\" -frames:v 3 -pix_fmt yuv420p -c:v dvvideo -f dv '" + dv + "'");
  EXPECT_EQ(keyAutomatically(dv, dir.file("tape.mkv")).status, Cli::ExitSuccess);
  EXPECT_EQ(frameCount(dir.file("tape.mkv")), 3);

  const std::string noise = dir.file("noise.bin");
  std::mt19937 random(7);
  std::string bytes(3000, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random() & 0xFF);
  bytes[2] = 0x55;  // no Targa image type
  std::ofstream(noise, std::ios::binary) << bytes;
  const CliRun refused = keyAutomatically(noise, dir.file("noise.mkv"));
  EXPECT_EQ(refused.status, Cli::ExitFileError);
  EXPECT_EQ(refused.err, "keyvale-cli: " + noise + ": not a picture or clip keyvale-cli can read (Invalid data found "
                         "when processing input)\n");
  EXPECT_FALSE(std::filesystem::exists(dir.file("noise.mkv")));
}

// A raw MJPEG stream, whatever its name, starts as a JPEG picture does and
// its container counts and times nothing: keyed into a clip it is read
// whole, and one cut off mid-picture loses that picture and says so.
TEST(Footage, RawMjpegStreamIsKeyedWholeAndACutOneFails) {
  SKIP_WITHOUT_VIDEO();
  TempDir dir;
  const std::string clip = dir.file("camera.avi");
  ffmpeg("-f lavfi -i \"testsrc2=s=64x48:r=10\" -frames:v 30 -c:v mjpeg -f mjpeg '" + clip + "'");
  const CliRun run = keyAutomatically(clip, dir.file("whole.mkv"));
  ASSERT_EQ(run.status, Cli::ExitSuccess) << run.err;
  EXPECT_EQ(frameCount(dir.file("whole.mkv")), 30);

  std::filesystem::resize_file(clip, std::filesystem::file_size(clip) * 2 / 3 - 100);
  const CliRun cut = keyAutomatically(clip, dir.file("cut.mkv"));
  EXPECT_EQ(cut.status, Cli::ExitFileError);
  EXPECT_NE(cut.err.find("1 frame could not be decoded"), std::string::npos) << cut.err;
  const int keyed = frameCount(dir.file("cut.mkv"));
  EXPECT_GT(keyed, 15);
  EXPECT_LT(keyed, 21);
}

// What players read from the input stays in the output: the display matrix
// that turns a phone's clip upright (QuickTime and MP4 hold it), the
// BT.2020 colour tags of an HDR clip, the field order, and every frame's time.
TEST(Footage, RotationColourTagsFieldOrderAndFrameTimesAreKept) {
  SKIP_WITHOUT_VIDEO();
  TempDir dir;
  const std::string plain = dir.file("plain.mp4"), phone = dir.file("phone.mp4");
  ffmpeg("-f lavfi -i \"testsrc2=s=96x64:r=10\" -frames:v 5 -c:v libx264 -pix_fmt yuv420p '" + plain + "'");
  ffmpeg("-i '" + plain + "' -c copy -metadata:s:v:0 rotate=90 '" + phone + "'");
  ASSERT_EQ(keyAutomatically(phone, dir.file("phone.mov")).status, Cli::ExitSuccess);
  EXPECT_EQ(probe(dir.file("phone.mov"), "v:0", "stream_side_data=rotation"), "90");

  const std::string hlg = dir.file("hlg.mkv");
  ffmpeg("-f lavfi -i \"testsrc2=s=96x64:r=10\" -frames:v 5 -c:v libx265 -x265-params log-level=none "
         "-pix_fmt yuv420p10le -color_primaries bt2020 -color_trc arib-std-b67 -colorspace bt2020nc '" + hlg + "'");
  const CliRun hdr = keyAutomatically(hlg, dir.file("hlg.mov"));
  ASSERT_EQ(hdr.status, Cli::ExitSuccess) << hdr.err;
  EXPECT_EQ(probe(dir.file("hlg.mov"), "v:0", "stream=color_space"), "bt2020nc");
  EXPECT_EQ(probe(dir.file("hlg.mov"), "v:0", "stream=color_transfer"), "arib-std-b67");
  EXPECT_EQ(probe(dir.file("hlg.mov"), "v:0", "stream=color_primaries"), "bt2020");

  const std::string interlaced = dir.file("interlaced.mov");
  ffmpeg("-f lavfi -i \"testsrc2=s=96x64:r=25\" -frames:v 5 -c:v libx264 -flags +ilme+ildct -top 1 "
         "-field_order tt '" + interlaced + "'");
  ASSERT_EQ(keyAutomatically(interlaced, dir.file("interlaced.mkv")).status, Cli::ExitSuccess);
  EXPECT_EQ(probe(dir.file("interlaced.mkv"), "v:0", "stream=field_order"), "tt");

  // Frames shown at 0, 0.04, 0.16, 0.36, ... s: no frame is lost between them.
  const std::string variable = dir.file("variable.mp4");
  ffmpeg("-f lavfi -i \"testsrc2=s=96x64:r=25,setpts='N*N/25/TB'\" -frames:v 8 -fps_mode vfr -c:v libx264 '" +
         variable + "'");
  const CliRun vfr = keyAutomatically(variable, dir.file("variable.mkv"));
  ASSERT_EQ(vfr.status, Cli::ExitSuccess) << vfr.err;
  const std::string times = "-show_entries frame=pts_time -of csv=p=0";
  ASSERT_EQ(std::system(("ffprobe -v error " + times + " '" + variable + "' | tr -d , | grep . > '" + dir.file("in.txt") +
                         "'").c_str()), 0);
  ASSERT_EQ(std::system(("ffprobe -v error " + times + " '" + dir.file("variable.mkv") + "' | tr -d , | grep . > '" +
                         dir.file("out.txt") + "'").c_str()), 0);
  EXPECT_EQ(readFileBytes(dir.file("in.txt")), readFileBytes(dir.file("out.txt")));
}

}  // namespace
}  // namespace Kvl::Test
