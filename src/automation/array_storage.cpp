#include "automation/array_storage.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <limits>
#include <mutex>

#include "base/errors.h"
#include "config/crc32.h"
#include "host/wire/memory_stream.h"
#include "host/wire/variant_stream.h"

AnsiString StorageMessageBadFileSize() {
  return AnsiFromUtf8("Хранилище повреждено - неверный размер файла");
}
AnsiString StorageMessageNotStorage() { return AnsiFromUtf8("Файл не является хранилищем ISafeArray"); }
AnsiString StorageMessageBadVersion() { return AnsiFromUtf8("Неверная версия хранилища"); }
AnsiString StorageMessageBadChecksum() {
  return AnsiFromUtf8("Хранилище повреждено - неверная контрольная сумма данных");
}
AnsiString StorageMessageUnpackFailed() { return AnsiFromUtf8("Ошибка распаковки данных"); }
AnsiString StorageMessagePackFailed() { return AnsiFromUtf8("Ошибка при упаковке"); }

namespace {

// Deflate codes at best 258 bytes in two bits (one literal/length code and one distance
// code of one bit each), so no zlib stream expands beyond 1032 times its own size.
constexpr uint64_t kMaxInflateRatio = 1032;

uint32_t GetUint32(std::span<const uint8_t> bytes, size_t offset) {
  return uint32_t(bytes[offset]) | uint32_t(bytes[offset + 1]) << 8 | uint32_t(bytes[offset + 2]) << 16 |
         uint32_t(bytes[offset + 3]) << 24;
}

void PutUint32(std::span<uint8_t> bytes, size_t offset, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) bytes[offset + i] = uint8_t(value >> (8 * i));
}

double GetDouble(std::span<const uint8_t> bytes, size_t offset) {
  uint64_t bits = 0;
  for (size_t i = 0; i < 8; ++i) bits |= uint64_t(bytes[offset + i]) << (8 * i);
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

void PutDouble(std::span<uint8_t> bytes, size_t offset, double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  for (size_t i = 0; i < 8; ++i) bytes[offset + i] = uint8_t(bits >> (8 * i));
}

[[noreturn]] void RaisePlain(const AnsiString& message) { throw Exception(message); }

AnsiString PathText(const std::filesystem::path& path) {
  auto text = path.u16string();
  return AnsiFromWide(WideStringView(reinterpret_cast<const OLECHAR*>(text.data()), text.size()));
}

[[noreturn]] void RaiseFileError(const char* utf8Pattern, const std::filesystem::path& path) {
  RaisePlain(FormatText(AnsiFromUtf8(utf8Pattern), {PathText(path)}));
}

}  // namespace

uint32_t StorageChecksum(std::span<const uint8_t> bytes) {
  // The format stores the running CRC register as it is: start 0, no final inversion.
  // Buffers beyond the routine's int length are checksummed in pieces.
  uint32_t crc = 0;
  constexpr size_t kPiece = 1u << 30;
  for (size_t offset = 0; offset < bytes.size(); offset += kPiece) {
    const size_t length = std::min(kPiece, bytes.size() - offset);
    crc = Crc32Update(crc, bytes.data() + offset, int(length));
  }
  return crc;
}

double CurrentOleDateTime() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  std::tm local{};
  {
    // std::localtime shares one buffer per process.
    static std::mutex localtimeLock;
    std::lock_guard lock(localtimeLock);
    if (const std::tm* converted = std::localtime(&seconds)) local = *converted;
  }
  const year_month_day date{year{local.tm_year + 1900}, month{unsigned(local.tm_mon + 1)},
                            day{unsigned(local.tm_mday)}};
  const auto days = (sys_days{date} - sys_days{year{1899} / December / 30}).count();
  const auto milliseconds = duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  const double secondOfDay = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + milliseconds / 1000.0;
  return double(days) + secondOfDay / 86400.0;
}

TStorageHeader ReadStorageHeader(std::span<const uint8_t> file) {
  TStorageHeader header;
  header.Version = file[kStorageVersionOffset];
  header.SavedAt = GetDouble(file, kStorageSavedAtOffset);
  header.Checksum = GetUint32(file, kStorageChecksumOffset);
  header.FileSize = GetUint32(file, kStorageFileSizeOffset);
  header.PayloadSize = GetUint32(file, kStoragePayloadSizeOffset);
  return header;
}

void WriteStorageHeader(const TStorageHeader& header, std::span<uint8_t, kStorageHeaderSize> target) {
  std::copy(std::begin(kStorageSignature), std::end(kStorageSignature), target.begin());
  target[kStorageVersionOffset] = header.Version;
  PutDouble(target, kStorageSavedAtOffset, header.SavedAt);
  PutUint32(target, kStorageChecksumOffset, header.Checksum);
  PutUint32(target, kStorageFileSizeOffset, header.FileSize);
  PutUint32(target, kStoragePayloadSizeOffset, header.PayloadSize);
}

ByteBuffer PackStorage(std::span<const uint8_t> payload, double savedAt) {
  if (payload.size() > std::numeric_limits<uint32_t>::max() - kStorageHeaderSize) RaisePlain(StorageMessagePackFailed());
  // The output buffer is zlib's own bound for the input, so incompressible payloads
  // (random doubles, already compressed data) fit as well; the format is unchanged.
  uLongf compressedSize = compressBound(uLong(payload.size()));
  ByteBuffer file(kStorageHeaderSize + compressedSize);
  const int status =
      compress2(file.data() + kStorageHeaderSize, &compressedSize, payload.data(), uLong(payload.size()), 9);
  if (status != Z_OK || compressedSize > std::numeric_limits<uint32_t>::max() - kStorageHeaderSize)
    RaisePlain(StorageMessagePackFailed());
  file.resize(kStorageHeaderSize + compressedSize);

  TStorageHeader header;
  header.Version = kStorageVersion;
  header.SavedAt = savedAt;
  header.Checksum = StorageChecksum(std::span(file).subspan(kStorageHeaderSize));
  header.FileSize = uint32_t(file.size());
  header.PayloadSize = uint32_t(payload.size());
  WriteStorageHeader(header, std::span(file).first<kStorageHeaderSize>());
  return file;
}

ByteBuffer UnpackStorage(std::span<const uint8_t> file) {
  if (file.size() < kStorageHeaderSize || file.size() > std::numeric_limits<uint32_t>::max())
    RaisePlain(StorageMessageBadFileSize());
  const TStorageHeader header = ReadStorageHeader(file);
  if (header.FileSize != file.size()) RaisePlain(StorageMessageBadFileSize());
  if (!std::equal(std::begin(kStorageSignature), std::end(kStorageSignature), file.begin()))
    RaisePlain(StorageMessageNotStorage());
  if (header.Version > kStorageVersion) RaisePlain(StorageMessageBadVersion());

  const auto compressed = file.subspan(kStorageHeaderSize);
  if (StorageChecksum(compressed) != header.Checksum) RaisePlain(StorageMessageBadChecksum());

  // A payload size that the compressed bytes cannot reach is a damaged header: refuse it
  // before allocating anything for it.
  if (uint64_t(header.PayloadSize) > uint64_t(compressed.size()) * kMaxInflateRatio)
    RaisePlain(StorageMessageUnpackFailed());
  return InflateBounded(compressed, header.PayloadSize);
}

ByteBuffer InflateBounded(std::span<const uint8_t> compressed, uint32_t capacity) {
  // The declared size is only a ceiling: the buffer grows with what the stream really
  // yields, in steps no larger than what is already there (plus a first step), so memory
  // stays in proportion to the data actually present.
  constexpr size_t kFirstStep = 64 * 1024;
  z_stream zlib{};
  if (inflateInit(&zlib) != Z_OK) RaisePlain(StorageMessageUnpackFailed());
  struct Ender {
    z_stream& stream;
    ~Ender() { inflateEnd(&stream); }
  } ender{zlib};

  ByteBuffer payload;
  // zlib wants a non-null output pointer even when nothing is expected.
  Bytef emptyTarget = 0;
  zlib.next_in = const_cast<Bytef*>(compressed.data());
  size_t inputLeft = compressed.size();
  int status = Z_OK;
  do {
    if (zlib.avail_in == 0 && inputLeft > 0) {
      zlib.avail_in = uInt(std::min<size_t>(inputLeft, std::numeric_limits<uInt>::max()));
      inputLeft -= zlib.avail_in;
    }
    const size_t produced = payload.size();
    const size_t step = std::min<size_t>(capacity - produced, std::max(kFirstStep, produced));
    payload.resize(produced + step);
    zlib.next_out = step > 0 ? payload.data() + produced : &emptyTarget;
    zlib.avail_out = uInt(step);
    status = inflate(&zlib, Z_NO_FLUSH);
    payload.resize(produced + (step - zlib.avail_out));
    const bool stalled = status == Z_BUF_ERROR && zlib.avail_in == 0 && inputLeft == 0;
    // More data than the declared size, or a stream that ends before its end mark.
    if ((status == Z_BUF_ERROR && payload.size() == capacity) || stalled) RaisePlain(StorageMessageUnpackFailed());
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) RaisePlain(StorageMessageUnpackFailed());
  } while (status != Z_STREAM_END);
  return payload;
}

ByteBuffer EncodeArrayPayload(const VARIANT& storage) {
  TMyMemoryStream stream;
  WriteVariant(stream, storage);
  const auto* bytes = reinterpret_cast<const uint8_t*>(stream.Memory());
  return bytes ? ByteBuffer(bytes, bytes + stream.Size()) : ByteBuffer();
}

OleVariant DecodeArrayPayload(std::span<const uint8_t> payload) {
  if (payload.size() > size_t(std::numeric_limits<int32_t>::max())) RaisePlain(StorageMessageUnpackFailed());
  TMyMemoryStream stream;
  stream.Write(payload.data(), int32_t(payload.size()));
  stream.Seek(0);
  OleVariant item;
  ReadVariant(stream, item);
  return item;
}

ByteBuffer ReadWholeFile(const std::filesystem::path& path) {
  // Only a plain file has contents: a folder opens on some systems and reports a size
  // that no buffer can have.
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) RaiseFileError("Невозможно открыть файл \"%s\"", path);
  std::ifstream input(path, std::ios::binary);
  if (!input) RaiseFileError("Невозможно открыть файл \"%s\"", path);
  // Read in pieces up to the end actually found, so a size reported wrongly (or a file
  // that changes meanwhile) never decides an allocation.
  constexpr size_t kPiece = 1 << 20;
  ByteBuffer bytes;
  for (;;) {
    const size_t before = bytes.size();
    bytes.resize(before + kPiece);
    input.read(reinterpret_cast<char*>(bytes.data() + before), std::streamsize(kPiece));
    bytes.resize(before + size_t(input.gcount()));
    if (!input) break;
  }
  if (input.bad()) RaiseFileError("Ошибка чтения файла \"%s\"", path);
  return bytes;
}

ByteBuffer ReadStorageFile(const std::filesystem::path& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (!error && (size < kStorageHeaderSize || size > std::numeric_limits<uint32_t>::max()))
    RaisePlain(StorageMessageBadFileSize());
  return ReadWholeFile(path);
}

void WriteWholeFile(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
  std::ofstream output(path, std::ios::binary | std::ios::trunc);
  if (!output) RaiseFileError("Невозможно создать файл \"%s\"", path);
  if (!bytes.empty()) output.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  output.close();
  if (!output) RaiseFileError("Ошибка записи в файл \"%s\"", path);
}
