// Reading a clip with FFmpeg: demux, decode on the codec's own threads,
// convert each frame to 32-bit BGRA with the matrix and range the stream
// declares, and count the frames that could not be decoded.

#include <algorithm>
#include <cmath>
#include <new>

#include "VideoState.h"
#include "imageio/DeepSamples.h"

namespace Kvl {
namespace {

bool isFullRangeFormat(AVPixelFormat format) {
  return format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P ||
         format == AV_PIX_FMT_YUVJ440P || format == AV_PIX_FMT_YUVJ411P;
}

// The full-range "J" formats are the plain ones with a range flag; swscale
// warns about them and takes the range from its colourspace details anyway.
AVPixelFormat withoutRangeFlag(AVPixelFormat format) {
  switch (format) {
    case AV_PIX_FMT_YUVJ420P: return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P: return AV_PIX_FMT_YUV411P;
    default: return format;
  }
}

std::string ffmpegMessage(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

std::int64_t declaredFrameCount(const AVFormatContext* format, const AVStream* stream, AVRational rate) {
  if (stream->nb_frames > 0) return stream->nb_frames;
  if (rate.num <= 0 || rate.den <= 0) return 0;
  if (stream->duration > 0) return av_rescale_q(stream->duration, stream->time_base, av_inv_q(rate));
  if (format->duration > 0) return av_rescale_q(format->duration, AVRational{1, AV_TIME_BASE}, av_inv_q(rate));
  return 0;
}

bool refuseShape(const AVCodecParameters* codec, std::int64_t frames, std::string& error) {
  if (codec->width <= 0 || codec->height <= 0) {
    error = "the video stream declares no frame size";
    return true;
  }
  if (static_cast<std::uint32_t>(codec->width) > MaximumClipSide ||
      static_cast<std::uint32_t>(codec->height) > MaximumClipSide) {
    error = "frames of " + std::to_string(codec->width) + " x " + std::to_string(codec->height) +
            " are larger than keyvale-cli takes (" + std::to_string(MaximumClipSide) + " a side)";
    return true;
  }
  if (frames > MaximumClipFrames) {
    error = "the clip declares " + std::to_string(frames) + " frames, more than keyvale-cli takes";
    return true;
  }
  return false;
}

int bitsPerSampleOf(AVPixelFormat format) {
  const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
  return descriptor != nullptr && descriptor->nb_components > 0 ? descriptor->comp[0].depth : 8;
}

void fillInfo(ReaderState& state) {
  const AVStream* stream = state.format->streams[state.videoIndex];
  const AVCodecParameters* codec = stream->codecpar;
  AVRational rate = stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
  ClipInfo& info = state.info;
  info.width = static_cast<std::uint32_t>(codec->width);
  info.height = static_cast<std::uint32_t>(codec->height);
  info.rateNumerator = rate.num;
  info.rateDenominator = rate.den > 0 ? rate.den : 1;
  info.declaredFrames = declaredFrameCount(state.format, stream, rate);
  state.countIsExact = stream->nb_frames > 0;
  state.countIsVideos = state.countIsExact || stream->duration > 0 || state.format->nb_streams == 1;
  if (state.format->duration > 0) info.durationSeconds = static_cast<double>(state.format->duration) / AV_TIME_BASE;
  info.audioStreams = static_cast<int>(state.audioIndices.size());
  // A variable-rate stream's average rate is not the rate its frames are
  // stamped at: the container's base rate is.
  state.variableRate = stream->avg_frame_rate.num > 0 && stream->r_frame_rate.num > 0 &&
                       av_cmp_q(stream->avg_frame_rate, stream->r_frame_rate) != 0 &&
                       std::abs(av_q2d(stream->avg_frame_rate) / av_q2d(stream->r_frame_rate) - 1) > 0.01;
  if (rate.num > 0 && rate.den > 0) state.frameDuration = av_rescale_q(1, av_inv_q(rate), stream->time_base);
  state.startPts = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
  state.rule = yuvRuleFor(rawValue(codec->color_space), rawValue(codec->color_range),
                          static_cast<AVPixelFormat>(codec->format), info.width, info.height);
  info.colour = describe(state.rule);
  info.bitsPerSample = bitsPerSampleOf(static_cast<AVPixelFormat>(codec->format));
}

bool openDecoder(ReaderState& state, std::string& error) {
  const AVCodecParameters* codecpar = state.format->streams[state.videoIndex]->codecpar;
  const AVCodec* codec = avcodec_find_decoder(codecpar->codec_id);
  if (codec == nullptr) {
    error = std::string("no decoder for its video (") + avcodec_get_name(codecpar->codec_id) + ")";
    return false;
  }
  state.decoder = avcodec_alloc_context3(codec);
  if (state.decoder == nullptr || avcodec_parameters_to_context(state.decoder, codecpar) < 0) {
    error = "not enough memory for the decoder";
    return false;
  }
  // Decoding runs on the codec's threads, one per core, while the caller keys.
  state.decoder->thread_count = 0;
  state.decoder->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  const int opened = avcodec_open2(state.decoder, codec, nullptr);
  if (opened < 0) {
    error = "cannot decode its video: " + ffmpegMessage(opened);
    return false;
  }
  state.packet = av_packet_alloc();
  state.frame = av_frame_alloc();
  if (state.packet == nullptr || state.frame == nullptr) {
    error = "not enough memory for the decoder";
    return false;
  }
  return true;
}

bool openContainer(ReaderState& state, const std::string& path, std::string& error) {
  const int opened = avformat_open_input(&state.format, path.c_str(), nullptr, nullptr);
  if (opened < 0) {
    error = "not a picture or clip keyvale-cli can read (" + ffmpegMessage(opened) + ")";
    return false;
  }
  if (avformat_find_stream_info(state.format, nullptr) < 0) {
    error = "not a picture or clip keyvale-cli can read (its streams cannot be told)";
    return false;
  }
  state.videoIndex = av_find_best_stream(state.format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (state.videoIndex < 0) {
    error = "the file holds no video stream";
    return false;
  }
  for (unsigned i = 0; i < state.format->nb_streams; ++i) {
    if (state.format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
      state.audioIndices.push_back(static_cast<int>(i));
    }
  }
  return true;
}

// Time stamps that jump by more than a frame and a half mean frames were
// lost, in a clip of constant rate; a variable-rate clip's frames keep the
// times they have, and only frames the decoder refuses count as lost.
void noteGap(ReaderState& state, std::int64_t pts) {
  if (pts == AV_NOPTS_VALUE || state.currentPts == AV_NOPTS_VALUE || state.frameDuration <= 0) return;
  if (state.variableRate) return;
  const std::int64_t step = pts - state.currentPts;
  if (step * 2 <= state.frameDuration * 3) return;
  const std::int64_t missing = (step + state.frameDuration / 2) / state.frameDuration - 1;
  if (state.loss.frames == 0) {
    const AVRational base = state.format->streams[state.videoIndex]->time_base;
    state.loss.firstSeconds = static_cast<double>(state.currentPts + state.frameDuration - state.startPts) * av_q2d(base);
  }
  state.loss.frames += missing;
}

// Frames the clip declares beyond those decoded were lost at its end; a
// container that broke off lost at least one, whatever it declares.
void noteShortfall(ReaderState& state) {
  const std::int64_t accounted = state.framesRead + state.loss.frames;
  std::int64_t missing = state.info.declaredFrames - accounted;
  if (state.readFailed) {
    missing = std::max<std::int64_t>(missing, 1);
  } else if (missing <= 0 || (missing == 1 && !state.countIsExact) || !state.countIsVideos) {
    // A count worked out from a duration may be one too many; one from the
    // file's duration takes in its sound, which may run on past the last
    // frame, and is no count of frames.
    missing = 0;
  }
  // Where neither the container's count nor the time stamps tell (a raw
  // stream cut off), every frame the decoder refused was lost all the same.
  missing = std::max(missing, state.framesRefused - state.loss.frames);
  if (missing <= 0) return;
  if (state.loss.frames == 0 && state.info.rateNumerator > 0) {
    state.loss.firstSeconds = static_cast<double>(state.framesRead) * state.info.rateDenominator / state.info.rateNumerator;
  }
  state.loss.frames += missing;
}

// A JPEG picture of an MJPEG stream that stops before its end marker: the
// decoder would make up the rest of it, so the stream's last picture, cut
// off with the file, would be keyed as if it were whole.
bool isCutOffPicture(const ReaderState& state) {
  if (state.decoder->codec_id != AV_CODEC_ID_MJPEG) return false;
  const AVPacket* packet = state.packet;
  int end = packet->size;
  while (end > 0 && packet->data[end - 1] == 0) --end;  // padding after the marker
  return end < 2 || packet->data[end - 2] != 0xFF || packet->data[end - 1] != 0xD9;
}

// Feeds the decoder the next video packet, queueing audio packets on the
// way; at the end of the file, or where it breaks off, starts draining.
void feedDecoder(ReaderState& state) {
  while (!state.flushing) {
    const int got = av_read_frame(state.format, state.packet);
    if (got < 0) {
      state.readFailed = got != AVERROR_EOF;
      state.flushing = true;
      avcodec_send_packet(state.decoder, nullptr);
      return;
    }
    if (state.packet->stream_index == state.videoIndex) {
      // A packet the decoder refuses is a lost frame; the time stamps of
      // the frames around it tell how many.
      if (isCutOffPicture(state) || avcodec_send_packet(state.decoder, state.packet) < 0) ++state.framesRefused;
      av_packet_unref(state.packet);
      return;
    }
    const bool isAudio = std::find(state.audioIndices.begin(), state.audioIndices.end(),
                                   state.packet->stream_index) != state.audioIndices.end();
    if (state.keepAudio && isAudio) {
      state.audio.push_back(av_packet_clone(state.packet));
    }
    av_packet_unref(state.packet);
  }
}

bool receiveFrame(ReaderState& state) {
  while (true) {
    const int got = avcodec_receive_frame(state.decoder, state.frame);
    if (got == 0) return true;
    if (got == AVERROR_EOF) return false;
    if (got != AVERROR(EAGAIN)) {
      ++state.framesRefused;
      if (state.flushing) return false;
      continue;  // a damaged frame; the next packet may decode
    }
    if (state.flushing) return false;
    feedDecoder(state);
  }
}

bool convertFrame(ReaderState& state, std::vector<Pixel32>& out) {
  const AVFrame* frame = state.frame;
  if (frame->width != static_cast<int>(state.info.width) || frame->height != static_cast<int>(state.info.height)) {
    return false;  // a stream that changes size mid-clip cannot be keyed into one clip
  }
  const auto format = static_cast<AVPixelFormat>(frame->format);
  state.scaler = sws_getCachedContext(state.scaler, frame->width, frame->height, withoutRangeFlag(format),
                                      frame->width, frame->height, AV_PIX_FMT_BGRA,
                                      SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (state.scaler == nullptr) return false;
  const int* matrix = sws_getCoefficients(state.rule.matrix);
  sws_setColorspaceDetails(state.scaler, matrix, state.rule.fullRange ? 1 : 0, matrix, 1, 0, 1 << 16, 1 << 16);
  // swscale's SIMD converters write whole blocks of pixels, past the end of
  // a row whose width is not a multiple of the block: within the picture
  // that lands on the next row before it is written, but past the last row
  // it would land beyond the buffer. The frame is converted with slack
  // after it, then cut back to its pixels; shrinking a vector keeps its
  // memory, so the next frame's conversion reuses it.
  const std::size_t pixels = static_cast<std::size_t>(state.info.width) * state.info.height;
  out.resize(pixels + FrameSlackPixels);
  std::uint8_t* planes[4] = {reinterpret_cast<std::uint8_t*>(out.data()), nullptr, nullptr, nullptr};
  int strides[4] = {static_cast<int>(state.info.width * sizeof(Pixel32)), 0, 0, 0};
  sws_scale(state.scaler, frame->data, frame->linesize, 0, frame->height, planes, strides);
  out.resize(pixels);
  // The key writes the alpha; it starts from none.
  for (Pixel32& pixel : out) pixel &= 0x00FFFFFFu;
  return true;
}

// The frame through 16-bit RGBA, which holds 10- and 12-bit samples whole.
// The chroma is interpolated at full width and every step rounded
// accurately, so that a smooth gradient stays smooth at its depth.
bool convertDeepFrame(ReaderState& state, std::vector<PixelF>& out) {
  const AVFrame* frame = state.frame;
  if (frame->width != static_cast<int>(state.info.width) || frame->height != static_cast<int>(state.info.height)) {
    return false;
  }
  const auto format = static_cast<AVPixelFormat>(frame->format);
  state.deepScaler = sws_getCachedContext(state.deepScaler, frame->width, frame->height, withoutRangeFlag(format),
                                          frame->width, frame->height, AV_PIX_FMT_RGBA64LE,
                                          SWS_BILINEAR | SWS_FULL_CHR_H_INT | SWS_ACCURATE_RND, nullptr, nullptr,
                                          nullptr);
  if (state.deepScaler == nullptr) return false;
  const int* matrix = sws_getCoefficients(state.rule.matrix);
  sws_setColorspaceDetails(state.deepScaler, matrix, state.rule.fullRange ? 1 : 0, matrix, 1, 0, 1 << 16, 1 << 16);
  // With slack after the last row, as for the 8-bit frame (convertFrame).
  const std::size_t pixels = static_cast<std::size_t>(state.info.width) * state.info.height;
  state.deepSamples.resize((pixels + FrameSlackPixels) * 4);
  std::uint8_t* planes[4] = {reinterpret_cast<std::uint8_t*>(state.deepSamples.data()), nullptr, nullptr, nullptr};
  int strides[4] = {static_cast<int>(state.info.width * 4 * sizeof(std::uint16_t)), 0, 0, 0};
  sws_scale(state.deepScaler, frame->data, frame->linesize, 0, frame->height, planes, strides);
  out.resize(pixels);
  const std::uint16_t* sample = state.deepSamples.data();
  // As a 16-bit picture's samples are read (DeepSamples.h).
  for (std::size_t i = 0; i < pixels; ++i, sample += 4) {
    out[i] = {fromUint16(sample[0]), fromUint16(sample[1]), fromUint16(sample[2]), 0.0f};  // the key writes the alpha
  }
  return true;
}

}  // namespace

YuvRule yuvRuleFor(int declaredSpace, int declaredRange, AVPixelFormat format, std::uint32_t width,
                   std::uint32_t height) {
  YuvRule rule;
  const bool bt601 = declaredSpace == AVCOL_SPC_BT470BG || declaredSpace == AVCOL_SPC_SMPTE170M ||
                     declaredSpace == AVCOL_SPC_FCC || declaredSpace == AVCOL_SPC_SMPTE240M;
  if (declaredSpace == AVCOL_SPC_BT709) {
    rule.matrix = SWS_CS_ITU709;
  } else if (declaredSpace == AVCOL_SPC_BT2020_NCL || declaredSpace == AVCOL_SPC_BT2020_CL) {
    rule.matrix = SWS_CS_BT2020;  // the constant-luminance form converted as the other, as players do
  } else if (!bt601) {
    // Unspecified, or a matrix we do not convert with: as players decide.
    rule.matrix = (width > 1024 || height > 576) ? SWS_CS_ITU709 : SWS_CS_ITU601;
  }
  rule.fullRange = declaredRange == AVCOL_RANGE_JPEG || isFullRangeFormat(format);
  return rule;
}

std::string describe(const YuvRule& rule) {
  const char* matrix = rule.matrix == SWS_CS_ITU709 ? "BT.709" : rule.matrix == SWS_CS_BT2020 ? "BT.2020" : "BT.601";
  return std::string(matrix) +
         (rule.fullRange ? " full range" : " limited range");
}

ReaderState::~ReaderState() {
  for (AVPacket* queued : audio) av_packet_free(&queued);
  sws_freeContext(scaler);
  sws_freeContext(deepScaler);
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&decoder);
  avformat_close_input(&format);
}

// Still-picture formats (BMP, TIFF, ...) come through the image demuxers,
// whose names end in "_pipe" or are "image2": those are pictures keyvale-cli
// reads or refuses as pictures, never one-frame clips.
bool isStillPictureFormat(const AVInputFormat* format) {
  const std::string name = format->name;
  return name == "image2" || (name.size() > 5 && name.compare(name.size() - 5, 5, "_pipe") == 0);
}

bool probeFfmpegClip(const std::string& path, std::string& reason) {
  av_log_set_level(AV_LOG_QUIET);
  ReaderState state;
  const int opened = avformat_open_input(&state.format, path.c_str(), nullptr, nullptr);
  if (opened < 0) {
    reason = ffmpegMessage(opened);
    return false;
  }
  if (isStillPictureFormat(state.format->iformat)) {
    reason = std::string("a picture format keyvale-cli does not read: ") + state.format->iformat->name;
    return false;
  }
  // The libraries take any plain text for ANSI art, a "video" of drawn
  // characters: a text file is no clip.
  if (std::string(state.format->iformat->name) == "tty") {
    reason = "a text file";
    return false;
  }
  if (avformat_find_stream_info(state.format, nullptr) < 0 ||
      av_find_best_stream(state.format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0) < 0) {
    reason = std::string("a ") + state.format->iformat->name + " file without a video stream";
    return false;
  }
  return true;
}

std::unique_ptr<ClipDecoder> openFfmpegDecoder(const std::string& path, std::string& error) {
  // The libraries' own chatter would bury our messages; every failure that
  // matters comes back to the caller as a reason or a count of lost frames.
  av_log_set_level(AV_LOG_QUIET);
  auto state = std::make_unique<ReaderState>();
  if (!openContainer(*state, path, error)) return nullptr;
  fillInfo(*state);
  const AVCodecParameters* codec = state->format->streams[state->videoIndex]->codecpar;
  if (refuseShape(codec, state->info.declaredFrames, error)) return nullptr;
  if (!openDecoder(*state, error)) return nullptr;
  return std::make_unique<FfmpegClipDecoder>(std::move(state));
}

namespace {

// The next frame that decodes and converts, by `convert`, into `frame`; its
// time noted, gaps before it counted as lost frames.
template <typename Frame, typename Convert>
bool nextFrame(ReaderState& state, Frame& frame, Convert convert) {
  while (!state.ended) {
    double start = threadCpuSeconds();
    const bool received = receiveFrame(state);
    state.times.decodeSeconds += threadCpuSeconds() - start;
    if (!received) {
      state.ended = true;
      noteShortfall(state);
      return false;
    }
    const std::int64_t pts = state.frame->best_effort_timestamp;
    start = threadCpuSeconds();
    const bool converted = convert(state, frame);
    state.times.convertInSeconds += threadCpuSeconds() - start;
    av_frame_unref(state.frame);
    if (!converted) {
      ++state.framesRefused;  // a frame of another size
      continue;
    }
    noteGap(state, pts);
    if (pts != AV_NOPTS_VALUE) {
      state.currentPts = pts;
    } else {
      state.currentPts = state.currentPts == AV_NOPTS_VALUE ? state.startPts : state.currentPts + state.frameDuration;
    }
    ++state.framesRead;
    return true;
  }
  return false;
}

}  // namespace

bool FfmpegClipDecoder::readFrame(std::vector<Pixel32>& frame) { return nextFrame(*state_, frame, convertFrame); }

bool FfmpegClipDecoder::readDeepFrame(std::vector<PixelF>& frame) {
  return nextFrame(*state_, frame, convertDeepFrame);
}

}  // namespace Kvl
