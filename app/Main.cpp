// The Windows entry point. The command line and the show command are
// ignored: the instance is taken from the module again and the window is
// always shown. The exit code is 0 however the program ends.

#include <windows.h>

#include "Entry.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return Kvl::App::runApplication(); }
