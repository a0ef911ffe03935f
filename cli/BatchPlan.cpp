#include "BatchPlan.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <system_error>

#include "imageio/PathText.h"

namespace Kvl::Cli {
namespace {

namespace fs = std::filesystem;

// Names are compared without case: on the file systems of Windows and
// macOS, Shot.tga and shot.tga are one file.
std::string foldCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string fileNameKey(const std::string& path) { return foldCase(textOf(pathOf(path).filename())); }

fs::path normalised(const std::string& path) {
  std::error_code error;
  fs::path result = fs::weakly_canonical(fs::absolute(pathOf(path), error), error);
  return error ? pathOf(path).lexically_normal() : result;
}

// Inputs by folded file name: an output can only be an input with its name.
using InputsByName = std::multimap<std::string, std::size_t>;

std::string refusalFor(const FileJob& job, std::size_t index, const std::vector<std::string>& inputs,
                       const InputsByName& byName, bool overwrite) {
  const auto [first, last] = byName.equal_range(fileNameKey(job.output));
  for (auto it = first; it != last; ++it) {
    if (!isSameFile(job.output, inputs[it->second])) continue;
    if (it->second != index) return "output would overwrite another input, " + inputs[it->second];
    if (!overwrite) return "output would overwrite its input; add --overwrite to allow it";
  }
  return {};
}

std::optional<std::string> findCollision(const std::vector<FileJob>& jobs) {
  std::map<std::string, std::size_t> seen;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    const auto [it, fresh] = seen.emplace(fileNameKey(jobs[i].output), i);
    if (!fresh) {
      return jobs[it->second].input + " and " + jobs[i].input + " would both be keyed into " +
             jobs[i].output;
    }
  }
  return std::nullopt;
}

}  // namespace

std::string outputPathFor(const std::string& input, const std::string& outDir, OutputFormat format) {
  const fs::path name = pathOf(input).filename().replace_extension(extensionOf(format));
  return textOf(pathOf(outDir) / name);
}

bool isSameFile(const std::string& first, const std::string& second) {
  std::error_code error;
  if (fs::exists(pathOf(first), error) && fs::exists(pathOf(second), error)) {
    const bool same = fs::equivalent(pathOf(first), pathOf(second), error);
    if (!error) return same;
  }
  return normalised(first) == normalised(second);
}

namespace {

// Each input with the file it is keyed into: the inputs as given, or the
// frames of a sequence, each output keeping its frame's number and padding.
std::vector<FileJob> pairInputsWithOutputs(const Command& command, const std::vector<long>& frames) {
  const OutputFormat format = outputFormatOf(command);
  const auto outputFor = [&](const std::string& input, const std::string& output) {
    return command.batch() ? outputPathFor(input, command.outDir, format) : output;
  };
  std::vector<FileJob> jobs;
  if (!command.sequence()) {
    for (const std::string& input : command.inputs) jobs.push_back({input, outputFor(input, command.output), format, {}, {}, command.pngLevel, {}});
    return jobs;
  }
  const FramePattern inputs = *parseFramePattern(command.inputs.front());
  const std::optional<FramePattern> outputs = parseFramePattern(command.output);
  for (const long frame : frames) {
    const std::string input = framePath(inputs, frame);
    jobs.push_back({input, outputFor(input, outputs ? framePath(*outputs, frame) : std::string()), format, {}, {}, command.pngLevel, {}});
  }
  return jobs;
}

// The matte and status pictures of each job: the paths given, or for a
// sequence each frame's from the pattern.
void placeViews(const Command& command, const std::vector<long>& frames, std::vector<FileJob>& jobs) {
  const auto viewPath = [&](const std::string& given, std::size_t index) {
    if (given.empty() || !command.sequence()) return given;
    return framePath(*parseFramePattern(given), frames[index]);
  };
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    jobs[i].views = {viewPath(command.matteOut, i), viewPath(command.statusOut, i)};
  }
}

// A view that would land on an input or on a keyed output would lose it.
// Only files of the same name can be one file.
std::optional<std::string> findViewCollision(const std::vector<FileJob>& jobs) {
  std::multimap<std::string, std::pair<const std::string*, const char*>> byName;
  for (const FileJob& job : jobs) {
    byName.emplace(fileNameKey(job.input), std::pair{&job.input, "input"});
    byName.emplace(fileNameKey(job.output), std::pair{&job.output, "output"});
  }
  for (const FileJob& job : jobs) {
    for (const std::string* view : {&job.views.matte, &job.views.status}) {
      if (view->empty()) continue;
      const auto [first, last] = byName.equal_range(fileNameKey(*view));
      for (auto it = first; it != last; ++it) {
        const auto [path, role] = it->second;
        if (isSameFile(*view, *path)) return *view + " would overwrite the " + role + " " + *path;
      }
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::vector<FileJob>> planJobs(const Command& command, const std::vector<long>& frames,
                                             std::string& error) {
  std::vector<FileJob> jobs = pairInputsWithOutputs(command, frames);
  placeViews(command, frames, jobs);
  if (const auto collision = findViewCollision(jobs)) {
    error = *collision;
    return std::nullopt;
  }
  std::vector<std::string> inputs;
  InputsByName byName;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    const std::string& input = jobs[i].input;
    inputs.push_back(input);
    // A link is found by its own name and by the name of what it points to.
    const std::string ownName = fileNameKey(input);
    const std::string targetName = fileNameKey(textOf(normalised(input)));
    byName.emplace(ownName, i);
    if (targetName != ownName) byName.emplace(targetName, i);
  }
  if (const auto collision = findCollision(jobs)) {
    error = *collision;
    return std::nullopt;
  }
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    jobs[i].refusal = refusalFor(jobs[i], i, inputs, byName, command.overwrite);
    jobs[i].pngLevel = command.pngLevel;
  }
  return jobs;
}

}  // namespace Kvl::Cli
