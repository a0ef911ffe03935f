#pragma once
// The matte and status views of a keyed clip (--matte-out, --status): two
// opaque clips beside the keyed one, of the same frames at the same times,
// in a codec every editor decodes. Each is written under a temporary name
// and put in place only when whole, as the keyed clip is; they carry no
// sound.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ViewOutputs.h"
#include "video/VideoFiles.h"

namespace Kvl::Cli {

// The codec a view is written in, from its name: .mov ProRes 422 HQ, .mp4
// H.264, .webm VP9, .mkv FFV1; nothing for a name that is no clip.
std::optional<ClipCodec> viewCodecFor(const std::string& path);

// Why the views cannot be written for a clip keyed as `command` asks, or
// nothing when they can (or none is asked for).
std::optional<std::string> clipViewsRefusal(const Command& command);

class ClipViews {
public:
  explicit ClipViews(ViewPaths paths) : paths_(std::move(paths)) {}

  bool wanted() const { return !paths_.empty(); }
  // Whether write() needs the frame as it was read.
  bool wantsPlate() const { return !paths_.status.empty(); }

  // Opens a writer for each view asked for, timed by `reader`; on failure
  // `path` names the view.
  bool open(ClipReader& reader, std::string& path, std::string& error);
  // The views of one keyed frame (straight alpha, before any background);
  // `plate`, the frame as read, is used by the status view only.
  bool write(const Pixel32* plate, const Pixel32* keyed, std::size_t pixels, std::string& path, std::string& error);
  // Puts each view in place; once every frame is written.
  bool commit(std::string& path, std::string& error);

private:
  ViewPaths paths_;
  std::unique_ptr<ClipWriter> matte_;
  std::unique_ptr<ClipWriter> status_;
  std::vector<Pixel32> view_;  // one view's frame, with the slack the writer's converters read
};

}  // namespace Kvl::Cli
