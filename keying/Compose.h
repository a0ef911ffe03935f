#pragma once
// Keyed pixels laid over a new background, giving opaque pixels.

#include <cstddef>

#include "Pixel.h"

namespace Kvl {

// Each colour component c of a keyed pixel of alpha a over the background's
// component b becomes (c * a + b * (255 - a) + 127) / 255 in integers: the
// nearest whole value, halves rounded up. Alpha becomes 255.
void composeOver(Pixel32* pixels, const Pixel32* background, std::size_t count);
void composeOverColour(Pixel32* pixels, Pixel32 colour, std::size_t count);

}  // namespace Kvl
