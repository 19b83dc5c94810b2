#include "base/root_object.h"

#include "base/guarded_entry.h"
#include "platform/system_error.h"

bool IsWinNT() { return platform::IsNtPlatform(); }

TRootObject::TRootObject()
    : FSecurityAttributes(std::make_unique<platform::SecurityAttributes>()),
      FWindow(std::make_unique<platform::RootWindow>(
          [this](uint32_t message, uintptr_t wParam, intptr_t lParam, intptr_t& result) {
            return WindowMessage(message, wParam, lParam, result);
          })) {
  if (IsWinNT()) {
    if (const auto failure = FSecurityAttributes->Prepare())
      throw Exception(failure->Call + "\r\n" + platform::SystemErrorText(failure->Error));
  }
  FHostLink = nullptr;
}

TRootObject::~TRootObject() {
  RevokeRegistration();
  ClearHostLink();
  // The window goes before the security records; both are owned.
  FWindow.reset();
  FSecurityAttributes.reset();
}

HRESULT STDMETHODCALLTYPE TRootObject::QueryInterface(REFIID riid, void** ppvObject) {
  return GuardedComCall([&]() -> HRESULT {
    if (ppvObject == nullptr)
      return E_POINTER;
    void* found = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IRootObject))
      found = static_cast<IRootObject*>(this);
    else
      found = GetInterface(riid);
    *ppvObject = found;
    if (found == nullptr)
      return E_NOINTERFACE;
    static_cast<IUnknown*>(found)->AddRef();
    return S_OK;
  });
}

// The root object lives as long as the module: references are not counted (nothing to guard).
ULONG STDMETHODCALLTYPE TRootObject::AddRef() { return static_cast<ULONG>(-1); }

ULONG STDMETHODCALLTYPE TRootObject::Release() { return static_cast<ULONG>(-1); }

HRESULT STDMETHODCALLTYPE TRootObject::GetRootInterface(IUnknown** Intf) {
  return GuardedComCall([&]() -> HRESULT {
    if (Intf == nullptr)
      return E_POINTER;
    return QueryInterface(IID_IRootInterface, reinterpret_cast<void**>(Intf));
  });
}

void TRootObject::ClearHostLink() {
  try {
    // The link is the host's object: its release runs under the guard.
    platform::CallGuarded([&] { FHostLink.Reset(); });
  } catch (...) {
    // The reference is gone either way (Reset empties the field before releasing).
  }
  FHostLink = nullptr;
}

uint32_t TRootObject::WMGetObject() {
  std::lock_guard lock(FRegistrationLock);
  // One registration serves every later request; it goes with the object.
  if (FRegistration != 0) return FRegistration;
  IUnknown* root = nullptr;
  if (FAILED(QueryInterface(IID_IRootInterface, reinterpret_cast<void**>(&root))) || root == nullptr)
    return 0;
  DWORD registration = 0;
  if (FAILED(RegisterActiveObject(root, IID_IRootInterface, ACTIVEOBJECT_STRONG, &registration)))
    registration = 0;
  root->Release();
  FRegistration = registration;
  return registration;
}

void TRootObject::RevokeRegistration() noexcept {
  std::lock_guard lock(FRegistrationLock);
  if (FRegistration != 0) RevokeActiveObject(FRegistration, nullptr);
  FRegistration = 0;
}

void* TRootObject::GetInterface(REFIID) { return nullptr; }

bool TRootObject::WindowMessage(uint32_t Message, uintptr_t, intptr_t, intptr_t& Result) {
  if (Message != WM_GETOBJECT_MESSAGE)
    return false;
  WMGetObject();
  Result = 0;
  return true;
}
