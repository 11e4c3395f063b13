// The CRC-32 of an upload, taken as the bytes arrive, for the post-check
// script and the transfer log.
#pragma once

#include <cstddef>
#include <cstdint>

namespace transfer {

// One step of the reflected IEEE 802.3 CRC-32 (the one of zip, zlib and
// cksfv) over `bytes`, without the complements before and after: a caller
// starts from 0xFFFFFFFF, feeds the data in as many pieces as it likes and
// complements the last value. crc_update(0xFFFFFFFF, "abc", 3) ^ 0xFFFFFFFF
// is 0x352441C2.
uint32_t crc_update(uint32_t crc, const void* bytes, std::size_t length);

}  // namespace transfer
