#pragma once
// Colour at full resolution from colour stored at half resolution (4:2:0,
// 4:2:2, 4:4:0 JPEG), guided by the luma, which is stored whole.
//
// A decoder's usual upsampling blends each colour sample with its
// neighbours, so along an edge the colour of one side bleeds about a pixel
// into the other: a backdrop pixel beside a yellow hat comes out
// yellowish, and a keyer sees a rim of foreground around every object.
// The luma of that pixel is exact, though. Within a few samples of an edge
// between two colours, colour is a straight-line function of luma (every
// pixel there is a mix of the same two), so the colour of each pixel is
// taken as the blended colour corrected along that line by how far the
// pixel's own luma lies from the blended luma. The line is fitted to the
// 3x3 colour samples around the pixel's own, regularised so that where the
// luma is flat (or noise) the correction vanishes and the result is the
// usual blend; it is clamped to the colours the line was fitted to, so it
// never invents a colour. Where luma does not separate two colours (equal
// brightness) nothing is gained and nothing lost.

#include <cstdint>

#include "keying/Pixel.h"

namespace Kvl {

// How a JPEG's colour at reduced resolution is brought to full resolution:
// as libjpeg does it (the window's reading and the classic key's), or
// guided by the luma (for the plate keyer, which judges every pixel's
// colour against the backdrop's).
enum class ChromaUpsampling { Smooth, LumaGuided };

// `pixels` (width x height, top row first) hold luma, Cb and Cr in their
// blue, green and red bytes, each colour sample repeated over its block of
// blockWidth x blockHeight pixels (1 or 2 each) as a decoder that only
// replicates leaves them; they become BGRX, the filler byte zero, converted
// from YCbCr as JPEG (JFIF) defines it.
void rebuildColourFromLuma(Pixel32* pixels, std::uint32_t width, std::uint32_t height, int blockWidth,
                           int blockHeight);

}  // namespace Kvl
