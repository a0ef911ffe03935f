#pragma once
// Views of a key for the people who judge it rather than use it: the matte
// alone, as a grey picture for editors that cannot read alpha, and a status
// view that tells clear, solid and in-between pixels apart at a glance.

#include <cstddef>

#include "Pixel.h"

namespace Kvl {

// Each keyed pixel's alpha as an opaque grey: red = green = blue = alpha.
void matteAsGrey(const Pixel32* keyed, Pixel32* out, std::size_t count);

// The colours the status view marks a key's pixels with.
inline constexpr Pixel32 StatusClear = makePixel(0x20, 0x60, 0xFF);   // blue: alpha 0
inline constexpr Pixel32 StatusBetween = makePixel(0xFF, 0xB0, 0x00); // amber: 0 < alpha < 255
inline constexpr Pixel32 StatusSolid = makePixel(0xFF, 0xFF, 0xFF);   // white: alpha 255

// The status of each keyed pixel over its plate pixel: the plate's luma,
// dimmed to a quarter, plus three quarters of the status colour, opaque.
// A stray speck of in-between in a clear backdrop, or a hole in a solid
// subject, shows as amber where it would hide in the matte's greys.
void statusView(const Pixel32* plate, const Pixel32* keyed, Pixel32* out, std::size_t count);

}  // namespace Kvl
