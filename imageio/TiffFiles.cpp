#include "TiffFiles.h"

#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "DeepSamples.h"

namespace Kvl {
namespace {

// Where libtiff's complaints go instead of stderr: the first error is kept
// for the user, warnings are dropped.
int keepFirstError(TIFF*, void* userData, const char* module, const char* format, va_list arguments) {
  auto& message = *static_cast<std::string*>(userData);
  if (message.empty()) {
    char text[256];
    std::vsnprintf(text, sizeof text, format, arguments);
    message = std::string(module != nullptr ? module : "libtiff") + ": " + text;
  }
  return 1;  // handled: nothing reaches the global handler
}

int dropWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// libtiff's own limit on one allocation, so that a header declaring a vast
// strip is refused rather than allocated.
constexpr tmsize_t LargestAllocation = tmsize_t{256} << 20;

TIFFOpenOptions* optionsFor(std::string& message) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == nullptr) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options, keepFirstError, &message);
  TIFFOpenOptionsSetWarningHandlerExtR(options, dropWarning, nullptr);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, LargestAllocation);
  return options;
}

struct TiffCloser {
  void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

TiffHandle openTiffFile(const std::string& path, const char* mode, std::string& message) {
  TIFFOpenOptions* options = optionsFor(message);
  if (options == nullptr) return nullptr;
  TiffHandle tiff(TIFFOpenExt(path.c_str(), mode, options));
  TIFFOpenOptionsFree(options);
  return tiff;
}

// What the reader needs of the file's fields.
struct TiffShape {
  std::uint32_t width = 0, height = 0;
  std::uint16_t bits = 0, samplesPerPixel = 0, format = SAMPLEFORMAT_UINT, photometric = 0, planar = 0;
  std::uint16_t extraCount = 0;
  const std::uint16_t* extra = nullptr;
};

TiffShape shapeOf(TIFF* tiff) {
  TiffShape shape;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &shape.width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &shape.height);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &shape.bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &shape.samplesPerPixel);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &shape.format);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &shape.planar);
  if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &shape.photometric)) shape.photometric = 0xFFFF;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &shape.extraCount, &shape.extra);
  return shape;
}

// Nothing when the file can be read; else why not.
std::string refusalOf(TIFF* tiff, const TiffShape& shape) {
  if (TIFFIsTiled(tiff)) return "a tiled TIFF is not read; save it in strips";
  if (!deepSizeAllowed(shape.width, shape.height)) return deepSizeRefusal(shape.width, shape.height);
  if (shape.photometric != PHOTOMETRIC_RGB && shape.photometric != PHOTOMETRIC_MINISBLACK) {
    return "only RGB and grey TIFF pictures are read (photometric " + std::to_string(shape.photometric) + ")";
  }
  const bool integer = shape.format == SAMPLEFORMAT_UINT && (shape.bits == 8 || shape.bits == 16);
  const bool floating = shape.format == SAMPLEFORMAT_IEEEFP && shape.bits == 32;
  if (!integer && !floating) {
    return "only 8- and 16-bit unsigned and 32-bit float samples are read (" + std::to_string(shape.bits) + "-bit)";
  }
  const std::uint16_t colours = shape.photometric == PHOTOMETRIC_RGB ? 3 : 1;
  if (shape.samplesPerPixel < colours || shape.samplesPerPixel > colours + 1) {
    return "a TIFF of " + std::to_string(shape.samplesPerPixel) + " samples per pixel is not read";
  }
  if (shape.planar != PLANARCONFIG_CONTIG && shape.samplesPerPixel > 1) {
    return "a TIFF whose channels are stored apart (planar) is not read";
  }
  return {};
}

class TiffReader final : public DeepPictureSource {
public:
  bool open(const std::string& path, std::string& error) {
    path_ = path;
    if (!reopen()) {
      error = message_.empty() ? "cannot open for reading" : message_;
      return false;
    }
    const TiffShape shape = shapeOf(tiff_.get());
    error = refusalOf(tiff_.get(), shape);
    if (!error.empty()) return false;
    colours_ = shape.photometric == PHOTOMETRIC_RGB ? 3 : 1;
    samplesPerPixel_ = shape.samplesPerPixel;
    DeepLayout layout;
    layout.samples = shape.format == SAMPLEFORMAT_IEEEFP ? SampleType::Float
                     : shape.bits == 16                  ? SampleType::Uint16
                                                         : SampleType::Uint8;
    layout.alpha = shape.samplesPerPixel > colours_;
    layout.premultiplied = layout.alpha && shape.extraCount > 0 && shape.extra[0] == EXTRASAMPLE_ASSOCALPHA;
    layout.transfer = Transfer::Srgb;
    setShape(shape.width, shape.height, layout);
    if (static_cast<std::uint64_t>(TIFFScanlineSize64(tiff_.get())) != std::uint64_t{shape.width} * shape.samplesPerPixel * (shape.bits / 8)) {
      error = "the TIFF's rows are not as long as its fields say";
      return false;
    }
    scanline_.resize(static_cast<std::size_t>(TIFFScanlineSize64(tiff_.get())));
    return true;
  }

  void readRows(PixelF* out, std::size_t rows) override {
    for (std::size_t row = 0; row < rows; ++row, ++next_) {
      PixelF* line = out + row * width();
      if (next_ >= height() || !readScanline(static_cast<std::uint32_t>(next_))) {
        std::fill(line, line + width(), PixelF{});
        continue;
      }
      unpack(line);
    }
  }
  void skipRows(std::uint64_t rows) override {
    // Compressed strips decode only in order: read through the rows skipped.
    for (std::uint64_t row = 0; row < rows && next_ < height(); ++row, ++next_) readScanline(static_cast<std::uint32_t>(next_));
  }
  bool rewind() override {
    next_ = 0;
    damaged_ = false;
    return reopen();
  }
  bool damaged() const override { return damaged_; }
  std::string damage() const override { return message_; }

private:
  bool reopen() {
    tiff_ = openTiffFile(path_, "r", message_);
    return tiff_ != nullptr;
  }

  bool readScanline(std::uint32_t row) {
    // A damaged strip may decode to fewer bytes than its rows hold while
    // libtiff still reports success: what it leaves unwritten reads as 0,
    // not as the row before it, so every read of the file is the same.
    std::fill(scanline_.begin(), scanline_.end(), std::uint8_t{0});
    if (tiff_ && TIFFReadScanline(tiff_.get(), scanline_.data(), row, 0) == 1) return true;
    damaged_ = true;
    if (message_.empty()) message_ = "row " + std::to_string(row) + " cannot be read";
    return false;
  }

  float sampleAt(std::size_t index) const {
    switch (layout().samples) {
      case SampleType::Uint8: return fromUint8(scanline_[index]);
      case SampleType::Uint16: {
        std::uint16_t sample;
        std::memcpy(&sample, scanline_.data() + index * 2, 2);  // libtiff hands samples in the machine's order
        return fromUint16(sample);
      }
      default: {
        float sample;
        std::memcpy(&sample, scanline_.data() + index * 4, 4);
        return sample;
      }
    }
  }

  void unpack(PixelF* line) const {
    for (std::size_t x = 0; x < width(); ++x) {
      const std::size_t at = x * samplesPerPixel_;
      const float first = sampleAt(at);
      PixelF& p = line[x];
      p.red = first;
      p.green = colours_ == 3 ? sampleAt(at + 1) : first;
      p.blue = colours_ == 3 ? sampleAt(at + 2) : first;
      p.alpha = layout().alpha ? sampleAt(at + colours_) : 1.0f;
    }
  }

  std::string path_;
  std::string message_;  // libtiff's first error; the handler writes here for as long as the file is open
  TiffHandle tiff_;
  std::vector<std::uint8_t> scanline_;
  std::uint16_t colours_ = 3;
  std::uint16_t samplesPerPixel_ = 3;
  std::uint64_t next_ = 0;
  bool damaged_ = false;
};

// libtiff writes through these into the temporary file.
tmsize_t writeTo(thandle_t handle, void* bytes, tmsize_t count) {
  static_cast<TrackedOutput*>(handle)->write(bytes, static_cast<std::uint64_t>(count));
  return count;
}
tmsize_t readNothing(thandle_t, void*, tmsize_t) { return 0; }
toff_t seekTo(thandle_t handle, toff_t offset, int whence) {
  auto* output = static_cast<TrackedOutput*>(handle);
  const toff_t base = whence == SEEK_CUR ? output->position() : whence == SEEK_END ? output->size() : 0;
  output->seek(base + offset);
  return base + offset;
}
int closeNothing(thandle_t) { return 0; }
toff_t sizeOf(thandle_t handle) { return static_cast<TrackedOutput*>(handle)->size(); }
int mapNothing(thandle_t, void**, toff_t*) { return 0; }
void unmapNothing(thandle_t, void*, toff_t) {}

class TiffSink final : public DeepPictureSink {
public:
  bool open(const std::string& path, std::uint32_t width, std::uint32_t height, const DeepLayout& layout) override {
    if (!deepSizeAllowed(width, height)) return fail(deepSizeRefusal(width, height));
    output_ = std::make_unique<TrackedOutput>(path);
    if (!output_->open()) return fail("cannot open for writing");
    TIFFOpenOptions* options = optionsFor(message_);
    if (options == nullptr) return fail("not enough memory");
    tiff_.reset(TIFFClientOpenExt(path.c_str(), "w", output_.get(), readNothing, writeTo, seekTo, closeNothing,
                                  sizeOf, mapNothing, unmapNothing, options));
    TIFFOpenOptionsFree(options);
    if (!tiff_) return fail(message_.empty() ? "cannot open for writing" : message_);
    width_ = width;
    height_ = height;
    layout_ = layout;
    if (layout_.samples == SampleType::Half) layout_.samples = SampleType::Float;
    if (!writeFields()) return fail(message_);
    scanline_.resize(static_cast<std::size_t>(TIFFScanlineSize64(tiff_.get())));
    return true;
  }

  void writeRows(const PixelF* rows, std::size_t count) override {
    for (std::size_t row = 0; row < count && tiff_; ++row, ++next_) {
      pack(rows + row * width_);
      if (TIFFWriteScanline(tiff_.get(), scanline_.data(), next_, 0) != 1) failed_ = true;
    }
  }

  bool commit() override {
    if (!tiff_) return fail("cannot open for writing");
    if (next_ != height_) failed_ = true;
    if (!TIFFWriteDirectory(tiff_.get())) failed_ = true;
    tiff_.reset();
    if (failed_) return fail("writing failed" + (message_.empty() ? std::string() : ": " + message_));
    if (!output_->commit()) return fail("writing failed (disk full or not writable)");
    return true;
  }

private:
  bool writeFields() {
    TIFF* t = tiff_.get();
    const std::uint16_t samples = layout_.alpha ? 4 : 3;
    const std::uint16_t bits = layout_.samples == SampleType::Uint8 ? 8 : layout_.samples == SampleType::Uint16 ? 16 : 32;
    const std::uint16_t extra[1] = {static_cast<std::uint16_t>(layout_.premultiplied ? EXTRASAMPLE_ASSOCALPHA : EXTRASAMPLE_UNASSALPHA)};
    bool ok = TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width_) && TIFFSetField(t, TIFFTAG_IMAGELENGTH, height_) &&
              TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples) && TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits) &&
              TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, bits == 32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT) &&
              TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
              TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) &&
              TIFFSetField(t, TIFFTAG_PREDICTOR, bits == 32 ? PREDICTOR_FLOATINGPOINT : PREDICTOR_HORIZONTAL) &&
              TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
    if (ok && layout_.alpha) ok = TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
    if (!ok && message_.empty()) message_ = "libtiff refused the picture's fields";
    return ok;
  }

  void pack(const PixelF* line) {
    const std::size_t samples = layout_.alpha ? 4 : 3;
    for (std::size_t x = 0; x < width_; ++x) {
      const float values[4] = {line[x].red, line[x].green, line[x].blue, line[x].alpha};
      for (std::size_t c = 0; c < samples; ++c) {
        const std::size_t index = x * samples + c;
        if (layout_.samples == SampleType::Uint8) {
          scanline_[index] = toUint8(values[c]);
        } else if (layout_.samples == SampleType::Uint16) {
          const std::uint16_t sample = toUint16(values[c]);
          std::memcpy(scanline_.data() + index * 2, &sample, 2);
        } else {
          std::memcpy(scanline_.data() + index * 4, &values[c], 4);
        }
      }
    }
  }

  std::string message_;
  std::unique_ptr<TrackedOutput> output_;
  TiffHandle tiff_;  // closed before the output it writes into
  std::uint32_t width_ = 0, height_ = 0, next_ = 0;
  DeepLayout layout_;
  std::vector<std::uint8_t> scanline_;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<DeepPictureSource> openTiff(const std::string& path, std::string& error) {
  auto reader = std::make_unique<TiffReader>();
  if (reader->open(path, error)) return reader;
  return nullptr;
}

std::unique_ptr<DeepPictureSink> makeTiffSink() { return std::make_unique<TiffSink>(); }

}  // namespace Kvl
