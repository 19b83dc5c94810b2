// BSTR: UTF-16 text preceded by its length in bytes (32-bit, just before the first unit) and
// followed by a zero unit that the length does not count. The block carries 8 bytes in front
// of the text so the text is 8-byte aligned; the length sits in the last 4 of them.
#include <cstdlib>
#include <cstring>

#include "platform/ole_automation.h"

namespace {

constexpr size_t kHeaderBytes = 8;
constexpr UINT kMaxByteLength = 0x7FFFFFF0u;  // keeps header + text + terminator in range

char* BlockOf(BSTR s) { return reinterpret_cast<char*>(s) - kHeaderBytes; }

// A new string of `byteLength` bytes, zero-filled, with the length recorded.
BSTR AllocateBytes(UINT byteLength) {
  if (byteLength > kMaxByteLength) return nullptr;
  // Two zero bytes terminate the text; an odd byte length gets one more so that a full
  // zero unit always follows the last whole unit.
  size_t total = kHeaderBytes + byteLength + 2 + (byteLength & 1);
  char* block = static_cast<char*>(std::calloc(1, total));
  if (!block) return nullptr;
  DWORD length = byteLength;
  std::memcpy(block + kHeaderBytes - sizeof(DWORD), &length, sizeof length);
  return reinterpret_cast<BSTR>(block + kHeaderBytes);
}

size_t UnitCount(const OLECHAR* text) {
  size_t n = 0;
  while (text[n]) ++n;
  return n;
}

}  // namespace

BSTR SysAllocStringByteLen(LPCSTR psz, UINT len) {
  BSTR s = AllocateBytes(len);
  if (s && psz) std::memcpy(s, psz, len);
  return s;
}

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
  if (ui > kMaxByteLength / sizeof(OLECHAR)) return nullptr;
  BSTR s = AllocateBytes(ui * sizeof(OLECHAR));
  if (s && strIn) std::memcpy(s, strIn, ui * sizeof(OLECHAR));
  return s;
}

BSTR SysAllocString(const OLECHAR* psz) {
  if (!psz) return nullptr;
  return SysAllocStringLen(psz, static_cast<UINT>(UnitCount(psz)));
}

void SysFreeString(BSTR bstrString) {
  if (bstrString) std::free(BlockOf(bstrString));
}

UINT SysStringByteLen(BSTR bstr) {
  if (!bstr) return 0;
  DWORD length;
  std::memcpy(&length, reinterpret_cast<char*>(bstr) - sizeof(DWORD), sizeof length);
  return length;
}

UINT SysStringLen(BSTR pbstr) { return SysStringByteLen(pbstr) / sizeof(OLECHAR); }

// The source may lie inside the old string: the new one is filled before the old is freed.
INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len) {
  if (!pbstr) return FALSE;
  BSTR old = *pbstr;
  BSTR fresh = SysAllocStringLen(nullptr, len);
  if (!fresh) return FALSE;
  // Without a source the old text is kept, as far as it reaches.
  const OLECHAR* source = psz ? psz : old;
  UINT available = psz ? len : SysStringLen(old);
  if (source) std::memcpy(fresh, source, (len < available ? len : available) * sizeof(OLECHAR));
  SysFreeString(old);
  *pbstr = fresh;
  return TRUE;
}

INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
  if (!pbstr) return FALSE;
  BSTR fresh = SysAllocString(psz);
  if (psz && !fresh) return FALSE;
  SysFreeString(*pbstr);
  *pbstr = fresh;
  return TRUE;
}
