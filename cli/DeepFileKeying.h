#pragma once
// Keying a deep picture (16-bit PNG, TIFF, OpenEXR) with the plate keyer
// in float: read, keyed, laid over a background, converted to the output's
// transfer and alpha convention and written, a chunk of rows at a time.
// The classic keyer keys deep pictures through 8 bits (FileKeying).

#include <optional>

#include "FileKeying.h"
#include "imageio/DeepPicture.h"

namespace Kvl::Cli {

// Whether a job is keyed in float: a deep input and the plate keyer.
bool keysInFloat(std::optional<DeepFormat> input, KeyerKind keyer);

// The deep format an output format is written as: OpenEXR and TIFF always,
// PNG as 16-bit PNG when the picture keyed is deep; nothing for the rest.
std::optional<DeepFormat> deepOutputFormat(OutputFormat format, bool deepInput);

FileOutcome keyDeepFile(const FileJob& job, const KeyingRequest& wanted, DeepFormat input);

}  // namespace Kvl::Cli
