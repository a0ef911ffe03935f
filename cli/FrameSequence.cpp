#include "FrameSequence.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace Kvl::Cli {
namespace {

// Far beyond any shot, and small enough that FIRST + STEP never overflows.
constexpr long HighestFrame = 999999999;
constexpr int WidestPadding = 9;

std::optional<long> parseFrameNumber(std::string_view text) {
  long value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, status] = std::from_chars(text.data(), end, value);
  if (text.empty() || status != std::errc{} || stop != end || value < 0 || value > HighestFrame) {
    return std::nullopt;
  }
  return value;
}

struct Placeholder {
  std::size_t start = 0;
  std::size_t length = 0;
  int digits = 0;
};

// "%d" or "%0Nd" at `at` (which holds a '%').
std::optional<Placeholder> printfPlaceholder(const std::string& text, std::size_t at) {
  std::size_t end = at + 1;
  int digits = 0;
  if (end < text.size() && text[end] == '0') {
    ++end;
    const std::size_t widthStart = end;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    const auto width = parseFrameNumber(std::string_view(text).substr(widthStart, end - widthStart));
    if (!width || *width < 1 || *width > WidestPadding) return std::nullopt;
    digits = static_cast<int>(*width);
  }
  if (end >= text.size() || text[end] != 'd') return std::nullopt;
  return Placeholder{at, end + 1 - at, digits};
}

// Every placeholder in the name; a '%' that starts none makes it no pattern.
std::optional<std::vector<Placeholder>> findPlaceholders(const std::string& text) {
  std::vector<Placeholder> found;
  for (std::size_t at = 0; at < text.size();) {
    if (text[at] == '#') {
      const std::size_t end = text.find_first_not_of('#', at);
      const std::size_t length = (end == std::string::npos ? text.size() : end) - at;
      if (length > WidestPadding) return std::nullopt;
      found.push_back({at, length, static_cast<int>(length)});
      at += length;
    } else if (text[at] == '%') {
      const auto placeholder = printfPlaceholder(text, at);
      if (!placeholder) return std::nullopt;
      found.push_back(*placeholder);
      at += placeholder->length;
    } else {
      ++at;
    }
  }
  return found;
}

}  // namespace

std::optional<FramePattern> parseFramePattern(const std::string& text) {
  const auto placeholders = findPlaceholders(text);
  if (!placeholders || placeholders->size() != 1) return std::nullopt;
  const Placeholder& only = placeholders->front();
  return FramePattern{text.substr(0, only.start), text.substr(only.start + only.length), only.digits};
}

bool hasFramePlaceholder(const std::string& text) {
  return text.find('#') != std::string::npos || text.find('%') != std::string::npos;
}

std::string framePath(const FramePattern& pattern, long frame) {
  char number[32];
  std::snprintf(number, sizeof number, "%0*ld", pattern.digits, frame);
  return pattern.prefix + number + pattern.suffix;
}

std::vector<long> FrameRange::frames() const {
  std::vector<long> result;
  for (long frame = first; frame <= last; frame += step) result.push_back(frame);
  return result;
}

std::size_t FrameRange::count() const { return static_cast<std::size_t>((last - first) / step + 1); }

long FrameRange::middleFrame() const { return first + static_cast<long>((count() - 1) / 2) * step; }

std::optional<FrameRange> parseFrameRange(const std::string& text, std::string& error) {
  error = "--frames takes FIRST-LAST or FIRST-LASTxSTEP with frame numbers from 0, e.g. 1-48 or 1-48x2; got '" +
          text + "'";
  const std::string_view whole(text);
  const std::size_t dash = whole.find('-');
  const std::size_t times = whole.find('x');
  const std::string_view firstText = whole.substr(0, dash == std::string_view::npos ? times : dash);
  const auto first = parseFrameNumber(firstText);
  if (!first) return std::nullopt;
  FrameRange range{*first, *first, 1};
  if (dash != std::string_view::npos) {
    const std::size_t lastEnd = times == std::string_view::npos ? whole.size() : times;
    if (lastEnd < dash) return std::nullopt;
    const auto last = parseFrameNumber(whole.substr(dash + 1, lastEnd - dash - 1));
    if (!last) return std::nullopt;
    if (*last < *first) {
      error = "--frames " + text + ": the last frame comes before the first";
      return std::nullopt;
    }
    range.last = *last;
  }
  if (times != std::string_view::npos) {
    const auto step = parseFrameNumber(whole.substr(times + 1));
    if (!step || *step < 1) return std::nullopt;
    range.step = *step;
  }
  error.clear();
  return range;
}

std::size_t chunkCount(std::size_t frames, std::size_t chunkSize) { return (frames + chunkSize - 1) / chunkSize; }

std::optional<std::vector<long>> chunkFrames(const FrameRange& range, std::size_t chunkSize, long task,
                                             std::string& error) {
  const std::vector<long> all = range.frames();
  const std::size_t chunks = chunkCount(all.size(), chunkSize);
  if (task < 0 || static_cast<std::size_t>(task) >= chunks) {
    error = "task " + std::to_string(task) + " is past the last chunk: " + std::to_string(all.size()) +
            " frames in chunks of " + std::to_string(chunkSize) + " make tasks 0 to " + std::to_string(chunks - 1);
    return std::nullopt;
  }
  const std::size_t begin = static_cast<std::size_t>(task) * chunkSize;
  const std::size_t end = std::min(all.size(), begin + chunkSize);
  return std::vector<long>(all.begin() + static_cast<std::ptrdiff_t>(begin),
                           all.begin() + static_cast<std::ptrdiff_t>(end));
}

std::optional<long> parseTaskNumber(const std::string& text) { return parseFrameNumber(text); }

}  // namespace Kvl::Cli
