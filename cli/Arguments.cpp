#include "Arguments.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>

#include "SettingsFile.h"

namespace Kvl::Cli {
namespace {

constexpr int MaximumJobs = 256;
constexpr int MaximumScroll = 1000000;

const char* const UsageLines =
    "Usage:\n"
    "  keyvale-cli key INPUT OUTPUT [options]\n"
    "  keyvale-cli key INPUT... --out-dir DIR [options]\n"
    "  keyvale-cli key PATTERN (OUTPUT-PATTERN | --out-dir DIR) --frames FIRST-LAST [options]\n"
    "  keyvale-cli key PATTERN --frames FIRST-LAST --settings-out FILE [options]\n"
    "  keyvale-cli preview INPUT --composite FILE --matte FILE [options] [--scroll N]\n"
    "  keyvale-cli --help | --version\n";

const char* const Description =
    "Keys pictures shot against a green or blue backdrop. 'key' writes a 32-bit\n"
    "Targa (or PNG) file whose alpha holds the matte; 'preview' writes the\n"
    "240x160 composite and matte that the Keyvale window shows. Inputs may be\n"
    "Targa (24/32-bit, plain or run-length), PNG or JPEG, and on builds with\n"
    "libtiff and OpenEXR also TIFF and OpenEXR (deep pictures are keyed in\n"
    "float by the plate keyer); a picture's own alpha is ignored.\n";

const char* const Footer =
    "Each file's settings are printed as 'NAME: channel=green contrast=40\n"
    "offset=20'. A file that fails is reported and the rest are still keyed.\n"
    "\n"
    "Exit status: 0 all keyed, 1 a file could not be read or written, 2 usage.\n"
    "\n"
    "Examples:\n"
    "  keyvale-cli key shot.tga keyed.tga --channel auto --auto-adjust\n"
    "  keyvale-cli key frames/*.png --out-dir keyed --format png --channel auto --auto-adjust\n"
    "  keyvale-cli key lime-wall.jpg keyed.png --keyer plate --auto-adjust\n"
    "  keyvale-cli key plate.%04d.png --frames 1-48 --out-dir keyed --channel auto --auto-adjust\n"
    "  keyvale-cli key plate.####.png keyed.####.png --frames 1-4800 --chunk-size 100 --task 0 --settings shot.kvs\n"
    "  keyvale-cli preview shot.tga --composite c.tga --matte m.tga --contrast 40 --offset 20";

// The library's layout, with our usage forms in place of its generated
// line: the two forms of `key` cannot be told from the options alone.
class HelpFormatter final : public CLI::Formatter {
public:
  std::string make_usage(const CLI::App*, std::string) const override { return UsageLines; }
};

std::optional<int> parseNumber(const std::string& text, int lowest, int highest) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, status] = std::from_chars(text.data(), end, value);
  if (status != std::errc{} || stop != end || value < lowest || value > highest) return std::nullopt;
  return value;
}

// A channel name, or "auto" (an empty channel: detect it).
std::optional<std::optional<KeyChannel>> parseChannel(const std::string& text) {
  if (text == "auto") return std::optional<KeyChannel>{};
  if (text == "red") return RedChannel;
  if (text == "green") return GreenChannel;
  if (text == "blue") return BlueChannel;
  return std::nullopt;
}

std::optional<OutputFormat> parseFormat(const std::string& text) {
  if (text == "tga") return OutputFormat::Targa;
  if (text == "png") return OutputFormat::Png;
  if (text == "jpg" || text == "jpeg") return OutputFormat::Jpeg;
  if (text == "exr") return OutputFormat::Exr;
  if (text == "tif" || text == "tiff") return OutputFormat::Tiff;
  return std::nullopt;
}

// An option with one value, converted by `take`, which throws the message
// that says what the option takes. The last of repeated options wins.
CLI::Option* addValue(CLI::App& app, const std::string& name, const std::string& valueName,
                      const std::string& description, std::function<void(const std::string&)> take) {
  return app.add_option_function<std::string>(name, std::move(take), description)
      ->type_name(valueName)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

CLI::Option* addNumber(CLI::App& app, const std::string& name, int lowest, int highest,
                       const std::string& description, std::function<void(int)> store) {
  const std::string refusal =
      name + " takes a number from " + std::to_string(lowest) + " to " + std::to_string(highest);
  return addValue(app, name, "N", description, [=](const std::string& text) {
    const auto number = parseNumber(text, lowest, highest);
    if (!number) throw CLI::ValidationError(refusal);
    store(*number);
  });
}

// "X,Y,W,H": four whole numbers, the size at least one pixel each way. The
// bounds keep X + W far from overflowing and are beyond any picture.
std::optional<GarbageRect> parseGarbageRect(const std::string& text) {
  constexpr std::int64_t Far = 1000000000;
  std::int64_t values[4] = {};
  const char* at = text.data();
  const char* end = text.data() + text.size();
  for (int i = 0; i < 4; ++i) {
    const auto [stop, status] = std::from_chars(at, end, values[i]);
    if (status != std::errc{} || stop == at) return std::nullopt;
    at = stop;
    if (i < 3 && (at == end || *at++ != ',')) return std::nullopt;
  }
  if (at != end) return std::nullopt;
  const GarbageRect rect{values[0], values[1], values[2], values[3]};
  if (std::abs(rect.x) > Far || std::abs(rect.y) > Far) return std::nullopt;
  if (rect.width < 1 || rect.width > Far || rect.height < 1 || rect.height > Far) return std::nullopt;
  return rect;
}

class CommandLine {
public:
  CommandLine() {
    app_.formatter(std::make_shared<HelpFormatter>());
    app_.description(Description);
    app_.footer(Footer);
    app_.set_help_flag("-h,--help", "print this help and exit");
    app_.add_flag("--version", wantsVersion_, "print the version and exit");
    app_.require_subcommand(0, 1);
    addKeyCommand();
    addPreviewCommand();
    help_ = app_.add_subcommand("help", "print this help and exit");
  }

  std::string help() const { return app_.help("", CLI::AppFormatMode::All); }

  std::optional<Command> parse(const std::vector<std::string>& arguments, std::string& error) {
    try {
      // The library takes the arguments last first.
      app_.parse(std::vector<std::string>(arguments.rbegin(), arguments.rend()));
    } catch (const CLI::CallForHelp&) {
      return commandOf(Command::Kind::Help);
    } catch (const CLI::ExtrasError& failure) {
      error = isUnknownCommand(arguments) ? "unknown command '" + arguments.front() + "'" : failure.what();
      return std::nullopt;
    } catch (const CLI::ParseError& failure) {
      error = failure.what();
      return std::nullopt;
    }
    if (wantsVersion_) return commandOf(Command::Kind::Version);
    if (help_->parsed()) return commandOf(Command::Kind::Help);
    if (key_->parsed()) return refuseAlphaInJpeg(finishKey(error), error);
    if (preview_->parsed()) return finishPreview(error);
    error = "no command given";
    return std::nullopt;
  }

private:
  // A first word that named no command: the library would only call it
  // unexpected, with everything after it.
  bool isUnknownCommand(const std::vector<std::string>& arguments) const {
    const bool commandSeen = key_->parsed() || preview_->parsed() || help_->parsed();
    return !commandSeen && !arguments.empty() && !arguments.front().starts_with('-');
  }

  static Command commandOf(Command::Kind kind) {
    Command command;
    command.kind = kind;
    return command;
  }

  void addKeySettings(CLI::App& command) {
    const std::string group = "Key settings";
    SettingsRequest& settings = command_.settings;
    addValue(command, "--channel", "red|green|blue|auto",
             "key channel; auto picks the dominant channel of each\n"
             "picture, as Open does   e.g. --channel blue",
             [&settings](const std::string& text) {
               const auto channel = parseChannel(text);
               if (!channel) throw CLI::ValidationError("--channel takes red, green, blue or auto");
               settings.channel = *channel;
             })
        ->default_str("green")
        ->group(group);
    addNumber(command, "--contrast", 0, 255, "0..255   e.g. --contrast 40",
              [&settings](int value) { settings.contrast = static_cast<std::uint8_t>(value); })
        ->default_str("0")
        ->group(group);
    addNumber(command, "--offset", 0, 255, "0..255   e.g. --offset 20",
              [&settings](int value) { settings.offset = static_cast<std::uint8_t>(value); })
        ->default_str("0")
        ->group(group);
    command.add_flag("--auto-adjust", settings.autoAdjust,
                     "choose Contrast and Offset for each picture as\n"
                     "Open does (not with --contrast or --offset)")
        ->group(group);
    addValue(command, "--settings", "FILE",
             "key with the setting in FILE (channel, contrast, offset;\n"
             "see --settings-out), instead of the four options above",
             [this](const std::string& path) { command_.settingsFile = path; })
        ->group(group);
    addValue(command, "--settings-out", "FILE",
             "write the setting used to FILE, a small text file to\n"
             "edit or to key other pictures of the shot with",
             [this](const std::string& path) { command_.settingsOutFile = path; })
        ->group(group);
  }

  void addKeyerOption(CLI::App& command) {
    addValue(command, "--keyer", "classic|plate",
             "classic: the window's key; plate: models an uneven or\n"
             "off-green backdrop across the picture, keeps yellow and\n"
             "green-ish objects, un-mixes edges (--channel defaults to the\n"
             "backdrop's; --auto-adjust measures its tolerances)",
             [this](const std::string& text) {
               const auto keyer = parseKeyerName(text);
               if (!keyer) throw CLI::ValidationError("--keyer takes classic or plate");
               command_.keyer = *keyer;
             })
        ->default_str("classic")
        ->group("Key settings");
    addValue(command, "--screen", "#RRGGBB",
             "the plate keyer's backdrop colour, picked from the plate,\n"
             "when it should not find the backdrop itself (its light is\n"
             "still measured across the picture)   e.g. --screen '#9aae3c'",
             [this](const std::string& text) {
               command_.screen = parseHexColour(text);
               if (!command_.screen) throw CLI::ValidationError("--screen takes a colour as #RRGGBB, e.g. #9aae3c");
             })
        ->group("Key settings");
    addValue(command, "--clean-plate", "FILE",
             "the plate keyer keys each pixel against this picture of\n"
             "the empty set (the same size), not its fitted backdrop;\n"
             "--settings-out names it in the setting file",
             [this](const std::string& path) { command_.cleanPlate = path; })
        ->group("Key settings");
    addValue(command, "--clean-plate-frames", "FIRST-LAST",
             "the clean plate made from these frames of the clip (counted\n"
             "from 0) or sequence (frame numbers), where the set is empty:\n"
             "each pixel's median; --settings-out writes it beside the\n"
             "setting file (NAME.clean-plate.tga) and names it there",
             [this](const std::string& text) {
               std::string refusal;
               command_.cleanPlateFrames = parseFrameRange(text, refusal);
               if (!command_.cleanPlateFrames) throw CLI::ValidationError("--clean-plate-frames: " + refusal);
             })
        ->group("Key settings");
    command.add_flag("--clean-plate-from-shot", command_.cleanPlateFromShot,
                     "for a shot with no empty frame: the clean plate made from\n"
                     "frames spread over the clip or sequence, each pixel's\n"
                     "median where the key shows backdrop; written and named as\n"
                     "with --clean-plate-frames")
        ->group("Key settings");
    command.add_flag("--steady-matte", command_.steadyMatte,
                     "for a clip or --frames sequence and the plate keyer:\n"
                     "steadies the partly transparent edges where the plate\n"
                     "did not change from the two frames before (less\n"
                     "flicker of hair and soft edges; moving edges follow)")
        ->group("Key settings");
  }

  // The plate keyer has no sliders; its channel is the backdrop's unless given.
  bool refusesPlateOptions(std::string& error) {
    const char* shotPlate = command_.cleanPlateFrames ? "--clean-plate-frames"
                            : command_.cleanPlateFromShot ? "--clean-plate-from-shot"
                                                          : nullptr;
    if (shotPlate && !command_.settingsFile.empty()) {
      return refuse(std::string("--settings gives the whole setting, its clean plate too; drop ") + shotPlate, error);
    }
    if (command_.cleanPlateFrames && command_.cleanPlateFromShot) {
      return refuse("--clean-plate-frames and --clean-plate-from-shot both make a clean plate; give one", error);
    }
    if (command_.keyer != KeyerKind::Plate) {
      if (command_.screen) return refuse("--screen names the plate keyer's backdrop; add --keyer plate", error);
      if (command_.steadyMatte && command_.settingsFile.empty()) {
        return refuse("--steady-matte steadies the plate keyer's matte; add --keyer plate", error);
      }
      if (shotPlate) return refuse(std::string(shotPlate) + " is the plate keyer's; add --keyer plate", error);
      return !command_.cleanPlate.empty() && refuse("--clean-plate is the plate keyer's; add --keyer plate", error);
    }
    if (shotPlate && !command_.cleanPlate.empty()) {
      return refuse(std::string("--clean-plate and ") + shotPlate + " both name a clean plate; give one", error);
    }
    if (!command_.settingsFile.empty()) return refuse("--settings gives the whole setting, its keyer too; drop --keyer", error);
    if (key_->count("--contrast") > 0 || key_->count("--offset") > 0) {
      return refuse("--contrast and --offset set the classic keyer; the plate keyer's tolerances come from "
                    "--auto-adjust or a --settings file", error);
    }
    if (key_->count("--channel") == 0) command_.settings.channel.reset();
    return false;
  }

  void addKeyCommand() {
    key_ = app_.add_subcommand("key", "key pictures into files whose alpha holds the matte");
    key_->add_option("INPUT", positionals_,
                     "the picture to key and its OUTPUT; with --out-dir, any\n"
                     "number of pictures")
        ->type_name("FILE");
    addKeySettings(*key_);
    addKeyerOption(*key_);
    addFootageOptions(*key_);
    addRefinementOptions(*key_);
    addSequenceOptions(*key_);
    addViewOptions(*key_);
    addDeepOptions(*key_);
    const std::string group = "Batch keying";
    addValue(*key_, "--out-dir", "DIR",
             "write DIR/NAME.tga for every INPUT (NAME.png with\n"
             "--format png); DIR is created if missing\n"
             "  e.g. keyvale-cli key shots/*.jpg --out-dir keyed",
             [this](const std::string& folder) {
               if (folder.empty()) throw CLI::ValidationError("--out-dir needs a folder");
               command_.outDir = folder;
             })
        ->group(group);
    addValue(*key_, "--format", "tga|png|jpg|exr|tif",
             "output format (default tga; a single OUTPUT named *.png\n"
             "is written as PNG, *.jpg as JPEG, *.exr as OpenEXR, *.tif\n"
             "as TIFF); jpg holds no alpha and needs --background\n"
             "  e.g. --format png",
             [this](const std::string& text) {
               command_.format = parseFormat(text);
               if (!command_.format) throw CLI::ValidationError("--format takes tga, png, jpg, exr or tif");
             })
        ->group(group);
    addNumber(*key_, "--jobs", 1, MaximumJobs,
              "key N files at once (default: one per CPU this process\n"
              "may use: its affinity and CPU quota); the\n"
              "results do not depend on N   e.g. --jobs 2",
              [this](int jobs) { command_.jobs = jobs; })
        ->group(group);
    addNumber(*key_, "--png-level", 0, HighestPngLevel,
              "deflate level of PNG output: 0 stores, 12 is smallest and\n"
              "slowest; the pixels are the same   e.g. --png-level 9",
              [this](int level) { command_.pngLevel = level; })
        ->default_str(std::to_string(DefaultPngLevel))
        ->group(group);
    key_->add_flag("--quiet", command_.quiet, "no progress line (it only appears on a terminal)")->group(group);
    key_->add_flag("--overwrite", command_.overwrite,
                   "let an output replace its own input; without it such a\n"
                   "file is refused   e.g. key *.tga --out-dir . --overwrite")
        ->group(group);
  }

  void addFootageOptions(CLI::App& command) {
    const std::string group = "Footage";
    addValue(command, "--codec", "prores|vp9|ffv1|png|qtrle|h264",
             "a clip's output codec; by default .mov is ProRes 4444\n"
             "and .webm VP9, both with alpha; ffv1, png and qtrle are\n"
             "lossless RGBA in .mov or .mkv; h264 (.mp4) needs --background",
             [this](const std::string& codec) { command_.codec = codec; })
        ->group(group);
    addValue(command, "--background", "#RRGGBB|FILE",
             "key over a colour or a picture (scaled to cover, centred):\n"
             "opaque output, which may also be .mp4   e.g. --background '#204080'",
             [this](const std::string& background) {
               if (background.empty()) throw CLI::ValidationError("--background needs a colour or a file");
               command_.background = background;
             })
        ->group(group);
  }

  // Applied in this order after the key: garbage, choke, feather, holdout.
  void addRefinementOptions(CLI::App& command) {
    const std::string group = "Matte refinement";
    RefineOptions& refine = command_.refine;
    addNumber(command, "--choke", 0, MaximumChoke,
              "shrink the solid matte by N pixels (the least alpha within\n"
              "a square of radius N); edges move in with it   e.g. --choke 2",
              [&refine](int pixels) { refine.choke = pixels; })
        ->default_str("0")
        ->group(group);
    addNumber(command, "--feather", 0, MaximumFeather,
              "soften the matte's edge over N pixels; solid and clear\n"
              "areas stay exactly so   e.g. --feather 3",
              [&refine](int pixels) { refine.feather = pixels; })
        ->default_str("0")
        ->group(group);
    command.add_option_function<std::vector<std::string>>(
               "--garbage",
               [&refine](const std::vector<std::string>& texts) {
                 for (const std::string& text : texts) {
                   const auto rect = parseGarbageRect(text);
                   if (!rect) {
                     throw CLI::ValidationError("--garbage takes X,Y,W,H in pixels from the top-left corner, W "
                                                "and H at least 1, e.g. --garbage 0,0,200,1080; got '" +
                                                text + "'");
                   }
                   refine.garbage.push_back(*rect);
                 }
               },
               "make this rectangle clear (light stands, the edge of the\n"
               "set); may be given again; clipped to the picture\n"
               "  e.g. --garbage 0,0,200,1080")
        ->type_name("X,Y,W,H")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->group(group);
    addValue(command, "--garbage-matte", "FILE",
             "a mask picture stretched over each frame: white makes the\n"
             "matte clear, grey scales it down, black leaves it",
             [&refine](const std::string& path) {
               if (path.empty()) throw CLI::ValidationError("--garbage-matte needs a file");
               refine.garbageMatte = path;
             })
        ->group(group);
    addValue(command, "--holdout-matte", "FILE",
             "a mask picture stretched over each frame: white makes the\n"
             "matte solid, grey scales it up, black leaves it",
             [&refine](const std::string& path) {
               if (path.empty()) throw CLI::ValidationError("--holdout-matte needs a file");
               refine.holdoutMatte = path;
             })
        ->group(group);
  }

  // Pictures beside the keyed output, for judging the key or for editors
  // that cannot read alpha.
  void addViewOptions(CLI::App& command) {
    const std::string group = "Matte and status views";
    addValue(command, "--matte-out", "FILE",
             "also write the matte as an opaque grey picture (white\n"
             "solid, black clear); with --frames a pattern like OUTPUT's;\n"
             "for a clip a clip (.mov .mp4 .webm .mkv)\n"
             "  e.g. --matte-out shot.matte.png",
             [this](const std::string& path) {
               if (path.empty()) throw CLI::ValidationError("--matte-out needs a file");
               command_.matteOut = path;
             })
        ->group(group);
    addValue(command, "--status", "FILE",
             "also write the status view: the plate dimmed, clear pixels\n"
             "blue, in-between amber, solid white; with --frames a pattern;\n"
             "for a clip a clip (.mov .mp4 .webm .mkv)\n"
             "  e.g. --status shot.status.png",
             [this](const std::string& path) {
               if (path.empty()) throw CLI::ValidationError("--status needs a file");
               command_.statusOut = path;
             })
        ->group(group);
  }

  // Pictures of more than 8 bits: how their values are read and written.
  void addDeepOptions(CLI::App& command) {
    const std::string group = "Deep colour";
    addValue(command, "--input-transfer", "linear|srgb|rec709",
             "what the input's values are: linear light or coded with\n"
             "the sRGB or Rec. 709 curve (default from the file: OpenEXR\n"
             "linear, a PNG with gAMA 1.0 linear, the rest srgb)",
             [this](const std::string& text) {
               if (text == "linear") command_.inputTransfer = Transfer::Linear;
               else if (text == "srgb") command_.inputTransfer = Transfer::Srgb;
               else if (text == "rec709") command_.inputTransfer = Transfer::Rec709;
               else throw CLI::ValidationError("--input-transfer takes linear, srgb or rec709");
             })
        ->group(group);
    addValue(command, "--alpha", "straight|premultiplied",
             "the output's colour as keyed (straight) or multiplied by\n"
             "its alpha (default: premultiplied for OpenEXR, as that\n"
             "format's convention says; straight for every other)",
             [this](const std::string& text) {
               if (text != "straight" && text != "premultiplied") {
                 throw CLI::ValidationError("--alpha takes straight or premultiplied");
               }
               command_.premultiplied = text == "premultiplied";
             })
        ->group(group);
    addValue(command, "--exr-compression", "zip|piz",
             "how OpenEXR output is compressed (default zip); both are\n"
             "lossless",
             [this](const std::string& text) {
               if (text != "zip" && text != "piz") throw CLI::ValidationError("--exr-compression takes zip or piz");
               command_.exrCompression = text == "piz" ? ExrCompression::Piz : ExrCompression::Zip;
             })
        ->group(group);
    addNumber(command, "--light-wrap", 0, 100,
              "with --background: let the background's light bleed N\n"
              "pixels over the subject's edges (default 0: off)\n"
              "  e.g. --light-wrap 8",
              [this](int pixels) { command_.lightWrap = pixels; })
        ->default_str("0")
        ->group(group);
  }

  // Light wrap needs a background. (That a PNG file holds straight alpha
  // only is told per output.)
  bool refusesDeepOptions(std::string& error) const {
    if (command_.lightWrap > 0 && command_.background.empty()) {
      return refuse("--light-wrap bleeds a new background's light over the edges: give --background too", error);
    }
    return false;
  }

  // The views name one file each: one picture's, or a sequence's pattern.
  bool refusesViewOptions(std::string& error) const {
    for (const auto& [option, path] : {std::pair{"--matte-out", &command_.matteOut},
                                       std::pair{"--status", &command_.statusOut}}) {
      if (path->empty()) continue;
      if (command_.sequence() && !parseFramePattern(*path)) {
        return refuse(*path + ": with --frames, " + option + " takes a frame pattern such as matte.%04d.png", error);
      }
      if (!command_.sequence() && command_.batch()) {
        return refuse(std::string(option) + " names one picture: key one INPUT into OUTPUT, or a --frames sequence",
                      error);
      }
    }
    if (!command_.matteOut.empty() && command_.matteOut == command_.statusOut) {
      return refuse("--matte-out and --status name the same file", error);
    }
    return false;
  }

  void addSequenceOptions(CLI::App& command) {
    const std::string group = "Frame sequences and render farms";
    addValue(command, "--frames", "FIRST-LAST[xSTEP]",
             "key the numbered frames FIRST to LAST (every STEP-th) of\n"
             "INPUT, a pattern such as plate.%04d.png or plate.####.png;\n"
             "outputs keep each frame's number and padding\n"
             "  e.g. key plate.%04d.png --frames 1-48 --out-dir keyed",
             [this](const std::string& text) {
               std::string refusal;
               command_.frames = parseFrameRange(text, refusal);
               if (!command_.frames) throw CLI::ValidationError(refusal);
             })
        ->group(group);
    addValue(command, "--reference-frame", "N",
             "the frame --channel auto and --auto-adjust choose the one\n"
             "setting of a clip or sequence from: a clip's frame counted\n"
             "from 0 (default: one second in, or the last of a shorter\n"
             "clip); a sequence's frame NUMBER (default: the middle frame\n"
             "of --frames), the same for every chunk",
             [this](const std::string& text) {
               const auto frame = parseTaskNumber(text);
               if (!frame) throw CLI::ValidationError("--reference-frame takes a frame number from 0");
               command_.referenceFrame = *frame;
             })
        ->group(group);
    addNumber(command, "--chunk-size", 1, 1000000000, "frames per farm task (with --task or --task-from-env)",
              [this](int size) { command_.chunkSize = size; })
        ->group(group);
    addValue(command, "--task", "I",
             "key only chunk I of --frames, counted from 0: with\n"
             "--frames 1-72 --chunk-size 10, task 0 keys 1-10 and task 7\n"
             "keys 71-72",
             [this](const std::string& text) {
               command_.task = parseTaskNumber(text);
               if (!command_.task) throw CLI::ValidationError("--task takes a chunk number from 0");
             })
        ->group(group);
    addValue(command, "--task-from-env", "VAR",
             "as --task, the number read from the environment variable\n"
             "VAR   e.g. --task-from-env SLURM_ARRAY_TASK_ID",
             [this](const std::string& name) { command_.taskFromEnv = name; })
        ->group(group);
    command.add_flag("--skip-existing", command_.skipExisting,
                     "leave inputs whose output exists (outputs are only ever\n"
                     "complete) and remove Keyvale's partial files of this\n"
                     "run's outputs left by a killed run")
        ->group(group);
    addValue(command, "--progress", "auto|plain",
             "auto: a progress line redrawn on a terminal; plain: one\n"
             "line per file, for farm logs",
             [this](const std::string& text) {
               if (text != "auto" && text != "plain") throw CLI::ValidationError("--progress takes auto or plain");
               command_.plainProgress = text == "plain";
             })
        ->group(group);
  }

  void addPreviewCommand() {
    preview_ = app_.add_subcommand("preview", "write the 240x160 composite and matte the window shows");
    preview_->add_option("INPUT", positionals_, "the picture to preview")->type_name("FILE");
    addKeySettings(*preview_);
    const std::string group = "Preview";
    addValue(*preview_, "--composite", "FILE", "the keyed picture over the checkerboard (240x160 Targa)",
             [this](const std::string& path) { command_.composite = path; })
        ->group(group);
    addValue(*preview_, "--matte", "FILE", "the matte as grey (240x160 Targa)",
             [this](const std::string& path) { command_.matte = path; })
        ->group(group);
    addNumber(*preview_, "--scroll", 0, MaximumScroll,
              "scroll the checkerboard N pixels left first   e.g. --scroll 5",
              [this](int scroll) { command_.scroll = scroll; })
        ->group(group);
  }

  // Sliders the user gave cannot also be chosen for him.
  bool refusesGivenSliders(const CLI::App& command, std::string& error) const {
    if (!command_.settings.autoAdjust) return false;
    if (command.count("--contrast") == 0 && command.count("--offset") == 0) return false;
    error = "--auto-adjust chooses Contrast and Offset itself; drop --contrast/--offset";
    return true;
  }

  // A setting file gives the whole setting: nothing of it may come from
  // the other options as well.
  bool refusesMixedSettings(const CLI::App& command, std::string& error) const {
    if (command_.settingsFile.empty()) return false;
    for (const char* option : {"--channel", "--contrast", "--offset", "--auto-adjust"}) {
      if (command.count(option) == 0) continue;
      error = std::string("--settings gives the whole setting; drop ") + option;
      return true;
    }
    return false;
  }

  // Pictures that each get a setting of their own have no one setting to write.
  bool refusesSettingsOut(std::string& error) const {
    const SettingsRequest& wanted = command_.settings;
    const bool chosenEach = !wanted.channel || wanted.autoAdjust;
    if (command_.settingsOutFile.empty() || positionals_.size() <= 1 || !chosenEach) return false;
    error = "--settings-out with --channel auto or --auto-adjust needs one INPUT: each of several pictures "
            "gets its own setting (key the reference picture first, then the rest with --settings)";
    return true;
  }

  // Options that only mean something for a sequence, or only together.
  bool refusesSequenceOptions(std::string& error) const {
    const bool chunked = command_.task || !command_.taskFromEnv.empty();
    if (!command_.sequence()) {
      // (--reference-frame also serves a clip, which only its contents tell.)
      for (const char* option : {"--chunk-size", "--task", "--task-from-env"}) {
        if (key_->count(option) == 0) continue;
        return refuse(std::string(option) + " needs --frames", error);
      }
      return false;
    }
    if (command_.task && !command_.taskFromEnv.empty()) {
      return refuse("give --task or --task-from-env, not both", error);
    }
    if (chunked != (command_.chunkSize > 0)) {
      return refuse("--chunk-size and --task (or --task-from-env) go together", error);
    }
    if (command_.referenceFrame && !command_.frames->contains(*command_.referenceFrame)) {
      return refuse("--reference-frame " + std::to_string(*command_.referenceFrame) + " is outside --frames", error);
    }
    if (command_.task) {
      if (!chunkFrames(*command_.frames, static_cast<std::size_t>(command_.chunkSize), *command_.task, error)) {
        return true;
      }
    }
    return false;
  }

  // INPUT, and OUTPUT when given, must each name the frame number's place.
  std::optional<Command> finishSequence(std::string& error) {
    if (positionals_.empty() || positionals_.size() > (command_.batch() ? 1u : 2u)) {
      return failure("--frames takes one INPUT pattern, and an OUTPUT pattern unless --out-dir is given", error);
    }
    for (const std::string& pattern : positionals_) {
      if (!parseFramePattern(pattern)) {
        return failure(pattern + ": a frame pattern needs one frame number placeholder, such as %04d or ####", error);
      }
    }
    command_.inputs = {positionals_[0]};
    if (positionals_.size() == 2) command_.output = positionals_[1];
    if (command_.settingsOnly() && command_.settingsOutFile.empty()) {
      return failure("--frames needs --out-dir DIR or an OUTPUT pattern (or only --settings-out FILE)", error);
    }
    return command_;
  }

  // A JPEG file has no alpha to hold the matte in: only a picture keyed
  // over a background, and so opaque, may be written as one.
  static std::optional<Command> refuseAlphaInJpeg(std::optional<Command> command, std::string& error) {
    if (!command || !command->background.empty() || outputFormatOf(*command) != OutputFormat::Jpeg) return command;
    return failure("a JPEG file holds no alpha: key over --background COLOUR|FILE for an opaque picture, "
                   "or write PNG or Targa, which keep the matte", error);
  }

  std::optional<Command> finishKey(std::string& error) {
    if (refusesGivenSliders(*key_, error) || refusesMixedSettings(*key_, error)) return std::nullopt;
    if (refusesSequenceOptions(error) || refusesPlateOptions(error) || refusesViewOptions(error) ||
        refusesDeepOptions(error)) {
      return std::nullopt;
    }
    command_.kind = Command::Kind::Key;
    if (command_.sequence()) return finishSequence(error);
    if (command_.batch() && refusesSettingsOut(error)) return std::nullopt;
    if (command_.batch()) {
      if (positionals_.empty()) return failure("key --out-dir DIR needs at least one INPUT", error);
      command_.inputs = positionals_;
      return command_;
    }
    if (positionals_.size() != 2) {
      return failure("key takes INPUT OUTPUT, or one or more INPUTs with --out-dir DIR", error);
    }
    command_.inputs = {positionals_[0]};
    command_.output = positionals_[1];
    return command_;
  }

  std::optional<Command> finishPreview(std::string& error) {
    if (refusesGivenSliders(*preview_, error) || refusesMixedSettings(*preview_, error)) return std::nullopt;
    command_.kind = Command::Kind::Preview;
    if (positionals_.size() != 1) return failure("preview takes one INPUT", error);
    if (command_.composite.empty() || command_.matte.empty()) {
      return failure("preview needs --composite FILE and --matte FILE", error);
    }
    command_.inputs = positionals_;
    return command_;
  }

  static bool refuse(const std::string& message, std::string& error) {
    error = message;
    return true;
  }

  static std::optional<Command> failure(const std::string& message, std::string& error) {
    error = message;
    return std::nullopt;
  }

  CLI::App app_{"", "keyvale-cli"};
  bool wantsVersion_ = false;
  CLI::App* key_ = nullptr;
  CLI::App* preview_ = nullptr;
  CLI::App* help_ = nullptr;
  Command command_;
  std::vector<std::string> positionals_;
};

bool endsWith(const std::string& path, const std::string& ending) {
  if (path.size() < ending.size()) return false;
  std::string last = path.substr(path.size() - ending.size());
  std::transform(last.begin(), last.end(), last.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return last == ending;
}

}  // namespace

std::optional<Command> parseArguments(const std::vector<std::string>& arguments, std::string& error) {
  error.clear();
  return CommandLine().parse(arguments, error);
}

std::string helpText() { return CommandLine().help(); }

const char* channelName(KeyChannel channel) {
  switch (channel) {
    case RedChannel: return "red";
    case BlueChannel: return "blue";
    default: return "green";
  }
}

const char* extensionOf(OutputFormat format) {
  switch (format) {
    case OutputFormat::Png: return ".png";
    case OutputFormat::Jpeg: return ".jpg";
    case OutputFormat::Exr: return ".exr";
    case OutputFormat::Tiff: return ".tif";
    case OutputFormat::Targa: break;
  }
  return ".tga";
}

OutputFormat outputFormatOf(const Command& command) {
  if (command.format) return *command.format;
  if (command.batch()) return OutputFormat::Targa;
  if (endsWith(command.output, ".png")) return OutputFormat::Png;
  if (endsWith(command.output, ".jpg") || endsWith(command.output, ".jpeg")) return OutputFormat::Jpeg;
  if (endsWith(command.output, ".exr")) return OutputFormat::Exr;
  if (endsWith(command.output, ".tif") || endsWith(command.output, ".tiff")) return OutputFormat::Tiff;
  return OutputFormat::Targa;
}

}  // namespace Kvl::Cli
