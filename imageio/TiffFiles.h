#pragma once
// TIFF pictures through libtiff: RGB and RGBA (and grey) of 8 or 16 bits
// or 32-bit floats, in strips, any compression libtiff decodes; written as
// 16-bit samples (8-bit or float where the picture came so), deflate
// compressed. Whether alpha is premultiplied is the file's ExtraSamples
// field: associated (premultiplied) or unassociated (straight) alpha.

#include <memory>
#include <string>

#include "DeepPicture.h"

namespace Kvl {

std::unique_ptr<DeepPictureSource> openTiff(const std::string& path, std::string& error);
std::unique_ptr<DeepPictureSink> makeTiffSink();

}  // namespace Kvl
