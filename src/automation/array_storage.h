#pragma once
// The array storage file: a fixed 31-byte header followed by one zlib stream that holds
// the array encoded by the variant stream.
//
//   offset size field
//        0   10 signature: the byte 9 and "SaFeArRaY"
//       10    1 version (1 when written; 0 and 1 are read)
//       11    8 saved at: local time as an OLE date (ignored when reading)
//       19    4 checksum: Crc32Update(0, ...) over bytes 31 to the end, stored without inversion
//       23    4 file size: 31 + compressed size
//       27    4 payload size: size of the payload before compression
//       31    n the payload, compressed at zlib level 9
//
// All integers are little-endian. The routines here work on whole buffers; the file and
// the array object around them live in safe_array.cpp.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "platform/ole_ptr.h"
#include "platform/text_codec.h"

using ByteBuffer = std::vector<uint8_t>;

constexpr size_t kStorageHeaderSize = 31;
constexpr uint8_t kStorageVersion = 1;
constexpr uint8_t kStorageSignature[10] = {9, 'S', 'a', 'F', 'e', 'A', 'r', 'R', 'a', 'Y'};

// Field offsets inside the header.
constexpr size_t kStorageVersionOffset = 10;
constexpr size_t kStorageSavedAtOffset = 11;
constexpr size_t kStorageChecksumOffset = 19;
constexpr size_t kStorageFileSizeOffset = 23;
constexpr size_t kStoragePayloadSizeOffset = 27;

// The messages of the storage file, in the host code page.
AnsiString StorageMessageBadFileSize();     // "Хранилище повреждено - неверный размер файла"
AnsiString StorageMessageNotStorage();      // "Файл не является хранилищем ISafeArray"
AnsiString StorageMessageBadVersion();      // "Неверная версия хранилища"
AnsiString StorageMessageBadChecksum();     // "Хранилище повреждено - неверная контрольная сумма данных"
AnsiString StorageMessageUnpackFailed();    // "Ошибка распаковки данных"
AnsiString StorageMessagePackFailed();      // "Ошибка при упаковке"

struct TStorageHeader {
  uint8_t Version = kStorageVersion;
  double SavedAt = 0;
  uint32_t Checksum = 0;
  uint32_t FileSize = 0;
  uint32_t PayloadSize = 0;
};

// The checksum of the storage file: CRC-32 started with 0, without final inversion.
uint32_t StorageChecksum(std::span<const uint8_t> bytes);

// The current local date and time as an OLE date (days since 1899-12-30).
double CurrentOleDateTime();

// Header fields as they stand in the first 31 bytes; the buffer must hold at least 31
// bytes. Nothing is checked.
TStorageHeader ReadStorageHeader(std::span<const uint8_t> file);
void WriteStorageHeader(const TStorageHeader& header, std::span<uint8_t, kStorageHeaderSize> target);

// A complete storage file for an uncompressed payload: header and compressed bytes.
// Raises "Ошибка при упаковке" when zlib fails.
ByteBuffer PackStorage(std::span<const uint8_t> payload, double savedAt);

// Checks a storage file in the order of the format (size, signature, version, checksum,
// decompression) and returns the uncompressed payload. Each failed check raises its own
// message. The declared payload size is never trusted for an allocation beyond what the
// compressed bytes can expand to.
ByteBuffer UnpackStorage(std::span<const uint8_t> file);

// Inflates one zlib stream of at most `capacity` bytes, growing the buffer with the data
// as it comes. More data than that, a damaged or cut-off stream raise
// "Ошибка распаковки данных".
ByteBuffer InflateBounded(std::span<const uint8_t> compressed, uint32_t capacity);

// The payload of a storage file: the storage array as one item of the variant stream, and
// back. Decoding a two-dimensional array gives an array object (VT_DISPATCH answering
// ISafeArray); a damaged payload raises the stream's read errors.
ByteBuffer EncodeArrayPayload(const VARIANT& storage);
OleVariant DecodeArrayPayload(std::span<const uint8_t> payload);

// Whole-file access for the storage and raw forms. Failures raise an Exception with
// the file layer's message.
ByteBuffer ReadWholeFile(const std::filesystem::path& path);
// The same for a storage file: a file that cannot be one (shorter than the header or
// larger than 4 GiB) raises the size message before anything is read.
ByteBuffer ReadStorageFile(const std::filesystem::path& path);
void WriteWholeFile(const std::filesystem::path& path, std::span<const uint8_t> bytes);
