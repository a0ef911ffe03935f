#pragma once
// The code that reads and writes clips, behind ClipReader and ClipWriter.
// The one backend there is (FfmpegVideo.h) lives in keyvale-cli's video
// module, the only part of the program that links the video libraries:
// loading those maps over a hundred shared objects, which would otherwise
// be a third of the time a still takes to key. The program tells imageio
// how to load the module; nothing is loaded until a clip is opened.
//
// The module is built from the same sources as the program, but a stale
// one can sit beside a newer program: every class below is checked through
// VideoBackendAbi before any of its functions is called.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "VideoFiles.h"

namespace Kvl {

// Raised whenever a class below, or a type it takes or returns, changes.
inline constexpr int VideoBackendAbi = 3;

// The module's one exported function, extern "C": the backend, or null when
// the module was built for another VideoBackendAbi than `abi`.
class VideoBackend;
inline constexpr const char* VideoBackendEntryName = "keyvale_video_backend";
using VideoBackendEntry = const VideoBackend* (*)(int abi);

// An open clip, as ClipReader describes it.
class ClipDecoder {
public:
  virtual ~ClipDecoder() = default;
  virtual const ClipInfo& info() const = 0;
  virtual bool readFrame(std::vector<Pixel32>& frame) = 0;
  virtual bool readDeepFrame(std::vector<PixelF>& frame) = 0;
  virtual FrameLoss loss() const = 0;
  virtual std::int64_t framesRead() const = 0;
  virtual ClipTimes times() const = 0;
};

// A clip being written, as ClipWriter describes it.
class ClipEncoder {
public:
  virtual ~ClipEncoder() = default;
  virtual bool writeFrame(const Pixel32* frame) = 0;
  virtual bool writeDeepFrame(const PixelF* frame) = 0;
  virtual ClipTimes times() const = 0;
  virtual bool commit(std::string& error) = 0;
  virtual const std::vector<std::string>& droppedAudio() const = 0;
};

class VideoBackend {
public:
  virtual ~VideoBackend() = default;
  virtual std::unique_ptr<ClipDecoder> openDecoder(const std::string& path, std::string& error) const = 0;
  // Whether the video libraries' own probe takes the file for a clip (a
  // container or stream format with a video stream, not a still picture
  // format); when not, `reason` says why.
  virtual bool recognisesClip(const std::string& path, std::string& reason) const = 0;
  // `source` must be a decoder this backend opened: the encoder takes its
  // timing and audio from it.
  virtual std::unique_ptr<ClipEncoder> openEncoder(const std::string& path, ClipCodec codec, ClipDecoder& source,
                                                   ClipWriting writing, std::string& error) const = 0;
};

// How imageio reaches the backend. `available` answers canReadClips()
// without loading anything; `load` is called once, the first time a clip
// is opened, and gives the backend or, with `error` set, null (clips are
// then refused with that reason for the rest of the run).
struct VideoBackendLoader {
  std::function<bool()> available;
  std::function<const VideoBackend*(std::string& error)> load;
};

// Until one of these is called, clips are refused as by a build without the
// video libraries. Either replaces what was installed before.
void installVideoBackendLoader(VideoBackendLoader loader);
// For programs that link the backend in (the tests, the fuzz targets).
void useVideoBackend(const VideoBackend& backend);

}  // namespace Kvl
