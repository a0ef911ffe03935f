#pragma once
// Reading any picture the command line accepts. The format comes from the
// file's first bytes, not its name: PNG and JPEG carry signatures, and a
// file with neither goes to the project's own Targa reader, so a Targa
// picture is read exactly as the window reads it.

#include <memory>
#include <string>

#include "imageio/ImageLoader.h"

namespace Kvl::Cli {

enum class PictureFormat { Targa, Png, Jpeg };

// Targa when the file has no PNG or JPEG signature or cannot be read.
PictureFormat sniffPictureFormat(const std::string& path);

// Whether this build links the library for the format (the Windows build
// of the command line is Targa only).
bool canReadFormat(PictureFormat format);
bool canWritePng();

struct LoadedPicture {
  std::unique_ptr<ImageLoader> image;  // null when the picture could not be read
  std::string error;                   // why not
  // Set when the file ended early or was damaged: it was decoded as far as
  // possible, the missing pixels filled in, and the user should be told.
  std::string warning;

  bool ok() const { return image != nullptr; }
};

LoadedPicture loadPicture(const std::string& path, PictureFormat format);

// "file is truncated; missing pixels are keyed as black" and the like.
extern const char* const TruncatedTargaWarning;

}  // namespace Kvl::Cli
