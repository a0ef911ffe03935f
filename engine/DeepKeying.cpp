#include "DeepKeying.h"

#include <algorithm>
#include <cmath>
#include <system_error>
#include <thread>
#include <vector>

namespace Kvl {
namespace {

std::uint8_t nearestLevel(float value) {
  if (!(value > 0)) return 0;
  return static_cast<std::uint8_t>(std::lround(std::min(value, 1.0f) * 255));
}

// About a megabyte of pixels a chunk: threads are started per chunk, which
// costs little beside keying a few hundred thousand pixels.
constexpr std::size_t ChunkPixels = 64 * 1024;

// Keys rows [first, end) of the chunk with one keyer.
void keyRows(DeepPlateKeyer& keyer, PixelF* rows, std::size_t width, std::uint32_t topRow, std::size_t first,
             std::size_t end) {
  for (std::size_t i = first; i < end; ++i) {
    PixelF* row = rows + i * width;
    keyer.keyRow(row, row, topRow + static_cast<std::uint32_t>(i));
  }
}

// Shares a chunk's rows out in equal runs, one per keyer; the calling
// thread keys the first run. A thread that cannot be started leaves its
// run to the calling thread.
void keyChunk(std::vector<DeepPlateKeyer>& keyers, PixelF* rows, std::size_t width, std::uint32_t topRow,
              std::size_t count) {
  const std::size_t parts = std::min(keyers.size(), std::max<std::size_t>(1, count / 4));
  const auto runStart = [&](std::size_t part) { return count * part / parts; };
  std::vector<std::thread> helpers;
  std::size_t startedUpTo = parts;
  for (std::size_t part = 1; part < parts; ++part) {
    try {
      helpers.emplace_back(keyRows, std::ref(keyers[part]), rows, width, topRow, runStart(part), runStart(part + 1));
    } catch (const std::system_error&) {
      startedUpTo = part;
      break;
    }
  }
  keyRows(keyers[0], rows, width, topRow, 0, runStart(1));
  if (startedUpTo < parts) keyRows(keyers[0], rows, width, topRow, runStart(startedUpTo), count);
  for (std::thread& helper : helpers) helper.join();
}

}  // namespace

std::optional<PlateSettings> surveyDeepPlate(DeepPictureSource& source, const SettingsRequest& request,
                                             std::optional<Pixel32> screen, std::string& refusal) {
  BackdropSurvey survey(source.width(), source.height());
  std::vector<PixelF> row(source.width());
  std::vector<Pixel32> levels(source.width());
  std::uint64_t skipped = 0;
  for (std::uint32_t topRow = 0; topRow < source.height(); ++topRow) {
    if (!survey.wantsRow(topRow)) {
      ++skipped;
      continue;
    }
    if (skipped > 0) source.skipRows(skipped);
    skipped = 0;
    source.readRows(row.data(), 1);
    for (std::size_t x = 0; x < row.size(); ++x) {
      levels[x] = makePixel(nearestLevel(row[x].red), nearestLevel(row[x].green), nearestLevel(row[x].blue));
    }
    survey.addRow(levels.data(), topRow);
  }
  return fitPlate(survey, {request.channel, request.autoAdjust, 0, screen}, &refusal);
}

void keyDeepPicture(DeepPictureSource& source, const PlateSettings& settings, const DeepRowsOut& out, int threads) {
  const std::size_t width = source.width(), height = source.height();
  if (width == 0 || height == 0) return;
  const std::size_t rowsPerChunk = std::clamp<std::size_t>(ChunkPixels / width, 1, height);
  std::vector<DeepPlateKeyer> keyers(static_cast<std::size_t>(std::max(1, threads)),
                                     DeepPlateKeyer(settings, source.width(), source.height()));
  std::vector<PixelF> chunk(rowsPerChunk * width);
  for (std::size_t done = 0; done < height; done += rowsPerChunk) {
    const std::size_t rows = std::min(rowsPerChunk, height - done);
    source.readRows(chunk.data(), rows);
    keyChunk(keyers, chunk.data(), width, static_cast<std::uint32_t>(done), rows);
    out(chunk.data(), static_cast<std::uint32_t>(done), rows);
  }
}

}  // namespace Kvl
