// keyvale-cli: the keying engine without a window, for work on many files.

#include <iostream>
#include <string>
#include <vector>

#include "Commands.h"
#include "Terminal.h"

int main(int argc, char** argv) {
  using namespace Kvl::Cli;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  return runCommandLine(arguments, std::cout, std::cerr, ConsoleOptions{stderrIsTerminal()});
}
