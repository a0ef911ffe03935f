#include "ShellState.h"

#include "Win32ShellPort.h"

namespace Kvl::App {
namespace {

// The shell's module-level state: one per process, GUI thread only.
ShellState State;
ShellSeams Seams;
Win32ShellPort Port;

}  // namespace

ShellState& shell() { return State; }
ShellSeams& seams() { return Seams; }
ShellPort& shellPort() { return Port; }

}  // namespace Kvl::App
