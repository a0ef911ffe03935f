#pragma once
// PNG output for the command line: 8-bit RGBA, the keyed colours with the
// levelled alpha, upright.

#include <cstdint>
#include <string>

#include "engine/Pixel.h"

namespace Kvl::Cli {

// Writes `pixels` (bottom row first, as every keyed buffer holds them) top
// row first, as PNG stores them. The target is replaced only once the whole
// file is written; on false it is untouched, no partial file is left, and
// `reason` says why.
bool writeKeyedPng(const std::string& path, const Pixel32* pixels, std::uint32_t width,
                   std::uint32_t height, std::string& reason);

}  // namespace Kvl::Cli
