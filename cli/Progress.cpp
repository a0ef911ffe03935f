#include "Progress.h"

#include <cmath>
#include <cstdio>
#include <ostream>

namespace Kvl::Cli {
namespace {

constexpr auto RedrawInterval = std::chrono::milliseconds(100);

std::string formatDuration(double seconds) {
  const auto whole = static_cast<long long>(std::ceil(seconds));
  char text[32];
  if (whole >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
  }
  return text;
}

}  // namespace

std::string formatProgress(std::size_t done, std::size_t total, std::uint64_t pixelsDone,
                           double elapsedSeconds) {
  std::string line = "Keying " + std::to_string(done) + "/" + std::to_string(total) + " files";
  if (done == 0 || elapsedSeconds <= 0.0) return line;
  char rate[32];
  std::snprintf(rate, sizeof rate, "  %.1f MP/s", static_cast<double>(pixelsDone) / 1e6 / elapsedSeconds);
  line += rate;
  if (done < total) {
    const double left = elapsedSeconds / static_cast<double>(done) * static_cast<double>(total - done);
    line += "  " + formatDuration(left) + " left";
  }
  return line;
}

ProgressLine::ProgressLine(std::ostream& stream, std::size_t total, Style style)
    : stream_(stream), total_(total), enabled_(style == Style::Redrawn), plain_(style == Style::Plain) {
  redraw();
}

void ProgressLine::fileDone(std::uint64_t pixels) {
  ++done_;
  pixelsDone_ += pixels;
  if (plain_) {
    const std::chrono::duration<double> elapsed = Clock::now() - start_;
    stream_ << formatProgress(done_, total_, pixelsDone_, elapsed.count()) << '\n' << std::flush;
  }
  if (!enabled_) return;
  const Clock::time_point now = Clock::now();
  const bool wiped = shownLength_ == 0;
  if (!wiped && done_ < total_ && now - lastDrawn_ < RedrawInterval) return;
  lastDrawn_ = now;
  redraw();
}

void ProgressLine::clear() {
  if (!enabled_ || shownLength_ == 0) return;
  stream_ << '\r' << std::string(shownLength_, ' ') << '\r' << std::flush;
  shownLength_ = 0;
}

void ProgressLine::redraw() {
  if (!enabled_) return;
  const std::chrono::duration<double> elapsed = Clock::now() - start_;
  draw(formatProgress(done_, total_, pixelsDone_, elapsed.count()));
}

void ProgressLine::finish() {
  if (!enabled_) return;
  redraw();
  stream_ << '\n' << std::flush;
  shownLength_ = 0;
}

// Padding wipes whatever a longer previous line left behind.
void ProgressLine::draw(const std::string& text) {
  const std::size_t padding = shownLength_ > text.size() ? shownLength_ - text.size() : 0;
  stream_ << '\r' << text << std::string(padding, ' ') << std::flush;
  shownLength_ = text.size();
}

}  // namespace Kvl::Cli
