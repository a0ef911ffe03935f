// Clicks on the radio buttons and push buttons, sent as the real controls
// send them, with the file dialogs and the error box stood in for.

#include "ShellFixture.h"

#include <commctrl.h>

#include "app/FileDialogs.h"
#include "keying/KeySettings.h"
#include "engine/PreviewWorkspace.h"

namespace Kvl::App::Test {
namespace {

using Kvl::Test::readFileBytes;

// A shell with the blue picture open: channel Blue, nonzero sliders.
class OpenedShellTest : public ShellTest {
protected:
  void SetUp() override {
    ShellTest::SetUp();
    picture = writeBluePicture(dir, "blue.tga");
    opened = settingsAfterOpen(picture);
    ASSERT_EQ(opened.channel, BlueChannel);
    ASSERT_NE(opened.contrast, 0) << "the picture must give auto adjust something to pick";
    openThroughDialog(picture);
    ASSERT_EQ(settings().channel, BlueChannel);
  }

  std::string picture;
  KeySettings opened;
};

TEST_F(ShellTest, OpenLoadsTheChosenPictureSelectsItsChannelAndAutoAdjusts) {
  const std::string picture = writeBluePicture(dir, "blue.tga");
  const KeySettings expected = settingsAfterOpen(picture);
  std::vector<std::string> folders;
  TestAccess::replaceOpenDialog([&](const char* folder) {
    folders.emplace_back(folder);
    return picture;
  });
  click(windows().OpenButton);

  EXPECT_EQ(folders, std::vector<std::string>{"\\"});  // not "/", on which Wine's dialog crashes
  EXPECT_EQ(TestAccess::processor()->sourcePath(), picture);
  EXPECT_EQ(radioStates(windows()), (std::vector<bool>{false, false, true}));
  EXPECT_EQ(settings().channel, BlueChannel);
  EXPECT_EQ(settings().contrast, expected.contrast);
  EXPECT_EQ(settings().offset, expected.offset);
  EXPECT_EQ(sliderPosition(windows().ContrastSlider), expected.contrast);
  EXPECT_EQ(sliderPosition(windows().OffsetSlider), expected.offset);
  // The last render is the shell's, with the values auto adjust chose.
  EXPECT_EQ(TestAccess::renderCount(), 2u);
  EXPECT_TRUE(surfacesShow(expectedPreviews()));
}

TEST_F(OpenedShellTest, CancelledOpenKeepsPictureChannelAndSlidersButRendersAgain) {
  const std::vector<Pixel32> source(TestAccess::sourcePreview(), TestAccess::sourcePreview() + PreviewPixelCount);
  const unsigned renders = TestAccess::renderCount();
  openThroughDialog("cancel");
  EXPECT_EQ(TestAccess::processor()->sourcePath(), picture);
  EXPECT_TRUE(samePixels(TestAccess::sourcePreview(), source));
  EXPECT_EQ(radioStates(windows()), (std::vector<bool>{false, false, true}));
  EXPECT_EQ(sliderPosition(windows().ContrastSlider), opened.contrast);
  EXPECT_EQ(sliderPosition(windows().OffsetSlider), opened.offset);
  EXPECT_EQ(TestAccess::renderCount(), renders + 1);
}

TEST_F(OpenedShellTest, RadioClickRendersWithTheNewChannelAndUnchangedSliders) {
  const unsigned renders = TestAccess::renderCount();
  click(windows().RedButton);
  EXPECT_EQ(radioStates(windows()), (std::vector<bool>{true, false, false}));
  EXPECT_EQ(settings().channel, RedChannel);
  EXPECT_EQ(settings().contrast, opened.contrast);  // no auto adjust for a radio button
  EXPECT_EQ(settings().offset, opened.offset);
  EXPECT_EQ(TestAccess::renderCount(), renders + 1);
  EXPECT_TRUE(surfacesShow(expectedPreviews()));

  click(windows().RedButton);  // already checked: renders all the same
  EXPECT_EQ(settings().channel, RedChannel);
  EXPECT_EQ(TestAccess::renderCount(), renders + 2);
}

TEST_F(OpenedShellTest, NotificationOtherThanAClickDoesNothing) {
  SendMessageA(windows().RedButton, BM_SETCHECK, BST_CHECKED, 0);
  SendMessageA(windows().BlueButton, BM_SETCHECK, BST_UNCHECKED, 0);
  const unsigned renders = TestAccess::renderCount();
  for (WORD code : {WORD{BN_DOUBLECLICKED}, WORD{BN_SETFOCUS}, WORD{BN_KILLFOCUS}}) {
    command(windows().RedButton, code);
    command(windows().AutoAdjustButton, code);
  }
  EXPECT_EQ(settings().channel, BlueChannel);  // the buttons were not read
  EXPECT_EQ(TestAccess::renderCount(), renders);
}

// The buttons are asked Red, Green, Blue; the first checked one wins, and
// with none checked the channel stays as it was.
TEST_F(OpenedShellTest, ClickReadsTheFirstCheckedRadioButtonOrKeepsTheChannel) {
  for (HWND button : {windows().RedButton, windows().GreenButton, windows().BlueButton}) {
    SendMessageA(button, BM_SETCHECK, BST_UNCHECKED, 0);
  }
  command(windows().AutoAdjustButton, BN_CLICKED);
  EXPECT_EQ(settings().channel, BlueChannel);

  SendMessageA(windows().GreenButton, BM_SETCHECK, BST_CHECKED, 0);
  SendMessageA(windows().RedButton, BM_SETCHECK, BST_CHECKED, 0);
  command(windows().AutoAdjustButton, BN_CLICKED);
  EXPECT_EQ(settings().channel, RedChannel);
}

// Any click takes over the channel the radio buttons show, here one set
// without a click of its own; auto adjust then starts over from 0 / 0.
TEST_F(OpenedShellTest, AutoAdjustTakesTheCheckedChannelAndChoosesSlidersAgain) {
  SendMessageA(windows().RedButton, BM_SETCHECK, BST_CHECKED, 0);
  SendMessageA(windows().BlueButton, BM_SETCHECK, BST_UNCHECKED, 0);
  SendMessageA(windows().ContrastSlider, TBM_SETPOS, TRUE, 200);
  const unsigned renders = TestAccess::renderCount();

  PreviewWorkspace workspace;
  workspace.processor().loadSource(picture.c_str());
  SettingsRequest request = SettingsRequest::automatic();
  request.channel = RedChannel;
  const KeySettings expected = chooseSettings(workspace.previewSource(), request);

  click(windows().AutoAdjustButton);
  EXPECT_EQ(settings().channel, RedChannel);
  EXPECT_EQ(settings().contrast, expected.contrast);
  EXPECT_EQ(settings().offset, expected.offset);
  EXPECT_EQ(sliderPosition(windows().ContrastSlider), expected.contrast);
  EXPECT_EQ(sliderPosition(windows().OffsetSlider), expected.offset);
  EXPECT_EQ(TestAccess::renderCount(), renders + 1);
  EXPECT_TRUE(surfacesShow(expectedPreviews()));
}

TEST_F(OpenedShellTest, SaveAsWritesWithTheCurrentSettingsAndChangesNothing) {
  click(windows().RedButton);
  const KeySettings before = settings();
  const Previews previews = expectedPreviews();
  const std::string output = dir.file("keyed.tga");
  TestAccess::replaceSaveDialog([&] { return output; });
  int errors = 0;
  TestAccess::replaceErrorBox([&](const char*, const char*) { ++errors; });
  click(windows().SaveAsButton);

  PreviewWorkspace reference;
  reference.processor().loadSource(picture.c_str());
  reference.processor().saveKeyed(dir.file("reference.tga").c_str(), RedChannel, before.contrast, before.offset);
  EXPECT_EQ(errors, 0);
  EXPECT_EQ(readFileBytes(output), readFileBytes(dir.file("reference.tga")));
  EXPECT_EQ(settings().channel, before.channel);
  EXPECT_EQ(sliderPosition(windows().ContrastSlider), before.contrast);
  EXPECT_TRUE(surfacesShow(previews));
}

TEST_F(OpenedShellTest, CancelledSaveAsWritesNothingButRendersAgain) {
  TestAccess::replaceSaveDialog([] { return std::string(CancelledResult); });
  int errors = 0;
  TestAccess::replaceErrorBox([&](const char*, const char*) { ++errors; });
  const unsigned renders = TestAccess::renderCount();
  click(windows().SaveAsButton);
  EXPECT_EQ(errors, 0);
  EXPECT_FALSE(std::filesystem::exists("cancel"));  // saved under the word itself
  EXPECT_EQ(TestAccess::renderCount(), renders + 1);
}

// The failed Open is silent and keeps the picture, but its path is kept,
// so the next Save As reads it and fails: one box, from the save.
TEST_F(OpenedShellTest, FailedOpenIsSilentAndTheSaveAfterItShowsOneError) {
  std::vector<std::string> boxes;
  TestAccess::replaceErrorBox([&](const char* text, const char* caption) {
    boxes.push_back(std::string(caption) + ": " + text);
  });
  const std::vector<Pixel32> source(TestAccess::sourcePreview(), TestAccess::sourcePreview() + PreviewPixelCount);
  const std::string missing = dir.file("missing.tga");
  openThroughDialog(missing);
  EXPECT_TRUE(boxes.empty());
  EXPECT_TRUE(samePixels(TestAccess::sourcePreview(), source));
  EXPECT_EQ(TestAccess::processor()->sourcePath(), missing);
  // Detection and auto adjust ran again on the picture still shown.
  EXPECT_EQ(settings().channel, BlueChannel);
  EXPECT_EQ(settings().contrast, opened.contrast);

  const std::string output = dir.file("keyed.tga");
  TestAccess::replaceSaveDialog([&] { return output; });
  click(windows().SaveAsButton);
  EXPECT_EQ(boxes, std::vector<std::string>{"Saving Failed: Unable to save file."});
  EXPECT_FALSE(std::filesystem::exists(output));
}

TEST(FileDialogResult, OnlyTheExactWordCancelMeansCancelled) {
  EXPECT_TRUE(isCancelled("cancel"));
  EXPECT_FALSE(isCancelled("cancelled.tga"));
  EXPECT_FALSE(isCancelled("cance"));
  EXPECT_FALSE(isCancelled(""));
  EXPECT_FALSE(isCancelled("C:\\cancel"));
}

}  // namespace
}  // namespace Kvl::App::Test
