// The storage file loader of the array object, three ways in by the first byte of the input:
//  - odd: a storage file whose signature, version, size and checksum are made valid first,
//    so the fuzzer reaches decompression instead of stopping at the checksum;
//  - even, below 0x80: the rest is a payload, packed as SaveToFile packs it, so the fuzzer
//    works on the tables themselves;
//  - otherwise: the bytes as a file, unchanged.
#include <cstddef>
#include <cstdint>
#include <exception>

#include "automation/array_storage.h"
#include "automation/safe_array.h"
#include "fuzz_support.h"

namespace {

void MakeHeaderConsistent(ByteBuffer& file) {
  TStorageHeader header = ReadStorageHeader(file);
  header.Version = header.Version % 2;
  header.FileSize = uint32_t(file.size());
  header.Checksum = StorageChecksum(std::span(file).subspan(kStorageHeaderSize));
  WriteStorageHeader(header, std::span(file).first<kStorageHeaderSize>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  ByteBuffer file(data, data + size);
  if (file.size() >= kStorageHeaderSize && (file[0] & 1) != 0) {
    MakeHeaderConsistent(file);
  } else if (!file.empty() && (file[0] & 1) == 0 && file[0] < 0x80) {
    file = PackStorage(std::span(file).subspan(1), 0);
  }

  ComPtr<ISafeArray> array = CreateSafeArray();
  auto* object = static_cast<TSafeArray*>(array.Get());
  try {
    object->LoadStorage(file);
  } catch (const std::exception&) {
    fuzz::Check(object->CountX() == 0 && object->CountY() == 0, "a failed load leaves the object unchanged");
    return 0;
  }
  // A loaded table is a sound object, and never larger than the data that described it:
  // every element took at least one byte of the payload.
  fuzz::Check(object->CountX() >= 1 && object->CountY() >= 1, "a loaded table has rows and columns");
  const ByteBuffer payload = UnpackStorage(file);
  fuzz::Check(int64_t{object->CountX()} * object->CountY() <= int64_t(payload.size()),
              "a loaded table is no larger than its payload");
  for (int32_t x = 0; x < object->CountX() && x < 4; ++x)
    for (int32_t y = 0; y < object->CountY() && y < 4; ++y) {
      try {
        object->ElementAt(x, y);
      } catch (const std::exception&) {
        fuzz::Check(false, "every element of a loaded table can be read");
      }
    }

  // Saved again (as SaveToFile does) it loads into the same counts.
  ByteBuffer saved;
  try {
    saved = object->SaveStorage();
  } catch (const std::exception&) {
    return 0;  // values the format cannot carry
  }
  ComPtr<ISafeArray> copy = CreateSafeArray();
  auto* reloaded = static_cast<TSafeArray*>(copy.Get());
  try {
    reloaded->LoadStorage(saved);
  } catch (const std::exception&) {
    fuzz::Check(false, "a saved table loads again");
  }
  fuzz::Check(reloaded->CountX() == object->CountX() && reloaded->CountY() == object->CountY(),
              "a saved table keeps its counts");
  return 0;
}
