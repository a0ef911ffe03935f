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
// Blank lines and lines starting with '#' are skipped; spaces around names
// and values are allowed; each of the three settings must be given once.

#include <optional>
#include <string>

#include "engine/KeySettings.h"

namespace Kvl::Cli {

// The file's text for a setting.
std::string formatSettingsFile(const KeySettings& settings);

// The setting in `text`; nothing, with the reason in `error` (naming the
// line), when the text is not a complete setting.
std::optional<KeySettings> parseSettingsFile(const std::string& text, std::string& error);

// Reads and parses `path`; a file that cannot be read gives the system's
// reason, e.g. "No such file or directory".
std::optional<KeySettings> readSettingsFile(const std::string& path, std::string& error);

// Writes `path` whole or not at all: an existing file is replaced only once
// the new one is complete.
bool writeSettingsFile(const std::string& path, const KeySettings& settings, std::string& error);

}  // namespace Kvl::Cli
