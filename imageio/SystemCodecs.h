#pragma once
// PNG and JPEG (and BMP, GIF and TIFF) through the codecs every Windows since
// Vista carries, for the Windows builds, which have neither libpng nor
// libjpeg. Built only for Windows, over platform/WindowsImaging.h.

#include <memory>
#include <string>

#include "PictureError.h"
#include "PictureSink.h"
#include "PictureSource.h"

namespace Kvl {

// The picture at `path` decoded whole, top row first, alpha 0, like the
// libraries' readers; null with `error` set (naming `format`) when the
// system cannot decode it.
std::unique_ptr<PictureSource> openWithSystemCodecs(const std::string& path, PictureFormat format,
                                                    PictureError& error);

// 8-bit RGBA PNG output, upright, like the libpng sink's.
std::unique_ptr<PictureSink> makeSystemPngSink();

}  // namespace Kvl
