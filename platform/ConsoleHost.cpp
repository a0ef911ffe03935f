#include "ConsoleHost.h"

#include <windows.h>

#include <bit>
#include <cstdlib>

namespace Kvl::ConsoleHost {
namespace {

UINT originalOutputCodePage = 0;  // 0: not changed

void restoreAtExit() { restoreConsole(); }

}  // namespace

int affinityCpuCount() {
  DWORD_PTR processMask = 0;
  DWORD_PTR systemMask = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask)) return 0;
  return std::popcount(static_cast<unsigned long long>(processMask));
}

// Only a real console has a code page to set; output into a file or a pipe
// keeps its bytes, which are UTF-8 either way.
void useUtf8Console() {
  const UINT current = GetConsoleOutputCP();
  if (current == 0 || current == CP_UTF8) return;
  if (!SetConsoleOutputCP(CP_UTF8)) return;
  originalOutputCodePage = current;
  std::atexit(restoreAtExit);
}

void restoreConsole() {
  if (originalOutputCodePage != 0) SetConsoleOutputCP(originalOutputCodePage);
  originalOutputCodePage = 0;
}

}  // namespace Kvl::ConsoleHost
