#pragma once
// Video clips: a reader that hands out one frame at a time in the order
// they are shown, and a writer that encodes keyed frames with their alpha
// into a clip that keeps the input's timing and sound. The work is done by
// a video backend on Debian's FFmpeg libraries (VideoBackend.h), which
// keyvale-cli loads as a module the first time a clip is opened, so that a
// still is keyed without those libraries in the process. A build without
// them (the MinGW cross builds) recognises a clip by its first bytes and
// refuses it.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "keying/DeepPixel.h"
#include "keying/Pixel.h"

namespace Kvl {

class ClipDecoder;
class ClipEncoder;

// Whether clips can be read and written: a backend is in the program, or
// the module that holds it is where it is looked for. Loads nothing.
bool canReadClips();

// Whether the file starts like a video container (QuickTime/MP4, Matroska/
// WebM, AVI, Ogg, FLV, MPEG program and transport streams, raw H.264, HEVC
// and MPEG video). Only such files are handed to the video libraries:
// a Targa file, which has no signature, never is.
bool looksLikeClip(const std::string& path);

// Whether the file is a clip: one that looksLikeClip(), or one that is no
// PNG, JPEG or Targa file (a true-colour image type in its header) and that
// the video libraries' own probe takes for a clip (MPEG-TS and PS, MXF, DV,
// ASF, IVF, raw H.264 and HEVC, ...). A file neither picture nor clip gets
// `reason`, the video libraries' word on it; Targa files, which have no
// signature, never go to the probe, and neither does anything in a build
// without the video libraries.
bool isClip(const std::string& path, std::string& reason);

// The largest frame and the most frames a clip may declare: 8K frames, and
// a day at 120 frames per second. Anything beyond is refused before a
// frame is allocated.
inline constexpr std::uint32_t MaximumClipSide = 8192;
inline constexpr std::int64_t MaximumClipFrames = 24LL * 3600 * 120;

// The pixels a frame the reader hands out has allocated past its end (its
// vector's capacity): the video libraries' converters read and write whole
// blocks of pixels, up to this many beyond a row that is not a multiple of
// their block. A frame handed to the writer must have as many readable.
inline constexpr std::size_t FrameSlackPixels = 64;

struct ClipInfo {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::int64_t declaredFrames = 0;  // from the container; 0 when it does not say
  int rateNumerator = 0;            // frames per second, as a fraction
  int rateDenominator = 1;
  double durationSeconds = 0;       // 0 when the container does not say
  std::string colour;               // how YUV was turned into RGB, e.g. "BT.709 limited range"
  int audioStreams = 0;
  int bitsPerSample = 8;            // of the decoded video: 10 for yuv422p10le, 12 for ProRes 4444
};

// Frames that could not be decoded: how many, and from where.
struct FrameLoss {
  std::int64_t frames = 0;
  double firstSeconds = 0;  // the time of the first lost frame
};

// The CPU time the calling thread has used, in seconds: stage times counted
// this way hold on a busy machine, where wall time follows the other work.
// Inline, so that the video module has it without linking imageio; 0 on
// Windows, which keys no clips.
inline double threadCpuSeconds() {
#ifdef _WIN32
  return 0;
#else
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
#endif
}

// Where the time of a run went: CPU seconds of the thread that did the work.
struct ClipTimes {
  double decodeSeconds = 0;
  double convertInSeconds = 0;   // YUV to BGRA
  double convertOutSeconds = 0;  // BGRA to the codec's pixels
  double encodeSeconds = 0;
};

class ClipReader {
public:
  // Opens `path` as a clip; null with `error` set when it is none.
  static std::unique_ptr<ClipReader> open(const std::string& path, std::string& error);
  ~ClipReader();
  ClipReader(const ClipReader&) = delete;
  ClipReader& operator=(const ClipReader&) = delete;

  const ClipInfo& info() const;
  // The next frame, top row first, width x height pixels of alpha 0.
  // False at the end of the clip (or where it cannot be read further).
  bool readFrame(std::vector<Pixel32>& frame);
  // The next frame at the depth of its samples (converted through 16-bit
  // RGBA, so 10- and 12-bit samples are kept whole): each value 0..1,
  // coded as the clip codes it, alpha 0. The same frames as readFrame().
  bool readDeepFrame(std::vector<PixelF>& frame);
  // Frames the clip declares or whose time stamps show that were not decoded.
  FrameLoss loss() const;
  std::int64_t framesRead() const;
  ClipTimes times() const;  // decoding and conversion

private:
  friend class ClipWriter;  // hands the decoder to the backend that made it
  explicit ClipReader(std::unique_ptr<ClipDecoder> decoder);
  std::unique_ptr<ClipDecoder> decoder_;
};

// ProRes422 (HQ, no alpha) is for the opaque views written beside a keyed
// clip; --codec does not name it.
enum class ClipCodec { ProRes4444, Vp9, Ffv1, Png, Qtrle, H264, ProRes422 };

// Whether the codec keeps an alpha channel.
bool codecKeepsAlpha(ClipCodec codec);
// Whether frames of more than 8 bits a sample can be written in the codec:
// ProRes 4444 at 10 bits (the most FFmpeg's ProRes encoder takes), alpha
// included, and FFV1 at 16. Inline: the video module has it too.
inline bool codecTakesDeepFrames(ClipCodec codec) {
  return codec == ClipCodec::ProRes4444 || codec == ClipCodec::Ffv1;
}
const char* codecName(ClipCodec codec);

// How a clip is written: from 8-bit frames or from deep ones, and whether
// the source's audio streams are copied (a view beside the keyed clip has
// none, or the sound would be split between the two).
struct ClipWriting {
  bool deep = false;
  bool copyAudio = true;
};

class ClipWriter {
public:
  // A clip of `codec` at `path`, timed like `source`, whose audio streams
  // are copied from it where the container takes them. The container comes
  // from the name's extension. Null with `error` set when it cannot be made.
  // Several writers may be opened on one reader; frames are timed as the
  // frame it handed out last. Deep writing needs codecTakesDeepFrames().
  static std::unique_ptr<ClipWriter> open(const std::string& path, ClipCodec codec, ClipReader& source,
                                          std::string& error, ClipWriting writing = {});
  ~ClipWriter();  // an uncommitted clip is deleted
  ClipWriter(const ClipWriter&) = delete;
  ClipWriter& operator=(const ClipWriter&) = delete;

  // Hands the frame `source` handed out last (top row first, straight
  // alpha) and the audio read before it to the encoder's own thread, which
  // works while the next frame is read and keyed; waits while two frames
  // are ahead of it. False once writing has failed.
  bool writeFrame(const Pixel32* frame);
  // The same for a deep writer: straight alpha, values 0..1 (clamped),
  // coded as the source's. The frame needs no slack past its end.
  bool writeDeepFrame(const PixelF* frame);
  ClipTimes times() const;  // conversion and encoding, once committed
  // Finishes the clip and puts it in place of `path`; until then the output
  // is written under a temporary name beside it.
  bool commit(std::string& error);
  // The audio streams the container could not take, e.g. "#1 (pcm_s16le)".
  const std::vector<std::string>& droppedAudio() const;

private:
  explicit ClipWriter(std::unique_ptr<ClipEncoder> encoder);
  std::unique_ptr<ClipEncoder> encoder_;
};

}  // namespace Kvl
