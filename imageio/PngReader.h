#pragma once
// PNG input: any 8-bit grey, grey+alpha, RGB, RGBA or palette picture, and
// 16-bit ones reduced to 8 bits, handed out like a Targa picture (alpha 0),
// so the preview, detection and auto adjust treat it exactly alike. Tools
// that measure a keyed output read its alpha instead.

#include "DecodedRows.h"

namespace Kvl {

class PngReader final : public DecodedRows {
public:
  explicit PngReader(AlphaReading alpha = AlphaReading::Dropped) : DecodedRows(PictureFormat::Png), alpha_(alpha) {}
  // False with failure() set; libpng's own words for a damaged file.
  bool open(const char* path);

private:
  bool openFile(const char* path);

  AlphaReading alpha_;
};

}  // namespace Kvl
