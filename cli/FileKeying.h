#pragma once
// Keying one file: read it, choose its settings as Open would, key every
// pixel and write the output. The batch runs this for every input, on as
// many threads as it likes: each call uses only objects of its own.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Arguments.h"
#include "DeepAdapters.h"
#include "ViewOutputs.h"
#include "engine/Keying.h"
#include "keying/MatteRefiner.h"
#include "engine/PreviewWorkspace.h"
#include "imageio/PictureFiles.h"

namespace Kvl::Cli {

struct FileJob {
  std::string input;
  std::string output;
  OutputFormat format = OutputFormat::Targa;
  std::string refusal;  // set when the output may not be written at all
  std::string background;  // '#RRGGBB' or a picture to key over; empty keeps the alpha
  int pngLevel = DefaultPngLevel;
  std::shared_ptr<const MatteRefinement> refinement;  // null leaves the matte as keyed
  int keyThreads = 1;  // threads the plate keyer may share one picture's rows among
  DeepOptions deep = {};  // transfer, alpha convention, EXR compression, light wrap
  ViewPaths views = {};  // the matte and status pictures written beside the output
  // --steady-matte: the plate keyer's matte steadied by the frames before
  // (the inputs of up to SteadyWindow earlier frames, nearest first).
  bool steady = false;
  std::vector<std::string> earlierInputs = {};
};

struct FileOutcome {
  bool ok = false;
  Keying settings;         // what the file was keyed with
  std::string errorPath;   // the file an error is about: the input or the output
  std::string error;
  std::string warning;     // about the input, even when it was keyed
  std::uint64_t pixelCount = 0;
};

// Keys one file: opens the input (any format) as a picture source, chooses
// the settings from its preview where asked, and keys its rows into the
// output. Targa in, Targa out gives the very file Save As writes.
FileOutcome keyFile(const FileJob& job, const KeyingRequest& wanted);

// The keying the picture at `path` gets: what `wanted` gives, and what it
// does not chosen from the picture as keyFile would. Nothing, with the
// reason in `error`, when the picture cannot be read.
std::optional<Keying> chooseKeyingFor(const std::string& path, const KeyingRequest& wanted, std::string& error);

// Why the file at `path` cannot be opened as a picture, in the words
// keyFile would use; empty when it opens.
std::string whyNotAPicture(const std::string& path);

// Loads a picture of any accepted format into the workspace's preview, as
// Open does. False with `error` set when it cannot be read; `warning` is
// set when it was damaged but loaded.
bool loadIntoPreview(PreviewWorkspace& workspace, const std::string& path, std::string& error,
                     std::string& warning);

// The sink for a picture output of `format` (a Targa output with a zero-filled
// image ID of `idLength` bytes); null when this build cannot write it.
// OpenEXR and TIFF outputs take the 8-bit rows into their deep samples; an
// output asked for premultiplied alpha gets its colour multiplied.
std::unique_ptr<PictureSink> makePictureSink(OutputFormat format, int pngLevel, std::uint8_t idLength,
                                             const DeepOptions& deep = {});
// Whether this build can write `format` (Targa always).
bool canWriteFormat(OutputFormat format);
// "PNG output is not supported by this build of keyvale-cli (Targa only)"
std::string unsupportedOutput(OutputFormat format);
// The reason an output of `format` cannot hold what `deep` asks, or nothing.
std::string refusalForAlpha(OutputFormat format, const DeepOptions& deep, bool opaque);

// Why a picture of width x height cannot be keyed against the keying's
// clean plate (another size: not of the same shot); empty when it can.
std::string cleanPlateMismatch(const Keying& keying, std::uint32_t width, std::uint32_t height);

// "file is truncated; missing pixels are keyed as black"
extern const char* const TruncatedTargaWarning;

}  // namespace Kvl::Cli
