// The upload CRC against zlib's crc32(): every short length around the
// 64-byte folding blocks, misaligned starts, data fed in uneven pieces, and
// a buffer large enough to run the folding loop a million times.
#include "transfer/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string_view>
#include <vector>

namespace {

using transfer::crc_update;

std::vector<unsigned char> random_bytes(std::size_t n) {
  std::mt19937_64 generator(n);
  std::vector<unsigned char> bytes(n);
  for (auto& b : bytes) b = static_cast<unsigned char>(generator());
  return bytes;
}

uint32_t ours(const unsigned char* p, std::size_t n) { return ~crc_update(0xFFFFFFFF, p, n); }

uint32_t zlibs(const unsigned char* p, std::size_t n) {
  return static_cast<uint32_t>(crc32(0, p, static_cast<uInt>(n)));
}

TEST(Crc32, KnownVectors) {
  for (auto [text, crc] : std::initializer_list<std::pair<std::string_view, uint32_t>>{
           {"", 0x00000000}, {"a", 0xE8B7BE43}, {"abc", 0x352441C2}, {"123456789", 0xCBF43926},
           {"The quick brown fox jumps over the lazy dog", 0x414FA339}}) {
    EXPECT_EQ(ours(reinterpret_cast<const unsigned char*>(text.data()), text.size()), crc) << text;
  }
}

TEST(Crc32, EveryLengthAndAlignmentMatchesZlib) {
  const auto data = random_bytes(4096 + 64);
  for (std::size_t offset : {0, 1, 7, 13, 16}) {
    for (std::size_t n = 0; n <= 4096; ++n) {
      ASSERT_EQ(ours(data.data() + offset, n), zlibs(data.data() + offset, n))
          << "length " << n << " at offset " << offset;
    }
  }
}

TEST(Crc32, UnevenPiecesGiveTheWholeCrc) {
  struct Split { std::size_t length, first, second; };
  const auto data = random_bytes(10000);
  for (const Split& s : std::initializer_list<Split>{
           {200, 1, 63}, {200, 64, 64}, {129, 65, 0}, {1000, 0, 999}, {1000, 999, 1},
           {4096, 63, 1000}, {10000, 4097, 5000}, {100, 30, 30}, {64, 63, 1}}) {
    uint32_t crc = crc_update(0xFFFFFFFF, data.data(), s.first);
    crc = crc_update(crc, data.data() + s.first, s.second);
    crc = crc_update(crc, data.data() + s.first + s.second, s.length - s.first - s.second);
    EXPECT_EQ(~crc, zlibs(data.data(), s.length))
        << s.length << " = " << s.first << " + " << s.second << " + rest";
  }
}

TEST(Crc32, SixtyFourMebibytesMatchZlib) {
  const auto data = random_bytes(std::size_t{64} << 20);
  EXPECT_EQ(ours(data.data(), data.size()), zlibs(data.data(), data.size()));
}

}  // namespace
