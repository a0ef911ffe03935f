#pragma once
// A steady matte for footage: the plate keyer keys each frame on its own,
// so the sensor noise of each frame moves the partly transparent pixels of
// an edge or a strand of hair up and down from frame to frame, and the
// matte flickers. Where the plate did not change between frames (beyond
// its noise) the true alpha did not either; there the unsure pixels' alpha
// is averaged with the earlier frames' own per-frame alpha. Where the plate
// changed (an edge or a strand that moved), the frame's own alpha stands,
// so the matte follows motion at once. Solid and clear pixels stay exactly
// as keyed.
//
// The filter only looks back over the per-frame keys of a few earlier
// frames, never at its own results, so a frame's steady matte depends on
// those frames alone: a farm chunk that keys those frames first gives the
// bytes of a single run. docs/plate-keyer.md explains the choices.

#include <cstdint>
#include <vector>

#include "PlateKeyer.h"
#include "Pixel.h"

namespace Kvl {

// How many earlier frames a frame's steady matte looks back over.
inline constexpr int SteadyWindow = 2;
// How far (pixels, each way) a pixel's content is looked for in the frame
// before: a subject moving that much from frame to frame is followed.
inline constexpr std::int64_t SteadySearch = 3;

// One frame as shot and as the per-frame key saw it.
struct KeyedFrame {
  std::vector<Pixel32> plate;       // as shot, top row first
  std::vector<std::uint8_t> alpha;  // the per-frame key's alpha, top row first
};

// The frame `plate` (as shot) with its per-frame key `keyed`, both
// width x height: what later frames need of it.
KeyedFrame keyedFrameOf(const Pixel32* plate, const Pixel32* keyed, std::uint32_t width, std::uint32_t height);

// The typical difference between the 3 x 3 neighbourhoods of `now` and
// `then` (both width x height, top row first; the sum of 27 channel
// differences), the median over the picture: where most of it stayed
// still, the two frames' noise. Kept between a sixth and a half of 27 x
// `backdropTolerance`. Integer arithmetic: the same on every machine.
std::uint32_t noiseBetween(const Pixel32* now, const Pixel32* then, std::uint32_t width, std::uint32_t height,
                           std::uint8_t backdropTolerance);

// Steadies `keyed`, the per-frame key of `plate` (width x height, top row
// first), with `earlier` frames of the same size, nearest first (at most
// SteadyWindow are used). Each unsure pixel's alpha is averaged with the
// earlier per-frame alpha where its neighbourhood is found again (within
// SteadySearch pixels; two frames back, around twice that motion), each
// weighed by how closely the plate matches there against the noise. The
// pixels whose alpha changes have their colour un-mixed again from the
// plate at the new alpha, against the backdrop the setting gives, and their
// spill taken out where the key took it out. Earlier frames of another
// size are passed over.
void steadyMatte(const Pixel32* plate, Pixel32* keyed, std::uint32_t width, std::uint32_t height,
                 const std::vector<const KeyedFrame*>& earlier, const PlateSettings& settings);

}  // namespace Kvl
