// GUID texts in registry form ("{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}") and new GUIDs.
#include <cstdio>
#include <cstring>
#include <random>

#include "platform/automation_classes.h"
#include "platform/ole_automation.h"

namespace {

int HexValue(OLECHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads `digits` hexadecimal digits at text[*pos]; false when one is missing.
bool ReadHex(const OLECHAR* text, size_t* pos, int digits, uint32_t* value) {
  uint32_t result = 0;
  for (int i = 0; i < digits; ++i) {
    int v = HexValue(text[*pos]);
    if (v < 0) return false;
    result = (result << 4) | static_cast<uint32_t>(v);
    ++*pos;
  }
  *value = result;
  return true;
}

bool Expect(const OLECHAR* text, size_t* pos, OLECHAR c) {
  if (text[*pos] != c) return false;
  ++*pos;
  return true;
}

// Exactly the 38-character registry form, digits in either case.
bool ParseRegistryForm(const OLECHAR* text, GUID* guid) {
  size_t pos = 0;
  uint32_t d1, d2, d3, byte;
  if (!Expect(text, &pos, u'{') || !ReadHex(text, &pos, 8, &d1) || !Expect(text, &pos, u'-') ||
      !ReadHex(text, &pos, 4, &d2) || !Expect(text, &pos, u'-') || !ReadHex(text, &pos, 4, &d3) ||
      !Expect(text, &pos, u'-'))
    return false;
  for (int i = 0; i < 8; ++i) {
    if (i == 2 && !Expect(text, &pos, u'-')) return false;
    if (!ReadHex(text, &pos, 2, &byte)) return false;
    guid->Data4[i] = static_cast<uint8_t>(byte);
  }
  if (!Expect(text, &pos, u'}') || text[pos] != 0) return false;
  guid->Data1 = d1;
  guid->Data2 = static_cast<uint16_t>(d2);
  guid->Data3 = static_cast<uint16_t>(d3);
  return true;
}

}  // namespace

// As on Windows: a null text gives CLSID_NULL; anything not in registry form is tried as a
// program id; on failure the result is CLSID_NULL and the code CO_E_CLASSSTRING.
HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
  if (!pclsid) return E_INVALIDARG;
  *pclsid = CLSID_NULL;
  if (!lpsz) return S_OK;
  GUID parsed;
  if (lpsz[0] == u'{') {
    if (ParseRegistryForm(lpsz, &parsed)) {
      *pclsid = parsed;
      return S_OK;
    }
    return CO_E_CLASSSTRING;
  }
  return CLSIDFromProgID(lpsz, pclsid);
}

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
  constexpr int kUnits = 39;  // 38 characters and the terminator
  if (!lpsz || cchMax < kUnits) return 0;
  char text[kUnits + 1];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(rguid.Data1), rguid.Data2, rguid.Data3, rguid.Data4[0],
                rguid.Data4[1], rguid.Data4[2], rguid.Data4[3], rguid.Data4[4], rguid.Data4[5],
                rguid.Data4[6], rguid.Data4[7]);
  for (int i = 0; i < kUnits; ++i) lpsz[i] = static_cast<OLECHAR>(text[i]);
  return kUnits;
}

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
  if (!lpszProgID || !lpclsid) return E_INVALIDARG;
  return platform::FindRegisteredProgId(lpszProgID, lpclsid) == S_OK ? S_OK : CO_E_CLASSSTRING;
}

// A random (version 4) GUID, as UuidCreate makes them.
HRESULT CoCreateGuid(GUID* pguid) {
  if (!pguid) return E_INVALIDARG;
  thread_local std::mt19937_64 generator{[] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device(), device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }()};
  uint8_t bytes[16];
  for (int i = 0; i < 16; i += 8) {
    uint64_t r = generator();
    std::memcpy(bytes + i, &r, 8);
  }
  std::memcpy(pguid, bytes, sizeof(GUID));
  pguid->Data3 = static_cast<uint16_t>((pguid->Data3 & 0x0FFF) | 0x4000);
  pguid->Data4[0] = static_cast<uint8_t>((pguid->Data4[0] & 0x3F) | 0x80);
  return S_OK;
}
