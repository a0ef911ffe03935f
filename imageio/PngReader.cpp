#include "PngReader.h"

#include <bit>
#include <cstdio>
#include <new>
#include <vector>

#include "DeclaredSize.h"
#include "FileHandle.h"
#include "PngLibrary.h"

namespace Kvl {
namespace {

static_assert(std::endian::native == std::endian::little,
              "rows are decoded as blue, green, red, 0: a Pixel32 in memory");

// Sizes stay within signed 32 bits, as the whole-picture record holds them.
constexpr png_uint_32 MaximumSide = 0x7FFFFFFF;

// The picture's own alpha (and palette transparency) is dropped, as the
// Targa reader drops a 32-bit file's alpha: the key computes its own. Kept,
// a picture without alpha reads as solid.
bool requestBgrAlphaGuarded(png_structp png, png_infop info, bool keepAlpha) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_palette_to_rgb(png);
  png_set_expand_gray_1_2_4_to_8(png);
  png_set_gray_to_rgb(png);
  png_set_scale_16(png);  // 16-bit samples rounded to the nearest 8-bit value
  if (keepAlpha) {
    png_set_tRNS_to_alpha(png);
  } else {
    png_set_strip_alpha(png);
  }
  png_set_bgr(png);
  png_set_filler(png, keepAlpha ? 0xFF : 0, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  return true;
}

// Interlaced files need every row in hand, so the whole picture is decoded.
bool readAllRows(png_structp png, Pixel32* pixels, png_uint_32 width, png_uint_32 height) {
  std::vector<png_bytep> rows(height);
  for (png_uint_32 row = 0; row < height; ++row) {
    rows[row] = reinterpret_cast<png_bytep>(pixels + std::size_t{row} * width);
  }
  return readImageGuarded(png, rows.data());
}

bool hasPngSignature(std::FILE* file) {
  png_byte signature[8] = {};
  if (std::fread(signature, 1, sizeof signature, file) != sizeof signature) return false;
  return png_sig_cmp(signature, 0, sizeof signature) == 0;
}

}  // namespace

bool PngReader::open(const char* path) {
  try {
    return openFile(path);
  } catch (const std::bad_alloc&) {
    return fail(LoadError::OutOfMemory);
  }
}

bool PngReader::openFile(const char* path) {
  FileHandle file(path, "rb");
  if (!file) return fail(LoadError::CannotOpen);
  if (!hasPngSignature(file.get())) return fail(LoadError::NotPng);
  PngMessages messages;
  PngStructs reader(messages, PngStructs::Use::Reading);
  if (!reader.ready()) return fail(LoadError::OutOfMemory);
  png_init_io(reader.png(), file.get());
  png_set_sig_bytes(reader.png(), 8);
  if (!readInfoGuarded(reader.png(), reader.info())) return fail(LoadError::Damaged, 0, 0, messages.error);
  const auto fileBits = png_get_bit_depth(reader.png(), reader.info()) *
                        png_get_channels(reader.png(), reader.info());
  const std::uint64_t declaredWidth = png_get_image_width(reader.png(), reader.info());
  const std::uint64_t declaredHeight = png_get_image_height(reader.png(), reader.info());
  if (!fileHoldsDataFor(path, declaredWidth * declaredHeight,
                        smallestPngBytes(declaredWidth, declaredHeight, static_cast<unsigned>(fileBits)))) {
    return fail(LoadError::TooLittleData, declaredWidth, declaredHeight);
  }
  if (!requestBgrAlphaGuarded(reader.png(), reader.info(), alpha_ == AlphaReading::Kept)) {
    return fail(LoadError::Damaged, 0, 0, messages.error);
  }
  const png_uint_32 pngWidth = png_get_image_width(reader.png(), reader.info());
  const png_uint_32 pngHeight = png_get_image_height(reader.png(), reader.info());
  if (png_get_rowbytes(reader.png(), reader.info()) != std::size_t{pngWidth} * sizeof(Pixel32)) {
    return fail(LoadError::LayoutRefused);
  }
  const std::size_t count = addressablePixelCount(pngWidth, pngHeight);
  if (count == 0 || pngWidth > MaximumSide || pngHeight > MaximumSide) {
    return fail(LoadError::TooLarge, pngWidth, pngHeight);
  }
  std::unique_ptr<Pixel32[]> decoded(new (std::nothrow) Pixel32[count]);
  if (!decoded) return fail(LoadError::OutOfMemory);
  if (!readAllRows(reader.png(), decoded.get(), pngWidth, pngHeight)) {
    return fail(LoadError::Damaged, 0, 0, messages.error);
  }
  keep(std::move(decoded), pngWidth, pngHeight, false);
  return true;
}

}  // namespace Kvl
