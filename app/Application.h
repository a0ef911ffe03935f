#pragma once
// Start-up and shutdown of the shell, and the message loop between them.

namespace Kvl::App {

class Application {
public:
  // Builds the window, the controls, the surfaces, the buffers and the
  // processor, and renders once. False when the main window, a surface, a
  // buffer or the processor could not be had: the caller then skips the
  // message loop and shutdown releases whatever was made, so the program
  // ends at once, with no window left and exit code 0.
  bool initialise();
  // Destroys the windows still standing and releases the surfaces, the
  // buffers and the processor. Safe after a start-up that failed part way.
  void shutdown();
};

// Runs until the quit message (returns 0) or an error (returns -1).
int runMessageLoop();

}  // namespace Kvl::App
