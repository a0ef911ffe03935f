#include "JpegReader.h"

// jpeglib.h expects size_t and FILE to be declared before it.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <bit>
#include <csetjmp>
#include <new>
#include <vector>

#include "DeclaredSize.h"
#include "FileHandle.h"

namespace Kvl {
namespace {

static_assert(std::endian::native == std::endian::little,
              "rows are decoded as blue, green, red, x: a Pixel32 in memory");

// libjpeg's error manager, extended with where to jump back to and the
// first message, so nothing is printed on stderr and nothing exits.
struct JpegErrors {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  bool tooManyScans;
};

[[noreturn]] void onJpegError(j_common_ptr info) {
  auto* errors = reinterpret_cast<JpegErrors*>(info->err);
  errors->manager.format_message(info, errors->message);
  std::longjmp(errors->jump, 1);
}

void onJpegMessage(j_common_ptr) {}  // warnings are counted, not printed

// Called by libjpeg as it works through the file, from inside a guarded
// step, so failing here jumps back just as a libjpeg error does.
void onJpegProgress(j_common_ptr info) {
  auto* jpeg = reinterpret_cast<j_decompress_ptr>(info);
  if (jpeg->input_scan_number <= MaximumJpegScans) return;
  auto* errors = reinterpret_cast<JpegErrors*>(info->err);
  errors->tooManyScans = true;
  std::longjmp(errors->jump, 1);
}

// Every libjpeg call that may fail runs inside one of these small functions:
// the jump back lands in a frame whose locals are all trivial, so no C++
// destructor is ever skipped.
// Fails only when the library's memory manager cannot start.
bool createGuarded(jpeg_decompress_struct* jpeg, JpegErrors* errors) {
  if (setjmp(errors->jump)) return false;
  jpeg_CreateDecompress(jpeg, JPEG_LIB_VERSION, sizeof *jpeg);
  return true;
}

// The memory source refuses an empty buffer with an error of its own.
bool readHeaderGuarded(jpeg_decompress_struct* jpeg, JpegErrors* errors, const unsigned char* bytes,
                       std::size_t size) {
  if (setjmp(errors->jump)) return false;
  jpeg_mem_src(jpeg, bytes, size);
  jpeg_read_header(jpeg, TRUE);
  return true;
}

bool startGuarded(jpeg_decompress_struct* jpeg, JpegErrors* errors) {
  if (setjmp(errors->jump)) return false;
  jpeg->out_color_space = JCS_EXT_BGRX;  // blue, green, red, filler: a Pixel32 in memory
  jpeg_start_decompress(jpeg);
  return true;
}

bool readRowsGuarded(jpeg_decompress_struct* jpeg, JpegErrors* errors, Pixel32* pixels) {
  if (setjmp(errors->jump)) return false;
  const JDIMENSION width = jpeg->output_width;
  const JDIMENSION height = jpeg->output_height;
  while (jpeg->output_scanline < height) {
    JSAMPROW row = reinterpret_cast<JSAMPROW>(
        pixels + std::size_t{jpeg->output_scanline} * width);
    jpeg_read_scanlines(jpeg, &row, 1);
  }
  jpeg_finish_decompress(jpeg);
  return true;
}

void clearAlpha(Pixel32* pixels, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) pixels[i] &= 0x00FFFFFFu;
}

bool isColourSpaceDecodable(J_COLOR_SPACE space) {
  return space == JCS_GRAYSCALE || space == JCS_RGB || space == JCS_YCbCr;
}

// The whole file, in memory: libjpeg's stdio source goes back to the system
// for more at every request once the data has ended, thousands of times
// for a truncated picture, where the memory source hands over its end mark.
bool readWholeFile(const char* path, std::vector<unsigned char>& bytes) {
  FileHandle file(path, "rb");
  if (!file) return false;
  std::size_t used = 0;
  for (std::size_t capacity = std::size_t{64} << 10;; capacity *= 2) {
    bytes.resize(capacity);
    used += std::fread(bytes.data() + used, 1, capacity - used, file.get());
    if (used < capacity) break;
  }
  bytes.resize(used);
  return std::ferror(file.get()) == 0;
}

class JpegDecompress {
public:
  JpegDecompress() {
    jpeg_.err = jpeg_std_error(&errors_.manager);
    errors_.manager.error_exit = onJpegError;
    errors_.manager.output_message = onJpegMessage;
    errors_.message[0] = '\0';
    progress_.progress_monitor = onJpegProgress;
    created_ = createGuarded(&jpeg_, &errors_);
    jpeg_.progress = &progress_;
  }
  ~JpegDecompress() { jpeg_destroy_decompress(&jpeg_); }
  JpegDecompress(const JpegDecompress&) = delete;
  JpegDecompress& operator=(const JpegDecompress&) = delete;

  bool created() const { return created_; }
  jpeg_decompress_struct* get() { return &jpeg_; }
  JpegErrors* errors() { return &errors_; }
  // Why decoding stopped.
  LoadError failure() const { return errors_.tooManyScans ? LoadError::TooManyScans : LoadError::Damaged; }
  const char* message() const { return errors_.message; }
  bool warned() const { return errors_.manager.num_warnings > 0; }

private:
  JpegErrors errors_{};
  jpeg_progress_mgr progress_{};
  jpeg_decompress_struct jpeg_{};
  bool created_ = false;
};

}  // namespace

bool JpegReader::open(const char* path) {
  try {
    return openFile(path);
  } catch (const std::bad_alloc&) {
    return fail(LoadError::OutOfMemory);
  }
}

bool JpegReader::openFile(const char* path) {
  std::vector<unsigned char> bytes;
  if (!readWholeFile(path, bytes)) return fail(LoadError::CannotOpen);
  JpegDecompress decompress;
  if (!decompress.created()) return fail(LoadError::OutOfMemory);
  jpeg_decompress_struct* jpeg = decompress.get();
  if (!readHeaderGuarded(jpeg, decompress.errors(), bytes.data(), bytes.size())) {
    return fail(decompress.failure(), 0, 0, decompress.message());
  }
  if (!isColourSpaceDecodable(jpeg->jpeg_color_space)) return fail(LoadError::ColourSpaceRefused);
  const std::uint64_t declaredWidth = jpeg->image_width;
  const std::uint64_t declaredHeight = jpeg->image_height;
  if (requiredDataBytes(declaredWidth * declaredHeight, smallestJpegBytes(declaredWidth, declaredHeight)) >
      bytes.size()) {
    return fail(LoadError::TooLittleData, declaredWidth, declaredHeight);
  }
  if (!startGuarded(jpeg, decompress.errors())) return fail(decompress.failure(), 0, 0, decompress.message());
  const std::size_t count = addressablePixelCount(jpeg->output_width, jpeg->output_height);
  if (count == 0) return fail(LoadError::TooLarge);
  std::unique_ptr<Pixel32[]> decoded(new (std::nothrow) Pixel32[count]);
  if (!decoded) return fail(LoadError::OutOfMemory);
  if (!readRowsGuarded(jpeg, decompress.errors(), decoded.get())) {
    return fail(decompress.failure(), 0, 0, decompress.message());
  }
  clearAlpha(decoded.get(), count);
  keep(std::move(decoded), jpeg->output_width, jpeg->output_height, decompress.warned());
  return true;
}

}  // namespace Kvl
