#pragma once
// The plug-in control object: the first object the host meets. PluginControl hands out its
// interface, IPluginControl, through which the host takes the call entry and the driver
// object's interface, and installs its own application object. The driver object creates
// exactly one in its constructor and frees it in its destructor.

#include <cstdint>

#include "base/errors.h"
#include "platform/ole_automation.h"
#include "vestrel/plugin_abi.h"

class TBaseDllObj;

class TPluginControl final : public IPluginControl {
public:
  // Publishes this object's IPluginControl as the module's control interface, replacing what
  // was published before.
  TPluginControl(TBaseDllObj** instanceVariable, TCallHandler callHandler);
  // Withdraws the published interface and, when the host's application object was installed,
  // makes the saved one current again.
  ~TPluginControl();
  TPluginControl(const TPluginControl&) = delete;
  TPluginControl& operator=(const TPluginControl&) = delete;

  // The driver object; raises ERR_TEXT "Обработчик GetDllObject не назначен" without an
  // instance variable, "GetDllObject вернул Nil" when it holds no object.
  virtual TBaseDllObj* GetDllObject();

  // IUnknown: the interface query finds IUnknown and IPluginControl; counting does nothing.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IPluginControl
  HRESULT STDMETHODCALLTYPE Reserved1(int32_t ignored) override;
  HRESULT STDMETHODCALLTYPE Reserved2(int32_t ignored) override;
  HRESULT STDMETHODCALLTYPE GetCallHandler(TCallHandler* handler) override;
  HRESULT STDMETHODCALLTYPE GetDllObjectIntf(IBaseDllObj** object) override;
  HRESULT STDMETHODCALLTYPE SetApplication(void* application) override;

private:
  TBaseDllObj** FInstanceVariable;
  TCallHandler FCallHandler;
  int32_t FReserved = 0;
  bool FApplicationSaved = false;  // whether FSavedApplication holds one
  void* FSavedApplication = nullptr;
};
