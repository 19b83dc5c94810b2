#pragma once
// Host 8-bit strings: reference-counted, zero-terminated texts in the host's code page. A
// reference points at the first character; the 32-bit length and reference count sit in
// front of it (offsets in vestrel/plugin_abi.h).

#include <cstdint>
#include <string_view>

#include "platform/text_codec.h"
#include "vestrel/plugin_abi.h"

// The length stored in the header, 0 for a null reference (the empty string).
int32_t HostStringLength(const char* text);
// The text of a host string; a negative stored length counts as empty.
AnsiString HostStringText(const char* text);
// The same text where it stands, without a copy.
std::string_view HostStringView(const char* text);

// A host string the plug-in allocated itself, for blocks it builds. Its reference count is
// the constant marker (-1), so a host that meets it copies the text instead of counting or
// freeing it; the plug-in frees it with this owner.
class THostString {
public:
  THostString() = default;
  explicit THostString(std::string_view text);
  ~THostString();
  THostString(const THostString&) = delete;
  THostString& operator=(const THostString&) = delete;
  THostString(THostString&& other) noexcept;
  THostString& operator=(THostString&& other) noexcept;

  // The reference to hand out (null for the empty string).
  char* Get() const noexcept { return FText; }
  // Gives the reference up; FreeHostString releases it later.
  char* Release() noexcept;

private:
  char* FText = nullptr;
};

// Releases a string made by THostString and given up with Release.
void FreeHostString(char* text) noexcept;

// The variant type with which a host stores its own 8-bit strings in a variant: the value
// slot holds a host string reference. OLE automation does not know this type.
constexpr VARTYPE kVarTypeHostString = 0x100;

// The class name of a host object (a length-prefixed short string reached through the
// class-name slot of its class reference); empty for a null object or class.
AnsiString HostClassName(const void* object);
