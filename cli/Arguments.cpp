#include "Arguments.h"

#include <charconv>

namespace Kvl::Cli {

const char* const UsageText =
    "Usage:\n"
    "  keyvale-cli key INPUT OUTPUT [options]\n"
    "  keyvale-cli preview INPUT --composite FILE --matte FILE [options] [--scroll N]\n"
    "  keyvale-cli --help | --version\n"
    "\n"
    "Keys a picture shot against a green or blue backdrop. 'key' writes a 32-bit\n"
    "Targa file whose alpha holds the matte; 'preview' writes the 240x160\n"
    "composite and matte that the Keyvale window shows.\n"
    "\n"
    "Options:\n"
    "  --channel red|green|blue|auto  key channel (default green); auto picks the\n"
    "                                 dominant channel, as Open does\n"
    "  --contrast N                   0..255 (default 0)\n"
    "  --offset N                     0..255 (default 0)\n"
    "  --auto-adjust                  choose Contrast and Offset as Open does\n"
    "                                 (not with --contrast or --offset)\n"
    "  --scroll N                     preview: scroll the checkerboard N pixels left\n"
    "\n"
    "Example:\n"
    "  keyvale-cli key shot.tga keyed.tga --channel auto --auto-adjust\n";

namespace {

std::optional<int> parseNumber(const std::string& text, int lowest, int highest) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, status] = std::from_chars(text.data(), end, value);
  if (status != std::errc{} || stop != end || value < lowest || value > highest) return std::nullopt;
  return value;
}

std::optional<std::optional<KeyChannel>> parseChannel(const std::string& text) {
  if (text == "red") return std::optional<KeyChannel>{RedChannel};
  if (text == "green") return std::optional<KeyChannel>{GreenChannel};
  if (text == "blue") return std::optional<KeyChannel>{BlueChannel};
  if (text == "auto") return std::optional<KeyChannel>{};
  return std::nullopt;
}

Command commandOf(Command::Kind kind) {
  Command command;
  command.kind = kind;
  return command;
}

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
  bool parseOne(const std::string& argument) {
    if (argument == "--help" || argument == "-h") return wantsHelp_ = true;
    if (argument == "--auto-adjust") return command_.settings.autoAdjust = true;
    if (argument.size() > 2 && argument.starts_with("--")) return parseOption(argument);
    positional_.push_back(argument);
    return true;
  }

  bool parseOption(const std::string& option) {
    if (index_ + 1 >= arguments_.size()) return fail(option + " needs a value");
    const std::string& value = arguments_[++index_];
    KeySettings& settings = command_.settings;
    if (option == "--channel") {
      const auto channel = parseChannel(value);
      if (!channel) return fail("--channel takes red, green, blue or auto");
      settings.channel = *channel;
    } else if (option == "--contrast" || option == "--offset") {
      const auto number = parseNumber(value, 0, 255);
      if (!number) return fail(option + " takes a number from 0 to 255");
      (option == "--contrast" ? settings.contrast : settings.offset) = *number;
      (option == "--contrast" ? contrastGiven_ : offsetGiven_) = true;
    } else if (option == "--composite" && command_.kind == Command::Kind::Preview) {
      command_.composite = value;
    } else if (option == "--matte" && command_.kind == Command::Kind::Preview) {
      command_.matte = value;
    } else if (option == "--scroll" && command_.kind == Command::Kind::Preview) {
      const auto number = parseNumber(value, 0, 1000000);
      if (!number) return fail("--scroll takes a number from 0 to 1000000");
      command_.scroll = *number;
    } else {
      return fail("unknown option " + option);
    }
    return true;
  }

  std::optional<Command> finish() {
    if (command_.settings.autoAdjust && (contrastGiven_ || offsetGiven_)) {
      return failure("--auto-adjust chooses Contrast and Offset itself; drop --contrast/--offset");
    }
    if (command_.kind == Command::Kind::Key) {
      if (positional_.size() != 2) return failure("key takes INPUT and OUTPUT");
      command_.inputs = {positional_[0]};
      command_.output = positional_[1];
    } else {
      if (positional_.size() != 1) return failure("preview takes one INPUT");
      if (command_.composite.empty() || command_.matte.empty()) {
        return failure("preview needs --composite FILE and --matte FILE");
      }
      command_.inputs = {positional_[0]};
    }
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

}  // namespace

std::optional<Command> parseArguments(const std::vector<std::string>& arguments, std::string& error) {
  return Parser(arguments, error).parse();
}

const char* channelName(KeyChannel channel) {
  switch (channel) {
    case RedChannel: return "red";
    case BlueChannel: return "blue";
    default: return "green";
  }
}

}  // namespace Kvl::Cli
