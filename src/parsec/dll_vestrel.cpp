#include "parsec/dll_vestrel.h"

#include <cstdint>

#include "automation/safe_array.h"
#include "base/errors.h"
#include "base/global_id.h"
#include "config/variant_types.h"
#include "devices/config_source.h"
#include "devices/devices_list.h"
#include "devices/model_list.h"
#include "driver/driver_instance.h"
#include "host/wire/variant_text.h"
#include "parsec/manager_vestrel.h"
#include "platform/desktop.h"
#include "platform/ole_ptr.h"

namespace {

// The longest beep the host may ask for.
constexpr int32_t kMaxBeepMilliseconds = 10000;

// ---------------------------------------------------------------------------------------------
// Arguments and results.

// An argument as a plain value: hosts pass arguments by reference (an automation caller's
// variant references), which the handlers read through.
OleVariant Argument(SAFEARRAY* arguments, LONG index) {
  OleVariant element;
  CheckOle(SafeArrayGetElement(arguments, &index, &element), "SafeArrayGetElement");
  if ((V_VT(&element) & VT_BYREF) == 0) return element;
  OleVariant value;
  CheckOle(VariantCopyInd(&value, &element), "VariantCopyInd");
  return value;
}

void WriteBack(SAFEARRAY* arguments, LONG index, const VARIANT& value) {
  CheckOle(SafeArrayPutElement(arguments, &index, const_cast<VARIANT*>(&value)), "SafeArrayPutElement");
}

void SetResult(VARIANT& result, const OleVariant& value) {
  VariantClear(&result);
  CheckOle(VariantCopy(&result, const_cast<OleVariant*>(&value)), "VariantCopy");
}
void SetResult(VARIANT& result, int32_t code) { SetResult(result, OleVariant(code)); }

TBaseDllObj& DriverOf(TCallContext context) { return *TBaseDllObj::GetBaseDll(context); }
TDevicesList& DevicesOf(TCallContext context) { return DriverOf(context).Devices(); }
// The device of the call: the device a host task names, else the list's current device.
TDeviceItem* DeviceOf(TCallContext context) { return DriverOf(context).DeviceFor(context); }

bool IsNumber(const VARIANT& value) { return VarTypeIn(value, {VT_I4, VT_R8, VT_R4}); }
bool IsInt32(const VARIANT& value) { return SimpleVarType(value) == VT_I4; }
bool IsText(const VARIANT& value) { return SimpleVarType(value) == VT_BSTR; }
bool IsXmlSource(const VARIANT& value) { return IsTextSource(value) || IsNodeSource(value); }
// The text of a text variant, by value or by reference.
BSTR ValueText(const VARIANT& value) {
  return (V_VT(&value) & VT_BYREF) != 0 ? *V_BSTRREF(&value) : V_BSTR(&value);
}

int32_t ToInt32(const VARIANT& value) {
  OleVariant converted;
  CheckOle(VariantChangeType(&converted, const_cast<VARIANT*>(&value), 0, VT_I4), "VariantChangeType");
  return V_I4(&converted);
}

// A whole number of the argument; a non-numeric argument counts as 0.
int32_t NumberOrZero(const VARIANT& value) {
  OleVariant converted;
  if (FAILED(VariantChangeType(&converted, const_cast<VARIANT*>(&value), 0, VT_I4))) return 0;
  return V_I4(&converted);
}

// ---------------------------------------------------------------------------------------------
// Method table A.

void ChoiceDevice(TCallContext context, SAFEARRAY* arguments, VARIANT& result) {
  SetResult(result, DevicesOf(context).SelectDevice(Argument(arguments, 0)));
}

// ---------------------------------------------------------------------------------------------
// Method table B.

void ResultDescription(TCallContext context, SAFEARRAY* arguments, VARIANT& result) {
  const OleVariant code = Argument(arguments, 0);
  if (!IsNumber(code)) return SetResult(result, DEVICE_BAD_PARAM_TYPE);
  const int32_t number = ToInt32(code);
  TDeviceItem* device = DeviceOf(context);
  const AnsiString text = device ? device->GetErrorText(number) : DevicesOf(context).GetErrorText(number);
  SetResult(result, OleVariant(WideFromAnsi(text)));
}

void SettingDevices(TCallContext context, SAFEARRAY* arguments, VARIANT& result) {
  const OleVariant source = Argument(arguments, 0);
  if (!IsXmlSource(source)) return SetResult(result, DEVICE_BAD_PARAM_TYPE);
  TDevicesList& devices = DevicesOf(context);
  const int32_t code = devices.LoadDevices(source);
  SetResult(result, code);
  devices.DropThreadDevices();
}

void DeleteDevice(TCallContext context, SAFEARRAY* arguments, VARIANT& result) {
  const OleVariant number = Argument(arguments, 0);
  TDevicesList& devices = DevicesOf(context);
  if (!IsInt32(number)) return SetResult(result, DEVICE_NOT_ACTIVE);
  const int32_t index = ToInt32(number);
  if (index < 1 || index > devices.Count()) return SetResult(result, DEVICE_NOT_ACTIVE);
  // The device at that number, even when another device carries the same identifier.
  devices.DetachDevice(devices.GetItem(index - 1));
  SetResult(result, DEVICE_OK);
}

void AddDeviceWith(TCallContext context, SAFEARRAY* arguments, VARIANT& result, bool withDialog) {
  OleVariant source = Argument(arguments, 0);
  TDevicesList& devices = DevicesOf(context);
  const int32_t code = devices.AddDevice(source, withDialog);
  SetResult(result, code);
  devices.DropThreadDevices();
  if (code == DEVICE_OK) WriteBack(arguments, 0, source);
}
// The extended form adds from the description as it stands; the plain form asks the user
// for the settings in the device's dialog.
void AddDeviceEx(TCallContext context, SAFEARRAY* arguments, VARIANT& result) {
  AddDeviceWith(context, arguments, result, false);
}
void AddDevice(TCallContext context, SAFEARRAY* arguments, VARIANT& result) {
  AddDeviceWith(context, arguments, result, true);
}

void SettingsDeviceEx(TCallContext context, SAFEARRAY* arguments, VARIANT& result) {
  const OleVariant id = Argument(arguments, 0);
  OleVariant settings = Argument(arguments, 1);
  TDevicesList& devices = DevicesOf(context);
  const int32_t code = devices.EditDevice(id, settings);
  SetResult(result, code);
  devices.DropThreadDevices();
  if (code == DEVICE_OK) {
    WriteBack(arguments, 0, id);
    WriteBack(arguments, 1, settings);
  }
}

void DoNothing(TCallContext, SAFEARRAY*, VARIANT& result) { SetResult(result, DEVICE_OK); }

void GetPlgInfo(TCallContext context, SAFEARRAY* arguments, VARIANT& result) {
  TDevicesList& devices = DevicesOf(context);
  const OleVariant catalogue = Argument(arguments, 7);
  if (IsXmlSource(catalogue)) devices.LoadModelCatalogue(catalogue);
  const TModelPluItem* model = devices.Models().Count() > 0 ? devices.Models().Items(0) : nullptr;
  if (model != nullptr) {
    const OleVariant values[12] = {
        OleVariant(GlobalIdToStr(model->ClassId)),
        OleVariant(model->DisplayName),
        OleVariant(model->Flag1),
        OleVariant(model->Flag2),
        OleVariant(model->Flag3),
        OleVariant(model->Flag4),
        OleVariant(model->UsesHost),
        OleVariant(model->DefinitionsXml()),
        OleVariant(model->ModelKey),
        OleVariant(model->EquipmentClass),
        OleVariant(model->ClassDescription),
        // The devices list's address identifies it to the host (a 32-bit value, as the host
        // keeps it).
        OleVariant(static_cast<int32_t>(reinterpret_cast<intptr_t>(&devices))),
    };
    for (LONG k = 0; k < 12; ++k) WriteBack(arguments, k, values[k]);
  }
  SetResult(result, DEVICE_OK);
}

void GetSettingsXml(TCallContext context, SAFEARRAY* arguments, VARIANT& result) {
  const OleVariant key = Argument(arguments, 0);
  if (!IsInt32(key) && !IsText(key)) return SetResult(result, DEVICE_BAD_PARAM_TYPE);
  // A device identifier selects that device; any other key selects every device.
  const bool byId = IsText(key) && IsGlobalId(key) && SysStringLen(ValueText(key)) > 0;
  OleVariant document;
  const int32_t code = DevicesOf(context).GetDeviceSettings(byId ? key : OleVariant(0), document);
  SetResult(result, code);
  if (code == DEVICE_OK) {
    WriteBack(arguments, 0, key);
    WriteBack(arguments, 1, document);
  }
}

// Writes "УстройствоВключено" of the call's device, then raises the device's failure.
void Switch(TCallContext context, VARIANT& result, int32_t on) {
  SetResult(result, DEVICE_OK);
  TDeviceItem* device = DeviceOf(context);
  if (device == nullptr) {
    // No device to switch: the orderly failure is "no device" with the list's text for it.
    SetResult(result, DEVICE_NOT_ACTIVE);
    throw EHardwareEquipmentException(DEVICE_NOT_ACTIVE, DevicesOf(context).GetErrorText(DEVICE_NOT_ACTIVE));
  }
  device->SetErrorCode(DEVICE_OK);
  device->SetActive(on);
  const int32_t code = device->ErrorCode();
  SetResult(result, code);
  if (code != DEVICE_OK) throw EHardwareEquipmentException(code, device->GetErrorText(code));
}
void SwitchOn(TCallContext context, SAFEARRAY*, VARIANT& result) { Switch(context, result, 1); }
void SwitchOff(TCallContext context, SAFEARRAY*, VARIANT& result) { Switch(context, result, 0); }

void GetProps(TCallContext context, SAFEARRAY* arguments, VARIANT& result) {
  TDeviceItem* device = DeviceOf(context);
  if (device == nullptr) return SetResult(result, DEVICE_NOT_ACTIVE);
  OleVariant table;
  const int32_t code = device->GetPropertyTable(table);
  SetResult(result, code);
  if (code == DEVICE_OK) WriteBack(arguments, 0, table);
}

void SetProps(TCallContext context, SAFEARRAY* arguments, VARIANT& result) {
  TDeviceItem* device = DeviceOf(context);
  if (device == nullptr) return SetResult(result, DEVICE_NOT_ACTIVE);
  device->ApplyPropertyTable(Argument(arguments, 0));
  SetResult(result, DEVICE_OK);
}

void CreateComSafeArray(TCallContext, SAFEARRAY* arguments, VARIANT& result) {
  const int32_t rows = NumberOrZero(Argument(arguments, 0));
  const int32_t columns = NumberOrZero(Argument(arguments, 1));
  ComPtr<ISafeArray> array = CreateSafeArray();
  CheckOle(array->SetBounds(rows, columns), "SetBounds");
  SetResult(result, OleVariant(static_cast<IDispatch*>(array.Get())));
}

void Beep(TCallContext, SAFEARRAY* arguments, VARIANT& result) {
  const OleVariant frequency = Argument(arguments, 0);
  const OleVariant duration = Argument(arguments, 1);
  if (!IsInt32(frequency) || !IsInt32(duration)) return SetResult(result, DEVICE_BAD_PARAM_TYPE);
  // The system's beep holds the calling thread (the host's) for the whole duration; a
  // negative one would be read as about 49 days.
  const int32_t milliseconds = ToInt32(duration);
  if (milliseconds < 0 || milliseconds > kMaxBeepMilliseconds) return SetResult(result, VESTREL_BAD_PARAMETER_VALUE);
  platform::SpeakerBeep(static_cast<uint32_t>(ToInt32(frequency)), static_cast<uint32_t>(milliseconds));
  SetResult(result, DEVICE_OK);
}

// ---------------------------------------------------------------------------------------------
// Properties.

void SetValue(VARIANT& value, const OleVariant& source) {
  VariantClear(&value);
  CheckOle(VariantCopy(&value, const_cast<OleVariant*>(&source)), "VariantCopy");
}

bool PropertyPageEnabled(TCallContext context, int32_t set, VARIANT& value, std::string_view) {
  TDevicesList& devices = DevicesOf(context);
  if (set != 0) {
    devices.SetPropertyPageEnabled(ToInt32(value));
  } else {
    SetValue(value, OleVariant(devices.PropertyPageEnabled()));
  }
  return true;
}

bool DeviceNumber(TCallContext context, int32_t set, VARIANT& value, std::string_view) {
  TDevicesList& devices = DevicesOf(context);
  if (set != 0) {
    devices.SetCurrent(ToInt32(value));
  } else {
    SetValue(value, OleVariant(devices.Current()));
  }
  return true;
}

bool DeviceName(TCallContext context, int32_t set, VARIANT& value, std::string_view) {
  if (set != 0) return false;
  TDeviceItem* device = DeviceOf(context);
  SetValue(value, OleVariant(WideFromAnsi(device ? device->DeviceName() : AnsiString())));
  return true;
}

bool DevicesQuantity(TCallContext context, int32_t set, VARIANT& value, std::string_view) {
  if (set != 0) return false;
  SetValue(value, OleVariant(DevicesOf(context).Count()));
  return true;
}

bool DeviceIsOn(TCallContext context, int32_t set, VARIANT& value, std::string_view) {
  TDeviceItem* device = DeviceOf(context);
  if (set == 0) {
    SetValue(value, OleVariant(device != nullptr && device->GetActive() != 0 ? 1 : 0));
    return true;
  }
  if (device == nullptr) return false;
  device->SetErrorCode(DEVICE_OK);
  device->SetActive(NumberOrZero(value) != 0 ? 1 : 0);
  return true;
}

bool ResultProperty(TCallContext context, int32_t set, VARIANT& value, std::string_view) {
  if (set != 0) return false;
  TDeviceItem* device = DeviceOf(context);
  SetValue(value, OleVariant(device ? device->ErrorCode() : DEVICE_NOT_ACTIVE));
  return true;
}

bool ReleaseProperty(TCallContext context, int32_t set, VARIANT& value, std::string_view) {
  if (set != 0) return false;
  OleVariant release;
  V_VT(&release) = VT_UI2;
  V_UI2(&release) = DriverOf(context).ReadRelease();
  SetValue(value, release);
  return true;
}

// ---------------------------------------------------------------------------------------------
// The tables. Table A's name stands English first, as hosts know it.

constexpr TMethodEntry kMethodsA[] = {
    {"ChoiceDevice,ВыбратьУстройство", 1, &ChoiceDevice, 1},
};

constexpr TMethodEntry kMethodsB[] = {
    {"ResultDescription,ОписаниеОшибки", 1, &ResultDescription, 1},
    {"НастроитьУстройства,SettingDevices", 1, &SettingDevices, 1},
    {"УдалитьУстройство,DeleteDevice", 1, &DeleteDevice, 1},
    {"ДобавитьУстройствоРасш,AddDeviceEx", 1, &AddDeviceEx, 1},
    {"ДобавитьУстройство,AddDevice", 1, &AddDevice, 1},
    {"ИзменитьУстройствоРасш,SettingsDeviceEx", 2, &SettingsDeviceEx, 1},
    {"СохранитьНастройки,SaveSettings", 0, &DoNothing, 1},
    {"ИнформацияОПлагине,GetPlgInfo", 13, &GetPlgInfo, 1},
    {"ПолучитьНастройкиXML,GetSettingsXML", 2, &GetSettingsXml, 1},
    {"Включить,SwitchOn", 1, &SwitchOn, 1},
    {"Выключить,SwitchOff", 1, &SwitchOff, 1},
    {"ПолучитьСвойства,GetProps", 1, &GetProps, 1},
    {"УстановитьСвойства,SetProps", 1, &SetProps, 1},
    {"СоздатьПараметры,CreateComSafeArray", 2, &CreateComSafeArray, 1},
    {"Гудок,Beep", 2, &Beep, 1},
    {"ЗагрузитьНастройки,LoadSettings", 0, &DoNothing, 1},
    {"ОтобразитьСтраницуСвойств,ShowPropertyPage", 1, &DoNothing, 1},
};

constexpr TPropertyEntry kProperties[] = {
    {"ДоступностьСтраницыСвойств", "PropertyPageEnabled", "Доступность страницы свойств", "Integer", false, "0", "",
     &PropertyPageEnabled},
    {"НомерУстройства", "DeviceNumber", "Номер устройства", "Integer", false, "0", "", &DeviceNumber},
    {"ИмяУстройства", "DeviceName", "Имя устройства", "String", true, "", "", &DeviceName},
    {"КоличествоУстройств", "DevicesQuantity", "Количество устройств", "Integer", true, "0", "", &DevicesQuantity},
    {"УстройствоВключено", "DeviceIsOn", "Устройство включено", "Integer", false, "0", "", &DeviceIsOn},
    {"Результат", "Result", "Результат", "Integer", true, "0", "", &ResultProperty},
    {"Релиз", "Release", "Релиз", "Integer", true, "0", "", &ReleaseProperty},
};

static_assert(std::size(kMethodsA) == 1 && std::size(kMethodsB) == 17 && std::size(kProperties) == 7);

std::unique_ptr<TDevicesList> MakeVestrelDevices() {
  return std::make_unique<TManagerVestrelList>(ItemClassOf<TManagerVestrel>());
}

}  // namespace

TMethodTable TDllVestrel::MethodsA() { return MemberTable(kMethodsA); }
TMethodTable TDllVestrel::MethodsB() { return MemberTable(kMethodsB); }
TPropertyTable TDllVestrel::Properties() { return MemberTable(kProperties); }

TDllVestrel::TDllVestrel(TBaseDllObj** instanceVariable, TCallHandler callHandler)
    : TBaseDllScanner(TDriverTables{MethodsA(), MethodsB(), Properties()}, &MakeVestrelDevices, instanceVariable,
                      callHandler) {}

std::unique_ptr<TBaseDllObj> CreateVestrelDriver() {
  return std::make_unique<TDllVestrel>(&DriverInstance(), &DispatchToDriverInstance);
}
