// Class objects and apartments without COM: a process-wide table of registered class objects.
// Apartments do not exist here; CoInitialize(Ex) only keeps the per-thread count and threading
// model so that their results match Windows (S_OK first, S_FALSE again, RPC_E_CHANGED_MODE for
// a different model). Creating objects does not require them.
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/ole_automation.h"
#include "platform/ole_ptr.h"

namespace {

struct ClassObject {
  DWORD cookie;
  CLSID clsid;
  ComPtr<IUnknown> object;
};

class ClassObjects {
 public:
  static ClassObjects& Instance() {
    static ClassObjects table;
    return table;
  }

  DWORD Add(const CLSID& clsid, IUnknown* object) {
    std::lock_guard lock(mutex_);
    DWORD cookie = ++lastCookie_;
    objects_.push_back({cookie, clsid, ComPtr<IUnknown>(object)});
    return cookie;
  }

  bool Remove(DWORD cookie) {
    ComPtr<IUnknown> released;  // released after the lock is dropped
    std::lock_guard lock(mutex_);
    for (auto it = objects_.begin(); it != objects_.end(); ++it) {
      if (it->cookie == cookie) {
        released = std::move(it->object);
        objects_.erase(it);
        return true;
      }
    }
    return false;
  }

  // The earliest registration for the class still in place.
  ComPtr<IUnknown> Find(const CLSID& clsid) {
    std::lock_guard lock(mutex_);
    for (const auto& o : objects_)
      if (o.clsid == clsid) return o.object;
    return nullptr;
  }

 private:
  std::mutex mutex_;
  std::vector<ClassObject> objects_;
  DWORD lastCookie_ = 0;
};

// Objects published with RegisterActiveObject. A strong registration holds a reference, a weak
// one does not (its owner revokes it before going away).
struct ActiveObject {
  DWORD cookie;
  CLSID clsid;
  IUnknown* object;
  bool strong;
};

class ActiveObjects {
 public:
  static ActiveObjects& Instance() {
    static ActiveObjects table;
    return table;
  }

  DWORD Add(const CLSID& clsid, IUnknown* object, bool strong) {
    if (strong) object->AddRef();
    std::lock_guard lock(mutex_);
    DWORD cookie = ++lastCookie_;
    objects_.push_back({cookie, clsid, object, strong});
    return cookie;
  }

  bool Remove(DWORD cookie) {
    ActiveObject removed{};
    {
      std::lock_guard lock(mutex_);
      auto it = objects_.begin();
      while (it != objects_.end() && it->cookie != cookie) ++it;
      if (it == objects_.end()) return false;
      removed = *it;
      objects_.erase(it);
    }
    if (removed.strong) removed.object->Release();
    return true;
  }

  // The latest registration for the class, with a new reference.
  IUnknown* Find(const CLSID& clsid) {
    std::lock_guard lock(mutex_);
    for (auto it = objects_.rbegin(); it != objects_.rend(); ++it) {
      if (it->clsid == clsid) {
        it->object->AddRef();
        return it->object;
      }
    }
    return nullptr;
  }

 private:
  std::mutex mutex_;
  std::vector<ActiveObject> objects_;
  DWORD lastCookie_ = 0;
};

struct ApartmentState {
  int initCount = 0;
  bool apartmentThreaded = false;
};
thread_local ApartmentState apartment;

}  // namespace

HRESULT CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk, DWORD dwClsContext, DWORD flags,
                              LPDWORD lpdwRegister) {
  if (!pUnk || !lpdwRegister) return E_INVALIDARG;
  *lpdwRegister = ClassObjects::Instance().Add(rclsid, pUnk);
  return S_OK;
}

HRESULT CoRevokeClassObject(DWORD dwRegister) {
  return ClassObjects::Instance().Remove(dwRegister) ? S_OK : CO_E_OBJNOTREG;
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_INVALIDARG;
  *ppv = nullptr;
  ComPtr<IUnknown> object = ClassObjects::Instance().Find(rclsid);
  if (!object) return REGDB_E_CLASSNOTREG;
  return object->QueryInterface(riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  ComPtr<IClassFactory> factory;
  HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, factory.PutVoid());
  if (FAILED(hr)) return hr;
  return factory->CreateInstance(pUnkOuter, riid, ppv);
}

HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
  bool apartmentThreaded = (dwCoInit & COINIT_APARTMENTTHREADED) != 0;
  if (apartment.initCount > 0 && apartment.apartmentThreaded != apartmentThreaded) return RPC_E_CHANGED_MODE;
  apartment.apartmentThreaded = apartmentThreaded;
  return apartment.initCount++ == 0 ? S_OK : S_FALSE;
}

HRESULT CoInitialize(LPVOID pvReserved) { return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
  if (apartment.initCount > 0) --apartment.initCount;
}

LPVOID CoTaskMemAlloc(SIZE_T cb) { return std::malloc(cb ? cb : 1); }

void CoTaskMemFree(LPVOID pv) { std::free(pv); }

HRESULT RegisterActiveObject(IUnknown* punk, REFCLSID rclsid, DWORD dwFlags, DWORD* pdwRegister) {
  if (!punk || !pdwRegister) return E_INVALIDARG;
  *pdwRegister = ActiveObjects::Instance().Add(rclsid, punk, !(dwFlags & ACTIVEOBJECT_WEAK));
  return S_OK;
}

HRESULT RevokeActiveObject(DWORD dwRegister, void* pvReserved) {
  return ActiveObjects::Instance().Remove(dwRegister) ? S_OK : E_INVALIDARG;
}

HRESULT GetActiveObject(REFCLSID rclsid, void* pvReserved, IUnknown** ppunk) {
  if (!ppunk) return E_INVALIDARG;
  *ppunk = ActiveObjects::Instance().Find(rclsid);
  return *ppunk ? S_OK : MK_E_UNAVAILABLE;
}
