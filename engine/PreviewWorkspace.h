#pragma once
// A key processor with buffers of its own, for programs without a window
// (the command-line tool, tests): the same preview the window shows.

#include <array>
#include <cstdint>
#include <vector>

#include "KeyProcessor.h"
#include "ShellPort.h"

namespace Kvl {

class PreviewWorkspace {
public:
  // The preview source starts zero-filled: before any load the composite is
  // opaque black and the matte white.
  // Without a shell a failed saveKeyed shows nothing (the saver still
  // reports it); `shell` receives the save-failure message.
  PreviewWorkspace();
  explicit PreviewWorkspace(ShellPort& shell);

  KeyProcessor& processor() { return processor_; }
  std::uint8_t* checkerboard() { return checkerboard_.data(); }
  const Pixel32* previewSource() const { return previewSource_.data(); }
  const Pixel32* composite() const { return composite_.data(); }
  const Pixel32* matte() const { return matte_.data(); }

private:
  explicit PreviewWorkspace(ShellPort* shell);

  std::array<std::uint8_t, PreviewPixelCount> checkerboard_{};
  std::vector<Pixel32> previewSource_;
  std::vector<Pixel32> composite_;
  std::vector<Pixel32> matte_;
  KeyProcessor processor_;
};

}  // namespace Kvl
