#include "host/wire/host_string.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace {

int32_t ReadHeaderField(const char* text, std::ptrdiff_t offset) {
  int32_t value = 0;
  std::memcpy(&value, text + offset, sizeof(value));
  return value;
}

void WriteHeaderField(char* text, std::ptrdiff_t offset, int32_t value) {
  std::memcpy(text + offset, &value, sizeof(value));
}

}  // namespace

int32_t HostStringLength(const char* text) {
  return text == nullptr ? 0 : ReadHeaderField(text, vestrel::kHostStringLengthOffset);
}

AnsiString HostStringText(const char* text) { return AnsiString(HostStringView(text)); }

std::string_view HostStringView(const char* text) {
  const int32_t length = HostStringLength(text);
  return length <= 0 ? std::string_view() : std::string_view(text, static_cast<size_t>(length));
}

THostString::THostString(std::string_view text) {
  if (text.empty()) return;
  if (text.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()) - 16) throw std::bad_alloc();
  auto* block = static_cast<char*>(std::malloc(vestrel::kHostStringHeaderSize + text.size() + 1));
  if (block == nullptr) throw std::bad_alloc();
  char* first = block + vestrel::kHostStringHeaderSize;
  WriteHeaderField(first, vestrel::kHostStringRefCountOffset, vestrel::kHostStringConstantRefCount);
  WriteHeaderField(first, vestrel::kHostStringLengthOffset, static_cast<int32_t>(text.size()));
  std::memcpy(first, text.data(), text.size());
  first[text.size()] = '\0';
  FText = first;
}

THostString::~THostString() { FreeHostString(FText); }

THostString::THostString(THostString&& other) noexcept : FText(std::exchange(other.FText, nullptr)) {}

THostString& THostString::operator=(THostString&& other) noexcept {
  if (this != &other) {
    FreeHostString(FText);
    FText = std::exchange(other.FText, nullptr);
  }
  return *this;
}

char* THostString::Release() noexcept { return std::exchange(FText, nullptr); }

void FreeHostString(char* text) noexcept {
  if (text != nullptr) std::free(text - vestrel::kHostStringHeaderSize);
}

AnsiString HostClassName(const void* object) {
  if (object == nullptr) return {};
  const void* classRef = *static_cast<const void* const*>(object);
  if (classRef == nullptr) return {};
  const auto* slot = reinterpret_cast<const unsigned char* const*>(
      static_cast<const char*>(classRef) + vestrel::kHostClassNameSlotOffset);
  const unsigned char* shortString = *slot;
  if (shortString == nullptr) return {};
  return AnsiString(reinterpret_cast<const char*>(shortString + 1), shortString[0]);
}
