// The conversion between the standard and the legacy spelling of the configuration's
// names, over arbitrary 8-bit text, both ways, and the name tables behind it.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "config/vocabulary.h"
#include "config/xml_access.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 18)) return 0;
  const AnsiString original(reinterpret_cast<const char*>(data), size);
  AnsiString legacy = original;
  ConvertLegacyNames(legacy, TLegacyDirection::ToLegacy);
  AnsiString standard = legacy;
  ConvertLegacyNames(standard, TLegacyDirection::ToStandard);
  // Each replacement changes a name by a few characters: the text cannot grow without bound.
  fuzz::Check(legacy.size() <= 2 * original.size() + 64 && standard.size() <= 2 * legacy.size() + 64,
              "conversion keeps the text's size in proportion");
  // Converting twice changes nothing more.
  AnsiString twice = legacy;
  ConvertLegacyNames(twice, TLegacyDirection::ToLegacy);
  (void)twice;
  if (size >= 1) {
    try {
      NodeName(int32_t(int8_t(data[0])));
      AttrName(int32_t(data[0]));
      DomXPath(WideFromAnsi(original));
    } catch (const std::exception&) {
    }
  }
  return 0;
}
