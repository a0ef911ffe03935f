#pragma once
// Picture files of every format the program knows. The format comes from the
// file's first bytes, not its name: PNG and JPEG carry signatures, and a
// file with neither goes to the Targa reader, so a Targa picture is read
// exactly as the window reads it.

#include <memory>
#include <string>

#include "LumaGuidedChroma.h"
#include "PictureError.h"
#include "PictureSink.h"
#include "PictureSource.h"

namespace Kvl {

// Targa when the file has no PNG or JPEG signature or cannot be read.
PictureFormat sniffPictureFormat(const std::string& path);

// Whether this build can read the format: through libpng and libjpeg on
// Linux, through the system's codecs on Windows.
bool canReadFormat(PictureFormat format);
bool canWritePng();
bool canWriteJpeg();

// Opens the picture at `path`, read as `format`; null with `error` set when
// it cannot be read. `chroma` applies to JPEG files read through libjpeg.
std::unique_ptr<PictureSource> openPicture(const std::string& path, PictureFormat format, PictureError& error,
                                           ChromaUpsampling chroma = ChromaUpsampling::Smooth);

// Opens a PNG picture with the alpha it holds (solid where it holds none),
// for the tools that measure a keyed output against a true matte; null with
// `error` set when it cannot be read or this build reads no PNG itself.
std::unique_ptr<PictureSource> openPngWithAlpha(const std::string& path, PictureError& error);

// The deflate level of PNG output when none is asked for, and the range
// there is (libdeflate's: 0 stores, 12 squeezes hardest).
constexpr int DefaultPngLevel = 1;
constexpr int HighestPngLevel = 12;

// A PNG output deflated at `level` (0-12), or null on a build without libpng.
std::unique_ptr<PictureSink> makePngSink(int level);
// A JPEG output (for opaque pictures), or null on a build without libjpeg.
std::unique_ptr<PictureSink> makeJpegSink();
// A JPEG output stored as most footage is, colour at half resolution each
// way (4:2:0), at `quality` (1-100): for test plates whose compression a
// keyer must cope with. Null on a build without libjpeg.
std::unique_ptr<PictureSink> makeFootageJpegSink(int quality);

}  // namespace Kvl
