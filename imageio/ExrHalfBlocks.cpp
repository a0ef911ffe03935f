#include "ExrHalfBlocks.h"

#include <ImfChannelList.h>
#include <ImfVersion.h>

#include <algorithm>
#include <cstring>
#include <exception>

#include "HalfRows.h"

namespace Kvl {
namespace {

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr bool LittleEndianHost = true;  // a block's samples are the host's halves as they lie
#else
constexpr bool LittleEndianHost = false;
#endif

constexpr std::size_t HalfBytes = 2;
constexpr std::uint64_t ZipLines = 16, ZipsLines = 1;

int componentOf(const std::string& name) {
  if (name == "R") return 0;
  if (name == "G") return 1;
  if (name == "B") return 2;
  return name == "A" ? 3 : -1;
}

// The channels as components when every one is a half R, G, B or A at full
// resolution and R, G and B are there; nothing otherwise.
ExrChannelOrder halfChannels(const Imf::Header& header) {
  ExrChannelOrder order;
  for (auto channel = header.channels().begin(); channel != header.channels().end(); ++channel) {
    const int component = componentOf(channel.name());
    const Imf::Channel& c = channel.channel();
    if (component < 0 || c.type != Imf::HALF || c.xSampling != 1 || c.ySampling != 1) return {};
    order.components.push_back(component);
    order.alpha = order.alpha || component == 3;
  }
  if (order.components.size() != (order.alpha ? 4u : 3u)) return {};
  return order;
}

std::uint64_t widthOf(const Imf::Header& header) {
  return static_cast<std::uint64_t>(std::int64_t{header.dataWindow().max.x} - header.dataWindow().min.x + 1);
}
std::uint64_t heightOf(const Imf::Header& header) {
  return static_cast<std::uint64_t>(std::int64_t{header.dataWindow().max.y} - header.dataWindow().min.y + 1);
}

void putLittle(TrackedOutput& output, std::uint64_t value, int bytes) {
  std::uint8_t out[8];
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
  output.write(out, static_cast<std::uint64_t>(bytes));
}

}  // namespace

bool ExrHalfBlocks::canRead(const Imf::Header& header) {
  const Imf::Compression compression = header.compression();
  return LittleEndianHost && !header.hasTileDescription() &&
         (compression == Imf::ZIP_COMPRESSION || compression == Imf::ZIPS_COMPRESSION) &&
         !halfChannels(header).components.empty();
}

ExrHalfBlocks::ExrHalfBlocks(Imf::InputFile& file, const Imf::Header& header)
    : file_(file), order_(halfChannels(header)), width_(static_cast<std::uint32_t>(widthOf(header))),
      height_(heightOf(header)), minY_(header.dataWindow().min.y),
      linesPerBlock_(header.compression() == Imf::ZIPS_COMPRESSION ? ZipsLines : ZipLines),
      lineSamples_(std::size_t{width_} * order_.components.size()) {}

bool ExrHalfBlocks::readRow(std::uint64_t row, PixelF* out, std::string& damage) {
  if (!load(row / linesPerBlock_, damage)) return false;
  const std::uint16_t* line = block_.data() + (row % linesPerBlock_) * lineSamples_;
  HalfPlanes planes{};
  for (std::size_t k = 0; k < order_.components.size(); ++k) {
    planes.channel[static_cast<std::size_t>(order_.components[k])] = line + k * width_;
  }
  planesToPixels(planes, &out[0].red, width_);  // four floats a pixel, nothing between them
  return true;
}

bool ExrHalfBlocks::load(std::uint64_t block, std::string& damage) {
  if (block == loaded_) return loadedWell_;
  loaded_ = block;
  loadedWell_ = false;
  const std::uint64_t firstRow = block * linesPerBlock_;
  const std::size_t samples = static_cast<std::size_t>(std::min(linesPerBlock_, height_ - firstRow)) * lineSamples_;
  block_.resize(samples);
  const int y = minY_ + static_cast<int>(firstRow);
  try {
    const char* packed = nullptr;
    int packedSize = 0;
    file_.rawPixelData(y, packed, packedSize);  // checks the block's place, line and length
    loadedWell_ = packedSize >= 0 && coder_.unpack(reinterpret_cast<const std::uint8_t*>(packed),
                                                   static_cast<std::size_t>(packedSize),
                                                   reinterpret_cast<std::uint8_t*>(block_.data()), samples * HalfBytes);
    if (!loadedWell_ && damage.empty()) damage = "the ZIP data of the rows from " + std::to_string(y) + " does not inflate";
  } catch (const std::exception& e) {
    if (damage.empty()) damage = e.what();
  }
  return loadedWell_;
}

bool ExrHalfBlockWriter::canWrite(const Imf::Header& header) {
  return LittleEndianHost && header.compression() == Imf::ZIP_COMPRESSION && !header.hasTileDescription() &&
         header.dataWindow().min == Imath::V2i(0, 0) && !halfChannels(header).components.empty();
}

ExrHalfBlockWriter::ExrHalfBlockWriter(TrackedOutput& output, Imf::OStream& stream, const Imf::Header& header)
    : output_(output), order_(halfChannels(header)), width_(static_cast<std::uint32_t>(widthOf(header))),
      height_(heightOf(header)), lineSamples_(std::size_t{width_} * order_.components.size()) {
  header.sanityCheck();
  // As the library's own writer starts a file: the names here are all short.
  putLittle(output_, static_cast<std::uint32_t>(Imf::MAGIC), 4);
  putLittle(output_, static_cast<std::uint32_t>(Imf::EXR_VERSION), 4);
  header.writeTo(stream);
  tableAt_ = output_.position();
  blockAt_.assign(static_cast<std::size_t>((height_ + ZipLines - 1) / ZipLines), 0);
  for (std::size_t i = 0; i < blockAt_.size(); ++i) putLittle(output_, 0, 8);
  block_.reserve(ZipLines * lineSamples_);
}

void ExrHalfBlockWriter::writeRow(const PixelF* row) {
  if (rows_ >= height_) return;
  const std::size_t at = block_.size();
  block_.resize(at + lineSamples_);
  std::uint16_t* line = block_.data() + at;
  HalfPlanesOut planes{};
  for (std::size_t k = 0; k < order_.components.size(); ++k) {
    planes.channel[static_cast<std::size_t>(order_.components[k])] = line + k * width_;
  }
  pixelsToPlanes(&row[0].red, planes, width_);
  ++rows_;
  if (rows_ % ZipLines == 0 || rows_ == height_) writeBlock();
}

void ExrHalfBlockWriter::writeBlock() {
  const std::uint64_t block = (rows_ - 1) / ZipLines;
  const PackedBlock packed = coder_.pack(reinterpret_cast<const std::uint8_t*>(block_.data()), block_.size() * HalfBytes);
  blockAt_[static_cast<std::size_t>(block)] = output_.position();
  putLittle(output_, block * ZipLines, 4);  // the block's first line
  putLittle(output_, packed.size, 4);
  output_.write(packed.data, packed.size);
  block_.clear();
}

void ExrHalfBlockWriter::finish() {
  const std::uint64_t end = output_.position();
  output_.seek(tableAt_);
  for (const std::uint64_t at : blockAt_) putLittle(output_, at, 8);
  output_.seek(end);
}

}  // namespace Kvl
