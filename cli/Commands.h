#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "Arguments.h"

namespace Kvl::Cli {

// Exit statuses: 0 success, 1 a file could not be read or written, 2 usage.
inline constexpr int ExitSuccess = 0;
inline constexpr int ExitFileError = 1;
inline constexpr int ExitUsage = 2;

// How much the run may draw on stderr beyond messages: the progress line
// needs a terminal, which only main() can ask about.
struct ConsoleOptions {
  bool stderrIsTerminal = false;
  // Windows: the program expands * and ? in the inputs itself.
  bool expandWildcards = false;
  // Threads for --jobs' default when main() knows better than the runner
  // (the processors the process may use); 0 leaves it to the runner.
  int cpuCount = 0;
};

// The whole program after argv is split: parses, runs, and returns the
// exit status. Usage errors print the message and the help on `err`.
int runCommandLine(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                   ConsoleOptions console = {});

int runKey(const Command& command, std::ostream& out, std::ostream& err, ConsoleOptions console = {});
int runPreview(const Command& command, std::ostream& out, std::ostream& err);

}  // namespace Kvl::Cli
