// The array storage file: byte layout, every check of the loader, and round trips through
// the array object.
#include "automation/array_storage.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "automation/safe_array.h"
#include "base/errors.h"
#include "host/wire/memory_stream.h"
#include "platform/process_info.h"

namespace {

namespace fs = std::filesystem;

// The checksum as the format describes it, bit by bit: reflected CRC-32, register 0, no
// inversion at either end.
uint32_t BitwiseChecksum(const uint8_t* data, size_t size) {
  uint32_t crc = 0;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc;
}

void AppendUint32(ByteBuffer& bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(value >> (8 * i)));
}

void AppendDouble(ByteBuffer& bytes, double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  for (int i = 0; i < 8; ++i) bytes.push_back(uint8_t(bits >> (8 * i)));
}

uint32_t Uint32At(const ByteBuffer& bytes, size_t offset) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= uint32_t(bytes[offset + i]) << (8 * i);
  return value;
}

// A storage file assembled from its description: header fields in order, then the bytes.
ByteBuffer HandMadeFile(const ByteBuffer& compressed, uint32_t payloadSize, uint8_t version = 1) {
  ByteBuffer file = {9, 'S', 'a', 'F', 'e', 'A', 'r', 'R', 'a', 'Y', version};
  AppendDouble(file, 45000.5);
  AppendUint32(file, BitwiseChecksum(compressed.data(), compressed.size()));
  AppendUint32(file, uint32_t(31 + compressed.size()));
  AppendUint32(file, payloadSize);
  file.insert(file.end(), compressed.begin(), compressed.end());
  return file;
}

ByteBuffer ZlibCompress(const ByteBuffer& data) {
  uLongf size = compressBound(uLong(data.size()));
  ByteBuffer out(size);
  EXPECT_EQ(compress2(out.data(), &size, data.data(), uLong(data.size()), 9), Z_OK);
  out.resize(size);
  return out;
}

std::string Utf8(const AnsiString& text) { return Utf8FromAnsi(text); }

std::string UnpackFailure(const ByteBuffer& file) {
  try {
    UnpackStorage(file);
  } catch (const Exception& error) {
    return Utf8(error.Message());
  }
  return "<loaded>";
}

class StorageFiles : public ::testing::Test {
protected:
  void SetUp() override {
    FFolder = fs::temp_directory_path() /
              ("vestrel_storage_" + std::to_string(platform::CurrentProcessId()) + "_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::create_directories(FFolder);
    // Damaged payloads dump the stream: into this test's folder, removed with it.
    SetStreamDumpFolder(FFolder);
  }
  void TearDown() override {
    SetStreamDumpFolder({});
    std::error_code ignored;
    fs::remove_all(FFolder, ignored);
  }
  fs::path File(const char* name) const { return FFolder / name; }
  OleString Name(const char* name) const {
    auto text = File(name).u16string();
    return OleString(OleString::View(reinterpret_cast<const OLECHAR*>(text.data()), text.size()));
  }
  static void Write(const fs::path& path, const ByteBuffer& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  static ByteBuffer Read(const fs::path& path) { return ReadWholeFile(path); }

  fs::path FFolder;
};

std::string LastErrorDescription() {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.Put()) != S_OK || !info) return "<none>";
  OleString description;
  info->GetDescription(description.Put());
  return Utf8FromWide(description.Text());
}

// A 2 x 3 table of an integer, a double, a date, a wide string, an empty and a null value.
ComPtr<ISafeArray> MixedTable() {
  auto array = CreateSafeArray();
  array->SetBounds(2, 3);
  OleVariant date;
  date.vt = VT_DATE;
  date.date = 45123.75;
  array->SetValue(0, 0, OleVariant(int32_t(-17)));
  array->SetValue(0, 1, OleVariant(3.25));
  array->SetValue(0, 2, date);
  array->SetValue(1, 0, OleVariant(WideFromUtf8("Строка")));
  array->SetValue(1, 2, OleVariant::Null());
  return array;
}

void ExpectMixedTable(ISafeArray* array) {
  LONG x = 0, y = 0;
  array->GetBounds(&x, &y);
  EXPECT_EQ(x, 2);
  EXPECT_EQ(y, 3);
  OleVariant v;
  array->GetValue(0, 0, v.Put());
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, -17);
  array->GetValue(0, 1, v.Put());
  EXPECT_EQ(v.vt, VT_R8);
  EXPECT_EQ(v.dblVal, 3.25);
  array->GetValue(0, 2, v.Put());
  EXPECT_EQ(v.vt, VT_DATE);
  EXPECT_EQ(v.date, 45123.75);
  array->GetValue(1, 0, v.Put());
  ASSERT_EQ(v.vt, VT_BSTR);
  EXPECT_EQ(Utf8FromWide(OleString(v.bstrVal).Text()), "Строка");
  array->GetValue(1, 1, v.Put());
  EXPECT_EQ(v.vt, VT_EMPTY);
  array->GetValue(1, 2, v.Put());
  EXPECT_EQ(v.vt, VT_NULL);
}

}  // namespace

TEST(StorageFormat, ChecksumIsTheRegisterWithoutInversion) {
  const uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(StorageChecksum(abc), 0xCA6598D0u);
  EXPECT_EQ(StorageChecksum({}), 0u);
}

TEST(StorageFormat, PackedBytesFollowTheHeaderTable) {
  ByteBuffer payload(5000);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(i % 7);
  const ByteBuffer file = PackStorage(payload, 44927.25);

  // Rebuild the header from the compressed bytes alone.
  const ByteBuffer compressed(file.begin() + 31, file.end());
  ByteBuffer expected = {9, 'S', 'a', 'F', 'e', 'A', 'r', 'R', 'a', 'Y', 1};
  AppendDouble(expected, 44927.25);
  AppendUint32(expected, BitwiseChecksum(compressed.data(), compressed.size()));
  AppendUint32(expected, uint32_t(file.size()));
  AppendUint32(expected, uint32_t(payload.size()));
  EXPECT_EQ(ByteBuffer(file.begin(), file.begin() + 31), expected);

  // One zlib stream (header 0x78 0xDA for level 9) that inflates to the payload.
  EXPECT_EQ(compressed[0], 0x78);
  EXPECT_EQ(compressed[1], 0xDA);
  ByteBuffer inflated(payload.size());
  uLongf inflatedSize = uLongf(inflated.size());
  ASSERT_EQ(uncompress(inflated.data(), &inflatedSize, compressed.data(), uLong(compressed.size())), Z_OK);
  EXPECT_EQ(inflated, payload);
  EXPECT_EQ(UnpackStorage(file), payload);
}

TEST(StorageFormat, IncompressiblePayloadStillPacks) {
  std::mt19937 random(7);
  ByteBuffer payload(100000);
  for (auto& byte : payload) byte = uint8_t(random());
  const ByteBuffer file = PackStorage(payload, 0);
  EXPECT_GT(file.size(), payload.size() + 31);
  EXPECT_EQ(UnpackStorage(file), payload);
}

TEST(StorageFormat, EachCorruptionHasItsOwnMessageInOrder) {
  const ByteBuffer payload(300, 'x');
  const ByteBuffer good = PackStorage(payload, 1.0);
  const std::string badSize = "Хранилище повреждено - неверный размер файла";

  EXPECT_EQ(UnpackFailure(ByteBuffer(good.begin(), good.end() - 1)), badSize);
  EXPECT_EQ(UnpackFailure(ByteBuffer(good.begin(), good.begin() + 30)), badSize);
  EXPECT_EQ(UnpackFailure({}), badSize);
  ByteBuffer longer = good;
  longer.push_back(0);
  EXPECT_EQ(UnpackFailure(longer), badSize);

  ByteBuffer signature = good;
  signature[3] = 'f';
  EXPECT_EQ(UnpackFailure(signature), "Файл не является хранилищем ISafeArray");
  // Size is checked before the signature.
  ByteBuffer both = signature;
  both.pop_back();
  EXPECT_EQ(UnpackFailure(both), badSize);

  ByteBuffer version = good;
  version[10] = 2;
  EXPECT_EQ(UnpackFailure(version), "Неверная версия хранилища");
  version[10] = 0;
  EXPECT_EQ(UnpackStorage(version), payload);

  for (size_t offset : {size_t(31), good.size() / 2, good.size() - 1}) {
    ByteBuffer damaged = good;
    damaged[offset] ^= 0x40;
    EXPECT_EQ(UnpackFailure(damaged), "Хранилище повреждено - неверная контрольная сумма данных") << offset;
  }

  // The saved-at field is ignored.
  ByteBuffer date = good;
  std::fill(date.begin() + 11, date.begin() + 19, 0xFF);
  EXPECT_EQ(UnpackStorage(date), payload);
}

TEST(StorageFormat, PayloadSizeIsNotTrusted) {
  const ByteBuffer payload(300, 'x');
  const ByteBuffer compressed = ZlibCompress(payload);
  const std::string unpack = "Ошибка распаковки данных";
  EXPECT_EQ(UnpackFailure(HandMadeFile(compressed, 299)), unpack);          // does not fit
  EXPECT_EQ(UnpackFailure(HandMadeFile(compressed, 0xFFFFFFFFu)), unpack);  // beyond any inflation
  EXPECT_EQ(UnpackFailure(HandMadeFile(ByteBuffer(40, 0x55), 1000)), unpack);  // not zlib at all
  EXPECT_EQ(UnpackFailure(HandMadeFile({}, 0)), unpack);
  EXPECT_EQ(UnpackStorage(HandMadeFile(compressed, 300)), payload);
}

TEST_F(StorageFiles, MixedTableSurvivesSaveAndLoad) {
  auto saved = MixedTable();
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(saved->SaveToFile(Name("mixed.sfa").Get(), &done), S_OK) << LastErrorDescription();
  EXPECT_EQ(done, VARIANT_TRUE);

  const ByteBuffer file = Read(File("mixed.sfa"));
  ASSERT_GE(file.size(), 31u);
  EXPECT_EQ(Uint32At(file, 23), file.size());
  const ByteBuffer payload = UnpackStorage(file);
  EXPECT_EQ(Uint32At(file, 27), payload.size());
  // Tag 0x200C, two dimensions, lower bounds 0 and 0, upper bounds 1 and 2.
  ASSERT_GE(payload.size(), 24u);
  EXPECT_EQ(Uint32At(payload, 0), 0x200Cu);
  EXPECT_EQ(Uint32At(payload, 4), 2u);
  EXPECT_EQ(Uint32At(payload, 8), 0u);
  EXPECT_EQ(Uint32At(payload, 12), 0u);
  EXPECT_EQ(Uint32At(payload, 16), 1u);
  EXPECT_EQ(Uint32At(payload, 20), 2u);
  // Elements X outer, Y inner: the first is the integer -17.
  EXPECT_EQ(Uint32At(payload, 24), uint32_t(VT_I4));
  EXPECT_EQ(Uint32At(payload, 28), uint32_t(-17));

  auto loaded = CreateSafeArray();
  done = VARIANT_FALSE;
  ASSERT_EQ(loaded->LoadFromFile(Name("mixed.sfa").Get(), &done), S_OK) << LastErrorDescription();
  EXPECT_EQ(done, VARIANT_TRUE);
  ExpectMixedTable(loaded.Get());
}

TEST_F(StorageFiles, EmptyObjectStoresItsSingleElement) {
  auto saved = CreateSafeArray();
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(saved->SaveToFile(Name("empty.sfa").Get(), &done), S_OK);
  auto loaded = CreateSafeArray();
  ASSERT_EQ(loaded->LoadFromFile(Name("empty.sfa").Get(), &done), S_OK);
  LONG x = 0, y = 0;
  loaded->GetBounds(&x, &y);
  EXPECT_EQ(x, 1);
  EXPECT_EQ(y, 1);
  OleVariant value;
  ASSERT_EQ(loaded->GetValue(0, 0, value.Put()), S_OK);
  EXPECT_EQ(value.vt, VT_EMPTY);
}

TEST_F(StorageFiles, HandMadeFileLoads) {
  // Tag 0x200C, 2 dimensions, bounds 0..1 and 0..0, then the integer 5 and the string "Код".
  ByteBuffer payload;
  for (uint32_t word : {0x200Cu, 2u, 0u, 0u, 1u, 0u, 3u, 5u, 8u, 3u}) AppendUint32(payload, word);
  for (uint16_t unit : {0x041A, 0x043E, 0x0434}) {
    payload.push_back(uint8_t(unit));
    payload.push_back(uint8_t(unit >> 8));
  }
  Write(File("hand.sfa"), HandMadeFile(ZlibCompress(payload), uint32_t(payload.size())));

  auto loaded = CreateSafeArray();
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(loaded->LoadFromFile(Name("hand.sfa").Get(), &done), S_OK) << LastErrorDescription();
  EXPECT_EQ(done, VARIANT_TRUE);
  LONG x = 0, y = 0;
  loaded->GetBounds(&x, &y);
  EXPECT_EQ(x, 2);
  EXPECT_EQ(y, 1);
  OleVariant value;
  loaded->GetValue(0, 0, value.Put());
  EXPECT_EQ(value.lVal, 5);
  loaded->GetValue(1, 0, value.Put());
  ASSERT_EQ(value.vt, VT_BSTR);
  EXPECT_EQ(Utf8FromWide(OleString(value.bstrVal).Text()), "Код");
}

TEST_F(StorageFiles, FailedLoadsLeaveTheObjectUnchanged) {
  auto saved = MixedTable();
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(saved->SaveToFile(Name("good.sfa").Get(), &done), S_OK);
  const ByteBuffer good = Read(File("good.sfa"));

  struct Corruption {
    const char* Name;
    ByteBuffer Bytes;
    std::string Message;
  };
  ByteBuffer signature = good, version = good, checksum = good, truncated(good.begin(), good.end() - 3);
  signature[0] = 8;
  version[10] = 2;
  checksum[40] ^= 1;
  ByteBuffer notStorage(100, 'A');
  ByteBuffer notArray;  // a payload holding one integer instead of an array
  for (uint32_t word : {3u, 7u}) AppendUint32(notArray, word);
  const Corruption corruptions[] = {
      {"size.sfa", truncated, "Хранилище повреждено - неверный размер файла"},
      {"other.sfa", notStorage, "Хранилище повреждено - неверный размер файла"},
      {"signature.sfa", signature, "Файл не является хранилищем ISafeArray"},
      {"version.sfa", version, "Неверная версия хранилища"},
      {"checksum.sfa", checksum, "Хранилище повреждено - неверная контрольная сумма данных"},
      {"unpack.sfa", HandMadeFile(ZlibCompress(ByteBuffer(50, 1)), 10), "Ошибка распаковки данных"},
      {"notarray.sfa", HandMadeFile(ZlibCompress(notArray), uint32_t(notArray.size())), "Ошибка распаковки данных"},
  };
  auto target = MixedTable();
  for (const auto& corruption : corruptions) {
    Write(File(corruption.Name), corruption.Bytes);
    done = VARIANT_TRUE;
    EXPECT_EQ(target->LoadFromFile(Name(corruption.Name).Get(), &done), E_FAIL) << corruption.Name;
    EXPECT_EQ(done, VARIANT_FALSE);
    EXPECT_EQ(LastErrorDescription(), corruption.Message) << corruption.Name;
    ExpectMixedTable(target.Get());
  }

  // A payload that passes the checksum but is cut short fails with the stream's own error.
  ByteBuffer shortPayload;
  for (uint32_t word : {0x200Cu, 2u, 0u, 0u, 1000u, 1000u}) AppendUint32(shortPayload, word);
  Write(File("short.sfa"), HandMadeFile(ZlibCompress(shortPayload), uint32_t(shortPayload.size())));
  EXPECT_EQ(target->LoadFromFile(Name("short.sfa").Get(), &done), E_FAIL);
  ExpectMixedTable(target.Get());
  EXPECT_TRUE(fs::exists(File("Buffer24.txt"))) << "the dump goes to the chosen folder";

  // A missing file is no failure and changes nothing.
  done = VARIANT_TRUE;
  EXPECT_EQ(target->LoadFromFile(Name("missing.sfa").Get(), &done), S_OK);
  EXPECT_EQ(done, VARIANT_FALSE);
  ExpectMixedTable(target.Get());
}

TEST_F(StorageFiles, RandomDoublesThousandByTenSaveAndLoad) {
  auto saved = CreateSafeArray();
  ASSERT_EQ(saved->SetBounds(1000, 10), S_OK);
  std::mt19937_64 random(11);
  std::uniform_real_distribution<double> number(-1e6, 1e6);
  std::vector<double> values;
  for (LONG x = 0; x < 1000; ++x)
    for (LONG y = 0; y < 10; ++y) {
      values.push_back(number(random));
      ASSERT_EQ(saved->SetValue(x, y, OleVariant(values.back())), S_OK);
    }
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(saved->SaveToFile(Name("random.sfa").Get(), &done), S_OK) << LastErrorDescription();
  EXPECT_EQ(done, VARIANT_TRUE);

  auto loaded = CreateSafeArray();
  ASSERT_EQ(loaded->LoadFromFile(Name("random.sfa").Get(), &done), S_OK) << LastErrorDescription();
  LONG x = 0, y = 0;
  loaded->GetBounds(&x, &y);
  ASSERT_EQ(x, 1000);
  ASSERT_EQ(y, 10);
  size_t i = 0;
  for (LONG row = 0; row < 1000; ++row)
    for (LONG col = 0; col < 10; ++col) {
      OleVariant value;
      loaded->GetValue(row, col, value.Put());
      ASSERT_EQ(value.vt, VT_R8);
      ASSERT_EQ(value.dblVal, values[i++]);
    }
}

TEST_F(StorageFiles, NestedArrayObjectsAreStoredAsTheirArrays) {
  auto inner = CreateSafeArray();
  inner->SetBounds(1, 2);
  inner->SetValue(0, 1, OleVariant(int32_t(8)));
  ComPtr<IDispatch> innerDispatch;
  inner.QueryInterface(IID_IDispatch, innerDispatch);
  auto outer = CreateSafeArray();
  outer->SetBounds(1, 1);
  outer->SetValue(0, 0, OleVariant(innerDispatch.Get()));
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(outer->SaveToFile(Name("nested.sfa").Get(), &done), S_OK) << LastErrorDescription();
  auto loaded = CreateSafeArray();
  ASSERT_EQ(loaded->LoadFromFile(Name("nested.sfa").Get(), &done), S_OK) << LastErrorDescription();
  OleVariant element;
  loaded->GetValue(0, 0, element.Put());
  ASSERT_TRUE(IsSafeArray(element));
  ComPtr<ISafeArray> nested;
  ASSERT_EQ(element.pdispVal->QueryInterface(IID_ISafeArray, nested.PutVoid()), S_OK);
  OleVariant value;
  nested->GetValue(0, 1, value.Put());
  EXPECT_EQ(value.lVal, 8);
}

TEST_F(StorageFiles, RawFormMovesBytesUnchanged) {
  const ByteBuffer bytes = {0, 1, 2, 255, 'a', 'b'};
  Write(File("raw.bin"), bytes);
  auto array = CreateSafeArray();
  VARIANT_BOOL done = VARIANT_FALSE;
  // An array of variants writes nothing.
  EXPECT_EQ(array->SaveToFileAsStream(Name("nothing.bin").Get(), &done), S_OK);
  EXPECT_EQ(done, VARIANT_FALSE);
  EXPECT_FALSE(fs::exists(File("nothing.bin")));

  ASSERT_EQ(array->LoadFromFileAsStream(Name("raw.bin").Get(), &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  LONG x = 0, y = 0, type = 0;
  array->GetBounds(&x, &y);
  array->GetVarType(&type);
  EXPECT_EQ(x, 1);
  EXPECT_EQ(y, 6);
  EXPECT_EQ(type, VT_UI1);
  ASSERT_EQ(array->SaveToFileAsStream(Name("copy.bin").Get(), &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  EXPECT_EQ(Read(File("copy.bin")), bytes);

  // A byte table also goes through the storage file and comes back as bytes.
  ASSERT_EQ(array->SaveToFile(Name("bytes.sfa").Get(), &done), S_OK) << LastErrorDescription();
  auto reloaded = CreateSafeArray();
  ASSERT_EQ(reloaded->LoadFromFile(Name("bytes.sfa").Get(), &done), S_OK) << LastErrorDescription();
  reloaded->GetVarType(&type);
  EXPECT_EQ(type, VT_UI1);
  ASSERT_EQ(reloaded->SaveToFileAsStream(Name("copy2.bin").Get(), &done), S_OK);
  EXPECT_EQ(Read(File("copy2.bin")), bytes);

  Write(File("empty.bin"), {});
  ASSERT_EQ(array->LoadFromFileAsStream(Name("empty.bin").Get(), &done), S_OK);
  array->GetBounds(&x, &y);
  EXPECT_EQ(x, 1);
  EXPECT_EQ(y, 0);
  ASSERT_EQ(array->SaveToFileAsStream(Name("empty-copy.bin").Get(), &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  EXPECT_EQ(fs::file_size(File("empty-copy.bin")), 0u);

  done = VARIANT_TRUE;
  EXPECT_EQ(array->LoadFromFileAsStream(Name("missing.bin").Get(), &done), S_OK);
  EXPECT_EQ(done, VARIANT_FALSE);
}
