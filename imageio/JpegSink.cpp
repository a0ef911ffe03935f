#include "JpegSink.h"

// jpeglib.h expects size_t and FILE to be declared before it.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <algorithm>
#include <bit>
#include <csetjmp>
#include <cstdlib>
#include <limits>

namespace Kvl {
namespace {

static_assert(std::endian::native == std::endian::little,
              "rows are encoded from blue, green, red, x: a Pixel32 in memory");

// libjpeg writes no side longer than 65500 pixels.
constexpr std::uint64_t LargestJpegSide = 65500;

struct JpegErrors {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

[[noreturn]] void onJpegError(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}

// The whole compression runs in this one frame, whose locals are all
// trivial, so the jump back on a libjpeg error skips no C++ destructor.
bool compressGuarded(jpeg_compress_struct* jpeg, JpegErrors* errors, const Pixel32* pixels, std::size_t width,
                     std::size_t height, int quality, bool fullChroma, unsigned char** bytes, unsigned long* size) {
  if (setjmp(errors->jump)) return false;
  jpeg_CreateCompress(jpeg, JPEG_LIB_VERSION, sizeof *jpeg);
  jpeg_mem_dest(jpeg, bytes, size);
  jpeg->image_width = static_cast<JDIMENSION>(width);
  jpeg->image_height = static_cast<JDIMENSION>(height);
  jpeg->input_components = 4;
  jpeg->in_color_space = JCS_EXT_BGRX;  // a Pixel32 in memory; the alpha byte is passed over
  jpeg_set_defaults(jpeg);
  jpeg_set_quality(jpeg, quality, TRUE);
  // The defaults halve the colour's resolution each way (4:2:0).
  for (int component = 0; fullChroma && component < jpeg->num_components; ++component) {
    jpeg->comp_info[component].h_samp_factor = 1;
    jpeg->comp_info[component].v_samp_factor = 1;
  }
  jpeg_start_compress(jpeg, TRUE);
  while (jpeg->next_scanline < jpeg->image_height) {
    // Held bottom-up: the file's first (top) row is the last held.
    const Pixel32* row = pixels + (height - 1 - jpeg->next_scanline) * width;
    auto* line = reinterpret_cast<JSAMPROW>(const_cast<Pixel32*>(row));
    jpeg_write_scanlines(jpeg, &line, 1);
  }
  jpeg_finish_compress(jpeg);
  return true;
}

}  // namespace

bool JpegSink::open(const std::string& path, std::uint64_t width, std::uint64_t height, RowOrder) {
  if (width > LargestJpegSide || height > LargestJpegSide) {
    return fail("a JPEG file cannot hold a " + std::to_string(width) + " x " + std::to_string(height) +
                " picture; use --format png");
  }
  if (width == 0 || height == 0) return fail("a JPEG file cannot hold an empty picture");
  output_ = std::make_unique<ReplacingFile>(path);
  if (!output_->open()) return fail("cannot open for writing");
  width_ = static_cast<std::size_t>(width);
  height_ = static_cast<std::size_t>(height);
  pixels_.assign(width_ * height_, 0);
  return true;
}

void JpegSink::writeRows(std::uint64_t firstRow, const Pixel32* rows, std::size_t count) {
  std::copy_n(rows, count * width_, pixels_.begin() + static_cast<std::ptrdiff_t>(firstRow * width_));
}

bool JpegSink::commit() {
  if (!output_) return fail("cannot open for writing");
  jpeg_compress_struct jpeg{};
  JpegErrors errors{};
  jpeg.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = onJpegError;
  unsigned char* bytes = nullptr;
  unsigned long size = 0;
  const bool compressed = compressGuarded(&jpeg, &errors, pixels_.data(), width_, height_, quality_,
                                          chroma_ == Chroma::Full, &bytes, &size);
  jpeg_destroy_compress(&jpeg);
  if (compressed) output_->write(bytes, size);
  std::free(bytes);  // jpeg_mem_dest's buffer is the library's malloc
  if (!compressed) return fail("cannot encode the picture as JPEG");
  if (!output_->commit()) return fail("writing failed (disk full or not writable)");
  return true;
}

}  // namespace Kvl
