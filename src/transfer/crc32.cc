// The upload CRC-32.
//
// Uploads take the CRC of every byte received, so it has to keep up with
// the data connection: zlib's table-driven crc32() does 4-5 GB/s on our
// machines, folding 64-byte blocks with carry-less multiplication
// (PCLMULQDQ) over 12 GB/s, and 256 bytes at a time in 512-bit registers
// (VPCLMULQDQ) several times that (bench/crc/run.sh). The folding code is
// compiled for those instruction sets alone, through target attributes,
// and chosen at run time, so the rest of the build needs no -m flags and
// the daemon still runs on a CPU without them. Short pieces and the folded
// remainder go through zlib.
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
// reflected product. Four lanes are 512 bits apart, neighbours 128; with
// 512-bit registers, four registers are 2048 bits apart.
constexpr long long kFold2048Low = 0x11542778a;  // x^2080 mod P
constexpr long long kFold2048High = 0x1322d1430; // x^2016 mod P
constexpr long long kFold512Low = 0x154442bd4;   // x^544 mod P
constexpr long long kFold512High = 0x1c6e41596;  // x^480 mod P
constexpr long long kFold128Low = 0x1751997d0;   // x^160 mod P
constexpr long long kFold128High = 0x0ccaa009e;  // x^96 mod P

// Four neighbouring lanes standing for everything folded so far, and the
// bytes still to fold.
struct Lanes {
  __m128i x[4];
  const unsigned char* p;
  std::size_t n;
};

__attribute__((target("pclmul,sse4.1")))
inline __m128i fold(__m128i lane, __m128i constants, __m128i next) {
  __m128i low = _mm_clmulepi64_si128(lane, constants, 0x00);
  __m128i high = _mm_clmulepi64_si128(lane, constants, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

__attribute__((target("pclmul,sse4.1")))
inline __m128i load(const unsigned char* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// The first 64 bytes as lanes. The CRC so far enters as the first four
// message bytes xored with it (a CRC from state c equals one from 0 with c
// xored into the front).
__attribute__((target("pclmul,sse4.1")))
Lanes first_lanes(uint32_t crc, const unsigned char* p, std::size_t n) {
  Lanes lanes{{_mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(crc))), load(p + 16),
               load(p + 32), load(p + 48)},
              p + 64, n - 64};
  return lanes;
}

#define MARLOD_WIDE_FOLDING __attribute__((target("pclmul,sse4.1,avx512f,vpclmulqdq")))

MARLOD_WIDE_FOLDING inline __m512i load512(const unsigned char* at) { return _mm512_loadu_si512(at); }

MARLOD_WIDE_FOLDING inline __m512i fold512(__m512i lane, __m512i constants, __m512i next) {
  const __m512i low = _mm512_clmulepi64_epi128(lane, constants, 0x00);
  const __m512i high = _mm512_clmulepi64_epi128(lane, constants, 0x11);
  return _mm512_ternarylogic_epi64(low, high, next, 0x96);  // three-way xor
}

MARLOD_WIDE_FOLDING inline __m512i four_lanes(long long high, long long low) {
  return _mm512_set_epi64(high, low, high, low, high, low, high, low);
}

// 256 bytes a step in four 512-bit registers, down to fewer than 256
// bytes; n >= 256. About three times the 128-bit rate on processors that
// multiply 512-bit registers.
MARLOD_WIDE_FOLDING
Lanes wide_lanes(uint32_t crc, const unsigned char* p, std::size_t n) {
  __m512i z0 = _mm512_xor_si512(load512(p), _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(crc))));
  __m512i z1 = load512(p + 64);
  __m512i z2 = load512(p + 128);
  __m512i z3 = load512(p + 192);
  p += 256;
  n -= 256;

  const __m512i k2048 = four_lanes(kFold2048High, kFold2048Low);
  for (; n >= 256; p += 256, n -= 256) {
    z0 = fold512(z0, k2048, load512(p));
    z1 = fold512(z1, k2048, load512(p + 64));
    z2 = fold512(z2, k2048, load512(p + 128));
    z3 = fold512(z3, k2048, load512(p + 192));
  }

  const __m512i k512 = four_lanes(kFold512High, kFold512Low);
  const __m512i z = fold512(fold512(fold512(z0, k512, z1), k512, z2), k512, z3);
  Lanes lanes{{}, p, n};
  _mm512_storeu_si512(lanes.x, z);  // lane 0 first, as they lay in the message
  return lanes;
}

// Folds the rest 64 bytes a step, then the lanes into one and the tail
// through zlib.
__attribute__((target("pclmul,sse4.1")))
uint32_t finish_lanes(Lanes lanes) {
  __m128i x0 = lanes.x[0], x1 = lanes.x[1], x2 = lanes.x[2], x3 = lanes.x[3];
  const unsigned char* p = lanes.p;
  std::size_t n = lanes.n;
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

// What the processor can fold with, asked with cpuid on first use: the
// compiler's own feature check would link a start-up routine that asks the
// processor in every process, and only uploads need the answer.
struct FoldingUnits {
  bool narrow = false;  // PCLMULQDQ on 128-bit registers
  bool wide = false;    // VPCLMULQDQ on 512-bit registers, which the system saves
};

FoldingUnits probe_folding_units() {
  FoldingUnits units;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return units;
  units.narrow = (ecx & bit_PCLMUL) != 0 && (ecx & bit_SSE4_1) != 0;
  if (!units.narrow || (ecx & bit_OSXSAVE) == 0) return units;
  unsigned leaf7_ecx = 0;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &leaf7_ecx, &edx) == 0) return units;
  if ((ebx & bit_AVX512F) == 0 || (leaf7_ecx & bit_VPCLMULQDQ) == 0) return units;
  // The system must save the SSE, AVX and all AVX-512 state (XCR0 bits
  // 1, 2 and 5-7), or the registers would be lost at a context switch.
  unsigned xcr0_low = 0, xcr0_high = 0;
  __asm__("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0));
  units.wide = (xcr0_low & 0xE6) == 0xE6;
  return units;
}

const FoldingUnits& folding_units() {
  static const FoldingUnits units = probe_folding_units();
  return units;
}

#endif

}  // namespace

uint32_t crc_update(uint32_t crc, const void* bytes, std::size_t length) {
  const auto* p = static_cast<const unsigned char*>(bytes);
#if defined(__x86_64__)
  if (length >= 256 && folding_units().wide) return finish_lanes(wide_lanes(crc, p, length));
  if (length >= 64 && folding_units().narrow) return finish_lanes(first_lanes(crc, p, length));
#endif
  return zlib_update(crc, p, length);
}

}  // namespace transfer
