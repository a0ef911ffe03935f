#include "ClipViews.h"

#include "BatchPlan.h"
#include "ClipReports.h"
#include "keying/KeyViews.h"

namespace Kvl::Cli {
namespace {

const char* const WritingFailed = "writing failed (disk full or not writable)";

bool openView(std::unique_ptr<ClipWriter>& writer, const std::string& view, ClipReader& reader, std::string& path,
              std::string& error) {
  if (view.empty()) return true;
  path = view;
  const std::optional<ClipCodec> codec = viewCodecFor(view);
  if (!codec) {
    error = "a clip's view is written as .mov, .mp4, .webm or .mkv";
    return false;
  }
  writer = ClipWriter::open(view, *codec, reader, error, ClipWriting{false, false});
  return writer != nullptr;
}

}  // namespace

std::optional<ClipCodec> viewCodecFor(const std::string& path) {
  const std::string extension = lowerExtension(path);
  if (extension == ".mov") return ClipCodec::ProRes422;
  if (extension == ".mp4") return ClipCodec::H264;
  if (extension == ".webm") return ClipCodec::Vp9;
  if (extension == ".mkv") return ClipCodec::Ffv1;
  return std::nullopt;
}

std::optional<std::string> clipViewsRefusal(const Command& command) {
  if (command.matteOut.empty() && command.statusOut.empty()) return std::nullopt;
  if (command.batch()) {
    return "--matte-out and --status name clips beside a keyed clip; a clip keyed into pictures (--out-dir) "
           "has its matte in their alpha";
  }
  for (const std::string* view : {&command.matteOut, &command.statusOut}) {
    if (view->empty()) continue;
    if (!viewCodecFor(*view)) return *view + ": the views of a clip are clips: name them .mov, .mp4, .webm or .mkv";
    if (*view == command.output || isSameFile(*view, command.output)) {
      return *view + ": a view would replace the keyed clip";
    }
    // Never the clip it is made from, --overwrite or not: a matte in place
    // of the footage is no one's wish.
    if (isSameFile(*view, command.inputs.front())) return *view + ": a view would replace the clip keyed";
  }
  return std::nullopt;
}

bool ClipViews::open(ClipReader& reader, std::string& path, std::string& error) {
  if (!openView(matte_, paths_.matte, reader, path, error)) return false;
  if (!openView(status_, paths_.status, reader, path, error)) return false;
  const ClipInfo& info = reader.info();
  if (wanted()) view_.resize(std::size_t{info.width} * info.height + FrameSlackPixels);
  return true;
}

bool ClipViews::write(const Pixel32* plate, const Pixel32* keyed, std::size_t pixels, std::string& path,
                      std::string& error) {
  error = WritingFailed;
  if (matte_) {
    matteAsGrey(keyed, view_.data(), pixels);
    path = paths_.matte;
    if (!matte_->writeFrame(view_.data())) return false;
  }
  if (status_) {
    statusView(plate, keyed, view_.data(), pixels);
    path = paths_.status;
    if (!status_->writeFrame(view_.data())) return false;
  }
  return true;
}

bool ClipViews::commit(std::string& path, std::string& error) {
  path = paths_.matte;
  if (matte_ && !matte_->commit(error)) return false;
  path = paths_.status;
  return !status_ || status_->commit(error);
}

}  // namespace Kvl::Cli
