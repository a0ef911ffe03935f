#pragma once
// PNG output: 8-bit RGBA, the keyed colours with the levelled alpha,
// upright. Reach it through makePngSink(): builds without libpng have none.

#include <memory>
#include <vector>

#include "PictureSink.h"

namespace Kvl {

class PngSink final : public PictureSink {
public:
  PngSink();
  ~PngSink() override;
  bool open(const std::string& path, std::uint64_t width, std::uint64_t height, RowOrder order) override;
  void writeRows(std::uint64_t firstRow, const Pixel32* rows, std::size_t count) override;
  bool commit() override;

private:
  struct Encoder;
  void encodeRows(const Pixel32* rows, std::size_t count);

  std::unique_ptr<ReplacingFile> output_;
  std::unique_ptr<Encoder> encoder_;
  std::size_t width_ = 0;
  // PNG stores the top row first: rows that come bottom-up are held here
  // until the last one has come.
  std::vector<Pixel32> heldRows_;
  bool encodeFailed_ = false;
};

}  // namespace Kvl
