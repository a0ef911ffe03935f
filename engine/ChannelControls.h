#pragma once
// Choosing the key channel and the two sliders for the shell: they set the
// shell's settings and its controls through the port, and render through
// the processor (which may not exist yet during start-up).

#include "Pixel.h"
#include "ShellPort.h"

namespace Kvl {

class KeyProcessor;

// Checks the radio button of `channel` (Red, Green, Blue in that order),
// makes it current and renders with the unchanged sliders.
void selectChannel(KeyChannel channel, ShellSettings& settings, ShellPort& shell,
                   KeyProcessor* processor);

// Renders at Contrast 0 / Offset 0, picks Contrast from the partly
// transparent key alphas (about 30% of the way up) and Offset as its half,
// and moves the sliders there. It does not render with the values chosen.
void autoAdjust(ShellSettings& settings, ShellPort& shell, KeyProcessor* processor);

// The rank autoAdjust takes from n sorted samples: n / 2 - n / 5.
std::size_t autoAdjustIndex(std::size_t sampleCount);

}  // namespace Kvl

namespace Kvl {

// What Open does once a path is chosen: load it into the preview, select
// the dominant channel, then auto adjust. A file that cannot be read keeps
// the previous picture, and detection runs on that.
void openPicture(const char* path, ShellSettings& settings, ShellPort& shell, KeyProcessor& processor);

}  // namespace Kvl
