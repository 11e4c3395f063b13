// The upload CRC-32.
//
// Uploads take the CRC of every byte received, so it has to keep up with
// the data connection: zlib's table-driven crc32() does 4-5 GB/s on our
// machines, folding 64-byte blocks with carry-less multiplication
// (PCLMULQDQ) over 12 GB/s (bench/crc/run.sh). The folding code is
// compiled for that instruction set alone, through a target attribute, and
// chosen at run time, so the rest of the build needs no -m flags and the
// daemon still runs on a CPU without it. Short pieces and the folded remainder go through zlib.
#include "transfer/crc32.h"

#include <zlib.h>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace transfer {
namespace {

// zlib's crc32() complements on the way in and out; ours does not. Its
// length is a uInt, so more than 4 GiB at once would be cut short.
uint32_t zlib_update(uint32_t crc, const unsigned char* p, std::size_t n) {
  constexpr std::size_t kPiece = std::size_t{1} << 30;
  uLong c = ~crc & 0xFFFFFFFFu;
  while (n > 0) {
    std::size_t piece = n < kPiece ? n : kPiece;
    c = crc32(c, p, static_cast<uInt>(piece));
    p += piece;
    n -= piece;
  }
  return ~static_cast<uint32_t>(c);
}

#if defined(__x86_64__)

// Folding takes a 128-bit lane D bits ahead: its lower quadword (the
// higher powers, bits reflected) times x^(D+32) mod P, its upper times
// x^(D-32) mod P, each constant reflected and shifted left by one for the
// reflected product. Four lanes are 512 bits apart, neighbours 128.
constexpr long long kFold512Low = 0x154442bd4;   // x^544 mod P
constexpr long long kFold512High = 0x1c6e41596;  // x^480 mod P
constexpr long long kFold128Low = 0x1751997d0;   // x^160 mod P
constexpr long long kFold128High = 0x0ccaa009e;  // x^96 mod P

__attribute__((target("pclmul,sse4.1")))
inline __m128i fold(__m128i lane, __m128i constants, __m128i next) {
  __m128i low = _mm_clmulepi64_si128(lane, constants, 0x00);
  __m128i high = _mm_clmulepi64_si128(lane, constants, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

// n >= 64. The CRC so far enters as the first four message bytes xored
// with it (a CRC from state c equals one from 0 with c xored into the
// front); the folded lane then stands for everything before the tail.
__attribute__((target("pclmul,sse4.1")))
uint32_t folded_update(uint32_t crc, const unsigned char* p, std::size_t n) {
  auto load = [](const unsigned char* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  };
  __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x1 = load(p + 16);
  __m128i x2 = load(p + 32);
  __m128i x3 = load(p + 48);
  p += 64;
  n -= 64;

  const __m128i k512 = _mm_set_epi64x(kFold512High, kFold512Low);
  for (; n >= 64; p += 64, n -= 64) {
    x0 = fold(x0, k512, load(p));
    x1 = fold(x1, k512, load(p + 16));
    x2 = fold(x2, k512, load(p + 32));
    x3 = fold(x3, k512, load(p + 48));
  }

  const __m128i k128 = _mm_set_epi64x(kFold128High, kFold128Low);
  __m128i x = fold(fold(fold(x0, k128, x1), k128, x2), k128, x3);

  unsigned char last[16];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(last), x);
  return zlib_update(zlib_update(0, last, sizeof last), p, n);
}

// Asked with cpuid on first use: the compiler's own feature check would
// link a start-up routine that asks the processor in every process, and
// only uploads need the answer.
bool cpu_folds() {
  static const bool folds = [] {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
    return (ecx & bit_PCLMUL) != 0 && (ecx & bit_SSE4_1) != 0;
  }();
  return folds;
}

#endif

}  // namespace

uint32_t crc_update(uint32_t crc, const void* bytes, std::size_t length) {
  const auto* p = static_cast<const unsigned char*>(bytes);
#if defined(__x86_64__)
  if (length >= 64 && cpu_folds()) return folded_update(crc, p, length);
#endif
  return zlib_update(crc, p, length);
}

}  // namespace transfer
