#pragma once
// CRC-32 register update used by the array storage checksum.

#include <cstdint>

// Runs the reflected CRC-32 (polynomial 0xEDB88320) over Length bytes of Data, starting
// from the register value Crc, and returns the register. Unlike the usual CRC-32 there is
// no inversion before or after: Crc32Update(0, "abc", 3) is 0xCA6598D0. Updates chain:
// feeding a text in pieces gives the same register as feeding it at once. Without data or
// with Length <= 0, Crc comes back unchanged.
uint32_t Crc32Update(uint32_t Crc, const void* Data, int32_t Length);
