#include "ShellTestAccess.h"

#include <utility>

#include "ShellState.h"

namespace Kvl::App::TestAccess {

const ShellWindows& windows() { return shell().windows; }
const KeySettings& settings() { return shell().settings; }
const Surface& compositeSurface() { return shell().CompositeSurface; }
const Surface& matteSurface() { return shell().MatteSurface; }
const std::uint8_t* checkerBuffer() { return shell().CheckerBuffer; }
const Pixel32* sourcePreview() { return shell().SourcePreview; }
const KeyProcessor* processor() { return shell().processor; }
unsigned renderCount() { return seams().renderCount; }

void replaceOpenDialog(std::function<std::string(const char*)> dialog) {
  seams().openDialog = std::move(dialog);
}
void replaceSaveDialog(std::function<std::string()> dialog) { seams().saveDialog = std::move(dialog); }
void replaceErrorBox(std::function<void(const char*, const char*)> box) {
  seams().errorBox = std::move(box);
}
void refuseSurfaces(bool refuse) { seams().refuseSurfaces = refuse; }
void refuseBuffers(bool refuse) { seams().refuseBuffers = refuse; }

void resetToProcessStart() {
  shell() = ShellState{};
  seams() = ShellSeams{};
}

}  // namespace Kvl::App::TestAccess
