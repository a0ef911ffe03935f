#include "Arguments.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace Kvl::Cli {

const char* const UsageText =
    "Usage:\n"
    "  keyvale-cli key INPUT OUTPUT [options]\n"
    "  keyvale-cli key INPUT... --out-dir DIR [options]\n"
    "  keyvale-cli preview INPUT --composite FILE --matte FILE [options] [--scroll N]\n"
    "  keyvale-cli --help | --version\n"
    "\n"
    "Keys pictures shot against a green or blue backdrop. 'key' writes a 32-bit\n"
    "Targa (or PNG) file whose alpha holds the matte; 'preview' writes the\n"
    "240x160 composite and matte that the Keyvale window shows. Inputs may be\n"
    "Targa (24/32-bit, plain or run-length), PNG or JPEG; a picture's own alpha\n"
    "is ignored.\n"
    "\n"
    "Key settings:\n"
    "  --channel red|green|blue|auto  key channel (default green); auto picks the\n"
    "                                 dominant channel of each picture, as Open does\n"
    "                                   e.g. --channel blue\n"
    "  --contrast N                   0..255 (default 0)   e.g. --contrast 40\n"
    "  --offset N                     0..255 (default 0)   e.g. --offset 20\n"
    "  --auto-adjust                  choose Contrast and Offset for each picture as\n"
    "                                 Open does (not with --contrast or --offset)\n"
    "\n"
    "Batch keying (key):\n"
    "  --out-dir DIR      write DIR/NAME.tga for every INPUT (NAME.png with\n"
    "                     --format png); DIR is created if missing\n"
    "                       e.g. keyvale-cli key shots/*.jpg --out-dir keyed\n"
    "  --format tga|png   output format (default tga; a single OUTPUT named *.png\n"
    "                     is written as PNG)   e.g. --format png\n"
    "  --jobs N           key N files at once (default: one per core); the\n"
    "                     results do not depend on N   e.g. --jobs 2\n"
    "  --quiet            no progress line (it only appears on a terminal)\n"
    "  --overwrite        let an output replace its own input; without it such a\n"
    "                     file is refused   e.g. key *.tga --out-dir . --overwrite\n"
    "  Each file's settings are printed as 'NAME: channel=green contrast=40\n"
    "  offset=20'. A file that fails is reported and the rest are still keyed.\n"
    "\n"
    "Preview:\n"
    "  --composite FILE   the keyed picture over the checkerboard (240x160 Targa)\n"
    "  --matte FILE       the matte as grey (240x160 Targa)\n"
    "  --scroll N         scroll the checkerboard N pixels left first   e.g. --scroll 5\n"
    "\n"
    "Exit status: 0 all keyed, 1 a file could not be read or written, 2 usage.\n"
    "\n"
    "Examples:\n"
    "  keyvale-cli key shot.tga keyed.tga --channel auto --auto-adjust\n"
    "  keyvale-cli key frames/*.png --out-dir keyed --format png --channel auto --auto-adjust\n"
    "  keyvale-cli preview shot.tga --composite c.tga --matte m.tga --contrast 40 --offset 20\n";

namespace {

std::optional<int> parseNumber(const std::string& text, int lowest, int highest) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, status] = std::from_chars(text.data(), end, value);
  if (status != std::errc{} || stop != end || value < lowest || value > highest) return std::nullopt;
  return value;
}

// A channel name, or "auto" (an empty channel: detect it); false for
// anything else.
bool parseChannel(const std::string& text, std::optional<KeyChannel>& channel) {
  if (text == "auto") channel.reset();
  else if (text == "red") channel = RedChannel;
  else if (text == "green") channel = GreenChannel;
  else if (text == "blue") channel = BlueChannel;
  else return false;
  return true;
}

std::optional<OutputFormat> parseFormat(const std::string& text) {
  if (text == "tga") return OutputFormat::Targa;
  if (text == "png") return OutputFormat::Png;
  return std::nullopt;
}

Command commandOf(Command::Kind kind) {
  Command command;
  command.kind = kind;
  return command;
}

constexpr int MaximumJobs = 256;

class Parser {
public:
  Parser(const std::vector<std::string>& arguments, std::string& error)
      : arguments_(arguments), error_(error) {}

  std::optional<Command> parse() {
    if (arguments_.empty()) return failure("no command given");
    const std::string& verb = arguments_[0];
    if (verb == "--help" || verb == "-h" || verb == "help") return commandOf(Command::Kind::Help);
    if (verb == "--version") return commandOf(Command::Kind::Version);
    if (verb == "key") command_.kind = Command::Kind::Key;
    else if (verb == "preview") command_.kind = Command::Kind::Preview;
    else return failure("unknown command '" + verb + "'");
    for (index_ = 1; index_ < arguments_.size(); ++index_) {
      if (!parseOne(arguments_[index_])) return std::nullopt;
    }
    if (wantsHelp_) return commandOf(Command::Kind::Help);
    return finish();
  }

private:
  bool isKey() const { return command_.kind == Command::Kind::Key; }

  bool parseOne(const std::string& argument) {
    if (argument == "--help" || argument == "-h") return wantsHelp_ = true;
    if (argument == "--auto-adjust") return command_.settings.autoAdjust = true;
    if (argument == "--quiet" && isKey()) return command_.quiet = true;
    if (argument == "--overwrite" && isKey()) return command_.overwrite = true;
    if (argument.size() > 2 && argument.starts_with("--")) return parseOption(argument);
    positional_.push_back(argument);
    return true;
  }

  bool parseOption(const std::string& option) {
    if (!takesValue(option)) return fail("unknown option " + option);
    if (index_ + 1 >= arguments_.size()) return fail(option + " needs a value");
    const std::string& value = arguments_[++index_];
    if (isKey()) return parseKeySetting(option, value) || (error_.empty() && parseBatchOption(option, value));
    return parseKeySetting(option, value) || (error_.empty() && parsePreviewOption(option, value));
  }

  bool takesValue(const std::string& option) const {
    if (option == "--channel" || option == "--contrast" || option == "--offset") return true;
    if (isKey()) return option == "--out-dir" || option == "--format" || option == "--jobs";
    return option == "--composite" || option == "--matte" || option == "--scroll";
  }

  // True when `option` was one of the key settings and was taken; false
  // with `error_` set when its value was wrong, false otherwise.
  bool parseKeySetting(const std::string& option, const std::string& value) {
    SettingsRequest& settings = command_.settings;
    if (option == "--channel") {
      if (!parseChannel(value, settings.channel)) return fail("--channel takes red, green, blue or auto");
      return true;
    }
    if (option == "--contrast" || option == "--offset") {
      const auto number = parseNumber(value, 0, 255);
      if (!number) return fail(option + " takes a number from 0 to 255");
      (option == "--contrast" ? settings.contrast : settings.offset) = static_cast<std::uint8_t>(*number);
      (option == "--contrast" ? contrastGiven_ : offsetGiven_) = true;
      return true;
    }
    return false;
  }

  bool parseBatchOption(const std::string& option, const std::string& value) {
    if (option == "--out-dir") {
      if (value.empty()) return fail("--out-dir needs a folder");
      command_.outDir = value;
    } else if (option == "--format") {
      command_.format = parseFormat(value);
      if (!command_.format) return fail("--format takes tga or png");
    } else if (option == "--jobs") {
      const auto number = parseNumber(value, 1, MaximumJobs);
      if (!number) return fail("--jobs takes a number from 1 to " + std::to_string(MaximumJobs));
      command_.jobs = *number;
    } else {
      return false;
    }
    return true;
  }

  bool parsePreviewOption(const std::string& option, const std::string& value) {
    if (option == "--composite") {
      command_.composite = value;
    } else if (option == "--matte") {
      command_.matte = value;
    } else if (option == "--scroll") {
      const auto number = parseNumber(value, 0, 1000000);
      if (!number) return fail("--scroll takes a number from 0 to 1000000");
      command_.scroll = *number;
    } else {
      return false;
    }
    return true;
  }

  std::optional<Command> finish() {
    if (command_.settings.autoAdjust && (contrastGiven_ || offsetGiven_)) {
      return failure("--auto-adjust chooses Contrast and Offset itself; drop --contrast/--offset");
    }
    if (isKey()) return finishKey();
    if (positional_.size() != 1) return failure("preview takes one INPUT");
    if (command_.composite.empty() || command_.matte.empty()) {
      return failure("preview needs --composite FILE and --matte FILE");
    }
    command_.inputs = {positional_[0]};
    return command_;
  }

  std::optional<Command> finishKey() {
    if (command_.batch()) {
      if (positional_.empty()) return failure("key --out-dir DIR needs at least one INPUT");
      command_.inputs = positional_;
      return command_;
    }
    if (positional_.size() != 2) {
      return failure("key takes INPUT OUTPUT, or one or more INPUTs with --out-dir DIR");
    }
    command_.inputs = {positional_[0]};
    command_.output = positional_[1];
    return command_;
  }

  bool fail(const std::string& message) {
    error_ = message;
    return false;
  }
  std::optional<Command> failure(const std::string& message) {
    fail(message);
    return std::nullopt;
  }

  const std::vector<std::string>& arguments_;
  std::string& error_;
  Command command_;
  std::vector<std::string> positional_;
  std::size_t index_ = 0;
  bool wantsHelp_ = false;
  bool contrastGiven_ = false;
  bool offsetGiven_ = false;
};

bool endsWithPng(const std::string& path) {
  if (path.size() < 4) return false;
  std::string ending = path.substr(path.size() - 4);
  std::transform(ending.begin(), ending.end(), ending.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ending == ".png";
}

}  // namespace

std::optional<Command> parseArguments(const std::vector<std::string>& arguments, std::string& error) {
  error.clear();
  return Parser(arguments, error).parse();
}

const char* channelName(KeyChannel channel) {
  switch (channel) {
    case RedChannel: return "red";
    case BlueChannel: return "blue";
    default: return "green";
  }
}

OutputFormat outputFormatOf(const Command& command) {
  if (command.format) return *command.format;
  return !command.batch() && endsWithPng(command.output) ? OutputFormat::Png : OutputFormat::Targa;
}

}  // namespace Kvl::Cli
