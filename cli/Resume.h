#pragma once
// Rerunning a batch that was cut short (a killed farm task): outputs are
// only ever complete, since each is written under a partial name and
// renamed, so a file standing at an output's name is a finished frame.

#include <cstddef>
#include <iosfwd>
#include <vector>

#include "FileKeying.h"

namespace Kvl::Cli {

// The jobs whose output does not exist yet. Each one left out is told on
// `out` as "INPUT: skipped, OUTPUT exists".
std::vector<FileJob> withoutFinishedOutputs(const std::vector<FileJob>& jobs, std::ostream& out);

// Removes the partial files a killed run left for these jobs' outputs
// (OUTPUT.N.kvl-partial beside each output), and nothing else: another task
// keying other frames into the same folder keeps its own. Returns how many.
std::size_t removeLeftoverPartials(const std::vector<FileJob>& jobs);

}  // namespace Kvl::Cli
