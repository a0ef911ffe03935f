#include "ShellTestAccess.h"

#include <new>
#include <utility>

#include "app/FileDialogs.h"
#include "app/ShellSeams.h"
#include "app/ShellState.h"
#include "app/Win32ShellPort.h"

namespace Kvl::App {
namespace {

// What a test put in the seams; each empty function means the real thing.
struct StandIns {
  std::function<std::string(const char* initialFolder)> openDialog;
  std::function<std::string()> saveDialog;
  std::function<void(const char* text, const char* caption)> errorBox;
  bool refuseSurfaces = false;
  bool refuseBuffers = false;
};

StandIns Replaced;

// The real controls, with the error box going to the stand-in when there is one.
class TestShellPort final : public ShellPort {
public:
  void setChannelChecked(KeyChannel channel, bool checked) override {
    real_.setChannelChecked(channel, checked);
  }
  void setSliderPosition(Slider slider, std::uint8_t position, bool redraw) override {
    real_.setSliderPosition(slider, position, redraw);
  }
  void showError(const char* text, const char* caption) override {
    if (Replaced.errorBox) {
      Replaced.errorBox(text, caption);
    } else {
      real_.showError(text, caption);
    }
  }

private:
  Win32ShellPort real_;
};

TestShellPort Port;

}  // namespace

// This program's definitions of the seams in app/ShellSeams.h.

std::string askOpenPath(const char* initialFolder) {
  return Replaced.openDialog ? Replaced.openDialog(initialFolder) : chooseOpenPath(initialFolder);
}

std::string askSavePath() { return Replaced.saveDialog ? Replaced.saveDialog() : chooseSavePath(); }

ShellPort& shellPort() { return Port; }

HBITMAP createPreviewBitmap(HDC context, const BITMAPINFO& info, void** bits) {
  if (Replaced.refuseSurfaces) return nullptr;
  return CreateDIBSection(context, &info, DIB_RGB_COLORS, bits, nullptr, 0);
}

Pixel32* allocatePreviewSource() {
  if (Replaced.refuseBuffers) return nullptr;
  return new (std::nothrow) Pixel32[PreviewPixelCount]();
}

}  // namespace Kvl::App

namespace Kvl::App::TestAccess {

const ShellWindows& windows() { return shell().windows; }
const KeySettings& settings() { return shell().settings; }
const Surface& compositeSurface() { return shell().CompositeSurface; }
const Surface& matteSurface() { return shell().MatteSurface; }
const std::uint8_t* checkerBuffer() { return shell().CheckerBuffer; }
const Pixel32* sourcePreview() { return shell().SourcePreview; }
const KeyProcessor* processor() { return shell().processor; }
unsigned renderCount() { return shell().renderCount; }

void replaceOpenDialog(std::function<std::string(const char*)> dialog) {
  Replaced.openDialog = std::move(dialog);
}
void replaceSaveDialog(std::function<std::string()> dialog) { Replaced.saveDialog = std::move(dialog); }
void replaceErrorBox(std::function<void(const char*, const char*)> box) {
  Replaced.errorBox = std::move(box);
}
void refuseSurfaces(bool refuse) { Replaced.refuseSurfaces = refuse; }
void refuseBuffers(bool refuse) { Replaced.refuseBuffers = refuse; }

void resetToProcessStart() {
  shell() = ShellState{};
  Replaced = StandIns{};
}

}  // namespace Kvl::App::TestAccess
