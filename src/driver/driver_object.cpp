#include "driver/driver_object.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>

#include "base/collection_bases.h"
#include "config/module_file.h"
#include "config/version_info.h"
#include "devices/devices_list.h"
#include "devices/device_item.h"
#include "devices/model_list.h"
#include "host/host_string.h"
#include "host/params.h"
#include "host/plugin_entry.h"
#include "platform/structured_exception.h"
#include "platform/sync.h"
#include "platform/text_compare.h"

namespace {

constexpr ULONG kUncounted = static_cast<ULONG>(-1);
constexpr uint32_t kDestructionPauseMilliseconds = 10;

// The driver objects alive in the process: GetBaseDll recognises a driver by its address.
std::mutex gLiveDriversLock;
std::set<const void*>& LiveDrivers() {
  static std::set<const void*> drivers;
  return drivers;
}

bool IsLiveDriver(const void* object) {
  std::lock_guard<std::mutex> lock(gLiveDriversLock);
  return LiveDrivers().count(object) != 0;
}

AnsiString AnsiOf(BSTR text) { return text == nullptr ? AnsiString() : AnsiFromWide(WideStringView(text, SysStringLen(text))); }

HRESULT StoreText(BSTR* target, const WideString& text) {
  if (target == nullptr) return E_POINTER;
  *target = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *target == nullptr && !text.empty() ? E_OUTOFMEMORY : S_OK;
}

// Runs an interface operation: any failure becomes a failure status with error information.
template <class Body>
HRESULT SafeOperation(Body&& body) noexcept {
  try {
    platform::CallGuarded(std::forward<Body>(body));
    return S_OK;
  } catch (...) {
    return InterfaceFailure();
  }
}

// A lookup for IDllObjMembers: false on any failure (the register-convention operations have no
// way to report one).
template <class Body>
bool SafeLookup(Body&& body) noexcept {
  try {
    return platform::CallGuarded(std::forward<Body>(body));
  } catch (...) {
    return false;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction and destruction.

TBaseDllObj::TBaseDllObj(const TDriverTables& tables, TDevicesListFactory makeDevices,
                         TBaseDllObj** instanceVariable, TCallHandler callHandler) {
  FHostValue = 0;
  // The host receives the exception-safe call entry, never the dispatcher itself.
  FControl = std::make_unique<TPluginControl>(instanceVariable, &SafeCallEntry);
  SetCallHandler(callHandler);
  FModulePath = WideFromAnsi(ModuleFileName(false));
  if (const std::unique_ptr<TVersionInfo> info = TVersionInfo::ModuleVersionInfo(); info && info->Valid()) {
    FVersionText = WideFromAnsi(info->FileVersionText());
    FVersionNumber = static_cast<uint16_t>(info->FileVersionNumbers().second & 0xFFFF);
  }
  SetExecutionMode(EXECUTION_MODE_PLUGIN);
  FResultCheck = true;
  FPrimaryMethods = tables.PrimaryMethods;
  FSecondaryMethods = tables.SecondaryMethods;
  FProperties = tables.Properties;
  FExtraProperties = {};
  FPrimaryKeys = MethodKeys(FPrimaryMethods);
  FSecondaryKeys = MethodKeys(FSecondaryMethods);
  FPropertyKeys = PropertyKeys(FProperties);
  FPropertyReadOnly.assign(static_cast<size_t>(std::max(FProperties.Count, 0)), false);
  for (int32_t i = 0; i < FProperties.Count; ++i) FPropertyReadOnly[i] = FProperties.Entries[i].ReadOnly;
  {
    std::lock_guard<std::mutex> lock(gLiveDriversLock);
    LiveDrivers().insert(this);
  }
  try {
    FDevices = makeDevices();
    if (!FDevices) RaiseText(AnsiFromUtf8("Список устройств не создан"));
  } catch (...) {
    std::lock_guard<std::mutex> lock(gLiveDriversLock);
    LiveDrivers().erase(this);
    throw;
  }
}

TBaseDllObj::~TBaseDllObj() {
  {
    std::lock_guard<std::mutex> lock(gLiveDriversLock);
    LiveDrivers().erase(this);
  }
  FDevices.reset();
  platform::SleepMilliseconds(kDestructionPauseMilliseconds);
  FControl.reset();
}

void TBaseDllObj::SetExtraProperties(const TPropertyTable& table) {
  FExtraProperties = table;
  FExtraPropertyKeys = PropertyKeys(table);
  FExtraPropertyReadOnly.assign(static_cast<size_t>(std::max(table.Count, 0)), false);
  for (int32_t i = 0; i < table.Count; ++i) FExtraPropertyReadOnly[i] = table.Entries[i].ReadOnly;
}

void* TBaseDllObj::GetInterface(REFIID riid) {
  if (IsEqualIID(riid, IID_IBaseDllObj)) return static_cast<IBaseDllObj*>(&FBaseDllObjIntf);
  if (IsEqualIID(riid, IID_IDllObjMembers)) return static_cast<IDllObjMembers*>(&FMembersIntf);
  return TRootObject::GetInterface(riid);
}

// ---------------------------------------------------------------------------------------------
// Member lookups.

std::vector<TBaseDllObj::TMethodKey> TBaseDllObj::MethodKeys(const TMethodTable& table) {
  std::vector<TMethodKey> keys;
  for (int32_t i = 0; i < table.Count; ++i) {
    const TNameHalves halves = SplitMethodName(table.Entries[i].Name);
    keys.push_back({AnsiFromUtf8(halves.First), AnsiFromUtf8(halves.Second)});
  }
  return keys;
}

std::vector<TBaseDllObj::TPropertyKey> TBaseDllObj::PropertyKeys(const TPropertyTable& table) {
  std::vector<TPropertyKey> keys;
  for (int32_t i = 0; i < table.Count; ++i) {
    keys.push_back({AnsiFromUtf8(table.Entries[i].Name), AnsiFromUtf8(table.Entries[i].EnglishName)});
  }
  return keys;
}

int32_t TBaseDllObj::FindIn(const std::vector<TMethodKey>& keys, const AnsiString& name) {
  for (size_t i = 0; i < keys.size(); ++i) {
    if (platform::SameText(name, keys[i].First)) return static_cast<int32_t>(i);
    if (!keys[i].Second.empty() && platform::SameText(name, keys[i].Second)) return static_cast<int32_t>(i);
  }
  return kNoMember;
}

int32_t TBaseDllObj::FindIn(const std::vector<TPropertyKey>& keys, const AnsiString& name) {
  for (size_t i = 0; i < keys.size(); ++i) {
    if (platform::SameText(name, keys[i].Name)) return static_cast<int32_t>(i);
    if (!keys[i].EnglishName.empty() && platform::SameText(name, keys[i].EnglishName)) return static_cast<int32_t>(i);
  }
  return kNoMember;
}

int32_t TBaseDllObj::FindMethod(const AnsiString& name) const {
  if (const int32_t i = FindIn(FPrimaryKeys, name); i != kNoMember) return kPrimaryMethodBase + i;
  if (const int32_t i = FindIn(FSecondaryKeys, name); i != kNoMember) return kSecondaryMethodBase + i;
  return kNoMember;
}

const TMethodEntry* TBaseDllObj::MethodEntry(int32_t number) const {
  if (number >= kPrimaryMethodBase && number < kPrimaryMethodBase + FPrimaryMethods.Count)
    return &FPrimaryMethods.Entries[number - kPrimaryMethodBase];
  if (number >= kSecondaryMethodBase && number < kSecondaryMethodBase + FSecondaryMethods.Count)
    return &FSecondaryMethods.Entries[number - kSecondaryMethodBase];
  return nullptr;
}

int32_t TBaseDllObj::FindProperty(const AnsiString& name) const {
  const AnsiString wanted = platform::UpperCaseText(name);
  if (const int32_t i = FindIn(FExtraPropertyKeys, wanted); i != kNoMember) return kExtraPropertyBase + i;
  if (const int32_t i = FindIn(FPropertyKeys, wanted); i != kNoMember) return kPropertyBase + i;
  if (FDevices) {
    TPropList& definitions = FDevices->ParamDefinitions();
    if (definitions.Count() > 0) {
      if (const TPropItem* item = definitions.FindProp(name)) return kParamDefinitionBase + item->Index();
    }
  }
  return kNoMember;
}

const TPropertyEntry* TBaseDllObj::PropertyEntry(int32_t number) const {
  if (number >= kExtraPropertyBase && number < kExtraPropertyBase + FExtraProperties.Count)
    return &FExtraProperties.Entries[number - kExtraPropertyBase];
  if (number >= kPropertyBase && number < kPropertyBase + FProperties.Count)
    return &FProperties.Entries[number - kPropertyBase];
  return nullptr;
}

bool TBaseDllObj::PropertyReadOnly(int32_t number) const {
  if (number >= kExtraPropertyBase && number < kExtraPropertyBase + FExtraProperties.Count)
    return FExtraPropertyReadOnly[number - kExtraPropertyBase];
  if (number >= kPropertyBase && number < kPropertyBase + FProperties.Count)
    return FPropertyReadOnly[number - kPropertyBase];
  return false;
}

void TBaseDllObj::MarkDeviceSwitchReadOnly() {
  const int32_t number = FindProperty(AnsiFromUtf8(kDeviceIsOnPropertyName));
  if (number >= kExtraPropertyBase && number < kExtraPropertyBase + FExtraProperties.Count)
    FExtraPropertyReadOnly[number - kExtraPropertyBase] = true;
  else if (number >= kPropertyBase && number < kPropertyBase + FProperties.Count)
    FPropertyReadOnly[number - kPropertyBase] = true;
}

// ---------------------------------------------------------------------------------------------
// Devices and call contexts.

bool TBaseDllObj::IsHostTask(const void* object) {
  if (object == nullptr) return false;
  const AnsiString name = platform::CallGuarded([&] { return HostClassName(object); });
  return name == "TInternalTask" || name == "TTaskThread";
}

TDeviceItem* TBaseDllObj::DeviceFor(TCallContext context) {
  if (context != nullptr && context != this && IsHostTask(context)) {
    TGlobalId id;
    platform::CallGuarded([&] {
      std::memcpy(&id, static_cast<const char*>(context) + vestrel::kHostTaskDeviceIdOffset, sizeof(id));
    });
    TDeviceItem* device = FDevices->FindById(id);
    if (device != nullptr) device->SetCallContext(context);
    return device;
  }
  const int32_t current = FDevices->Current();
  if (current > 0 && current <= FDevices->Count()) {
    TDeviceItem* device = FDevices->GetItem(current - 1);
    if (device != nullptr) device->SetCallContext(nullptr);
    return device;
  }
  return nullptr;
}

TBaseDllObj* TBaseDllObj::GetBaseDll(TCallContext context) {
  if (context != nullptr && IsLiveDriver(context)) return static_cast<TBaseDllObj*>(context);
  if (context != nullptr && IsHostTask(context)) {
    void* slot = nullptr;
    platform::CallGuarded([&] {
      std::memcpy(&slot, static_cast<const char*>(context) + vestrel::kHostTaskDriverSlotOffset, sizeof(slot));
    });
    if (slot != nullptr && IsLiveDriver(slot)) return static_cast<TBaseDllObj*>(slot);
  }
  throw Exception(AnsiFromUtf8("Вызов метода GetBaseDll с очень плохим параметром!"));
}

uint16_t TBaseDllObj::ReadRelease() {
  FRelease = 0;
  if (const std::unique_ptr<TVersionInfo> info = TVersionInfo::ModuleVersionInfo(); info && info->Valid())
    FRelease = static_cast<uint16_t>(info->FileVersionNumbers().second >> 16);
  return FRelease;
}

bool TBaseDllObj::ResultCheckActive() const {
  return ExecutionMode() == EXECUTION_MODE_V7 ? false : FResultCheck;
}

void TBaseDllObj::FreeDevices() {
  ClearHostLink();
  // The list lets go of the host's sink too: devices made after this must not call a sink
  // the host has taken back.
  platform::CallGuarded([&] { FDevices->SetEventSink(nullptr); });
  FDevices->ClearDevices();
}

void TBaseDllObj::SetEventSink(IUnknown* sink) {
  // Counting the host's reference is a call into the host.
  platform::CallGuarded([&] {
    FHostLink = sink;
    FDevices->SetEventSink(sink);
  });
}

// ---------------------------------------------------------------------------------------------
// IBaseDllObj

HRESULT STDMETHODCALLTYPE TBaseDllObj::TBaseDllObjIntf::QueryInterface(REFIID iid, void** object) {
  return Owner.QueryInterface(iid, object);
}
ULONG STDMETHODCALLTYPE TBaseDllObj::TBaseDllObjIntf::AddRef() { return kUncounted; }
ULONG STDMETHODCALLTYPE TBaseDllObj::TBaseDllObjIntf::Release() { return kUncounted; }

HRESULT STDMETHODCALLTYPE TBaseDllObj::TBaseDllObjIntf::GetModulePath(BSTR* path) {
  return SafeOperation([&] {
    const HRESULT result = StoreText(path, Owner.FModulePath);
    if (FAILED(result)) throw OleError("GetModulePath", result);
  });
}

HRESULT STDMETHODCALLTYPE TBaseDllObj::TBaseDllObjIntf::GetVersionText(BSTR* text) {
  return SafeOperation([&] {
    const HRESULT result = StoreText(text, Owner.FVersionText);
    if (FAILED(result)) throw OleError("GetVersionText", result);
  });
}

HRESULT STDMETHODCALLTYPE TBaseDllObj::TBaseDllObjIntf::GetVersionNumber(uint16_t* number) {
  if (number == nullptr) return E_POINTER;
  *number = Owner.FVersionNumber;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TBaseDllObj::TBaseDllObjIntf::GetInterfaceVersion(int32_t* version) {
  if (version == nullptr) return E_POINTER;
  return SafeOperation([&] { *version = Owner.GetInterfaceVersion(); });
}

HRESULT STDMETHODCALLTYPE TBaseDllObj::TBaseDllObjIntf::GetReserved(int32_t* value) {
  if (value == nullptr) return E_POINTER;
  *value = 1;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TBaseDllObj::TBaseDllObjIntf::GetModel(int32_t index, IUnknown** model) {
  if (model == nullptr) return E_POINTER;
  *model = nullptr;
  TModelPluList& models = Owner.FDevices->Models();
  if (index < 0 || index >= models.Count()) return S_OK;
  HRESULT result = S_OK;
  const HRESULT status = SafeOperation([&] {
    result = models.Items(index)->QueryInterface(IID_IModelPluItem2, reinterpret_cast<void**>(model));
  });
  if (FAILED(status)) return status;
  if (FAILED(result)) *model = nullptr;
  return result;
}

HRESULT STDMETHODCALLTYPE TBaseDllObj::TBaseDllObjIntf::SetHostValue(int32_t value) {
  Owner.FHostValue = value;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TBaseDllObj::TBaseDllObjIntf::SetEventSink(IUnknown* sink) {
  return SafeOperation([&] { Owner.SetEventSink(sink); });
}

void VESTREL_REGISTER_CALL TBaseDllObj::TBaseDllObjIntf::GetMembers(IDllObjMembers** members) {
  if (members == nullptr) return;
  try {
    platform::CallGuarded([&] {
      IDllObjMembers* previous = *members;
      *members = static_cast<IDllObjMembers*>(Owner.MembersInterface());
      (*members)->AddRef();
      if (previous != nullptr) previous->Release();
    });
  } catch (...) {
    // A slot the host handed over that cannot be released stays as the plug-in set it.
  }
}

// ---------------------------------------------------------------------------------------------
// IDllObjMembers

HRESULT STDMETHODCALLTYPE TBaseDllObj::TMembersIntf::QueryInterface(REFIID iid, void** object) {
  return Owner.QueryInterface(iid, object);
}
ULONG STDMETHODCALLTYPE TBaseDllObj::TMembersIntf::AddRef() { return kUncounted; }
ULONG STDMETHODCALLTYPE TBaseDllObj::TMembersIntf::Release() { return kUncounted; }

bool VESTREL_REGISTER_CALL TBaseDllObj::TMembersIntf::IsProperty(BSTR name) {
  return SafeLookup([&] { return Owner.FindProperty(AnsiOf(name)) != kNoMember; });
}

bool VESTREL_REGISTER_CALL TBaseDllObj::TMembersIntf::IsMethod(BSTR name) {
  return SafeLookup([&] { return Owner.FindMethod(AnsiOf(name)) != kNoMember; });
}

bool VESTREL_REGISTER_CALL TBaseDllObj::TMembersIntf::IsSecondaryMethod(BSTR name) {
  return SafeLookup([&] { return FindIn(Owner.FSecondaryKeys, AnsiOf(name)) != kNoMember; });
}

bool VESTREL_REGISTER_CALL TBaseDllObj::TMembersIntf::IsSwitchOn(BSTR name) {
  return SafeLookup([&] {
    const AnsiString text = AnsiOf(name);
    return platform::SameText(text, AnsiFromUtf8("Включить")) || platform::SameText(text, "SwitchOn");
  });
}

bool VESTREL_REGISTER_CALL TBaseDllObj::TMembersIntf::IsSwitchOff(BSTR name) {
  return SafeLookup([&] {
    const AnsiString text = AnsiOf(name);
    return platform::SameText(text, AnsiFromUtf8("Выключить")) || platform::SameText(text, "SwitchOff");
  });
}
