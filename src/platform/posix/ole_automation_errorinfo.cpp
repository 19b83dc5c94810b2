// Error information: the error object of CreateErrorInfo and the per-thread slot that
// SetErrorInfo fills and GetErrorInfo empties.
#include <atomic>

#include "platform/ole_automation.h"
#include "platform/ole_ptr.h"

namespace {

class ErrorInfo final : public IErrorInfo, public ICreateErrorInfo, public ISupportErrorInfo {
 public:
  // IUnknown (shared by the three interfaces)
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IErrorInfo)
      *ppv = static_cast<IErrorInfo*>(this);
    else if (riid == IID_ICreateErrorInfo)
      *ppv = static_cast<ICreateErrorInfo*>(this);
    else if (riid == IID_ISupportErrorInfo)
      *ppv = static_cast<ISupportErrorInfo*>(this);
    else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;  // reference-counted COM object
    return left;
  }

  // IErrorInfo
  HRESULT STDMETHODCALLTYPE GetGUID(GUID* pGUID) override {
    if (!pGUID) return E_INVALIDARG;
    *pGUID = guid_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSource(BSTR* out) override { return Hand(source_, out); }
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR* out) override { return Hand(description_, out); }
  HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* out) override { return Hand(helpFile_, out); }
  HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* out) override {
    if (!out) return E_INVALIDARG;
    *out = helpContext_;
    return S_OK;
  }

  // ICreateErrorInfo
  HRESULT STDMETHODCALLTYPE SetGUID(REFGUID rguid) override {
    guid_ = rguid;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR text) override { return Keep(source_, text); }
  HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR text) override { return Keep(description_, text); }
  HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR text) override { return Keep(helpFile_, text); }
  HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD context) override {
    helpContext_ = context;
    return S_OK;
  }

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
    return riid == guid_ ? S_OK : S_FALSE;
  }

 private:
  static HRESULT Hand(const OleString& value, BSTR* out) {
    if (!out) return E_INVALIDARG;
    *out = value.Copy();
    return S_OK;
  }
  static HRESULT Keep(OleString& value, LPOLESTR text) {
    try {
      value = OleString(text);
      return S_OK;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }

  std::atomic<ULONG> references_{1};
  GUID guid_ = GUID_NULL;
  OleString source_, description_, helpFile_;
  DWORD helpContext_ = 0;
};

thread_local ComPtr<IErrorInfo> threadErrorInfo;

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
  if (!pperrinfo) return E_INVALIDARG;
  *pperrinfo = new (std::nothrow) ErrorInfo();
  return *pperrinfo ? S_OK : E_OUTOFMEMORY;
}

HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) {
  if (dwReserved) return E_INVALIDARG;
  threadErrorInfo = perrinfo;
  return S_OK;
}

// Hands the thread's error object to the caller and empties the slot; S_FALSE when empty.
HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) {
  if (!pperrinfo) return E_INVALIDARG;
  *pperrinfo = nullptr;
  if (dwReserved) return E_INVALIDARG;
  *pperrinfo = threadErrorInfo.Detach();
  return *pperrinfo ? S_OK : S_FALSE;
}
