#pragma once
// The whole program from start to exit, behind the Windows entry point.

namespace Kvl::App {

// Start-up, the message loop if start-up succeeded, shutdown. Always 0.
int runApplication();

}  // namespace Kvl::App
