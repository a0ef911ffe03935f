#include "CliTestSupport.h"

#include <algorithm>
#include <sstream>

#include "support/TgaBytes.h"
#if KEYVALE_HAVE_VIDEO
#include "video/FfmpegVideo.h"
#endif

namespace Kvl::Test {

#if KEYVALE_HAVE_VIDEO
namespace {
// keyvale-cli loads its video backend from its module; the suite links the
// backend in, so that clips are keyed in this process as in the program.
const bool videoBackendInUse = (useVideoBackend(ffmpegVideoBackend()), true);
}  // namespace
#endif

CliRun runCli(const std::vector<std::string>& arguments, bool stderrIsTerminal) {
  std::ostringstream out, err;
  CliRun run;
  run.status = Cli::runCommandLine(arguments, out, err, Cli::ConsoleOptions{stderrIsTerminal});
  run.out = out.str();
  run.err = err.str();
  return run;
}

std::vector<Pixel32> greenScreen(int width, int height, KeyChannel backdrop, int seed) {
  std::vector<Pixel32> pixels;
  pixels.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool foreground = x * 3 > width && x * 5 < width * 4 && y * 2 > height && y * 6 < height * 5;
      std::uint8_t c[3];  // red, green, blue
      if (foreground) {
        c[0] = static_cast<std::uint8_t>(190 - (x + seed) % 40);
        c[1] = static_cast<std::uint8_t>(120 + y % 30);
        c[2] = static_cast<std::uint8_t>(90 + (x * y) % 20);
      } else {
        // The key colour leads the others by 40..200, so the key alphas
        // spread over the partly transparent range.
        const int lead = 40 + (x * 7 + y * 13 + seed * 11) % 161;
        c[0] = static_cast<std::uint8_t>(20 + (x + y) % 30);
        c[1] = static_cast<std::uint8_t>(30 + (x * 3 + seed) % 25);
        c[2] = static_cast<std::uint8_t>(25 + y % 20);
        const int others = (c[0] + c[1] + c[2] - c[backdrop]) / 2;
        c[backdrop] = static_cast<std::uint8_t>(std::min(255, others + lead));
      }
      pixels.push_back(makePixel(c[0], c[1], c[2]));
    }
  }
  return pixels;
}

TargaFile readTargaFile(const std::filesystem::path& path) {
  const std::vector<std::uint8_t> bytes = readFileBytes(path);
  TargaFile file;
  if (bytes.size() < 18) return file;
  file.idLength = bytes[0];
  file.imageType = bytes[2];
  file.width = static_cast<std::uint16_t>(bytes[12] | bytes[13] << 8);
  file.height = static_cast<std::uint16_t>(bytes[14] | bytes[15] << 8);
  file.bitsPerPixel = bytes[16];
  file.descriptor = bytes[17];
  for (std::size_t at = 18 + std::size_t{file.idLength}; at + 4 <= bytes.size(); at += 4) {
    file.pixels.push_back(makePixel(bytes[at + 2], bytes[at + 1], bytes[at], bytes[at + 3]));
  }
  return file;
}

std::vector<std::string> leftoverPartials(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.find("kvl-partial") != std::string::npos) names.push_back(name);
  }
  return names;
}

}  // namespace Kvl::Test
