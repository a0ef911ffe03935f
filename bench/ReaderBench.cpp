// The reader: Targa pixel data decoded from memory per mebipixel, the way
// the writer takes it (4096 pixels a call), uncompressed and run-length;
// and the streaming preview read of a whole picture.

#include <benchmark/benchmark.h>

#include <vector>

#include "SceneTga.h"
#include "engine/PreviewWorkspace.h"
#include "imageio/ByteSource.h"
#include "imageio/TgaDecoder.h"

namespace Kvl::Bench {
namespace {

constexpr std::uint32_t SceneWidth = 1024;
constexpr std::uint32_t SceneHeight = 1024;  // one mebipixel

void decodeScene(benchmark::State& state, int type) {
  const std::vector<std::uint8_t> file = sceneTga(SceneWidth, SceneHeight, type);
  std::vector<Pixel32> block(4096);
  for (auto _ : state) {
    MemoryByteSource source(file);
    TgaHeader header;
    readTgaPreamble(source, header);
    TgaPixelDecoder decoder(source, header);
    for (std::size_t done = 0; done < std::size_t{SceneWidth} * SceneHeight; done += block.size()) {
      decoder.decode(block.data(), block.size());
      benchmark::DoNotOptimize(block.data());
    }
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t{SceneWidth} * SceneHeight);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(file.size()));
}

void BM_DecodeUncompressedPerMegapixel(benchmark::State& state) { decodeScene(state, 2); }
void BM_DecodeRunLengthPerMegapixel(benchmark::State& state) { decodeScene(state, 10); }
BENCHMARK(BM_DecodeUncompressedPerMegapixel)->Repetitions(9)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeRunLengthPerMegapixel)->Repetitions(9)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);

// Open's read of a 4000 x 3000 picture held in memory: only the 160 rows
// the preview samples are decoded (run-length files still walk every packet).
void readPreviewOfScene(benchmark::State& state, int type) {
  const std::vector<std::uint8_t> file = sceneTga(4000, 3000, type);
  PreviewWorkspace workspace;
  for (auto _ : state) {
    MemoryByteSource source(file);
    const PreviewRead read = workspace.processor().readPreviewFrom(source);
    if (!read.ok()) state.SkipWithError("the scene did not read");
    benchmark::DoNotOptimize(workspace.previewSource());
  }
}

void BM_ReadPreviewUncompressed12Megapixels(benchmark::State& state) { readPreviewOfScene(state, 2); }
void BM_ReadPreviewRunLength12Megapixels(benchmark::State& state) { readPreviewOfScene(state, 10); }
BENCHMARK(BM_ReadPreviewUncompressed12Megapixels)->Repetitions(9)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadPreviewRunLength12Megapixels)->Repetitions(9)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace Kvl::Bench
