#include "Picture.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "FileHandle.h"
#if KEYVALE_HAVE_PNG
#include "PngLoader.h"
#endif
#if KEYVALE_HAVE_JPEG
#include "JpegLoader.h"
#endif

namespace Kvl::Cli {

const char* const TruncatedTargaWarning = "file is truncated; missing pixels are keyed as black";

namespace {

// A Targa file cannot start with either signature and still be accepted:
// its third byte would be image type 0x4E (PNG) or 0xFF (JPEG).
constexpr std::array<std::uint8_t, 8> PngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::array<std::uint8_t, 3> JpegSignature = {0xFF, 0xD8, 0xFF};  // start of image, marker

[[maybe_unused]] std::string unsupportedFormat(const char* name) {
  return std::string(name) + " files are not supported by this build of keyvale-cli (Targa only)";
}

LoadedPicture loadTarga(const std::string& path) {
  LoadedPicture result;
  auto loader = std::make_unique<TgaLoader>();
  if (!loader->load(path.c_str())) {
    result.error = describeLoadError(loader->error(), loader->header());
    return result;
  }
  if (loader->truncated()) result.warning = TruncatedTargaWarning;
  result.image = std::move(loader);
  return result;
}

LoadedPicture loadPng([[maybe_unused]] const std::string& path) {
  LoadedPicture result;
#if KEYVALE_HAVE_PNG
  auto loader = std::make_unique<PngLoader>();
  if (loader->load(path.c_str())) result.image = std::move(loader);
  else result.error = loader->error();
#else
  result.error = unsupportedFormat("PNG");
#endif
  return result;
}

LoadedPicture loadJpeg([[maybe_unused]] const std::string& path) {
  LoadedPicture result;
#if KEYVALE_HAVE_JPEG
  auto loader = std::make_unique<JpegLoader>();
  if (!loader->load(path.c_str())) {
    result.error = loader->error();
    return result;
  }
  if (loader->damaged()) result.warning = "file is damaged or truncated; keyed as far as it decodes";
  result.image = std::move(loader);
#else
  result.error = unsupportedFormat("JPEG");
#endif
  return result;
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

LoadedPicture loadPicture(const std::string& path, PictureFormat format) {
  switch (format) {
    case PictureFormat::Targa: return loadTarga(path);
    case PictureFormat::Png: return loadPng(path);
    case PictureFormat::Jpeg: return loadJpeg(path);
  }
  return {};
}

}  // namespace Kvl::Cli
