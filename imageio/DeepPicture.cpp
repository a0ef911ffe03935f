#include "DeepPicture.h"

#include <array>
#include <cstring>

#include "FileHandle.h"
#if KEYVALE_HAVE_PNG
#include "Png16Files.h"
#endif
#if KEYVALE_HAVE_TIFF
#include "TiffFiles.h"
#endif
#if KEYVALE_HAVE_EXR
#include "ExrFiles.h"
#endif

namespace Kvl {
namespace {

constexpr std::array<std::uint8_t, 4> ExrMagic = {0x76, 0x2F, 0x31, 0x01};  // 20000630, little-endian
constexpr std::array<std::uint8_t, 8> PngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t PngBitDepthOffset = 24;  // signature, IHDR length and type, width, height

bool startsWith(const std::uint8_t* bytes, std::size_t got, const std::uint8_t* start, std::size_t length) {
  return got >= length && std::memcmp(bytes, start, length) == 0;
}

}  // namespace

const char* deepFormatName(DeepFormat format) {
  switch (format) {
    case DeepFormat::Png16: return "16-bit PNG";
    case DeepFormat::Tiff: return "TIFF";
    case DeepFormat::Exr: break;
  }
  return "OpenEXR";
}

std::optional<DeepFormat> sniffDeepFormat(const std::string& path) {
  std::array<std::uint8_t, 32> start{};
  FileHandle file(path.c_str(), "rb");
  if (!file) return std::nullopt;
  const std::size_t got = std::fread(start.data(), 1, start.size(), file.get());
  if (startsWith(start.data(), got, ExrMagic.data(), ExrMagic.size())) return DeepFormat::Exr;
  static constexpr std::uint8_t LittleTiff[4] = {'I', 'I', 42, 0}, BigTiff[4] = {'M', 'M', 0, 42};
  if (startsWith(start.data(), got, LittleTiff, 4) || startsWith(start.data(), got, BigTiff, 4)) return DeepFormat::Tiff;
  if (startsWith(start.data(), got, PngSignature.data(), PngSignature.size()) && got > PngBitDepthOffset &&
      start[PngBitDepthOffset] == 16) {
    return DeepFormat::Png16;
  }
  return std::nullopt;
}

bool canUseDeepFormat(DeepFormat format) {
  switch (format) {
    case DeepFormat::Png16: return KEYVALE_HAVE_PNG != 0;
    case DeepFormat::Tiff: return KEYVALE_HAVE_TIFF != 0;
    case DeepFormat::Exr: return KEYVALE_HAVE_EXR != 0;
  }
  return false;
}

std::string deepFormatRefusal(DeepFormat format) {
  return std::string(deepFormatName(format)) + " pictures are not supported by this build of keyvale-cli" +
         (format == DeepFormat::Png16 ? "" : " (it is built without " +
                                                 std::string(format == DeepFormat::Tiff ? "libtiff" : "OpenEXR") + ")");
}

std::unique_ptr<DeepPictureSource> openDeepPicture([[maybe_unused]] const std::string& path, DeepFormat format,
                                                   std::string& error) {
  switch (format) {
#if KEYVALE_HAVE_PNG
    case DeepFormat::Png16: return openPng16(path, error);
#endif
#if KEYVALE_HAVE_TIFF
    case DeepFormat::Tiff: return openTiff(path, error);
#endif
#if KEYVALE_HAVE_EXR
    case DeepFormat::Exr: return openExr(path, error);
#endif
    default: break;
  }
  error = deepFormatRefusal(format);
  return nullptr;
}

std::unique_ptr<DeepPictureSink> makeDeepSink(DeepFormat format, [[maybe_unused]] ExrCompression compression) {
  switch (format) {
#if KEYVALE_HAVE_PNG
    case DeepFormat::Png16: return makePng16Sink();
#endif
#if KEYVALE_HAVE_TIFF
    case DeepFormat::Tiff: return makeTiffSink();
#endif
#if KEYVALE_HAVE_EXR
    case DeepFormat::Exr: return makeExrSink(compression);
#endif
    default: break;
  }
  return nullptr;
}

}  // namespace Kvl
