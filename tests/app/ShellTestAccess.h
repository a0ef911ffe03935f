#pragma once
// What the app tests see of the shell's state, and the stand-ins they put in
// the shell's seams (app/ShellSeams.h): this test program links its own
// definitions of those seams, in ShellTestAccess.cpp, in place of the
// program's.

#include <cstdint>
#include <functional>
#include <string>

#include "app/ShellWindows.h"
#include "engine/KeyProcessor.h"
#include "keying/KeySettings.h"
#include "engine/ShellPort.h"

namespace Kvl::App::TestAccess {

const ShellWindows& windows();
const KeySettings& settings();
const Surface& compositeSurface();
const Surface& matteSurface();
const std::uint8_t* checkerBuffer();
const Pixel32* sourcePreview();
const KeyProcessor* processor();
// Renders the shell asked for itself (start-up, commands, slider messages);
// the engine's own renders inside Open and Auto adjust are not counted.
unsigned renderCount();

// Stand-ins for the two file dialogs and the error box; an empty function
// puts the real one back.
void replaceOpenDialog(std::function<std::string(const char* initialFolder)> dialog);
void replaceSaveDialog(std::function<std::string()> dialog);
void replaceErrorBox(std::function<void(const char* text, const char* caption)> box);
// Makes start-up fail to get its surfaces, or its preview source buffer.
void refuseSurfaces(bool refuse);
void refuseBuffers(bool refuse);

// Puts the shell state and every stand-in back as a fresh process has them,
// so each test starts from process start. Only between a shutdown and the
// next start-up.
void resetToProcessStart();

}  // namespace Kvl::App::TestAccess
