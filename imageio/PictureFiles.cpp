#include "PictureFiles.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "FileHandle.h"
#include "TgaReader.h"
#if KEYVALE_HAVE_PNG
#include "PngReader.h"
#include "PngSink.h"
#endif
#if KEYVALE_HAVE_JPEG
#include "JpegReader.h"
#include "JpegSink.h"
#endif
#if KEYVALE_HAVE_SYSTEM_CODECS
#include "SystemCodecs.h"
#endif

namespace Kvl {
namespace {

// A Targa file cannot start with either signature and still be accepted:
// its third byte would be image type 0x4E (PNG) or 0xFF (JPEG).
constexpr std::array<std::uint8_t, 8> PngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::array<std::uint8_t, 3> JpegSignature = {0xFF, 0xD8, 0xFF};  // start of image, marker

// Any reader with open(path) and failure().
template <typename Reader, typename... Options>
std::unique_ptr<PictureSource> openWith(const std::string& path, PictureError& error, Options... options) {
  auto reader = std::make_unique<Reader>(options...);
  if (reader->open(path.c_str())) return reader;
  error = reader->failure();
  return nullptr;
}

#if KEYVALE_HAVE_SYSTEM_CODECS
// BMP, GIF and TIFF signatures. Such a file goes to the system's codecs only
// once the Targa reader has refused it, so that every file the window reads
// as Targa is read as Targa here too.
bool hasOtherSystemSignature(const std::string& path) {
  std::array<char, 4> start{};
  FileHandle file(path.c_str(), "rb");
  if (!file || std::fread(start.data(), 1, start.size(), file.get()) != start.size()) return false;
  const std::string_view bytes(start.data(), start.size());
  return bytes.substr(0, 2) == "BM" || bytes.substr(0, 3) == "GIF" || bytes == std::string_view("II*\0", 4) ||
         bytes == std::string_view("MM\0*", 4);
}
#endif

std::unique_ptr<PictureSource> openTarga(const std::string& path, PictureError& error) {
  std::unique_ptr<PictureSource> targa = openWith<TgaReader>(path, error);
#if KEYVALE_HAVE_SYSTEM_CODECS
  // A file neither reads keeps the Targa reader's reason, as before.
  if (!targa && hasOtherSystemSignature(path)) {
    PictureError systemError;
    if (auto other = openWithSystemCodecs(path, PictureFormat::Other, systemError)) return other;
  }
#endif
  return targa;
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
    case PictureFormat::Png: return KEYVALE_HAVE_PNG != 0 || KEYVALE_HAVE_SYSTEM_CODECS != 0;
    case PictureFormat::Jpeg: return KEYVALE_HAVE_JPEG != 0 || KEYVALE_HAVE_SYSTEM_CODECS != 0;
    case PictureFormat::Other: return KEYVALE_HAVE_SYSTEM_CODECS != 0;
  }
  return false;
}

bool canWritePng() { return KEYVALE_HAVE_PNG != 0 || KEYVALE_HAVE_SYSTEM_CODECS != 0; }

bool canWriteJpeg() { return KEYVALE_HAVE_JPEG != 0; }

std::unique_ptr<PictureSource> openPicture(const std::string& path, PictureFormat format, PictureError& error,
                                           [[maybe_unused]] ChromaUpsampling chroma) {
  switch (format) {
    case PictureFormat::Targa: return openTarga(path, error);
    case PictureFormat::Png:
#if KEYVALE_HAVE_PNG
      return openWith<PngReader>(path, error);
#elif KEYVALE_HAVE_SYSTEM_CODECS
      return openWithSystemCodecs(path, format, error);
#else
      break;
#endif
    case PictureFormat::Jpeg:
#if KEYVALE_HAVE_JPEG
      return openWith<JpegReader>(path, error, chroma);
#elif KEYVALE_HAVE_SYSTEM_CODECS
      return openWithSystemCodecs(path, format, error);
#else
      break;
#endif
    case PictureFormat::Other:
#if KEYVALE_HAVE_SYSTEM_CODECS
      return openWithSystemCodecs(path, format, error);
#else
      break;
#endif
  }
  error = notInThisBuild(format);
  return nullptr;
}

std::unique_ptr<PictureSource> openPngWithAlpha([[maybe_unused]] const std::string& path, PictureError& error) {
#if KEYVALE_HAVE_PNG
  return openWith<PngReader>(path, error, AlphaReading::Kept);
#else
  error = notInThisBuild(PictureFormat::Png);
  return nullptr;
#endif
}

std::unique_ptr<PictureSink> makePngSink([[maybe_unused]] int level) {
#if KEYVALE_HAVE_PNG
  return std::make_unique<PngSink>(level);
#elif KEYVALE_HAVE_SYSTEM_CODECS
  return makeSystemPngSink();
#else
  return nullptr;
#endif
}

std::unique_ptr<PictureSink> makeJpegSink() {
#if KEYVALE_HAVE_JPEG
  return std::make_unique<JpegSink>();
#else
  return nullptr;
#endif
}

std::unique_ptr<PictureSink> makeFootageJpegSink([[maybe_unused]] int quality) {
#if KEYVALE_HAVE_JPEG
  return std::make_unique<JpegSink>(quality, JpegSink::Chroma::Half);
#else
  return nullptr;
#endif
}

}  // namespace Kvl
