#pragma once
// Pixels of more than 8 bits: four floats, for pictures whose samples are
// 16-bit integers or half and full floats. Integer samples are held as
// sample / largest sample (0..1); float samples as the file holds them,
// linear light above 1.0 included. The 8-bit path (Pixel32) is untouched.

#include <cstdint>

namespace Kvl {

struct PixelF {
  float red = 0;
  float green = 0;
  float blue = 0;
  float alpha = 0;

  bool operator==(const PixelF&) const = default;
};

// How a picture's values relate to light: linear (scene light, as OpenEXR
// holds it) or coded with the sRGB or the Rec. 709 curve, as 8- and 16-bit
// pictures are. The plate keyer keys the values as they are (linear light
// in linear light); the transfer says how to show them in 8 bits and how a
// new background is mixed in.
enum class Transfer { Linear, Srgb, Rec709 };

// "linear", "srgb" or "rec709".
const char* transferName(Transfer transfer);

// The coded value of a linear one and back, for 0..1 and beyond (values
// below 0 keep their sign, so nothing is lost on the way).
float encodeTransfer(float linear, Transfer transfer);
float decodeTransfer(float coded, Transfer transfer);

}  // namespace Kvl
