#pragma once
// The plate keyer: a key for real, unevenly lit backdrops of any colour.
//
// The classic key compares a pixel's key channel with the other two, the
// same way all over the picture; on a lime wall whose green hardly exceeds
// its red, or one that falls off to the corners, that leaves the backdrop
// half opaque. The plate keyer first measures the backdrop as it really is:
// a coarse grid of its colour across the picture, taken from the parts that
// are surely backdrop and filled in smoothly behind the foreground. Each
// pixel is then keyed against the backdrop colour at its own place:
//
//  - by colour difference: how much less key-channel excess (the key channel
//    over the larger of the other two) it has than the local backdrop, and
//  - by hue: how far it lies off the line from black through the local
//    backdrop colour, the line a shadow or a brighter patch of backdrop
//    stays on, as far as the pixel has the backdrop's excess (a green or
//    cyan object in front of a lime wall);
//
// whichever says more foreground. Where a pixel is partly transparent its
// colour is un-mixed from the local backdrop (foreground = (pixel - (1 - a)
// backdrop) / a), and what key-channel excess is left is taken out as spill
// in the direction of the local backdrop's own colour, keeping brightness.
// docs/plate-keyer.md explains the method and its choices.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CleanPlate.h"
#include "CleanPlateEdges.h"
#include "PlateEdges.h"
#include "Pixel.h"

namespace Kvl {

// The backdrop's colour on a grid of cells laid over the whole picture, top
// row first; a pixel's backdrop colour is interpolated between cell centres.
// The grid does not depend on the picture's size, so one model keys every
// frame of a shot, whatever the size of the frames.
struct BackdropModel {
  int columns = 0;
  int rows = 0;
  std::vector<Pixel32> colours;  // columns x rows, alpha 0

  bool empty() const { return colours.empty(); }
  Pixel32 at(int column, int row) const {
    return colours[static_cast<std::size_t>(row) * static_cast<std::size_t>(columns) + static_cast<std::size_t>(column)];
  }
  bool operator==(const BackdropModel&) const = default;
};

// The most cells a side of the model has: a 1920 x 1080 frame gets 64 x 36
// cells of 30 pixels, fine enough for fall-off, a floor shadow and a fold.
inline constexpr int MaxBackdropCells = 64;

// The plate keyer's whole setting. The tolerances are in levels (0..255).
struct PlateSettings {
  KeyChannel channel = GreenChannel;
  // A pixel within this much key-channel excess of the local backdrop's is
  // backdrop: above the noise of the plate.
  std::uint8_t backdropTolerance = 12;
  // A pixel with no more key-channel excess than this is solid foreground.
  std::uint8_t foregroundTolerance = 4;
  // A pixel this far off the backdrop's line (black through the local
  // backdrop colour) starts to be foreground by hue ...
  std::uint8_t hueTolerance = 12;
  // ... and is solid this much further off it.
  std::uint8_t hueRange = 64;
  BackdropModel backdrop;
  // The backdrop's colour as the user named it (--screen), when they did:
  // the model was fitted to the part of the picture of its hue.
  std::optional<Pixel32> screen;
  // A picture of the empty set (--clean-plate), the file named in the
  // setting file and its pixels, smoothed: where the pixels are given and
  // of the picture's size, each pixel is keyed against the clean plate's
  // own pixel instead of the model.
  std::string cleanPlateFile;
  std::shared_ptr<const CleanPlate> cleanPlate;

  bool operator==(const PlateSettings&) const = default;
};

// What is asked of the plate keyer where its setting is chosen from a
// picture: the channel (empty: the backdrop's own), and whether the
// tolerances are measured from the plate's noise or left at their defaults.
struct PlateRequest {
  std::optional<KeyChannel> channel;
  bool autoAdjust = false;
  // The source's colour quantisation step (PictureSource::colourQuantisation):
  // auto-adjust allows for the compression error it brings.
  float colourQuantisation = 0;
  // The backdrop's colour, named: the backdrop is the part of the picture of
  // its hue (its light is still measured across the picture).
  std::optional<Pixel32> screen;
};

// The statistics a backdrop model is fitted from: the picture reduced to
// the model's grid, each cell with its mean colour and its spread. Rows are
// added in any order, each with its place counted from the top; fitting
// needs only a sample of rows, which `wantsRow` names.
class BackdropSurvey {
public:
  BackdropSurvey(std::uint32_t width, std::uint32_t height);

  bool wantsRow(std::uint32_t topRow) const;
  void addRow(const Pixel32* row, std::uint32_t topRow);

  int columns() const { return columns_; }
  int rows() const { return rows_; }

  struct Cell {
    std::uint64_t sum[3] = {};  // red, green, blue
    std::uint64_t sumOfSquares[3] = {};
    std::uint64_t count = 0;
  };
  const Cell& cell(int column, int row) const {
    return cells_[static_cast<std::size_t>(row) * static_cast<std::size_t>(columns_) + static_cast<std::size_t>(column)];
  }

private:
  std::uint32_t width_;
  std::uint32_t height_;
  int columns_;
  int rows_;
  std::uint32_t rowStep_;
  std::vector<int> columnOf_;  // the cell column of each pixel column
  std::vector<Cell> cells_;
};

// Fits the backdrop model to a survey and chooses the rest of the setting.
// The backdrop is the large, smooth, saturated region of one hue that most
// reaches the picture's border (keying/BackdropHue.h), not the majority of
// the picture. Nothing, with the reason in `refusal`, when the picture shows
// no backdrop: keying it would key the subject away.
std::optional<PlateSettings> fitPlate(const BackdropSurvey& survey, const PlateRequest& request,
                                      std::string* refusal = nullptr);

// Keys the rows of one picture against a plate setting. Each row comes with
// its place counted from the top; rows are independent of each other, so a
// picture may be keyed in any order and in pieces on several threads (one
// keyer each), always to the same bytes. Against a clean plate, a second
// pass over the keyed picture follows, its rows independent too.
class PlateKeyer {
public:
  PlateKeyer(const PlateSettings& settings, std::uint32_t width, std::uint32_t height);

  // Writes the keyed row (straight alpha; colour un-mixed and despilled)
  // from `in` to `out`, which may be the same array.
  void keyRow(const Pixel32* in, Pixel32* out, std::uint32_t topRow);

  // With a clean plate of the picture's size: keys the row `topRow` again,
  // in place, against the clean plate, once keyRow has keyed every row of
  // the picture (keying/CleanPlateEdges.h: the foreground is sought in the
  // rows around it too). Without one, leaves the row as it is.
  void keyRowAgainstCleanPlate(const PlateKey::CleanPlatePicture& picture, std::uint32_t topRow);
  // Whether keyRowAgainstCleanPlate has work: a clean plate of the
  // picture's size is given.
  bool usesCleanPlate() const {
    const CleanPlate* clean = settings_.cleanPlate.get();
    return clean && clean->width == width_ && clean->height == height_;
  }

  // The backdrop colour of each pixel of row `topRow`, in levels: the row's
  // reds, then its greens, then its blues. Valid until the next call.
  const float* backdropOf(std::uint32_t topRow) {
    backdropRow(topRow);
    return backdrop_.data();
  }
  // Whether some pixel of the row last asked for (backdropOf, keyRow) may
  // lie over a backdrop with less key-channel excess than the backdrop and
  // foreground tolerances together: never false where one does.
  bool mayHaveLowExcess() const { return mayHaveLowExcess_; }
  const PlateSettings& settings() const { return settings_; }

private:
  void backdropRow(std::uint32_t topRow);

  PlateSettings settings_;
  std::uint32_t width_;
  std::uint32_t height_;
  std::vector<int> leftCell_;       // per pixel column: the cell centre to its left
  std::vector<float> rightWeight_;  // and how far towards the next one it is
  std::vector<float> gridRow_;      // the model interpolated to one row's height: columns x 3
  std::vector<float> backdrop_;     // the backdrop colour of each pixel of the row: width x 3
  bool mayHaveLowExcess_ = true;    // of the row in backdrop_ (mayHaveLowExcess)
  std::vector<float> excess_;       // each pixel's key-channel excess
  std::vector<float> nearby_;       // each pixel's key-channel excess, averaged with its neighbours'
  std::vector<Pixel32> original_;   // the row as it came, for the edges' second look
  PlateKey::EdgeMarks edgeMarks_;   // the edge pass's per-pixel marks
  PlateKey::CleanPlateMarks cleanMarks_;  // the clean plate pass's
  PlateKey::ModelledBackdropMarks modelMarks_;  // and its sibling's against the model
};

}  // namespace Kvl
