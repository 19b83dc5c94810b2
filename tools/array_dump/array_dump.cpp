// array_dump: shows what a table storage file holds.
//
//   array_dump FILE
//
// Prints the header fields (with the checksum and sizes checked against the file), then
// the table: its size and element type, and one line per row with each element's type and
// value. A file that fails a check of the loader is reported with the loader's message and
// exit code 1; the header is still shown when the file is long enough to hold one.

#include <cmath>
#include <cstdio>
#include <exception>
#include <string>

#include "automation/array_storage.h"
#include "automation/safe_array.h"
#include "base/errors.h"
#include "host/wire/variant_text.h"

namespace {

std::string TypeName(VARTYPE type) {
  std::string name;
  switch (type & VT_TYPEMASK) {
    case VT_EMPTY: name = "Empty"; break;
    case VT_NULL: name = "Null"; break;
    case VT_I2: name = "I2"; break;
    case VT_I4: name = "I4"; break;
    case VT_R4: name = "R4"; break;
    case VT_R8: name = "R8"; break;
    case VT_CY: name = "Currency"; break;
    case VT_DATE: name = "Date"; break;
    case VT_BSTR: name = "String"; break;
    case VT_DISPATCH: name = "Object"; break;
    case VT_ERROR: name = "Error"; break;
    case VT_BOOL: name = "Boolean"; break;
    case VT_VARIANT: name = "Variant"; break;
    case VT_UNKNOWN: name = "Unknown"; break;
    case VT_I1: name = "I1"; break;
    case VT_UI1: name = "Byte"; break;
    case VT_UI2: name = "UI2"; break;
    case VT_UI4: name = "UI4"; break;
    case VT_I8: name = "I8"; break;
    case VT_UI8: name = "UI8"; break;
    default: name = "Type" + std::to_string(type & VT_TYPEMASK); break;
  }
  if (type & VT_ARRAY) name = "Array of " + name;
  return name;
}

// "dd.MM.yyyy hh:mm:ss" of an OLE date, for the header's saved-at field.
std::string DateTimeText(double oleDate) {
  if (!std::isfinite(oleDate) || oleDate < -657434 || oleDate > 2958466) return "(not a date)";
  VARIANT date;
  VariantInit(&date);
  date.vt = VT_DATE;
  date.date = oleDate;
  WideString text;
  return VariantToText(date, text) ? Utf8FromWide(text) : "(not a date)";
}

std::string ValueText(const VARIANT& value);

std::string ArrayText(ISafeArray* array) {
  LONG rows = 0, columns = 0;
  array->GetBounds(&rows, &columns);
  std::string text = "{";
  text += std::to_string(rows);
  text += " x ";
  text += std::to_string(columns);
  text += ":";
  for (LONG x = 0; x < rows; ++x) {
    text += " [";
    for (LONG y = 0; y < columns; ++y) {
      OleVariant element;
      array->GetValue(x, y, element.Put());
      if (y) text += "; ";
      text += ValueText(element);
    }
    text += "]";
  }
  return text + " }";
}

// "Type value" for one element; texts are quoted.
std::string ValueText(const VARIANT& value) {
  const std::string type = TypeName(value.vt);
  if (value.vt == VT_EMPTY || value.vt == VT_NULL) return type;
  if (value.vt == VT_DISPATCH && IsSafeArray(value)) {
    ComPtr<ISafeArray> nested;
    value.pdispVal->QueryInterface(IID_ISafeArray, nested.PutVoid());
    return "Table " + ArrayText(nested.Get());
  }
  WideString text;
  if (!VariantToText(value, text)) return type + " ?";
  if (value.vt == VT_BSTR) return type + " \"" + Utf8FromWide(text) + "\"";
  return type + " " + Utf8FromWide(text);
}

void PrintHeader(const ByteBuffer& file) {
  const TStorageHeader header = ReadStorageHeader(file);
  const bool signatureOk = std::equal(std::begin(kStorageSignature), std::end(kStorageSignature), file.begin());
  const uint32_t checksum = StorageChecksum(std::span(file).subspan(kStorageHeaderSize));
  std::printf("Signature:    %s\n", signatureOk ? "SaFeArRaY" : "(not a table storage)");
  std::printf("Version:      %u\n", unsigned(header.Version));
  std::printf("Saved at:     %s (%.8f)\n", DateTimeText(header.SavedAt).c_str(), header.SavedAt);
  std::printf("Checksum:     %08X (%s)\n", unsigned(header.Checksum),
              checksum == header.Checksum ? "matches" : "does not match the data");
  std::printf("File size:    %u (actual %zu)\n", unsigned(header.FileSize), file.size());
  std::printf("Payload size: %u (compressed %zu)\n", unsigned(header.PayloadSize), file.size() - kStorageHeaderSize);
}

void PrintTable(ISafeArray* array) {
  LONG rows = 0, columns = 0, elementType = 0;
  array->GetBounds(&rows, &columns);
  array->GetVarType(&elementType);
  std::printf("Table:        %ld rows x %ld columns of %s\n", long(rows), long(columns),
              TypeName(VARTYPE(elementType)).c_str());
  for (LONG x = 0; x < rows; ++x) {
    std::string line = "Row " + std::to_string(x) + ":";
    for (LONG y = 0; y < columns; ++y) {
      OleVariant element;
      if (FAILED(array->GetValue(x, y, element.Put()))) {
        line += " | ?";
        continue;
      }
      line += y ? " | " : " ";
      line += ValueText(element);
    }
    std::printf("%s\n", line.c_str());
  }
}

int Dump(const std::filesystem::path& path) {
  const ByteBuffer file = ReadWholeFile(path);
  if (file.size() >= kStorageHeaderSize) PrintHeader(file);
  const ByteBuffer payload = UnpackStorage(file);
  const OleVariant item = DecodeArrayPayload(payload);
  if (!IsSafeArray(item)) throw Exception(StorageMessageUnpackFailed());
  ComPtr<ISafeArray> array;
  item.pdispVal->QueryInterface(IID_ISafeArray, array.PutVoid());
  PrintTable(array.Get());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Tables nested in a stored table come back as array objects, as inside the plug-in.
  InstallSafeArrayStreamHooks();
  if (argc != 2) {
    std::fprintf(stderr, "Usage: array_dump FILE\nPrints a table storage file's header and contents.\n");
    return 2;
  }
  try {
    return Dump(std::filesystem::path(argv[1]));
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "array_dump: %s\n", Utf8FromAnsi(ExceptionMessage(error)).c_str());
  } catch (...) {
    std::fprintf(stderr, "array_dump: unexpected failure\n");
  }
  return 1;
}
