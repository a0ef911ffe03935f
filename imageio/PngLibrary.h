#pragma once
// What the 8-bit and the 16-bit PNG readers share of libpng: where its
// messages go, its structs' lifetime, and the steps that may jump back on
// an error. Only for imageio's own PNG files.

#include <png.h>

#include <cstdint>
#include <string>

namespace Kvl {

// Where libpng's complaints go instead of stderr: the first error message
// is kept for the user, warnings are dropped. Handed to the structs below.
struct PngMessages {
  std::string error;
};

// A read or write struct with its info struct, destroyed together.
class PngStructs {
public:
  enum class Use { Reading, Writing };
  PngStructs(PngMessages& messages, Use use);
  ~PngStructs();
  PngStructs(const PngStructs&) = delete;
  PngStructs& operator=(const PngStructs&) = delete;

  bool ready() const { return png_ != nullptr && info_ != nullptr; }
  png_structp png() const { return png_; }
  png_infop info() const { return info_; }

private:
  Use use_;
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

// libpng reports errors by jumping back into the function that set the
// jump. Each guarded step keeps the jump inside one small function whose
// locals are all trivial, so no C++ destructor is ever skipped. False when
// libpng gave up; the reason is in the structs' PngMessages.
bool readInfoGuarded(png_structp png, png_infop info);
bool readImageGuarded(png_structp png, png_bytepp rows);

// Whether the file is long enough for a picture of `pixelCount` pixels
// whose smallest encoding is `smallestEncodingBytes` (true when the file
// cannot be measured, such as a pipe): a small file declaring a vast
// picture is refused before the picture is allocated.
bool fileHoldsDataFor(const char* path, std::uint64_t pixelCount, std::uint64_t smallestEncodingBytes);

}  // namespace Kvl
