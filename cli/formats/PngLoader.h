#pragma once
// PNG input for the command line: any 8-bit grey, grey+alpha, RGB, RGBA or
// palette picture, and 16-bit ones reduced to 8 bits, decoded into the same
// record the Targa reader fills (bottom-up rows, alpha 0), so the preview,
// detection and auto adjust treat it exactly like a Targa picture.

#include <string>

#include "imageio/ImageLoader.h"

namespace Kvl::Cli {

class PngLoader final : public ImageLoader {
public:
  bool load(const char* path) override;
  // Why the last load failed, for a person ("not a PNG file", libpng's words).
  const std::string& error() const { return error_; }

private:
  bool loadFile(const char* path);
  bool fail(std::string reason);

  std::string error_;
};

}  // namespace Kvl::Cli
