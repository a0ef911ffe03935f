#pragma once
// A clean plate made from the shot itself: --clean-plate-frames from
// frames where the set is empty (the head or tail of a shot), each pixel's
// median over them; --clean-plate-from-shot from frames with the subject
// in them, each pixel's median over the frames where it is backdrop. With --settings-out it is written as a picture beside
// the setting file and named there, so every farm task and every later
// run keys against the very same plate.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

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

// The most frames --clean-plate-from-shot looks at, spread over the shot.
inline constexpr std::size_t MostShotFrames = 15;

// --clean-plate-from-shot: a clean plate for a shot that has no empty
// frame. Frames spread over the shot are keyed with `keying` (its setting
// already chosen); each pixel's median over the frames whose key leaves its
// whole 5 x 5 neighbourhood nearly clear is the plate. Where no frame does,
// the frames that leave it less than half opaque count instead, if they are
// at least half the frames: a crease or shadow the fitted model misses keys
// partly opaque in every frame the subject leaves it, while a pixel by a
// swaying subject's edge is under its hair whenever it is not under the
// subject. A pixel no frame counts keeps the fitted backdrop's colour. Written and named as for
// --clean-plate-frames, and put into `keying`. False, told on `err`, when
// a frame cannot be read or the plate written.
bool addCleanPlateFromShot(const Command& command, Keying& keying, int threads, std::ostream& err);

// The pixels (width x height) whose 5 x 5 neighbourhood the key left less
// than half opaque.
std::vector<std::uint8_t> surelyBackdrop(const std::vector<Pixel32>& keyed, std::uint32_t width,
                                         std::uint32_t height);

}  // namespace Kvl::Cli
