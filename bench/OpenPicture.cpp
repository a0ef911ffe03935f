// keyvale_open: what Open does to a picture before any render, and nothing
// else: loadSource reads it into the 240 x 160 preview source. The bench
// script times it against the floor's read of the same file.
//
//   keyvale_open PICTURE

#include <cstdio>

#include "engine/PreviewWorkspace.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: keyvale_open PICTURE\n");
    return 2;
  }
  Kvl::PreviewWorkspace workspace;
  const Kvl::PreviewRead read = workspace.processor().readPreview(argv[1]);
  if (!read.ok()) {
    std::fprintf(stderr, "keyvale_open: %s: %s\n", argv[1], Kvl::describe(Kvl::targaError(read.error, read.header)).c_str());
    return 1;
  }
  // The middle of the preview, so that the read is seen to have happened.
  std::printf("%08x\n", static_cast<unsigned>(workspace.previewSource()[Kvl::PreviewPixelCount / 2]));
  return 0;
}
