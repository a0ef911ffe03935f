#pragma once
// keyvale-cli's video module: the video backend and the libraries it links,
// in a file of their own that is loaded the first time a clip is opened.

#include <filesystem>
#include <string>
#include <vector>

namespace Kvl::Cli {

inline constexpr const char* VideoModuleName = "keyvale-video.so";

// Where the module of the program at `executable` may be, in the order
// looked at: beside it (the build tree), then in the package's layout,
// <prefix>/lib/<multiarch>/keyvale and <prefix>/lib/keyvale.
std::vector<std::filesystem::path> videoModuleCandidates(const std::filesystem::path& executable);

// Has imageio load the module from the first of `candidates` that exists
// the first time a clip is opened. Where none does, clips are refused with
// a reason that names where the module was looked for.
void useVideoModule(std::vector<std::filesystem::path> candidates);

// useVideoModule() for this program, found through /proc/self/exe.
void useVideoModuleOfThisProgram();

}  // namespace Kvl::Cli
