#pragma once
// Numbered frames of a shot: a name pattern with the place of the frame
// number (shot.%04d.png or shot.####.png), a range of frame numbers, and
// the chunk of that range one task of a render farm keys.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace Kvl::Cli {

struct FramePattern {
  std::string prefix;  // everything before the frame number
  std::string suffix;  // everything after it
  int digits = 0;      // zero-padded to this many digits; 0 = unpadded (%d)
};

// A name with exactly one frame-number placeholder: %0Nd, %d or a run of
// N '#'. Nothing when it has none or more than one.
std::optional<FramePattern> parseFramePattern(const std::string& text);

bool hasFramePlaceholder(const std::string& text);

// The name of frame `frame`; a number wider than the padding is written whole.
std::string framePath(const FramePattern& pattern, long frame);

struct FrameRange {
  long first = 0;
  long last = 0;
  long step = 1;

  // first, first+step, ... up to last.
  std::vector<long> frames() const;
  std::size_t count() const;
  // The frame a shot's setting is chosen from when none is named: the
  // middle frame of the range (the earlier of two), past any slate or
  // fade-in at the head of the shot.
  long middleFrame() const;
  bool contains(long frame) const { return frame >= first && frame <= last; }
};

// "FIRST-LAST", "FIRST-LASTxSTEP" or a single "FRAME"; frame numbers from 0.
// Nothing, with `error` set, for anything else or a LAST before FIRST.
std::optional<FrameRange> parseFrameRange(const std::string& text, std::string& error);

// How many chunks of `chunkSize` frames the range makes (the last may be short).
std::size_t chunkCount(std::size_t frames, std::size_t chunkSize);

// The frames of chunk `task` (counted from 0). Nothing, with `error` set,
// when the range has no such chunk.
std::optional<std::vector<long>> chunkFrames(const FrameRange& range, std::size_t chunkSize, long task,
                                             std::string& error);

// A task number as a farm manager passes it (an environment variable's
// value): a whole number from 0.
std::optional<long> parseTaskNumber(const std::string& text);

}  // namespace Kvl::Cli
