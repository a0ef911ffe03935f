#pragma once
// What keying a clip tells the user on the way: the progress line, frames
// lost, audio dropped and, for the benchmark, the stages' times. Shared by
// the 8-bit and the deep clip paths.

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "Arguments.h"
#include "video/VideoFiles.h"

namespace Kvl::Cli {

// The name's extension in lower case, with its dot (".mov").
std::string lowerExtension(const std::string& path);

// "keyvale-cli: PATH: REASON".
void reportError(std::ostream& err, const std::string& path, const std::string& reason);

// "Keying frame 120/250  31.2 fps  0:04 left", redrawn in place.
class FrameProgress {
public:
  FrameProgress(std::ostream& stream, std::int64_t total, bool enabled)
      : stream_(stream), total_(total), enabled_(enabled) {}

  void frameDone(std::int64_t done);
  void finish();

private:
  using Clock = std::chrono::steady_clock;
  std::ostream& stream_;
  std::int64_t total_;
  bool enabled_;
  bool shown_ = false;
  Clock::time_point start_ = Clock::now();
  Clock::time_point lastDrawn_{};
};

void reportLoss(std::ostream& err, const std::string& input, const FrameLoss& loss);
void reportDroppedAudio(std::ostream& err, const Command& command, const std::vector<std::string>& dropped);
// For the benchmark: seconds per stage, each on the thread that ran it.
void reportTimes(std::ostream& err, const ClipTimes& in, double keySeconds, const ClipTimes& out);

// How keying a clip ended: whether it was written, and whether frames were lost.
struct KeyingResult {
  bool ok = false;
  bool lostFrames = false;
};

}  // namespace Kvl::Cli
