#pragma once
// --clean-plate-frames: the clean plate made from the shot itself, from
// frames where the set is empty (the head or tail of a shot): each pixel's
// median over them. With --settings-out it is written as a picture beside
// the setting file and named there, so every farm task and every later
// run keys against the very same plate.

#include <ostream>
#include <string>

#include "Arguments.h"
#include "engine/Keying.h"

namespace Kvl::Cli {

// The most frames the median is taken over: spread evenly over a longer
// range, so memory stays bounded (and the same frames are always chosen).
inline constexpr std::size_t MostCleanPlateFrames = 25;

// The frames of `range` the plate is made from.
std::vector<long> cleanPlateFrameChoice(const FrameRange& range);

// Where the plate made for the setting file `settingsOut` is written:
// shot.kvs gives shot.clean-plate.tga beside it.
std::string cleanPlatePathFor(const std::string& settingsOut);

// Makes the clean plate of `command.cleanPlateFrames` from the clip or
// the sequence being keyed, writes it beside the setting file when one is
// to be written, and puts it into `request`. False, told on `err` with
// the file and the reason, when a frame cannot be read or written.
bool addShotCleanPlate(const Command& command, KeyingRequest& request, std::ostream& err);

}  // namespace Kvl::Cli
