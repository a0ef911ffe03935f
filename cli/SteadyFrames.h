#pragma once
// The steady matte (keying/SteadyMatte.h) for the command line's footage:
// a clip keeps its last few frames as it goes; each frame of a sequence
// reads and keys the frames before it itself, so that every farm chunk and
// every number of --jobs gives the bytes of one run.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "FrameSequence.h"
#include "engine/Keying.h"
#include "imageio/PictureSink.h"
#include "keying/SteadyMatte.h"

namespace Kvl::Cli {

// Keys a clip's frames in order, each steadied by the ones before it.
class SteadyClip {
public:
  // Keys `frame` (width x height, top row first) in place, on up to
  // `threads` threads; with the classic keyer, as it always keys. A frame
  // not `steadied` is keyed per frame and only kept for the next ones.
  void keyFrame(std::vector<Pixel32>& frame, std::uint32_t width, std::uint32_t height, const Keying& keying,
                int threads, bool steadied = true);

private:
  std::deque<KeyedFrame> earlier_;  // nearest first
};

// The inputs of the frames a sequence's frame `frame` is steadied with:
// up to SteadyWindow earlier frames of `range`, nearest first (none before
// the range's first frame, so a chunk agrees with one run of the range).
std::vector<std::string> earlierFrameInputs(const FramePattern& pattern, const FrameRange& range, long frame);

// Keys the picture `input` steadied by `earlierInputs` (nearest first) and
// writes it to `sink`, already opened for width x height rows in `order`.
// False, with the file and reason, when a picture cannot be read or is not
// of the frame's size.
bool keySteadyPicture(const std::string& input, const std::vector<std::string>& earlierInputs,
                      const Keying& keying, std::uint32_t width, std::uint32_t height, RowOrder order,
                      PictureSink& sink, int threads, std::string& failedPath, std::string& error);

}  // namespace Kvl::Cli
