#pragma once
// The progress line of a batch: files done of all, megapixels per second
// and the time left, redrawn in place on stderr.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>

namespace Kvl::Cli {

// "Keying 12/40 files  85.3 MP/s  0:07 left"; the rate and the time left
// appear once a file is done and time has passed.
std::string formatProgress(std::size_t done, std::size_t total, std::uint64_t pixelsDone,
                           double elapsedSeconds);

class ProgressLine {
public:
  using Clock = std::chrono::steady_clock;

  // Redrawn: one line drawn over and over in place, for a terminal.
  // Plain: a new line for every file, for logs that keep every line.
  enum class Style { Off, Redrawn, Plain };

  ProgressLine(std::ostream& stream, std::size_t total, Style style);

  // One more file finished with `pixels` pixels; redraws at most ten times
  // a second, but always after a clear() and for the last file.
  void fileDone(std::uint64_t pixels);
  // Wipes the line so that a message can be printed in its place...
  void clear();
  // ...and draws it again afterwards.
  void redraw();
  // Leaves the final line standing, followed by a newline.
  void finish();

private:
  void draw(const std::string& text);

  std::ostream& stream_;
  std::size_t total_;
  bool enabled_;
  bool plain_;
  std::size_t done_ = 0;
  std::uint64_t pixelsDone_ = 0;
  Clock::time_point start_ = Clock::now();
  Clock::time_point lastDrawn_{};
  std::size_t shownLength_ = 0;
};

}  // namespace Kvl::Cli
