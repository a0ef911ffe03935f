// Slider messages as the trackbars send them: both sliders re-read, one
// render, and the checkerboard drifting one pixel after that render.

#include "ShellFixture.h"

#include <commctrl.h>

namespace Kvl::App::Test {
namespace {

std::vector<std::uint8_t> checkerboardNow() {
  return {TestAccess::checkerBuffer(), TestAccess::checkerBuffer() + PreviewPixelCount};
}

std::vector<std::uint8_t> scrolled(std::vector<std::uint8_t> checkerboard, int times) {
  for (int i = 0; i < times; ++i) KeyProcessor::scrollCheckerboard(checkerboard.data());
  return checkerboard;
}

class SliderTest : public ShellTest {
protected:
  void SetUp() override {
    ShellTest::SetUp();
    openThroughDialog(writeBluePicture(dir, "blue.tga"));
    ASSERT_NE(settings().contrast, 0);
  }

  // What the shell's settings give over a given checkerboard.
  Previews previewsOver(const std::vector<std::uint8_t>& checkerboard) const {
    const KeySettings& s = settings();
    return referenceRender(TestAccess::sourcePreview(), checkerboard.data(), s.channel,
                           s.contrast, s.offset);
  }
};

// A key press moves the slider and sends TB_LINEDOWN; its release sends
// TB_ENDTRACK, a message that reports no change and still renders.
TEST_F(SliderTest, EachMessageReadsBothSlidersRendersThenShiftsTheCheckerboard) {
  const std::vector<std::uint8_t> before = checkerboardNow();
  const unsigned renders = TestAccess::renderCount();
  const int contrast = settings().contrast;
  // Set by the program: no slider message, so the shell has not seen it yet.
  SendMessageA(windows().OffsetSlider, TBM_SETPOS, TRUE, 7);
  EXPECT_NE(settings().offset, 7);

  SendMessageA(windows().ContrastSlider, WM_KEYDOWN, VK_RIGHT, 0);
  EXPECT_EQ(settings().contrast, contrast + 1);
  EXPECT_EQ(settings().offset, 7);  // the other slider, read as well
  EXPECT_EQ(TestAccess::renderCount(), renders + 1);
  EXPECT_TRUE(surfacesShow(previewsOver(before)));  // rendered before the shift
  EXPECT_EQ(checkerboardNow(), scrolled(before, 1));

  SendMessageA(windows().ContrastSlider, WM_KEYUP, VK_RIGHT, 0);
  EXPECT_EQ(settings().contrast, contrast + 1);
  EXPECT_EQ(TestAccess::renderCount(), renders + 2);
  EXPECT_TRUE(surfacesShow(previewsOver(scrolled(before, 1))));
  EXPECT_EQ(checkerboardNow(), scrolled(before, 2));
}

TEST_F(SliderTest, PositionsSetByTheProgramNeitherRenderNorShift) {
  const std::vector<std::uint8_t> before = checkerboardNow();
  const unsigned renders = TestAccess::renderCount();
  SendMessageA(windows().ContrastSlider, TBM_SETPOS, TRUE, 99);
  SendMessageA(windows().OffsetSlider, TBM_SETPOS, FALSE, 3);
  click(windows().AutoAdjustButton);  // moves both sliders itself, then renders once
  EXPECT_EQ(TestAccess::renderCount(), renders + 1);
  EXPECT_EQ(checkerboardNow(), before);
}

TEST_F(SliderTest, TheLowerSliderIsReadTheSameWay) {
  const unsigned renders = TestAccess::renderCount();
  SendMessageA(windows().OffsetSlider, TBM_SETPOS, TRUE, 254);
  SendMessageA(windows().OffsetSlider, WM_KEYDOWN, VK_END, 0);
  EXPECT_EQ(settings().offset, 255);
  EXPECT_EQ(sliderPosition(windows().OffsetSlider), 255);
  EXPECT_EQ(TestAccess::renderCount(), renders + 1);
}

}  // namespace
}  // namespace Kvl::App::Test
