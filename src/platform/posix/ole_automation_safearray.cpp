// SAFEARRAY as oleaut32 keeps it.
//
// Memory: 16 hidden bytes precede the descriptor: the interface id of VT_UNKNOWN/VT_DISPATCH
// arrays (FADF_HAVEIID) fills them, the element type of other arrays (FADF_HAVEVARTYPE) is the
// 32-bit value just before the descriptor. rgsabound[] lists the dimensions in reverse:
// dimension 1 (the first index of rgIndices, the first bound given to SafeArrayCreate) is
// rgsabound[cDims - 1]. Elements are stored with the first index running fastest.
// A vector (SafeArrayCreateVector) has its data in the same block as the descriptor.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/ole_automation.h"

namespace {

constexpr USHORT kCreatedAsVector = 0x2000;  // FADF_CREATEVECTOR: data follows the descriptor
constexpr USHORT kDataDeleted = 0x1000;      // FADF_DATADELETED: a vector's data was destroyed
constexpr USHORT kIgnoredOnCopy = FADF_AUTO | FADF_STATIC | FADF_EMBEDDED | FADF_FIXEDSIZE;
constexpr size_t kHiddenBytes = sizeof(GUID);
constexpr ULONG kMaxLocks = 0xFFFF;
// Data blocks stay below 2 GB, so that cell counts and byte offsets never wrap around.
constexpr uint64_t kMaxDataBytes = 0x7FFFFFFF;

// Element size for the types an array may hold; 0 for any other type.
ULONG ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_BOOL:
    case VT_I2:
    case VT_UI2:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_R4:
    case VT_ERROR:
    case VT_INT:
    case VT_UINT:
      return 4;
    case VT_R8:
    case VT_I8:
    case VT_UI8:
    case VT_CY:
    case VT_DATE:
      return 8;
    case VT_INT_PTR:
    case VT_UINT_PTR:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN:
      return sizeof(void*);
    case VT_VARIANT:
      return sizeof(VARIANT);
    case VT_DECIMAL:
      return sizeof(DECIMAL);
    default:
      return 0;
  }
}

USHORT KindFeature(VARTYPE vt) {
  switch (vt) {
    case VT_BSTR:
      return FADF_BSTR;
    case VT_UNKNOWN:
      return FADF_UNKNOWN;
    case VT_DISPATCH:
      return FADF_DISPATCH;
    case VT_VARIANT:
      return FADF_VARIANT;
    default:
      return 0;
  }
}

DWORD& HiddenVartype(SAFEARRAY* psa) { return reinterpret_cast<DWORD*>(psa)[-1]; }
GUID& HiddenIid(SAFEARRAY* psa) { return reinterpret_cast<GUID*>(psa)[-1]; }

void* ZeroedBlock(size_t bytes) { return std::calloc(1, bytes ? bytes : 1); }

// Allocates the hidden bytes, the descriptor with `cDims` bounds, and `extra` bytes after them.
SAFEARRAY* AllocateDescriptor(UINT cDims, size_t extra) {
  size_t descriptor = sizeof(SAFEARRAY) + sizeof(SAFEARRAYBOUND) * (cDims - 1);
  char* block = static_cast<char*>(ZeroedBlock(kHiddenBytes + descriptor + extra));
  if (!block) return nullptr;
  auto* psa = reinterpret_cast<SAFEARRAY*>(block + kHiddenBytes);
  psa->cDims = static_cast<USHORT>(cDims);
  return psa;
}

void RecordElementType(SAFEARRAY* psa, VARTYPE vt) {
  if (vt == VT_DISPATCH) {
    psa->fFeatures = FADF_HAVEIID;
    HiddenIid(psa) = IID_IDispatch;
  } else if (vt == VT_UNKNOWN) {
    psa->fFeatures = FADF_HAVEIID;
    HiddenIid(psa) = IID_IUnknown;
  } else if (vt == VT_RECORD) {
    psa->fFeatures = FADF_RECORD;
  } else {
    psa->fFeatures = FADF_HAVEVARTYPE;
    HiddenVartype(psa) = vt;
  }
}

// The bytes of `cells` elements of `elementSize`; false when that is beyond kMaxDataBytes.
bool DataBytes(uint64_t cells, ULONG elementSize, size_t* bytes) {
  if (elementSize && cells > kMaxDataBytes / elementSize) return false;
  *bytes = static_cast<size_t>(cells * elementSize);
  return true;
}

// The element count of the array's bounds, or UINT64_MAX when it is beyond any data block.
uint64_t CheckedCellCount(const SAFEARRAY* psa) {
  uint64_t cells = 1;
  for (USHORT d = 0; d < psa->cDims; ++d) {
    cells *= psa->rgsabound[d].cElements;
    if (cells > kMaxDataBytes) return psa->rgsabound[d].cElements ? UINT64_MAX : 0;
  }
  return cells;
}

ULONG CellCount(const SAFEARRAY* psa) {
  ULONG cells = 1;
  for (USHORT d = 0; d < psa->cDims; ++d) {
    if (!psa->rgsabound[d].cElements) return 0;
    cells *= psa->rgsabound[d].cElements;
  }
  return cells;
}

char* Cell(SAFEARRAY* psa, ULONG index) { return static_cast<char*>(psa->pvData) + size_t(index) * psa->cbElements; }

// Frees the BSTRs, interface references and variants of cells [first, end).
void ReleaseCells(SAFEARRAY* psa, ULONG first) {
  if (!psa->pvData || (psa->fFeatures & kDataDeleted)) return;
  ULONG end = CellCount(psa);
  for (ULONG i = first; i < end; ++i) {
    char* cell = Cell(psa, i);
    if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
      auto* unknown = reinterpret_cast<IUnknown**>(cell);
      if (*unknown) (*unknown)->Release();
      *unknown = nullptr;
    } else if (psa->fFeatures & FADF_BSTR) {
      auto* text = reinterpret_cast<BSTR*>(cell);
      SysFreeString(*text);
      *text = nullptr;
    } else if (psa->fFeatures & FADF_VARIANT) {
      VariantClear(reinterpret_cast<VARIANT*>(cell));
    }
  }
}

// Copies the cells of `source` into `target` (same shape and element size), releasing what the
// target held; BSTRs, variants and interface references are copied as values.
HRESULT CopyCells(SAFEARRAY* source, SAFEARRAY* target) {
  if (!source->pvData) return S_OK;
  if (!target->pvData || (source->fFeatures & kDataDeleted)) return E_INVALIDARG;
  ULONG cells = CellCount(source);
  target->fFeatures = static_cast<USHORT>((target->fFeatures & kCreatedAsVector) |
                                          (source->fFeatures & ~(kIgnoredOnCopy | kCreatedAsVector | kDataDeleted)));
  if (source->fFeatures & FADF_VARIANT) {
    for (ULONG i = 0; i < cells; ++i) {
      HRESULT hr = VariantCopy(reinterpret_cast<VARIANT*>(Cell(target, i)), reinterpret_cast<VARIANT*>(Cell(source, i)));
      if (FAILED(hr)) return hr;
    }
  } else if (source->fFeatures & FADF_BSTR) {
    for (ULONG i = 0; i < cells; ++i) {
      BSTR from = *reinterpret_cast<BSTR*>(Cell(source, i));
      BSTR& to = *reinterpret_cast<BSTR*>(Cell(target, i));
      SysFreeString(to);
      to = nullptr;
      if (from) {
        to = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(from), SysStringByteLen(from));
        if (!to) return E_OUTOFMEMORY;
      }
    }
  } else {
    if (source->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
      for (ULONG i = 0; i < cells; ++i) {
        if (IUnknown* from = *reinterpret_cast<IUnknown**>(Cell(source, i))) from->AddRef();
        if (IUnknown* old = *reinterpret_cast<IUnknown**>(Cell(target, i))) old->Release();
      }
    }
    std::memcpy(target->pvData, source->pvData, size_t(cells) * source->cbElements);
  }
  if (source->fFeatures & FADF_HAVEIID)
    HiddenIid(target) = HiddenIid(source);
  else if (source->fFeatures & FADF_HAVEVARTYPE)
    HiddenVartype(target) = HiddenVartype(source);
  return S_OK;
}

}  // namespace

HRESULT SafeArrayAllocDescriptor(UINT cDims, SAFEARRAY** ppsaOut) {
  if (!cDims || cDims >= 0x10000) return E_INVALIDARG;
  if (!ppsaOut) return E_POINTER;
  *ppsaOut = AllocateDescriptor(cDims, 0);
  return *ppsaOut ? S_OK : E_UNEXPECTED;
}

HRESULT SafeArrayAllocDescriptorEx(VARTYPE vt, UINT cDims, SAFEARRAY** ppsaOut) {
  HRESULT hr = SafeArrayAllocDescriptor(cDims, ppsaOut);
  if (SUCCEEDED(hr)) {
    RecordElementType(*ppsaOut, vt);
    (*ppsaOut)->cbElements = ElementSize(vt);
  }
  return hr;
}

HRESULT SafeArrayAllocData(SAFEARRAY* psa) {
  if (!psa) return E_INVALIDARG;
  size_t bytes;
  if (!DataBytes(CheckedCellCount(psa), psa->cbElements, &bytes)) return E_OUTOFMEMORY;
  psa->pvData = ZeroedBlock(bytes);
  return psa->pvData ? S_OK : E_OUTOFMEMORY;
}

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
  if (vt == VT_RECORD || !rgsabound) return nullptr;
  SAFEARRAY* psa = nullptr;
  if (FAILED(SafeArrayAllocDescriptorEx(vt, cDims, &psa))) return nullptr;
  psa->fFeatures |= KindFeature(vt);
  for (UINT i = 0; i < cDims; ++i) psa->rgsabound[i] = rgsabound[cDims - 1 - i];
  if (!psa->cbElements || FAILED(SafeArrayAllocData(psa))) {
    SafeArrayDestroyDescriptor(psa);
    return nullptr;
  }
  return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
  ULONG size = ElementSize(vt);
  size_t bytes;
  if (vt == VT_RECORD || !size || !DataBytes(cElements, size, &bytes)) return nullptr;
  SAFEARRAY* psa = AllocateDescriptor(1, bytes);
  if (!psa) return nullptr;
  RecordElementType(psa, vt);
  psa->fFeatures |= kCreatedAsVector | KindFeature(vt);
  psa->pvData = psa + 1;
  psa->cbElements = size;
  psa->rgsabound[0].cElements = cElements;
  psa->rgsabound[0].lLbound = lLbound;
  return psa;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
  if (!psa) return E_INVALIDARG;
  std::atomic_ref<ULONG> locks(psa->cLocks);
  if (locks.fetch_add(1) >= kMaxLocks) {
    locks.fetch_sub(1);
    return E_UNEXPECTED;
  }
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
  if (!psa) return E_INVALIDARG;
  std::atomic_ref<ULONG> locks(psa->cLocks);
  if (locks.fetch_sub(1) == 0) {
    locks.fetch_add(1);
    return E_UNEXPECTED;
  }
  return S_OK;
}

HRESULT SafeArrayDestroyData(SAFEARRAY* psa) {
  if (!psa) return E_INVALIDARG;
  if (psa->cLocks) return DISP_E_ARRAYISLOCKED;
  ReleaseCells(psa, 0);
  if (psa->pvData) {
    if (psa->fFeatures & FADF_STATIC) {
      std::memset(psa->pvData, 0, size_t(CellCount(psa)) * psa->cbElements);
    } else if (psa->fFeatures & kCreatedAsVector) {
      psa->fFeatures |= kDataDeleted;  // the data lives in the descriptor's block
    } else {
      std::free(psa->pvData);
      psa->pvData = nullptr;
    }
  }
  return S_OK;
}

HRESULT SafeArrayDestroyDescriptor(SAFEARRAY* psa) {
  if (!psa) return S_OK;
  if (psa->cLocks) return DISP_E_ARRAYISLOCKED;
  if ((psa->fFeatures & kCreatedAsVector) && !(psa->fFeatures & kDataDeleted)) ReleaseCells(psa, 0);
  std::free(reinterpret_cast<char*>(psa) - kHiddenBytes);
  return S_OK;
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (!psa) return S_OK;
  if (psa->cLocks) return DISP_E_ARRAYISLOCKED;
  SafeArrayDestroyData(psa);
  SafeArrayDestroyDescriptor(psa);
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) { return psa ? psa->cDims : 0; }

UINT SafeArrayGetElemsize(SAFEARRAY* psa) { return psa ? psa->cbElements : 0; }

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
  if (!psa || !plLbound) return E_INVALIDARG;
  if (!nDim || nDim > psa->cDims) return DISP_E_BADINDEX;
  *plLbound = psa->rgsabound[psa->cDims - nDim].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
  if (!psa || !plUbound) return E_INVALIDARG;
  if (!nDim || nDim > psa->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& bound = psa->rgsabound[psa->cDims - nDim];
  *plUbound = static_cast<LONG>(bound.lLbound + bound.cElements - 1);
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
  if (!psa || !ppvData) return E_INVALIDARG;
  HRESULT hr = SafeArrayLock(psa);
  *ppvData = SUCCEEDED(hr) ? psa->pvData : nullptr;
  return hr;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) { return SafeArrayUnlock(psa); }

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, LONG* rgIndices, void** ppvData) {
  if (!psa || !rgIndices || !ppvData) return E_INVALIDARG;
  size_t cell = 0;
  size_t stride = 1;
  for (USHORT i = 0; i < psa->cDims; ++i) {
    const SAFEARRAYBOUND& bound = psa->rgsabound[psa->cDims - 1 - i];
    int64_t offset = int64_t(rgIndices[i]) - bound.lLbound;
    if (offset < 0 || offset >= int64_t(bound.cElements)) return DISP_E_BADINDEX;
    cell += size_t(offset) * stride;
    stride *= bound.cElements;
  }
  *ppvData = Cell(psa, static_cast<ULONG>(cell));
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (!psa || !rgIndices || !pv) return E_INVALIDARG;
  HRESULT hr = SafeArrayLock(psa);
  if (FAILED(hr)) return hr;
  void* cell = nullptr;
  hr = SafeArrayPtrOfIndex(psa, rgIndices, &cell);
  if (SUCCEEDED(hr)) {
    if (psa->fFeatures & FADF_VARIANT) {
      auto* out = static_cast<VARIANT*>(pv);
      out->vt = VT_EMPTY;  // whatever it held before is not freed
      hr = VariantCopy(out, static_cast<VARIANT*>(cell));
    } else if (psa->fFeatures & FADF_BSTR) {
      BSTR from = *static_cast<BSTR*>(cell);
      BSTR& to = *static_cast<BSTR*>(pv);
      to = nullptr;
      if (from) {
        to = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(from), SysStringByteLen(from));
        if (!to) hr = E_OUTOFMEMORY;
      }
    } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
      IUnknown* from = *static_cast<IUnknown**>(cell);
      if (from) from->AddRef();
      *static_cast<IUnknown**>(pv) = from;
    } else {
      std::memcpy(pv, cell, psa->cbElements);
    }
  }
  SafeArrayUnlock(psa);
  return hr;
}

// `pv` addresses the value, except for BSTR and interface arrays, where it is the BSTR or the
// interface pointer itself.
HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (!psa || !rgIndices) return E_INVALIDARG;
  HRESULT hr = SafeArrayLock(psa);
  if (FAILED(hr)) return hr;
  void* cell = nullptr;
  hr = SafeArrayPtrOfIndex(psa, rgIndices, &cell);
  if (SUCCEEDED(hr)) {
    if (psa->fFeatures & FADF_VARIANT) {
      hr = pv ? VariantCopy(static_cast<VARIANT*>(cell), static_cast<VARIANT*>(pv)) : E_INVALIDARG;
    } else if (psa->fFeatures & FADF_BSTR) {
      auto from = static_cast<BSTR>(pv);
      BSTR& to = *static_cast<BSTR*>(cell);
      SysFreeString(to);
      to = SysAllocStringLen(from, SysStringLen(from));
      if (!to) hr = E_OUTOFMEMORY;
    } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
      auto* from = static_cast<IUnknown*>(pv);
      IUnknown*& to = *static_cast<IUnknown**>(cell);
      if (from) from->AddRef();
      if (to) to->Release();
      to = from;
    } else if (pv) {
      std::memcpy(cell, pv, psa->cbElements);
    } else {
      hr = E_INVALIDARG;
    }
  }
  SafeArrayUnlock(psa);
  return hr;
}

HRESULT SafeArrayCopyData(SAFEARRAY* psaSource, SAFEARRAY* psaTarget) {
  if (!psaSource || !psaTarget || psaSource->cDims != psaTarget->cDims ||
      psaSource->cbElements != psaTarget->cbElements)
    return E_INVALIDARG;
  for (USHORT d = 0; d < psaSource->cDims; ++d)
    if (psaSource->rgsabound[d].cElements != psaTarget->rgsabound[d].cElements) return E_INVALIDARG;
  return CopyCells(psaSource, psaTarget);
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
  if (!ppsaOut) return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (!psa) return S_OK;
  if (!psa->cbElements) return E_INVALIDARG;
  SAFEARRAY* copy = nullptr;
  HRESULT hr;
  if (psa->fFeatures & (FADF_RECORD | FADF_HAVEIID | FADF_HAVEVARTYPE)) {
    VARTYPE vt;
    hr = SafeArrayGetVartype(psa, &vt);
    if (SUCCEEDED(hr)) hr = SafeArrayAllocDescriptorEx(vt, psa->cDims, &copy);
  } else {
    hr = SafeArrayAllocDescriptor(psa->cDims, &copy);
    if (SUCCEEDED(hr)) {
      copy->fFeatures = static_cast<USHORT>(psa->fFeatures & ~(kIgnoredOnCopy | kCreatedAsVector | kDataDeleted));
      copy->cbElements = psa->cbElements;
    }
  }
  if (FAILED(hr)) return hr;
  std::memcpy(copy->rgsabound, psa->rgsabound, sizeof(SAFEARRAYBOUND) * psa->cDims);
  size_t bytes = 0;
  if (DataBytes(CheckedCellCount(psa), psa->cbElements, &bytes)) copy->pvData = ZeroedBlock(bytes);
  if (!copy->pvData) {
    SafeArrayDestroyDescriptor(copy);
    return E_OUTOFMEMORY;
  }
  hr = CopyCells(psa, copy);
  if (FAILED(hr)) {
    SafeArrayDestroy(copy);
    return hr;
  }
  *ppsaOut = copy;
  return S_OK;
}

// Changes the count and lower bound of the last dimension (the slowest-running one, kept in
// rgsabound[0]): cells past the new end are released, new cells are zero.
HRESULT SafeArrayRedim(SAFEARRAY* psa, SAFEARRAYBOUND* psaboundNew) {
  if (!psa || (psa->fFeatures & FADF_FIXEDSIZE) || !psaboundNew) return E_INVALIDARG;
  if (psa->cLocks) return DISP_E_ARRAYISLOCKED;
  SAFEARRAYBOUND& last = psa->rgsabound[0];
  ULONG oldCount = last.cElements;
  ULONG newCount = psaboundNew->cElements;
  // Cells per step of the last dimension.
  size_t slice = 1;
  for (USHORT d = 1; d < psa->cDims; ++d) slice *= psa->rgsabound[d].cElements;
  if (newCount < oldCount) {
    ReleaseCells(psa, static_cast<ULONG>(slice * newCount));
  } else if (newCount > oldCount) {
    size_t oldBytes = slice * oldCount * psa->cbElements;
    size_t newBytes;
    if (!DataBytes(uint64_t(slice) * newCount, psa->cbElements, &newBytes)) return E_OUTOFMEMORY;
    void* data = ZeroedBlock(newBytes);
    if (!data) return E_OUTOFMEMORY;
    if (psa->pvData && oldBytes) std::memcpy(data, psa->pvData, oldBytes);
    if (psa->fFeatures & kCreatedAsVector)
      psa->fFeatures &= static_cast<USHORT>(~(kCreatedAsVector | kDataDeleted));
    else
      std::free(psa->pvData);
    psa->pvData = data;
  }
  last.cElements = newCount;
  last.lLbound = psaboundNew->lLbound;
  return S_OK;
}

HRESULT SafeArraySetIID(SAFEARRAY* psa, REFGUID guid) {
  if (!psa || !(psa->fFeatures & FADF_HAVEIID)) return E_INVALIDARG;
  HiddenIid(psa) = guid;
  return S_OK;
}

HRESULT SafeArrayGetIID(SAFEARRAY* psa, GUID* pguid) {
  if (!psa || !pguid || !(psa->fFeatures & FADF_HAVEIID)) return E_INVALIDARG;
  *pguid = HiddenIid(psa);
  return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
  if (!psa || !pvt) return E_INVALIDARG;
  if (psa->fFeatures & FADF_RECORD)
    *pvt = VT_RECORD;
  else if ((psa->fFeatures & (FADF_HAVEIID | FADF_DISPATCH)) == (FADF_HAVEIID | FADF_DISPATCH))
    *pvt = VT_DISPATCH;
  else if (psa->fFeatures & FADF_HAVEIID)
    *pvt = VT_UNKNOWN;
  else if (psa->fFeatures & FADF_HAVEVARTYPE)
    *pvt = static_cast<VARTYPE>(HiddenVartype(psa));
  else
    return E_INVALIDARG;
  return S_OK;
}
