#pragma once
// What keyvale-cli.exe asks of the Windows console and scheduler beyond the
// C runtime. No windows.h here: the command line's main() includes this.

namespace Kvl::ConsoleHost {

// The processors the process may run on (the bits of its affinity mask),
// or 0 when Windows cannot say. A run started with "start /affinity 3"
// then keys on two threads, not one per processor of the machine.
int affinityCpuCount();

// Output on the console in UTF-8, the program's own encoding, so file names
// in any language print as they are; the console's code page comes back at
// exit or through restoreConsole().
void useUtf8Console();
void restoreConsole();

}  // namespace Kvl::ConsoleHost
