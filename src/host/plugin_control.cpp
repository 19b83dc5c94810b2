#include "host/plugin_control.h"

#include "base/application_object.h"
#include "base/collection_bases.h"
#include "base/host_call_lock.h"
#include "driver/driver_object.h"
#include "host/plugin_entry.h"
#include "platform/ole_ptr.h"

namespace {

constexpr ULONG kUncounted = static_cast<ULONG>(-1);

}  // namespace

TPluginControl::TPluginControl(TBaseDllObj** instanceVariable, TCallHandler callHandler)
    : FInstanceVariable(instanceVariable), FCallHandler(callHandler) {
  SetPublishedControl(static_cast<IPluginControl*>(this));
}

TPluginControl::~TPluginControl() {
  SetPublishedControl(nullptr);
  if (FApplicationSaved) SetCurrentApplication(FSavedApplication);
}

TBaseDllObj* TPluginControl::GetDllObject() {
  if (FInstanceVariable == nullptr) RaiseText(AnsiFromUtf8("Обработчик GetDllObject не назначен"));
  if (*FInstanceVariable == nullptr) RaiseText(AnsiFromUtf8("GetDllObject вернул Nil"));
  return *FInstanceVariable;
}

HRESULT STDMETHODCALLTYPE TPluginControl::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPluginControl)) {
    *object = static_cast<IPluginControl*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE TPluginControl::AddRef() { return kUncounted; }
ULONG STDMETHODCALLTYPE TPluginControl::Release() { return kUncounted; }

HRESULT STDMETHODCALLTYPE TPluginControl::Reserved1(int32_t) { return S_OK; }
HRESULT STDMETHODCALLTYPE TPluginControl::Reserved2(int32_t) { return S_OK; }

HRESULT STDMETHODCALLTYPE TPluginControl::GetCallHandler(TCallHandler* handler) {
  if (handler != nullptr) *handler = FCallHandler;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TPluginControl::GetDllObjectIntf(IBaseDllObj** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  try {
    THostCallScope hostCall;
    TBaseDllObj* driver = GetDllObject();
    void* found = nullptr;
    if (FAILED(driver->QueryInterface(IID_IBaseDllObj, &found)) || found == nullptr) RaiseCodeError(ERR_NO_PLUGIN_OBJECT);
    *object = static_cast<IBaseDllObj*>(found);
    return S_OK;
  } catch (...) {
    *object = nullptr;
    return InterfaceFailure();
  }
}

HRESULT STDMETHODCALLTYPE TPluginControl::SetApplication(void* application) {
  THostCallScope hostCall;
  if (FApplicationSaved) return S_OK;
  FSavedApplication = CurrentApplication();
  FApplicationSaved = true;
  SetCurrentApplication(application);
  return S_OK;
}
