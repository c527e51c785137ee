// CRC-32 as used by ISO-HDLC and Ethernet: reflected polynomial 0xEDB88320,
// initial value all ones, final complement.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korrin {

extern const std::uint32_t crcTable[256];

std::uint32_t crc32(const void* data, std::size_t n);

// Continues a checksum over more bytes: crc32Update(crc32(a), b) equals the
// crc32 of a followed by b. Start from 0.
std::uint32_t crc32Update(std::uint32_t crc, const void* data, std::size_t n);

} // namespace korrin
