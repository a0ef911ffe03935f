#include "ViewOutputs.h"

#include <algorithm>
#include <cctype>

#include "FileKeying.h"
#include "keying/KeyViews.h"

namespace Kvl::Cli {
namespace {

bool endsWithFolded(const std::string& path, const std::string& ending) {
  if (path.size() < ending.size()) return false;
  return std::equal(ending.begin(), ending.end(), path.end() - static_cast<std::ptrdiff_t>(ending.size()),
                    [](char a, char b) { return std::tolower(static_cast<unsigned char>(b)) == a; });
}

}  // namespace

OutputFormat viewFormatOf(const std::string& path) {
  if (endsWithFolded(path, ".png")) return OutputFormat::Png;
  if (endsWithFolded(path, ".jpg") || endsWithFolded(path, ".jpeg")) return OutputFormat::Jpeg;
  return OutputFormat::Targa;
}

ViewSink::ViewSink(std::unique_ptr<PictureSink> inner, ViewPaths paths, int pngLevel,
                   std::unique_ptr<PictureSource> plate)
    : inner_(std::move(inner)), paths_(std::move(paths)), pngLevel_(pngLevel), plate_(std::move(plate)) {}

bool ViewSink::failFor(const std::string& path, const std::string& reason) {
  failedPath_ = path;
  return fail(reason);
}

bool ViewSink::openView(std::unique_ptr<PictureSink>& sink, const std::string& path, std::uint64_t width,
                        std::uint64_t height, RowOrder order) {
  if (path.empty()) return true;
  const OutputFormat format = viewFormatOf(path);
  sink = makePictureSink(format, pngLevel_, 0);
  if (!sink) return failFor(path, unsupportedOutput(format));
  if (!sink->open(path, width, height, order)) return failFor(path, sink->failure());
  return true;
}

bool ViewSink::open(const std::string& path, std::uint64_t width, std::uint64_t height, RowOrder order) {
  outputPath_ = path;
  if (!inner_->open(path, width, height, order)) return failFor(path, inner_->failure());
  if (!paths_.status.empty() && (!plate_ || plate_->width() != width || plate_->height() != height)) {
    return failFor(paths_.status, "the plate cannot be read again for the status view");
  }
  width_ = static_cast<std::size_t>(width);
  return openView(matte_, paths_.matte, width, height, order) && openView(status_, paths_.status, width, height, order);
}

// The plate's next `count` rows, placed bottom row first as the keyed rows
// are: a top-down plate hands out the block's top row first.
void ViewSink::readPlateRows(std::size_t count) {
  plateRows_.resize(count * width_);
  plate_->readRows(plateRows_.data(), count);
  if (plate_->rowOrder() == RowOrder::BottomUp) return;
  for (std::size_t low = 0, high = count - 1; low < high; ++low, --high) {
    std::swap_ranges(plateRows_.begin() + static_cast<std::ptrdiff_t>(low * width_),
                     plateRows_.begin() + static_cast<std::ptrdiff_t>((low + 1) * width_),
                     plateRows_.begin() + static_cast<std::ptrdiff_t>(high * width_));
  }
}

void ViewSink::writeRows(std::uint64_t firstRow, const Pixel32* rows, std::size_t count) {
  viewRows_.resize(count * width_);
  if (matte_) {
    matteAsGrey(rows, viewRows_.data(), viewRows_.size());
    matte_->writeRows(firstRow, viewRows_.data(), count);
  }
  if (status_) {
    readPlateRows(count);
    statusView(plateRows_.data(), rows, viewRows_.data(), viewRows_.size());
    status_->writeRows(firstRow, viewRows_.data(), count);
  }
  inner_->writeRows(firstRow, rows, count);
}

bool ViewSink::commit() {
  plate_.reset();  // before the output replaces it, which may be the same file
  if (!inner_->commit()) return failFor(outputPath_, inner_->failure());
  if (matte_ && !matte_->commit()) return failFor(paths_.matte, matte_->failure());
  if (status_ && !status_->commit()) return failFor(paths_.status, status_->failure());
  return true;
}

}  // namespace Kvl::Cli
