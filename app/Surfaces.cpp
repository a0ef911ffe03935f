#include "Surfaces.h"

#include <cstring>
#include <new>

#include "ShellSeams.h"
#include "ShellState.h"

namespace Kvl::App {
namespace {

// Bottom-up (positive height): the first row in memory is the bottom row on
// screen, which is the order the processor writes its rows in.
BITMAPINFO previewBitmapHeader() {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);  // 40
  info.bmiHeader.biWidth = PreviewWidth;
  info.bmiHeader.biHeight = PreviewHeight;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

bool createSurface(Surface& surface) {
  HDC scratch = CreateCompatibleDC(nullptr);
  void* bits = nullptr;
  surface.bitmap = createPreviewBitmap(scratch, previewBitmapHeader(), &bits);
  DeleteDC(scratch);
  if (surface.bitmap == nullptr || bits == nullptr) return false;
  surface.pixels = static_cast<Pixel32*>(bits);
  surface.context = CreateCompatibleDC(nullptr);
  if (surface.context == nullptr) return false;
  SelectObject(surface.context, surface.bitmap);
  return true;
}

void fillGrey(const Surface& surface) {
  std::memset(surface.pixels, SurfaceFillByte, PreviewPixelCount * sizeof(Pixel32));
}

}  // namespace

bool createSurfaces() {
  ShellState& state = shell();
  return createSurface(state.CompositeSurface) && createSurface(state.MatteSurface);
}

bool allocateBuffers() {
  ShellState& state = shell();
  state.CheckerBuffer = new (std::nothrow) std::uint8_t[PreviewPixelCount];
  if (state.CheckerBuffer == nullptr) return false;
  state.SourcePreview = allocatePreviewSource();
  return state.SourcePreview != nullptr;
}

void fillBuffersAndSurfaces() {
  ShellState& state = shell();
  KeyProcessor::fillCheckerboard(state.CheckerBuffer);
  fillGrey(state.CompositeSurface);
  fillGrey(state.MatteSurface);
}

void releaseSurfaces() {
  ShellState& state = shell();
  // A bitmap still selected into its context is let go when the context is
  // deleted, so the bitmaps can be deleted after.
  for (Surface* surface : {&state.CompositeSurface, &state.MatteSurface}) {
    if (surface->context != nullptr) DeleteDC(surface->context);
    surface->context = nullptr;
  }
  for (Surface* surface : {&state.CompositeSurface, &state.MatteSurface}) {
    if (surface->bitmap != nullptr) DeleteObject(surface->bitmap);
    surface->bitmap = nullptr;
    surface->pixels = nullptr;
  }
}

void freeBuffers() {
  ShellState& state = shell();
  delete[] state.SourcePreview;
  state.SourcePreview = nullptr;
  delete[] state.CheckerBuffer;
  state.CheckerBuffer = nullptr;
}

}  // namespace Kvl::App
