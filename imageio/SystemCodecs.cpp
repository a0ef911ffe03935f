// PNG, JPEG, BMP, GIF and TIFF in the Windows builds: the system's codecs
// (platform/WindowsImaging.h) wrapped as a picture source and a PNG sink.

#include "SystemCodecs.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "DecodedRows.h"
#include "FileHandle.h"
#include "platform/WindowsImaging.h"

namespace Kvl {
namespace {

LoadError loadErrorFor(WindowsImaging::Failure failure) {
  switch (failure) {
    case WindowsImaging::Failure::None: return LoadError::None;
    case WindowsImaging::Failure::TooLarge: return LoadError::TooLarge;
    case WindowsImaging::Failure::LayoutRefused: return LoadError::LayoutRefused;
    case WindowsImaging::Failure::OutOfMemory: return LoadError::OutOfMemory;
    case WindowsImaging::Failure::Damaged: break;
  }
  return LoadError::Damaged;
}

class SystemReader final : public DecodedRows {
public:
  explicit SystemReader(PictureFormat format) : DecodedRows(format) {}

  // The alpha is dropped, as the Targa reader drops a 32-bit file's alpha:
  // the key computes its own.
  bool open(const std::string& path) {
    if (!FileHandle(path.c_str(), "rb")) return fail(LoadError::CannotOpen);
    WindowsImaging::DecodedPicture picture = WindowsImaging::decodePicture(path);
    if (picture.failure != WindowsImaging::Failure::None) {
      return fail(loadErrorFor(picture.failure), picture.width, picture.height, picture.detail);
    }
    const std::uint64_t pixelCount = std::uint64_t{picture.width} * picture.height;
    std::unique_ptr<Pixel32[]> pixels(picture.pixels.release());
    std::for_each(pixels.get(), pixels.get() + pixelCount, [](Pixel32& pixel) { pixel &= 0x00FFFFFFu; });
    keep(std::move(pixels), picture.width, picture.height, false);
    return true;
  }
};

// The PNG is encoded whole into memory at commit, then written through a
// ReplacingFile like every other output, so a failure or an interruption
// never leaves a partial file under the output's name.
class SystemPngSink final : public PictureSink {
public:
  bool open(const std::string& path, std::uint64_t width, std::uint64_t height, RowOrder) override {
    const std::uint64_t pixelCount = width * height;
    if (width == 0 || height == 0 || width > WindowsImaging::MaximumSide || height > WindowsImaging::MaximumSide ||
        pixelCount > std::numeric_limits<std::uint32_t>::max() / sizeof(Pixel32)) {
      return fail("a PNG file cannot hold a " + std::to_string(width) + " x " + std::to_string(height) + " picture");
    }
    output_ = std::make_unique<ReplacingFile>(path);
    if (!output_->open()) return fail("cannot open for writing");
    width_ = static_cast<std::uint32_t>(width);
    height_ = static_cast<std::uint32_t>(height);
    upright_.assign(static_cast<std::size_t>(pixelCount), 0);
    return true;
  }

  // Rows come bottom row first; each goes to its place counted from the top.
  void writeRows(std::uint64_t firstRow, const Pixel32* rows, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint64_t fromTop = height_ - 1 - (firstRow + i);
      std::copy_n(rows + i * width_, width_, upright_.begin() + static_cast<std::ptrdiff_t>(fromTop * width_));
    }
  }

  bool commit() override {
    if (output_ == nullptr) return fail("cannot open for writing");
    std::vector<unsigned char> bytes;
    std::string error;
    if (!WindowsImaging::encodePng(upright_.data(), width_, height_, bytes, error)) return fail(error);
    output_->write(bytes.data(), bytes.size());
    if (!output_->commit()) return fail("writing failed (disk full or not writable)");
    return true;
  }

private:
  std::unique_ptr<ReplacingFile> output_;
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  std::vector<Pixel32> upright_;  // top row first, as PNG stores it
};

}  // namespace

std::unique_ptr<PictureSource> openWithSystemCodecs(const std::string& path, PictureFormat format,
                                                    PictureError& error) {
  auto reader = std::make_unique<SystemReader>(format);
  if (reader->open(path)) return reader;
  error = reader->failure();
  return nullptr;
}

std::unique_ptr<PictureSink> makeSystemPngSink() { return std::make_unique<SystemPngSink>(); }

}  // namespace Kvl
