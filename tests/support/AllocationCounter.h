#pragma once
// Counts every allocation made through the global operator new in the
// program that links AllocationCounter.cpp, so that a test or a benchmark
// can tell how many a piece of work made. Builds with AddressSanitizer keep
// its allocator, which checks more, and count nothing.

#include <cstdint>

#include "support/Sanitizers.h"

namespace Kvl::Test {

inline constexpr bool AllocationsCounted = !KEYVALE_ADDRESS_SANITIZER;

// Allocations so far; always 0 where they are not counted.
std::uint64_t allocationCount();

}  // namespace Kvl::Test
