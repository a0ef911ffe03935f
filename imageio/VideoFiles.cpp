// What every build knows about clips, with or without the video libraries:
// how a clip file starts, and the codecs an output may be written in.

#include "VideoFiles.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "FileHandle.h"

namespace Kvl {
namespace {

bool startsWith(const std::uint8_t* bytes, std::size_t got, std::size_t at, const char* text) {
  const std::size_t length = std::strlen(text);
  return got >= at + length && std::memcmp(bytes + at, text, length) == 0;
}

}  // namespace

// None of these can begin a Targa file that the Targa reader accepts: its
// third byte, the image type, would be 0 or a letter, never 2 or 10.
bool looksLikeClip(const std::string& path) {
  std::array<std::uint8_t, 12> start{};
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

bool codecKeepsAlpha(ClipCodec codec) { return codec != ClipCodec::H264; }

const char* codecName(ClipCodec codec) {
  switch (codec) {
    case ClipCodec::ProRes4444: return "ProRes 4444";
    case ClipCodec::Vp9: return "VP9";
    case ClipCodec::Ffv1: return "FFV1";
    case ClipCodec::Png: return "PNG";
    case ClipCodec::Qtrle: return "QuickTime Animation";
    case ClipCodec::H264: return "H.264";
  }
  return "";
}

}  // namespace Kvl
