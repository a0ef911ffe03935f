// kvl_fuzz_corpus OUTPUT_FOLDER: writes the seed corpus of the fuzz targets.
// Targa seeds go to OUTPUT_FOLDER/tga, PNG and JPEG seeds (where this build
// has the libraries) to OUTPUT_FOLDER/picture. Each seed is a small file that
// reaches one corner of the readers: every type and depth, image ID lengths,
// colour maps, origins, run-length packet shapes, truncation points and
// refusals, so the fuzzer starts from the interesting places rather than
// having to find them.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "CorpusPictures.h"
#include "support/TgaBytes.h"

namespace Kvl::Fuzz {
namespace {

using Test::TgaBytes;
using Bytes = std::vector<std::uint8_t>;

// B, G and R differ in every pixel; two are backdrop-like so the key acts.
const std::vector<Pixel32> Colours = {
    makePixel(0x30, 0x20, 0x10), makePixel(40, 220, 60),  makePixel(210, 150, 120),
    makePixel(120, 170, 90),     makePixel(20, 40, 250),  makePixel(0xFF, 0xFF, 0xFF),
    makePixel(0, 0, 0),          makePixel(250, 10, 30),  makePixel(0x35, 0x25, 0x15),
    makePixel(60, 200, 200),     makePixel(1, 2, 3),      makePixel(128, 129, 127)};

Pixel32 colour(std::size_t index) { return Colours[index % Colours.size()]; }

std::vector<Pixel32> colours(std::size_t count, std::size_t first = 0) {
  std::vector<Pixel32> out;
  for (std::size_t i = 0; i < count; ++i) out.push_back(colour(first + i));
  return out;
}

class CorpusWriter {
public:
  explicit CorpusWriter(std::filesystem::path folder) : folder_(std::move(folder)) {
    std::filesystem::create_directories(folder_);
  }
  void add(const std::string& name, const Bytes& bytes) {
    std::ofstream(folder_ / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ++count_;
  }
  void add(const std::string& name, const TgaBytes& tga) { add(name, tga.bytes()); }
  int count() const { return count_; }

private:
  std::filesystem::path folder_;
  int count_ = 0;
};

Bytes truncated(Bytes bytes, std::size_t length) {
  bytes.resize(std::min(bytes.size(), length));
  return bytes;
}

// A 3 x 2 picture in every type, depth and origin. The run-length form
// mixes packets that cross the row end.
void addTypesDepthsAndOrigins(CorpusWriter& out) {
  for (const int type : {2, 10}) {
    for (const int depth : {24, 32}) {
      for (const int origin : {0x00, 0x10, 0x20, 0x30}) {
        TgaBytes tga(3, 2, static_cast<std::uint8_t>(depth));
        tga.type(static_cast<std::uint8_t>(type)).descriptor(static_cast<std::uint8_t>(origin));
        if (type == 2) tga.pixels(colours(6));
        else tga.runPacket(2, colour(1)).rawPacket({colour(2), colour(3), colour(4)}).runPacket(1, colour(5));
        out.add("type" + std::to_string(type) + "-depth" + std::to_string(depth) + "-origin" +
                    std::to_string(origin >> 4) + ".tga",
                tga);
      }
    }
  }
}

void addImageIdsAndColourMaps(CorpusWriter& out) {
  for (const std::size_t idLength : {1u, 5u, 200u, 255u}) {
    out.add("id" + std::to_string(idLength) + ".tga",
            TgaBytes(2, 2).id(Bytes(idLength, 0x41)).pixels(colours(4)));
  }
  out.add("map3x24.tga", TgaBytes(2, 2).colourMap(3, 24).pixels(colours(4)));
  out.add("map4x15.tga", TgaBytes(2, 1).colourMap(4, 15).pixels(colours(2)));
  out.add("map1x32-depth32.tga", TgaBytes(2, 1, 32).colourMap(1, 32).pixels(colours(2)));
  out.add("map2x16-rle.tga", TgaBytes(2, 2).rle().colourMap(2, 16).runPacket(4, colour(1)));
  out.add("map-empty.tga", TgaBytes(1, 1).colourMap(0, 24).pixels({colour(2)}));
  out.add("id-and-map.tga", TgaBytes(2, 1).id(Bytes(7, 0x20)).colourMap(2, 24).pixels(colours(2)));
}

void addRunLengthShapes(CorpusWriter& out) {
  out.add("rle-run-crosses-row.tga",
          TgaBytes(4, 2).rle().rawPacket({colour(0), colour(1), colour(2)}).runPacket(5, colour(3)));
  out.add("rle-raw-crosses-row.tga",
          TgaBytes(4, 2).rle().runPacket(2, colour(4)).rawPacket({colour(5), colour(6), colour(7), colour(8), colour(9)})
              .runPacket(1, colour(10)));
  out.add("rle-last-run-single.tga", TgaBytes(3, 1).rle().rawPacket({colour(0), colour(1)}).runPacket(1, colour(2)));
  out.add("rle-last-raw-single.tga", TgaBytes(3, 1).rle().runPacket(2, colour(3)).rawPacket({colour(4)}));
  out.add("rle-run-overruns.tga", TgaBytes(3, 1).rle().runPacket(128, colour(5)));
  out.add("rle-raw-overruns.tga", TgaBytes(2, 1).rle().rawPacket({colour(0), colour(1), colour(2), colour(3), colour(4)}));
  out.add("rle-run-128.tga", TgaBytes(128, 1).rle().runPacket(128, colour(1)));
  TgaBytes raw128(16, 8, 32);
  raw128.rle().raw({0x7F}).pixels(colours(128));
  out.add("rle-raw-128-depth32.tga", raw128);
  out.add("rle-1x1.tga", TgaBytes(1, 1).rle().runPacket(1, colour(2)));
  out.add("rle-wide-40000.tga", TgaBytes(40000, 1).rle().runPacket(128, colour(1)).runPacket(128, colour(2)));
  out.add("rle-top-right-origin.tga",
          TgaBytes(3, 3, 32).rle().descriptor(0x30).runPacket(4, colour(1)).rawPacket(
              {colour(2), colour(3), colour(4), colour(5), colour(6)}));
}

void addTruncations(CorpusWriter& out) {
  // 18 header + 3 ID + 6 map + 36 pixel bytes = 63.
  const Bytes whole = TgaBytes(4, 3).id({1, 2, 3}).colourMap(2, 24).pixels(colours(12)).bytes();
  for (const std::size_t length : {0u, 1u, 16u, 17u, 18u, 20u, 24u, 27u, 28u, 45u, 62u}) {
    out.add("cut-" + std::to_string(length) + "-of-63.tga", truncated(whole, length));
  }
  // 18 header, run packet (1 + 3), raw packet (1 + 3 x 3), run packet (1 + 3).
  const Bytes packets = TgaBytes(4, 2).rle().runPacket(3, colour(1)).rawPacket({colour(2), colour(3), colour(4)})
                            .runPacket(2, colour(5)).bytes();
  for (const std::size_t length : {19u, 21u, 23u, 26u, 32u}) {
    out.add("rle-cut-" + std::to_string(length) + ".tga", truncated(packets, length));
  }
}

void addRefusalsAndSizes(CorpusWriter& out) {
  for (const int type : {0, 1, 3, 4, 9, 11}) {
    out.add("refused-type" + std::to_string(type) + ".tga",
            TgaBytes(2, 1).type(static_cast<std::uint8_t>(type)).pixels(colours(2)));
  }
  for (const int depth : {0, 8, 15, 16}) {
    out.add("refused-depth" + std::to_string(depth) + ".tga",
            TgaBytes(2, 1, static_cast<std::uint8_t>(depth)).raw({1, 2, 3, 4, 5, 6}));
  }
  // A 2 x 2 Windows bitmap: "BM", sizes, a 40-byte info header, 16 pixel bytes.
  out.add("bitmap.bmp", Bytes{'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0,
                              1, 0, 24, 0, 0, 0, 0, 0, 16, 0, 0, 0, 0x13, 0x0B, 0, 0, 0x13, 0x0B, 0, 0, 0, 0, 0, 0,
                              0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0});
  out.add("empty-0x0.tga", TgaBytes(0, 0));
  out.add("empty-0x5-rle.tga", TgaBytes(0, 5).rle());
  out.add("empty-5x0.tga", TgaBytes(5, 0, 32));
  out.add("declared-65535x65535.tga", TgaBytes(65535, 65535).pixels(colours(4)));
  out.add("declared-65535x65535-rle.tga", TgaBytes(65535, 65535, 32).rle().runPacket(128, colour(1)));
}

}  // namespace
}  // namespace Kvl::Fuzz

int main(int argc, char** argv) {
  using namespace Kvl::Fuzz;
  if (argc != 2) {
    std::cerr << "usage: kvl_fuzz_corpus OUTPUT_FOLDER\n";
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  CorpusWriter tga(folder / "tga");
  addTypesDepthsAndOrigins(tga);
  addImageIdsAndColourMaps(tga);
  addRunLengthShapes(tga);
  addTruncations(tga);
  addRefusalsAndSizes(tga);
  const int pictures = writePictureSeeds(folder / "picture");
  std::cout << "kvl_fuzz_corpus: " << tga.count() << " Targa seeds in " << (folder / "tga").string() << ", "
            << pictures << " PNG/JPEG seeds in " << (folder / "picture").string() << '\n';
  return 0;
}
