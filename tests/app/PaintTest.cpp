// What reaches the screen: the window's own pixels where the previews
// stand, read back after the window has painted.

#include "ShellFixture.h"

namespace Kvl::App::Test {
namespace {

// The 240 x 160 client pixels at (x, y), in the surfaces' bottom-up order.
std::vector<Pixel32> clientPixels(HWND window, int x, int y) {
  HDC screen = GetDC(window);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), PreviewWidth, PreviewHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, PreviewWidth, PreviewHeight, screen, x, y, SRCCOPY);
  GdiFlush();
  const auto* pixels = static_cast<const Pixel32*>(bits);
  std::vector<Pixel32> copy(pixels, pixels + PreviewPixelCount);
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(window, screen);
  return copy;
}

class PaintTest : public ShellTest {
protected:
  void SetUp() override {
    ShellTest::SetUp();
    HDC screen = GetDC(nullptr);
    const int depth = GetDeviceCaps(screen, BITSPIXEL);
    ReleaseDC(nullptr, screen);
    ASSERT_GE(depth, 24) << "exact pixel checks need a true-colour display";
  }

  // Paints what is invalid, then compares; the alpha byte is not painted.
  ::testing::AssertionResult windowShowsTheSurfaces() {
    UpdateWindow(windows().MainWindow);
    const auto composite = clientPixels(windows().MainWindow, 4, 4);
    const auto matte = clientPixels(windows().MainWindow, 250, 4);
    auto left = samePixels(composite.data(), copyOf(TestAccess::compositeSurface()), 0x00FFFFFF);
    if (!left) return ::testing::AssertionFailure() << "left preview " << left.message();
    auto right = samePixels(matte.data(), copyOf(TestAccess::matteSurface()), 0x00FFFFFF);
    if (!right) return ::testing::AssertionFailure() << "right preview " << right.message();
    return ::testing::AssertionSuccess();
  }

  static std::vector<Pixel32> copyOf(const Surface& surface) {
    return {surface.pixels, surface.pixels + PreviewPixelCount};
  }
};

TEST_F(PaintTest, BothSurfacesAppearWholeAtTheirPlaces) {
  openThroughDialog(writeBluePicture(dir, "blue.tga"));
  EXPECT_TRUE(windowShowsTheSurfaces());
}

// Each command and slider message invalidates the window: without that the
// screen would keep the previous render.
TEST_F(PaintTest, EveryChangeReachesTheScreen) {
  openThroughDialog(writeBluePicture(dir, "blue.tga"));
  UpdateWindow(windows().MainWindow);
  click(windows().RedButton);
  EXPECT_TRUE(windowShowsTheSurfaces());
  SendMessageA(windows().ContrastSlider, WM_KEYDOWN, VK_HOME, 0);
  EXPECT_TRUE(windowShowsTheSurfaces());
}

}  // namespace
}  // namespace Kvl::App::Test
