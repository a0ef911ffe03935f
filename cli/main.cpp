// keyvale-cli: the keying engine without a window, for work on many files.

#include <iostream>
#include <string>
#include <vector>

#include "Commands.h"
#include "Terminal.h"
#ifdef KEYVALE_VIDEO_MODULE
#include "VideoModule.h"
#endif

#ifdef _WIN32
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/ConsoleHost.h"
#include "imageio/ReplacingFile.h"

namespace {

// Windows answers Ctrl-C on a thread of its own while the run goes on, and
// would otherwise end the process in the middle of a write. Every output
// being written is abandoned (its temporary file removed, its target left
// as it was) before the process ends.
void onInterrupt(int) {
  Kvl::ReplacingFile::abandonAll();
  using namespace std::chrono_literals;
  for (int waited = 0; waited < 200 && Kvl::ReplacingFile::openCount() > 0; ++waited) {
    std::this_thread::sleep_for(25ms);
  }
  std::fputs("\nkeyvale-cli: interrupted\n", stderr);
  Kvl::ConsoleHost::restoreConsole();
  std::_Exit(130);
}

Kvl::Cli::ConsoleOptions windowsConsole() {
  Kvl::ConsoleHost::useUtf8Console();
  std::signal(SIGINT, onInterrupt);
  Kvl::Cli::ConsoleOptions console;
  console.stderrIsTerminal = Kvl::Cli::stderrIsTerminal();
  console.expandWildcards = true;
  console.cpuCount = Kvl::ConsoleHost::affinityCpuCount();
  return console;
}

}  // namespace
#endif

// On Windows the arguments arrive in UTF-8: the program's manifest makes
// that its code page.
int main(int argc, char** argv) {
  using namespace Kvl::Cli;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
#ifdef _WIN32
  const ConsoleOptions console = windowsConsole();
#else
  const ConsoleOptions console{stderrIsTerminal()};
#endif
#ifdef KEYVALE_VIDEO_MODULE
  useVideoModuleOfThisProgram();
#endif
  return runCommandLine(arguments, std::cout, std::cerr, console);
}
