// VARIANT lifetime: VariantInit, VariantClear, VariantCopy, VariantCopyInd, as oleaut32 has
// them (conversions are in ole_automation_convert.cpp).
#include <cstring>

#include "platform/ole_automation.h"
#include "platform/posix/ole_automation_internal.h"

namespace ole_internal {

// The types a variant may carry (arrays and references included); VT_CLSID only as a source
// of VariantCopy's checks, never by value here.
HRESULT ValidateVariantType(VARTYPE vt) {
  VARTYPE extra = vt & static_cast<VARTYPE>(VT_VECTOR | VT_ARRAY | VT_BYREF | VT_RESERVED);
  VARTYPE base = vt & VT_TYPEMASK;
  if (extra & (VT_VECTOR | VT_RESERVED)) return DISP_E_BADVARTYPE;
  if (base < VT_VOID || base == VT_RECORD || base == VT_CLSID) {
    if ((extra & (VT_BYREF | VT_ARRAY)) && base <= VT_NULL) return DISP_E_BADVARTYPE;
    if (base != 15) return S_OK;
  }
  return DISP_E_BADVARTYPE;
}

}  // namespace ole_internal

using ole_internal::ValidateVariantType;

namespace {

// Bytes of the value a by-reference variant points at, for the plain types.
size_t ReferencedSize(VARTYPE base) {
  switch (base) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_INT:
    case VT_UINT:
    case VT_I4:
    case VT_UI4:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_DATE:
    case VT_CY:
      return 8;
    case VT_DISPATCH:
    case VT_UNKNOWN:
    case VT_BSTR:
      return sizeof(void*);
    default:
      return 0;
  }
}

}  // namespace

// Since Windows 8.1 the whole structure is zeroed, not just the type.
void VariantInit(VARIANTARG* pvarg) { std::memset(pvarg, 0, sizeof(VARIANT)); }

// Frees what the variant owns (nothing for a reference) and leaves it VT_EMPTY. An invalid
// type is refused and left as it is.
HRESULT VariantClear(VARIANTARG* pvarg) {
  HRESULT hr = ValidateVariantType(pvarg->vt);
  if (FAILED(hr)) return hr;
  if (!(pvarg->vt & VT_BYREF)) {
    if ((pvarg->vt & VT_ARRAY) || pvarg->vt == VT_SAFEARRAY) {
      hr = SafeArrayDestroy(pvarg->parray);
    } else if (pvarg->vt == VT_BSTR) {
      SysFreeString(pvarg->bstrVal);
    } else if (pvarg->vt == VT_DISPATCH || pvarg->vt == VT_UNKNOWN) {
      if (pvarg->punkVal) pvarg->punkVal->Release();
    }
  }
  pvarg->vt = VT_EMPTY;
  return hr;
}

// Deep copy: strings and arrays are duplicated, interfaces gain a reference; a reference
// variant copies only the pointer. The destination is cleared first.
HRESULT VariantCopy(VARIANTARG* pvargDest, VARIANTARG* pvargSrc) {
  if ((pvargSrc->vt & VT_TYPEMASK) == VT_CLSID || FAILED(ValidateVariantType(pvargSrc->vt)))
    return DISP_E_BADVARTYPE;
  if (pvargSrc == pvargDest) return S_OK;
  HRESULT hr = VariantClear(pvargDest);
  if (FAILED(hr)) return hr;
  *pvargDest = *pvargSrc;
  if (pvargSrc->vt & VT_BYREF) return S_OK;
  switch (pvargSrc->vt) {
    case VT_BSTR:
      pvargDest->bstrVal = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(pvargSrc->bstrVal),
                                                 SysStringByteLen(pvargSrc->bstrVal));
      if (!pvargDest->bstrVal) hr = E_OUTOFMEMORY;
      break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      if (pvargSrc->punkVal) pvargSrc->punkVal->AddRef();
      break;
    default:
      if (pvargSrc->vt & VT_ARRAY) hr = SafeArrayCopy(pvargSrc->parray, &pvargDest->parray);
      break;
  }
  return hr;
}

// Copies the value a reference variant points at (one level; a reference to a variant is
// followed to that variant). Anything else is copied as VariantCopy does.
HRESULT VariantCopyInd(VARIANT* pvarDest, VARIANTARG* pvargSrc) {
  if (!(pvargSrc->vt & VT_BYREF)) return VariantCopy(pvarDest, pvargSrc);

  VARTYPE base = pvargSrc->vt & VT_TYPEMASK;
  bool acceptable = (pvargSrc->vt & VT_ARRAY) ||
                    (base > VT_NULL && base != 15 && base < VT_VOID && !(pvargSrc->vt & (VT_VECTOR | VT_RESERVED)));
  if (!acceptable) return E_INVALIDARG;

  VARIANT source = *pvargSrc;  // a reference: copying it owns nothing
  HRESULT hr = S_OK;
  if (pvargSrc == pvarDest) {
    pvarDest->vt = VT_EMPTY;
  } else {
    hr = VariantClear(pvarDest);
    if (FAILED(hr)) return hr;
  }

  if (source.vt & VT_ARRAY) {
    hr = SafeArrayCopy(*source.pparray, &pvarDest->parray);
  } else if (base == VT_BSTR) {
    BSTR text = *source.pbstrVal;
    pvarDest->bstrVal = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(text), SysStringByteLen(text));
  } else if (base == VT_DISPATCH || base == VT_UNKNOWN) {
    pvarDest->punkVal = *source.ppunkVal;
    if (pvarDest->punkVal) pvarDest->punkVal->AddRef();
  } else if (base == VT_VARIANT) {
    // The referenced variant keeps its own type.
    if (source.pvarVal->vt == (VT_VARIANT | VT_BYREF)) return E_INVALIDARG;
    return VariantCopyInd(pvarDest, source.pvarVal);
  } else if (base == VT_DECIMAL) {
    // Everything but the first 16 bits, where the variant keeps its type.
    std::memcpy(reinterpret_cast<char*>(&pvarDest->decVal) + sizeof(USHORT),
                reinterpret_cast<const char*>(source.pdecVal) + sizeof(USHORT), sizeof(DECIMAL) - sizeof(USHORT));
  } else {
    std::memcpy(&pvarDest->byref, source.byref, ReferencedSize(base));
  }
  pvarDest->vt = source.vt & static_cast<VARTYPE>(~VT_BYREF);
  return hr;
}
