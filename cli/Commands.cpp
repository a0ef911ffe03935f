#include "Commands.h"

#include <ostream>

#include "engine/ChannelControls.h"
#include "engine/PreviewWorkspace.h"
#include "imageio/ImageSaver.h"

namespace Kvl::Cli {
namespace {

void reportFileError(std::ostream& err, const std::string& path, const std::string& reason) {
  err << "keyvale-cli: " << path << ": " << reason << '\n';
}

void printSettings(std::ostream& out, const ShellSettings& settings) {
  out << "channel=" << channelName(settings.CurrentChannel) << " contrast=" << int{settings.Contrast}
      << " offset=" << int{settings.Offset} << '\n';
}

// Loads the picture into the workspace's preview, as Open does; false (with
// a message) when it cannot be read.
bool loadPreview(PreviewWorkspace& workspace, const std::string& path, std::ostream& err) {
  const PreviewRead read = workspace.processor().readPreview(path.c_str());
  if (!read.ok()) reportFileError(err, path, describeLoadError(read.error, read.header));
  return read.ok();
}

// Settings as the window would hold them after Open: a detected channel
// and auto-adjusted sliders where asked for, the given values elsewhere.
// The workspace ends rendered with the channel chosen and Contrast and
// Offset at 0 when auto adjust ran, as after Open.
ShellSettings chooseSettings(const KeySettings& wanted, PreviewWorkspace& workspace, ShellPort& shell) {
  ShellSettings settings;
  settings.Contrast = static_cast<std::uint8_t>(wanted.contrast);
  settings.Offset = static_cast<std::uint8_t>(wanted.offset);
  KeyProcessor& processor = workspace.processor();
  selectChannel(wanted.channel.value_or(processor.dominantChannel()), settings, shell, &processor);
  if (wanted.autoAdjust) autoAdjust(settings, shell, &processor);
  return settings;
}

void warnIfTruncated(std::ostream& err, const std::string& path, bool truncated) {
  if (truncated) {
    err << "keyvale-cli: warning: " << path << ": file is truncated; missing pixels are keyed as black\n";
  }
}

}  // namespace

int runKey(const Command& command, std::ostream& out, std::ostream& err) {
  const std::string& input = command.inputs.front();
  ShellSettings settings;
  settings.CurrentChannel = command.settings.channel.value_or(GreenChannel);
  settings.Contrast = static_cast<std::uint8_t>(command.settings.contrast);
  settings.Offset = static_cast<std::uint8_t>(command.settings.offset);
  if (!command.settings.channel || command.settings.autoAdjust) {
    SilentShell shell;
    PreviewWorkspace workspace(shell);
    if (!loadPreview(workspace, input, err)) return ExitFileError;
    settings = chooseSettings(command.settings, workspace, shell);
  }
  TgaSaver saver;
  if (!saver.save(command.output.c_str(), input.c_str(), settings.CurrentChannel, settings.Contrast,
                  settings.Offset)) {
    const bool sourceFailed = saver.error() == SaveError::SourceUnreadable;
    reportFileError(err, sourceFailed ? input : command.output, saver.describeError());
    return ExitFileError;
  }
  warnIfTruncated(err, input, saver.sourceTruncated());
  printSettings(out, settings);
  return ExitSuccess;
}

int runPreview(const Command& command, std::ostream& out, std::ostream& err) {
  const std::string& input = command.inputs.front();
  SilentShell shell;
  PreviewWorkspace workspace(shell);
  for (int i = 0; i < command.scroll % PreviewWidth; ++i) {
    KeyProcessor::scrollCheckerboard(workspace.checkerboard());
  }
  if (!loadPreview(workspace, input, err)) return ExitFileError;
  const ShellSettings settings = chooseSettings(command.settings, workspace, shell);
  workspace.processor().render(settings.CurrentChannel, settings.Contrast, settings.Offset);
  for (const auto& [path, pixels] : {std::pair{command.composite, workspace.composite()},
                                     std::pair{command.matte, workspace.matte()}}) {
    if (!writeTga32(path.c_str(), pixels, PreviewWidth, PreviewHeight)) {
      reportFileError(err, path, "cannot write");
      return ExitFileError;
    }
  }
  printSettings(out, settings);
  return ExitSuccess;
}

}  // namespace Kvl::Cli
