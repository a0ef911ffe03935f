#pragma once
// Keying one file: read it, choose its settings as Open would, key every
// pixel and write the output. The batch runs this for every input, on as
// many threads as it likes: each call uses only objects of its own.

#include <cstdint>
#include <string>

#include "Arguments.h"
#include "engine/KeySettings.h"
#include "engine/PreviewWorkspace.h"
#include "imageio/PictureFiles.h"

namespace Kvl::Cli {

struct FileJob {
  std::string input;
  std::string output;
  OutputFormat format = OutputFormat::Targa;
  std::string refusal;  // set when the output may not be written at all
  int pngLevel = DefaultPngLevel;
};

struct FileOutcome {
  bool ok = false;
  KeySettings settings;    // what the file was keyed with
  std::string errorPath;   // the file an error is about: the input or the output
  std::string error;
  std::string warning;     // about the input, even when it was keyed
  std::uint64_t pixelCount = 0;
};

// Keys one file: opens the input (any format) as a picture source, chooses
// the settings from its preview where asked, and keys its rows into the
// output. Targa in, Targa out gives the very file Save As writes.
FileOutcome keyFile(const FileJob& job, const SettingsRequest& wanted);

// Loads a picture of any accepted format into the workspace's preview, as
// Open does. False with `error` set when it cannot be read; `warning` is
// set when it was damaged but loaded.
bool loadIntoPreview(PreviewWorkspace& workspace, const std::string& path, std::string& error,
                     std::string& warning);

// "file is truncated; missing pixels are keyed as black"
extern const char* const TruncatedTargaWarning;

}  // namespace Kvl::Cli
