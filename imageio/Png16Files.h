#pragma once
// 16-bit PNG pictures through libpng, read with their full samples (the
// 8-bit reader rounds them to 8 bits, as the classic key has always read
// them) and written with 16-bit samples and straight alpha, as PNG always
// holds it. A gAMA chunk of 1.0 marks linear light; anything else is sRGB.

#include <memory>
#include <string>

#include "DeepPicture.h"

namespace Kvl {

std::unique_ptr<DeepPictureSource> openPng16(const std::string& path, std::string& error);
std::unique_ptr<DeepPictureSink> makePng16Sink();

}  // namespace Kvl
