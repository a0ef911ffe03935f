#include "ExrZipBlocks.h"

#include <libdeflate.h>

#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace Kvl {
namespace {

constexpr std::uint8_t Bias = 128;

// Running sums of bytes, each wrapping at 256, from `carry` on: a byte's
// value is its difference plus the value before it. Sixteen bytes at a
// time where the processor has SSE2 (every x86-64 does): the sum of a
// vector is built by adding it to itself shifted by 1, 2, 4 and 8 bytes.
std::uint8_t runningSums(std::uint8_t* bytes, std::size_t count, std::uint8_t carry) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i bias = _mm_set1_epi8(static_cast<char>(Bias));
  __m128i before = _mm_set1_epi8(static_cast<char>(carry));
  for (; i + 16 <= count; i += 16) {
    __m128i v = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i)), bias);
    v = _mm_add_epi8(v, _mm_slli_si128(v, 1));
    v = _mm_add_epi8(v, _mm_slli_si128(v, 2));
    v = _mm_add_epi8(v, _mm_slli_si128(v, 4));
    v = _mm_add_epi8(v, _mm_slli_si128(v, 8));
    v = _mm_add_epi8(v, before);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + i), v);
    // The last byte in every place, without leaving the vector registers.
    const __m128i high = _mm_shufflehi_epi16(_mm_unpackhi_epi8(v, v), 0xFF);
    before = _mm_unpackhi_epi64(high, high);
  }
  if (i > 0) carry = bytes[i - 1];
#endif
  for (; i < count; ++i) {
    carry = static_cast<std::uint8_t>(carry + bytes[i] - Bias);
    bytes[i] = carry;
  }
  return carry;
}

// The even bytes of `raw` ahead of the odd ones in `sorted`, `pairs` of
// each, and the other way. Thirty-two bytes at a time with SSE2.
void sortPairs(const std::uint8_t* raw, std::uint8_t* evens, std::uint8_t* odds, std::size_t pairs) {
  std::size_t k = 0;
#if defined(__SSE2__)
  const __m128i low = _mm_set1_epi16(0x00FF);
  for (; k + 16 <= pairs; k += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(raw + 2 * k));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(raw + 2 * k + 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(evens + k), _mm_packus_epi16(_mm_and_si128(a, low), _mm_and_si128(b, low)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(odds + k), _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8)));
  }
#endif
  for (; k < pairs; ++k) {
    evens[k] = raw[2 * k];
    odds[k] = raw[2 * k + 1];
  }
}

void unsortPairs(const std::uint8_t* evens, const std::uint8_t* odds, std::uint8_t* raw, std::size_t pairs) {
  std::size_t k = 0;
#if defined(__SSE2__)
  for (; k + 16 <= pairs; k += 16) {
    const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(evens + k));
    const __m128i o = _mm_loadu_si128(reinterpret_cast<const __m128i*>(odds + k));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(raw + 2 * k), _mm_unpacklo_epi8(e, o));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(raw + 2 * k + 16), _mm_unpackhi_epi8(e, o));
  }
#endif
  for (; k < pairs; ++k) {
    raw[2 * k] = evens[k];
    raw[2 * k + 1] = odds[k];
  }
}

// Each byte from the second on as its difference from the one before, plus
// 128, in place: from the end, so each still sees the one before it.
void difference(std::uint8_t* bytes, std::size_t count) {
  std::size_t i = count;
#if defined(__SSE2__)
  const __m128i bias = _mm_set1_epi8(static_cast<char>(Bias));
  for (; i >= 17; i -= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i - 16));
    const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i - 17));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + i - 16), _mm_add_epi8(_mm_sub_epi8(v, before), bias));
  }
#endif
  for (; i > 1; --i) bytes[i - 1] = static_cast<std::uint8_t>(bytes[i - 1] - bytes[i - 2] + Bias);
}

}  // namespace

void sortAndDifference(const std::uint8_t* raw, std::uint8_t* out, std::size_t size) {
  if (size == 0) return;
  const std::size_t evens = (size + 1) / 2, pairs = size / 2;
  sortPairs(raw, out, out + evens, pairs);
  if (size % 2 != 0) out[evens - 1] = raw[size - 1];
  difference(out, size);
}

void undifferenceAndUnsort(std::uint8_t* sorted, std::uint8_t* raw, std::size_t size) {
  if (size == 0) return;
  runningSums(sorted + 1, size - 1, sorted[0]);
  const std::size_t evens = (size + 1) / 2, pairs = size / 2;
  unsortPairs(sorted, sorted + evens, raw, pairs);
  if (size % 2 != 0) raw[size - 1] = sorted[evens - 1];
}

ExrZipCoder::ExrZipCoder()
    : compressor_(libdeflate_alloc_compressor(ExrZipLevel)), decompressor_(libdeflate_alloc_decompressor()) {
  if (compressor_ == nullptr || decompressor_ == nullptr) {
    libdeflate_free_compressor(compressor_);
    libdeflate_free_decompressor(decompressor_);
    throw std::bad_alloc();
  }
}

ExrZipCoder::~ExrZipCoder() {
  libdeflate_free_compressor(compressor_);
  libdeflate_free_decompressor(decompressor_);
}

PackedBlock ExrZipCoder::pack(const std::uint8_t* raw, std::size_t size) {
  sorted_.resize(size);
  sortAndDifference(raw, sorted_.data(), size);
  deflated_.resize(libdeflate_zlib_compress_bound(compressor_, size));
  const std::size_t deflated = libdeflate_zlib_compress(compressor_, sorted_.data(), size, deflated_.data(), deflated_.size());
  if (deflated == 0 || deflated >= size) return {raw, size};
  return {deflated_.data(), deflated};
}

bool ExrZipCoder::unpack(const std::uint8_t* packed, std::size_t packedSize, std::uint8_t* raw, std::size_t size) {
  if (packedSize >= size) {
    std::memcpy(raw, packed, size);
    return true;
  }
  sorted_.resize(size);
  if (libdeflate_zlib_decompress(decompressor_, packed, packedSize, sorted_.data(), size, nullptr) != LIBDEFLATE_SUCCESS) {
    return false;
  }
  undifferenceAndUnsort(sorted_.data(), raw, size);
  return true;
}

}  // namespace Kvl
