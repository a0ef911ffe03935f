#pragma once
// PNG output: 8-bit RGBA, the keyed colours with the levelled alpha,
// upright. The few chunks of the format are written here; libdeflate
// compresses the filtered rows in one piece and gives the checksums.
// Reach it through makePngSink(): builds without the libraries have none.

#include <memory>

#include "PictureFiles.h"
#include "PictureSink.h"

struct libdeflate_compressor;

namespace Kvl {

class PngSink final : public PictureSink {
public:
  explicit PngSink(int level = DefaultPngLevel);
  ~PngSink() override;
  bool open(const std::string& path, std::uint64_t width, std::uint64_t height, RowOrder order) override;
  void writeRows(std::uint64_t firstRow, const Pixel32* rows, std::size_t count) override;
  bool commit() override;

private:
  struct Buffers;
  const std::uint8_t* filteredImage(libdeflate_compressor* compressor);
  bool unfilteredIsSmaller(libdeflate_compressor* compressor, const std::uint8_t* filtered);
  void writeChunk(const char* type, const std::uint8_t* data, std::size_t size);

  int level_;
  std::unique_ptr<ReplacingFile> output_;
  std::size_t width_ = 0;
  std::size_t height_ = 0;
  std::unique_ptr<Buffers> buffers_;
  // The picture as PNG stores it, top row first, red, green, blue, alpha:
  // the rows come bottom-up or in blocks, and the filters need the row above.
  std::uint8_t* rgba_ = nullptr;
};

}  // namespace Kvl
