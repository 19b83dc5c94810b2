#include "base/collection_bases.h"

#include "base/guarded_entry.h"

TCollectionItemInterface::TCollectionItemInterface(TCollection* Collection) : TCollectionItem(Collection) {}

HRESULT STDMETHODCALLTYPE TCollectionItemInterface::QueryInterface(REFIID riid, void** ppvObject) {
  return GuardedComCall([&]() -> HRESULT {
    if (ppvObject == nullptr)
      return E_POINTER;
    void* found = IsEqualIID(riid, IID_IUnknown) ? static_cast<IUnknown*>(this) : GetInterface(riid);
    *ppvObject = found;
    if (found == nullptr)
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  });
}

ULONG STDMETHODCALLTYPE TCollectionItemInterface::AddRef() {
  return GuardedComCount([&] { return static_cast<ULONG>(FRefCount.fetch_add(1) + 1); });
}

ULONG STDMETHODCALLTYPE TCollectionItemInterface::Release() {
  return GuardedComCount([&] {
    const int32_t remaining = FRefCount.fetch_sub(1) - 1;
    if (remaining == 0)
      delete this;
    return static_cast<ULONG>(remaining);
  });
}

void TCollectionItemInterface::ReleaseItem() {
  if (FReleased.exchange(true))
    return;
  SetCollection(nullptr);
  Release();
}

void* TCollectionItemInterface::GetInterface(REFIID) { return nullptr; }

HRESULT TCollectionItemInterface::SafeCallException(const std::exception& error) {
  ComPtr<ICreateErrorInfo> creator;
  if (SUCCEEDED(CreateErrorInfo(creator.Put()))) {
    const WideString description = WideFromAnsi(ExceptionMessage(error));
    const WideString source = WideFromAnsi(ExceptionClassName(error));
    creator->SetGUID(GUID_NULL);
    creator->SetSource(const_cast<LPOLESTR>(source.c_str()));
    creator->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    creator->SetHelpFile(nullptr);
    creator->SetHelpContext(0);
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(creator.QueryInterface(IID_IErrorInfo, info)))
      SetErrorInfo(0, info.Get());
  }
  return E_UNEXPECTED;
}

HRESULT TCollectionItemInterface::SafeCallException() {
  try {
    throw;
  } catch (const std::exception& error) {
    return SafeCallException(error);
  } catch (...) {
    return SafeCallException(Exception("Unknown exception"));
  }
}

HRESULT InterfaceFailure() noexcept {
  // The interface-item base knows how to set the error information; borrow it.
  struct TErrorReporter : TCollectionItemInterface {
    static HRESULT Report() { return SafeCallException(); }
  };
  try {
    return TErrorReporter::Report();
  } catch (...) {
    return E_UNEXPECTED;
  }
}

TRootCollection::~TRootCollection() {
  FLink = nullptr;
  // The items go in the inherited destruction, after the link.
}
