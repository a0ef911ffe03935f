#include "CodecFiles.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#if KEYVALE_HAVE_PNG
#include <png.h>
#endif
#if KEYVALE_HAVE_JPEG
#include <jpeglib.h>
#endif

namespace Kvl::Test {

#if KEYVALE_HAVE_PNG
// Test fixtures are always valid, so libpng's default handling of an
// error (abort) is acceptable here.
void writePng(const std::string& path, const PngContent& content) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) throw std::runtime_error("cannot write " + path);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, file);
  png_set_IHDR(png, info, content.width, content.height, content.bitDepth, content.colourType,
               content.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!content.palette.empty()) {
    std::vector<png_color> colours;
    for (std::size_t i = 0; i + 2 < content.palette.size(); i += 3) {
      colours.push_back(png_color{content.palette[i], content.palette[i + 1], content.palette[i + 2]});
    }
    png_set_PLTE(png, info, colours.data(), static_cast<int>(colours.size()));
  }
  if (!content.transparency.empty()) {
    png_set_tRNS(png, info, content.transparency.data(), static_cast<int>(content.transparency.size()), nullptr);
  }
  png_write_info(png, info);
  std::vector<png_bytep> rows;
  for (const auto& row : content.rows) rows.push_back(const_cast<png_bytep>(row.data()));
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
}

RgbaImage readPngRgba(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  RgbaImage result;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return result;
  image.format = PNG_FORMAT_RGBA;
  result.rgba.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, result.rgba.data(), 0, nullptr)) return RgbaImage{};
  result.width = image.width;
  result.height = image.height;
  return result;
}
#endif

#if KEYVALE_HAVE_JPEG
namespace {

// Writes a JPEG with libjpeg's defaults for the colour space, and the given
// scan script when there is one.
void compressJpeg(const std::string& path, int width, int height, int components,
                  const std::vector<std::uint8_t>& samples, int quality, const std::vector<jpeg_scan_info>& script) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) throw std::runtime_error("cannot write " + path);
  jpeg_compress_struct jpeg{};
  jpeg_error_mgr errors{};
  jpeg.err = jpeg_std_error(&errors);
  jpeg_CreateCompress(&jpeg, JPEG_LIB_VERSION, sizeof jpeg);
  jpeg_stdio_dest(&jpeg, file);
  jpeg.image_width = static_cast<JDIMENSION>(width);
  jpeg.image_height = static_cast<JDIMENSION>(height);
  jpeg.input_components = components;
  jpeg.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 4 ? JCS_CMYK : JCS_RGB;
  jpeg_set_defaults(&jpeg);
  jpeg_set_quality(&jpeg, quality, TRUE);
  if (!script.empty()) {
    jpeg.scan_info = script.data();
    jpeg.num_scans = static_cast<int>(script.size());
  }
  jpeg_start_compress(&jpeg, TRUE);
  while (jpeg.next_scanline < jpeg.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(samples.data() + std::size_t{jpeg.next_scanline} *
                                                             static_cast<std::size_t>(width * components));
    jpeg_write_scanlines(&jpeg, &row, 1);
  }
  jpeg_finish_compress(&jpeg);
  jpeg_destroy_compress(&jpeg);
  std::fclose(file);
}

jpeg_scan_info greyScan(int first, int last, int high, int low) {
  jpeg_scan_info scan{};
  scan.comps_in_scan = 1;
  scan.component_index[0] = 0;
  scan.Ss = first;
  scan.Se = last;
  scan.Ah = high;
  scan.Al = low;
  return scan;
}

}  // namespace

void writeJpeg(const std::string& path, int width, int height, int components, const std::vector<std::uint8_t>& samples,
               int quality) {
  compressJpeg(path, width, height, components, samples, quality, {});
}

void writeProgressiveGreyJpeg(const std::string& path, int width, int height, const std::vector<std::uint8_t>& grey,
                              int scans) {
  constexpr int PlanesPerBand = 8;
  if (scans < 2 || scans > 1 + 63 * PlanesPerBand) throw std::invalid_argument("scan count out of range");
  std::vector<jpeg_scan_info> script = {greyScan(0, 0, 0, 0)};
  for (int band = 1, left = scans - 1; left > 0; ++band) {
    const int planes = std::min(left, PlanesPerBand);
    script.push_back(greyScan(band, band, 0, planes - 1));
    for (int bit = planes - 1; bit > 0; --bit) script.push_back(greyScan(band, band, bit, bit - 1));
    left -= planes;
  }
  compressJpeg(path, width, height, 1, grey, 92, script);
}

std::vector<std::uint8_t> decodeJpegRgb(const std::string& path, int& width, int& height) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) throw std::runtime_error("cannot read " + path);
  jpeg_decompress_struct jpeg{};
  jpeg_error_mgr errors{};
  jpeg.err = jpeg_std_error(&errors);
  jpeg_CreateDecompress(&jpeg, JPEG_LIB_VERSION, sizeof jpeg);
  jpeg_stdio_src(&jpeg, file);
  jpeg_read_header(&jpeg, TRUE);
  jpeg.out_color_space = JCS_RGB;
  jpeg_start_decompress(&jpeg);
  width = static_cast<int>(jpeg.output_width);
  height = static_cast<int>(jpeg.output_height);
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
  while (jpeg.output_scanline < jpeg.output_height) {
    JSAMPROW row = rgb.data() + std::size_t{jpeg.output_scanline} * static_cast<std::size_t>(width) * 3;
    jpeg_read_scanlines(&jpeg, &row, 1);
  }
  jpeg_finish_decompress(&jpeg);
  jpeg_destroy_decompress(&jpeg);
  std::fclose(file);
  return rgb;
}
#endif

}  // namespace Kvl::Test
