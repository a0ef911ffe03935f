#include "FfmpegVideo.h"

#include "VideoState.h"

namespace Kvl {
namespace {

class FfmpegVideoBackend final : public VideoBackend {
public:
  std::unique_ptr<ClipDecoder> openDecoder(const std::string& path, std::string& error) const override {
    return openFfmpegDecoder(path, error);
  }

  bool recognisesClip(const std::string& path, std::string& reason) const override {
    return probeFfmpegClip(path, reason);
  }

  std::unique_ptr<ClipEncoder> openEncoder(const std::string& path, ClipCodec codec, ClipDecoder& source,
                                           ClipWriting writing, std::string& error) const override {
    auto* decoder = dynamic_cast<FfmpegClipDecoder*>(&source);
    if (decoder == nullptr) {
      error = "the clip was not opened by the video module";
      return nullptr;
    }
    return openFfmpegEncoder(path, codec, *decoder, writing, error);
  }
};

}  // namespace

const VideoBackend& ffmpegVideoBackend() {
  static const FfmpegVideoBackend backend;
  return backend;
}

}  // namespace Kvl
