#include "PictureFiles.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "FileHandle.h"
#include "TgaReader.h"
#if KEYVALE_HAVE_PNG
#include "PngReader.h"
#include "PngSink.h"
#endif
#if KEYVALE_HAVE_JPEG
#include "JpegReader.h"
#endif

namespace Kvl {
namespace {

// A Targa file cannot start with either signature and still be accepted:
// its third byte would be image type 0x4E (PNG) or 0xFF (JPEG).
constexpr std::array<std::uint8_t, 8> PngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::array<std::uint8_t, 3> JpegSignature = {0xFF, 0xD8, 0xFF};  // start of image, marker

// Any reader with open(path) and failure().
template <typename Reader>
std::unique_ptr<PictureSource> openWith(const std::string& path, PictureError& error) {
  auto reader = std::make_unique<Reader>();
  if (reader->open(path.c_str())) return reader;
  error = reader->failure();
  return nullptr;
}

PictureError notInThisBuild(PictureFormat format) {
  PictureError error;
  error.reason = LoadError::NotInThisBuild;
  error.format = format;
  return error;
}

}  // namespace

PictureFormat sniffPictureFormat(const std::string& path) {
  std::array<std::uint8_t, 8> start{};
  FileHandle file(path.c_str(), "rb");
  if (!file) return PictureFormat::Targa;
  const std::size_t got = std::fread(start.data(), 1, start.size(), file.get());
  if (got >= PngSignature.size() && std::memcmp(start.data(), PngSignature.data(), PngSignature.size()) == 0) {
    return PictureFormat::Png;
  }
  if (got >= JpegSignature.size() && std::memcmp(start.data(), JpegSignature.data(), JpegSignature.size()) == 0) {
    return PictureFormat::Jpeg;
  }
  return PictureFormat::Targa;
}

bool canReadFormat(PictureFormat format) {
  switch (format) {
    case PictureFormat::Targa: return true;
    case PictureFormat::Png: return KEYVALE_HAVE_PNG != 0;
    case PictureFormat::Jpeg: return KEYVALE_HAVE_JPEG != 0;
  }
  return false;
}

bool canWritePng() { return KEYVALE_HAVE_PNG != 0; }

std::unique_ptr<PictureSource> openPicture(const std::string& path, PictureFormat format, PictureError& error) {
  switch (format) {
    case PictureFormat::Targa: return openWith<TgaReader>(path, error);
    case PictureFormat::Png:
#if KEYVALE_HAVE_PNG
      return openWith<PngReader>(path, error);
#else
      break;
#endif
    case PictureFormat::Jpeg:
#if KEYVALE_HAVE_JPEG
      return openWith<JpegReader>(path, error);
#else
      break;
#endif
  }
  error = notInThisBuild(format);
  return nullptr;
}

std::unique_ptr<PictureSink> makePngSink([[maybe_unused]] int level) {
#if KEYVALE_HAVE_PNG
  return std::make_unique<PngSink>(level);
#else
  return nullptr;
#endif
}

}  // namespace Kvl
