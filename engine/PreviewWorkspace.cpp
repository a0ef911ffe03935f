#include "PreviewWorkspace.h"

namespace Kvl {
namespace {
constexpr Pixel32 SurfaceFill = Pixel32{SurfaceFillByte} * 0x01010101u;
}

PreviewWorkspace::PreviewWorkspace() : PreviewWorkspace(nullptr) {}

PreviewWorkspace::PreviewWorkspace(ShellPort& shell) : PreviewWorkspace(&shell) {}

PreviewWorkspace::PreviewWorkspace(ShellPort* shell)
    : previewSource_(PreviewPixelCount, Pixel32{0}),
      composite_(PreviewPixelCount, SurfaceFill),
      matte_(PreviewPixelCount, SurfaceFill),
      processor_(checkerboard_.data(), previewSource_.data(), composite_.data(), matte_.data(), shell) {
  KeyProcessor::fillCheckerboard(checkerboard_.data());
}

}  // namespace Kvl
