#include "ClipReports.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>

namespace Kvl::Cli {
namespace {

std::string formatTime(double seconds) {
  const auto tenths = static_cast<long long>(std::llround(seconds * 100));
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld.%02lld", tenths / 6000, tenths / 100 % 60, tenths % 100);
  return text;
}

}  // namespace

std::string lowerExtension(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

void reportError(std::ostream& err, const std::string& path, const std::string& reason) {
  err << "keyvale-cli: " << path << ": " << reason << '\n';
}

void FrameProgress::frameDone(std::int64_t done) {
  const auto now = Clock::now();
  const bool last = done == total_;
  if (!enabled_ || (!last && now - lastDrawn_ < std::chrono::milliseconds(200))) return;
  lastDrawn_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const double fps = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  char line[128];
  if (total_ > 0 && fps > 0) {
    const double left = static_cast<double>(std::max<std::int64_t>(0, total_ - done)) / fps;
    std::snprintf(line, sizeof line, "Keying frame %lld/%lld  %.1f fps  %lld:%02lld left",
                  static_cast<long long>(done), static_cast<long long>(total_), fps,
                  static_cast<long long>(left) / 60, static_cast<long long>(left) % 60);
  } else {
    std::snprintf(line, sizeof line, "Keying frame %lld  %.1f fps", static_cast<long long>(done), fps);
  }
  stream_ << '\r' << line << "\x1b[K" << std::flush;
  shown_ = true;
}

void FrameProgress::finish() {
  if (shown_) stream_ << '\n' << std::flush;
  shown_ = false;
}

void reportLoss(std::ostream& err, const std::string& input, const FrameLoss& loss) {
  err << "keyvale-cli: warning: " << input << ": " << loss.frames << (loss.frames == 1 ? " frame" : " frames")
      << " could not be decoded, the first at " << formatTime(loss.firstSeconds)
      << "; the frames that could were keyed\n";
}

void reportDroppedAudio(std::ostream& err, const Command& command, const std::vector<std::string>& dropped) {
  for (const std::string& stream : dropped) {
    err << "keyvale-cli: warning: " << command.output << ": audio stream " << stream << " dropped: "
        << lowerExtension(command.output) << " cannot hold it\n";
  }
}

void reportTimes(std::ostream& err, const ClipTimes& in, double keySeconds, const ClipTimes& out) {
  char line[200];
  std::snprintf(line, sizeof line, "stages: decode %.2f s, convert in %.2f s, key %.2f s, convert out %.2f s, encode %.2f s\n",
                in.decodeSeconds, in.convertInSeconds, keySeconds, out.convertOutSeconds, out.encodeSeconds);
  err << line;
}

}  // namespace Kvl::Cli
