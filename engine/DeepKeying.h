#pragma once
// The plate keyer over a whole deep picture: its setting fitted from the
// picture's samples, and every row keyed in float, a chunk at a time so
// memory stays bounded, on several threads.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "keying/DeepPlateKeyer.h"
#include "keying/KeySettings.h"
#include "imageio/DeepPicture.h"

namespace Kvl {

// The plate setting for the picture, fitted as for an 8-bit one from its
// samples in levels (each rounded to the nearest level for the survey:
// the model is a smooth surface of 8-bit colours). The source is read from
// its start; rewind it before keying. Nothing, with the reason in
// `refusal`, when the picture shows no backdrop.
std::optional<PlateSettings> surveyDeepPlate(DeepPictureSource& source, const SettingsRequest& request,
                                             std::optional<Pixel32> screen, std::string& refusal);

// Keyed rows, top row first: `rows` rows of the picture's width, starting
// at its row `topRow`.
using DeepRowsOut = std::function<void(const PixelF* rows, std::uint32_t topRow, std::size_t count)>;

// Keys every row of `source` from where it stands, on up to `threads`
// threads; the values do not depend on their number.
void keyDeepPicture(DeepPictureSource& source, const PlateSettings& settings, const DeepRowsOut& out, int threads);

}  // namespace Kvl
