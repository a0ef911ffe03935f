#include "Refinement.h"

#include <ostream>

#include "Arguments.h"
#include "imageio/PictureFiles.h"

namespace Kvl::Cli {
namespace {

// Rec. 601 weights in 256ths, which add up to 256 so that white stays 255.
std::uint8_t luminance(Pixel32 pixel) {
  return static_cast<std::uint8_t>((77 * redOf(pixel) + 150 * greenOf(pixel) + 29 * blueOf(pixel) + 128) >> 8);
}

std::shared_ptr<const MatteMask> readMaskFor(const std::string& path, std::string& failedPath, std::string& error) {
  if (path.empty()) return nullptr;
  auto mask = readMask(path, error);
  if (!mask) {
    failedPath = path;
    return nullptr;
  }
  return std::make_shared<const MatteMask>(std::move(*mask));
}

}  // namespace

std::optional<MatteMask> readMask(const std::string& path, std::string& error) {
  PictureError failed;
  const std::unique_ptr<PictureSource> source = openPicture(path, sniffPictureFormat(path), failed);
  if (!source) {
    error = describe(failed);
    return std::nullopt;
  }
  if (source->pixelCount() == 0) {
    error = "the mask picture is empty";
    return std::nullopt;
  }
  MatteMask mask{source->width(), source->height(), {}};
  mask.values.resize(static_cast<std::size_t>(source->pixelCount()));  // the readers bound it
  std::vector<Pixel32> row(mask.width);
  for (std::uint32_t i = 0; i < mask.height; ++i) {
    source->readRows(row.data(), 1);
    const std::uint32_t topRow = source->rowOrder() == RowOrder::TopDown ? i : mask.height - 1 - i;
    std::uint8_t* out = mask.values.data() + std::size_t{topRow} * mask.width;
    for (std::uint32_t x = 0; x < mask.width; ++x) out[x] = luminance(row[x]);
  }
  // A mask with holes would clear or keep parts of the matte by accident.
  if (source->damaged()) {
    error = "the mask picture is damaged or truncated";
    return std::nullopt;
  }
  return mask;
}

bool loadRefinement(const RefineOptions& options, std::shared_ptr<const MatteRefinement>& refinement,
                    std::string& path, std::string& error) {
  auto loaded = std::make_shared<MatteRefinement>();
  loaded->choke = options.choke;
  loaded->feather = options.feather;
  loaded->garbage = options.garbage;
  loaded->garbageMatte = readMaskFor(options.garbageMatte, path, error);
  if (!path.empty()) return false;
  loaded->holdoutMatte = readMaskFor(options.holdoutMatte, path, error);
  if (!path.empty()) return false;
  refinement = nullptr;
  if (loaded->active()) refinement = std::move(loaded);
  return true;
}

bool loadRefinement(const RefineOptions& options, std::shared_ptr<const MatteRefinement>& refinement,
                    std::ostream& err) {
  std::string path, error;
  if (loadRefinement(options, refinement, path, error)) return true;
  err << "keyvale-cli: " << path << ": " << error << '\n';
  return false;
}

std::unique_ptr<PictureSink> refineInto(std::unique_ptr<PictureSink> sink,
                                        const std::shared_ptr<const MatteRefinement>& refinement) {
  if (sink == nullptr || refinement == nullptr) return sink;
  return std::make_unique<RefiningSink>(std::move(sink), refinement);
}

bool RefiningSink::open(const std::string& path, std::uint64_t width, std::uint64_t height, RowOrder order) {
  if (!inner_->open(path, width, height, order)) return fail(inner_->failure());
  width_ = width;
  height_ = height;
  order_ = order;
  rowsIn_ = 0;
  // The inner sink takes the picture's size, so it is addressable here.
  refiner_ = std::make_unique<MatteRefiner>(
      *refinement_, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), order,
      [this](const Pixel32* row, std::uint32_t topRow) { inner_->writeRows(height_ - 1 - topRow, row, 1); });
  return true;
}

// Chunks come bottom row first inside, in ascending order from the bottom
// or descending from the top; the refiner takes rows from that end onwards.
void RefiningSink::writeRows(std::uint64_t firstRow, const Pixel32* rows, std::size_t count) {
  const bool fromBottom = order_ == RowOrder::BottomUp;
  const std::uint64_t expected = fromBottom ? rowsIn_ : height_ - rowsIn_ - count;
  if (firstRow != expected || count > height_ - rowsIn_) {
    outOfOrder_ = true;  // a window of rows that are not neighbours would be a wrong matte
    return;
  }
  for (std::size_t i = 0; i < count; ++i) {
    refiner_->push(rows + (fromBottom ? i : count - 1 - i) * width_);
  }
  rowsIn_ += count;
}

bool RefiningSink::commit() {
  if (outOfOrder_ || refiner_ == nullptr) {
    inner_.reset();  // abandons the output
    return fail("internal error: rows arrived out of order; not written");
  }
  refiner_->finish();
  if (inner_->commit()) return true;
  return fail(inner_->failure());
}

}  // namespace Kvl::Cli
