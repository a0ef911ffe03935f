#pragma once
// KEYVALE_ADDRESS_SANITIZER is 1 in a build with AddressSanitizer (GCC or
// Clang), where some tests do less work or step aside for its allocator.

#if defined(__SANITIZE_ADDRESS__)
#define KEYVALE_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KEYVALE_ADDRESS_SANITIZER 1
#endif
#endif
#ifndef KEYVALE_ADDRESS_SANITIZER
#define KEYVALE_ADDRESS_SANITIZER 0
#endif
