#include "ShellState.h"

namespace Kvl::App {
namespace {

// The shell's module-level state: one per process, GUI thread only.
ShellState State;

}  // namespace

ShellState& shell() { return State; }

}  // namespace Kvl::App
