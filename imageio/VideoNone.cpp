// Clips in a build without the video libraries (the MinGW cross builds):
// every clip is refused with a reason that says so.

#include "VideoFiles.h"

namespace Kvl {

struct ClipReader::State {};
struct ClipWriter::State {};

namespace {
const char* const NoVideo = "video clips are not supported by this build of keyvale-cli (it has no video libraries)";
}

bool canReadClips() { return false; }
double threadCpuSeconds() { return 0; }

ClipReader::ClipReader(std::unique_ptr<State> state) : state_(std::move(state)) {}
ClipReader::~ClipReader() = default;

std::unique_ptr<ClipReader> ClipReader::open(const std::string&, std::string& error) {
  error = NoVideo;
  return nullptr;
}

const ClipInfo& ClipReader::info() const {
  static const ClipInfo none;
  return none;
}
bool ClipReader::readFrame(std::vector<Pixel32>&) { return false; }
FrameLoss ClipReader::loss() const { return {}; }
std::int64_t ClipReader::framesRead() const { return 0; }
ClipTimes ClipReader::times() const { return {}; }

ClipWriter::ClipWriter(std::unique_ptr<State> state) : state_(std::move(state)) {}
ClipWriter::~ClipWriter() = default;

std::unique_ptr<ClipWriter> ClipWriter::open(const std::string&, ClipCodec, ClipReader&, std::string& error) {
  error = NoVideo;
  return nullptr;
}
bool ClipWriter::writeFrame(const Pixel32*) { return false; }
ClipTimes ClipWriter::times() const { return {}; }
bool ClipWriter::commit(std::string& error) {
  error = NoVideo;
  return false;
}
const std::vector<std::string>& ClipWriter::droppedAudio() const {
  static const std::vector<std::string> none;
  return none;
}

}  // namespace Kvl
