#pragma once
// What the command-line tests share: running keyvale-cli in this process
// with string streams, a green-screen picture with partly keyed pixels,
// and reading back the keyed Targa files it writes.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "keying/Pixel.h"

namespace Kvl::Test {

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

CliRun runCli(const std::vector<std::string>& arguments, bool stderrIsTerminal = false);

// A width x height picture, bottom row first, shot against a backdrop of
// `backdrop`'s colour: a graded backdrop (partly transparent once keyed), a
// solid foreground patch off centre, and rows and columns that all differ,
// so a flipped row or swapped channel changes the result. `seed` varies it.
std::vector<Pixel32> greenScreen(int width, int height, KeyChannel backdrop = GreenChannel, int seed = 0);

// A keyed 32-bit Targa file as written: header fields and pixels in file order.
struct TargaFile {
  std::uint8_t idLength = 0;
  std::uint8_t imageType = 0;
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  std::uint8_t bitsPerPixel = 0;
  std::uint8_t descriptor = 0;
  std::vector<Pixel32> pixels;
};
TargaFile readTargaFile(const std::filesystem::path& path);

// Names in `folder` of temporary files a writer left behind.
std::vector<std::string> leftoverPartials(const std::filesystem::path& folder);

}  // namespace Kvl::Test
