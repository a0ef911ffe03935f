#include "PngLibrary.h"

#include "ByteSource.h"
#include "DeclaredSize.h"

namespace Kvl {
namespace {

[[noreturn]] void onPngError(png_structp png, png_const_charp message) {
  static_cast<PngMessages*>(png_get_error_ptr(png))->error = message;
  png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

}  // namespace

PngStructs::PngStructs(PngMessages& messages, Use use) : use_(use) {
  png_ = use == Use::Reading ? png_create_read_struct(PNG_LIBPNG_VER_STRING, &messages, onPngError, onPngWarning)
                             : png_create_write_struct(PNG_LIBPNG_VER_STRING, &messages, onPngError, onPngWarning);
  if (png_ != nullptr) info_ = png_create_info_struct(png_);
}

PngStructs::~PngStructs() {
  if (use_ == Use::Reading) {
    png_destroy_read_struct(&png_, info_ != nullptr ? &info_ : nullptr, nullptr);
  } else {
    png_destroy_write_struct(&png_, info_ != nullptr ? &info_ : nullptr);
  }
}

bool readInfoGuarded(png_structp png, png_infop info) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_info(png, info);
  return true;
}

bool readImageGuarded(png_structp png, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  png_read_end(png, nullptr);
  return true;
}

bool fileHoldsDataFor(const char* path, std::uint64_t pixelCount, std::uint64_t smallestEncodingBytes) {
  const std::uint64_t required = requiredDataBytes(pixelCount, smallestEncodingBytes);
  if (required == 0) return true;
  FileByteSource file(path);
  return file.isOpen() && file.holds(required);
}

}  // namespace Kvl
