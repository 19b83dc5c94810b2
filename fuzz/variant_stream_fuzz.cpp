// The variant stream reader over arbitrary bytes. What it reads must write back, and what
// was written must read again: a reader that accepts an item its own writer cannot carry
// (or the reverse) shows up here.
#include <cstddef>
#include <cstdint>
#include <exception>

#include "automation/safe_array.h"
#include "fuzz_support.h"
#include "host/wire/variant_stream.h"
#include "platform/ole_ptr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  TMyMemoryStream input;
  input.Write(data, static_cast<int32_t>(size));
  input.Seek(0);
  OleVariant value;
  try {
    ReadVariant(input, value);
  } catch (const std::exception&) {
    fuzz::Check(value.vt == VT_EMPTY, "a failed read leaves the value empty");
    return 0;
  }
  fuzz::Check(input.Position() <= input.Size(), "the reader stays inside the stream");

  TMyMemoryStream output;
  try {
    WriteVariant(output, value);
  } catch (const std::exception&) {
    return 0;  // values the format cannot carry (a decimal read into a decimal array, ...)
  }
  output.Seek(0);
  OleVariant again;
  try {
    ReadVariant(output, again);
  } catch (const std::exception&) {
    fuzz::Check(false, "what the writer wrote reads back");
  }
  fuzz::Check(again.vt == value.vt, "the value keeps its type through a write and a read");
  fuzz::Check(output.Position() == output.Size(), "the reader takes exactly what the writer wrote");
  return 0;
}
