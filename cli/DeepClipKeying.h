#pragma once
// Keying a clip of more than 8 bits a sample (10-bit ProRes 422 and DNxHR,
// 12-bit ProRes 4444, 10-bit H.264 and HEVC) with the plate keyer in float,
// the deep pictures' keyer: each frame read through 16-bit RGBA, keyed,
// laid over a background and written into ProRes 4444 or FFV1 without
// passing through 8 bits, alpha included. The views beside it are 8-bit.

#include <optional>
#include <ostream>

#include "Background.h"
#include "ClipKeying.h"
#include "ClipReports.h"
#include "ClipViews.h"

namespace Kvl::Cli {

// Whether a clip is keyed in float: the plate keyer without a clean plate
// or matte refinement (which work in 8 bits), a source of more than 8 bits
// a sample, into a clip whose codec takes deep frames. Anything else is
// keyed as before, in 8 bits.
bool keysClipInFloat(const ClipOutput& plan, const Keying& settings, const ClipInfo& info, bool refining);

// What the deep path needs of the run that the 8-bit one has set up.
struct DeepClipRun {
  const Command& command;
  const ClipOutput& plan;
  const Keying& settings;
  const std::optional<Background>& background;
  bool showProgress = false;
  int keyThreads = 1;
};

// Keys every frame of `reader`, which nothing has read from yet.
KeyingResult keyDeepClip(const DeepClipRun& run, ClipReader& reader, ClipViews& views, std::ostream& err);

}  // namespace Kvl::Cli
