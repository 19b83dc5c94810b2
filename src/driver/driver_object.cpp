#include "driver/driver_object.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "base/collection_bases.h"
#include "base/execution_mode.h"
#include "base/host_call_lock.h"
#include "config/module_file.h"
#include "config/version_info.h"
#include "devices/device_item.h"
#include "devices/devices_list.h"
#include "devices/model_list.h"
// The one include of the host's entry from below it: the driver creates and frees the control
// object, which hands the driver out again.
#include "host/plugin_control.h"
#include "host/wire/host_string.h"
#include "host/wire/params.h"
#include "platform/structured_exception.h"
#include "platform/sync.h"
#include "platform/text_compare.h"

namespace {

constexpr ULONG kUncounted = static_cast<ULONG>(-1);
constexpr uint32_t kDestructionPauseMilliseconds = 10;

// The driver objects alive in the process: GetBaseDll recognises a driver by its address. The
// library's one driver is also kept apart, so that recognising it (every handler does) takes
// no lock.
std::mutex gLiveDriversLock;
std::atomic<const void*> gFirstLiveDriver{nullptr};
std::set<const void*>& LiveDrivers() {
  static std::set<const void*> drivers;
  return drivers;
}

void AddLiveDriver(const void* driver) {
  std::lock_guard<std::mutex> lock(gLiveDriversLock);
  LiveDrivers().insert(driver);
  const void* none = nullptr;
  gFirstLiveDriver.compare_exchange_strong(none, driver);
}

void RemoveLiveDriver(const void* driver) {
  std::lock_guard<std::mutex> lock(gLiveDriversLock);
  LiveDrivers().erase(driver);
  const void* self = driver;
  gFirstLiveDriver.compare_exchange_strong(self, nullptr);
}

bool IsLiveDriver(const void* object) {
  if (object == gFirstLiveDriver.load(std::memory_order_acquire)) return object != nullptr;
  std::lock_guard<std::mutex> lock(gLiveDriversLock);
  return LiveDrivers().count(object) != 0;
}

// The hash of a folded name: its length and three of its units. Names that share it are told
// apart by comparing them whole.
uint32_t FoldedNameHash(WideStringView folded) {
  if (folded.empty()) return 0;
  const size_t size = folded.size();
  return static_cast<uint32_t>(size * 0x9E3779B1u) ^ (uint32_t{folded[0]} << 16) ^ (uint32_t{folded[size / 2]} * 0x85EBCA6Bu) ^
         uint32_t{folded[size - 1]};
}

WideStringView TextOf(BSTR text) { return text == nullptr ? WideStringView() : WideStringView(text, SysStringLen(text)); }

HRESULT StoreText(BSTR* target, const WideString& text) {
  if (target == nullptr) return E_POINTER;
  *target = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *target == nullptr && !text.empty() ? E_OUTOFMEMORY : S_OK;
}

// Runs an interface operation as one host call: any failure becomes a failure status with
// error information.
template <class Body>
HRESULT SafeOperation(Body&& body, const platform::GuardPlace& where = platform::GuardPlace::Current()) noexcept {
  try {
    THostCallScope hostCall;
    platform::CallGuarded(std::forward<Body>(body), where);
    return S_OK;
  } catch (...) {
    return InterfaceFailure();
  }
}

// A lookup for IDllObjMembers, as one host call: false on any failure (the register-convention
// operations have no way to report one).
template <class Body>
bool SafeLookup(Body&& body, const platform::GuardPlace& where = platform::GuardPlace::Current()) noexcept {
  try {
    THostCallScope hostCall;
    return platform::CallGuarded(std::forward<Body>(body), where);
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
  // The version information is read once: the release ("Релиз") comes from here too.
  if (const std::unique_ptr<TVersionInfo> info = TVersionInfo::ModuleVersionInfo(); info && info->Valid()) {
    FVersionText = WideFromAnsi(info->FileVersionText());
    FVersionNumber = static_cast<uint16_t>(info->FileVersionNumbers().second & 0xFFFF);
    FRelease = static_cast<uint16_t>(info->FileVersionNumbers().second >> 16);
  }
  SetExecutionMode(EXECUTION_MODE_PLUGIN);
  FResultCheck = true;
  FPrimaryMethods = tables.PrimaryMethods;
  FSecondaryMethods = tables.SecondaryMethods;
  FProperties = tables.Properties;
  FExtraProperties = {};
  FPropertyReadOnly.assign(static_cast<size_t>(std::max(FProperties.Count, 0)), false);
  for (int32_t i = 0; i < FProperties.Count; ++i) FPropertyReadOnly[i] = FProperties.Entries[i].ReadOnly;
  BuildMemberKeys();
  AddLiveDriver(this);
  try {
    FDevices = makeDevices();
    if (!FDevices) RaiseText(AnsiFromUtf8("Список устройств не создан"));
  } catch (...) {
    RemoveLiveDriver(this);
    throw;
  }
}

TBaseDllObj::~TBaseDllObj() {
  RemoveLiveDriver(this);
  FDevices.reset();
  FreeStorageAttachedToHostBlocks();
  platform::SleepMilliseconds(kDestructionPauseMilliseconds);
  FControl.reset();
}

void TBaseDllObj::SetExtraProperties(const TPropertyTable& table) {
  FExtraProperties = table;
  FExtraPropertyReadOnly.assign(static_cast<size_t>(std::max(table.Count, 0)), false);
  for (int32_t i = 0; i < table.Count; ++i) FExtraPropertyReadOnly[i] = table.Entries[i].ReadOnly;
  BuildMemberKeys();
}

void* TBaseDllObj::GetInterface(REFIID riid) {
  if (IsEqualIID(riid, IID_IBaseDllObj)) return static_cast<IBaseDllObj*>(&FBaseDllObjIntf);
  if (IsEqualIID(riid, IID_IDllObjMembers)) return static_cast<IDllObjMembers*>(&FMembersIntf);
  return TRootObject::GetInterface(riid);
}

// ---------------------------------------------------------------------------------------------
// Member lookups.

void TBaseDllObj::BuildMemberKeys() {
  std::map<WideString, TMemberKey> keys;
  auto add = [&](std::string_view utf8Name, int32_t number, bool isMethod, bool secondary) {
    if (utf8Name.empty()) return;
    WideString folded = platform::FoldedText(WideFromUtf8(utf8Name));
    TMemberKey& key = keys[folded];
    key.Folded = std::move(folded);
    int32_t& slot = isMethod ? key.Method : key.Property;
    if (slot == kNoMember) slot = number;  // the first in search order wins
    key.InSecondaryTable = key.InSecondaryTable || secondary;
  };
  // Search order: the primary methods, then the secondary ones; the extra properties, then
  // the property table.
  for (int32_t i = 0; i < FPrimaryMethods.Count; ++i) {
    const TNameHalves halves = SplitMethodName(FPrimaryMethods.Entries[i].Name);
    add(halves.First, kPrimaryMethodBase + i, true, false);
    add(halves.Second, kPrimaryMethodBase + i, true, false);
  }
  for (int32_t i = 0; i < FSecondaryMethods.Count; ++i) {
    const TNameHalves halves = SplitMethodName(FSecondaryMethods.Entries[i].Name);
    add(halves.First, kSecondaryMethodBase + i, true, true);
    add(halves.Second, kSecondaryMethodBase + i, true, true);
  }
  for (int32_t i = 0; i < FExtraProperties.Count; ++i) {
    add(FExtraProperties.Entries[i].Name, kExtraPropertyBase + i, false, false);
    add(FExtraProperties.Entries[i].EnglishName, kExtraPropertyBase + i, false, false);
  }
  for (int32_t i = 0; i < FProperties.Count; ++i) {
    add(FProperties.Entries[i].Name, kPropertyBase + i, false, false);
    add(FProperties.Entries[i].EnglishName, kPropertyBase + i, false, false);
  }
  FMemberKeys.clear();
  FLongestKey = 0;
  for (auto& [folded, key] : keys) {
    FLongestKey = std::max(FLongestKey, folded.size());
    key.Hash = FoldedNameHash(folded);
    FMemberKeys.push_back(std::move(key));
  }
  // At most half the slots in use, so that a probe ends soon.
  size_t slots = 16;
  while (slots < 2 * FMemberKeys.size()) slots *= 2;
  FMemberSlots.assign(slots, -1);
  for (size_t i = 0; i < FMemberKeys.size(); ++i) {
    size_t slot = FMemberKeys[i].Hash & (slots - 1);
    while (FMemberSlots[slot] != -1) slot = (slot + 1) & (slots - 1);
    FMemberSlots[slot] = static_cast<int32_t>(i);
  }
}

const TBaseDllObj::TMemberKey* TBaseDllObj::FindMemberKey(WideStringView name) const {
  // The name folded on the stack: a name longer than every key names no table member.
  constexpr size_t kFoldBuffer = 64;
  if (name.empty() || name.size() > FLongestKey || FMemberSlots.empty()) return nullptr;
  OLECHAR buffer[kFoldBuffer];
  WideString longName;
  OLECHAR* folded = buffer;
  if (name.size() > kFoldBuffer) {
    longName.resize(name.size());
    folded = longName.data();
  }
  platform::FoldUnits(name.data(), name.size(), folded);
  const uint32_t hash = FoldedNameHash(WideStringView(folded, name.size()));
  const size_t mask = FMemberSlots.size() - 1;
  for (size_t slot = hash & mask; FMemberSlots[slot] != -1; slot = (slot + 1) & mask) {
    const TMemberKey& key = FMemberKeys[static_cast<size_t>(FMemberSlots[slot])];
    if (key.Hash == hash && key.Folded.size() == name.size() &&
        std::equal(key.Folded.begin(), key.Folded.end(), folded))
      return &key;
  }
  return nullptr;
}

// The devices list's parameter definitions are texts in the host code page. A letter the code
// page lacks is kept there as '?', so a definition name holding '?' names nothing (it must not
// match another name of its length), and a name the code page cannot carry finds no definition.
int32_t TBaseDllObj::FindParamDefinition(WideStringView name) const {
  if (!FDevices || name.empty()) return kNoMember;
  TPropList& definitions = FDevices->ParamDefinitions();
  for (int32_t i = 0; i < definitions.Count(); ++i) {
    const TPropItem* item = definitions.Items(i);
    for (const AnsiString* text : {&item->Name, &item->Alias}) {
      if (text->empty() || text->find('?') != AnsiString::npos) continue;
      if (platform::SameFoldedText(WideFromAnsi(*text), name)) return kParamDefinitionBase + item->Index();
    }
  }
  return kNoMember;
}

int32_t TBaseDllObj::PropertyNumberOf(const TMemberKey* key, WideStringView name) const {
  if (key != nullptr && key->Property != kNoMember) return key->Property;
  return FindParamDefinition(name);
}

int32_t TBaseDllObj::FindMethod(WideStringView name) const {
  const TMemberKey* key = FindMemberKey(name);
  return key != nullptr ? key->Method : kNoMember;
}

int32_t TBaseDllObj::FindMethod(const AnsiString& name) const { return FindMethod(WideFromAnsi(name)); }

const TMethodEntry* TBaseDllObj::MethodEntry(int32_t number) const {
  if (number >= kPrimaryMethodBase && number < kPrimaryMethodBase + FPrimaryMethods.Count)
    return &FPrimaryMethods.Entries[number - kPrimaryMethodBase];
  if (number >= kSecondaryMethodBase && number < kSecondaryMethodBase + FSecondaryMethods.Count)
    return &FSecondaryMethods.Entries[number - kSecondaryMethodBase];
  return nullptr;
}

int32_t TBaseDllObj::FindProperty(WideStringView name) const { return PropertyNumberOf(FindMemberKey(name), name); }

int32_t TBaseDllObj::FindProperty(const AnsiString& name) const { return FindProperty(WideFromAnsi(name)); }

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
  const int32_t number = FindProperty(WideFromUtf8(kDeviceIsOnPropertyName));
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

// The module file does not change while it is loaded: the release read at construction holds.
uint16_t TBaseDllObj::ReadRelease() { return FRelease; }

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
  return SafeOperation([&] { *number = Owner.FVersionNumber; });
}

HRESULT STDMETHODCALLTYPE TBaseDllObj::TBaseDllObjIntf::GetInterfaceVersion(int32_t* version) {
  if (version == nullptr) return E_POINTER;
  return SafeOperation([&] { *version = Owner.GetInterfaceVersion(); });
}

HRESULT STDMETHODCALLTYPE TBaseDllObj::TBaseDllObjIntf::GetReserved(int32_t* value) {
  if (value == nullptr) return E_POINTER;
  return SafeOperation([&] { *value = 1; });
}

HRESULT STDMETHODCALLTYPE TBaseDllObj::TBaseDllObjIntf::GetModel(int32_t index, IUnknown** model) {
  if (model == nullptr) return E_POINTER;
  HRESULT result = S_OK;
  const HRESULT status = SafeOperation([&] {
    *model = nullptr;
    TModelPluList& models = Owner.FDevices->Models();
    if (index < 0 || index >= models.Count()) return;
    result = models.Items(index)->QueryInterface(IID_IModelPluItem2, reinterpret_cast<void**>(model));
  });
  if (FAILED(status)) return status;
  if (FAILED(result)) *model = nullptr;
  return result;
}

HRESULT STDMETHODCALLTYPE TBaseDllObj::TBaseDllObjIntf::SetHostValue(int32_t value) {
  return SafeOperation([&] { Owner.FHostValue = value; });
}

HRESULT STDMETHODCALLTYPE TBaseDllObj::TBaseDllObjIntf::SetEventSink(IUnknown* sink) {
  return SafeOperation([&] { Owner.SetEventSink(sink); });
}

void VESTREL_REGISTER_CALL TBaseDllObj::TBaseDllObjIntf::GetMembers(IDllObjMembers** members) {
  if (members == nullptr) return;
  try {
    THostCallScope hostCall;
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
  return SafeLookup([&] { return Owner.FindProperty(TextOf(name)) != kNoMember; });
}

bool VESTREL_REGISTER_CALL TBaseDllObj::TMembersIntf::IsMethod(BSTR name) {
  return SafeLookup([&] { return Owner.FindMethod(TextOf(name)) != kNoMember; });
}

bool VESTREL_REGISTER_CALL TBaseDllObj::TMembersIntf::IsSecondaryMethod(BSTR name) {
  return SafeLookup([&] {
    const TMemberKey* key = Owner.FindMemberKey(TextOf(name));
    return key != nullptr && key->InSecondaryTable;
  });
}

// The two halves of the switch methods' names.
static bool NamesEither(BSTR name, const char* first, const char* second) {
  const WideStringView text = TextOf(name);
  return platform::SameFoldedText(text, WideFromUtf8(first)) || platform::SameFoldedText(text, WideFromUtf8(second));
}

bool VESTREL_REGISTER_CALL TBaseDllObj::TMembersIntf::IsSwitchOn(BSTR name) {
  return SafeLookup([&] { return NamesEither(name, "Включить", "SwitchOn"); });
}

bool VESTREL_REGISTER_CALL TBaseDllObj::TMembersIntf::IsSwitchOff(BSTR name) {
  return SafeLookup([&] { return NamesEither(name, "Выключить", "SwitchOff"); });
}
