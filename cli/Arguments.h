#pragma once
// The command line of keyvale-cli, parsed into a plain command. The
// options, their groups and the help are declared once, with the command
// line library; the rules between options are checked here too, so a
// command that comes back is one the tool can run.

#include <optional>
#include <string>
#include <vector>

#include "FrameSequence.h"
#include "keying/KeySettings.h"
#include "engine/Keying.h"
#include "keying/MatteRefiner.h"
#include "keying/Pixel.h"
#include "imageio/DeepPicture.h"
#include "imageio/PictureFiles.h"

namespace Kvl::Cli {

// JPEG holds no alpha: it is written only over a --background. OpenEXR
// and TIFF are deep: half floats and 16-bit samples.
enum class OutputFormat { Targa, Png, Jpeg, Exr, Tiff };

// ".tga", ".png", ".jpg", ".exr" or ".tif".
const char* extensionOf(OutputFormat format);

// The matte refinement options as typed; the masks are read when keying starts.
struct RefineOptions {
  int choke = 0;
  int feather = 0;
  std::vector<GarbageRect> garbage;
  std::string garbageMatte;  // --garbage-matte FILE
  std::string holdoutMatte;  // --holdout-matte FILE
};

struct Command {
  enum class Kind { Help, Version, Key, Preview } kind = Kind::Help;
  std::vector<std::string> inputs;
  std::string output;      // key: the single output (empty in the batch form)
  std::string outDir;      // key: the batch form writes every output here
  std::optional<OutputFormat> format;  // key: --format; else from OUTPUT's name
  int jobs = 0;            // key: files keyed at once; 0 = one per core
  bool quiet = false;      // key: no progress line
  bool overwrite = false;  // key: an output may replace its own input
  std::string composite;   // preview
  std::string matte;       // preview
  int scroll = 0;          // preview: checkerboard scrolls before the render
  SettingsRequest settings;
  KeyerKind keyer = KeyerKind::Classic;  // key: --keyer
  std::optional<Pixel32> screen;         // key: --screen, the plate keyer's backdrop colour
  std::string cleanPlate;                // key: --clean-plate, a picture of the empty set
  // key: --clean-plate-frames, frames of the shot itself that show the empty set
  std::optional<FrameRange> cleanPlateFrames;
  bool cleanPlateFromShot = false;       // key: --clean-plate-from-shot
  bool steadyMatte = false;              // key: --steady-matte, a clip's or sequence's matte steadied
  std::string settingsFile;     // --settings: the setting to key with, from a file
  std::string settingsOutFile;  // --settings-out: where to write the setting used
  // Footage: a clip keyed into a clip, or into one picture per frame.
  std::string codec;                   // --codec: the output clip's codec; else from its extension
  std::string background;              // --background: '#RRGGBB' or a picture; the output is opaque
  // Frame sequences: with --frames, the one INPUT (and an OUTPUT) are
  // frame-name patterns.
  std::optional<FrameRange> frames;
  // --reference-frame: the frame the one setting of a clip or sequence is
  // chosen from; for a clip its index counted from 0, for a sequence a frame
  // number of the range.
  std::optional<long> referenceFrame;
  int chunkSize = 0;                   // with task or taskFromEnv: key one chunk of the range
  std::optional<long> task;            // counted from 0
  std::string taskFromEnv;             // the variable holding the task number
  bool skipExisting = false;           // key: leave frames whose output exists
  bool plainProgress = false;          // key: one progress line per file, terminal or not
  int pngLevel = DefaultPngLevel;      // key: deflate level of PNG outputs
  RefineOptions refine;                // key: changes to the matte after keying
  std::string matteOut;                // --matte-out: the matte as a grey picture (a pattern with --frames)
  std::string statusOut;               // --status: the status view (a pattern with --frames)
  // Deep colour
  std::optional<Transfer> inputTransfer;   // --input-transfer; else from the file
  std::optional<bool> premultiplied;       // --alpha; else premultiplied for EXR only
  ExrCompression exrCompression = ExrCompression::Zip;  // --exr-compression
  int lightWrap = 0;                       // --light-wrap: pixels of background light over the edges

  bool batch() const { return !outDir.empty(); }
  bool sequence() const { return frames.has_value(); }
  // A sequence given neither --out-dir nor OUTPUT only writes its setting.
  bool settingsOnly() const { return sequence() && !batch() && output.empty(); }
};

// Parses argv; on a usage error returns nothing and sets `error`.
std::optional<Command> parseArguments(const std::vector<std::string>& arguments, std::string& error);

// Every command with every option, its values and default, the exit
// statuses and examples: what --help prints.
std::string helpText();

const char* channelName(KeyChannel channel);

// The format an output gets: --format when given, otherwise PNG for a
// single OUTPUT named *.png and Targa for everything else.
// (JPEG for a single OUTPUT named *.jpg or *.jpeg, OpenEXR for *.exr,
// TIFF for *.tif or *.tiff.)
OutputFormat outputFormatOf(const Command& command);

}  // namespace Kvl::Cli
