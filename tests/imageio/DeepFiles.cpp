#include "DeepFiles.h"

#include <cstdio>
#include <stdexcept>

#if KEYVALE_HAVE_EXR
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <half.h>
#endif
#if KEYVALE_HAVE_TIFF
#include <tiffio.h>
#endif
#if KEYVALE_HAVE_PNG
#include <png.h>
#endif

namespace Kvl::Test {

#if KEYVALE_HAVE_EXR
namespace {
const char* const ExrChannels[4] = {"R", "G", "B", "A"};
}

void writeExr(const std::string& path, const DeepSamples& samples, bool half, int originX, int originY,
              bool oneLineBlocks) {
  const int w = static_cast<int>(samples.width), h = static_cast<int>(samples.height);
  const Imath::Box2i window({originX, originY}, {originX + w - 1, originY + h - 1});
  Imf::Header header(window, window);
  header.compression() = oneLineBlocks ? Imf::ZIPS_COMPRESSION : Imf::ZIP_COMPRESSION;
  const int channels = samples.alpha ? 4 : 3;
  for (int c = 0; c < channels; ++c) header.channels().insert(ExrChannels[c], Imf::Channel(half ? Imf::HALF : Imf::FLOAT));
  std::vector<Imath::half> halves(samples.values.begin(), samples.values.end());
  Imf::OutputFile file(path.c_str(), header);
  Imf::FrameBuffer buffer;
  const std::size_t size = half ? 2 : 4;
  char* base = half ? reinterpret_cast<char*>(halves.data()) : reinterpret_cast<char*>(const_cast<float*>(samples.values.data()));
  const std::size_t xStride = size * static_cast<std::size_t>(channels), yStride = xStride * samples.width;
  base -= static_cast<std::ptrdiff_t>(originX * static_cast<std::ptrdiff_t>(xStride) + originY * static_cast<std::ptrdiff_t>(yStride));
  for (int c = 0; c < channels; ++c) {
    buffer.insert(ExrChannels[c], Imf::Slice(half ? Imf::HALF : Imf::FLOAT, base + static_cast<std::size_t>(c) * size, xStride, yStride));
  }
  file.setFrameBuffer(buffer);
  file.writePixels(h);
}

DeepSamples readExr(const std::string& path, bool& half, std::string& compression) {
  Imf::InputFile file(path.c_str());
  const Imath::Box2i window = file.header().dataWindow();
  DeepSamples samples;
  samples.width = static_cast<std::uint32_t>(window.max.x - window.min.x + 1);
  samples.height = static_cast<std::uint32_t>(window.max.y - window.min.y + 1);
  samples.alpha = file.header().channels().findChannel("A") != nullptr;
  half = file.header().channels().findChannel("R")->type == Imf::HALF;
  compression = file.header().compression() == Imf::ZIP_COMPRESSION ? "zip"
                : file.header().compression() == Imf::PIZ_COMPRESSION ? "piz" : "other";
  const int channels = samples.alpha ? 4 : 3;
  samples.values.resize(std::size_t{samples.width} * samples.height * static_cast<std::size_t>(channels));
  const std::size_t xStride = 4 * static_cast<std::size_t>(channels), yStride = xStride * samples.width;
  char* base = reinterpret_cast<char*>(samples.values.data()) -
               static_cast<std::ptrdiff_t>(window.min.x * static_cast<std::ptrdiff_t>(xStride) + window.min.y * static_cast<std::ptrdiff_t>(yStride));
  Imf::FrameBuffer buffer;
  for (int c = 0; c < channels; ++c) buffer.insert(ExrChannels[c], Imf::Slice(Imf::FLOAT, base + 4 * c, xStride, yStride));
  file.setFrameBuffer(buffer);
  file.readPixels(window.min.y, window.max.y);
  return samples;
}
#endif

#if KEYVALE_HAVE_TIFF
void writeTiff16(const std::string& path, const DeepSamples& samples, bool associatedAlpha) {
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  if (tiff == nullptr) throw std::runtime_error("cannot write " + path);
  const std::uint16_t channels = samples.alpha ? 4 : 3;
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, samples.width);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, samples.height);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, channels);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 16);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 2);
  const std::uint16_t extra[1] = {static_cast<std::uint16_t>(associatedAlpha ? EXTRASAMPLE_ASSOCALPHA : EXTRASAMPLE_UNASSALPHA)};
  if (samples.alpha) TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
  std::vector<std::uint16_t> row(std::size_t{samples.width} * channels);
  for (std::uint32_t y = 0; y < samples.height; ++y) {
    for (std::size_t i = 0; i < row.size(); ++i) row[i] = static_cast<std::uint16_t>(samples.values[y * row.size() + i]);
    TIFFWriteScanline(tiff, row.data(), y, 0);
  }
  TIFFClose(tiff);
}

DeepSamples readTiff16(const std::string& path, std::uint16_t& extraSample) {
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  if (tiff == nullptr) throw std::runtime_error("cannot read " + path);
  DeepSamples samples;
  std::uint16_t channels = 0, bits = 0, extraCount = 0;
  std::uint16_t* extra = nullptr;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &samples.width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &samples.height);
  TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &channels);
  TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  extraSample = TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) && extraCount > 0 ? extra[0] : 0xFFFF;
  if (bits != 16) throw std::runtime_error(path + " is not 16-bit");
  samples.alpha = channels == 4;
  std::vector<std::uint16_t> row(std::size_t{samples.width} * channels);
  for (std::uint32_t y = 0; y < samples.height; ++y) {
    TIFFReadScanline(tiff, row.data(), y, 0);
    samples.values.insert(samples.values.end(), row.begin(), row.end());
  }
  TIFFClose(tiff);
  return samples;
}
#endif

#if KEYVALE_HAVE_PNG
void writePng16(const std::string& path, const DeepSamples& samples) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) throw std::runtime_error("cannot write " + path);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, file);
  png_set_IHDR(png, info, samples.width, samples.height, 16, samples.alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const std::size_t channels = samples.alpha ? 4 : 3;
  std::vector<png_byte> row(samples.width * channels * 2);
  for (std::uint32_t y = 0; y < samples.height; ++y) {
    for (std::size_t i = 0; i < samples.width * channels; ++i) {
      const auto v = static_cast<std::uint16_t>(samples.values[y * samples.width * channels + i]);
      row[2 * i] = static_cast<png_byte>(v >> 8);  // PNG is big-endian
      row[2 * i + 1] = static_cast<png_byte>(v & 0xFF);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
}

DeepSamples readPng16(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) throw std::runtime_error("cannot read " + path);
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, file);
  png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  DeepSamples samples;
  samples.width = png_get_image_width(png, info);
  samples.height = png_get_image_height(png, info);
  samples.alpha = png_get_color_type(png, info) == PNG_COLOR_TYPE_RGB_ALPHA;
  if (png_get_bit_depth(png, info) != 16) throw std::runtime_error(path + " is not 16-bit");
  png_bytepp rows = png_get_rows(png, info);
  const std::size_t channels = samples.alpha ? 4 : 3;
  for (std::uint32_t y = 0; y < samples.height; ++y) {
    for (std::size_t i = 0; i < samples.width * channels; ++i) {
      samples.values.push_back(static_cast<float>(rows[y][2 * i] << 8 | rows[y][2 * i + 1]));
    }
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  return samples;
}
#endif

}  // namespace Kvl::Test
