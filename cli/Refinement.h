#pragma once
// The matte refinement options at work: their mask files read once for a
// whole run, and a picture sink that refines the keyed rows on their way
// to the output, whichever end of the picture they come from.

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "keying/MatteRefiner.h"
#include "imageio/PictureSink.h"

namespace Kvl::Cli {

struct RefineOptions;

// A mask picture of any format imageio reads, as its luminance: white 255,
// black 0. Nothing, with the reason in `error`, when it cannot be read.
std::optional<MatteMask> readMask(const std::string& path, std::string& error);

// The refinement the options ask for, masks read; null when they ask for
// none. False, with the file and the reason, when a mask cannot be read.
bool loadRefinement(const RefineOptions& options, std::shared_ptr<const MatteRefinement>& refinement,
                    std::string& path, std::string& error);

// As above, telling a mask that cannot be read on `err` as
// "keyvale-cli: FILE: reason".
bool loadRefinement(const RefineOptions& options, std::shared_ptr<const MatteRefinement>& refinement,
                    std::ostream& err);

// Keyed rows refined before they go on to `inner`. The rows arrive as the
// keyer hands them, chunk after chunk from one end of the picture; they go
// on one row at a time, in the same order, once their neighbourhood is in.
class RefiningSink final : public PictureSink {
public:
  RefiningSink(std::unique_ptr<PictureSink> inner, std::shared_ptr<const MatteRefinement> refinement)
      : inner_(std::move(inner)), refinement_(std::move(refinement)) {}
  bool open(const std::string& path, std::uint64_t width, std::uint64_t height, RowOrder order) override;
  void writeRows(std::uint64_t firstRow, const Pixel32* rows, std::size_t count) override;
  bool commit() override;

private:
  std::unique_ptr<PictureSink> inner_;
  std::shared_ptr<const MatteRefinement> refinement_;
  std::unique_ptr<MatteRefiner> refiner_;
  std::uint64_t width_ = 0;
  std::uint64_t height_ = 0;
  RowOrder order_ = RowOrder::BottomUp;
  std::uint64_t rowsIn_ = 0;
  bool outOfOrder_ = false;
};

// `sink` behind a RefiningSink when there is a refinement; as it is otherwise.
std::unique_ptr<PictureSink> refineInto(std::unique_ptr<PictureSink> sink,
                                        const std::shared_ptr<const MatteRefinement>& refinement);

}  // namespace Kvl::Cli
