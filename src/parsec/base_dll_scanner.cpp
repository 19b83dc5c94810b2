#include "parsec/base_dll_scanner.h"

#include "config/variant_types.h"
#include "devices/device_item.h"
#include "devices/prop_list.h"
#include "host/wire/variant_text.h"

namespace {

// The texts stand exactly as hosts know them (hosts compare them), including the spelling
// of the second description.
constexpr TPropertyEntry kScannerParameters[] = {
    {"Использовать", "", "Использовать", "Integer", false, "1",
     "Признак того, что данное устройство может быть использовано (включено выключено и т.д.)\r\nДопустимые значения: 0 - не может быть использовано, 1 - может",
     &TBaseDllScanner::DeviceParameter},
    {"Неразделяемое", "", "Неразделяемое", "Integer", false, "0",
     "Поведение оборудования при нескольких запушенных копий продукта на одной машине или в терминальной сессии\r\nЗначение: 0 – Оборудование создается только на главной сессии;\r\n1 – Каждый экземпляр точки доступа создает свое локальное оборудование",
     &TBaseDllScanner::DeviceParameter},
};

}  // namespace

TBaseDllScanner::TBaseDllScanner(const TDriverTables& tables, TDevicesListFactory makeDevices,
                                 TBaseDllObj** instanceVariable, TCallHandler callHandler)
    : TBaseDllObj(tables, makeDevices, instanceVariable, callHandler) {
  SetExtraProperties(MemberTable(kScannerParameters));
  SetParamDefinitionHandler(&DeviceParameter);
}

bool TBaseDllScanner::DeviceParameter(TCallContext context, int32_t set, VARIANT& value, std::string_view name) {
  TDeviceItem* device = GetBaseDll(context)->DeviceFor(context);
  if (device == nullptr) return false;
  const AnsiString parameter = AnsiFromUtf8(name);
  if (set != 0) {
    WideString text;
    VariantToText(value, text);
    device->SetParamValue(parameter, AnsiFromWide(text));
    return true;
  }
  // The typed value when the device has such a parameter item (a number for "Integer").
  bool found = false;
  AnsiString typeName, text;
  device->WithProps([&](TPropList& props) {
    if (const TPropItem* item = props.FindProp(parameter)) {
      found = true;
      typeName = item->TypeName;
    }
  });
  text = device->GetParamValue(parameter);
  OleVariant result = found ? TypedValue(typeName, text) : OleVariant(WideFromAnsi(text));
  VariantClear(&value);
  VariantCopy(&value, &result);
  return true;
}
