// Clips of more than 8 bits a sample keyed with the plate keyer in float,
// and the matte and status clips written beside a keyed clip. The clips are
// made, and the outputs read back at 16 bits, with the ffmpeg tool.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "CliTestSupport.h"
#include "ClipTools.h"
#include "support/TgaBytes.h"
#include "video/VideoFiles.h"

namespace Kvl::Test {
namespace {

constexpr std::size_t Width = 1024;
constexpr std::size_t Height = 128;  // DNxHR takes no fewer rows than 120

// Three bands made at 16 bits: the green backdrop (rows 0-39), a ramp of
// warm greys from 9% to 90% (red, green and blue apart) that keys solid (40-79), and a ramp from the backdrop's
// green to a pink grey that keys from clear to solid (80-127).
const std::string DeepSource =
    "-f lavfi -i \"nullsrc=s=1024x128:r=10,format=gbrp16le,"
    "geq=r='if(lt(Y,40),4000,if(lt(Y,80),6000+X*52,4000+X*56))'"
    ":g='if(lt(Y,40),50000,if(lt(Y,80),6000+X*40,50000-X*20))'"
    ":b='if(lt(Y,40),6000,if(lt(Y,80),6000+X*30,6000+X*50))'\" -frames:v 3 ";

constexpr std::size_t GreyRow = 60;
constexpr std::size_t RampRow = 100;

const std::vector<std::string> PlateKeyer = {"--keyer", "plate", "--channel", "auto", "--auto-adjust"};

CliRun keyWithPlateKeyer(const std::string& clip, const std::string& output, std::vector<std::string> more = {}) {
  std::vector<std::string> arguments = {"key", clip, output};
  arguments.insert(arguments.end(), PlateKeyer.begin(), PlateKeyer.end());
  arguments.insert(arguments.end(), more.begin(), more.end());
  return runCli(arguments);
}

// The first frame decoded at 16 bits a sample in `format` (planar or packed,
// four samples a pixel): `format`'s planes or channels, in its order.
std::vector<std::uint16_t> firstFrameAt16Bits(const std::string& clip, const std::string& format) {
  const std::string raw = clip + "." + format;
  ffmpeg("-i '" + clip + "' -frames:v 1 -f rawvideo -pix_fmt " + format + " '" + raw + "'");
  const std::vector<std::uint8_t> bytes = readFileBytes(raw);
  std::vector<std::uint16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
  return samples;
}

// Distinct values of a planar picture's `plane` along row `row`.
std::size_t planarLevels(const std::vector<std::uint16_t>& samples, std::size_t plane, std::size_t row) {
  if (samples.size() < 4 * Width * Height) return 0;
  const auto* start = samples.data() + plane * Width * Height + row * Width;
  return std::set<std::uint16_t>(start, start + Width).size();
}

// Distinct values of a packed RGBA picture's `channel` along row `row`.
std::size_t packedLevels(const std::vector<std::uint16_t>& samples, std::size_t channel, std::size_t row) {
  std::set<std::uint16_t> levels;
  for (std::size_t x = 0; x < Width && samples.size() >= 4 * Width * Height; ++x) {
    levels.insert(samples[(row * Width + x) * 4 + channel]);
  }
  return levels.size();
}

// Every frame's time stamp, one a line.
std::string frameTimes(const std::string& path) {
  const std::string list = path + ".times";
  const std::string command = "ffprobe -v error -select_streams v:0 -show_entries frame=pts_time -of csv=p=0 '" +
                              path + "' > '" + list + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  const std::vector<std::uint8_t> bytes = readFileBytes(list);
  // A frame with side data (H.264's first) adds a field and a line of it.
  std::string times;
  std::istringstream lines(std::string(bytes.begin(), bytes.end()));
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) times += line.substr(0, line.find(',')) + '\n';
  }
  return times;
}

// The largest difference of red, green or blue between two packed RGBA
// pictures along row `row`.
int largestColourChange(const std::vector<std::uint16_t>& a, const std::vector<std::uint16_t>& b, std::size_t row) {
  int largest = 0;
  for (std::size_t i = row * Width * 4; i < (row + 1) * Width * 4 && i < a.size() && i < b.size(); ++i) {
    if (i % 4 != 3) largest = std::max(largest, std::abs(int{a[i]} - int{b[i]}));
  }
  return a.size() == b.size() ? largest : 65535;
}

int frameCount(const std::string& path) {
  return std::atoi(probe(path, "v:0", "stream=nb_read_frames -count_frames").c_str());
}

// ProRes 4444's alpha is lossless, its colour is not (its noise makes levels
// of its own); FFV1 is lossless throughout, so its colour levels are those
// keyed. An 8-bit source keeps the 8-bit path: 8-bit BGRA, 256 alpha levels
// at most.
TEST(DeepClips, TenAndTwelveBitSourcesKeepMoreThan256LevelsOfColourAndAlpha) {
  SKIP_WITHOUT_VIDEO();
  TempDir dir;
  ffmpeg(DeepSource + "-c:v prores_ks -profile:v 4 -pix_fmt yuva444p10le '" + dir.file("prores4444.mov") + "'");
  ffmpeg(DeepSource + "-c:v dnxhd -profile:v dnxhr_hqx -pix_fmt yuv422p10le '" + dir.file("dnxhr.mov") + "'");
  ASSERT_EQ(probe(dir.file("prores4444.mov"), "v:0", "stream=pix_fmt"), "yuva444p12le");
  for (const std::string name : {"prores4444.mov", "dnxhr.mov"}) {
    const std::string prores = dir.file(name + ".keyed.mov"), ffv1 = dir.file(name + ".keyed.mkv");
    ASSERT_EQ(keyWithPlateKeyer(dir.file(name), prores).status, Cli::ExitSuccess) << name;
    ASSERT_EQ(keyWithPlateKeyer(dir.file(name), ffv1).status, Cli::ExitSuccess) << name;
    EXPECT_EQ(frameCount(prores), 3);
    const std::vector<std::uint16_t> yuva = firstFrameAt16Bits(prores, "yuva444p16le");
    EXPECT_GT(planarLevels(yuva, 0, GreyRow), 256u) << name << ": ProRes luma";
    EXPECT_GT(planarLevels(yuva, 3, RampRow), 256u) << name << ": ProRes alpha";
    EXPECT_EQ(planarLevels(yuva, 3, 0), 1u) << name << ": the backdrop keys clear";
    const std::vector<std::uint16_t> rgba = firstFrameAt16Bits(ffv1, "rgba64le");
    EXPECT_GT(packedLevels(rgba, 1, GreyRow), 256u) << name << ": FFV1 green";
    EXPECT_GT(packedLevels(rgba, 3, RampRow), 256u) << name << ": FFV1 alpha";
    // The solid band keeps its colour: within the codecs' own loss (two
    // 8-bit levels), so the matrix, the range and the channels are right.
    const std::vector<std::uint16_t> source = firstFrameAt16Bits(dir.file(name), "rgba64le");
    EXPECT_LT(largestColourChange(source, rgba, GreyRow), 2 * 257) << name << ": FFV1";
    EXPECT_LT(largestColourChange(source, firstFrameAt16Bits(prores, "rgba64le"), GreyRow), 2 * 257) << name;
  }
  const std::string eightBit = dir.file("eight.mkv"), keyed = dir.file("eight.keyed.mkv");
  ffmpeg(DeepSource + "-c:v ffv1 -pix_fmt yuv444p '" + eightBit + "'");
  ASSERT_EQ(keyWithPlateKeyer(eightBit, keyed).status, Cli::ExitSuccess);
  EXPECT_EQ(probe(keyed, "v:0", "stream=pix_fmt"), "bgra");
  const std::vector<std::uint16_t> rgba = firstFrameAt16Bits(keyed, "rgba64le");
  EXPECT_LE(packedLevels(rgba, 3, RampRow), 256u);
}

// Red, green and blue ramps that differ (a swap fails), at 16 bits, read
// and written through FFV1, which keeps them losslessly: every sample comes
// back as it was made, alpha as it was written.
TEST(DeepClips, DeepFramesAreReadAndWrittenSampleForSample) {
  SKIP_WITHOUT_VIDEO();
  TempDir dir;
  const std::string clip = dir.file("ramps.mkv"), written = dir.file("written.mkv");
  ffmpeg("-f lavfi -i \"nullsrc=s=64x48:r=10,format=gbrp16le,geq=r='X*200':g='Y*300+1000':b='65535-X*150'\" "
         "-frames:v 2 -c:v ffv1 -pix_fmt gbrp16le '" + clip + "'");
  std::string error;
  const std::unique_ptr<ClipReader> reader = ClipReader::open(clip, error);
  ASSERT_TRUE(reader) << error;
  EXPECT_EQ(reader->info().bitsPerSample, 16);
  const std::unique_ptr<ClipWriter> writer = ClipWriter::open(written, ClipCodec::Ffv1, *reader, error, {true, true});
  ASSERT_TRUE(writer) << error;
  EXPECT_FALSE(writer->writeFrame(nullptr)) << "a deep writer takes deep frames only";
  std::vector<PixelF> frame;
  int frames = 0;
  while (reader->readDeepFrame(frame)) {
    ASSERT_EQ(frame.size(), 64u * 48u);
    for (std::size_t i = 0; i < frame.size(); ++i) {
      const float x = static_cast<float>(i % 64), y = static_cast<float>(i / 64);
      const PixelF want{x * 200 / 65535, (y * 300 + 1000) / 65535, (65535 - x * 150) / 65535, 0};
      ASSERT_EQ(frame[i], want) << "x " << i % 64 << " y " << i / 64;
      frame[i].alpha = static_cast<float>(i) / 65535;
    }
    ASSERT_TRUE(writer->writeDeepFrame(frame.data()));
    ++frames;
  }
  EXPECT_EQ(frames, 2);
  ASSERT_TRUE(writer->commit(error)) << error;
  const std::vector<std::uint16_t> rgba = firstFrameAt16Bits(written, "rgba64le");
  ASSERT_EQ(rgba.size(), 64u * 48u * 4);
  for (std::size_t i = 0; i < 64u * 48u; ++i) {
    const std::size_t x = i % 64, y = i / 64;
    const std::vector<std::uint16_t> want{static_cast<std::uint16_t>(x * 200), static_cast<std::uint16_t>(y * 300 + 1000),
                                          static_cast<std::uint16_t>(65535 - x * 150), static_cast<std::uint16_t>(i)};
    ASSERT_EQ(std::vector<std::uint16_t>(rgba.begin() + static_cast<std::ptrdiff_t>(i * 4),
                                         rgba.begin() + static_cast<std::ptrdiff_t>(i * 4 + 4)), want)
        << "x " << x << " y " << y;
  }
}

// The views carry the keyed clip's frames at its times, without its sound;
// FFV1 keeps the matte's greys exactly the keyed alpha.
TEST(ClipViews, MatteAndStatusClipsHaveTheKeyedClipsFramesAndTimes) {
  SKIP_WITHOUT_VIDEO();
  TempDir dir;
  const std::string clip = dir.file("clip.mkv");
  ffmpeg("-f lavfi -i \"color=c=0x30b040:s=64x48:r=10,drawbox=x=t*20:y=10:w=20:h=16:color=0xc04020:t=fill,"
         "noise=alls=24:allf=t\" -f lavfi -i \"sine=f=440:sample_rate=48000\" -frames:v 10 -t 1 -c:v ffv1 "
         "-pix_fmt bgr0 -c:a pcm_s16le '" + clip + "'");
  const std::string keyed = dir.file("keyed.mkv"), matte = dir.file("matte.mkv"), status = dir.file("status.mp4");
  const CliRun run = runCli({"key", clip, keyed, "--channel", "green", "--contrast", "30", "--offset", "12",
                             "--matte-out", matte, "--status", status});
  ASSERT_EQ(run.status, Cli::ExitSuccess) << run.err;
  EXPECT_EQ(frameCount(keyed), 10);
  EXPECT_EQ(frameCount(matte), 10);
  EXPECT_EQ(frameCount(status), 10);
  EXPECT_EQ(probe(status, "v:0", "stream=codec_name"), "h264");
  EXPECT_EQ(probe(keyed, "a", "stream=codec_name"), "pcm_s16le");
  EXPECT_EQ(probe(matte, "a", "stream=codec_name"), "");
  EXPECT_EQ(frameTimes(matte), frameTimes(keyed));
  EXPECT_EQ(frameTimes(status), frameTimes(keyed));
  ffmpeg("-i '" + keyed + "' -f rawvideo -pix_fmt bgra '" + keyed + ".raw'");
  ffmpeg("-i '" + matte + "' -f rawvideo -pix_fmt bgra '" + matte + ".raw'");
  const std::vector<std::uint8_t> keyedBytes = readFileBytes(keyed + ".raw"), matteBytes = readFileBytes(matte + ".raw");
  ASSERT_EQ(keyedBytes.size(), matteBytes.size());
  for (std::size_t i = 0; i < keyedBytes.size(); i += 4) {
    ASSERT_EQ(matteBytes[i + 2], keyedBytes[i + 3]) << "pixel " << i / 4;  // red = alpha
  }
}

TEST(ClipViews, DeepClipsHaveViewsToo) {
  SKIP_WITHOUT_VIDEO();
  TempDir dir;
  const std::string clip = dir.file("deep.mov");
  ffmpeg(DeepSource + "-c:v prores_ks -profile:v 4 -pix_fmt yuva444p10le '" + clip + "'");
  const std::string keyed = dir.file("keyed.mov"), matte = dir.file("matte.mov"), status = dir.file("status.webm");
  ASSERT_EQ(keyWithPlateKeyer(clip, keyed, {"--matte-out", matte, "--status", status}).status, Cli::ExitSuccess);
  EXPECT_EQ(frameCount(keyed), 3);
  EXPECT_EQ(frameCount(matte), 3);
  EXPECT_EQ(frameCount(status), 3);
  EXPECT_EQ(probe(matte, "v:0", "stream=codec_name") + " " + probe(matte, "v:0", "stream=pix_fmt"),
            "prores yuv422p10le");
  // Clear backdrop black, solid grey band white, in the matte's greys.
  const std::vector<std::uint16_t> grey = firstFrameAt16Bits(matte, "yuva444p16le");
  ASSERT_GE(grey.size(), Width * Height);
  EXPECT_LT(grey[10 * Width + 500], 0x1800);
  EXPECT_GT(grey[GreyRow * Width + 500], 0xE000);
}

// Refused before anything is read, or failing without leaving a file.
TEST(ClipViews, RefusedOrFailedViewsLeaveNothingBehind) {
  SKIP_WITHOUT_VIDEO();
  TempDir dir;
  const std::string clip = dir.file("clip.mkv");
  ffmpeg("-f lavfi -i \"color=c=0x30b040:s=64x48:r=10\" -frames:v 4 -c:v ffv1 '" + clip + "'");
  const CliRun pictures = runCli({"key", clip, "--out-dir", dir.file("frames"), "--matte-out", dir.file("m.mov")});
  EXPECT_EQ(pictures.status, Cli::ExitUsage);
  EXPECT_NE(pictures.err.find("--out-dir"), std::string::npos) << pictures.err;
  const CliRun still = runCli({"key", clip, dir.file("keyed.mov"), "--matte-out", dir.file("m.png")});
  EXPECT_EQ(still.status, Cli::ExitUsage);
  EXPECT_NE(still.err.find("m.png"), std::string::npos) << still.err;
  const CliRun overInput = runCli({"key", clip, dir.file("keyed.mov"), "--status", clip, "--overwrite"});
  EXPECT_EQ(overInput.status, Cli::ExitUsage);
  EXPECT_NE(overInput.err.find("would replace the clip keyed"), std::string::npos) << overInput.err;
  const std::string missing = dir.file("no-such-folder/status.mov");
  const CliRun failed = runCli({"key", clip, dir.file("keyed.mov"), "--matte-out", dir.file("m.mkv"), "--status", missing});
  EXPECT_EQ(failed.status, Cli::ExitFileError);
  EXPECT_NE(failed.err.find(missing), std::string::npos) << failed.err;
  // libx264 refuses odd sizes in 4:2:0 with no word of why: the reason is named.
  const std::string odd = dir.file("odd.mkv");
  ffmpeg("-f lavfi -i \"color=c=0x30b040:s=5x3:r=10,format=rgb24\" -frames:v 2 -c:v ffv1 -pix_fmt yuv444p '" + odd + "'");
  const CliRun oddRun = runCli({"key", odd, dir.file("keyed.mov"), "--status", dir.file("status.mp4")});
  EXPECT_EQ(oddRun.status, Cli::ExitFileError);
  EXPECT_NE(oddRun.err.find("even width and height"), std::string::npos) << oddRun.err;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "clip.mkv" || name == "odd.mkv") << name << " left behind";
  }
}

}  // namespace
}  // namespace Kvl::Test
