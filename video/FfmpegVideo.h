#pragma once
// The video backend on Debian's FFmpeg libraries. keyvale-cli reaches it
// through its video module; the tests and the fuzz targets link it in and
// hand it to useVideoBackend(). No codec header is seen from here.

#include "VideoBackend.h"

namespace Kvl {

const VideoBackend& ffmpegVideoBackend();

}  // namespace Kvl
