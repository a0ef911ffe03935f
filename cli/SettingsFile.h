#pragma once
// The key setting as a small text file a person can read and edit, so that
// a shot keyed in pieces (farm tasks, a clip in parts, several clips of one
// set) is keyed with one setting throughout:
//
//   # keyvale-cli key setting
//   channel=green
//   contrast=125
//   offset=62
//
// The plate keyer's setting names its keyer and holds its tolerances and
// the backdrop it measured, a grid of colours, top row first:
//
//   keyer=plate
//   channel=green
//   backdrop-tolerance=11
//   foreground-tolerance=4
//   hue-tolerance=9
//   hue-range=96
//   screen=#9aae3c                   (only when the backdrop's colour was named)
//   backdrop-cells=64x36
//   backdrop=#4fa83c #50a93d ...     (one line of 64 colours per row)
//
// Blank lines and lines starting with '#' are skipped; spaces around names
// and values are allowed; each setting must be given once (the backdrop
// once per row). A file without a keyer line is the classic keyer's.

#include <optional>
#include <string>

#include "engine/Keying.h"

namespace Kvl::Cli {

// "#RRGGBB" as a colour (alpha 0); nothing when it is not one.
std::optional<Pixel32> parseHexColour(const std::string& text);
// A colour as "#rrggbb".
std::string hexColour(Pixel32 colour);

// The file's text for a setting.
std::string formatSettingsFile(const Keying& keying);

// The setting on one line, as keyvale-cli prints it: "channel=green
// contrast=40 offset=20", or the plate keyer's without its backdrop grid.
std::string describeKeying(const Keying& keying);

// The setting in `text`; nothing, with the reason in `error` (naming the
// line), when the text is not a complete setting.
std::optional<Keying> parseSettingsFile(const std::string& text, std::string& error);

// Reads and parses `path`; a file that cannot be read gives the system's
// reason, e.g. "No such file or directory".
std::optional<Keying> readSettingsFile(const std::string& path, std::string& error);

// Writes `path` whole or not at all: an existing file is replaced only once
// the new one is complete.
bool writeSettingsFile(const std::string& path, const Keying& keying, std::string& error);

}  // namespace Kvl::Cli
