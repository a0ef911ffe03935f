#include "JpegReader.h"

// jpeglib.h expects size_t and FILE to be declared before it.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <bit>
#include <csetjmp>
#include <iterator>
#include <new>
#include <vector>

#include "DeclaredSize.h"
#include "FileHandle.h"
#include "LumaGuidedChroma.h"

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

// Luma and two colour components, which the colour steps below are about.
bool hasYccColour(const jpeg_decompress_struct& jpeg) {
  return jpeg.jpeg_color_space == JCS_YCbCr && jpeg.num_components == 3;
}

// The size of the blocks over which a YCbCr file stores one colour sample;
// 1 x 1 for any other file, and for samplings (4:1:1 and rarer) that
// libjpeg's own upsampling is left to.
struct ColourBlocks {
  int width = 1;
  int height = 1;
  bool reduced() const { return width * height > 1; }
};

ColourBlocks colourBlocks(const jpeg_decompress_struct& jpeg) {
  if (!hasYccColour(jpeg)) return {};
  const jpeg_component_info* luma = &jpeg.comp_info[0];
  const jpeg_component_info* cb = &jpeg.comp_info[1];
  const jpeg_component_info* cr = &jpeg.comp_info[2];
  if (cb->h_samp_factor != cr->h_samp_factor || cb->v_samp_factor != cr->v_samp_factor) return {};
  if (cb->h_samp_factor <= 0 || cb->v_samp_factor <= 0) return {};
  if (luma->h_samp_factor % cb->h_samp_factor != 0 || luma->v_samp_factor % cb->v_samp_factor != 0) return {};
  const ColourBlocks blocks{luma->h_samp_factor / cb->h_samp_factor, luma->v_samp_factor / cb->v_samp_factor};
  const bool lumaIsFinest = luma->h_samp_factor == jpeg.max_h_samp_factor && luma->v_samp_factor == jpeg.max_v_samp_factor;
  if (!lumaIsFinest || blocks.width > 2 || blocks.height > 2) return {};
  return blocks;
}

// The mean quantisation step of the five lowest-frequency AC coefficients
// of the colour (Cb) table; 0 for a file without colour. libjpeg keeps the
// table in natural (row by row) order.
float colourStepOf(const jpeg_decompress_struct& jpeg) {
  if (!hasYccColour(jpeg)) return 0;
  const int table = jpeg.comp_info[1].quant_tbl_no;
  if (table < 0 || table >= NUM_QUANT_TBLS || jpeg.quant_tbl_ptrs[table] == nullptr) return 0;
  const UINT16* steps = jpeg.quant_tbl_ptrs[table]->quantval;
  constexpr int LowestFrequencies[] = {1, 8, 9, 2, 16};
  float sum = 0;
  for (int index : LowestFrequencies) sum += steps[index];
  return sum / static_cast<float>(std::size(LowestFrequencies));
}

// With `ycc`, rows come out as luma, Cb, Cr, each colour sample repeated
// over its block, for the colour to be rebuilt guided by the luma.
bool startGuarded(jpeg_decompress_struct* jpeg, JpegErrors* errors, bool ycc) {
  if (setjmp(errors->jump)) return false;
  if (ycc) {
    jpeg->out_color_space = JCS_YCbCr;
    jpeg->do_fancy_upsampling = FALSE;
  } else {
    jpeg->out_color_space = JCS_EXT_BGRX;  // blue, green, red, filler: a Pixel32 in memory
  }
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

// Rows of luma, Cb, Cr, three bytes a pixel, each packed into a Pixel32's
// first three bytes.
bool readYccRowsGuarded(jpeg_decompress_struct* jpeg, JpegErrors* errors, Pixel32* pixels, JSAMPLE* rowBuffer) {
  if (setjmp(errors->jump)) return false;
  const JDIMENSION width = jpeg->output_width;
  const JDIMENSION height = jpeg->output_height;
  while (jpeg->output_scanline < height) {
    Pixel32* out = pixels + std::size_t{jpeg->output_scanline} * width;
    JSAMPROW row = rowBuffer;
    jpeg_read_scanlines(jpeg, &row, 1);
    for (JDIMENSION x = 0; x < width; ++x) {
      const JSAMPLE* ycc = rowBuffer + std::size_t{x} * 3;
      out[x] = Pixel32{ycc[0]} | Pixel32{ycc[1]} << 8 | Pixel32{ycc[2]} << 16;
    }
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
  const float colourStep = colourStepOf(*jpeg);  // read before decoding, which may reuse the tables
  const std::uint64_t declaredWidth = jpeg->image_width;
  const std::uint64_t declaredHeight = jpeg->image_height;
  if (requiredDataBytes(declaredWidth * declaredHeight, smallestJpegBytes(declaredWidth, declaredHeight)) >
      bytes.size()) {
    return fail(LoadError::TooLittleData, declaredWidth, declaredHeight);
  }
  const ColourBlocks blocks = chroma_ == ChromaUpsampling::LumaGuided ? colourBlocks(*jpeg) : ColourBlocks{};
  if (!startGuarded(jpeg, decompress.errors(), blocks.reduced())) {
    return fail(decompress.failure(), 0, 0, decompress.message());
  }
  const std::size_t count = addressablePixelCount(jpeg->output_width, jpeg->output_height);
  if (count == 0) return fail(LoadError::TooLarge);
  std::unique_ptr<Pixel32[]> decoded(new (std::nothrow) Pixel32[count]);
  if (!decoded) return fail(LoadError::OutOfMemory);
  if (blocks.reduced()) {
    std::vector<JSAMPLE> rowBuffer(std::size_t{jpeg->output_width} * 3);
    if (!readYccRowsGuarded(jpeg, decompress.errors(), decoded.get(), rowBuffer.data())) {
      return fail(decompress.failure(), 0, 0, decompress.message());
    }
    rebuildColourFromLuma(decoded.get(), jpeg->output_width, jpeg->output_height, blocks.width, blocks.height);
  } else {
    if (!readRowsGuarded(jpeg, decompress.errors(), decoded.get())) {
      return fail(decompress.failure(), 0, 0, decompress.message());
    }
    clearAlpha(decoded.get(), count);
  }
  keep(std::move(decoded), jpeg->output_width, jpeg->output_height, decompress.warned());
  setColourQuantisation(colourStep);
  return true;
}

}  // namespace Kvl
