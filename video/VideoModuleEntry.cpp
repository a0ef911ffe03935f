// The one symbol keyvale-cli's video module exports: everything else in it
// is hidden, so that nothing in it can stand in for the program's own.

#include <type_traits>

#include "FfmpegVideo.h"

extern "C" __attribute__((visibility("default"))) const Kvl::VideoBackend* keyvale_video_backend(int abi) {
  if (abi != Kvl::VideoBackendAbi) return nullptr;
  return &Kvl::ffmpegVideoBackend();
}

static_assert(std::is_same_v<decltype(&keyvale_video_backend), Kvl::VideoBackendEntry>);
