// keyvale-cli: the keying engine without a window, for work on many files.

#include <iostream>
#include <string>
#include <vector>

#include "Arguments.h"
#include "Commands.h"

#ifndef KEYVALE_VERSION
#define KEYVALE_VERSION "unknown"
#endif

int main(int argc, char** argv) {
  using namespace Kvl::Cli;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  std::string error;
  const auto command = parseArguments(arguments, error);
  if (!command) {
    std::cerr << "keyvale-cli: " << error << "\n\n" << UsageText;
    return ExitUsage;
  }
  switch (command->kind) {
    case Command::Kind::Help: std::cout << UsageText; return ExitSuccess;
    case Command::Kind::Version: std::cout << "keyvale-cli " KEYVALE_VERSION "\n"; return ExitSuccess;
    case Command::Kind::Key: return runKey(*command, std::cout, std::cerr);
    case Command::Kind::Preview: return runPreview(*command, std::cout, std::cerr);
  }
  return ExitUsage;
}
