#pragma once
// The keyed frame in ProRes 4444's own pixels, done here rather than by
// swscale, which has no fast path for it.

#include "VideoState.h"

namespace Kvl {

// BGRA, top row first, into `frame` (YUVA 4:4:4, 10 bits, limited range)
// with the matrix `matrix` (SWS_CS_ITU601, SWS_CS_ITU709 or SWS_CS_BT2020).
void convertToYuva444p10(const Pixel32* pixels, AVFrame* frame, int matrix);

// Deep keyed pixels (straight alpha, 0..1, clamped) into the same format,
// every one of the ten bits of colour and alpha from the float values.
void convertDeepToYuva444p10(const PixelF* pixels, AVFrame* frame, int matrix);

// Deep keyed pixels into 16-bit RGBA (FFV1's deep format), clamped to 0..1.
void convertDeepToRgba64(const PixelF* pixels, AVFrame* frame);

}  // namespace Kvl
