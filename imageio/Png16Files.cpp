#include "Png16Files.h"

#include <cstdio>
#include <new>
#include <vector>

#include "DeclaredSize.h"
#include "DeepSamples.h"
#include "FileHandle.h"
#include "PngLibrary.h"

namespace Kvl {
namespace {

// Every file as 16-bit RGBA in the machine's byte order, solid where it
// holds no alpha.
bool requestRgba16Guarded(png_structp png, png_infop info) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_palette_to_rgb(png);
  png_set_expand_16(png);
  png_set_gray_to_rgb(png);
  png_set_tRNS_to_alpha(png);
  png_set_add_alpha(png, 0xFFFF, PNG_FILLER_AFTER);
  png_set_swap(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  return true;
}

bool holdsDataFor(const std::string& path, std::uint64_t width, std::uint64_t height, unsigned channels) {
  return fileHoldsDataFor(path.c_str(), width * height, smallestPngBytes(width, height, 16 * channels));
}

Transfer transferOf(png_structp png, png_infop info) {
  png_fixed_point gamma = 0;
  if (!png_get_valid(png, info, PNG_INFO_sRGB) && png_get_gAMA_fixed(png, info, &gamma) && gamma == PNG_GAMMA_LINEAR) {
    return Transfer::Linear;
  }
  return Transfer::Srgb;
}

// Interlaced files need every row in hand, so the whole picture is decoded
// when it is opened, as the 8-bit reader does: 8 bytes a pixel.
class Png16Reader final : public DeepPictureSource {
public:
  bool open(const std::string& path, std::string& error) {
    try {
      return decode(path, error);
    } catch (const std::bad_alloc&) {
      error = "not enough memory for the image";
      return false;
    }
  }

  void readRows(PixelF* out, std::size_t rows) override {
    for (std::size_t i = 0; i < rows * width(); ++i, ++next_) {
      if (next_ >= samples_.size() / 4) {
        out[i] = PixelF{};
        continue;
      }
      const std::uint16_t* s = samples_.data() + next_ * 4;
      out[i] = {fromUint16(s[0]), fromUint16(s[1]), fromUint16(s[2]), fromUint16(s[3])};
    }
  }
  void skipRows(std::uint64_t rows) override { next_ += rows * width(); }
  bool rewind() override {
    next_ = 0;
    return true;
  }
  bool damaged() const override { return false; }

private:
  bool decode(const std::string& path, std::string& error) {
    FileHandle file(path.c_str(), "rb");
    if (!file) return refuse(error, "cannot open for reading");
    PngMessages messages;
    PngStructs reader(messages, PngStructs::Use::Reading);
    if (!reader.ready()) return refuse(error, "not enough memory");
    png_init_io(reader.png(), file.get());
    if (!readInfoGuarded(reader.png(), reader.info())) return refuse(error, messages.error);
    const png_uint_32 w = png_get_image_width(reader.png(), reader.info());
    const png_uint_32 h = png_get_image_height(reader.png(), reader.info());
    if (!deepSizeAllowed(w, h)) return refuse(error, deepSizeRefusal(w, h));
    if (!holdsDataFor(path, w, h, png_get_channels(reader.png(), reader.info()))) {
      return refuse(error, "the file is far too short for a " + std::to_string(w) + " x " + std::to_string(h) +
                               " picture");
    }
    DeepLayout layout;
    layout.alpha = (png_get_color_type(reader.png(), reader.info()) & PNG_COLOR_MASK_ALPHA) != 0 ||
                   png_get_valid(reader.png(), reader.info(), PNG_INFO_tRNS) != 0;
    layout.transfer = transferOf(reader.png(), reader.info());
    if (!requestRgba16Guarded(reader.png(), reader.info())) return refuse(error, messages.error);
    if (png_get_rowbytes(reader.png(), reader.info()) != std::size_t{w} * 8) {
      return refuse(error, "the PNG's rows do not decode to 16-bit RGBA");
    }
    samples_.resize(std::size_t{w} * h * 4);
    std::vector<png_bytep> rows(h);
    for (png_uint_32 y = 0; y < h; ++y) rows[y] = reinterpret_cast<png_bytep>(samples_.data() + std::size_t{y} * w * 4);
    if (!readImageGuarded(reader.png(), rows.data())) return refuse(error, messages.error);
    setShape(w, h, layout);
    return true;
  }

  bool refuse(std::string& error, std::string reason) {
    error = reason.empty() ? "damaged PNG file" : std::move(reason);
    samples_.clear();
    return false;
  }

  std::vector<std::uint16_t> samples_;  // red, green, blue, alpha; top row first
  std::uint64_t next_ = 0;              // in pixels
};

void writeToOutput(png_structp png, png_bytep bytes, png_size_t count) {
  static_cast<TrackedOutput*>(png_get_io_ptr(png))->write(bytes, count);
}
void flushNothing(png_structp) {}

bool writeHeaderGuarded(png_structp png, png_infop info, png_uint_32 width, png_uint_32 height, bool alpha) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_IHDR(png, info, width, height, 16, alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 3);  // as the 8-bit writer's default: far faster, hardly larger
  png_write_info(png, info);
  png_set_swap(png);
  return true;
}

bool writeRowGuarded(png_structp png, png_bytep row) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_write_row(png, row);
  return true;
}

bool writeEndGuarded(png_structp png, png_infop info) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_write_end(png, info);
  return true;
}

class Png16Sink final : public DeepPictureSink {
public:
  bool open(const std::string& path, std::uint32_t width, std::uint32_t height, const DeepLayout& layout) override {
    if (!deepSizeAllowed(width, height)) return fail(deepSizeRefusal(width, height));
    output_ = std::make_unique<TrackedOutput>(path);
    if (!output_->open()) return fail("cannot open for writing");
    structs_ = std::make_unique<PngStructs>(messages_, PngStructs::Use::Writing);
    if (!structs_->ready()) return fail("not enough memory");
    png_set_write_fn(structs_->png(), output_.get(), writeToOutput, flushNothing);
    width_ = width;
    height_ = height;
    alpha_ = layout.alpha;
    if (!writeHeaderGuarded(structs_->png(), structs_->info(), width, height, alpha_)) return fail(messages_.error);
    row_.resize(std::size_t{width} * (alpha_ ? 4 : 3));
    return true;
  }

  void writeRows(const PixelF* rows, std::size_t count) override {
    for (std::size_t r = 0; r < count && !failed_; ++r, ++next_) {
      const PixelF* line = rows + r * width_;
      std::size_t at = 0;
      for (std::size_t x = 0; x < width_; ++x) {
        row_[at++] = toUint16(line[x].red);
        row_[at++] = toUint16(line[x].green);
        row_[at++] = toUint16(line[x].blue);
        if (alpha_) row_[at++] = toUint16(line[x].alpha);
      }
      failed_ = !writeRowGuarded(structs_->png(), reinterpret_cast<png_bytep>(row_.data()));
    }
  }

  bool commit() override {
    if (!structs_) return fail("cannot open for writing");
    if (failed_ || next_ != height_ || !writeEndGuarded(structs_->png(), structs_->info())) {
      return fail("writing failed" + (messages_.error.empty() ? std::string() : ": " + messages_.error));
    }
    structs_.reset();
    if (!output_->commit()) return fail("writing failed (disk full or not writable)");
    return true;
  }

private:
  PngMessages messages_;
  std::unique_ptr<TrackedOutput> output_;
  std::unique_ptr<PngStructs> structs_;
  std::uint32_t width_ = 0, height_ = 0, next_ = 0;
  bool alpha_ = true;
  bool failed_ = false;
  std::vector<std::uint16_t> row_;
};

}  // namespace

std::unique_ptr<DeepPictureSource> openPng16(const std::string& path, std::string& error) {
  auto reader = std::make_unique<Png16Reader>();
  if (reader->open(path, error)) return reader;
  return nullptr;
}

std::unique_ptr<DeepPictureSink> makePng16Sink() { return std::make_unique<Png16Sink>(); }

}  // namespace Kvl
