#include "ExrFiles.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <ImfThreading.h>
#include <half.h>

#include <exception>
#include <vector>

#include "DeepSamples.h"
#include "ExrHalfBlocks.h"

namespace Kvl {
namespace {

constexpr const char* Channels[4] = {"R", "G", "B", "A"};
static_assert(sizeof(PixelF) == 4 * sizeof(float), "a row of pixels is a row of floats");

// The library fills a channel the file lacks: black colour, solid alpha.
Imf::FrameBuffer frameBufferFor(PixelF* first, std::uint32_t width, int minX, int y) {
  constexpr std::size_t xStride = sizeof(PixelF);
  const std::size_t yStride = xStride * width;
  // The library addresses a sample as base + x * xStride + y * yStride in
  // the file's own coordinates, so the base stands before the rows.
  char* base = reinterpret_cast<char*>(first) - static_cast<std::ptrdiff_t>(minX) * static_cast<std::ptrdiff_t>(xStride) -
               static_cast<std::ptrdiff_t>(y) * static_cast<std::ptrdiff_t>(yStride);
  Imf::FrameBuffer buffer;
  for (int c = 0; c < 4; ++c) {
    buffer.insert(Channels[c], Imf::Slice(Imf::FLOAT, base + static_cast<std::size_t>(c) * sizeof(float), xStride,
                                          yStride, 1, 1, c == 3 ? 1.0 : 0.0));
  }
  return buffer;
}

class ExrReader final : public DeepPictureSource {
public:
  bool open(const std::string& path, std::string& error) {
    try {
      file_ = std::make_unique<Imf::InputFile>(path.c_str(), Imf::globalThreadCount());
      return describe(error);
    } catch (const std::exception& e) {
      error = e.what();
      return false;
    }
  }

  void readRows(PixelF* out, std::size_t rows) override {
    const std::uint64_t first = next_;
    next_ += rows;
    const std::size_t inFile = first >= height() ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(rows, height() - first));
    std::fill(out + inFile * width(), out + rows * width(), PixelF{});
    if (inFile == 0) return;
    if (blocks_) {
      for (std::size_t i = 0; i < inFile; ++i) {
        if (!blocks_->readRow(first + i, out + i * width(), damage_)) std::fill_n(out + i * width(), width(), PixelF{});
      }
      return;
    }
    const int y = minY_ + static_cast<int>(first);
    try {
      file_->setFrameBuffer(frameBufferFor(out, width(), minX_, y));
      file_->readPixels(y, y + static_cast<int>(inFile) - 1);
    } catch (const std::exception& e) {
      std::fill(out, out + inFile * width(), PixelF{});
      if (damage_.empty()) damage_ = e.what();
    }
  }
  void skipRows(std::uint64_t rows) override { next_ += rows; }
  bool rewind() override {
    next_ = 0;
    return true;
  }
  bool damaged() const override { return !damage_.empty(); }
  std::string damage() const override { return damage_; }

private:
  bool describe(std::string& error) {
    const Imf::Header& header = file_->header();
    const Imath::Box2i window = header.dataWindow();
    const std::int64_t width = std::int64_t{window.max.x} - window.min.x + 1;
    const std::int64_t height = std::int64_t{window.max.y} - window.min.y + 1;
    if (width <= 0 || height <= 0 || !deepSizeAllowed(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height))) {
      error = deepSizeRefusal(static_cast<std::uint64_t>(std::max<std::int64_t>(0, width)),
                              static_cast<std::uint64_t>(std::max<std::int64_t>(0, height)));
      return false;
    }
    const Imf::ChannelList& channels = header.channels();
    const Imf::Channel* red = channels.findChannel("R");
    if (red == nullptr || channels.findChannel("G") == nullptr || channels.findChannel("B") == nullptr) {
      error = "an OpenEXR file without R, G and B channels (a luminance, chroma or layered file) is not read";
      return false;
    }
    for (const char* name : Channels) {
      const Imf::Channel* channel = channels.findChannel(name);
      if (channel != nullptr && (channel->xSampling != 1 || channel->ySampling != 1)) {
        error = std::string("channel ") + name + " is subsampled; only full-resolution channels are read";
        return false;
      }
    }
    minX_ = window.min.x;
    minY_ = window.min.y;
    DeepLayout layout;
    layout.samples = red->type == Imf::HALF ? SampleType::Half : SampleType::Float;
    layout.alpha = channels.findChannel("A") != nullptr;
    layout.transfer = Transfer::Linear;
    layout.premultiplied = true;
    setShape(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), layout);
    if (ExrHalfBlocks::canRead(header)) blocks_ = std::make_unique<ExrHalfBlocks>(*file_, header);
    return true;
  }

  std::unique_ptr<Imf::InputFile> file_;
  std::unique_ptr<ExrHalfBlocks> blocks_;  // the faster way, for ZIP files of half samples
  int minX_ = 0;
  int minY_ = 0;
  std::uint64_t next_ = 0;
  std::string damage_;
};

// The library writes through this into the temporary file, seeking back at
// the end to fill in the table of where each block of rows begins.
class ReplacingStream final : public Imf::OStream {
public:
  explicit ReplacingStream(TrackedOutput& output, const std::string& path) : Imf::OStream(path.c_str()), output_(output) {}
  void write(const char c[], int n) override { output_.write(c, static_cast<std::uint64_t>(n)); }
  std::uint64_t tellp() override { return output_.position(); }
  void seekp(std::uint64_t position) override { output_.seek(position); }

private:
  TrackedOutput& output_;
};

class ExrSink final : public DeepPictureSink {
public:
  explicit ExrSink(ExrCompression compression) : compression_(compression) {}

  bool open(const std::string& path, std::uint32_t width, std::uint32_t height, const DeepLayout& layout) override {
    if (!deepSizeAllowed(width, height)) return fail(deepSizeRefusal(width, height));
    output_ = std::make_unique<TrackedOutput>(path);
    if (!output_->open()) return fail("cannot open for writing");
    width_ = width;
    height_ = height;
    try {
      Imf::Header header(static_cast<int>(width), static_cast<int>(height));
      header.compression() = compression_ == ExrCompression::Piz ? Imf::PIZ_COMPRESSION : Imf::ZIP_COMPRESSION;
      // Float samples go through the library, deflated at its fastest level:
      // a fifth less time per frame keyed, for files up to a third larger
      // (still lossless). Half ZIP files are written by ExrHalfBlockWriter.
      header.zipCompressionLevel() = 1;
      half_ = layout.samples != SampleType::Float;
      const Imf::PixelType type = half_ ? Imf::HALF : Imf::FLOAT;
      for (int c = 0; c < (layout.alpha ? 4 : 3); ++c) header.channels().insert(Channels[c], Imf::Channel(type));
      stream_ = std::make_unique<ReplacingStream>(*output_, path);
      if (ExrHalfBlockWriter::canWrite(header)) {
        blocks_ = std::make_unique<ExrHalfBlockWriter>(*output_, *stream_, header);
      } else {
        file_ = std::make_unique<Imf::OutputFile>(*stream_, header, Imf::globalThreadCount());
      }
    } catch (const std::exception& e) {
      return fail(e.what());
    }
    return true;
  }

  // The library converts types only as it reads: half rows are made here.
  void writeRows(const PixelF* rows, std::size_t count) override {
    if (blocks_ && failed_.empty()) {
      for (std::size_t i = 0; i < count; ++i) blocks_->writeRow(rows + i * width_);
      return;
    }
    if (!file_ || !failed_.empty()) return;
    try {
      const int y = file_->currentScanLine();
      if (half_) {
        halves_.resize(count * width_ * 4);
        const float* values = &rows[0].red;  // four floats a pixel, nothing between them
        for (std::size_t i = 0; i < halves_.size(); ++i) halves_[i] = Imath::half(values[i]);
        file_->setFrameBuffer(halfFrameBuffer(y));
      } else {
        file_->setFrameBuffer(frameBufferFor(const_cast<PixelF*>(rows), width_, 0, y));  // only read from
      }
      file_->writePixels(static_cast<int>(count));
    } catch (const std::exception& e) {
      failed_ = e.what();
    }
  }

  bool commit() override {
    if (blocks_) return commitBlocks();
    if (!file_) return fail("cannot open for writing");
    if (failed_.empty() && file_->currentScanLine() != static_cast<int>(height_)) failed_ = "rows are missing";
    try {
      file_.reset();  // writes the table of row blocks
    } catch (const std::exception& e) {
      if (failed_.empty()) failed_ = e.what();
    }
    if (!failed_.empty()) return fail("writing failed: " + failed_);
    if (!output_->commit()) return fail("writing failed (disk full or not writable)");
    return true;
  }

private:
  bool commitBlocks() {
    if (blocks_->rowsWritten() != height_) return fail("writing failed: rows are missing");
    blocks_->finish();
    if (!output_->commit()) return fail("writing failed (disk full or not writable)");
    return true;
  }

  Imf::FrameBuffer halfFrameBuffer(int y) {
    constexpr std::size_t xStride = 4 * sizeof(Imath::half);
    const std::size_t yStride = xStride * width_;
    char* base = reinterpret_cast<char*>(halves_.data()) - static_cast<std::ptrdiff_t>(y) * static_cast<std::ptrdiff_t>(yStride);
    Imf::FrameBuffer buffer;
    for (int c = 0; c < 4; ++c) {
      buffer.insert(Channels[c], Imf::Slice(Imf::HALF, base + static_cast<std::size_t>(c) * sizeof(Imath::half), xStride, yStride));
    }
    return buffer;
  }

  ExrCompression compression_;
  bool half_ = true;
  std::vector<Imath::half> halves_;
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  std::unique_ptr<TrackedOutput> output_;
  std::unique_ptr<ReplacingStream> stream_;
  std::unique_ptr<Imf::OutputFile> file_;
  std::unique_ptr<ExrHalfBlockWriter> blocks_;  // the faster way, for ZIP half files
  std::string failed_;
};

}  // namespace

std::unique_ptr<DeepPictureSource> openExr(const std::string& path, std::string& error) {
  auto reader = std::make_unique<ExrReader>();
  if (reader->open(path, error)) return reader;
  return nullptr;
}

std::unique_ptr<DeepPictureSink> makeExrSink(ExrCompression compression) {
  return std::make_unique<ExrSink>(compression);
}

}  // namespace Kvl
