#pragma once
// The one thing the command line asks of the platform beyond files: is
// stderr a terminal? Only then is a progress line worth drawing.

namespace Kvl::Cli {

bool stderrIsTerminal();

}  // namespace Kvl::Cli
