// Writing a keyed clip with FFmpeg: each frame converted from BGRA to the
// codec's own pixel format, encoded on the codec's threads and muxed with
// the input's audio packets, all under a temporary name that becomes the
// output's only once the trailer is written.

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <system_error>
#include <thread>

#include "VideoState.h"
#include "YuvaConversion.h"

namespace Kvl {

namespace {

// A keyed frame on its way to the encoder thread, with the audio packets
// read before it, which go into the file ahead of it.
struct PendingFrame {
  AVFrame* frame = nullptr;  // converted to the codec's pixels, pts set
  std::vector<AVPacket*> audio;
};

// Frames waiting for the encoder: two, so that keying and converting the
// next frame and encoding the last overlap while memory stays at a few frames.
constexpr std::size_t MaximumPendingFrames = 2;

}  // namespace

struct WriterState {
  ~WriterState();

  ReaderState* source = nullptr;  // not ours
  AVFormatContext* format = nullptr;
  AVCodecContext* encoder = nullptr;
  AVStream* video = nullptr;
  SwsContext* scaler = nullptr;
  AVFrame* frameTemplate = nullptr;  // size, format and colour tags of every frame
  AVPacket* packet = nullptr;
  std::map<int, int> audioStreams;  // input stream index -> output stream index
  std::vector<std::string> dropped;
  std::string targetPath;
  std::string temporaryPath;
  ClipWriting writing;
  bool fileOpen = false;
  std::atomic<bool> failed = false;
  bool committed = false;

  // The encoder thread and the frames handed to it.
  std::thread encoderThread;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<PendingFrame> pending;
  std::vector<AVFrame*> spareFrames;
  bool finishing = false;
  ClipTimes times;

  void encodeLoop();
  bool encodeFrame(const PendingFrame& item);
  void stopEncoder();
};

namespace {

struct CodecChoice {
  const char* encoder;
  AVPixelFormat pixels;
};

// Deep frames go into FFV1 as 16-bit RGBA; ProRes 4444 takes 10 bits either
// way, deep frames filling all ten (alpha too) where 8-bit ones repeat theirs.
CodecChoice choiceFor(ClipCodec codec, bool deep) {
  switch (codec) {
    case ClipCodec::ProRes4444: return {"prores_ks", AV_PIX_FMT_YUVA444P10LE};
    case ClipCodec::ProRes422: return {"prores_ks", AV_PIX_FMT_YUV422P10LE};
    case ClipCodec::Vp9: return {"libvpx-vp9", AV_PIX_FMT_YUVA420P};
    case ClipCodec::Ffv1: return {"ffv1", deep ? AV_PIX_FMT_RGBA64LE : AV_PIX_FMT_BGRA};
    case ClipCodec::Png: return {"png", AV_PIX_FMT_RGBA};
    case ClipCodec::Qtrle: return {"qtrle", AV_PIX_FMT_ARGB};
    case ClipCodec::H264: return {"libx264", AV_PIX_FMT_YUV420P};
  }
  return {"ffv1", AV_PIX_FMT_BGRA};
}

bool isYuv(AVPixelFormat format) {
  const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
  return descriptor != nullptr && (descriptor->flags & AV_PIX_FMT_FLAG_RGB) == 0;
}

// The container for the output's extension; the temporary file's name does
// not end in it, so the muxer is named rather than guessed.
const char* muxerFor(const std::string& path) {
  const std::string extension = std::filesystem::path(path).extension().string();
  if (extension == ".mov" || extension == ".MOV") return "mov";
  if (extension == ".webm" || extension == ".WEBM") return "webm";
  if (extension == ".mp4" || extension == ".MP4" || extension == ".m4v") return "mp4";
  return "matroska";
}

std::string temporaryPathFor(const std::string& target) {
  thread_local std::mt19937 generator{std::random_device{}()};
  return target + "." + std::to_string(generator() % 1000000u) + ".kvl-partial";
}

std::string ffmpegMessage(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

void setCodecOptions(AVCodecContext* encoder, ClipCodec codec) {
  switch (codec) {
    case ClipCodec::ProRes4444:
      encoder->profile = 4;  // 4444, which carries the alpha plane
      av_opt_set(encoder->priv_data, "alpha_bits", "16", 0);
      break;
    case ClipCodec::ProRes422:
      encoder->profile = 3;  // HQ
      break;
    case ClipCodec::Vp9:
      av_opt_set(encoder->priv_data, "crf", "15", 0);
      av_opt_set(encoder->priv_data, "deadline", "good", 0);
      av_opt_set(encoder->priv_data, "cpu-used", "4", 0);
      av_opt_set(encoder->priv_data, "row-mt", "1", 0);
      encoder->bit_rate = 0;
      break;
    case ClipCodec::H264:
      av_opt_set(encoder->priv_data, "crf", "18", 0);
      break;
    default: break;
  }
}

// The pixels are in the input's primaries and transfer; YUV outputs are
// tagged with the matrix they were made with, limited range, RGB ones as RGB.
void tagColour(AVCodecContext* encoder, const ReaderState& source, AVPixelFormat pixels) {
  const AVCodecParameters* input = source.format->streams[source.videoIndex]->codecpar;
  const int primaries = rawValue(input->color_primaries);
  const int transfer = rawValue(input->color_trc);
  encoder->color_primaries = primaries >= 0 && primaries < AVCOL_PRI_NB ? static_cast<AVColorPrimaries>(primaries)
                                                                        : AVCOL_PRI_UNSPECIFIED;
  encoder->color_trc = transfer >= 0 && transfer < AVCOL_TRC_NB ? static_cast<AVColorTransferCharacteristic>(transfer)
                                                                : AVCOL_TRC_UNSPECIFIED;
  if (isYuv(pixels)) {
    encoder->colorspace = source.rule.matrix == SWS_CS_ITU709    ? AVCOL_SPC_BT709
                          : source.rule.matrix == SWS_CS_BT2020 ? AVCOL_SPC_BT2020_NCL
                                                                : AVCOL_SPC_SMPTE170M;
    encoder->color_range = AVCOL_RANGE_MPEG;
  } else {
    encoder->colorspace = AVCOL_SPC_RGB;
    encoder->color_range = AVCOL_RANGE_JPEG;
  }
}

// A phone's clip is stored sideways with a display matrix that turns it
// upright; the keyed frames are stored as the input's were, so the output
// carries the same matrix (QuickTime and MP4 keep it in the track header).
bool keepDisplayMatrix(const AVStream& input, AVStream& output) {
  std::size_t size = 0;
  const std::uint8_t* matrix = av_stream_get_side_data(&input, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (matrix == nullptr || size < 9 * sizeof(std::int32_t)) return true;
  std::uint8_t* kept = av_stream_new_side_data(&output, AV_PKT_DATA_DISPLAYMATRIX, size);
  if (kept == nullptr) return false;
  std::memcpy(kept, matrix, size);
  return true;
}

// H.264 in 4:2:0 has one chroma sample for every two by two pixels, and
// libx264 refuses a frame of an odd width or height with no word of why.
bool refuseOddFrames(const WriterState& state, ClipCodec codec, std::string& error) {
  const ClipInfo& info = state.source->info;
  if (codec != ClipCodec::H264 || (info.width % 2 == 0 && info.height % 2 == 0)) return false;
  error = "H.264 in 4:2:0 takes frames of even width and height only, and these are " + std::to_string(info.width) +
          " x " + std::to_string(info.height) + ": write .mov or .mkv";
  return true;
}

bool openEncoder(WriterState& state, ClipCodec codec, std::string& error) {
  if (refuseOddFrames(state, codec, error)) return false;
  const CodecChoice choice = choiceFor(codec, state.writing.deep);
  const AVCodec* encoder = avcodec_find_encoder_by_name(choice.encoder);
  if (encoder == nullptr) {
    error = std::string("this build of FFmpeg has no ") + choice.encoder + " encoder";
    return false;
  }
  const ReaderState& source = *state.source;
  const AVStream* input = source.format->streams[source.videoIndex];
  state.encoder = avcodec_alloc_context3(encoder);
  if (state.encoder == nullptr) return false;
  AVCodecContext* context = state.encoder;
  context->width = static_cast<int>(source.info.width);
  context->height = static_cast<int>(source.info.height);
  context->pix_fmt = choice.pixels;
  context->time_base = input->time_base;
  context->framerate = AVRational{source.info.rateNumerator, source.info.rateDenominator};
  context->sample_aspect_ratio = input->sample_aspect_ratio.num > 0 ? input->sample_aspect_ratio
                                                                      : input->codecpar->sample_aspect_ratio;
  context->field_order = input->codecpar->field_order;  // the tag only: the fields are keyed as one frame
  context->thread_count = 0;  // encoding runs on the codec's threads, one per core
  tagColour(context, source, choice.pixels);
  if (state.format->oformat->flags & AVFMT_GLOBALHEADER) context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  setCodecOptions(context, codec);
  const int opened = avcodec_open2(context, encoder, nullptr);
  if (opened < 0) {
    error = std::string("cannot start the ") + choice.encoder + " encoder: " + ffmpegMessage(opened);
    return false;
  }
  state.video = avformat_new_stream(state.format, nullptr);
  if (state.video == nullptr || avcodec_parameters_from_context(state.video->codecpar, context) < 0) return false;
  state.video->time_base = context->time_base;
  state.video->avg_frame_rate = context->framerate;
  state.video->r_frame_rate = context->framerate;
  state.video->sample_aspect_ratio = context->sample_aspect_ratio;
  return keepDisplayMatrix(*input, *state.video);
}

// Audio streams are copied packet for packet where the container takes
// their codec; the others are named so the caller can say they were dropped.
void addAudioStreams(WriterState& state) {
  if (!state.writing.copyAudio) return;
  const AVFormatContext* input = state.source->format;
  for (const int index : state.source->audioIndices) {
    const AVCodecParameters* codec = input->streams[index]->codecpar;
    const bool taken = avformat_query_codec(state.format->oformat, codec->codec_id, FF_COMPLIANCE_NORMAL) == 1;
    AVStream* stream = taken ? avformat_new_stream(state.format, nullptr) : nullptr;
    if (stream == nullptr || avcodec_parameters_copy(stream->codecpar, codec) < 0) {
      state.dropped.push_back("#" + std::to_string(index) + " (" + avcodec_get_name(codec->codec_id) + ")");
      continue;
    }
    stream->codecpar->codec_tag = 0;
    stream->time_base = input->streams[index]->time_base;
    state.audioStreams[index] = stream->index;
  }
  state.source->keepAudio = !state.audioStreams.empty();
}

bool openFile(WriterState& state, std::string& error) {
  if (!(state.format->oformat->flags & AVFMT_NOFILE)) {
    const int opened = avio_open(&state.format->pb, state.temporaryPath.c_str(), AVIO_FLAG_WRITE);
    if (opened < 0) {
      error = "cannot open for writing (" + ffmpegMessage(opened) + ")";
      return false;
    }
    state.fileOpen = true;
  }
  const int written = avformat_write_header(state.format, nullptr);
  if (written < 0) {
    error = "cannot start the clip: " + ffmpegMessage(written);
    return false;
  }
  return true;
}

bool writeAudio(WriterState& state, std::vector<AVPacket*>& packets) {
  for (AVPacket* packet : packets) {
    const auto mapped = state.audioStreams.find(packet->stream_index);
    if (mapped != state.audioStreams.end()) {
      const AVRational from = state.source->format->streams[packet->stream_index]->time_base;
      packet->stream_index = mapped->second;
      av_packet_rescale_ts(packet, from, state.format->streams[mapped->second]->time_base);
      packet->pos = -1;
      if (av_interleaved_write_frame(state.format, packet) < 0) state.failed = true;
    }
    av_packet_free(&packet);
  }
  packets.clear();
  return !state.failed;
}

std::vector<AVPacket*> takeAudio(const WriterState& state) {
  if (!state.writing.copyAudio) return {};
  ReaderState& source = *state.source;
  std::vector<AVPacket*> packets(source.audio.begin(), source.audio.end());
  source.audio.clear();
  return packets;
}

double secondsSince(double start) { return threadCpuSeconds() - start; }

// Moves every packet the encoder has ready into the file.
bool drainEncoder(WriterState& state) {
  while (true) {
    const int got = avcodec_receive_packet(state.encoder, state.packet);
    if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return !state.failed;
    if (got < 0) return !(state.failed = true);
    if (state.packet->duration == 0) state.packet->duration = state.source->frameDuration;
    av_packet_rescale_ts(state.packet, state.encoder->time_base, state.video->time_base);
    state.packet->stream_index = state.video->index;
    if (av_interleaved_write_frame(state.format, state.packet) < 0) state.failed = true;
    av_packet_unref(state.packet);
  }
}

bool convertInto(WriterState& state, const Pixel32* pixels, AVFrame* frame) {
  AVCodecContext* encoder = state.encoder;
  if (encoder->pix_fmt == AV_PIX_FMT_YUVA444P10LE) {
    convertToYuva444p10(pixels, frame, state.source->rule.matrix);
    return true;
  }
  if (state.scaler == nullptr) {
    state.scaler = sws_getContext(encoder->width, encoder->height, AV_PIX_FMT_BGRA, encoder->width, encoder->height,
                                  encoder->pix_fmt, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (state.scaler == nullptr) return false;
    const int* matrix = sws_getCoefficients(state.source->rule.matrix);
    sws_setColorspaceDetails(state.scaler, matrix, 1, matrix, isYuv(encoder->pix_fmt) ? 0 : 1, 0, 1 << 16, 1 << 16);
  }
  const std::uint8_t* planes[4] = {reinterpret_cast<const std::uint8_t*>(pixels), nullptr, nullptr, nullptr};
  const int strides[4] = {encoder->width * static_cast<int>(sizeof(Pixel32)), 0, 0, 0};
  sws_scale(state.scaler, planes, strides, 0, encoder->height, frame->data, frame->linesize);
  return true;
}

bool convertDeepInto(WriterState& state, const PixelF* pixels, AVFrame* frame) {
  if (frame->format == AV_PIX_FMT_YUVA444P10LE) {
    convertDeepToYuva444p10(pixels, frame, state.source->rule.matrix);
    return true;
  }
  if (frame->format != AV_PIX_FMT_RGBA64LE) return false;
  convertDeepToRgba64(pixels, frame);
  return true;
}

bool allocateTemplate(WriterState& state) {
  state.frameTemplate = av_frame_alloc();
  state.packet = av_packet_alloc();
  if (state.frameTemplate == nullptr || state.packet == nullptr) return false;
  AVFrame* frame = state.frameTemplate;
  frame->format = state.encoder->pix_fmt;
  frame->width = state.encoder->width;
  frame->height = state.encoder->height;
  // Some encoders (ProRes) tag each frame from the frame's own fields.
  frame->colorspace = state.encoder->colorspace;
  frame->color_range = state.encoder->color_range;
  frame->color_primaries = state.encoder->color_primaries;
  frame->color_trc = state.encoder->color_trc;
  return true;
}

// A frame to convert into: a spare one (writable again, since the encoder
// may still hold its pixels) or a new one.
AVFrame* frameToFill(WriterState& state, AVFrame* spare) {
  // A spare the encoder still holds would be copied to be made writable;
  // every pixel of it is about to be written, so a new one costs less.
  if (spare != nullptr && av_frame_is_writable(spare) == 0) av_frame_free(&spare);
  AVFrame* frame = spare != nullptr ? spare : av_frame_alloc();
  if (frame == nullptr) return nullptr;
  if (spare == nullptr) {
    if (av_frame_copy_props(frame, state.frameTemplate) < 0) {
      av_frame_free(&frame);
      return nullptr;
    }
    frame->format = state.frameTemplate->format;
    frame->width = state.frameTemplate->width;
    frame->height = state.frameTemplate->height;
    if (av_frame_get_buffer(frame, 0) < 0) {
      av_frame_free(&frame);
      return nullptr;
    }
  }
  if (av_frame_make_writable(frame) < 0) {
    av_frame_free(&frame);
    return nullptr;
  }
  return frame;
}

}  // namespace

WriterState::~WriterState() {
  stopEncoder();
  for (PendingFrame& item : pending) {
    for (AVPacket* unsent : item.audio) av_packet_free(&unsent);
    av_frame_free(&item.frame);
  }
  if (format != nullptr && fileOpen) avio_closep(&format->pb);
  if (!committed && !temporaryPath.empty()) std::remove(temporaryPath.c_str());
  sws_freeContext(scaler);
  for (AVFrame* spare : spareFrames) av_frame_free(&spare);
  av_frame_free(&frameTemplate);
  av_packet_free(&packet);
  avcodec_free_context(&encoder);
  avformat_free_context(format);
}

namespace {

class FfmpegClipEncoder final : public ClipEncoder {
public:
  explicit FfmpegClipEncoder(std::unique_ptr<WriterState> state) : state_(std::move(state)) {}
  bool writeFrame(const Pixel32* pixels) override;
  bool writeDeepFrame(const PixelF* pixels) override;
  ClipTimes times() const override { return state_->times; }
  bool commit(std::string& error) override;
  const std::vector<std::string>& droppedAudio() const override { return state_->dropped; }

private:
  template <typename Convert>
  bool queueFrame(Convert convert);

  std::unique_ptr<WriterState> state_;
};

}  // namespace

std::unique_ptr<ClipEncoder> openFfmpegEncoder(const std::string& path, ClipCodec codec, FfmpegClipDecoder& source,
                                               ClipWriting writing, std::string& error) {
  if (writing.deep && !codecTakesDeepFrames(codec)) {
    error = "this codec is written from 8-bit frames only";
    return nullptr;
  }
  auto state = std::make_unique<WriterState>();
  state->writing = writing;
  state->source = &source.state();
  state->targetPath = path;
  state->temporaryPath = temporaryPathFor(path);
  avformat_alloc_output_context2(&state->format, nullptr, muxerFor(path), state->temporaryPath.c_str());
  if (state->format == nullptr) {
    error = "cannot make the output clip";
    return nullptr;
  }
  if (!openEncoder(*state, codec, error)) {
    if (error.empty()) error = "not enough memory for the encoder";
    return nullptr;
  }
  addAudioStreams(*state);
  if (!allocateTemplate(*state)) {
    error = "not enough memory for the encoder";
    return nullptr;
  }
  if (!openFile(*state, error)) return nullptr;
  WriterState* running = state.get();
  state->encoderThread = std::thread([running] { running->encodeLoop(); });
  return std::make_unique<FfmpegClipEncoder>(std::move(state));
}

// Runs on the encoder thread: converts, encodes and muxes each frame
// handed over, until the last one is done or writing fails.
void WriterState::encodeLoop() {
  while (true) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return !pending.empty() || finishing; });
    if (pending.empty()) return;
    PendingFrame item = std::move(pending.front());
    pending.pop_front();
    lock.unlock();
    const bool written = !failed && writeAudio(*this, item.audio) && encodeFrame(item);
    for (AVPacket* unsent : item.audio) av_packet_free(&unsent);
    lock.lock();
    if (!written) failed = true;
    spareFrames.push_back(item.frame);
    changed.notify_all();
  }
}

bool WriterState::encodeFrame(const PendingFrame& item) {
  const auto start = threadCpuSeconds();
  const bool encoded = avcodec_send_frame(encoder, item.frame) >= 0 && drainEncoder(*this);
  times.encodeSeconds += secondsSince(start);
  return encoded;
}

void WriterState::stopEncoder() {
  if (!encoderThread.joinable()) return;
  {
    const std::lock_guard lock(mutex);
    finishing = true;
  }
  changed.notify_all();
  encoderThread.join();
}

bool FfmpegClipEncoder::writeFrame(const Pixel32* pixels) {
  if (state_->writing.deep) return false;
  return queueFrame([this, pixels](AVFrame* frame) { return convertInto(*state_, pixels, frame); });
}

bool FfmpegClipEncoder::writeDeepFrame(const PixelF* pixels) {
  if (!state_->writing.deep) return false;
  return queueFrame([this, pixels](AVFrame* frame) { return convertDeepInto(*state_, pixels, frame); });
}

template <typename Convert>
bool FfmpegClipEncoder::queueFrame(Convert convert) {
  WriterState& state = *state_;
  std::unique_lock lock(state.mutex);
  state.changed.wait(lock, [&] { return state.pending.size() < MaximumPendingFrames || state.failed; });
  if (state.failed) return false;
  AVFrame* spare = nullptr;
  if (!state.spareFrames.empty()) {
    spare = state.spareFrames.back();
    state.spareFrames.pop_back();
  }
  lock.unlock();
  // Converted here, on the keying thread, so that the encoder's thread
  // does nothing but encode.
  const auto start = threadCpuSeconds();
  PendingFrame item;
  item.frame = frameToFill(state, spare);
  if (item.frame == nullptr || !convert(item.frame)) {
    av_frame_free(&item.frame);
    return !(state.failed = true);
  }
  item.frame->pts = state.source->currentPts;
  state.times.convertOutSeconds += secondsSince(start);
  item.audio = takeAudio(state);
  lock.lock();
  state.pending.push_back(std::move(item));
  state.changed.notify_all();
  return true;
}

bool FfmpegClipEncoder::commit(std::string& error) {
  WriterState& state = *state_;
  state.stopEncoder();
  std::vector<AVPacket*> trailingAudio = takeAudio(state);
  const bool flushed = !state.failed && avcodec_send_frame(state.encoder, nullptr) >= 0 && drainEncoder(state) &&
                       writeAudio(state, trailingAudio);
  const bool finished = flushed && av_write_trailer(state.format) >= 0;
  const bool closed = !state.fileOpen || avio_closep(&state.format->pb) >= 0;
  state.fileOpen = false;
  if (!finished || !closed) {
    error = "writing failed (disk full or not writable)";
    return false;
  }
  std::error_code renamed;
  std::filesystem::rename(state.temporaryPath, state.targetPath, renamed);
  if (renamed) {
    error = "cannot put the output in place: " + renamed.message();
    return false;
  }
  state.committed = true;
  return true;
}

}  // namespace Kvl
