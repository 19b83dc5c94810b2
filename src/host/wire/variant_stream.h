#pragma once
// The variant stream: OLE variants (simple values, strings, arrays, by-reference values)
// written to and read from a TMyMemoryStream, byte for byte in the format the array
// storage file carries.
//
// Every item is a 32-bit little-endian tag (the variant type: type number in bits 0-11,
// array flag 0x2000, by-reference flag 0x4000) followed by its payload:
//   0 empty, 1 null            nothing
//   8 OLE string               int32 count of UTF-16 units, the units
//   0x100 host 8-bit string    int32 byte count, the bytes (read back as an OLE string)
//   by-reference variant       the tag is exactly 0x4000, then the referenced item
//   other simple types         the value's bytes (see SimpleValueSize)
//   arrays (flag 0x2000)       int32 dimension count d, d lower bounds, d upper bounds, then
//                              either a raw block (element types 2-7, 11, 17: int32 byte
//                              count and the array's memory) or one item per element in
//                              row-major order with the last index running fastest
//   9 object                   only an object answering ISafeArray, written as its array

#include <cstdint>

#include "host/wire/memory_stream.h"
#include "platform/ole_automation.h"

void WriteVariant(TMyMemoryStream& stream, const VARIANT& value);

// Reads one item into `value` (which is cleared first and stays empty on failure). A
// stream that does not hold a well-formed item fails with the stream's read error before
// anything is allocated for it; types the format cannot carry fail with the unsupported
// data type error (EInvalidOperation).
void ReadVariant(TMyMemoryStream& stream, VARIANT& value);

// Payload bytes of a simple (non-array, non-string) type, or -1 for a type the format does
// not carry.
int32_t SimpleValueSize(VARTYPE type);

// Items may nest (by-reference variants, arrays of variants holding arrays) this deep.
constexpr int kMaxVariantNesting = 200;

// The two-dimensional array object hooks in here. The factory receives every
// two-dimensional array read from a stream, owns it from then on (also when it raises),
// and sets `result` to the value to hand back. Without a factory such arrays come back as
// plain variant arrays.
using TwoDimensionalArrayFactory = void (*)(SAFEARRAY* array, VARTYPE elementType, VARIANT& result);
void SetTwoDimensionalArrayFactory(TwoDimensionalArrayFactory factory) noexcept;
// Checked with the bounds of every two-dimensional array (dimension order) before the array
// is created or filled, while a factory is installed: raises for bounds its objects cannot
// have. Without a check any bounds are taken.
using TwoDimensionalBoundsCheck = void (*)(const LONG lower[2], const LONG upper[2]);
void SetTwoDimensionalBoundsCheck(TwoDimensionalBoundsCheck check) noexcept;

// For writing objects: yields the safe array (still owned by the object) and its element
// type when `object` answers ISafeArray, false otherwise. Without an extractor every object
// is an unsupported value.
using SafeArrayExtractor = bool (*)(IUnknown* object, SAFEARRAY*& array, VARTYPE& elementType);
void SetSafeArrayExtractor(SafeArrayExtractor extractor) noexcept;
