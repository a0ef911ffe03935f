// The render runs on every slider message and must not allocate. This file
// replaces the global allocation functions for the whole test program with
// ones that count while a test asks them to, and otherwise just call malloc.
// Sanitizer builds keep their own allocator, which checks more; there the
// test is skipped.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "engine/ChannelControls.h"
#include "engine/PreviewWorkspace.h"

#include "support/Sanitizers.h"

#define KEYVALE_COUNTS_ALLOCATIONS (!KEYVALE_ADDRESS_SANITIZER)

namespace {

std::atomic<bool> counting{false};
std::atomic<int> allocations{0};
int* volatile escaped = nullptr;  // so that the compiler cannot leave out an allocation

}  // namespace

#if KEYVALE_COUNTS_ALLOCATIONS
void* operator new(std::size_t size) {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
#endif

namespace Kvl {
namespace {

// Counts the allocations made while `work` runs.
template <typename Work>
int allocationsDuring(Work work) {
  allocations = 0;
  counting = true;
  work();
  counting = false;
  return allocations;
}

TEST(RenderAllocation, TheCounterSeesAnAllocation) {
  if (!KEYVALE_COUNTS_ALLOCATIONS) GTEST_SKIP() << "the sanitizer's allocator is in place";
  EXPECT_EQ(allocationsDuring([] {
              escaped = new int(7);
              delete escaped;
            }),
            1);
}

TEST(RenderAllocation, RenderAllocatesNothingForAnyChannelOrSetting) {
  if (!KEYVALE_COUNTS_ALLOCATIONS) GTEST_SKIP() << "the sanitizer's allocator is in place";
  SilentShell shell;
  PreviewWorkspace workspace(shell);
  KeyProcessor& processor = workspace.processor();
  EXPECT_EQ(allocationsDuring([&] {
              for (const KeyChannel channel : {RedChannel, GreenChannel, BlueChannel}) {
                processor.render(channel, 0, 0);
                processor.render(channel, 40, 20);
                processor.render(channel, 255, 255);
              }
              KeyProcessor::scrollCheckerboard(workspace.checkerboard());
            }),
            0);
}

}  // namespace
}  // namespace Kvl
