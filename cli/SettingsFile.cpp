#include "SettingsFile.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>

#include "Arguments.h"
#include "imageio/ReplacingFile.h"

namespace Kvl::Cli {
namespace {

// A setting file is a few dozen bytes; anything far larger is not one.
constexpr std::streamsize LargestSettingsFile = 64 * 1024;

std::string trimmed(const std::string& text) {
  const char* blanks = " \t\r";
  const auto first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::optional<std::uint8_t> parseLevel(const std::string& text) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, status] = std::from_chars(text.data(), end, value);
  if (status != std::errc{} || stop != end || value < 0 || value > 255) return std::nullopt;
  return static_cast<std::uint8_t>(value);
}

std::optional<KeyChannel> parseChannelName(const std::string& text) {
  for (const KeyChannel channel : {RedChannel, GreenChannel, BlueChannel}) {
    if (text == channelName(channel)) return channel;
  }
  return std::nullopt;
}

// Reads one "name=value" line into `settings`; the reason on failure.
std::string takeLine(const std::string& name, const std::string& value, KeySettings& settings) {
  if (name == "channel") {
    const auto channel = parseChannelName(value);
    if (!channel) return "channel takes red, green or blue";
    settings.channel = *channel;
  } else if (name == "contrast" || name == "offset") {
    const auto level = parseLevel(value);
    if (!level) return name + " takes a number from 0 to 255";
    (name == "contrast" ? settings.contrast : settings.offset) = *level;
  } else {
    return "unknown setting '" + name + "'";
  }
  return {};
}

}  // namespace

std::string formatSettingsFile(const KeySettings& settings) {
  return "# keyvale-cli key setting (keyvale-cli key ... --settings FILE)\n"
         "channel=" + std::string(channelName(settings.channel)) + "\n" +
         "contrast=" + std::to_string(settings.contrast) + "\n" +
         "offset=" + std::to_string(settings.offset) + "\n";
}

std::optional<KeySettings> parseSettingsFile(const std::string& text, std::string& error) {
  KeySettings settings;
  const std::array<std::string, 3> names = {"channel", "contrast", "offset"};
  std::array<bool, 3> seen{};
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    line = trimmed(line);
    if (line.empty() || line.front() == '#') continue;
    const auto equals = line.find('=');
    const std::string where = "line " + std::to_string(number) + ": ";
    if (equals == std::string::npos) {
      error = where + "expected name=value";
      return std::nullopt;
    }
    const std::string name = trimmed(line.substr(0, equals));
    if (const std::string reason = takeLine(name, trimmed(line.substr(equals + 1)), settings); !reason.empty()) {
      error = where + reason;
      return std::nullopt;
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (names[i] != name) continue;
      if (seen[i]) {
        error = where + name + " is given twice";
        return std::nullopt;
      }
      seen[i] = true;
    }
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!seen[i]) {
      error = "no " + names[i] + " given";
      return std::nullopt;
    }
  }
  return settings;
}

std::optional<KeySettings> readSettingsFile(const std::string& path, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = std::strerror(errno);
    return std::nullopt;
  }
  std::string text(static_cast<std::size_t>(LargestSettingsFile) + 1, '\0');
  file.read(text.data(), LargestSettingsFile + 1);
  if (file.bad()) {
    error = "cannot read the file";
    return std::nullopt;
  }
  text.resize(static_cast<std::size_t>(file.gcount()));
  if (text.size() > static_cast<std::size_t>(LargestSettingsFile)) {
    error = "not a setting file (larger than 64 KiB)";
    return std::nullopt;
  }
  return parseSettingsFile(text, error);
}

bool writeSettingsFile(const std::string& path, const KeySettings& settings, std::string& error) {
  ReplacingFile output(path);
  if (!output.open()) {
    error = "cannot open for writing";
    return false;
  }
  const std::string text = formatSettingsFile(settings);
  output.write(text.data(), text.size());
  if (!output.commit()) {
    error = "writing failed (disk full or not writable)";
    return false;
  }
  return true;
}

}  // namespace Kvl::Cli
