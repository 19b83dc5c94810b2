#include "config/crc32.h"

#include <zlib.h>

// zlib's crc32() runs the same table-driven register update, but inverts the register on
// entry and on exit (crc32(c) = ~update(~c)). Inverting around the call cancels both, so
// the result is the plain register update, computed with zlib's word-at-a-time tables.
uint32_t Crc32Update(uint32_t Crc, const void* Data, int32_t Length) {
  if (Data == nullptr || Length <= 0)
    return Crc;
  const uLong inverted = crc32(static_cast<uLong>(~Crc), static_cast<const Bytef*>(Data),
                               static_cast<uInt>(Length));
  return ~static_cast<uint32_t>(inverted);
}
