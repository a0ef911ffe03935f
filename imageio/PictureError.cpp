#include "PictureError.h"

namespace Kvl {
namespace {

const char* formatName(PictureFormat format) {
  switch (format) {
    case PictureFormat::Targa: return "Targa";
    case PictureFormat::Png: return "PNG";
    case PictureFormat::Jpeg: return "JPEG";
    case PictureFormat::Other: return "picture";
  }
  return "picture";
}

std::string sizeText(const PictureError& error) {
  return std::to_string(error.width) + " x " + std::to_string(error.height);
}

// The texts that differ from one format to another.
std::string describeTooLarge(const PictureError& error) {
  // libjpeg reports its own size limits before ours, so the JPEG text never named a size.
  if (error.format == PictureFormat::Jpeg) return "image too large";
  return "image too large (" + sizeText(error) + ")";
}

std::string describeTooLittleData(const PictureError& error) {
  const char* data = error.format == PictureFormat::Targa ? "pixel data" : "data";
  return std::string("file holds far too little ") + data + " for its declared size (" + sizeText(error) + ")";
}

std::string describeDamaged(const PictureError& error) {
  return std::string("damaged ") + formatName(error.format) + " file: " + error.detail;
}

}  // namespace

std::string describe(const PictureError& error) {
  switch (error.reason) {
    case LoadError::None: return "read";
    case LoadError::CannotOpen: return "cannot open for reading";
    case LoadError::TooShort: return "too short to be a Targa file";
    case LoadError::TypeRefused:
      return "not a true-colour Targa file (image type " + std::to_string(error.imageType) + ")";
    case LoadError::DepthRefused: return "unsupported pixel depth " + std::to_string(error.bitsPerPixel);
    case LoadError::TooLarge: return describeTooLarge(error);
    case LoadError::OutOfMemory: return "not enough memory for the image";
    case LoadError::TooLittleData: return describeTooLittleData(error);
    case LoadError::NotInThisBuild:
      return std::string(formatName(error.format)) +
             " files are not supported by this build of keyvale-cli (Targa only)";
    case LoadError::NotPng: return "not a PNG file";
    case LoadError::Damaged: return describeDamaged(error);
    case LoadError::LayoutRefused: return "unsupported PNG layout";
    case LoadError::ColourSpaceRefused: return "unsupported JPEG colour space (CMYK)";
    case LoadError::TooManyScans: return "unsupported JPEG file: more than " + std::to_string(MaximumJpegScans) + " scans";
  }
  return "unknown error";
}

}  // namespace Kvl
