#pragma once
// JPEG output, for pictures keyed over an opaque background: a JPEG file
// holds no alpha, so only a picture whose alpha is all solid belongs in
// one. Reach it through makeJpegSink(): builds without libjpeg have none.

#include <memory>
#include <vector>

#include "PictureSink.h"

namespace Kvl {

class JpegSink final : public PictureSink {
public:
  // Colour at full resolution (4:4:4) or half each way (4:2:0, as footage has it).
  enum class Chroma { Full, Half };

  explicit JpegSink(int quality = DefaultQuality, Chroma chroma = Chroma::Full) : quality_(quality), chroma_(chroma) {}
  bool open(const std::string& path, std::uint64_t width, std::uint64_t height, RowOrder order) override;
  void writeRows(std::uint64_t firstRow, const Pixel32* rows, std::size_t count) override;
  bool commit() override;

  // High enough that keying over a background adds no visible loss; full
  // colour resolution (4:4:4), since a key's edges are where colour changes.
  static constexpr int DefaultQuality = 95;

private:
  std::unique_ptr<ReplacingFile> output_;
  int quality_;
  Chroma chroma_;
  std::size_t width_ = 0;
  std::size_t height_ = 0;
  // JPEG stores the top row first and is encoded at commit, from these.
  std::vector<Pixel32> pixels_;
};

}  // namespace Kvl
