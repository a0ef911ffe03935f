#include "VideoModule.h"

#include <dlfcn.h>

#include <system_error>

#include "video/VideoBackend.h"

namespace Kvl::Cli {
namespace {

bool isPresent(const std::filesystem::path& file) {
  std::error_code failed;
  return std::filesystem::is_regular_file(file, failed);
}

// The module the program would load, or where none exists, the one it
// should have: the last candidate whose folder exists (an installed
// program's lib folder, before the folder it sits in).
std::filesystem::path chosenModule(const std::vector<std::filesystem::path>& candidates) {
  for (const auto& candidate : candidates) {
    if (isPresent(candidate)) return candidate;
  }
  for (auto candidate = candidates.rbegin(); candidate != candidates.rend(); ++candidate) {
    std::error_code failed;
    if (std::filesystem::is_directory(candidate->parent_path(), failed)) return *candidate;
  }
  return candidates.empty() ? std::filesystem::path(VideoModuleName) : candidates.front();
}

std::string moduleError(const std::string& reason) { return "video clips need keyvale-cli's video module: " + reason; }

std::string lastLoaderError() {
  const char* text = dlerror();
  return text != nullptr ? text : "unknown error";
}

// The module stays loaded for the rest of the run: the decoders and
// encoders it hands out are its code.
const VideoBackend* loadModule(const std::filesystem::path& module, std::string& error) {
  void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    error = moduleError(lastLoaderError());
    return nullptr;
  }
  void* entry = dlsym(handle, VideoBackendEntryName);
  if (entry == nullptr) {
    error = moduleError(lastLoaderError());
    return nullptr;
  }
  // POSIX guarantees that a data pointer from dlsym converts to a function pointer.
  const auto backendOf = reinterpret_cast<VideoBackendEntry>(entry);
  const VideoBackend* backend = backendOf(VideoBackendAbi);
  if (backend == nullptr) error = moduleError(module.string() + ": made for another version of keyvale-cli");
  return backend;
}

}  // namespace

std::vector<std::filesystem::path> videoModuleCandidates(const std::filesystem::path& executable) {
  const std::filesystem::path folder = executable.parent_path();
  const std::filesystem::path lib = folder.parent_path() / "lib";
  std::vector<std::filesystem::path> candidates{folder / VideoModuleName};
  const std::string multiarch = KEYVALE_MULTIARCH;
  if (!multiarch.empty()) candidates.push_back(lib / multiarch / "keyvale" / VideoModuleName);
  candidates.push_back(lib / "keyvale" / VideoModuleName);
  return candidates;
}

void useVideoModule(std::vector<std::filesystem::path> candidates) {
  VideoBackendLoader loader;
  loader.available = [candidates] { return isPresent(chosenModule(candidates)); };
  loader.load = [candidates](std::string& error) { return loadModule(chosenModule(candidates), error); };
  installVideoBackendLoader(std::move(loader));
}

void useVideoModuleOfThisProgram() {
  std::error_code failed;
  const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", failed);
  // Without /proc the installed layout is the one to try.
  useVideoModule(videoModuleCandidates(failed ? std::filesystem::path("/usr/bin/keyvale-cli") : executable));
}

}  // namespace Kvl::Cli
