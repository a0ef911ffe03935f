#include "CorpusPictures.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#if KEYVALE_CORPUS_PNG
#include <png.h>
#endif
#if KEYVALE_CORPUS_JPEG
#include <jpeglib.h>
#endif

namespace Kvl::Fuzz {
namespace {

using Bytes = std::vector<std::uint8_t>;

void writeFile(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes truncated(Bytes bytes, std::size_t keep) {
  bytes.resize(std::min(bytes.size(), keep));
  return bytes;
}

// Sample bytes that differ from pixel to pixel and from channel to channel.
Bytes samples(std::size_t count) {
  Bytes out(count);
  for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<std::uint8_t>(i * 37u + 11u);
  return out;
}

#if KEYVALE_CORPUS_PNG
struct PngShape {
  const char* name;
  std::uint32_t width, height;
  int bitDepth, colourType, interlace;
};

void appendToBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

int channelsOf(int colourType) {
  switch (colourType) {
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_RGBA: return 4;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    default: return 1;  // grey, palette
  }
}

void addPalette(png_structp png, png_infop info) {
  png_color palette[4] = {{40, 220, 60}, {210, 150, 120}, {20, 40, 250}, {255, 255, 255}};
  png_set_PLTE(png, info, palette, 4);
  png_byte alpha[2] = {0, 128};
  png_set_tRNS(png, info, alpha, 2, nullptr);
}

Bytes encodePng(const PngShape& shape) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  const std::size_t rowBytes =
      (std::size_t{shape.width} * static_cast<std::size_t>(channelsOf(shape.colourType) * shape.bitDepth) + 7) / 8;
  Bytes pixels = samples(rowBytes * shape.height);
  if (shape.colourType == PNG_COLOR_TYPE_PALETTE && shape.bitDepth == 8) {
    for (auto& index : pixels) index &= 3;
  }
  std::vector<png_bytep> rows(shape.height);
  for (std::uint32_t y = 0; y < shape.height; ++y) rows[y] = pixels.data() + y * rowBytes;
  if (setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, appendToBytes, nullptr);
  png_set_IHDR(png, info, shape.width, shape.height, shape.bitDepth, shape.colourType, shape.interlace,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (shape.colourType == PNG_COLOR_TYPE_PALETTE) addPalette(png, info);
  png_write_info(png, info);
  png_write_image(png, rows.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

int writePngSeeds(const std::filesystem::path& folder) {
  const PngShape shapes[] = {
      {"rgb8", 3, 2, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE},
      {"rgba8", 3, 2, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE},
      {"grey8", 3, 2, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE},
      {"grey-alpha8", 2, 3, 8, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_INTERLACE_NONE},
      {"grey1", 9, 2, 1, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE},
      {"palette8", 3, 2, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE},
      {"palette2", 5, 3, 2, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE},
      {"rgb16", 2, 2, 16, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE},
      {"rgba16", 2, 1, 16, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE},
      {"rgb8-interlaced", 9, 7, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_ADAM7},
      {"rgb8-1x1", 1, 1, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE},
  };
  int written = 0;
  for (const PngShape& shape : shapes) {
    const Bytes png = encodePng(shape);
    writeFile(folder / (std::string(shape.name) + ".png"), png);
    ++written;
    if (shape.interlace == PNG_INTERLACE_ADAM7 || shape.bitDepth == 16) {
      writeFile(folder / (std::string(shape.name) + "-cut.png"), truncated(png, png.size() * 2 / 3));
      ++written;
    }
  }
  return written;
}
#endif

#if KEYVALE_CORPUS_JPEG
struct JpegShape {
  const char* name;
  int width, height, components;
  bool progressive;
  int restartRows;
  bool subsampled;
};

Bytes encodeJpeg(const JpegShape& shape) {
  jpeg_compress_struct jpeg{};
  jpeg_error_mgr errors{};
  jpeg.err = jpeg_std_error(&errors);
  jpeg_create_compress(&jpeg);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&jpeg, &buffer, &size);
  jpeg.image_width = static_cast<JDIMENSION>(shape.width);
  jpeg.image_height = static_cast<JDIMENSION>(shape.height);
  jpeg.input_components = shape.components;
  jpeg.in_color_space = shape.components == 3 ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&jpeg);
  jpeg_set_quality(&jpeg, 75, TRUE);
  if (shape.progressive) jpeg_simple_progression(&jpeg);
  jpeg.restart_in_rows = shape.restartRows;
  if (shape.components == 3 && !shape.subsampled) {
    jpeg.comp_info[0].h_samp_factor = 1;
    jpeg.comp_info[0].v_samp_factor = 1;
  }
  jpeg_start_compress(&jpeg, TRUE);
  const auto rowBytes = static_cast<std::size_t>(shape.width * shape.components);
  Bytes pixels = samples(rowBytes * static_cast<std::size_t>(shape.height));
  while (jpeg.next_scanline < jpeg.image_height) {
    JSAMPROW row = pixels.data() + jpeg.next_scanline * rowBytes;
    jpeg_write_scanlines(&jpeg, &row, 1);
  }
  jpeg_finish_compress(&jpeg);
  Bytes out(buffer, buffer + size);
  jpeg_destroy_compress(&jpeg);
  std::free(buffer);
  return out;
}

int writeJpegSeeds(const std::filesystem::path& folder) {
  const JpegShape shapes[] = {
      {"rgb-8x8", 8, 8, 3, false, 0, false},
      {"rgb-420-17x9", 17, 9, 3, false, 0, true},
      {"grey-8x8", 8, 8, 1, false, 0, false},
      {"rgb-progressive-16x16", 16, 16, 3, true, 0, true},
      {"rgb-restarts-16x24", 16, 24, 3, false, 1, true},
      {"grey-1x1", 1, 1, 1, false, 0, false},
  };
  int written = 0;
  for (const JpegShape& shape : shapes) {
    const Bytes jpeg = encodeJpeg(shape);
    writeFile(folder / (std::string(shape.name) + ".jpg"), jpeg);
    ++written;
    if (shape.progressive || shape.restartRows > 0 || shape.width == 17) {
      writeFile(folder / (std::string(shape.name) + "-cut.jpg"), truncated(jpeg, jpeg.size() * 3 / 5));
      ++written;
    }
  }
  return written;
}
#endif

}  // namespace

int writePictureSeeds(const std::filesystem::path& folder) {
  int written = 0;
#if KEYVALE_CORPUS_PNG || KEYVALE_CORPUS_JPEG
  std::filesystem::create_directories(folder);
#endif
#if KEYVALE_CORPUS_PNG
  written += writePngSeeds(folder);
#endif
#if KEYVALE_CORPUS_JPEG
  written += writeJpegSeeds(folder);
#endif
  static_cast<void>(folder);
  return written;
}

}  // namespace Kvl::Fuzz
