// The render runs on every slider message and must not allocate. The test
// program counts every allocation (support/AllocationCounter.cpp replaces
// the global allocation functions); sanitizer builds keep their own
// allocator, which checks more, and there the tests are skipped.

#include <gtest/gtest.h>

#include <cstdint>

#include "engine/ChannelControls.h"
#include "engine/PreviewWorkspace.h"

#include "support/AllocationCounter.h"

namespace {

int* volatile escaped = nullptr;  // so that the compiler cannot leave out an allocation

}  // namespace

namespace Kvl {
namespace {

// Counts the allocations made while `work` runs.
template <typename Work>
std::uint64_t allocationsDuring(Work work) {
  const std::uint64_t before = Kvl::Test::allocationCount();
  work();
  return Kvl::Test::allocationCount() - before;
}

TEST(RenderAllocation, TheCounterSeesAnAllocation) {
  if (!Kvl::Test::AllocationsCounted) GTEST_SKIP() << "the sanitizer's allocator is in place";
  EXPECT_EQ(allocationsDuring([] {
              escaped = new int(7);
              delete escaped;
            }),
            1u);
}

TEST(RenderAllocation, RenderAllocatesNothingForAnyChannelOrSetting) {
  if (!Kvl::Test::AllocationsCounted) GTEST_SKIP() << "the sanitizer's allocator is in place";
  PreviewWorkspace workspace;
  KeyProcessor& processor = workspace.processor();
  EXPECT_EQ(allocationsDuring([&] {
              for (const KeyChannel channel : {RedChannel, GreenChannel, BlueChannel}) {
                processor.render(channel, 0, 0);
                processor.render(channel, 40, 20);
                processor.render(channel, 255, 255);
              }
              KeyProcessor::scrollCheckerboard(workspace.checkerboard());
            }),
            0u);
}

}  // namespace
}  // namespace Kvl
