// `keyvale-cli key CLIP OUTPUT`: every frame keyed exactly as the same
// frame keyed as a still, with one setting for the whole clip, the timing
// and sound kept, and bad clips or outputs refused with a reason. The test
// clips are made, and the outputs read back, with the ffmpeg tool, not with
// keyvale-cli's own reader; the tests skip where either is missing (the
// Windows builds have no video libraries).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "CliTestSupport.h"
#include "ClipTools.h"
#include "video/VideoFiles.h"
#include "support/TgaBytes.h"

namespace Kvl::Test {
namespace {

constexpr int Width = 64;
constexpr int Height = 48;
constexpr int Frames = 10;

// A green-screen clip stored losslessly in RGB: a graded backdrop with
// noise that changes every frame, a solid patch that moves, and a second
// of sound.
std::string makeRgbClip(const TempDir& dir, const std::string& name = "clip.mkv") {
  const std::string path = dir.file(name);
  ffmpeg("-f lavfi -i \"color=c=0x30b040:s=64x48:r=10,drawbox=x=t*20:y=10:w=20:h=16:color=0xc04020:t=fill,"
         "geq=r='r(X,Y)':g='g(X,Y)-X':b='b(X,Y)+Y',noise=alls=24:allf=t\" "
         "-f lavfi -i \"sine=f=440:sample_rate=48000\" -frames:v 10 -t 1 -c:v ffv1 -pix_fmt bgr0 -c:a pcm_s16le '" +
         path + "'");
  return path;
}

// The frames of a clip as 32-bit BGRA, top row first, decoded by ffmpeg.
std::vector<std::vector<Pixel32>> decodeFrames(const std::string& path, const std::string& decoder = "") {
  const std::string raw = path + ".raw";
  ffmpeg(decoder + " -i '" + path + "' -f rawvideo -pix_fmt bgra '" + raw + "'");
  const std::vector<std::uint8_t> bytes = readFileBytes(raw);
  std::vector<std::vector<Pixel32>> frames;
  const std::size_t frameBytes = std::size_t{Width} * Height * 4;
  for (std::size_t at = 0; at + frameBytes <= bytes.size(); at += frameBytes) {
    std::vector<Pixel32> frame(std::size_t{Width} * Height);
    std::memcpy(frame.data(), bytes.data() + at, frameBytes);
    frames.push_back(std::move(frame));
  }
  return frames;
}

// The clip's first audio stream decoded: as long as the sound is.
std::size_t audioBytes(const std::string& path) {
  ffmpeg("-i '" + path + "' -map 0:a:0 -f s16le '" + path + ".pcm'");
  return readFileBytes(path + ".pcm").size();
}

// Pulls every frame of the clip out as a PNG picture, still0.png on.
void extractStills(const TempDir& dir, const std::string& clip) {
  ffmpeg("-i '" + clip + "' -start_number 0 '" + dir.file("still%d.png") + "'");
}

// Frame `index` keyed as a still: its PNG picture keyed by `keyvale-cli key`
// into a Targa file, turned top row first.
std::vector<Pixel32> keyedAsStill(const TempDir& dir, int index, const std::vector<std::string>& settings) {
  const std::string still = dir.file("still" + std::to_string(index) + ".png");
  const std::string keyed = dir.file("still" + std::to_string(index) + ".tga");
  std::vector<std::string> arguments = {"key", still, keyed};
  arguments.insert(arguments.end(), settings.begin(), settings.end());
  EXPECT_EQ(runCli(arguments).status, Cli::ExitSuccess);
  const TargaFile file = readTargaFile(keyed);
  std::vector<Pixel32> topDown;
  for (int y = Height - 1; y >= 0; --y) {
    topDown.insert(topDown.end(), file.pixels.begin() + y * Width, file.pixels.begin() + (y + 1) * Width);
  }
  return topDown;
}

std::vector<std::vector<Pixel32>> keyedAsStills(const TempDir& dir, const std::string& clip,
                                                const std::vector<std::string>& settings) {
  extractStills(dir, clip);
  std::vector<std::vector<Pixel32>> stills;
  for (int i = 0; i < Frames; ++i) stills.push_back(keyedAsStill(dir, i, settings));
  return stills;
}

// Compares frame by frame; `alphaOnly` with a tolerance for lossy codecs.
void expectFramesMatch(const std::vector<std::vector<Pixel32>>& got, const std::vector<std::vector<Pixel32>>& want,
                       int alphaTolerance, bool alphaOnly, const std::string& what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  for (std::size_t f = 0; f < got.size(); ++f) {
    for (std::size_t i = 0; i < got[f].size(); ++i) {
      const Pixel32 g = got[f][i], w = want[f][i];
      const bool same = alphaOnly ? std::abs(int{alphaOf(g)} - int{alphaOf(w)}) <= alphaTolerance : g == w;
      if (!same) {
        ADD_FAILURE() << what << ": frame " << f << " x " << i % Width << " y " << i / Width << " got " << std::hex
                      << g << " want " << w;
        return;
      }
    }
  }
}

const std::vector<std::string> FixedSetting = {"--channel", "green", "--contrast", "30", "--offset", "12"};

TEST(ClipKeying, LosslessOutputsEqualEveryFrameKeyedAsAStill) {
  SKIP_WITHOUT_VIDEO();
  TempDir dir;
  const std::string clip = makeRgbClip(dir);
  const auto stills = keyedAsStills(dir, clip, FixedSetting);
  for (const auto& [output, codec] : {std::pair{"out.mkv", "ffv1"}, std::pair{"png.mov", "png"},
                                      std::pair{"rle.mov", "qtrle"}}) {
    std::vector<std::string> arguments = {"key", clip, dir.file(output), "--codec", codec};
    arguments.insert(arguments.end(), FixedSetting.begin(), FixedSetting.end());
    const CliRun run = runCli(arguments);
    ASSERT_EQ(run.status, Cli::ExitSuccess) << run.err;
    EXPECT_EQ(run.out, "channel=green contrast=30 offset=12\n");
    expectFramesMatch(decodeFrames(dir.file(output)), stills, 0, false, codec);
  }
  // One picture per frame, numbered from 1.
  std::vector<std::string> arguments = {"key", clip, "--out-dir", dir.file("frames"), "--format", "tga"};
  arguments.insert(arguments.end(), FixedSetting.begin(), FixedSetting.end());
  ASSERT_EQ(runCli(arguments).status, Cli::ExitSuccess);
  for (int i = 0; i < Frames; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "clip.%06d.tga", i + 1);
    EXPECT_EQ(readFileBytes(dir.path() / "frames" / name), readFileBytes(dir.file("still" + std::to_string(i) + ".tga")))
        << name;
  }
  EXPECT_TRUE(leftoverPartials(dir.path()).empty());
}

// The plate keyer measures the backdrop once, on the reference frame, and
// keys every frame against it: each frame equals its still keyed with the
// setting the clip wrote.
TEST(ClipKeying, ThePlateKeyerKeysEveryFrameWithTheClipsOneBackdrop) {
  SKIP_WITHOUT_VIDEO();
  TempDir dir;
  const std::string clip = makeRgbClip(dir);
  const std::string setting = dir.file("clip.keyvale");
  const CliRun run = runCli({"key", clip, dir.file("out.mkv"), "--codec", "ffv1", "--keyer", "plate", "--auto-adjust",
                             "--settings-out", setting});
  ASSERT_EQ(run.status, Cli::ExitSuccess) << run.err;
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
  expectFramesMatch(decodeFrames(dir.file("out.mkv")), keyedAsStills(dir, clip, {"--settings", setting}), 0, false,
                    "plate");
}

// Every frame is refined as its still would be, masks and all.
TEST(ClipKeying, RefinementOptionsRefineEveryFrameAsAStill) {
  SKIP_WITHOUT_VIDEO();
  TempDir dir;
  const std::string clip = makeRgbClip(dir);
  // White in the bottom-right quarter (a Targa file's first row is its bottom one).
  const std::string mask = TgaBytes(2, 2).pixels({makePixel(0, 0, 0), makePixel(255, 255, 255), makePixel(0, 0, 0),
                                                   makePixel(0, 0, 0)}).writeTo(dir.path() / "holdout.tga");
  std::vector<std::string> setting = FixedSetting;
  for (const char* option : {"--choke", "1", "--feather", "2", "--garbage", "0,0,8,48", "--holdout-matte"}) {
    setting.push_back(option);
  }
  setting.push_back(mask);
  const auto plain = keyedAsStills(dir, clip, FixedSetting);
  const auto stills = keyedAsStills(dir, clip, setting);
  std::vector<std::string> arguments = {"key", clip, dir.file("refined.mkv"), "--codec", "ffv1"};
  arguments.insert(arguments.end(), setting.begin(), setting.end());
  const CliRun run = runCli(arguments);
  ASSERT_EQ(run.status, Cli::ExitSuccess) << run.err;
  const auto frames = decodeFrames(dir.file("refined.mkv"));
  expectFramesMatch(frames, stills, 0, false, "refined");
  ASSERT_EQ(frames.size(), plain.size());
  for (std::size_t f = 0; f < frames.size(); ++f) {
    EXPECT_NE(frames[f], plain[f]) << "frame " << f << " was not refined";
    EXPECT_EQ(alphaOf(frames[f][0]), 0) << "frame " << f;                                // the garbage
    EXPECT_EQ(alphaOf(frames[f][std::size_t{Width} * Height - 1]), 255) << "frame " << f;  // the holdout
  }
}

TEST(ClipKeying, ProResAndVp9KeepAlphaTimingAndSound) {
  SKIP_WITHOUT_VIDEO();
  TempDir dir;
  const std::string clip = makeRgbClip(dir);
  const auto stills = keyedAsStills(dir, clip, FixedSetting);
  std::vector<std::string> arguments = {"key", clip, dir.file("out.mov")};
  arguments.insert(arguments.end(), FixedSetting.begin(), FixedSetting.end());
  ASSERT_EQ(runCli(arguments).status, Cli::ExitSuccess);
  const std::string mov = dir.file("out.mov");
  EXPECT_EQ(probe(mov, "v", "stream=codec_name"), "prores");
  EXPECT_EQ(probe(mov, "v", "stream=nb_frames"), "10");
  EXPECT_EQ(probe(mov, "v", "stream=r_frame_rate"), "10/1");
  EXPECT_EQ(probe(mov, "v", "stream=duration"), "1.000000");
  EXPECT_EQ(probe(mov, "a", "stream=codec_name"), "pcm_s16le");
  EXPECT_EQ(audioBytes(mov), audioBytes(clip));
  expectFramesMatch(decodeFrames(mov), stills, 1, true, "ProRes 4444");

  // VP9 keeps its alpha in a second, lossy layer: on this noisy clip (the
  // hardest case) each alpha within 16 of the still's, 3 on average.
  arguments[2] = dir.file("out.webm");
  const CliRun webm = runCli(arguments);
  ASSERT_EQ(webm.status, Cli::ExitSuccess) << webm.err;
  EXPECT_NE(webm.err.find("audio stream #1 (pcm_s16le) dropped"), std::string::npos) << webm.err;
  const auto vp9 = decodeFrames(dir.file("out.webm"), "-c:v libvpx-vp9");
  expectFramesMatch(vp9, stills, 16, true, "VP9");
  double difference = 0;
  for (std::size_t f = 0; f < vp9.size(); ++f) {
    for (std::size_t i = 0; i < vp9[f].size(); ++i) difference += std::abs(int{alphaOf(vp9[f][i])} - int{alphaOf(stills[f][i])});
  }
  EXPECT_LE(difference / (double{Width} * Height * Frames), 3.0);
}

TEST(ClipKeying, OneSettingForTheWholeClipChosenFromTheReferenceFrame) {
  SKIP_WITHOUT_VIDEO();
  TempDir dir;
  // The backdrop brightens frame by frame, so each frame alone would get
  // a contrast of its own.
  const std::string clip = dir.file("fade.mkv");
  ffmpeg("-f lavfi -i \"color=c=0x208030:s=64x48:r=10,drawbox=x=20:y=10:w=20:h=16:color=0xc04020:t=fill,"
         "geq=r='r(X,Y)':g='min(255\\,g(X,Y)+12*N+X)':b='b(X,Y)',noise=alls=16:allf=t\" "
         "-frames:v 10 -c:v ffv1 -pix_fmt bgr0 '" + clip + "'");
  extractStills(dir, clip);
  std::vector<std::string> lines;
  for (const int index : {0, 3, 9}) {
    const std::string still = dir.file("still" + std::to_string(index) + ".png");
    lines.push_back(runCli({"key", still, dir.file("x.tga"), "--channel", "auto", "--auto-adjust"}).out);
  }
  ASSERT_NE(lines[0], lines[2]) << "the frames should need different settings one by one";

  const CliRun run = runCli({"key", clip, dir.file("out.mkv"), "--channel", "auto", "--auto-adjust",
                             "--reference-frame", "3", "--settings-out", dir.file("shot.txt")});
  ASSERT_EQ(run.status, Cli::ExitSuccess) << run.err;
  EXPECT_EQ(run.out, lines[1]);  // printed once: frame 3's setting
  // Every frame keyed with it, and the written setting keys the same clip.
  std::vector<std::vector<Pixel32>> stills;
  char channel[8] = {};
  int contrast = 0, offset = 0;
  ASSERT_EQ(std::sscanf(lines[1].c_str(), "channel=%7s contrast=%d offset=%d", channel, &contrast, &offset), 3);
  const std::vector<std::string> fixed = {"--channel", channel, "--contrast", std::to_string(contrast), "--offset",
                                          std::to_string(offset)};
  for (int i = 0; i < Frames; ++i) stills.push_back(keyedAsStill(dir, i, fixed));
  expectFramesMatch(decodeFrames(dir.file("out.mkv")), stills, 0, false, "one setting");
  const CliRun again = runCli({"key", clip, dir.file("again.mkv"), "--settings", dir.file("shot.txt")});
  ASSERT_EQ(again.status, Cli::ExitSuccess) << again.err;
  EXPECT_EQ(again.out, lines[1]);
  expectFramesMatch(decodeFrames(dir.file("again.mkv")), stills, 0, false, "--settings");
}

TEST(ClipKeying, OutputsWithoutAlphaAreRefusedBeforeAnyWork) {
  SKIP_WITHOUT_VIDEO();
  TempDir dir;
  const std::string clip = makeRgbClip(dir);
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"key", clip, dir.file("out.mp4")},
        std::vector<std::string>{"key", clip, dir.file("out.mov"), "--codec", "h264"}}) {
    const CliRun run = runCli(arguments);
    EXPECT_EQ(run.status, Cli::ExitUsage);
    EXPECT_NE(run.err.find(".mov"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(".webm"), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.mp4")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.mov")));
  const auto original = readFileBytes(clip);
  const CliRun onItself = runCli({"key", clip, clip, "--codec", "ffv1"});
  EXPECT_EQ(onItself.status, Cli::ExitFileError);
  EXPECT_NE(onItself.err.find("add --overwrite"), std::string::npos) << onItself.err;
  EXPECT_EQ(readFileBytes(clip), original);
  // Over a background it is opaque, and .mp4 takes it.
  const CliRun opaque = runCli({"key", clip, dir.file("out.mp4"), "--background", "#204080"});
  EXPECT_EQ(opaque.status, Cli::ExitSuccess) << opaque.err;
  EXPECT_EQ(probe(dir.file("out.mp4"), "v", "stream=codec_name"), "h264");
}

TEST(ClipKeying, ProgressLineOnATerminalUnlessQuiet) {
  SKIP_WITHOUT_VIDEO();
  TempDir dir;
  const std::string clip = makeRgbClip(dir);
  const CliRun shown = runCli({"key", clip, dir.file("a.mkv")}, true);
  ASSERT_EQ(shown.status, Cli::ExitSuccess) << shown.err;
  EXPECT_NE(shown.err.find("Keying frame 10/10"), std::string::npos) << shown.err;
  EXPECT_EQ(shown.err.back(), '\n');
  const CliRun quiet = runCli({"key", clip, dir.file("b.mkv"), "--quiet"}, true);
  ASSERT_EQ(quiet.status, Cli::ExitSuccess) << quiet.err;
  EXPECT_EQ(quiet.err, "");
}

TEST(ClipKeying, CutOffClipKeysWhatItCanAndFails) {
  SKIP_WITHOUT_VIDEO();
  TempDir dir;
  const std::string clip = dir.file("cut.mov");
  ffmpeg("-f lavfi -i \"color=c=0x30b040:s=64x48:r=10,noise=alls=30:allf=t\" -frames:v 10 -c:v ffv1 "
         "-pix_fmt bgr0 -movflags +faststart '" + clip + "'");
  const auto whole = std::filesystem::file_size(clip);
  std::filesystem::resize_file(clip, whole * 6 / 10);
  const CliRun run = runCli({"key", clip, dir.file("out.mkv"), "--codec", "ffv1"});
  EXPECT_EQ(run.status, Cli::ExitFileError);
  EXPECT_NE(run.err.find("could not be decoded, the first at 0:00."), std::string::npos) << run.err;
  const auto frames = decodeFrames(dir.file("out.mkv"));
  EXPECT_GT(frames.size(), 0u);
  EXPECT_LT(frames.size(), 10u);
}

TEST(ClipKeying, FramesDamagedMidClipAreCountedAndTheRestKeyed) {
  SKIP_WITHOUT_VIDEO();
  TempDir dir;
  const std::string clip = dir.file("damaged.mkv");
  ffmpeg("-f lavfi -i \"color=c=0x30b040:s=64x48:r=10,noise=alls=30:allf=t\" -frames:v 10 -c:v ffv1 "
         "-pix_fmt bgr0 -slicecrc 1 '" + clip + "'");
  std::vector<std::uint8_t> bytes = readFileBytes(clip);
  std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2), 3000, std::uint8_t{0});
  std::ofstream(clip, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
  const CliRun run = runCli({"key", clip, dir.file("out.mkv")});
  EXPECT_EQ(run.status, Cli::ExitFileError);
  const auto frames = decodeFrames(dir.file("out.mkv"));
  ASSERT_GT(frames.size(), 0u);
  const std::string lost = std::to_string(Frames - static_cast<int>(frames.size())) + " frames could not be decoded";
  EXPECT_NE(run.err.find(lost), std::string::npos) << run.err;
}

TEST(ClipKeying, FileThatIsNoPictureOrClipFailsWithItsReason) {
  SKIP_WITHOUT_VIDEO();
  TempDir dir;
  // A QuickTime-looking start with nothing behind it.
  const std::string fake = dir.file("fake.mov");
  std::ofstream(fake, std::ios::binary) << std::string("\0\0\0\x14" "ftypqt  \0\0\0\0qt  garbage", 24);
  const CliRun run = runCli({"key", fake, dir.file("out.mov")});
  EXPECT_EQ(run.status, Cli::ExitFileError);
  EXPECT_TRUE(run.err.starts_with("keyvale-cli: " + fake + ": ")) << run.err;
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.mov")));
  // Plain text, which the video libraries would draw as characters.
  const std::string notes = dir.file("notes.txt");
  {
    std::ofstream lines(notes);
    for (int line = 0; line < 40; ++line) lines << "add_library(shot_" << line << " STATIC shot.cpp shot.h)\n";
  }
  const CliRun text = runCli({"key", notes, dir.file("out.tga")});
  EXPECT_EQ(text.status, Cli::ExitFileError) << text.err;
  EXPECT_TRUE(text.err.starts_with("keyvale-cli: " + notes + ": not a picture or clip keyvale-cli can read ("))
      << text.err;
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.tga")));
}

// The Windows builds have no video libraries: a clip is recognised by its
// first bytes all the same and refused with a reason that says so.
TEST(ClipKeying, BuildWithoutVideoLibrariesRefusesClips) {
  if (canReadClips()) GTEST_SKIP() << "this build reads clips";
  TempDir dir;
  const std::string clip = dir.file("take.mov");
  std::ofstream(clip, std::ios::binary) << std::string("\0\0\0\x14" "ftypqt  \0\0\0\0qt  ", 20);
  const CliRun run = runCli({"key", clip, dir.file("out.mov")});
  EXPECT_EQ(run.status, Cli::ExitFileError);
  EXPECT_EQ(run.err, "keyvale-cli: " + clip + ": video clips are not supported by this build of keyvale-cli "
                     "(it has no video libraries)\n");
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.mov")));
}

}  // namespace
}  // namespace Kvl::Test
