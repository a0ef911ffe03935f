#pragma once
// Which file each input is keyed into, and which outputs may not be
// written: two inputs keyed into one output would lose one of them, and an
// output in an input's place would destroy a picture the user still has.

#include <optional>
#include <string>
#include <vector>

#include "Arguments.h"
#include "FileKeying.h"

namespace Kvl::Cli {

// DIR/NAME.tga (or .png) for an input NAME.ext.
std::string outputPathFor(const std::string& input, const std::string& outDir, OutputFormat format);

// One job per input, in the order given; for a sequence, one per frame of
// `frames` (the range, or the task's chunk of it). Nothing when two inputs would be
// keyed into the same output (a usage error, described in `error`). A job
// whose output is one of the inputs carries a refusal: always when it is
// another file's input (the result would depend on which runs first), and
// for its own input unless `command.overwrite`.
std::optional<std::vector<FileJob>> planJobs(const Command& command, const std::vector<long>& frames,
                                             std::string& error);

// Whether two paths name the same file: the same file on disk when both
// exist, else the same path once made absolute and normalised.
bool isSameFile(const std::string& first, const std::string& second);

}  // namespace Kvl::Cli
