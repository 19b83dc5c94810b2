// The process's own automation classes, in front of COM's registry.
#include "platform/automation_classes.h"

#include <mutex>
#include <string>
#include <vector>

#include "platform/ole_ptr.h"
#include "platform/structured_exception.h"

namespace platform {
namespace {

struct RegisteredClass {
  CLSID clsid;
  std::basic_string<OLECHAR> progId;  // may be empty
  ComPtr<IClassFactory> factory;
  DWORD cookie;  // from CoRegisterClassObject
};

class ClassTable {
 public:
  static ClassTable& Instance() {
    static ClassTable table;
    return table;
  }

  HRESULT Register(const CLSID& clsid, const OLECHAR* progId, IClassFactory* factory) {
    if (!factory) return E_POINTER;
    std::lock_guard lock(mutex_);
    if (FindLocked(clsid) || (progId && *progId && FindLocked(progId))) return E_INVALIDARG;
    DWORD cookie = 0;
    HRESULT hr = CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    if (FAILED(hr)) return hr;
    classes_.push_back({clsid, progId ? progId : OLESTR(""), ComPtr<IClassFactory>(factory), cookie});
    return S_OK;
  }

  HRESULT Revoke(const CLSID& clsid) {
    RegisteredClass removed;
    {
      std::lock_guard lock(mutex_);
      auto it = classes_.begin();
      while (it != classes_.end() && it->clsid != clsid) ++it;
      if (it == classes_.end()) return S_FALSE;
      removed = std::move(*it);
      classes_.erase(it);
    }
    // Outside the lock: revoking may release the factory, which may call back in.
    CoRevokeClassObject(removed.cookie);
    return S_OK;
  }

  bool ClassIdOf(const OLECHAR* progId, CLSID* clsid) {
    std::lock_guard lock(mutex_);
    const RegisteredClass* found = FindLocked(progId);
    if (found) *clsid = found->clsid;
    return found != nullptr;
  }

  ComPtr<IClassFactory> FactoryOf(const CLSID& clsid) {
    std::lock_guard lock(mutex_);
    const RegisteredClass* found = FindLocked(clsid);
    return found ? found->factory : nullptr;
  }

 private:
  static OLECHAR Upper(OLECHAR c) { return c >= u'a' && c <= u'z' ? OLECHAR(c - u'a' + u'A') : c; }
  static bool SameProgId(const std::basic_string<OLECHAR>& a, const OLECHAR* b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
      if (Upper(a[i]) != Upper(b[i])) return false;
    return i == a.size() && !b[i];
  }
  const RegisteredClass* FindLocked(const CLSID& clsid) const {
    for (const auto& c : classes_)
      if (c.clsid == clsid) return &c;
    return nullptr;
  }
  const RegisteredClass* FindLocked(const OLECHAR* progId) const {
    if (!progId || !*progId) return nullptr;
    for (const auto& c : classes_)
      if (!c.progId.empty() && SameProgId(c.progId, progId)) return &c;
    return nullptr;
  }

  std::mutex mutex_;
  std::vector<RegisteredClass> classes_;
};

}  // namespace

HRESULT RegisterAutomationClass(const CLSID& clsid, const OLECHAR* progId, IClassFactory* factory) {
  return ClassTable::Instance().Register(clsid, progId, factory);
}

HRESULT RevokeAutomationClass(const CLSID& clsid) { return ClassTable::Instance().Revoke(clsid); }

HRESULT FindRegisteredProgId(const OLECHAR* progId, CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = CLSID_NULL;
  return ClassTable::Instance().ClassIdOf(progId, clsid) ? S_OK : S_FALSE;
}

HRESULT AutomationClassIdFromProgId(const OLECHAR* progId, CLSID* clsid) {
  if (!progId || !clsid) return E_INVALIDARG;
  if (FindRegisteredProgId(progId, clsid) == S_OK) return S_OK;
  // Elsewhere than on Windows this looks at the same table again and fails alike.
  return CLSIDFromProgID(progId, clsid);
}

HRESULT CreateAutomationObject(const CLSID& clsid, IDispatch** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  // Our own classes are created through their factory directly, whatever COM apartment
  // the caller is in; everything else goes through COM.
  if (ComPtr<IClassFactory> factory = ClassTable::Instance().FactoryOf(clsid))
    return factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(object));
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                          reinterpret_cast<void**>(object));
}

HRESULT CreateAutomationObject(const OLECHAR* progId, IDispatch** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  CLSID clsid;
  HRESULT hr = AutomationClassIdFromProgId(progId, &clsid);
  if (FAILED(hr)) return hr;
  return CreateAutomationObject(clsid, object);
}

// The factory's operations are called from outside (COM, the host): nothing may leave them,
// structured exceptions included.
HRESULT ProcessClassFactory::QueryInterface(REFIID iid, void** object) {
  try {
    return CallGuarded([&]() -> HRESULT {
      if (!object) return E_POINTER;
      *object = nullptr;
      if (!IsEqualGUID(iid, IID_IUnknown) && !IsEqualGUID(iid, IID_IClassFactory)) return E_NOINTERFACE;
      *object = static_cast<IClassFactory*>(this);
      return S_OK;
    });
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT ProcessClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
  try {
    return CallGuarded([&]() -> HRESULT {
      if (!object) return E_POINTER;
      *object = nullptr;
      if (outer) return CLASS_E_NOAGGREGATION;
      return FCreate(iid, object);
    });
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace platform
