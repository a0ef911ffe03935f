#pragma once
// The keyers the command line offers, behind one front: what a picture is
// keyed with, how that is chosen from a picture, and keying with it.
//
//  - classic: the window's key, byte for byte as its Save As writes it;
//  - plate:   the plate keyer, for uneven and off-green backdrops.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "keying/KeySettings.h"
#include "keying/PlateKeyer.h"
#include "imageio/PictureSink.h"
#include "imageio/PictureSource.h"

namespace Kvl {

enum class KeyerKind { Classic, Plate };

// "classic" or "plate".
const char* keyerName(KeyerKind keyer);
std::optional<KeyerKind> parseKeyerName(const std::string& name);

// What a picture is keyed with: the keyer and its setting.
struct Keying {
  KeyerKind keyer = KeyerKind::Classic;
  KeySettings classic;  // the classic keyer's
  PlateSettings plate;  // the plate keyer's

  bool operator==(const Keying&) const = default;
};

// What is asked: for the classic keyer the window's request (given values or
// chosen ones); for the plate keyer a whole setting, or one to fit to the
// picture with the request's channel (empty: the backdrop's) and auto adjust.
struct KeyingRequest {
  KeyerKind keyer = KeyerKind::Classic;
  SettingsRequest classic;
  std::optional<PlateSettings> plate;
  // For the plate keyer: the backdrop's colour, named (--screen).
  std::optional<Pixel32> screen;
  // For the plate keyer: a picture of the empty set to key against, its
  // file and its pixels (PlateSettings::cleanPlate).
  std::string cleanPlateFile;
  std::shared_ptr<const CleanPlate> cleanPlate;

  // Given whole: nothing is chosen from a picture.
  static KeyingRequest given(const Keying& keying);
  bool choosesFromPicture() const;
};

// The keying for `source`, choosing from the picture what the request does
// not give; the source is read for that, so rewind it before keying.
// Nothing, with the reason in `refusal`, when the plate keyer finds no
// backdrop in the picture.
std::optional<Keying> chooseKeying(PictureSource& source, const KeyingRequest& request, std::string& refusal);

// The keying a request gives without a picture (the classic keyer's given
// values; a plate request must hold its setting).
Keying givenKeying(const KeyingRequest& request);

// Keys every row of `source` into `sink`, a chunk at a time; the plate
// keyer on up to `threads` threads (the bytes are the same for any number).
void keyPicture(PictureSource& source, const Keying& keying, PictureSink& sink, int threads = 1);

// Keys a whole frame held in memory, top row first, in place.
void keyFrame(Pixel32* pixels, std::uint32_t width, std::uint32_t height, const Keying& keying, int threads = 1);

}  // namespace Kvl
