#include "Commands.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <ostream>
#include <system_error>

#include "Background.h"
#include "BatchPlan.h"
#include "BatchRunner.h"
#include "ClipKeying.h"
#include "ClipViews.h"
#include "FileKeying.h"
#include "Refinement.h"
#include "Resume.h"
#include "UsableCpus.h"
#include "SettingsFile.h"
#include "ShotPlate.h"
#include "SteadyFrames.h"
#include "Wildcards.h"
#include "Version.h"
#include "engine/PreviewWorkspace.h"
#include "imageio/PathText.h"
#include "imageio/PictureFiles.h"
#include "imageio/PictureSink.h"
#include "video/VideoFiles.h"


namespace Kvl::Cli {
namespace {

void reportFileError(std::ostream& err, const std::string& path, const std::string& reason) {
  err << "keyvale-cli: " << path << ": " << reason << '\n';
}

void printSettings(std::ostream& out, const Keying& settings) { out << describeKeying(settings) << '\n'; }

bool writePreviewPicture(const std::string& path, const Pixel32* pixels) {
  TargaSink output;
  if (!output.open(path, PreviewWidth, PreviewHeight, RowOrder::BottomUp)) return false;
  output.writeRows(0, pixels, PreviewHeight);
  return output.commit();
}

bool makeOutputFolder(const std::string& folder, std::ostream& err) {
  std::error_code error;
  std::filesystem::create_directories(pathOf(folder), error);
  if (std::filesystem::is_directory(pathOf(folder), error)) return true;
  reportFileError(err, folder, "cannot create the output folder");
  return false;
}

// A clean plate's pixels, read whole and smoothed (as the plate keyer reads
// its pictures); nothing, told on `err`, when the file cannot be read.
std::shared_ptr<const CleanPlate> readCleanPlate(const std::string& path, std::ostream& err) {
  std::uint32_t width = 0, height = 0;
  std::string error;
  try {
    float colourQuantisation = 0;
    auto pixels = readWholePicture(path, width, height, error, ChromaUpsampling::LumaGuided, &colourQuantisation);
    if (pixels) {
      CleanPlate plate = smoothedCleanPlate(std::move(*pixels), width, height);
      plate.colourQuantisation = colourQuantisation;
      return std::make_shared<const CleanPlate>(std::move(plate));
    }
  } catch (const std::bad_alloc&) {
    error = "not enough memory for the image";
  }
  reportFileError(err, path, error);
  return nullptr;
}

// The setting a run asks for: a setting file's, read before any other
// work, or what the options say; with the clean plate either names, read.
std::optional<KeyingRequest> requestedSettings(const Command& command, std::ostream& err) {
  if (command.settingsFile.empty()) {
    KeyingRequest request;
    request.keyer = command.keyer;
    request.classic = command.settings;
    request.screen = command.screen;
    if (!command.cleanPlate.empty()) {
      // Named in full, so that a setting file written now finds it from anywhere.
      std::error_code failed;
      const auto absolute = std::filesystem::absolute(pathOf(command.cleanPlate), failed);
      request.cleanPlateFile = failed ? command.cleanPlate : textOf(absolute);
      request.cleanPlate = readCleanPlate(command.cleanPlate, err);
      if (!request.cleanPlate) return std::nullopt;
    }
    return request;
  }
  std::string error;
  auto settings = readSettingsFile(command.settingsFile, error);
  if (!settings) {
    reportFileError(err, command.settingsFile, error);
    return std::nullopt;
  }
  if (settings->keyer == KeyerKind::Plate && !settings->plate.cleanPlateFile.empty()) {
    settings->plate.cleanPlate = readCleanPlate(settings->plate.cleanPlateFile, err);
    if (!settings->plate.cleanPlate) return std::nullopt;
  }
  return KeyingRequest::given(*settings);
}

// The picture a setting shared by all files is chosen from: a sequence's
// reference frame (of the whole range, so that every chunk of it agrees),
// else the one input.
std::string referencePicture(const Command& command) {
  if (!command.sequence()) return command.inputs.front();
  const long frame = command.referenceFrame.value_or(command.frames->middleFrame());
  return framePath(*parseFramePattern(command.inputs.front()), frame);
}

// A setting to be written with --settings-out, or shared by the frames of
// a shot, is chosen once, here, from the reference picture, as keying
// would choose it; the keying then takes it as given.
std::optional<KeyingRequest> fixSharedSettings(const Command& command, const KeyingRequest& wanted,
                                               std::ostream& err) {
  const bool shared = !command.settingsOutFile.empty() || command.sequence();
  if (!shared || !wanted.choosesFromPicture()) return wanted;
  const std::string reference = referencePicture(command);
  std::string error;
  const auto chosen = chooseKeyingFor(reference, wanted, error);
  if (!chosen) {
    reportFileError(err, reference, error);
    return std::nullopt;
  }
  return KeyingRequest::given(*chosen);
}

// The task number of a chunked run: --task, or the variable a farm
// manager sets for each task.
std::optional<long> taskNumber(const Command& command, std::ostream& err) {
  if (command.task) return command.task;
  const char* value = std::getenv(command.taskFromEnv.c_str());
  if (value == nullptr) {
    err << "keyvale-cli: --task-from-env " << command.taskFromEnv << ": the variable is not set\n";
    return std::nullopt;
  }
  const auto task = parseTaskNumber(value);
  if (!task) {
    err << "keyvale-cli: --task-from-env " << command.taskFromEnv << ": '" << value
        << "' is not a chunk number from 0\n";
  }
  return task;
}

// The frames this run keys: the whole range, or its task's chunk. Nothing
// (a usage error, told on `err`) when the task has no chunk.
std::optional<std::vector<long>> framesToKey(const Command& command, std::ostream& err) {
  if (!command.sequence()) return std::vector<long>{};
  if (command.chunkSize == 0) return command.frames->frames();
  const auto task = taskNumber(command, err);
  if (!task) return std::nullopt;
  std::string error;
  auto frames = chunkFrames(*command.frames, static_cast<std::size_t>(command.chunkSize), *task, error);
  if (!frames) err << "keyvale-cli: " << error << '\n';
  return frames;
}

// Each frame's job names the earlier frames it is steadied with: the
// jobs are one per frame of `frames`, in order.
void steadyJobs(const Command& command, const std::vector<long>& frames, std::vector<FileJob>& jobs) {
  const FramePattern pattern = *parseFramePattern(command.inputs.front());
  for (std::size_t i = 0; i < jobs.size() && i < frames.size(); ++i) {
    jobs[i].steady = true;
    jobs[i].earlierInputs = earlierFrameInputs(pattern, *command.frames, frames[i]);
  }
}

bool writeSettingsOut(const Command& command, const Keying& settings, std::ostream& err) {
  if (command.settingsOutFile.empty()) return true;
  std::string error;
  if (writeSettingsFile(command.settingsOutFile, settings, error)) return true;
  reportFileError(err, command.settingsOutFile, error);
  return false;
}

int cpusOf(ConsoleOptions console) { return console.cpuCount > 0 ? console.cpuCount : usableCpuCount(); }

// A clip is keyed on its own: into one clip, or one picture per frame. A
// stream of JPEG pictures (raw MJPEG, however it is named) starts as one
// JPEG picture does: keyed into a clip, it is read as the clip it is.
bool isClipCommand(const Command& command) {
  if (command.inputs.size() != 1) return false;
  std::string reason;
  if (isClip(command.inputs.front(), reason)) return true;
  return !command.batch() && namesClipContainer(command.output) &&
         sniffPictureFormat(command.inputs.front()) == PictureFormat::Jpeg && canReadClips();
}

// The output is checked before anything is read, so a clip that could not
// be written costs nothing.
int runClipCommand(const Command& command, std::ostream& out, std::ostream& err, ConsoleOptions console) {
  std::string error;
  if (const auto refusal = clipViewsRefusal(command)) {
    err << "keyvale-cli: " << *refusal << '\n';
    return ExitUsage;
  }
  const auto output = planClipOutput(command, error);
  if (!output) {
    err << "keyvale-cli: " << error << '\n';
    return ExitUsage;
  }
  if (!canReadClips()) {
    ClipReader::open(command.inputs.front(), error);
    reportFileError(err, command.inputs.front(), error);
    return ExitFileError;
  }
  // As for stills: the clip would be gone once its keyed copy took its place.
  if (!output->pictures && !command.overwrite && isSameFile(command.inputs.front(), command.output)) {
    reportFileError(err, command.output, "output would overwrite its input; add --overwrite to allow it");
    return ExitFileError;
  }
  auto wanted = requestedSettings(command, err);
  if (!wanted || (command.cleanPlateFrames && !addShotCleanPlate(command, *wanted, err))) return ExitFileError;
  console.cpuCount = cpusOf(console);
  if (command.cleanPlateFromShot) {
    // The setting first (the plate is made with its key), then the plate.
    std::optional<Keying> chosen = givenKeying(*wanted);
    if (wanted->choosesFromPicture()) chosen = chooseFromClip(command.inputs.front(), *wanted, command.referenceFrame, error);
    if (!chosen) reportFileError(err, command.inputs.front(), error);
    if (!chosen || !addCleanPlateFromShot(command, *chosen, console.cpuCount, err)) return ExitFileError;
    wanted = KeyingRequest::given(*chosen);
  }
  return runClip(command, *output, *wanted, out, err, console);
}

}  // namespace

int runCommandLine(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                   ConsoleOptions console) {
  std::string error;
  const auto command = parseArguments(arguments, error);
  if (!command) {
    err << "keyvale-cli: " << error << "\n\n" << helpText();
    return ExitUsage;
  }
  if (console.expandWildcards && command->kind == Command::Kind::Key) {
    std::string unmatched;
    const auto inputs = expandWildcards(command->inputs, unmatched);
    if (!inputs) {
      reportFileError(err, unmatched, "no file matches this pattern");
      return ExitFileError;
    }
    Command expanded = *command;
    expanded.inputs = *inputs;
    return runKey(expanded, out, err, console);
  }
  switch (command->kind) {
    case Command::Kind::Help: out << helpText(); return ExitSuccess;
    case Command::Kind::Version: out << "keyvale-cli " << KeyvaleVersion << '\n'; return ExitSuccess;
    case Command::Kind::Key: return runKey(*command, out, err, console);
    case Command::Kind::Preview: return runPreview(*command, out, err);
  }
  return ExitUsage;
}

namespace {

// The options that read a clip's other frames (--steady-matte, the shot's
// clean plates, --reference-frame), given one file that is no clip: a
// file that is no picture either is refused for what it is, naming it,
// rather than for the option.
bool refusedUnreadableInput(const Command& command, std::ostream& err) {
  const bool readsOtherFrames = command.referenceFrame || command.steadyMatte || command.cleanPlateFrames ||
                                command.cleanPlateFromShot;
  if (!readsOtherFrames || command.sequence() || command.inputs.size() != 1) return false;
  const std::string reason = whyNotAPicture(command.inputs.front());
  if (reason.empty()) return false;
  reportFileError(err, command.inputs.front(), reason);
  return true;
}

}  // namespace

int runKey(const Command& command, std::ostream& out, std::ostream& err, ConsoleOptions console) {
  if (isClipCommand(command)) return runClipCommand(command, out, err, console);
  if (refusedUnreadableInput(command, err)) return ExitFileError;
  if (command.referenceFrame && !command.sequence()) {
    err << "keyvale-cli: --reference-frame is for a clip or a --frames sequence\n";
    return ExitUsage;
  }
  if (command.steadyMatte && !command.sequence()) {
    err << "keyvale-cli: --steady-matte is for a clip or a --frames sequence\n";
    return ExitUsage;
  }
  const auto frames = framesToKey(command, err);
  if (!frames) return ExitUsage;
  std::string error;
  auto jobs = command.settingsOnly() ? std::vector<FileJob>{} : planJobs(command, *frames, error);
  if (!jobs) {
    err << "keyvale-cli: " << error << '\n';
    return ExitUsage;
  }
  if (command.steadyMatte) steadyJobs(command, *frames, *jobs);
  if ((command.cleanPlateFrames || command.cleanPlateFromShot) && !command.sequence()) {
    err << "keyvale-cli: " << (command.cleanPlateFrames ? "--clean-plate-frames" : "--clean-plate-from-shot")
        << " is for a clip or a --frames sequence\n";
    return ExitUsage;
  }
  auto wanted = requestedSettings(command, err);
  if (wanted && command.cleanPlateFrames && !addShotCleanPlate(command, *wanted, err)) return ExitFileError;
  if (wanted) wanted = fixSharedSettings(command, *wanted, err);
  if (wanted && command.cleanPlateFromShot) {
    Keying shot = givenKeying(*wanted);
    if (!addCleanPlateFromShot(command, shot, cpusOf(console), err)) return ExitFileError;
    wanted = KeyingRequest::given(shot);
  }
  if (!wanted) return ExitFileError;
  // A first farm step: the shot's setting, for every task to key with.
  if (command.settingsOnly()) {
    printSettings(out, givenKeying(*wanted));
    return writeSettingsOut(command, givenKeying(*wanted), err) ? ExitSuccess : ExitFileError;
  }
  std::shared_ptr<const MatteRefinement> refinement;
  if (!loadRefinement(command.refine, refinement, err)) return ExitFileError;
  if (command.batch() && !makeOutputFolder(command.outDir, err)) return ExitFileError;
  if (command.skipExisting) {
    removeLeftoverPartials(*jobs);
    jobs = withoutFinishedOutputs(*jobs, out);
  }
  BatchOptions options;
  options.jobs = command.jobs != 0 ? command.jobs : console.cpuCount;
  options.nameEachLine = command.batch() || command.sequence();
  options.plainProgress = command.plainProgress;
  // One file gives nothing to count, except in a farm log.
  options.showProgress =
      !command.quiet && (command.plainProgress || (console.stderrIsTerminal && jobs->size() > 1));
  // The cores the batch leaves idle go to keying each picture's rows.
  const int keyThreads = std::max(1, cpusOf(console) / threadCountFor(options.jobs, jobs->size()));
  for (FileJob& job : *jobs) {
    job.background = command.background;
    job.refinement = refinement;
    job.keyThreads = keyThreads;
    job.deep = {command.inputTransfer, command.premultiplied, command.exrCompression, command.lightWrap};
  }
  if (!runBatch(*jobs, *wanted, options, out, err)) return ExitFileError;
  return writeSettingsOut(command, givenKeying(*wanted), err) ? ExitSuccess : ExitFileError;
}

int runPreview(const Command& command, std::ostream& out, std::ostream& err) {
  const auto request = requestedSettings(command, err);
  if (!request) return ExitFileError;
  if (request->keyer != KeyerKind::Classic) {
    reportFileError(err, command.settingsFile, "the window's preview shows the classic keyer; this is a "
                                               "plate keyer setting");
    return ExitFileError;
  }
  const SettingsRequest* wanted = &request->classic;
  const std::string& input = command.inputs.front();
  PreviewWorkspace workspace;
  for (int i = 0; i < command.scroll % PreviewWidth; ++i) {
    KeyProcessor::scrollCheckerboard(workspace.checkerboard());
  }
  std::string error, warning;
  const bool loaded = loadIntoPreview(workspace, input, error, warning);
  if (!warning.empty()) err << "keyvale-cli: warning: " << input << ": " << warning << '\n';
  if (!loaded) {
    reportFileError(err, input, error);
    return ExitFileError;
  }
  const KeySettings settings = chooseSettings(workspace.previewSource(), *wanted);
  workspace.processor().render(settings.channel, settings.contrast, settings.offset);
  for (const auto& [path, pixels] : {std::pair{command.composite, workspace.composite()},
                                     std::pair{command.matte, workspace.matte()}}) {
    if (!writePreviewPicture(path, pixels)) {
      reportFileError(err, path, "cannot write");
      return ExitFileError;
    }
  }
  const Keying keying{KeyerKind::Classic, settings, {}};
  printSettings(out, keying);
  return writeSettingsOut(command, keying, err) ? ExitSuccess : ExitFileError;
}

}  // namespace Kvl::Cli
