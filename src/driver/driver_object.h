#pragma once
// TBaseDllObj: the base of every driver object the host meets. It owns the devices list and
// the plug-in control object, holds the method and property tables its concrete class
// supplies, answers IBaseDllObj and IDllObjMembers, and runs every host call through its
// dispatcher (Execute). The library makes exactly one, at start, and frees it at unload.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/root_object.h"
#include "driver/dispatch.h"
#include "platform/ole_ptr.h"
#include "platform/text_codec.h"
#include "vestrel/plugin_abi.h"

// The control object that the driver creates and owns (the host boundary's first object); the
// driver knows no more of it than its name.
class TPluginControl;

class TDevicesList;
class TDeviceItem;
struct TParams;

// Makes the concrete driver's devices list (its list class with its item class).
using TDevicesListFactory = std::unique_ptr<TDevicesList> (*)();

// The tables a concrete driver class supplies.
struct TDriverTables {
  TMethodTable PrimaryMethods;    // numbered 0..9999
  TMethodTable SecondaryMethods;  // numbered 10000..19999
  TPropertyTable Properties;      // numbered 100000..199999
};

class TBaseDllObj : public TRootObject {
public:
  // In this order: host value 0; the control object (publishing IPluginControl) with the
  // instance variable and the exception-safe call entry; callHandler becomes the module-wide
  // call handler; module path and version from the library's version information; execution
  // mode plug-in; result check on; the tables; the devices list from makeDevices. When a step
  // raises, what was built is freed again (the control interface is withdrawn).
  TBaseDllObj(const TDriverTables& tables, TDevicesListFactory makeDevices, TBaseDllObj** instanceVariable,
              TCallHandler callHandler);
  // Frees the devices list (devices stop their threads), waits 10 ms, frees the control object.
  ~TBaseDllObj() override;

  // The dispatcher: runs a chain of call blocks (context: a host task object, or null).
  bool Execute(TParams* params, TCallContext context);

  // Lookups by name and the entries behind member numbers. Names compare in Unicode without
  // regard to letter case (platform::FoldedUnit), the same whatever the user's regional
  // settings; a name in the host code page is read in that code page first.
  int32_t FindMethod(WideStringView name) const;
  int32_t FindMethod(const AnsiString& name) const;
  const TMethodEntry* MethodEntry(int32_t number) const;
  int32_t FindProperty(WideStringView name) const;
  int32_t FindProperty(const AnsiString& name) const;
  const TPropertyEntry* PropertyEntry(int32_t number) const;
  // The read-only flag of a property as this driver has it now ("__@@EventSupport" makes the
  // device-switch property read-only; the static table stays as it is).
  bool PropertyReadOnly(int32_t number) const;

  // The device a call is for: for a host task object the device the task names (its call
  // context becomes the task), else the list's current device (its call context cleared).
  TDeviceItem* DeviceFor(TCallContext context);

  // The driver object of a call context: the driver itself, or the one recorded in a host
  // task object. Anything else raises "Вызов метода GetBaseDll с очень плохим параметром!".
  static TBaseDllObj* GetBaseDll(TCallContext context);
  // True when the object is a host task object ("TInternalTask" or "TTaskThread").
  static bool IsHostTask(const void* object);

  // The third part of the module's file version (for 2.1.7.345: 7), read with the rest of the
  // version information at construction.
  uint16_t ReadRelease();
  uint16_t Release() const { return FRelease; }
  // Whether a non-zero integer method result becomes an error: false in execution mode 2.
  bool ResultCheckActive() const;
  // Releases the host's event sink (the driver's and the list's), then empties the devices list.
  void FreeDevices();

  TDevicesList& Devices() const { return *FDevices; }
  TPluginControl& Control() const { return *FControl; }
  int32_t HostValue() const { return FHostValue; }
  const WideString& ModulePath() const { return FModulePath; }
  const WideString& VersionText() const { return FVersionText; }
  uint16_t VersionNumber() const { return FVersionNumber; }

  // Hooks of the class: the reserved operation and two empty hooks (not called by the plug-in).
  virtual void Reserved() {}
  virtual void RecordHook(const void* record) {}
  virtual int32_t GetInterfaceVersion() const { return 3; }
  virtual void ValueHook(intptr_t value) {}

  IBaseDllObj* BaseDllObjInterface() { return &FBaseDllObjIntf; }
  IDllObjMembers* MembersInterface() { return &FMembersIntf; }

  // Storing the host's event sink: the driver's own reference and the devices list's.
  void SetEventSink(IUnknown* sink);

protected:
  void* GetInterface(REFIID riid) override;
  // Set by an intermediate class: device parameter properties searched before the others.
  void SetExtraProperties(const TPropertyTable& table);
  // Set by an intermediate class: the handler of the devices list's parameter definitions
  // (member numbers from 300000), which have no table entry of their own. Without one such a
  // property is found but nothing is read or written.
  void SetParamDefinitionHandler(TPropertyHandler handler) { FParamDefinitionHandler = handler; }

private:
  // The interfaces live in members of their own, each forwarding to this object.
  struct TBaseDllObjIntf final : public IBaseDllObj {
    explicit TBaseDllObjIntf(TBaseDllObj& owner) : Owner(owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetModulePath(BSTR* path) override;
    HRESULT STDMETHODCALLTYPE GetVersionText(BSTR* text) override;
    HRESULT STDMETHODCALLTYPE GetVersionNumber(uint16_t* number) override;
    HRESULT STDMETHODCALLTYPE GetInterfaceVersion(int32_t* version) override;
    HRESULT STDMETHODCALLTYPE GetReserved(int32_t* value) override;
    HRESULT STDMETHODCALLTYPE GetModel(int32_t index, IUnknown** model) override;
    HRESULT STDMETHODCALLTYPE SetHostValue(int32_t value) override;
    HRESULT STDMETHODCALLTYPE SetEventSink(IUnknown* sink) override;
    void VESTREL_REGISTER_CALL GetMembers(IDllObjMembers** members) override;
    TBaseDllObj& Owner;
  };
  struct TMembersIntf final : public IDllObjMembers {
    explicit TMembersIntf(TBaseDllObj& owner) : Owner(owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    bool VESTREL_REGISTER_CALL IsProperty(BSTR name) override;
    bool VESTREL_REGISTER_CALL IsMethod(BSTR name) override;
    bool VESTREL_REGISTER_CALL IsSecondaryMethod(BSTR name) override;
    bool VESTREL_REGISTER_CALL IsSwitchOn(BSTR name) override;
    bool VESTREL_REGISTER_CALL IsSwitchOff(BSTR name) override;
    TBaseDllObj& Owner;
  };

  // Every name of the tables, folded, with the member numbers it finds: built once (when the
  // tables are set), found through a hash table of its own.
  struct TMemberKey {
    WideString Folded;
    uint32_t Hash = 0;
    int32_t Method = kNoMember;    // the first method of that name in search order
    int32_t Property = kNoMember;  // the first property of that name in search order
    bool InSecondaryTable = false;  // some entry of the secondary method table has the name
  };
  void BuildMemberKeys();
  const TMemberKey* FindMemberKey(WideStringView name) const;
  int32_t FindParamDefinition(WideStringView name) const;
  int32_t PropertyNumberOf(const TMemberKey* key, WideStringView name) const;

  // One block of a chain (Execute): the block's result.
  bool ExecuteBlock(TParams& block, TCallContext context, bool& stop);
  bool RunBuiltin(TParams& block, std::string_view name);
  void CallMethod(TParams& block, WideStringView name, const TMethodEntry& method, TCallContext context,
                  TDeviceItem* device);
  void MarkDeviceSwitchReadOnly();
  // The handler and the Russian name (UTF-8) behind a property number: a table entry's, or the
  // parameter-definition handler with the definition's name (kept in storage). False when
  // there is none.
  bool PropertyHandlerOf(int32_t number, TPropertyHandler& handler, std::string_view& name,
                         std::string& storage) const;

  bool FResultCheck = true;
  std::unique_ptr<TDevicesList> FDevices;
  std::unique_ptr<TPluginControl> FControl;
  uint16_t FRelease = 0;
  TMethodTable FPrimaryMethods;
  TMethodTable FSecondaryMethods;
  TPropertyTable FProperties;
  TPropertyTable FExtraProperties;
  TPropertyHandler FParamDefinitionHandler = nullptr;
  WideString FModulePath;
  uint16_t FVersionNumber = 0;
  WideString FVersionText;
  int32_t FHostValue = 0;

  std::vector<TMemberKey> FMemberKeys;
  std::vector<int32_t> FMemberSlots;  // open addressing: an index into FMemberKeys, or -1
  size_t FLongestKey = 0;
  std::vector<bool> FPropertyReadOnly, FExtraPropertyReadOnly;
  TBaseDllObjIntf FBaseDllObjIntf{*this};
  TMembersIntf FMembersIntf{*this};
};
