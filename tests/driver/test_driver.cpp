#include "test_driver.h"

#include <cstring>

#include "host/wire/host_string.h"

namespace {

OleVariant Element(SAFEARRAY* array, LONG index) {
  OleVariant value;
  CheckOle(SafeArrayGetElement(array, &index, &value), "SafeArrayGetElement");
  return value;
}

void Store(SAFEARRAY* array, LONG index, const OleVariant& value) {
  CheckOle(SafeArrayPutElement(array, &index, const_cast<OleVariant*>(&value)), "SafeArrayPutElement");
}

void Note(const char* call, TCallContext context) {
  THandlerLog& log = HandlerLog();
  log.Calls.push_back(call);
  log.Context = context;
  TBaseDllObj* driver = TBaseDllObj::GetBaseDll(context);
  log.DeviceDuringCall = driver->DeviceFor(context);
  log.CallContextDuringCall = log.DeviceDuringCall ? log.DeviceDuringCall->CallContext() : nullptr;
}

void Add(TCallContext context, SAFEARRAY* arguments, VARIANT& result) {
  Note("Add", context);
  for (LONG k = 0; k < 3; ++k) {
    OleVariant value = Element(arguments, k);
    CheckOle(VariantChangeType(&value, &value, 0, VT_I4), "VariantChangeType");
    Store(arguments, k, OleVariant(V_I4(&value) * 2));
  }
  V_VT(&result) = VT_I4;
  V_I4(&result) = 0;
}

void Fail(TCallContext context, SAFEARRAY* arguments, VARIANT& result) {
  Note("Fail", context);
  OleVariant value = Element(arguments, 0);
  VariantCopy(&result, &value);
}

void Choice(TCallContext context, SAFEARRAY*, VARIANT& result) {
  Note("Choice", context);
  V_VT(&result) = VT_BSTR;
  V_BSTR(&result) = SysAllocString(OLESTR("chosen"));
}

void Secondary(TCallContext context, SAFEARRAY*, VARIANT&) { Note("Secondary", context); }

bool NumberProperty(TCallContext context, int32_t set, VARIANT& value, std::string_view name) {
  Note(set ? "Number:set" : "Number:get", context);
  if (set) {
    HandlerLog().LastValue = OleVariant(value);
  } else {
    V_VT(&value) = VT_I4;
    V_I4(&value) = 42;
  }
  return true;
}

bool SwitchProperty(TCallContext context, int32_t set, VARIANT& value, std::string_view) {
  Note(set ? "Switch:set" : "Switch:get", context);
  return true;
}

constexpr TMethodEntry kPrimary[] = {
    {"Сложить,Add", 3, &Add, 1},
    {"Ошибка,Fail", 1, &Fail, 1},
    {"ChoiceDevice,ВыбратьУстройство", 0, &Choice, 1},
};
constexpr TMethodEntry kSecondary[] = {
    {"Вторичный,Secondary", 0, &Secondary, 1},
};
constexpr TPropertyEntry kProperties[] = {
    {"Номер", "Number", "Номер", "Integer", false, "0", "", &NumberProperty},
    {"Релиз", "Release", "Релиз", "Integer", true, "0", "", &NumberProperty},
    {"УстройствоВключено", "DeviceIsOn", "Включено", "Integer", false, "0", "", &SwitchProperty},
};

TBaseDllObj* gUnusedInstance = nullptr;

BOOL WINAPI UnusedHandler(TParams*, IUnknown*) { return FALSE; }

}  // namespace

THandlerLog& HandlerLog() {
  static THandlerLog log;
  return log;
}

TTestDriver::TTestDriver()
    : TBaseDllObj(TDriverTables{MemberTable(kPrimary), MemberTable(kSecondary), MemberTable(kProperties)},
                  &TTestDriver::MakeDevices, &gUnusedInstance, &UnusedHandler) {}

TDeviceItem* AddDevice(TBaseDllObj& driver, bool makeCurrent) {
  auto* device = static_cast<TDeviceItem*>(driver.Devices().Add());
  if (makeCurrent) driver.Devices().SetCurrent(driver.Devices().Count());
  return device;
}

TParamsPtr CallBlock(const char* utf8Name, int32_t kind, std::vector<OleVariant> arguments) {
  TParamsPtr block = MakeParams();
  block->SetName(AnsiFromUtf8(utf8Name));
  block->AddParam(OleVariant());
  block->AddParam(OleVariant(WideFromUtf8(utf8Name)));
  block->AddParam(OleVariant(kind));
  for (const OleVariant& argument : arguments) block->AddParam(argument);
  return block;
}

OleVariant ParamOf(const TParams& block, int32_t index) {
  OleVariant value;
  block.GetParam(index, value);
  return value;
}

int32_t IntParam(const TParams& block, int32_t index) {
  const OleVariant value = ParamOf(block, index);
  return V_VT(&value) == VT_I4 ? V_I4(&value) : 0;
}

std::string TextParam(const TParams& block, int32_t index) {
  const OleVariant value = ParamOf(block, index);
  if (V_VT(&value) != VT_BSTR || V_BSTR(&value) == nullptr) return {};
  return Utf8FromWide(WideStringView(V_BSTR(&value), SysStringLen(V_BSTR(&value))));
}

std::string ErrorTextOf(const TParams& block) {
  if (V_VT(&block.ErrorText) != VT_BSTR || V_BSTR(&block.ErrorText) == nullptr) return {};
  return Utf8FromWide(WideStringView(V_BSTR(&block.ErrorText), SysStringLen(V_BSTR(&block.ErrorText))));
}

TFakeHostTask::TFakeHostTask(const char* className, const GUID& deviceId) {
  FClassName.push_back(static_cast<unsigned char>(std::strlen(className)));
  FClassName.insert(FClassName.end(), className, className + std::strlen(className));
  const size_t slots = static_cast<size_t>(-vestrel::kHostClassNameSlotOffset) / sizeof(void*);
  FClass.assign(slots + 1, nullptr);
  FClass[0] = FClassName.data();
  FObject.assign(kObjectOffset + vestrel::kHostTaskDriverSlotOffset + sizeof(void*), 0);
  const void* classRef = &FClass[slots];
  std::memcpy(Object(), &classRef, sizeof(classRef));
  std::memcpy(static_cast<char*>(Object()) + vestrel::kHostTaskDeviceIdOffset, &deviceId, sizeof(deviceId));
}

void* TFakeHostTask::DriverSlot() const {
  void* slot = nullptr;
  std::memcpy(&slot, FObject.data() + kObjectOffset + vestrel::kHostTaskDriverSlotOffset, sizeof(slot));
  return slot;
}
