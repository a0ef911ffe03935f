#pragma once
// JPEG input: baseline and progressive, colour or grey, handed out like a
// Targa picture (alpha 0).

#include "DecodedRows.h"
#include "LumaGuidedChroma.h"

namespace Kvl {

class JpegReader final : public DecodedRows {
public:
  // `chroma`: how colour stored at reduced resolution is brought to full.
  explicit JpegReader(ChromaUpsampling chroma = ChromaUpsampling::Smooth)
      : DecodedRows(PictureFormat::Jpeg), chroma_(chroma) {}
  // False with failure() set; libjpeg's own words for a damaged file. A file
  // whose data ends early or is corrupt in places opens all the same, with
  // what the decoder made of it, and counts as damaged().
  bool open(const char* path);

private:
  bool openFile(const char* path);
  ChromaUpsampling chroma_;
};

}  // namespace Kvl
