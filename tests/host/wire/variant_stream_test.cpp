#include "host/wire/variant_stream.h"

#include <gtest/gtest.h>

#include <cstring>

#include "host/host_test_support.h"
#include "host/wire/host_string.h"
#include "platform/ole_ptr.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Written(const VARIANT& value) {
  TMyMemoryStream stream;
  WriteVariant(stream, value);
  return StreamBytes(stream);
}

OleVariant ReadBack(const Bytes& bytes) {
  TMyMemoryStream stream;
  FillStream(stream, bytes);
  OleVariant value;
  ReadVariant(stream, value);
  EXPECT_EQ(stream.Position(), stream.Size()) << "the reader must consume the whole item";
  return value;
}

OleVariant RoundTrip(const VARIANT& value) { return ReadBack(Written(value)); }

// A safe array with the given bounds per dimension (dimension order) and element type.
SafeArrayPtr MakeArray(VARTYPE type, std::vector<std::pair<LONG, LONG>> lowerUpper) {
  std::vector<SAFEARRAYBOUND> bounds;
  for (auto [lower, upper] : lowerUpper) bounds.push_back({static_cast<ULONG>(upper - lower + 1), lower});
  SafeArrayPtr array(SafeArrayCreate(type, static_cast<UINT>(bounds.size()), bounds.data()));
  EXPECT_TRUE(array);
  return array;
}

void PutVariant(SAFEARRAY* array, std::vector<LONG> indices, const VARIANT& value) {
  ASSERT_EQ(SafeArrayPutElement(array, indices.data(), const_cast<VARIANT*>(&value)), S_OK);
}

OleVariant GetVariant(SAFEARRAY* array, std::vector<LONG> indices) {
  OleVariant value;
  EXPECT_EQ(SafeArrayGetElement(array, indices.data(), &value), S_OK);
  return value;
}

LONG Bound(SAFEARRAY* array, UINT dimension, bool upper) {
  LONG bound = 0;
  if (upper) {
    SafeArrayGetUBound(array, dimension, &bound);
  } else {
    SafeArrayGetLBound(array, dimension, &bound);
  }
  return bound;
}

int32_t Int32At(const Bytes& bytes, size_t offset) {
  int32_t value = 0;
  std::memcpy(&value, bytes.data() + offset, 4);
  return value;
}

// Reads `bytes` and expects a clean failure; returns the message.
AnsiString ReadFailure(const Bytes& bytes) {
  TMyMemoryStream stream;
  FillStream(stream, bytes);
  OleVariant value;
  AnsiString message;
  try {
    ReadVariant(stream, value);
    ADD_FAILURE() << "read succeeded";
  } catch (const Exception& error) {
    message = error.Message();
  }
  EXPECT_EQ(value.vt, VT_EMPTY);
  return message;
}

bool IsReadError(const AnsiString& message) { return message.rfind(Ansi("Ошибка чтения потока. "), 0) == 0; }

}  // namespace

class VariantStream : public ::testing::Test {
protected:
  TempDumpFolder FDumps;
};

TEST_F(VariantStream, IntegerFiveIsEightBytes) {
  EXPECT_EQ(Written(OleVariant(5)), (Bytes{0x03, 0, 0, 0, 0x05, 0, 0, 0}));
}

TEST_F(VariantStream, OleStringIsCountAndUnits) {
  EXPECT_EQ(Written(OleVariant(WideFromUtf8("Код"))),
            (Bytes{0x08, 0, 0, 0, 0x03, 0, 0, 0, 0x1A, 0x04, 0x3E, 0x04, 0x34, 0x04}));
  // Units are counted up to the first zero unit.
  const OLECHAR withZero[] = {'a', 'b', 0, 'c'};
  OleVariant text(OleVariant::View(withZero, 4));
  EXPECT_EQ(Written(text), (Bytes{0x08, 0, 0, 0, 0x02, 0, 0, 0, 'a', 0, 'b', 0}));
}

TEST_F(VariantStream, ThreeIntegerArrayIsOneRawBlock) {
  SafeArrayPtr array = MakeArray(VT_I4, {{0, 2}});
  for (LONG i = 0; i < 3; ++i) {
    LONG value = 100 + i;
    SafeArrayPutElement(array.Get(), &i, &value);
  }
  OleVariant value = OleVariant::AdoptArray(array.Detach(), VT_I4);
  Bytes expected{0x03, 0x20, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 12, 0, 0, 0};
  for (int i = 0; i < 3; ++i) AppendInt32(expected, 100 + i);
  EXPECT_EQ(Written(value), expected);
}

TEST_F(VariantStream, ByReferenceIntegerKeepsTheFlagAndReadsBackByValue) {
  LONG integer = 77;
  VARIANT reference;
  VariantInit(&reference);
  reference.vt = VT_I4 | VT_BYREF;
  reference.plVal = &integer;
  const Bytes bytes = Written(reference);
  EXPECT_EQ(bytes, (Bytes{0x03, 0x40, 0, 0, 77, 0, 0, 0}));
  OleVariant value = ReadBack(bytes);
  EXPECT_EQ(value.vt, VT_I4);
  EXPECT_EQ(value.lVal, 77);
}

TEST_F(VariantStream, ByReferenceVariantIsTagExactly4000) {
  OleVariant inner(OLESTR("x"));
  VARIANT reference;
  VariantInit(&reference);
  reference.vt = VT_VARIANT | VT_BYREF;
  reference.pvarVal = &inner;
  const Bytes bytes = Written(reference);
  EXPECT_EQ(bytes, (Bytes{0x00, 0x40, 0, 0, 0x08, 0, 0, 0, 1, 0, 0, 0, 'x', 0}));
  OleVariant value = ReadBack(bytes);
  EXPECT_EQ(value.vt, VT_BSTR);
  EXPECT_EQ(WideString(value.bstrVal), WideString(OLESTR("x")));
}

TEST_F(VariantStream, SimpleTypesRoundTripByValueAndByReference) {
  struct Case {
    VARTYPE Type;
    int Size;
    uint64_t Bits;
  };
  const Case cases[] = {
      {VT_I2, 2, 0xFFFE},           {VT_I4, 4, 0x80000001},          {VT_R4, 4, 0x3FC00000},
      {VT_R8, 8, 0x400921FB54442D18}, {VT_CY, 8, 0x0000000000BC614E}, {VT_DATE, 8, 0x40E5F3A000000000},
      {VT_ERROR, 4, 0x80020004},     {VT_BOOL, 2, 0xFFFF},            {VT_UI1, 1, 0xAB},
      {VT_UI2, 2, 0xBEEF},           {VT_UI4, 4, 0xDEADBEEF},         {VT_I8, 8, 0x8000000000000007},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Type);
    VARIANT value;
    std::memset(&value, 0, sizeof(value));
    value.vt = c.Type;
    std::memcpy(&value.bVal, &c.Bits, static_cast<size_t>(c.Size));

    Bytes expected{static_cast<uint8_t>(c.Type), 0, 0, 0};
    for (int i = 0; i < c.Size; ++i) expected.push_back(static_cast<uint8_t>(c.Bits >> (8 * i)));
    EXPECT_EQ(Written(value), expected);
    OleVariant back = RoundTrip(value);
    EXPECT_EQ(back.vt, c.Type);
    EXPECT_EQ(std::memcmp(&back.bVal, &c.Bits, static_cast<size_t>(c.Size)), 0);

    uint64_t storage = c.Bits;
    VARIANT reference;
    VariantInit(&reference);
    reference.vt = c.Type | VT_BYREF;
    reference.byref = &storage;
    Bytes byRef = Written(reference);
    expected[1] = 0x40;
    EXPECT_EQ(byRef, expected);
    back = ReadBack(byRef);
    EXPECT_EQ(back.vt, c.Type);
    EXPECT_EQ(std::memcmp(&back.bVal, &c.Bits, static_cast<size_t>(c.Size)), 0);
  }
}

TEST_F(VariantStream, EmptyNullAndTypesWithoutPayload) {
  EXPECT_EQ(Written(OleVariant()), (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(Written(OleVariant::Null()), (Bytes{1, 0, 0, 0}));
  EXPECT_EQ(RoundTrip(OleVariant::Null()).vt, VT_NULL);
  EXPECT_EQ(RoundTrip(OleVariant()).vt, VT_EMPTY);
  // The format carries no bytes for 16 (I1) and 14 (decimal): a bare tag reads as zero,
  // and only a zero is written that way.
  VARIANT small;
  VariantInit(&small);
  small.vt = VT_I1;
  small.cVal = 0;
  EXPECT_EQ(Written(small), (Bytes{16, 0, 0, 0}));
  OleVariant back = RoundTrip(small);
  EXPECT_EQ(back.vt, VT_I1);
  EXPECT_EQ(back.cVal, 0);
  back = ReadBack({14, 0, 0, 0});
  EXPECT_EQ(back.vt, VT_DECIMAL);
  EXPECT_EQ(back.decVal.Lo64, 0u);
}

TEST_F(VariantStream, ValuesABareTagWouldChangeAreRefused) {
  VARIANT small;
  VariantInit(&small);
  small.vt = VT_I1;
  small.cVal = 5;
  EXPECT_EQ(MessageOf<EInvalidOperation>([&] { Written(small); }),
            Ansi("Неподдерживаемый тип данных.\r\nТип данных=16\r\nПредставление: (5)"));
  VARIANT decimal;
  VariantInit(&decimal);
  decimal.decVal.Lo64 = 5;
  decimal.vt = VT_DECIMAL;
  EXPECT_EQ(MessageOf<EInvalidOperation>([&] { Written(decimal); }),
            Ansi("Неподдерживаемый тип данных.\r\nТип данных=14\r\nПредставление: (Неопределено)"));
  // By reference, and as elements of an array of that type.
  signed char referenced = -3;
  VARIANT reference;
  VariantInit(&reference);
  reference.vt = VT_I1 | VT_BYREF;
  reference.pcVal = reinterpret_cast<CHAR*>(&referenced);
  EXPECT_THROW(Written(reference), EInvalidOperation);
  SafeArrayPtr bytes = MakeArray(VT_I1, {{0, 1}});
  LONG index = 1;
  signed char seven = 7;
  ASSERT_EQ(SafeArrayPutElement(bytes.Get(), &index, &seven), S_OK);
  EXPECT_THROW(Written(OleVariant::AdoptArray(bytes.Detach(), VT_I1)), EInvalidOperation);
}

TEST_F(VariantStream, StringsRoundTripByValueAndByReference) {
  OleVariant text(WideFromUtf8("Сканер штрихкодов"));
  OleVariant back = RoundTrip(text);
  EXPECT_EQ(WideString(back.bstrVal), WideFromUtf8("Сканер штрихкодов"));
  BSTR referenced = SysAllocString(OLESTR("by ref"));
  VARIANT reference;
  VariantInit(&reference);
  reference.vt = VT_BSTR | VT_BYREF;
  reference.pbstrVal = &referenced;
  const Bytes bytes = Written(reference);
  EXPECT_EQ(Int32At(bytes, 0), 0x4008);
  back = ReadBack(bytes);
  EXPECT_EQ(back.vt, VT_BSTR);
  EXPECT_EQ(WideString(back.bstrVal), WideString(OLESTR("by ref")));
  SysFreeString(referenced);
  // A null BSTR is the empty string.
  VARIANT nullText;
  VariantInit(&nullText);
  nullText.vt = VT_BSTR;
  EXPECT_EQ(Written(nullText), (Bytes{8, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(SysStringLen(RoundTrip(nullText).bstrVal), 0u);
}

TEST_F(VariantStream, HostStringsReadBackAsOleStrings) {
  THostString text(Ansi("Код"));
  VARIANT value;
  VariantInit(&value);
  value.vt = kVarTypeHostString;
  value.byref = text.Get();
  const Bytes bytes = Written(value);
  Bytes expected{0x00, 0x01, 0, 0, 3, 0, 0, 0};
  for (char c : Ansi("Код")) expected.push_back(static_cast<uint8_t>(c));
  EXPECT_EQ(bytes, expected);
  OleVariant back = ReadBack(bytes);
  EXPECT_EQ(back.vt, VT_BSTR);
  EXPECT_EQ(WideString(back.bstrVal), WideFromUtf8("Код"));
}

TEST_F(VariantStream, ByReferenceArraysReadBackAsArrays) {
  SafeArrayPtr array = MakeArray(VT_I4, {{0, 0}});
  SAFEARRAY* pointer = array.Get();
  VARIANT reference;
  VariantInit(&reference);
  reference.vt = VT_ARRAY | VT_I4 | VT_BYREF;
  reference.pparray = &pointer;
  const Bytes bytes = Written(reference);
  EXPECT_EQ(Int32At(bytes, 0), 0x6003);
  OleVariant back = ReadBack(bytes);
  EXPECT_EQ(back.vt, VT_ARRAY | VT_I4);
}

TEST_F(VariantStream, ArraysKeepNonZeroLowerBounds) {
  SafeArrayPtr array = MakeArray(VT_R8, {{1, 4}});
  for (LONG i = 1; i <= 4; ++i) {
    double value = i * 1.5;
    SafeArrayPutElement(array.Get(), &i, &value);
  }
  OleVariant back = RoundTrip(OleVariant::AdoptArray(array.Detach(), VT_R8));
  ASSERT_EQ(back.vt, VT_ARRAY | VT_R8);
  EXPECT_EQ(SafeArrayGetDim(back.parray), 1u);
  EXPECT_EQ(Bound(back.parray, 1, false), 1);
  EXPECT_EQ(Bound(back.parray, 1, true), 4);
  for (LONG i = 1; i <= 4; ++i) {
    double value = 0;
    SafeArrayGetElement(back.parray, &i, &value);
    EXPECT_EQ(value, i * 1.5);
  }
}

TEST_F(VariantStream, TwoDimensionalElementsGoRowMajorWithTheLastIndexFastest) {
  // Bounds 1..2 by 0..2: items (1,0) (1,1) (1,2) (2,0) (2,1) (2,2).
  SafeArrayPtr array = MakeArray(VT_VARIANT, {{1, 2}, {0, 2}});
  for (LONG i = 1; i <= 2; ++i) {
    for (LONG j = 0; j <= 2; ++j) PutVariant(array.Get(), {i, j}, OleVariant(10 * i + j));
  }
  const Bytes bytes = Written(OleVariant::AdoptArray(array.Detach(), VT_VARIANT));
  Bytes expected{0x0C, 0x20, 0, 0};
  for (int32_t v : {2, 1, 0, 2, 2}) AppendInt32(expected, v);
  for (int32_t v : {10, 11, 12, 20, 21, 22}) {
    AppendInt32(expected, VT_I4);
    AppendInt32(expected, v);
  }
  EXPECT_EQ(bytes, expected);

  OleVariant back = ReadBack(bytes);
  ASSERT_EQ(back.vt, VT_ARRAY | VT_VARIANT);  // no array object installed: a plain array
  EXPECT_EQ(SafeArrayGetDim(back.parray), 2u);
  EXPECT_EQ(Bound(back.parray, 1, false), 1);
  EXPECT_EQ(Bound(back.parray, 1, true), 2);
  EXPECT_EQ(Bound(back.parray, 2, false), 0);
  EXPECT_EQ(Bound(back.parray, 2, true), 2);
  for (LONG i = 1; i <= 2; ++i) {
    for (LONG j = 0; j <= 2; ++j) EXPECT_EQ(GetVariant(back.parray, {i, j}).lVal, 10 * i + j);
  }
}

TEST_F(VariantStream, RawBlocksAreTheArrayMemoryAsItLies) {
  // A safe array keeps its first index fastest in memory: (0,0) (1,0) (0,1) (1,1) (0,2) (1,2).
  SafeArrayPtr array = MakeArray(VT_I2, {{0, 1}, {0, 2}});
  for (LONG i = 0; i <= 1; ++i) {
    for (LONG j = 0; j <= 2; ++j) {
      LONG indices[2] = {i, j};
      SHORT value = static_cast<SHORT>(10 * i + j);
      SafeArrayPutElement(array.Get(), indices, &value);
    }
  }
  const Bytes bytes = Written(OleVariant::AdoptArray(array.Detach(), VT_I2));
  ASSERT_EQ(bytes.size(), 4 + 4 + 16 + 4 + 12u);
  EXPECT_EQ(Int32At(bytes, 24), 12);
  const Bytes data(bytes.begin() + 28, bytes.end());
  EXPECT_EQ(data, (Bytes{0, 0, 10, 0, 1, 0, 11, 0, 2, 0, 12, 0}));

  OleVariant back = ReadBack(bytes);
  for (LONG i = 0; i <= 1; ++i) {
    for (LONG j = 0; j <= 2; ++j) {
      LONG indices[2] = {i, j};
      SHORT value = -1;
      SafeArrayGetElement(back.parray, indices, &value);
      EXPECT_EQ(value, 10 * i + j);
    }
  }
}

TEST_F(VariantStream, ThreeDimensionalArraysStayPlainArrays) {
  SafeArrayPtr array = MakeArray(VT_BSTR, {{0, 1}, {1, 2}, {-1, 1}});
  std::vector<WideString> order;
  for (LONG i = 0; i <= 1; ++i) {
    for (LONG j = 1; j <= 2; ++j) {
      for (LONG k = -1; k <= 1; ++k) {
        LONG indices[3] = {i, j, k};
        WideString text = WideFromUtf8(std::to_string(i) + std::to_string(j) + std::to_string(k + 1));
        OleString element(text);
        SafeArrayPutElement(array.Get(), indices, element.Get());
        order.push_back(text);
      }
    }
  }
  const Bytes bytes = Written(OleVariant::AdoptArray(array.Detach(), VT_BSTR));
  // Element items follow in row-major order, each an OLE string item.
  size_t offset = 4 + 4 + 24;
  for (const WideString& text : order) {
    ASSERT_EQ(Int32At(bytes, offset), VT_BSTR);
    ASSERT_EQ(Int32At(bytes, offset + 4), 3);
    EXPECT_EQ(WideString(reinterpret_cast<const OLECHAR*>(bytes.data() + offset + 8), 3), text);
    offset += 8 + 6;
  }
  EXPECT_EQ(offset, bytes.size());

  OleVariant back = ReadBack(bytes);
  ASSERT_EQ(back.vt, VT_ARRAY | VT_BSTR);
  EXPECT_EQ(SafeArrayGetDim(back.parray), 3u);
  EXPECT_EQ(Bound(back.parray, 3, false), -1);
  LONG indices[3] = {1, 2, 0};
  BSTR element = nullptr;
  SafeArrayGetElement(back.parray, indices, &element);
  EXPECT_EQ(WideString(element), WideString(OLESTR("121")));
  SysFreeString(element);
}

TEST_F(VariantStream, VariantArraysHoldNestedValuesAndArrays) {
  SafeArrayPtr inner = MakeArray(VT_I4, {{0, 1}});
  LONG index = 1, value = 9;
  SafeArrayPutElement(inner.Get(), &index, &value);
  SafeArrayPtr outer = MakeArray(VT_VARIANT, {{0, 3}});
  PutVariant(outer.Get(), {0}, OleVariant(OLESTR("text")));
  PutVariant(outer.Get(), {1}, OleVariant::Null());
  PutVariant(outer.Get(), {2}, OleVariant(2.5));
  PutVariant(outer.Get(), {3}, OleVariant::AdoptArray(inner.Detach(), VT_I4));
  OleVariant back = RoundTrip(OleVariant::AdoptArray(outer.Detach(), VT_VARIANT));
  ASSERT_EQ(back.vt, VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(WideString(GetVariant(back.parray, {0}).bstrVal), WideString(OLESTR("text")));
  EXPECT_EQ(GetVariant(back.parray, {1}).vt, VT_NULL);
  EXPECT_EQ(GetVariant(back.parray, {2}).dblVal, 2.5);
  OleVariant nested = GetVariant(back.parray, {3});
  ASSERT_EQ(nested.vt, VT_ARRAY | VT_I4);
  SafeArrayGetElement(nested.parray, &index, &value);
  EXPECT_EQ(value, 9);
}

TEST_F(VariantStream, EmptyArraysRoundTrip) {
  SafeArrayPtr array = MakeArray(VT_VARIANT, {{0, -1}});
  OleVariant back = RoundTrip(OleVariant::AdoptArray(array.Detach(), VT_VARIANT));
  ASSERT_EQ(back.vt, VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(Bound(back.parray, 1, true), -1);
  SafeArrayPtr raw = MakeArray(VT_I4, {{5, 4}});
  back = RoundTrip(OleVariant::AdoptArray(raw.Detach(), VT_I4));
  ASSERT_EQ(back.vt, VT_ARRAY | VT_I4);
  EXPECT_EQ(Bound(back.parray, 1, false), 5);
}

// --- the two-dimensional array object seams -----------------------------------------------

namespace {

int gFactoryCalls = 0;

void WrapInMarker(SAFEARRAY* array, VARTYPE elementType, VARIANT& result) {
  ++gFactoryCalls;
  SafeArrayPtr owned(array);
  EXPECT_EQ(SafeArrayGetDim(array), 2u);
  EXPECT_EQ(elementType, VT_VARIANT);
  VariantInit(&result);
  result.vt = VT_I4;
  result.lVal = 2222;
}

class FactoryScope {
public:
  explicit FactoryScope(TwoDimensionalArrayFactory factory) { SetTwoDimensionalArrayFactory(factory); }
  ~FactoryScope() { SetTwoDimensionalArrayFactory(nullptr); }
};

// An object answering only IUnknown/IDispatch, holding an array as the array object does.
class ArrayHolder : public IDispatch {
public:
  SafeArrayPtr Array;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
};

ArrayHolder* gHolder = nullptr;

bool ExtractHolderArray(IUnknown* object, SAFEARRAY*& array, VARTYPE& elementType) {
  if (object != static_cast<IUnknown*>(gHolder)) return false;
  array = gHolder->Array.Get();
  elementType = VT_VARIANT;
  return true;
}

class ExtractorScope {
public:
  ExtractorScope() { SetSafeArrayExtractor(&ExtractHolderArray); }
  ~ExtractorScope() { SetSafeArrayExtractor(nullptr); }
};

}  // namespace

TEST_F(VariantStream, TwoDimensionalArraysGoThroughTheFactory) {
  FactoryScope scope(&WrapInMarker);
  gFactoryCalls = 0;
  SafeArrayPtr two = MakeArray(VT_VARIANT, {{0, 1}, {0, 0}});
  OleVariant back = RoundTrip(OleVariant::AdoptArray(two.Detach(), VT_VARIANT));
  EXPECT_EQ(gFactoryCalls, 1);
  EXPECT_EQ(back.vt, VT_I4);
  EXPECT_EQ(back.lVal, 2222);

  SafeArrayPtr one = MakeArray(VT_VARIANT, {{0, 1}});
  back = RoundTrip(OleVariant::AdoptArray(one.Detach(), VT_VARIANT));
  SafeArrayPtr three = MakeArray(VT_VARIANT, {{0, 1}, {0, 0}, {0, 0}});
  OleVariant back3 = RoundTrip(OleVariant::AdoptArray(three.Detach(), VT_VARIANT));
  EXPECT_EQ(gFactoryCalls, 1);
  EXPECT_EQ(back.vt, VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(back3.vt, VT_ARRAY | VT_VARIANT);
}

TEST_F(VariantStream, ArrayObjectsAreWrittenAsTheirArrays) {
  ArrayHolder holder;
  holder.Array = MakeArray(VT_VARIANT, {{0, 0}, {0, 1}});
  PutVariant(holder.Array.Get(), {0, 1}, OleVariant(5));
  gHolder = &holder;
  OleVariant object(static_cast<IDispatch*>(&holder));

  EXPECT_EQ(MessageOf<EInvalidOperation>([&] { Written(object); }),
            Ansi("Неподдерживаемый тип данных.\r\nТип данных=9\r\nПредставление: (Объект)"));

  ExtractorScope scope;
  const Bytes bytes = Written(object);
  EXPECT_EQ(bytes, Written(OleVariant::AdoptArray(holder.Array.Copy().Detach(), VT_VARIANT)));
  EXPECT_EQ(Int32At(bytes, 0), 0x200C);
  OleVariant other(static_cast<IDispatch*>(nullptr));
  EXPECT_THROW(Written(other), EInvalidOperation);
  gHolder = nullptr;
}

TEST_F(VariantStream, UnsupportedValuesNameTypeAndRepresentation) {
  ArrayHolder holder;
  OleVariant unknown(static_cast<IUnknown*>(&holder));
  EXPECT_EQ(MessageOf<EInvalidOperation>([&] { Written(unknown); }),
            Ansi("Неподдерживаемый тип данных.\r\nТип данных=13\r\nПредставление: (Неопределено)"));
  VARIANT big;
  VariantInit(&big);
  big.vt = VT_UI8;
  big.ullVal = 12345678901ULL;
  EXPECT_EQ(MessageOf<EInvalidOperation>([&] { Written(big); }),
            Ansi("Неподдерживаемый тип данных.\r\nТип данных=21\r\nПредставление: (12345678901)"));
  IDispatch* pointer = &holder;
  VARIANT objectRef;
  VariantInit(&objectRef);
  objectRef.vt = VT_DISPATCH | VT_BYREF;
  objectRef.ppdispVal = &pointer;
  EXPECT_EQ(MessageOf<EInvalidOperation>([&] { Written(objectRef); }),
            Ansi("Неподдерживаемый тип данных.\r\nТип данных=16393\r\nПредставление: (Объект)"));
}

TEST_F(VariantStream, ReadingObjectTagsFails) {
  EXPECT_EQ(ReadFailure({9, 0, 0, 0}),
            Ansi("Неподдерживаемый тип данных.\r\nТип данных=9\r\nПредставление: (Объект)"));
  EXPECT_EQ(ReadFailure({13, 0, 0, 0}),
            Ansi("Неподдерживаемый тип данных.\r\nТип данных=13\r\nПредставление: (Неопределено)"));
  EXPECT_NE(ReadFailure({12, 0, 0, 0}).find(Ansi("Неподдерживаемый тип данных.")), AnsiString::npos);
  EXPECT_NE(ReadFailure({0x15, 0, 0, 0}).find(Ansi("Неподдерживаемый тип данных.")), AnsiString::npos);
  EXPECT_NE(ReadFailure({0, 0, 1, 0}).find(Ansi("Неподдерживаемый тип данных.")), AnsiString::npos);
}

// --- damaged streams -----------------------------------------------------------------------

namespace {

std::vector<Bytes> SampleStreams() {
  std::vector<Bytes> samples;
  samples.push_back(Written(OleVariant(5)));
  samples.push_back(Written(OleVariant(WideFromUtf8("Код"))));
  SafeArrayPtr raw = MakeArray(VT_I4, {{0, 2}});
  samples.push_back(Written(OleVariant::AdoptArray(raw.Detach(), VT_I4)));
  SafeArrayPtr table = MakeArray(VT_VARIANT, {{0, 1}, {0, 1}});
  PutVariant(table.Get(), {0, 0}, OleVariant(OLESTR("a")));
  PutVariant(table.Get(), {0, 1}, OleVariant(1.25));
  PutVariant(table.Get(), {1, 0}, OleVariant::Null());
  SafeArrayPtr inner = MakeArray(VT_BSTR, {{1, 2}});
  PutVariant(table.Get(), {1, 1}, OleVariant::AdoptArray(inner.Detach(), VT_BSTR));
  samples.push_back(Written(OleVariant::AdoptArray(table.Detach(), VT_VARIANT)));
  return samples;
}

}  // namespace

TEST_F(VariantStream, EveryPrefixOfAValidStreamFailsWithTheReadError) {
  for (const Bytes& sample : SampleStreams()) {
    for (size_t length = 0; length < sample.size(); ++length) {
      SCOPED_TRACE(length);
      const AnsiString message = ReadFailure(Bytes(sample.begin(), sample.begin() + static_cast<long>(length)));
      EXPECT_TRUE(IsReadError(message)) << message;
    }
  }
}

TEST_F(VariantStream, FlippedBytesFailCleanlyOrReadSomething) {
  for (const Bytes& sample : SampleStreams()) {
    for (size_t offset = 0; offset < sample.size(); ++offset) {
      for (uint8_t mask : {0x01, 0x80, 0xFF}) {
        Bytes damaged = sample;
        damaged[offset] ^= mask;
        TMyMemoryStream stream;
        FillStream(stream, damaged);
        OleVariant value;
        try {
          ReadVariant(stream, value);
        } catch (const Exception&) {
          EXPECT_EQ(value.vt, VT_EMPTY);
        }
      }
    }
  }
}

TEST_F(VariantStream, HugeCountsFailBeforeAllocating) {
  Bytes hugeString{8, 0, 0, 0};
  AppendInt32(hugeString, 0x7FFFFFFF);
  EXPECT_EQ(ReadFailure(hugeString), Ansi("Ошибка чтения потока. Pos=8 Size=8 Count=2147483647"));
  Bytes negativeString{8, 0, 0, 0};
  AppendInt32(negativeString, -1);
  EXPECT_TRUE(IsReadError(ReadFailure(negativeString)));
  Bytes hugeHostString{0, 1, 0, 0};
  AppendInt32(hugeHostString, 0x7FFFFFF0);
  EXPECT_TRUE(IsReadError(ReadFailure(hugeHostString)));

  // Dimension counts that the stream cannot hold.
  for (int32_t dimensions : {0, -1, 0x7FFFFFFF, 1000, 0x10000}) {
    Bytes array{0x0C, 0x20, 0, 0};
    AppendInt32(array, dimensions);
    AppendInt32(array, 0);
    AppendInt32(array, 0);
    EXPECT_TRUE(IsReadError(ReadFailure(array))) << dimensions;
  }
  // Bounds claiming billions of elements, raw and element-wise.
  for (uint8_t type : {0x03, 0x11, 0x0C, 0x08}) {
    Bytes array{type, 0x20, 0, 0};
    AppendInt32(array, 2);
    AppendInt32(array, 0);
    AppendInt32(array, 0);
    AppendInt32(array, 0x7FFFFFFE);
    AppendInt32(array, 0x7FFFFFFE);
    AppendInt32(array, 0x7FFFFFFF);
    EXPECT_TRUE(IsReadError(ReadFailure(array))) << int(type);
  }
  // Inverted bounds.
  Bytes inverted{0x0C, 0x20, 0, 0};
  AppendInt32(inverted, 1);
  AppendInt32(inverted, 5);
  AppendInt32(inverted, 2);
  EXPECT_TRUE(IsReadError(ReadFailure(inverted)));
  // Full range bounds: upper - lower + 1 does not fit 32 bits.
  Bytes fullRange{0x11, 0x20, 0, 0};
  AppendInt32(fullRange, 1);
  AppendInt32(fullRange, INT32_MIN);
  AppendInt32(fullRange, INT32_MAX);
  AppendInt32(fullRange, 0);
  EXPECT_TRUE(IsReadError(ReadFailure(fullRange)));
}

TEST_F(VariantStream, RawByteCountMustMatchTheArray) {
  SafeArrayPtr raw = MakeArray(VT_I4, {{0, 2}});
  Bytes bytes = Written(OleVariant::AdoptArray(raw.Detach(), VT_I4));
  for (int32_t count : {8, 16, 0, -12}) {
    Bytes damaged = bytes;
    std::memcpy(damaged.data() + 16, &count, 4);
    if (count == 16) damaged.insert(damaged.end(), {0, 0, 0, 0});
    EXPECT_TRUE(IsReadError(ReadFailure(damaged))) << count;
  }
}

TEST_F(VariantStream, DeepNestingIsADamagedStream) {
  Bytes deep;
  for (int i = 0; i < 100000; ++i) AppendInt32(deep, 0x4000);
  AppendInt32(deep, 3);
  AppendInt32(deep, 1);
  // A stream error that says why: not a short stream (no byte count), the nesting.
  const AnsiString message = ReadFailure(deep);
  EXPECT_TRUE(IsReadError(message));
  EXPECT_EQ(message.find("Count="), AnsiString::npos);
  EXPECT_NE(message.find(Ansi("Вложенность элементов больше 200")), AnsiString::npos);

  // Nesting within the limit reads.
  Bytes shallow;
  for (int i = 0; i < 50; ++i) AppendInt32(shallow, 0x4000);
  AppendInt32(shallow, 3);
  AppendInt32(shallow, 1);
  EXPECT_EQ(ReadBack(shallow).lVal, 1);

  // Arrays of variants nested in each other.
  Bytes nested;
  for (int i = 0; i < 1000; ++i) {
    AppendInt32(nested, 0x200C);
    AppendInt32(nested, 1);
    AppendInt32(nested, 0);
    AppendInt32(nested, 0);
  }
  AppendInt32(nested, 0);
  EXPECT_TRUE(IsReadError(ReadFailure(nested)));
}

TEST_F(VariantStream, ReadErrorsLeaveADump) {
  ReadFailure({3, 0, 0, 0, 1});
  EXPECT_TRUE(std::filesystem::exists(FDumps.Path() / "Buffer4.txt"));
}
