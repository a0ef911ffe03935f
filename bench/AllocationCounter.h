#pragma once
// Counts every allocation made through the global operator new in this
// program, so a benchmark can report how many one iteration made.

#include <cstdint>

namespace Kvl::Bench {

std::uint64_t allocationCount();

}  // namespace Kvl::Bench
