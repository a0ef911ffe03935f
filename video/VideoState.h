#pragma once
// The FFmpeg objects behind the video backend. Only the video module's
// files include this header, so no other part of the program sees a codec
// header.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "VideoBackend.h"

namespace Kvl {

// A colour enum as FFmpeg stored it: straight from the file, so it may hold
// a value the enum does not name, which must not be loaded as the enum.
template <typename Enum>
int rawValue(const Enum& field) {
  int value = 0;
  static_assert(sizeof(Enum) == sizeof(int));
  std::memcpy(&value, &field, sizeof value);
  return value;
}

// The YUV matrix and range a picture is converted with, as swscale names them.
struct YuvRule {
  int matrix = SWS_CS_ITU601;  // SWS_CS_ITU601, SWS_CS_ITU709 or SWS_CS_BT2020
  bool fullRange = false;
};

// The rule players follow for a stream that declares nothing: high
// definition (wider than 1024 or taller than 576) is BT.709, the rest BT.601.
YuvRule yuvRuleFor(int declaredSpace, int declaredRange, AVPixelFormat format, std::uint32_t width,
                   std::uint32_t height);
std::string describe(const YuvRule& rule);

struct ReaderState {
  ~ReaderState();

  AVFormatContext* format = nullptr;
  AVCodecContext* decoder = nullptr;
  SwsContext* scaler = nullptr;
  SwsContext* deepScaler = nullptr;      // to 16-bit RGBA, for readDeepFrame
  std::vector<std::uint16_t> deepSamples;  // that RGBA, with slack after it
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  int videoIndex = -1;
  std::vector<int> audioIndices;
  ClipInfo info;
  YuvRule rule;

  // Packets of the audio streams, read on the way to the next frame, kept
  // for a writer that copies them (only when one does).
  bool keepAudio = false;
  std::deque<AVPacket*> audio;

  std::int64_t frameDuration = 0;  // in the stream's time base; 0 when unknown
  std::int64_t currentPts = AV_NOPTS_VALUE;  // the frame handed out last
  std::int64_t startPts = 0;
  std::int64_t framesRead = 0;
  FrameLoss loss;
  std::int64_t framesRefused = 0;  // packets and frames the decoder refused, or of another size
  ClipTimes times;
  bool variableRate = false;  // the frames' times, not a rate, tell when each is shown
  bool countIsExact = false;
  bool countIsVideos = false;  // the count comes from the video alone, not the file's duration  // the container counted its frames
  bool readFailed = false;  // the container broke off before its end
  bool flushing = false;
  bool ended = false;
};

class FfmpegClipDecoder final : public ClipDecoder {
public:
  explicit FfmpegClipDecoder(std::unique_ptr<ReaderState> state) : state_(std::move(state)) {}
  const ClipInfo& info() const override { return state_->info; }
  bool readFrame(std::vector<Pixel32>& frame) override;
  bool readDeepFrame(std::vector<PixelF>& frame) override;
  FrameLoss loss() const override { return state_->loss; }
  std::int64_t framesRead() const override { return state_->framesRead; }
  ClipTimes times() const override { return state_->times; }
  ReaderState& state() { return *state_; }  // the writer copies its timing and audio

private:
  std::unique_ptr<ReaderState> state_;
};

bool probeFfmpegClip(const std::string& path, std::string& reason);
std::unique_ptr<ClipDecoder> openFfmpegDecoder(const std::string& path, std::string& error);
std::unique_ptr<ClipEncoder> openFfmpegEncoder(const std::string& path, ClipCodec codec, FfmpegClipDecoder& source,
                                               ClipWriting writing, std::string& error);

}  // namespace Kvl
