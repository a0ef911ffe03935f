#pragma once
// The one engine object: it loads a picture into the 240 x 160 preview
// source, renders the keyed composite and the matte into the shell's two
// surfaces, and starts a keyed save at full resolution.

#include <cstdint>
#include <string>

#include "keying/Key.h"
#include "keying/Pixel.h"
#include "imageio/TgaFormat.h"

namespace Kvl {

class ByteSource;
class ImageLoader;
class PictureSource;
class ShellPort;
class TgaReader;

// What reading a picture into the preview found: why it failed, if it did.
struct PreviewRead {
  LoadError error = LoadError::None;
  TgaHeader header;        // as far as it was read
  bool truncated = false;  // the file ended early; missing pixels are black
  bool ok() const { return error == LoadError::None; }
};

class KeyProcessor {
public:
  // Borrows the four buffers (PreviewPixelCount elements each) for its whole
  // life; owns none of them. `shell` receives the save-failure message.
  KeyProcessor(std::uint8_t* checkerboard, Pixel32* previewSource, Pixel32* composite,
               Pixel32* matte, ShellPort* shell);

  // Stores the path, then reads the picture and resamples it into the preview
  // source. A file that cannot be read leaves the preview as it was.
  void loadSource(const char* path);
  // Reads and resamples without storing the path, and says how it went;
  // the preview is unchanged on failure. The picture streams through a
  // row at a time: only the rows the preview samples are decoded, and
  // memory stays small whatever the picture's size.
  PreviewRead readPreview(const char* path);
  // The same from bytes already in hand (tests, benchmarks).
  PreviewRead readPreviewFrom(ByteSource& source);
  // Samples an opened picture of any format into the preview source, as
  // Open does. Throws std::bad_alloc when a row cannot be held.
  void resampleToPreview(PictureSource& source);
  // Keys the preview source into the composite (over the checkerboard) and
  // the matte. Allocates nothing: it runs on every slider message.
  void render(KeyChannel channel, std::uint8_t contrast, std::uint8_t offset);
  // Writes the keyed picture from the stored source path; a failure shows
  // "Unable to save file." through the shell.
  void saveKeyed(const char* outputPath, KeyChannel channel, std::uint8_t contrast,
                 std::uint8_t offset);
  void keyPixel(Pixel32& pixel, KeyChannel channel) const;
  // Kvl::dominantChannel of the preview source.
  KeyChannel dominantChannel() const;

  void resampleToPreview(const ImageLoader& image);
  static Pixel32 samplePixel(float x, float y, const ImageLoader& image);
  static void fillCheckerboard(std::uint8_t* checkerboard);
  static void scrollCheckerboard(std::uint8_t* checkerboard);

  const std::string& sourcePath() const { return sourcePath_; }
  const Pixel32* previewSource() const { return previewSource_; }
  const Pixel32* composite() const { return composite_; }

private:
  PreviewRead readPreviewThrough(TgaReader& reader, bool opened);

  std::uint8_t* checkerboard_;  // we don't own it
  Pixel32* previewSource_;      // we don't own it
  Pixel32* composite_;          // we don't own it: the left surface's pixels
  Pixel32* matte_;              // we don't own it: the right surface's pixels
  ShellPort* shell_;            // we don't own it
  std::string sourcePath_;
};

// The grey both surfaces hold before the first render.
inline constexpr std::uint8_t SurfaceFillByte = 0x78;

}  // namespace Kvl
