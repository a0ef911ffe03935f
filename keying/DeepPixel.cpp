#include "DeepPixel.h"

#include <cmath>

namespace Kvl {
namespace {

// IEC 61966-2-1 (sRGB) and ITU-R BT.709's camera curve, each mirrored below 0.
float srgbEncode(float v) { return v <= 0.0031308f ? 12.92f * v : 1.055f * std::pow(v, 1 / 2.4f) - 0.055f; }
float srgbDecode(float v) { return v <= 0.04045f ? v / 12.92f : std::pow((v + 0.055f) / 1.055f, 2.4f); }
float rec709Encode(float v) { return v < 0.018f ? 4.5f * v : 1.099f * std::pow(v, 0.45f) - 0.099f; }
float rec709Decode(float v) { return v < 0.081f ? v / 4.5f : std::pow((v + 0.099f) / 1.099f, 1 / 0.45f); }

float mirrored(float v, float (*curve)(float)) { return v < 0 ? -curve(-v) : curve(v); }

}  // namespace

const char* transferName(Transfer transfer) {
  switch (transfer) {
    case Transfer::Linear: return "linear";
    case Transfer::Rec709: return "rec709";
    case Transfer::Srgb: break;
  }
  return "srgb";
}

float encodeTransfer(float linear, Transfer transfer) {
  switch (transfer) {
    case Transfer::Linear: return linear;
    case Transfer::Rec709: return mirrored(linear, rec709Encode);
    case Transfer::Srgb: break;
  }
  return mirrored(linear, srgbEncode);
}

float decodeTransfer(float coded, Transfer transfer) {
  switch (transfer) {
    case Transfer::Linear: return coded;
    case Transfer::Rec709: return mirrored(coded, rec709Decode);
    case Transfer::Srgb: break;
  }
  return mirrored(coded, srgbDecode);
}

}  // namespace Kvl
