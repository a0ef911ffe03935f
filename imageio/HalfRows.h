#pragma once
// Half floats and floats turned into each other a run at a time, with the
// values Imath's half gives one sample at a time: rounding to the nearest
// half, ties to the even one; too large to infinity; infinities and NaNs
// kept (a NaN's payload as far as a half holds it). Written as selects
// rather than branches, so the compiler vectorises the loops.

#include <cstddef>
#include <cstdint>

namespace Kvl {

void halvesToFloats(const std::uint16_t* halves, float* floats, std::size_t count);
void floatsToHalves(const float* floats, std::uint16_t* halves, std::size_t count);

}  // namespace Kvl
