#include "SettingsFile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <tuple>
#include <vector>

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

// One "name=value" line, with its number for the messages.
struct Entry {
  std::string name;
  std::string value;
  int line = 0;
};

// The file's lines as entries; nothing, with the reason, when a line is
// not "name=value" or a name other than the backdrop's rows comes twice.
std::optional<std::vector<Entry>> entriesOf(const std::string& text, std::string& error) {
  std::vector<Entry> entries;
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    line = trimmed(line);
    if (line.empty() || line.front() == '#') continue;
    const auto equals = line.find('=');
    if (equals == std::string::npos) {
      error = "line " + std::to_string(number) + ": expected name=value";
      return std::nullopt;
    }
    Entry entry{trimmed(line.substr(0, equals)), trimmed(line.substr(equals + 1)), number};
    const bool repeated = std::any_of(entries.begin(), entries.end(), [&](const Entry& e) { return e.name == entry.name; });
    if (repeated && entry.name != "backdrop") {
      error = "line " + std::to_string(number) + ": " + entry.name + " is given twice";
      return std::nullopt;
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::string lineError(const Entry& entry, const std::string& reason) {
  return "line " + std::to_string(entry.line) + ": " + reason;
}

// Settings a file may leave out: a file written before they were known
// still reads.
bool isOptional(const std::string& name) { return name == "screen" || name == "clean-plate"; }

// The settings each keyer takes; any other name is refused.
const std::vector<std::string>& namesOf(KeyerKind keyer) {
  static const std::vector<std::string> classic = {"channel", "contrast", "offset"};
  static const std::vector<std::string> plate = {"channel",   "backdrop-tolerance", "foreground-tolerance",
                                                 "hue-tolerance", "hue-range",     "backdrop-cells",
                                                 "screen", "clean-plate"};
  return keyer == KeyerKind::Plate ? plate : classic;
}

std::string takeChannel(const Entry& entry, KeyChannel& channel) {
  const auto named = parseChannelName(entry.value);
  if (!named) return "channel takes red, green or blue";
  channel = *named;
  return {};
}

std::string takeClassic(const Entry& entry, KeySettings& settings) {
  if (entry.name == "channel") return takeChannel(entry, settings.channel);
  const auto level = parseLevel(entry.value);
  if (!level) return entry.name + " takes a number from 0 to 255";
  (entry.name == "contrast" ? settings.contrast : settings.offset) = *level;
  return {};
}

std::optional<std::pair<int, int>> parseCells(const std::string& text) {
  const auto x = text.find('x');
  if (x == std::string::npos) return std::nullopt;
  int columns = 0, rows = 0;
  const char* end = text.data() + text.size();
  const auto first = std::from_chars(text.data(), text.data() + x, columns);
  const auto second = std::from_chars(text.data() + x + 1, end, rows);
  if (first.ec != std::errc{} || first.ptr != text.data() + x || second.ec != std::errc{} || second.ptr != end) {
    return std::nullopt;
  }
  if (columns < 1 || rows < 1 || columns > MaxBackdropCells || rows > MaxBackdropCells) return std::nullopt;
  return std::pair{columns, rows};
}

std::string takePlate(const Entry& entry, PlateSettings& settings) {
  if (entry.name == "channel") return takeChannel(entry, settings.channel);
  if (entry.name == "screen") {
    settings.screen = parseHexColour(entry.value);
    return settings.screen ? std::string() : "screen takes a colour as #RRGGBB";
  }
  if (entry.name == "clean-plate") {
    settings.cleanPlateFile = entry.value;
    return entry.value.empty() ? "clean-plate takes the file of a picture of the empty set" : std::string();
  }
  if (entry.name == "backdrop-cells") {
    const auto cells = parseCells(entry.value);
    if (!cells) return "backdrop-cells takes COLUMNSxROWS, each from 1 to " + std::to_string(MaxBackdropCells);
    std::tie(settings.backdrop.columns, settings.backdrop.rows) = *cells;
    return {};
  }
  const auto level = parseLevel(entry.value);
  if (!level) return entry.name + " takes a number from 0 to 255";
  if (entry.name == "backdrop-tolerance") settings.backdropTolerance = *level;
  if (entry.name == "foreground-tolerance") settings.foregroundTolerance = *level;
  if (entry.name == "hue-tolerance") settings.hueTolerance = *level;
  if (entry.name == "hue-range") settings.hueRange = *level;
  return {};
}

// One backdrop line: a row of `columns` colours.
std::string takeBackdropRow(const Entry& entry, BackdropModel& model) {
  std::istringstream words(entry.value);
  std::string word;
  int count = 0;
  while (words >> word) {
    const auto colour = parseHexColour(word);
    if (!colour) return "backdrop takes colours as #RRGGBB, not '" + word + "'";
    model.colours.push_back(*colour);
    ++count;
  }
  if (count != model.columns) {
    return "backdrop rows hold " + std::to_string(model.columns) + " colours, not " + std::to_string(count);
  }
  return {};
}

}  // namespace

std::optional<Pixel32> parseHexColour(const std::string& text) {
  if (text.size() != 7 || text[0] != '#') return std::nullopt;
  unsigned value = 0;
  const auto [stop, status] = std::from_chars(text.data() + 1, text.data() + 7, value, 16);
  if (status != std::errc{} || stop != text.data() + 7) return std::nullopt;
  return makePixel(static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 8),
                   static_cast<std::uint8_t>(value));
}

std::string hexColour(Pixel32 colour) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", redOf(colour), greenOf(colour), blueOf(colour));
  return text;
}

std::string formatSettingsFile(const Keying& keying) {
  std::string text = "# keyvale-cli key setting (keyvale-cli key ... --settings FILE)\n";
  if (keying.keyer == KeyerKind::Classic) {
    const KeySettings& s = keying.classic;
    return text + "channel=" + channelName(s.channel) + "\n" + "contrast=" + std::to_string(s.contrast) + "\n" +
           "offset=" + std::to_string(s.offset) + "\n";
  }
  const PlateSettings& s = keying.plate;
  text += "keyer=plate\nchannel=" + std::string(channelName(s.channel)) + "\n" +
          "backdrop-tolerance=" + std::to_string(s.backdropTolerance) + "\n" +
          "foreground-tolerance=" + std::to_string(s.foregroundTolerance) + "\n" +
          "hue-tolerance=" + std::to_string(s.hueTolerance) + "\n" + "hue-range=" + std::to_string(s.hueRange) +
          "\n" + (s.screen ? "# the backdrop's colour as named (--screen)\nscreen=" + hexColour(*s.screen) + "\n" : "") +
          (s.cleanPlateFile.empty() ? ""
                                    : "# the picture of the empty set every pixel is keyed against\nclean-plate=" +
                                          s.cleanPlateFile + "\n") +
          "# the backdrop's colour across the picture, one line per row of cells, top row first\n" +
          "backdrop-cells=" + std::to_string(s.backdrop.columns) + "x" + std::to_string(s.backdrop.rows) + "\n";
  for (int row = 0; row < s.backdrop.rows; ++row) {
    text += "backdrop=";
    for (int column = 0; column < s.backdrop.columns; ++column) {
      char colour[9];
      const Pixel32 p = s.backdrop.at(column, row);
      std::snprintf(colour, sizeof colour, column == 0 ? "#%02x%02x%02x" : " #%02x%02x%02x", redOf(p), greenOf(p),
                    blueOf(p));
      text += colour;
    }
    text += "\n";
  }
  return text;
}

std::string describeKeying(const Keying& keying) {
  if (keying.keyer == KeyerKind::Classic) {
    const KeySettings& s = keying.classic;
    return "channel=" + std::string(channelName(s.channel)) + " contrast=" + std::to_string(s.contrast) +
           " offset=" + std::to_string(s.offset);
  }
  const PlateSettings& s = keying.plate;
  return "keyer=plate channel=" + std::string(channelName(s.channel)) +
         (s.screen ? " screen=" + hexColour(*s.screen) : std::string()) +
         " backdrop-tolerance=" + std::to_string(s.backdropTolerance) +
         " foreground-tolerance=" + std::to_string(s.foregroundTolerance) +
         " hue-tolerance=" + std::to_string(s.hueTolerance) + " hue-range=" + std::to_string(s.hueRange);
}

std::optional<Keying> parseSettingsFile(const std::string& text, std::string& error) {
  const auto entries = entriesOf(text, error);
  if (!entries) return std::nullopt;
  Keying keying;
  std::vector<const Entry*> rows;
  for (const Entry& entry : *entries) {
    if (entry.name != "keyer") continue;
    const auto keyer = parseKeyerName(entry.value);
    if (!keyer) {
      error = lineError(entry, "keyer takes classic or plate");
      return std::nullopt;
    }
    keying.keyer = *keyer;
  }
  const std::vector<std::string>& names = namesOf(keying.keyer);
  for (const Entry& entry : *entries) {
    if (entry.name == "keyer") continue;
    if (entry.name == "backdrop" && keying.keyer == KeyerKind::Plate) {
      rows.push_back(&entry);
      continue;
    }
    if (std::find(names.begin(), names.end(), entry.name) == names.end()) {
      error = lineError(entry, "unknown setting '" + entry.name + "' for the " + keyerName(keying.keyer) + " keyer");
      return std::nullopt;
    }
    const std::string reason =
        keying.keyer == KeyerKind::Plate ? takePlate(entry, keying.plate) : takeClassic(entry, keying.classic);
    if (!reason.empty()) {
      error = lineError(entry, reason);
      return std::nullopt;
    }
  }
  for (const std::string& name : names) {
    if (isOptional(name)) continue;
    if (std::none_of(entries->begin(), entries->end(), [&](const Entry& e) { return e.name == name; })) {
      error = "no " + name + " given";
      return std::nullopt;
    }
  }
  if (keying.keyer == KeyerKind::Plate) {
    BackdropModel& model = keying.plate.backdrop;
    if (rows.size() != static_cast<std::size_t>(model.rows)) {
      error = "backdrop-cells names " + std::to_string(model.rows) + " rows; " + std::to_string(rows.size()) +
              " backdrop lines are given";
      return std::nullopt;
    }
    for (const Entry* row : rows) {
      if (const std::string reason = takeBackdropRow(*row, model); !reason.empty()) {
        error = lineError(*row, reason);
        return std::nullopt;
      }
    }
  }
  return keying;
}

std::optional<Keying> readSettingsFile(const std::string& path, std::string& error) {
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

bool writeSettingsFile(const std::string& path, const Keying& keying, std::string& error) {
  ReplacingFile output(path);
  if (!output.open()) {
    error = "cannot open for writing";
    return false;
  }
  const std::string text = formatSettingsFile(keying);
  output.write(text.data(), text.size());
  if (!output.commit()) {
    error = "writing failed (disk full or not writable)";
    return false;
  }
  return true;
}

}  // namespace Kvl::Cli
