// What every build knows about clips, with or without the video libraries:
// how a clip file starts, the codecs an output may be written in, and where
// the backend that reads and writes them comes from.

#include "VideoFiles.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "imageio/FileHandle.h"
#include "imageio/PictureFiles.h"
#include "imageio/TgaFormat.h"
#include "VideoBackend.h"

namespace Kvl {
namespace {

bool startsWith(const std::uint8_t* bytes, std::size_t got, std::size_t at, const char* text) {
  const std::size_t length = std::strlen(text);
  return got >= at + length && std::memcmp(bytes + at, text, length) == 0;
}

const char* const NoVideo = "video clips are not supported by this build of keyvale-cli (it has no video libraries)";

// The loader, and what its one load gave. A load that failed is not
// retried: every clip of the run is refused with the same reason.
struct BackendSlot {
  std::mutex mutex;
  VideoBackendLoader loader;
  bool loaded = false;
  const VideoBackend* backend = nullptr;
  std::string error;
};

BackendSlot& backendSlot() {
  static BackendSlot slot;
  return slot;
}

const VideoBackend* loadBackend(std::string& error) {
  BackendSlot& slot = backendSlot();
  const std::lock_guard lock(slot.mutex);
  if (!slot.loader.load) {
    error = NoVideo;
    return nullptr;
  }
  if (!slot.loaded) {
    slot.loaded = true;
    slot.backend = slot.loader.load(slot.error);
    if (slot.backend == nullptr && slot.error.empty()) slot.error = NoVideo;
  }
  if (slot.backend == nullptr) error = slot.error;
  return slot.backend;
}

}  // namespace

void installVideoBackendLoader(VideoBackendLoader loader) {
  BackendSlot& slot = backendSlot();
  const std::lock_guard lock(slot.mutex);
  slot.loader = std::move(loader);
  slot.loaded = false;
  slot.backend = nullptr;
  slot.error.clear();
}

void useVideoBackend(const VideoBackend& backend) {
  installVideoBackendLoader({[] { return true; }, [&backend](std::string&) { return &backend; }});
}

bool canReadClips() {
  BackendSlot& slot = backendSlot();
  const std::lock_guard lock(slot.mutex);
  if (slot.loaded) return slot.backend != nullptr;
  return slot.loader.available && slot.loader.available();
}

ClipReader::ClipReader(std::unique_ptr<ClipDecoder> decoder) : decoder_(std::move(decoder)) {}
ClipReader::~ClipReader() = default;

std::unique_ptr<ClipReader> ClipReader::open(const std::string& path, std::string& error) {
  const VideoBackend* backend = loadBackend(error);
  if (backend == nullptr) return nullptr;
  std::unique_ptr<ClipDecoder> decoder = backend->openDecoder(path, error);
  if (!decoder) return nullptr;
  return std::unique_ptr<ClipReader>(new ClipReader(std::move(decoder)));
}

const ClipInfo& ClipReader::info() const { return decoder_->info(); }
bool ClipReader::readFrame(std::vector<Pixel32>& frame) { return decoder_->readFrame(frame); }
bool ClipReader::readDeepFrame(std::vector<PixelF>& frame) { return decoder_->readDeepFrame(frame); }
FrameLoss ClipReader::loss() const { return decoder_->loss(); }
std::int64_t ClipReader::framesRead() const { return decoder_->framesRead(); }
ClipTimes ClipReader::times() const { return decoder_->times(); }

ClipWriter::ClipWriter(std::unique_ptr<ClipEncoder> encoder) : encoder_(std::move(encoder)) {}
ClipWriter::~ClipWriter() = default;

std::unique_ptr<ClipWriter> ClipWriter::open(const std::string& path, ClipCodec codec, ClipReader& source,
                                             std::string& error, ClipWriting writing) {
  // The reader's open loaded the backend; this only fetches it.
  const VideoBackend* backend = loadBackend(error);
  if (backend == nullptr) return nullptr;
  std::unique_ptr<ClipEncoder> encoder = backend->openEncoder(path, codec, *source.decoder_, writing, error);
  if (!encoder) return nullptr;
  return std::unique_ptr<ClipWriter>(new ClipWriter(std::move(encoder)));
}

bool ClipWriter::writeFrame(const Pixel32* frame) { return encoder_->writeFrame(frame); }
bool ClipWriter::writeDeepFrame(const PixelF* frame) { return encoder_->writeDeepFrame(frame); }
ClipTimes ClipWriter::times() const { return encoder_->times(); }
bool ClipWriter::commit(std::string& error) { return encoder_->commit(error); }
const std::vector<std::string>& ClipWriter::droppedAudio() const { return encoder_->droppedAudio(); }

namespace {

// What follows a start code that opens a stream: an MPEG pack or sequence
// header, or an H.264 or HEVC parameter set, delimiter or SEI unit. A Targa
// header of image type 1 also starts 00 00 01, with a colour map's first
// entry (nearly always 0) after it.
bool opensMpegStream(std::uint8_t code) {
  if (code == 0xBA || code == 0xB3) return true;
  if ((code & 0x80) != 0) return false;
  const int h264 = code & 0x1F, hevc = (code >> 1) & 0x3F;
  return h264 == 6 || h264 == 7 || h264 == 9 || hevc == 32 || hevc == 35 || hevc == 39;
}

// MPEG program streams and elementary streams (raw H.264, HEVC, MPEG video)
// begin with a start code, 00 00 01 or 00 00 00 01, and transport streams
// with packets of 188 bytes (192 on Blu-ray and AVCHD discs) that each open
// with 0x47. A start code's third byte is 0 or 1, never a Targa image type
// the reader accepts; a transport stream whose would be is left to the
// Targa reader.
bool looksLikeMpegStream(const std::string& path) {
  std::array<std::uint8_t, 2 * 192 + 1> start{};
  FileHandle file(path.c_str(), "rb");
  if (!file) return false;
  const std::size_t got = std::fread(start.data(), 1, start.size(), file.get());
  const std::uint8_t* bytes = start.data();
  if (got >= 5 && bytes[0] == 0 && bytes[1] == 0) {
    if (bytes[2] == 1 && opensMpegStream(bytes[3])) return true;
    if (bytes[2] == 0 && bytes[3] == 1 && opensMpegStream(bytes[4])) return true;
  }
  if (got > 2 && (bytes[2] == TgaTypeTrueColour || bytes[2] == TgaTypeTrueColourRle)) return false;
  for (const std::size_t packet : {std::size_t{188}, std::size_t{192}}) {
    const std::size_t first = packet - 188;
    if (got > first + 2 * packet && bytes[first] == 0x47 && bytes[first + packet] == 0x47 &&
        bytes[first + 2 * packet] == 0x47) {
      return true;
    }
  }
  return false;
}

}  // namespace

// None of these can begin a Targa file that the Targa reader accepts: its
// third byte, the image type, would be 0 or a letter, never 2 or 10.
bool looksLikeClip(const std::string& path) {
  std::array<std::uint8_t, 12> start{};
  if (looksLikeMpegStream(path)) return true;
  FileHandle file(path.c_str(), "rb");
  if (!file) return false;
  const std::size_t got = std::fread(start.data(), 1, start.size(), file.get());
  const std::uint8_t* bytes = start.data();
  for (const char* box : {"ftyp", "moov", "mdat", "wide", "free", "skip"}) {  // QuickTime and MP4
    if (startsWith(bytes, got, 4, box) && bytes[0] == 0 && bytes[2] != 2 && bytes[2] != 10) return true;
  }
  const bool matroska = got >= 4 && bytes[0] == 0x1A && bytes[1] == 0x45 && bytes[2] == 0xDF && bytes[3] == 0xA3;
  const bool avi = startsWith(bytes, got, 0, "RIFF") && startsWith(bytes, got, 8, "AVI ");
  return matroska || avi || startsWith(bytes, got, 0, "OggS") || startsWith(bytes, got, 0, "FLV\x01");
}

namespace {

// A file the Targa reader is to have, and refuse in its own words where it
// must: one whose header names a Targa image type (colour-mapped, true
// colour or grey, plain or run-length), or one too short for any header,
// which nothing else reads either.
bool isTargaCandidate(const std::string& path) {
  std::array<std::uint8_t, TgaHeaderSize> start{};
  FileHandle file(path.c_str(), "rb");
  if (!file) return true;  // the picture reader says it cannot be opened
  const std::size_t got = std::fread(start.data(), 1, start.size(), file.get());
  if (got < TgaMinimumHeaderBytes) return true;
  const TgaHeader header = parseTgaHeader(start.data(), got);
  const int type = header.imageType & 0xF7;  // 9, 10, 11 are 1, 2, 3 run-length encoded
  return header.colourMapType <= 1 && type >= 1 && type <= 3;
}

}  // namespace

bool isClip(const std::string& path, std::string& reason) {
  if (looksLikeClip(path)) return true;
  if (sniffPictureFormat(path) != PictureFormat::Targa || isTargaCandidate(path) || !canReadClips()) return false;
  std::string loadError;
  const VideoBackend* backend = loadBackend(loadError);
  return backend != nullptr && backend->recognisesClip(path, reason);
}

bool codecKeepsAlpha(ClipCodec codec) { return codec != ClipCodec::H264 && codec != ClipCodec::ProRes422; }

const char* codecName(ClipCodec codec) {
  switch (codec) {
    case ClipCodec::ProRes4444: return "ProRes 4444";
    case ClipCodec::Vp9: return "VP9";
    case ClipCodec::Ffv1: return "FFV1";
    case ClipCodec::Png: return "PNG";
    case ClipCodec::Qtrle: return "QuickTime Animation";
    case ClipCodec::H264: return "H.264";
    case ClipCodec::ProRes422: return "ProRes 422 HQ";
  }
  return "";
}

}  // namespace Kvl
