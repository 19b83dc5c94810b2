#include "host/wire/variant_stream.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "base/errors.h"
#include "host/wire/host_string.h"
#include "host/wire/variant_text.h"
#include "platform/ole_ptr.h"
#include "platform/text_codec.h"

namespace {

constexpr uint32_t kTagTypeMask = 0x0FFF;
constexpr uint32_t kTagArray = 0x2000;
constexpr uint32_t kTagByRef = 0x4000;
constexpr uint32_t kTagByRefVariant = 0x4000;  // a by-reference variant: the referenced item follows

std::atomic<TwoDimensionalArrayFactory> gArrayFactory{nullptr};
std::atomic<SafeArrayExtractor> gArrayExtractor{nullptr};
std::atomic<TwoDimensionalBoundsCheck> gBoundsCheck{nullptr};

bool IsRawElementType(VARTYPE type) {
  return (type >= VT_I2 && type <= VT_DATE) || type == VT_BOOL || type == VT_UI1;
}

// Element types of arrays read from a stream: those whose elements the format can carry
// (raw blocks, or items the reader can store). Any other type is a damaged or foreign
// stream; arrays of such types could not even be released by the variant routines.
bool IsReadableElementType(VARTYPE type) {
  if (IsRawElementType(type)) return true;
  switch (type) {
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_ERROR:
    case VT_VARIANT:
    case VT_DECIMAL:
    case VT_I1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8: return true;
    default: return false;
  }
}

// The format gives VT_I1 and VT_DECIMAL no payload bytes: only their zero survives the
// round trip. Other values of these types are refused rather than written as a different
// value.
bool FitsBareTag(VARTYPE type, const void* valueBytes) {
  if (type == VT_I1) return *static_cast<const signed char*>(valueBytes) == 0;
  if (type == VT_DECIMAL) {
    const DECIMAL& decimal = *static_cast<const DECIMAL*>(valueBytes);
    return decimal.Hi32 == 0 && decimal.Lo64 == 0;
  }
  return true;
}

// Element count of an array with the given bounds, exact up to `limit` and saturated there
// (a dimension of length 0 makes it 0, whatever the others are).
int64_t ElementCount(const std::vector<LONG>& lower, const std::vector<LONG>& upper, int64_t limit) {
  int64_t count = 1;
  for (size_t k = 0; k < lower.size(); ++k) {
    if (upper[k] < lower[k]) return 0;
  }
  for (size_t k = 0; k < lower.size(); ++k) {
    const int64_t length = int64_t{upper[k]} - lower[k] + 1;
    count = count > limit / length ? limit : std::min(limit, count * length);
  }
  return count;
}

// The value bytes of a variant start at its value slot.
void* ValueSlot(VARIANT& value) { return &V_UI1(&value); }
const void* ValueSlot(const VARIANT& value) { return &V_UI1(&value); }

[[noreturn]] void RaiseUnsupportedType(uint32_t type, const WideString& representation) {
  throw EInvalidOperation(AnsiFromUtf8("Неподдерживаемый тип данных.\r\nТип данных=") + std::to_string(type) +
                          AnsiFromUtf8("\r\nПредставление: (") + AnsiFromWide(representation) + ")");
}

[[noreturn]] void RaiseUnsupportedValue(const VARIANT& value) {
  WideString representation;
  if ((V_VT(&value) & VT_TYPEMASK) == VT_DISPATCH) {
    representation = WideFromUtf8("Объект");
  } else if (!VariantToText(value, representation)) {
    representation = WideFromUtf8("Неопределено");
  }
  RaiseUnsupportedType(V_VT(&value), representation);
}

[[noreturn]] void RaiseUnsupportedTag(uint32_t tag) {
  RaiseUnsupportedType(tag, WideFromUtf8((tag & kTagTypeMask) == VT_DISPATCH ? "Объект" : "Неопределено"));
}

// --- writing ---------------------------------------------------------------------------

void WriteInt32(TMyMemoryStream& stream, int32_t value) { stream.Write(&value, sizeof(value)); }

void WriteTag(TMyMemoryStream& stream, uint32_t tag) { stream.Write(&tag, sizeof(tag)); }

// Calls visit(indices) for every element of an array with the given bounds (dimension
// order, as SafeArrayGetElement takes its indices) in row-major order: the last index runs
// fastest, starting at the lower bounds.
template <class Visit>
void ForEachIndexRowMajor(const std::vector<LONG>& lower, const std::vector<LONG>& upper, Visit visit) {
  const size_t dimensions = lower.size();
  for (size_t k = 0; k < dimensions; ++k) {
    if (upper[k] < lower[k]) return;  // an empty dimension: no elements
  }
  std::vector<LONG> indices = lower;
  for (;;) {
    visit(indices.data());
    size_t k = dimensions;
    while (k > 0) {
      --k;
      if (indices[k] < upper[k]) {
        ++indices[k];
        break;
      }
      indices[k] = lower[k];
      if (k == 0) return;
    }
  }
}

void WriteItem(TMyMemoryStream& stream, const VARIANT& value, int depth);

void WriteArray(TMyMemoryStream& stream, uint32_t tag, SAFEARRAY* array, const VARIANT& owner, int depth) {
  const VARTYPE elementType = static_cast<VARTYPE>(tag & kTagTypeMask);
  const UINT dimensions = array == nullptr ? 0 : SafeArrayGetDim(array);
  if (dimensions == 0) RaiseUnsupportedValue(owner);

  std::vector<LONG> lower(dimensions), upper(dimensions);
  for (UINT k = 0; k < dimensions; ++k) {
    SafeArrayGetLBound(array, k + 1, &lower[k]);
    SafeArrayGetUBound(array, k + 1, &upper[k]);
  }
  // Saturated far above any block the stream can hold: such arrays are refused below.
  const int64_t elementCount = ElementCount(lower, upper, int64_t{1} << 40);

  const bool raw = IsRawElementType(elementType);
  if (raw && array->cbElements != static_cast<ULONG>(SimpleValueSize(elementType))) RaiseUnsupportedValue(owner);
  const int64_t byteCount = elementCount * SimpleValueSize(elementType);
  if (raw && byteCount > std::numeric_limits<int32_t>::max()) RaiseUnsupportedValue(owner);

  WriteTag(stream, tag);
  WriteInt32(stream, static_cast<int32_t>(dimensions));
  for (LONG bound : lower) WriteInt32(stream, bound);
  for (LONG bound : upper) WriteInt32(stream, bound);

  if (raw) {
    // The raw block is the array's memory as it lies, the first index running fastest
    // (the order of the safe array's own storage). A reader puts it back into an array of
    // the same bounds in one piece, so every element returns to its indices; only
    // element-wise items follow the row-major order of the format.
    WriteInt32(stream, static_cast<int32_t>(byteCount));
    if (byteCount > 0) {
      SafeArrayDataLock access(array);
      stream.Write(access.Data(), static_cast<int32_t>(byteCount));
    }
    return;
  }

  ForEachIndexRowMajor(lower, upper, [&](LONG* indices) {
    OleVariant element;
    HRESULT result;
    if (elementType == VT_VARIANT) {
      result = SafeArrayGetElement(array, indices, &element);
    } else if (elementType == VT_DECIMAL) {
      DECIMAL decimal{};
      result = SafeArrayGetElement(array, indices, &decimal);
      V_DECIMAL(&element) = decimal;
      V_VT(&element) = VT_DECIMAL;
    } else if (array->cbElements <= sizeof(LONGLONG)) {
      // Elements of other types travel as variants of the element type.
      result = SafeArrayGetElement(array, indices, ValueSlot(element));
      if (SUCCEEDED(result)) V_VT(&element) = elementType;
    } else {
      RaiseUnsupportedValue(owner);
    }
    if (FAILED(result)) RaiseUnsupportedValue(owner);
    WriteItem(stream, element, depth + 1);
  });
}

void WriteItem(TMyMemoryStream& stream, const VARIANT& value, int depth) {
  if (depth > kMaxVariantNesting) RaiseUnsupportedValue(value);
  const VARTYPE variantType = V_VT(&value);
  const bool byRef = (variantType & VT_BYREF) != 0;

  if (variantType == (VT_BYREF | VT_VARIANT)) {
    if (V_VARIANTREF(&value) == nullptr) RaiseUnsupportedValue(value);
    WriteTag(stream, kTagByRefVariant);
    WriteItem(stream, *V_VARIANTREF(&value), depth + 1);
    return;
  }
  if (byRef && V_BYREF(&value) == nullptr) RaiseUnsupportedValue(value);
  if ((variantType & VT_ARRAY) != 0) {
    WriteArray(stream, variantType, byRef ? *V_ARRAYREF(&value) : V_ARRAY(&value), value, depth);
    return;
  }

  const VARTYPE type = variantType & ~VT_BYREF;
  switch (type) {
    case VT_EMPTY:
    case VT_NULL:
      // Without payload a by-reference flag would make the tag 0x4000 for an empty
      // value, which reads as a by-reference variant; these go by value.
      WriteTag(stream, type);
      return;
    case VT_BSTR: {
      const BSTR text = byRef ? *V_BSTRREF(&value) : V_BSTR(&value);
      const size_t units = text == nullptr ? 0 : WideLength(text);
      if (units > static_cast<size_t>(std::numeric_limits<int32_t>::max() / 2)) RaiseUnsupportedValue(value);
      WriteTag(stream, variantType);
      WriteInt32(stream, static_cast<int32_t>(units));
      stream.Write(text, static_cast<int32_t>(units * sizeof(OLECHAR)));
      return;
    }
    case kVarTypeHostString: {
      const char* text = byRef ? *static_cast<char* const*>(V_BYREF(&value)) : static_cast<const char*>(V_BYREF(&value));
      const int32_t length = std::max(HostStringLength(text), 0);
      WriteTag(stream, variantType);
      WriteInt32(stream, length);
      stream.Write(text, length);
      return;
    }
    case VT_DISPATCH: {
      IDispatch* object = byRef ? *V_DISPATCHREF(&value) : V_DISPATCH(&value);
      const SafeArrayExtractor extractor = gArrayExtractor.load();
      SAFEARRAY* array = nullptr;
      VARTYPE elementType = VT_EMPTY;
      if (object == nullptr || extractor == nullptr || !extractor(object, array, elementType) || array == nullptr) {
        RaiseUnsupportedValue(value);
      }
      WriteArray(stream, kTagArray | elementType, array, value, depth);
      return;
    }
    default: {
      const int32_t size = SimpleValueSize(type);
      const void* bytes = byRef ? V_BYREF(&value) : ValueSlot(value);
      if (size < 0 || !FitsBareTag(type, type == VT_DECIMAL && !byRef ? &V_DECIMAL(&value) : bytes))
        RaiseUnsupportedValue(value);
      WriteTag(stream, variantType);
      stream.Write(bytes, size);
      return;
    }
  }
}

// --- reading ---------------------------------------------------------------------------

int32_t ReadInt32(TMyMemoryStream& stream) {
  int32_t value = 0;
  stream.Read(&value, sizeof(value));
  return value;
}

// Fails with the stream's read error unless `count` bytes (0 or more) remain.
void RequireBytes(TMyMemoryStream& stream, int64_t count) {
  if (count < 0 || count > stream.Remaining()) stream.RaiseReadError(count);
}

BSTR AllocateText(const OLECHAR* text, size_t units) {
  BSTR result = SysAllocStringLen(text, static_cast<UINT>(units));
  if (result == nullptr) throw std::bad_alloc();
  return result;
}

void ReadItem(TMyMemoryStream& stream, VARIANT& value, int depth);

// Items nested deeper than the limit: the stream is damaged (or built to exhaust the stack),
// kept for inspection as a short stream is, and refused with a text that says why.
[[noreturn]] void RaiseNestingError(const TMyMemoryStream& stream) {
  stream.DumpTo(StreamDumpFolder() / ("Buffer" + std::to_string(stream.Position()) + ".txt"));
  throw Exception(AnsiFromUtf8("Ошибка чтения потока. ") +
                  FormatText(AnsiFromUtf8("Pos=%d Size=%d Вложенность элементов больше %d"),
                             {int64_t{stream.Position()}, int64_t{stream.Size()}, int64_t{kMaxVariantNesting}}));
}

// Stores an item read from the stream as element `indices` of a typed array, converting
// it to the element type as an assignment would.
void StoreElement(TMyMemoryStream& stream, SAFEARRAY* array, VARTYPE elementType, LONG* indices, VARIANT& item) {
  if (elementType == VT_VARIANT) {
    const HRESULT result = SafeArrayPutElement(array, indices, &item);
    if (FAILED(result)) {
      stream.DumpTo(StreamDumpFolder() /
                    (std::to_string(stream.Position()) + "_" + std::to_string(stream.Size()) + ".txt"));
      RaiseUnsupportedValue(item);
    }
    return;
  }
  OleVariant converted;
  if (FAILED(VariantChangeType(&converted, const_cast<VARIANT*>(&item), 0, elementType))) {
    throw EConvertError("Could not convert variant of type (" + std::to_string(V_VT(&item)) + ") into type (" +
                        std::to_string(elementType) + ")");
  }
  void* slot = elementType == VT_BSTR       ? static_cast<void*>(V_BSTR(&converted))
               : elementType == VT_DECIMAL  ? static_cast<void*>(&V_DECIMAL(&converted))
               : elementType == VT_DISPATCH ? static_cast<void*>(V_DISPATCH(&converted))
               : elementType == VT_UNKNOWN  ? static_cast<void*>(V_UNKNOWN(&converted))
                                            : ValueSlot(converted);
  if (FAILED(SafeArrayPutElement(array, indices, slot))) RaiseUnsupportedValue(item);
}

void ReadArray(TMyMemoryStream& stream, uint32_t tag, VARIANT& value, int depth) {
  const VARTYPE elementType = static_cast<VARTYPE>(tag & kTagTypeMask);
  if (!IsReadableElementType(elementType)) RaiseUnsupportedTag(tag);

  // Everything is checked against the bytes the stream still holds before the array is
  // created, so a damaged count cannot make the reader allocate more than the stream could
  // ever fill.
  const int32_t dimensions = ReadInt32(stream);
  if (dimensions < 1 || dimensions > 0xFFFF) stream.RaiseReadError(int64_t{dimensions} * 8);
  RequireBytes(stream, int64_t{dimensions} * 8);
  std::vector<LONG> lower(static_cast<size_t>(dimensions)), upper(static_cast<size_t>(dimensions));
  for (LONG& bound : lower) bound = ReadInt32(stream);
  for (LONG& bound : upper) bound = ReadInt32(stream);

  // A table for the array object is checked before anything is created or read for it.
  const TwoDimensionalBoundsCheck boundsCheck = gBoundsCheck.load();
  if (dimensions == 2 && boundsCheck != nullptr && gArrayFactory.load() != nullptr)
    boundsCheck(lower.data(), upper.data());

  std::vector<SAFEARRAYBOUND> bounds(static_cast<size_t>(dimensions));
  int64_t elementCount = 1;
  for (size_t k = 0; k < bounds.size(); ++k) {
    const int64_t count = int64_t{upper[k]} - lower[k] + 1;
    if (count < 0 || count > std::numeric_limits<int32_t>::max()) stream.RaiseReadError(count);
    bounds[k].lLbound = lower[k];
    bounds[k].cElements = static_cast<ULONG>(count);
    // Saturated just above what the stream could hold: such counts fail below anyway.
    elementCount = std::min(stream.Remaining() + 1, elementCount * count);
  }

  const bool raw = IsRawElementType(elementType);
  int32_t byteCount = 0;
  if (raw) {
    // A stored byte count that differs from the size of the array being filled means the
    // stream is damaged: a shorter block would leave elements undefined, a longer one would
    // overrun the array. Both fail as read errors.
    byteCount = ReadInt32(stream);
    if (int64_t{byteCount} != elementCount * SimpleValueSize(elementType)) stream.RaiseReadError(byteCount);
    RequireBytes(stream, byteCount);
  } else {
    // Each element is at least a 4-byte tag.
    RequireBytes(stream, elementCount * 4);
  }

  SafeArrayPtr array(SafeArrayCreate(elementType, static_cast<UINT>(dimensions), bounds.data()));
  if (!array) RaiseUnsupportedTag(tag);

  if (raw) {
    // The block is the array's memory as it lies (see WriteArray).
    if (byteCount > 0) {
      SafeArrayDataLock access(array.Get());
      stream.Read(access.Data(), byteCount);
    }
  } else {
    ForEachIndexRowMajor(lower, upper, [&](LONG* indices) {
      OleVariant item;
      ReadItem(stream, item, depth + 1);
      StoreElement(stream, array.Get(), elementType, indices, item);
    });
  }

  const TwoDimensionalArrayFactory factory = gArrayFactory.load();
  if (dimensions == 2 && factory != nullptr) {
    factory(array.Detach(), elementType, value);
    return;
  }
  V_VT(&value) = static_cast<VARTYPE>(VT_ARRAY | elementType);
  V_ARRAY(&value) = array.Detach();
}

void ReadItem(TMyMemoryStream& stream, VARIANT& value, int depth) {
  // Every level consumes at least one tag, but the stack must not follow a damaged stream
  // of endless by-reference tags: beyond the nesting limit the stream counts as damaged.
  if (depth > kMaxVariantNesting) RaiseNestingError(stream);
  uint32_t tag = 0;
  stream.Read(&tag, sizeof(tag));
  if (tag == kTagByRefVariant) {
    ReadItem(stream, value, depth + 1);
    return;
  }
  tag &= ~kTagByRef;
  if ((tag & ~(kTagArray | kTagTypeMask)) != 0) RaiseUnsupportedTag(tag);
  if ((tag & kTagArray) != 0) {
    ReadArray(stream, tag, value, depth);
    return;
  }

  const VARTYPE type = static_cast<VARTYPE>(tag);
  switch (type) {
    case VT_EMPTY:
    case VT_NULL:
      V_VT(&value) = type;
      return;
    case VT_BSTR: {
      const int32_t units = ReadInt32(stream);
      RequireBytes(stream, int64_t{units} * 2);
      BSTR text = AllocateText(nullptr, static_cast<size_t>(units));
      V_VT(&value) = VT_BSTR;
      V_BSTR(&value) = text;
      stream.Read(text, units * 2);
      return;
    }
    case kVarTypeHostString: {
      const int32_t length = ReadInt32(stream);
      RequireBytes(stream, length);
      std::string bytes(static_cast<size_t>(length), '\0');
      stream.Read(bytes.data(), length);
      const WideString text = WideFromAnsi(bytes);
      V_BSTR(&value) = AllocateText(text.data(), text.size());
      V_VT(&value) = VT_BSTR;
      return;
    }
    default: {
      const int32_t size = SimpleValueSize(type);
      if (size < 0) RaiseUnsupportedTag(tag);
      VARIANT simple;
      std::memset(&simple, 0, sizeof(simple));
      stream.Read(ValueSlot(simple), size);
      V_VT(&simple) = type;
      value = simple;
      return;
    }
  }
}

}  // namespace

int32_t SimpleValueSize(VARTYPE type) {
  switch (type) {
    case VT_UI1: return 1;
    case VT_I2:
    case VT_BOOL:
    case VT_UI2: return 2;
    case VT_I4:
    case VT_R4:
    case VT_ERROR:
    case VT_UI4: return 4;
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_I8: return 8;
    case VT_DECIMAL:
    case VT_I1: return 0;
    default: return -1;
  }
}

void WriteVariant(TMyMemoryStream& stream, const VARIANT& value) { WriteItem(stream, value, 0); }

void ReadVariant(TMyMemoryStream& stream, VARIANT& value) {
  VariantClear(&value);
  VARIANT result;
  VariantInit(&result);
  try {
    ReadItem(stream, result, 0);
  } catch (...) {
    VariantClear(&result);
    throw;
  }
  value = result;
}

void SetTwoDimensionalArrayFactory(TwoDimensionalArrayFactory factory) noexcept { gArrayFactory.store(factory); }

void SetSafeArrayExtractor(SafeArrayExtractor extractor) noexcept { gArrayExtractor.store(extractor); }

void SetTwoDimensionalBoundsCheck(TwoDimensionalBoundsCheck check) noexcept { gBoundsCheck.store(check); }
