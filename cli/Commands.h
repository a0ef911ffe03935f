#pragma once

#include <iosfwd>

#include "Arguments.h"

namespace Kvl::Cli {

// Exit statuses: 0 success, 1 a file could not be read or written, 2 usage.
inline constexpr int ExitSuccess = 0;
inline constexpr int ExitFileError = 1;
inline constexpr int ExitUsage = 2;

int runKey(const Command& command, std::ostream& out, std::ostream& err);
int runPreview(const Command& command, std::ostream& out, std::ostream& err);

}  // namespace Kvl::Cli
