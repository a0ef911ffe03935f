#pragma once
// A new background for keyed pictures and clips: one colour, or a picture
// scaled to cover the frame and centred. Keyed over it, the output is opaque.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "keying/Pixel.h"
#include "imageio/PictureFiles.h"
#include "imageio/PictureSink.h"

namespace Kvl::Cli {

class Background {
public:
  static Background colour(Pixel32 colour);
  // The picture's pixels (top row first) scaled to width x height.
  static Background picture(std::vector<Pixel32> pixels);

  // Lays `count` rows of a keyed picture, top row first, starting at its
  // row `topRow` (counted from the top), over the background.
  void composeRows(Pixel32* rows, std::uint32_t topRow, std::size_t count) const;
  // The background's pixel at column x of row `topRow` (counted from the top).
  Pixel32 at(std::uint32_t x, std::uint32_t topRow) const {
    return pixels_.empty() ? colour_ : pixels_[std::size_t{topRow} * width + x];
  }
  std::uint32_t width = 0;

private:
  Pixel32 colour_ = 0;
  std::vector<Pixel32> pixels_;  // empty for a colour
};

// The whole picture at `path`, top row first, and its size (and, when asked
// for, its colour quantisation step, PictureSource::colourQuantisation);
// nothing, with the reason, when it cannot be read.
std::optional<std::vector<Pixel32>> readWholePicture(const std::string& path, std::uint32_t& width,
                                                     std::uint32_t& height, std::string& error,
                                                     ChromaUpsampling chroma = ChromaUpsampling::Smooth,
                                                     float* colourQuantisation = nullptr);

// "#RRGGBB", or a picture file of any format read by imageio, for a frame of
// width x height. Nothing, with the reason in `error`, when it is neither.
std::optional<Background> makeBackground(const std::string& colourOrPicture, std::uint32_t width, std::uint32_t height,
                                         std::string& error);

// Picture output over a background: the keyed rows are laid over it before
// they go on to `inner`.
class BackgroundSink final : public PictureSink {
public:
  BackgroundSink(std::unique_ptr<PictureSink> inner, Background background)
      : inner_(std::move(inner)), background_(std::move(background)) {}
  bool open(const std::string& path, std::uint64_t width, std::uint64_t height, RowOrder order) override;
  void writeRows(std::uint64_t firstRow, const Pixel32* rows, std::size_t count) override;
  bool commit() override;

private:
  std::unique_ptr<PictureSink> inner_;
  Background background_;
  std::uint64_t height_ = 0;
  std::vector<Pixel32> row_;
};

// The background's pixels for a whole frame, top row first.
std::vector<Pixel32> backgroundPixels(const Background& background, std::uint32_t height);

// Keyed rows given light wrap before they go on to `inner` (a
// BackgroundSink): held until the picture is whole, as the blur reaches
// across rows, then handed on a row at a time in the order they came.
class LightWrapSink final : public PictureSink {
public:
  LightWrapSink(std::unique_ptr<PictureSink> inner, Background background, int radius)
      : inner_(std::move(inner)), background_(std::move(background)), radius_(radius) {}
  bool open(const std::string& path, std::uint64_t width, std::uint64_t height, RowOrder order) override;
  void writeRows(std::uint64_t firstRow, const Pixel32* rows, std::size_t count) override;
  bool commit() override;

private:
  std::unique_ptr<PictureSink> inner_;
  Background background_;
  int radius_;
  std::uint32_t width_ = 0, height_ = 0;
  RowOrder order_ = RowOrder::BottomUp;
  std::vector<Pixel32> picture_;  // top row first
};

}  // namespace Kvl::Cli
