#pragma once
// Keying a video clip: one setting for every frame, chosen once from a
// reference frame or given, each frame keyed exactly as a still picture
// is, into a clip that keeps the input's timing and sound, or into one
// numbered picture per frame.

#include <iosfwd>
#include <optional>
#include <string>

#include "Arguments.h"
#include "Commands.h"
#include "engine/Keying.h"
#include "video/VideoFiles.h"

namespace Kvl::Cli {

// Where a clip's keyed frames go: a clip of `codec`, or pictures in a folder.
struct ClipOutput {
  bool pictures = false;
  ClipCodec codec = ClipCodec::ProRes4444;
  OutputFormat pictureFormat = OutputFormat::Targa;
  int pngLevel = DefaultPngLevel;
};

// The output a command asks for, checked before anything is read: nothing,
// with the reason, when the output cannot hold what would be written (alpha
// in .mp4, an unknown codec or container).
std::optional<ClipOutput> planClipOutput(const Command& command, std::string& error);

// Whether the output's name is one of the containers clips are keyed into
// (.mov, .webm, .mkv, .mp4).
bool namesClipContainer(const std::string& path);

// "DIR/clip.000001.png": frame `index` (from 0) of `input` in the folder.
std::string framePicturePath(const std::string& input, const std::string& outDir, OutputFormat format,
                             long long index);

// Reads up to the reference frame (frame `reference`, by default the one a
// second in, or the last frame of a shorter clip) and chooses the setting
// from its preview, as Open would from a still; nothing, with the reason,
// when no frame decodes.
std::optional<Keying> chooseFromClip(const std::string& path, const KeyingRequest& wanted,
                                     std::optional<long long> reference, std::string& error);

// Keys the clip `command.inputs.front()`; returns the exit status.
int runClip(const Command& command, const ClipOutput& output, const KeyingRequest& wanted, std::ostream& out,
            std::ostream& err, ConsoleOptions console);

}  // namespace Kvl::Cli
