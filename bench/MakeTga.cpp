// keyvale_make_tga: writes the synthetic green-screen scene as a Targa file
// of any size for the bench script, a row at a time, so that even
// 30000 x 20000 needs no more than one row in memory.
//
//   keyvale_make_tga WIDTH HEIGHT TYPE OUTPUT [DESCRIPTOR]
//
// TYPE is 2 (uncompressed) or 10 (run-length); pixels are 24-bit.
// DESCRIPTOR is the header's descriptor byte (default 0, bottom-up).

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "SceneTga.h"

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: keyvale_make_tga WIDTH HEIGHT TYPE OUTPUT [DESCRIPTOR]\n");
    return 2;
  }
  const auto width = static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10));
  const auto height = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10));
  const int type = std::atoi(argv[3]);
  const int descriptor = argc > 5 ? std::atoi(argv[5]) : 0;
  if (width == 0 || width > 65535 || height == 0 || height > 65535 || (type != 2 && type != 10)) {
    std::fprintf(stderr, "keyvale_make_tga: width and height 1..65535, type 2 or 10\n");
    return 2;
  }
  std::FILE* file = std::fopen(argv[4], "wb");
  if (file == nullptr) {
    std::perror(argv[4]);
    return 1;
  }
  std::vector<std::uint8_t> bytes = Kvl::Bench::sceneTgaHeader(width, height, type, descriptor);
  for (std::uint32_t y = 0; y < height; ++y) {
    Kvl::Bench::appendSceneRow(bytes, y, width, height, type);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    bytes.clear();
  }
  const bool ok = std::fflush(file) == 0 && !std::ferror(file);
  std::fclose(file);
  return ok ? 0 : 1;
}
