#pragma once
// KVL_WIDE_VERSIONS before a function asks for it also in an AVX2 version,
// chosen by the processor when the program starts, where the system loads
// function versions that way (x86-64 Linux). The loops it marks must give
// the same values either way: integers, or floating point without fused
// multiply-add (AVX2 alone does not enable it), in the same order.

#if defined(__GNUC__) && defined(__x86_64__) && defined(__linux__)
#define KVL_WIDE_VERSIONS __attribute__((target_clones("avx2", "default")))
#else
#define KVL_WIDE_VERSIONS
#endif
