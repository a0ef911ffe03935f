#pragma once
// OpenEXR pictures through the OpenEXR library: any scan-line or tiled
// RGB or RGBA file of half, float or unsigned samples, any compression the
// library reads; written as half floats (float where the picture came as
// float), ZIP or PIZ compressed. OpenEXR holds linear light with its colour
// premultiplied by alpha, as the format's convention says. ZIP files of
// half samples are inflated and deflated here (ExrHalfBlocks), faster than
// the library does it, with the same values.

#include <memory>
#include <string>

#include "DeepPicture.h"

namespace Kvl {

std::unique_ptr<DeepPictureSource> openExr(const std::string& path, std::string& error);
std::unique_ptr<DeepPictureSink> makeExrSink(ExrCompression compression);

}  // namespace Kvl
