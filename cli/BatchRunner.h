#pragma once
// Keys a list of files on several threads. Each file is keyed by objects of
// its own, so the bytes written never depend on the number of threads, and
// the messages come out in the order of the inputs whatever order the
// files finish in.

#include <iosfwd>
#include <vector>

#include "FileKeying.h"

namespace Kvl::Cli {

struct BatchOptions {
  int jobs = 1;              // threads; more than the files is pointless
  bool showProgress = false;
  bool plainProgress = false;  // one line per file rather than one redrawn line
  bool nameEachLine = true;  // "shot.jpg: channel=..." rather than "channel=..."
};

// Returns true when every file was keyed.
bool runBatch(const std::vector<FileJob>& jobs, const KeyingRequest& settings, const BatchOptions& options,
              std::ostream& out, std::ostream& err);

// The threads a batch of `files` files gets: `requested`, or one per CPU
// this process may use (usableCpuCount) when it is 0, never more than the
// files and never fewer than one.
int threadCountFor(int requested, std::size_t files);

}  // namespace Kvl::Cli
