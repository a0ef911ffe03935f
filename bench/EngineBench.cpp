// The engine's hot paths: the render behind every slider message (beside a
// plain memcpy of the same bytes), channel detection with auto adjust, and
// the key with levels that the writer runs over every pixel.

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "Scene.h"
#include "keying/Key.h"
#include "keying/KeySettings.h"
#include "keying/PlateKeyer.h"
#include "engine/PreviewWorkspace.h"
#include "support/AllocationCounter.h"

namespace Kvl::Bench {
namespace {

using Test::allocationCount;

std::vector<Pixel32> scene(std::uint32_t width, std::uint32_t height) {
  std::vector<Pixel32> pixels(std::size_t{width} * height);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const SceneColour c = scenePixel(x, y, width, height);
      pixels[std::size_t{y} * width + x] = makePixel(c.red, c.green, c.blue);
    }
  }
  return pixels;
}

// A workspace whose preview source holds the scene, as after Open.
struct LoadedWorkspace {
  PreviewWorkspace workspace;
  LoadedWorkspace() {
    const std::vector<Pixel32> pixels = scene(PreviewWidth, PreviewHeight);
    std::memcpy(const_cast<Pixel32*>(workspace.previewSource()), pixels.data(),
                pixels.size() * sizeof(Pixel32));
  }
};


void BM_MemcpyPreview(benchmark::State& state) {
  std::vector<Pixel32> from(PreviewPixelCount, 0x12345678u), to(PreviewPixelCount);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), PreviewPixelCount * sizeof(Pixel32));
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_MemcpyPreview)->Repetitions(15)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond);

void BM_Render(benchmark::State& state) {
  LoadedWorkspace loaded;
  KeyProcessor& processor = loaded.workspace.processor();
  const auto channel = static_cast<KeyChannel>(state.range(0));
  std::uint64_t allocations = 0;
  for (auto _ : state) {
    const std::uint64_t before = allocationCount();
    processor.render(channel, 40, 20);
    allocations += allocationCount() - before;
    benchmark::DoNotOptimize(loaded.workspace.composite());
    benchmark::ClobberMemory();
  }
  // Counted around the call alone: the benchmark's own bookkeeping allocates.
  state.counters["allocations"] = static_cast<double>(allocations);
  if (allocations != 0) state.SkipWithError("render allocated");
}
BENCHMARK(BM_Render)->Arg(GreenChannel)->Arg(RedChannel)
    ->Repetitions(15)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond);

void BM_DominantChannelAndAutoAdjust(benchmark::State& state) {
  LoadedWorkspace loaded;
  for (auto _ : state) {
    KeySettings settings = chooseSettings(loaded.workspace.previewSource(), SettingsRequest::automatic());
    benchmark::DoNotOptimize(settings);
  }
}
BENCHMARK(BM_DominantChannelAndAutoAdjust)
    ->Repetitions(15)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond);

// One mebipixel per iteration, in the writer's 1 MiB chunks: the key with
// levels, and its two halves alone. The chunk is refreshed from the scene
// each time (a 1 MiB memcpy, about a tenth of the whole).
enum class KeyStep { KeyAndLevel, KeyOnly, LevelOnly };

void runKeyStep(benchmark::State& state, KeyStep step) {
  constexpr std::size_t ChunkPixels = 256 * 1024;
  const std::vector<Pixel32> source = scene(1024, 256);
  std::vector<Pixel32> chunk(ChunkPixels), keyed(ChunkPixels);
  const AlphaTable levels = levelTable(40, 20);
  for (auto _ : state) {
    for (int pass = 0; pass < 4; ++pass) {
      std::memcpy(chunk.data(), source.data(), ChunkPixels * sizeof(Pixel32));
      switch (step) {
        case KeyStep::KeyAndLevel: keyAndLevel(chunk.data(), keyed.data(), ChunkPixels, GreenChannel, levels); break;
        case KeyStep::KeyOnly: keyPixels(chunk.data(), keyed.data(), ChunkPixels, GreenChannel); break;
        case KeyStep::LevelOnly: levelPixels(chunk.data(), ChunkPixels, levels); break;
      }
      benchmark::DoNotOptimize(chunk.data());
    }
  }
  state.SetItemsProcessed(state.iterations() * 4 * static_cast<std::int64_t>(ChunkPixels));
}

void BM_KeyAndLevelPerMegapixel(benchmark::State& state) { runKeyStep(state, KeyStep::KeyAndLevel); }
void BM_KeyOnlyPerMegapixel(benchmark::State& state) { runKeyStep(state, KeyStep::KeyOnly); }
void BM_LevelOnlyPerMegapixel(benchmark::State& state) { runKeyStep(state, KeyStep::LevelOnly); }
BENCHMARK(BM_KeyAndLevelPerMegapixel)->Repetitions(9)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeyOnlyPerMegapixel)->Repetitions(9)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LevelOnlyPerMegapixel)->Repetitions(9)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);

// The plate keyer over a 1920-pixel row of the scene, its setting fitted to
// the scene first; items are pixels.
void BM_PlateKeyRow(benchmark::State& state) {
  constexpr std::uint32_t Width = 1920, Height = 1080;
  const std::vector<Pixel32> source = scene(Width, Height);
  BackdropSurvey survey(Width, Height);
  for (std::uint32_t y = 0; y < Height; ++y) survey.addRow(source.data() + std::size_t{y} * Width, y);
  PlateRequest request;
  request.autoAdjust = true;
  const PlateSettings settings = *fitPlate(survey, request);
  PlateKeyer keyer(settings, Width, Height);
  std::vector<Pixel32> keyed(Width);
  std::uint32_t y = 0;
  for (auto _ : state) {
    keyer.keyRow(source.data() + std::size_t{y} * Width, keyed.data(), y);
    benchmark::DoNotOptimize(keyed.data());
    y = (y + 1) % Height;
  }
  state.SetItemsProcessed(state.iterations() * Width);
}
BENCHMARK(BM_PlateKeyRow)->Repetitions(5)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace Kvl::Bench

BENCHMARK_MAIN();
