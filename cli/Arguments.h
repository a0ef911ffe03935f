#pragma once
// The command line of keyvale-cli, parsed into plain settings.

#include <optional>
#include <string>
#include <vector>

#include "engine/Pixel.h"

namespace Kvl::Cli {

struct KeySettings {
  std::optional<KeyChannel> channel = GreenChannel;  // empty: detect, as Open does
  int contrast = 0;
  int offset = 0;
  bool autoAdjust = false;
};

struct Command {
  enum class Kind { Help, Version, Key, Preview } kind = Kind::Help;
  std::vector<std::string> inputs;
  std::string output;      // key: the single output
  std::string composite;   // preview
  std::string matte;       // preview
  int scroll = 0;          // preview: checkerboard scrolls before the render
  KeySettings settings;
};

// Parses argv; on a usage error returns nothing and sets `error`.
std::optional<Command> parseArguments(const std::vector<std::string>& arguments, std::string& error);

const char* channelName(KeyChannel channel);

extern const char* const UsageText;

}  // namespace Kvl::Cli
