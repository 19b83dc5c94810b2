// The dispatcher of the driver object: every host call runs through TBaseDllObj::Execute.
#include "driver/dispatch.h"

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "automation/safe_array.h"
#include "base/errors.h"
#include "base/execution_mode.h"
#include "devices/device_item.h"
#include "devices/devices_list.h"
#include "devices/prop_list.h"
#include "driver/driver_object.h"
#include "host/wire/host_string.h"
#include "host/wire/params.h"
#include "host/wire/variant_text.h"
#include "platform/ole_ptr.h"
#include "platform/structured_exception.h"

namespace {

constexpr int32_t kFirstArgument = vestrel::kParamFirstArgument;

// The call kind of parameter 2.
constexpr int32_t kKindMethod = vestrel::kCallMethod;
constexpr int32_t kKindGet = vestrel::kCallPropertyGet;
constexpr int32_t kKindSet = vestrel::kCallPropertySet;

bool IsBuiltinName(std::string_view name) {
  return name == kBuiltinFree || name == kBuiltinLoad || name == kBuiltinEventSupport || name == kBuiltinSwitchOff ||
         name == kBuiltinStatistics;
}

OleVariant Param(const TParams& block, int32_t index) {
  OleVariant value;
  block.GetParam(index, value);
  return value;
}

// The member name of parameter 1, read where it stands when it is a wide text; `storage` keeps
// the text of any other value.
WideStringView MemberNameOf(const TParams& block, WideString& storage) {
  const VARIANT& value = ParamInPlace(block, vestrel::kParamMemberName);
  if (V_VT(&value) == VT_BSTR) {
    return V_BSTR(&value) == nullptr ? WideStringView() : WideStringView(V_BSTR(&value), SysStringLen(V_BSTR(&value)));
  }
  VariantToText(value, storage);
  return storage;
}

int32_t CallKindOf(const TParams& block) {
  const VARIANT& value = ParamInPlace(block, vestrel::kParamCallKind);
  return V_VT(&value) == VT_I4 ? V_I4(&value) : VariantToInt32(value);
}

// Nothing of a call may change before it is certain that its results can be written back.
void CheckWritable(const TParams& block, int32_t index) {
  if (!CanSetParam(block, index)) RaiseUnsupportedParamType();
}

// An ordinal value (an integer type or a Boolean) that is not 0: a device error code.
std::optional<int32_t> ErrorCodeOf(const VARIANT& result) {
  switch (V_VT(&result)) {
    case VT_I1: return V_I1(&result) != 0 ? std::optional<int32_t>(V_I1(&result)) : std::nullopt;
    case VT_UI1: return V_UI1(&result) != 0 ? std::optional<int32_t>(V_UI1(&result)) : std::nullopt;
    case VT_I2: return V_I2(&result) != 0 ? std::optional<int32_t>(V_I2(&result)) : std::nullopt;
    case VT_UI2: return V_UI2(&result) != 0 ? std::optional<int32_t>(V_UI2(&result)) : std::nullopt;
    case VT_I4: return V_I4(&result) != 0 ? std::optional<int32_t>(V_I4(&result)) : std::nullopt;
    case VT_UI4: return V_UI4(&result) != 0 ? std::optional<int32_t>(static_cast<int32_t>(V_UI4(&result))) : std::nullopt;
    case VT_INT: return V_INT(&result) != 0 ? std::optional<int32_t>(V_INT(&result)) : std::nullopt;
    case VT_UINT: return V_UINT(&result) != 0 ? std::optional<int32_t>(static_cast<int32_t>(V_UINT(&result))) : std::nullopt;
    case VT_I8: return V_I8(&result) != 0 ? std::optional<int32_t>(static_cast<int32_t>(V_I8(&result))) : std::nullopt;
    case VT_UI8: return V_UI8(&result) != 0 ? std::optional<int32_t>(static_cast<int32_t>(V_UI8(&result))) : std::nullopt;
    case VT_BOOL: return V_BOOL(&result) != 0 ? std::optional<int32_t>(V_BOOL(&result)) : std::nullopt;
    default: return std::nullopt;
  }
}

// The two-dimensional array object that parameter 3 holds (a value: GetParam followed the
// host's reference), if it holds one.
ComPtr<ISafeArray> ArrayObjectOf(const VARIANT& value) {
  ComPtr<ISafeArray> array;
  if ((V_VT(&value) != VT_DISPATCH && V_VT(&value) != VT_UNKNOWN) || !IsSafeArray(value)) return array;
  IUnknown* object = V_VT(&value) == VT_DISPATCH ? V_DISPATCH(&value) : V_UNKNOWN(&value);
  if (object != nullptr) {
    platform::CallGuarded([&] { object->QueryInterface(IID_ISafeArray, array.PutVoid()); });
  }
  return array;
}

// Clears the call context of the call's device when the call ends, also after a failure.
class TCallContextReset {
public:
  explicit TCallContextReset(TDeviceItem* device) : FDevice(device) {}
  ~TCallContextReset() {
    if (FDevice != nullptr) FDevice->SetCallContext(nullptr);
  }
  TCallContextReset(const TCallContextReset&) = delete;
  TCallContextReset& operator=(const TCallContextReset&) = delete;

private:
  TDeviceItem* FDevice;
};

// A device name on one line of the statistics text.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

}  // namespace

std::string DevicesStatisticsText(TDevicesList& devices) {
  std::string text;
  const TDevicesList::TStatisticsSource source = devices.StatisticsSource();
  for (int32_t index = 0; index < devices.Count(); ++index) {
    // The device lives while its lines are made, whatever its own statistics do.
    const ComPtr<TDeviceItem> device(devices.GetItem(index));
    if (!device) continue;
    text += "device=" + std::to_string(index + 1) + ";on=" + (device->Active() ? "1" : "0") +
            ";id=" + Utf8FromWide(GlobalIdToStr(device->DeviceId())) + ";name=" + OneLine(Utf8FromAnsi(device->DeviceName())) +
            "\r\n";
    if (source != nullptr) text += source(*device);
  }
  return text;
}

bool TBaseDllObj::Execute(TParams* params, TCallContext context) {
  bool result = true;
  for (TParams* block = params; block != nullptr; block = block->Next) {
    result = false;
    const std::string_view name = HostStringView(block->Name);
    if (IsBuiltinName(name)) return RunBuiltin(*block, name);
    bool stop = false;
    result = ExecuteBlock(*block, context, stop);
    if (stop) break;
  }
  return result;
}

bool TBaseDllObj::RunBuiltin(TParams& block, std::string_view name) {
  if (name == kBuiltinFree) {
    FreeDevices();
    FreeStorageAttachedToHostBlocks();
  } else if (name == kBuiltinEventSupport) {
    IUnknown* sink = block.Sink;
    platform::CallGuarded([&] { FHostLink = sink; });
    AnswerInParamZero(block, MembersInterface());
    platform::CallGuarded([&] { FDevices->SetEventSink(sink); });
    if (ExecutionMode() != EXECUTION_MODE_V7) MarkDeviceSwitchReadOnly();
  } else if (name == kBuiltinSwitchOff) {
    FDevices->SwitchAllOff();
  } else if (name == kBuiltinStatistics) {
    const WideString text = WideFromUtf8(DevicesStatisticsText(*FDevices));
    OleVariant answer;
    V_VT(&answer) = VT_BSTR;
    V_BSTR(&answer) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    AnswerValueInParamZero(block, answer);
    return true;
  }
  // "__Load" does nothing.
  return false;
}

bool TBaseDllObj::ExecuteBlock(TParams& block, TCallContext context, bool& stop) {
  if (block.Count() < kFirstArgument) RaiseText(AnsiFromUtf8("Недостаточно параметров при вызове метода"));
  WideString nameStorage;
  const WideStringView name = MemberNameOf(block, nameStorage);
  if (name.empty()) RaiseText(AnsiFromUtf8("Не указано имя метода"));
  int32_t kind = CallKindOf(block);

  // A host task records the driver that serves it; without a context the driver is the context.
  if (context != nullptr && context != this && IsHostTask(context)) {
    TBaseDllObj* self = this;
    platform::CallGuarded([&] {
      std::memcpy(static_cast<char*>(context) + vestrel::kHostTaskDriverSlotOffset, &self, sizeof(self));
    });
  } else if (context == nullptr) {
    context = this;
  }

  const TMemberKey* key = FindMemberKey(name);
  const TMethodEntry* method = key != nullptr ? MethodEntry(key->Method) : nullptr;
  const int32_t propertyNumber = PropertyNumberOf(key, name);
  const TPropertyEntry* property = PropertyEntry(propertyNumber);
  // The call's device lives until the call ends, whatever the handler or another thread does
  // with the devices list meanwhile.
  const ComPtr<TDeviceItem> device(DeviceFor(context));
  TCallContextReset contextReset(device.Get());

  if (method == nullptr && propertyNumber == kNoMember) RaiseError(ERR_MEMBER_NOT_FOUND, {AnsiFromWide(name)});
  if (method != nullptr && kind == kKindGet) kind = kKindMethod;

  if ((kind == kKindMethod || kind == kKindSet) && method == nullptr) {
    if (kind == kKindMethod) RaiseError(ERR_MEMBER_NOT_FOUND, {AnsiFromWide(name)});
    if (PropertyReadOnly(propertyNumber))
      RaiseText(FormatText(AnsiFromUtf8("Свойство [%s] доступно только для чтения"), {AnsiFromWide(name)}));
    TPropertyHandler handler = nullptr;
    std::string_view propertyName;
    std::string storage;
    if (PropertyHandlerOf(propertyNumber, handler, propertyName, storage)) {
      OleVariant value = Param(block, kFirstArgument);
      handler(context, 1, value, propertyName);
    }
    stop = true;
    return true;
  }
  if (kind == kKindMethod || kind == kKindSet) {
    CallMethod(block, name, *method, context, device.Get());
    return true;
  }
  if (kind == kKindGet && (property != nullptr || propertyNumber >= kParamDefinitionBase)) {
    CheckWritable(block, vestrel::kParamResult);
    TPropertyHandler handler = nullptr;
    std::string_view propertyName;
    std::string storage;
    OleVariant value;
    if (PropertyHandlerOf(propertyNumber, handler, propertyName, storage)) handler(context, 0, value, propertyName);
    TakeParam(block, vestrel::kParamResult, value);
    return true;
  }
  return false;
}

bool TBaseDllObj::PropertyHandlerOf(int32_t number, TPropertyHandler& handler, std::string_view& name,
                                    std::string& storage) const {
  if (const TPropertyEntry* entry = PropertyEntry(number)) {
    handler = entry->Handler;
    name = entry->Name;
    return handler != nullptr;
  }
  if (number < kParamDefinitionBase || FParamDefinitionHandler == nullptr) return false;
  TPropList& definitions = FDevices->ParamDefinitions();
  const int32_t index = number - kParamDefinitionBase;
  if (index < 0 || index >= definitions.Count()) return false;
  handler = FParamDefinitionHandler;
  storage = Utf8FromAnsi(definitions.Items(index)->Name);
  name = storage;
  return true;
}

void TBaseDllObj::CallMethod(TParams& block, WideStringView name, const TMethodEntry& method, TCallContext context,
                             TDeviceItem* device) {
  const int32_t required = method.ParamCount;
  int32_t passed = block.Count() - kFirstArgument;

  // One array argument: a two-dimensional array object with `required` rows and one column
  // carries the arguments in its column 0, and gets the handler's values back there.
  ComPtr<ISafeArray> arrayArgument;
  if (passed != required && passed == 1) {
    if (ComPtr<ISafeArray> array = ArrayObjectOf(Param(block, kFirstArgument))) {
      LONG rows = 0, columns = 0;
      platform::CallGuarded([&] { array->GetBounds(&rows, &columns); });
      if (rows == required && columns == 1) {
        arrayArgument = array;
        passed = required;
      } else {
        passed = 0;
      }
    }
  }
  if (passed != required) {
    RaiseText(AnsiFromUtf8("Неверное количество переданных параметров\r\nФункция [") + AnsiFromWide(name) + "]\r\n" +
              AnsiFromUtf8("Передано: ") + std::to_string(passed) + "\r\n" + AnsiFromUtf8("Необходимо: ") +
              std::to_string(required));
  }
  CheckWritable(block, vestrel::kParamResult);
  if (!arrayArgument) {
    for (int32_t k = 0; k < required; ++k) CheckWritable(block, kFirstArgument + k);
  }

  SafeArrayPtr arguments(SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(required)));
  if (!arguments) throw std::bad_alloc();
  for (LONG k = 0; k < required; ++k) {
    OleVariant value;
    if (arrayArgument) {
      platform::CallGuarded([&] { CheckOle(arrayArgument->GetValue(k, 0, &value), "GetValue"); });
    } else {
      value = Param(block, kFirstArgument + k);
    }
    CheckOle(SafeArrayPutElement(arguments.Get(), &k, &value), "SafeArrayPutElement");
  }

  // The handler's argument values go back to the array object in every case, also after a
  // failure, as far as the handler got.
  struct TArrayWriteBack {
    ~TArrayWriteBack() {
      if (!Array) return;
      try {
        for (LONG k = 0; k < Required; ++k) {
          OleVariant value;
          if (FAILED(SafeArrayGetElement(Arguments, &k, &value))) continue;
          platform::CallGuarded([&] { Array->SetValue(k, 0, value); });
        }
      } catch (...) {
        // The call's own outcome is what the host learns about.
      }
    }
    ISafeArray* Array;
    SAFEARRAY* Arguments;
    LONG Required;
  } writeBack{arrayArgument.Get(), arguments.Get(), required};

  OleVariant result;
  method.Handler(context, arguments.Get(), result);

  // The arguments and the result go back together: all of them or, when one cannot be
  // converted to what the host's reference takes, none.
  std::vector<OleVariant> values(arrayArgument ? 0 : static_cast<size_t>(required));
  std::vector<TParamWrite> writes;
  writes.reserve(values.size() + 1);
  for (LONG k = 0; k < static_cast<LONG>(values.size()); ++k) {
    CheckOle(SafeArrayGetElement(arguments.Get(), &k, &values[static_cast<size_t>(k)]), "SafeArrayGetElement");
    writes.push_back({kFirstArgument + k, &values[static_cast<size_t>(k)]});
  }
  writes.push_back({vestrel::kParamResult, &result});
  SetParams(block, writes.data(), writes.size());

  if (ExecutionMode() == EXECUTION_MODE_PLUGIN && ResultCheckActive()) {
    if (const std::optional<int32_t> code = ErrorCodeOf(result)) {
      const AnsiString text = device != nullptr ? device->GetErrorText(*code) : FDevices->GetErrorText(*code);
      throw EProtectException(*code, text);
    }
  }
}
