// Inputs that broke the storage and stream loaders once (tests/data/hostile): each ends in
// the loader's own error or in a sound table, with memory in proportion to the data.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "automation/array_storage.h"
#include "automation/safe_array.h"
#include "base/errors.h"
#include "host/wire/memory_stream.h"
#include "host/wire/variant_stream.h"
#include "platform/process_info.h"

namespace {

namespace fs = std::filesystem;

fs::path Hostile(const char* name) { return fs::path(VESTREL_TEST_DATA_DIR) / "hostile" / name; }

std::string Utf8(const AnsiString& text) { return Utf8FromWide(WideFromAnsi(text)); }

const std::string kUnpackFailed = "Ошибка распаковки данных";

// Loads a storage file into a new object: the error text, or "" when it loaded.
std::string LoadInto(TSafeArray& object, const char* name) {
  try {
    object.LoadStorage(ReadWholeFile(Hostile(name)));
  } catch (const Exception& error) {
    return Utf8(error.Message());
  }
  return "";
}

TSafeArray& Object(const ComPtr<ISafeArray>& array) { return *static_cast<TSafeArray*>(array.Get()); }

class HostileInput : public ::testing::Test {
protected:
  void SetUp() override {
    FDumps = fs::temp_directory_path() / ("vestrel_hostile_" + std::to_string(platform::CurrentProcessId()) + "_" + std::to_string(reinterpret_cast<uintptr_t>(this)));
    fs::create_directories(FDumps);
    SetStreamDumpFolder(FDumps);
  }
  void TearDown() override {
    SetStreamDumpFolder({});
    std::error_code ignored;
    fs::remove_all(FDumps, ignored);
  }
  fs::path FDumps;
};

}  // namespace

TEST_F(HostileInput, TablesThatNoObjectCanHaveAreRefusedWithTheLoadersError) {
  // Bounds that are not 0 ... n-1, an empty dimension, an upper bound with no count.
  for (const char* name : {"storage-bound-int-max.sfa", "storage-row-bound-beyond-elements.sfa",
                           "storage-rows-without-columns.sfa", "storage-lower-bound-one.sfa"}) {
    auto array = CreateSafeArray();
    EXPECT_EQ(LoadInto(Object(array), name), kUnpackFailed) << name;
    EXPECT_EQ(Object(array).CountX(), 0) << name << ": the object is unchanged";
    EXPECT_EQ(Object(array).CountY(), 0) << name;
  }
}

TEST_F(HostileInput, ElementTypesTheFormatCannotCarryAreRefusedAndFreed) {
  // Element type 38 (and 37): refused as an unsupported type before any array exists.
  auto array = CreateSafeArray();
  EXPECT_EQ(LoadInto(Object(array), "storage-uint-ptr-elements.sfa"),
            "Неподдерживаемый тип данных.\r\nТип данных=8230\r\nПредставление: (Неопределено)");
  TMyMemoryStream stream;
  const ByteBuffer bytes = ReadWholeFile(Hostile("stream-uint-ptr-array.bin"));
  stream.Write(bytes.data(), int32_t(bytes.size()));
  stream.Seek(0);
  OleVariant value;
  EXPECT_THROW(ReadVariant(stream, value), EInvalidOperation);
  EXPECT_EQ(value.vt, VT_EMPTY);
}

TEST_F(HostileInput, ATinyDoubleInADecimalTableBecomesDecimalZero) {
  auto array = CreateSafeArray();
  ASSERT_EQ(LoadInto(Object(array), "storage-decimal-tiny-double.sfa"), "");
  EXPECT_EQ(Object(array).CountX(), 1);
  EXPECT_EQ(Object(array).CountY(), 1);
  const OleVariant element = Object(array).ElementAt(0, 0);
  ASSERT_EQ(element.vt, VT_DECIMAL);
  EXPECT_EQ(element.decVal.Hi32, 0u);
  EXPECT_EQ(element.decVal.Lo64, 0u);

  // The raw stream with the same value: a 1 x 1 decimal table as well.
  const ByteBuffer stream = ReadWholeFile(Hostile("stream-decimal-tiny-double.bin"));
  const OleVariant item = DecodeArrayPayload(stream);
  ASSERT_EQ(item.vt, VT_DISPATCH);
  ComPtr<ISafeArray> table;
  ASSERT_EQ(item.pdispVal->QueryInterface(IID_ISafeArray, table.PutVoid()), S_OK);
  LONG type = 0;
  table->GetVarType(&type);
  EXPECT_EQ(type, VT_DECIMAL);
}

TEST_F(HostileInput, AnEmptyDimensionInANestedArraySavesAndLoadsAgain) {
  auto array = CreateSafeArray();
  ASSERT_EQ(LoadInto(Object(array), "storage-zero-length-dimension-4d.sfa"), "");
  const OleVariant nested = Object(array).ElementAt(0, 0);
  ASSERT_EQ(nested.vt, VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(SafeArrayGetDim(nested.parray), 4u);
  // Writing it back counts no elements (the last dimension is empty) instead of
  // multiplying the others past 64 bits.
  const ByteBuffer saved = Object(array).SaveStorage();
  auto copy = CreateSafeArray();
  Object(copy).LoadStorage(saved);
  EXPECT_EQ(Object(copy).CountX(), 1);
  EXPECT_EQ(SafeArrayGetDim(Object(copy).ElementAt(0, 0).parray), 4u);

  // The stream that overflowed the count when written back.
  const OleVariant item = DecodeArrayPayload(ReadWholeFile(Hostile("stream-count-overflow-on-write.bin")));
  const ByteBuffer again = EncodeArrayPayload(item);
  EXPECT_GT(again.size(), 100u);
  EXPECT_EQ(EncodeArrayPayload(DecodeArrayPayload(again)), again) << "what was written reads back and writes the same";
}

TEST_F(HostileInput, ADeclaredPayloadSizeIsACeilingNotAnAllocation) {
  // 1 MB of zlib data that declares about 1 GB: the buffer follows what really unpacks.
  const ByteBuffer file = ReadWholeFile(Hostile("storage-declares-1gb-payload.sfa"));
  EXPECT_GT(ReadStorageHeader(file).PayloadSize, 1000000000u);
  const ByteBuffer payload = UnpackStorage(file);
  EXPECT_EQ(payload.size(), 1048608u);
  EXPECT_LT(payload.capacity(), 4u * 1048608u);
  auto array = CreateSafeArray();
  ASSERT_EQ(LoadInto(Object(array), "storage-declares-1gb-payload.sfa"), "");
  EXPECT_EQ(Object(array).CountX(), 1);
  EXPECT_EQ(Object(array).ElementAt(0, 0).lVal, 1);

  // A stream holding more than its declared size, or ending early, fails to unpack.
  ByteBuffer compressed(file.begin() + kStorageHeaderSize, file.end());
  EXPECT_THROW(InflateBounded(compressed, 1000), Exception);
  compressed.resize(compressed.size() / 2);
  EXPECT_THROW(InflateBounded(compressed, 2000000000), Exception);
}

TEST_F(HostileInput, LoadingAFolderIsAFileError) {
  auto array = CreateSafeArray();
  const std::string folder = FDumps.string();
  OleString name(WideFromUtf8(folder));
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_EQ(array->LoadFromFile(name.Get(), &done), E_FAIL);
  EXPECT_EQ(done, VARIANT_FALSE);
  EXPECT_THROW(ReadWholeFile(FDumps), Exception);
}
