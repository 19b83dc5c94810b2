#pragma once
// Automation classes the process creates by program id or class id.
//
// Our own classes (the XML DOM objects where the system has no MSXML, the array object) are
// registered here with a class factory. Creation looks at them first; on Windows anything else
// goes to COM (CLSIDFromProgID + CoCreateInstance: MSXML and other system classes). Elsewhere
// this table is all there is: CoCreateInstance, CoGetClassObject and CLSIDFromProgID consult it.
// Program ids compare case-insensitively, as in the registry. Thread-safe.

#include "platform/ole_automation.h"

namespace platform {

// Registers `factory` for `clsid` and, when `progId` is not null, maps the program id to it.
// The factory is also registered with COM (CoRegisterClassObject, in-process, multiple use),
// so CoCreateInstance in this process finds it. A class id or program id that is already
// registered here fails with E_INVALIDARG and leaves the first registration in place.
HRESULT RegisterAutomationClass(const CLSID& clsid, const OLECHAR* progId, IClassFactory* factory);

// Withdraws the class and its program id; S_FALSE when it was not registered.
HRESULT RevokeAutomationClass(const CLSID& clsid);

// The class id registered here for `progId`; S_OK when found, S_FALSE otherwise (*clsid is
// then CLSID_NULL). Does not look anywhere else.
HRESULT FindRegisteredProgId(const OLECHAR* progId, CLSID* clsid);

// The class id for `progId`: registered here, else (on Windows) from the registry.
// Unknown program ids fail with CO_E_CLASSSTRING, as CLSIDFromProgID does.
HRESULT AutomationClassIdFromProgId(const OLECHAR* progId, CLSID* clsid);

// Creates an object and returns its IDispatch. Unknown program ids fail with CO_E_CLASSSTRING,
// unknown class ids with REGDB_E_CLASSNOTREG (the codes COM gives).
HRESULT CreateAutomationObject(const OLECHAR* progId, IDispatch** object);
HRESULT CreateAutomationObject(const CLSID& clsid, IDispatch** object);

// A class factory for a class of our own that lives as long as the process: its reference
// count does not govern its lifetime, so one static instance serves every registration.
// `create` makes one object and answers `iid` on it; a failure that escapes it is reported as
// E_OUTOFMEMORY, since nothing may cross the COM boundary.
class ProcessClassFactory final : public IClassFactory {
public:
  using CreateFunction = HRESULT (*)(REFIID iid, void** object);
  explicit ProcessClassFactory(CreateFunction create) noexcept : FCreate(create) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
  CreateFunction FCreate;
};

}  // namespace platform
