#pragma once
// The window's channel buttons and sliders: they show the settings
// chooseSettings picks, set the shell's settings and its controls through
// the port, and render through the processor (which may not exist yet
// during start-up).

#include "keying/KeySettings.h"
#include "keying/Pixel.h"
#include "ShellPort.h"

namespace Kvl {

class KeyProcessor;

// Checks the radio button of `channel` (Red, Green, Blue in that order),
// makes it current and renders with the unchanged sliders.
void selectChannel(KeyChannel channel, KeySettings& settings, ShellPort& shell, KeyProcessor* processor);

// Moves the sliders to 0 and renders there, then moves them to the
// Contrast and Offset chooseSettings picks for the current channel. It
// does not render with the values chosen.
void autoAdjust(KeySettings& settings, ShellPort& shell, KeyProcessor* processor);

// What Open does once a path is chosen: load it into the preview, select
// the dominant channel, then auto adjust. A file that cannot be read keeps
// the previous picture, and detection runs on that.
void openPicture(const char* path, KeySettings& settings, ShellPort& shell, KeyProcessor& processor);

}  // namespace Kvl
