#pragma once
// The matte and status outputs written beside a keyed picture: a picture
// sink that passes the keyed rows on and writes, from the same rows, the
// matte as grey and the status view over the plate, each through its own
// temporary file, so that each is either whole or not there.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Arguments.h"
#include "imageio/PictureSink.h"
#include "imageio/PictureSource.h"

namespace Kvl::Cli {

// Where the views of one picture go; an empty path writes no such view.
struct ViewPaths {
  std::string matte;   // --matte-out
  std::string status;  // --status
  bool empty() const { return matte.empty() && status.empty(); }
};

// The format a view is written in, from its name: .png PNG, .jpg or .jpeg
// JPEG (the views are opaque), anything else Targa.
OutputFormat viewFormatOf(const std::string& path);

// Keyed rows on their way to `inner`, seen by the views first. The status
// view needs the plate: `plate` is the input opened a second time, read
// row for row as the keyed rows arrive (they come in its order).
class ViewSink final : public PictureSink {
public:
  ViewSink(std::unique_ptr<PictureSink> inner, ViewPaths paths, int pngLevel, std::unique_ptr<PictureSource> plate);
  bool open(const std::string& path, std::uint64_t width, std::uint64_t height, RowOrder order) override;
  void writeRows(std::uint64_t firstRow, const Pixel32* rows, std::size_t count) override;
  bool commit() override;
  // The file failure() is about: the keyed output's, or a view's.
  const std::string& failedPath() const { return failedPath_; }

private:
  bool openView(std::unique_ptr<PictureSink>& sink, const std::string& path, std::uint64_t width,
                std::uint64_t height, RowOrder order);
  void readPlateRows(std::size_t count);
  bool failFor(const std::string& path, const std::string& reason);

  std::unique_ptr<PictureSink> inner_;
  ViewPaths paths_;
  int pngLevel_;
  std::unique_ptr<PictureSource> plate_;
  std::unique_ptr<PictureSink> matte_;
  std::unique_ptr<PictureSink> status_;
  std::size_t width_ = 0;
  std::vector<Pixel32> plateRows_;  // bottom row first, as the keyed rows
  std::vector<Pixel32> viewRows_;
  std::string outputPath_;
  std::string failedPath_;
};

}  // namespace Kvl::Cli
