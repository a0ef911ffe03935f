#pragma once
// JPEG input for the command line: baseline and progressive, colour or
// grey, decoded into the same record the Targa reader fills (bottom-up
// rows, alpha 0).

#include <string>

#include "imageio/ImageLoader.h"

namespace Kvl::Cli {

class JpegLoader final : public ImageLoader {
public:
  bool load(const char* path) override;
  // Why the last load failed, for a person (libjpeg's words where it spoke).
  const std::string& error() const { return error_; }
  // The data ended early or was corrupt in places; the decoder filled in
  // what it could not read, much as a truncated Targa file loads.
  bool damaged() const { return damaged_; }

private:
  bool loadFile(const char* path);
  bool fail(std::string reason);

  std::string error_;
  bool damaged_ = false;
};

}  // namespace Kvl::Cli
