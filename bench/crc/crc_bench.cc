// Throughput of the upload CRC over 256 MiB of random bytes: crc_update
// (folding where the CPU can), zlib's crc32() alone, and a plain bytewise
// table, the best of five runs each; all three must agree. Then crc_update
// over one 1 MiB buffer again and again, as an upload's chunks arrive
// warm from the socket.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "transfer/crc32.h"

namespace {

uint32_t table_crc(uint32_t crc, const unsigned char* p, std::size_t n) {
  static const auto table = [] {
    std::vector<uint32_t> t(256);
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (c & 1 ? 0xEDB88320u : 0);
      t[i] = c;
    }
    return t;
  }();
  while (n--) crc = table[(crc ^ *p++) & 0xFF] ^ (crc >> 8);
  return crc;
}

uint32_t zlib_crc(uint32_t crc, const unsigned char* p, std::size_t n) {
  return ~static_cast<uint32_t>(crc32(~crc & 0xFFFFFFFFu, p, static_cast<uInt>(n)));
}

template <typename Crc>
void run(const char* name, Crc crc, const std::vector<unsigned char>& data) {
  double best = 1e9;
  uint32_t result = 0;
  for (int run = 0; run < 5; ++run) {
    auto start = std::chrono::steady_clock::now();
    result = ~crc(0xFFFFFFFFu, data.data(), data.size());
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  std::printf("%-12s %08X  %6.2f GB/s\n", name, result, data.size() / best / 1e9);
}

}  // namespace

int main() {
  std::vector<unsigned char> data(std::size_t{256} << 20);
  std::mt19937_64 generator(1);
  for (auto& b : data) b = static_cast<unsigned char>(generator());
  run("crc_update", transfer::crc_update, data);
  run("zlib crc32", zlib_crc, data);
  run("table", table_crc, data);

  const std::vector<unsigned char> chunk(data.begin(), data.begin() + (1 << 20));
  double best = 1e9;
  uint32_t sink = 0;
  for (int run = 0; run < 5; ++run) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 256; ++i) sink = transfer::crc_update(0xFFFFFFFFu, chunk.data(), chunk.size());
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count() / 256);
  }
  std::printf("%-12s %08X  %6.2f GB/s (1 MiB, %.1f us)\n", "warm 1 MiB", ~sink, chunk.size() / best / 1e9, best * 1e6);
}
