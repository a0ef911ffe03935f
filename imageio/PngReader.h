#pragma once
// PNG input: any 8-bit grey, grey+alpha, RGB, RGBA or palette picture, and
// 16-bit ones reduced to 8 bits, handed out like a Targa picture (alpha 0),
// so the preview, detection and auto adjust treat it exactly alike.

#include "DecodedRows.h"

namespace Kvl {

class PngReader final : public DecodedRows {
public:
  PngReader() : DecodedRows(PictureFormat::Png) {}
  // False with failure() set; libpng's own words for a damaged file.
  bool open(const char* path);

private:
  bool openFile(const char* path);
};

}  // namespace Kvl
