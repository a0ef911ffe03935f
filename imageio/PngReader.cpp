#include "PngReader.h"

#include <png.h>

#include <bit>
#include <cstdio>
#include <new>
#include <vector>

#include "ByteSource.h"
#include "DeclaredSize.h"
#include "FileHandle.h"

namespace Kvl {
namespace {

static_assert(std::endian::native == std::endian::little,
              "rows are decoded as blue, green, red, 0: a Pixel32 in memory");

// Where libpng's complaints go instead of stderr: the first error message
// is kept for the user, warnings are dropped.
struct PngReadContext {
  std::string message;
};

[[noreturn]] void onPngError(png_structp png, png_const_charp message) {
  static_cast<PngReadContext*>(png_get_error_ptr(png))->message = message;
  png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

// Sizes stay within signed 32 bits, as the whole-picture record holds them.
constexpr png_uint_32 MaximumSide = 0x7FFFFFFF;

// libpng reports errors by jumping back here. Each guarded step keeps the
// jump inside one small function whose locals are all trivial, so no C++
// destructor is ever skipped.
bool readInfoGuarded(png_structp png, png_infop info) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_info(png, info);
  return true;
}

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

bool readImageGuarded(png_structp png, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  png_read_end(png, nullptr);
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

// Whether the file is long enough for a picture of `pixelCount` pixels
// whose smallest encoding is `smallestEncodingBytes` (true when the file
// cannot be measured, such as a pipe).
bool fileHoldsDataFor(const char* path, std::uint64_t pixelCount, std::uint64_t smallestEncodingBytes) {
  const std::uint64_t required = requiredDataBytes(pixelCount, smallestEncodingBytes);
  if (required == 0) return true;
  FileByteSource file(path);
  return file.isOpen() && file.holds(required);
}

bool hasPngSignature(std::FILE* file) {
  png_byte signature[8] = {};
  if (std::fread(signature, 1, sizeof signature, file) != sizeof signature) return false;
  return png_sig_cmp(signature, 0, sizeof signature) == 0;
}

class PngReadStruct {
public:
  explicit PngReadStruct(PngReadContext& context) {
    png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, &context, onPngError, onPngWarning);
    if (png_ != nullptr) info_ = png_create_info_struct(png_);
  }
  ~PngReadStruct() { png_destroy_read_struct(&png_, info_ != nullptr ? &info_ : nullptr, nullptr); }
  PngReadStruct(const PngReadStruct&) = delete;
  PngReadStruct& operator=(const PngReadStruct&) = delete;

  bool ready() const { return png_ != nullptr && info_ != nullptr; }
  png_structp png() const { return png_; }
  png_infop info() const { return info_; }

private:
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

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
  PngReadContext context;
  PngReadStruct reader(context);
  if (!reader.ready()) return fail(LoadError::OutOfMemory);
  png_init_io(reader.png(), file.get());
  png_set_sig_bytes(reader.png(), 8);
  if (!readInfoGuarded(reader.png(), reader.info())) return fail(LoadError::Damaged, 0, 0, context.message);
  const auto fileBits = png_get_bit_depth(reader.png(), reader.info()) *
                        png_get_channels(reader.png(), reader.info());
  const std::uint64_t declaredWidth = png_get_image_width(reader.png(), reader.info());
  const std::uint64_t declaredHeight = png_get_image_height(reader.png(), reader.info());
  if (!fileHoldsDataFor(path, declaredWidth * declaredHeight,
                        smallestPngBytes(declaredWidth, declaredHeight, static_cast<unsigned>(fileBits)))) {
    return fail(LoadError::TooLittleData, declaredWidth, declaredHeight);
  }
  if (!requestBgrAlphaGuarded(reader.png(), reader.info(), alpha_ == AlphaReading::Kept)) {
    return fail(LoadError::Damaged, 0, 0, context.message);
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
    return fail(LoadError::Damaged, 0, 0, context.message);
  }
  keep(std::move(decoded), pngWidth, pngHeight, false);
  return true;
}

}  // namespace Kvl
