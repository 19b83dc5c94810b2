#include "plugin_session.h"

#include <chrono>

#include "host_messages.h"

namespace vestrel_host {

HRESULT STDMETHODCALLTYPE HostEventSink::QueryInterface(REFIID, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  return E_NOINTERFACE;
}

void VESTREL_HOST_REGISTER HostEventSink::ExternalEvent(BSTR Source, BSTR DeviceIdText, const GUID*, BSTR Data) {
  // Called from the plug-in's polling thread: nothing may escape back into it.
  try {
    const CardEvent event{Utf8OfBstr(Source), Utf8OfBstr(DeviceIdText), Utf8OfBstr(Data)};
    std::function<void(const CardEvent&)> handler;
    {
      std::lock_guard<std::mutex> lock(FLock);
      handler = FHandler;
    }
    ++FEvents;
    if (handler) handler(event);
  } catch (...) {
  }
}

void HostEventSink::SetHandler(std::function<void(const CardEvent&)> handler) {
  std::lock_guard<std::mutex> lock(FLock);
  FHandler = std::move(handler);
}

int32_t CallOutcome::IntResult() const {
  int32_t number = 0;
  return Result.AsInteger(number) ? number : 0;
}

bool Plugin::Open(const std::string& path, std::string& error) {
  FPath = path;
  std::string reason;
  if (!FLibrary.Load(path, reason)) {
    error = Say(Msg::PluginCannotLoad, {path, reason});
    return false;
  }
  auto control = reinterpret_cast<TPluginControlExport>(FLibrary.Resolve("PluginControl"));
  if (control == nullptr) {
    error = Say(Msg::PluginNoControl, {path});
    return false;
  }
  control(&FControl);
  if (FControl == nullptr) {
    error = Say(Msg::PluginNoDriver, {path});
    return false;
  }
  if (FControl->GetCallHandler(&FEntry) != S_OK || FEntry == nullptr || FControl->GetDllObjectIntf(&FDriver) != S_OK ||
      FDriver == nullptr) {
    FDriver = nullptr;
    error = Say(Msg::PluginNoDriver, {path});
    return false;
  }
  FDriver->SetEventSink(&FSink);
  return true;
}

void Plugin::Close() {
  if (FDriver != nullptr) {
    Builtin("__@@SwitchOff");
    FDriver->SetEventSink(nullptr);
    Builtin("__FRee");
  }
  FDriver = nullptr;
  FControl = nullptr;
  FEntry = nullptr;
  FLibrary.Unload();
}

CallOutcome Plugin::Call(const std::string& name, int32_t access, std::vector<Value> arguments) {
  // Parameter 0 the result, 1 the member name, 2 the access, then the arguments; every one by
  // reference, so that whatever the plug-in writes back arrives here.
  std::vector<Value> values;
  values.reserve(arguments.size() + 3);
  values.emplace_back();
  values.push_back(Value::Text(name));
  values.push_back(Value::Integer(access));
  for (Value& argument : arguments) values.push_back(std::move(argument));
  std::vector<VARIANT> references(values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    VARIANT& reference = references[values.size() - 1 - i];  // the record holds the last one first
    VariantInit(&reference);
    V_VT(&reference) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&reference) = &values[i].Raw();
  }
  DISPPARAMS record{};
  record.rgvarg = references.data();
  record.cArgs = static_cast<UINT>(references.size());
  CallOutcome outcome;
  RunBlock(name, &record, outcome);
  outcome.Result = std::move(values[0]);
  for (size_t i = 3; i < values.size(); ++i) outcome.Arguments.push_back(std::move(values[i]));
  return outcome;
}

bool Plugin::AskMembers(const std::string& name, bool property) {
  IDllObjMembers* members = nullptr;
  FDriver->GetMembers(&members);
  if (members == nullptr) return false;
  BSTR text = AllocBstr(Utf16FromUtf8(name));
  const bool found = property ? members->IsProperty(text) : members->IsMethod(text);
  SysFreeString(text);
  members->Release();
  return found;
}

void Plugin::Builtin(const char* name) {
  CallOutcome ignored;
  RunBlock(name, nullptr, ignored);
}

std::optional<std::string> Plugin::Statistics() {
  // The answer comes in parameter 0 of the tool's own record.
  Value answer;
  VARIANT reference;
  VariantInit(&reference);
  V_VT(&reference) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&reference) = &answer.Raw();
  DISPPARAMS record{};
  record.rgvarg = &reference;
  record.cArgs = 1;
  CallOutcome outcome;
  RunBlock("__@@Statistics", &record, outcome);
  if (outcome.Failed || answer.Type() != VT_BSTR) return std::nullopt;
  return Utf8FromUtf16(answer.AsText());
}

namespace {

std::mutex gCallLock;
std::string gCallMember;  // under gCallLock, with gCallStart
std::chrono::steady_clock::time_point gCallStart;
int gCallsRunning = 0;

// Marks a plug-in call as in progress while it runs.
class CallMark {
public:
  explicit CallMark(const std::string& member) {
    std::lock_guard<std::mutex> lock(gCallLock);
    if (gCallsRunning++ == 0) {
      gCallMember = member;
      gCallStart = std::chrono::steady_clock::now();
    }
  }
  ~CallMark() {
    std::lock_guard<std::mutex> lock(gCallLock);
    --gCallsRunning;
  }
  CallMark(const CallMark&) = delete;
  CallMark& operator=(const CallMark&) = delete;
};

}  // namespace

std::optional<CallInProgress> CurrentCall() {
  std::lock_guard<std::mutex> lock(gCallLock);
  if (gCallsRunning == 0) return std::nullopt;
  return CallInProgress{gCallMember, std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - gCallStart)
                                         .count()};
}

void Plugin::RunBlock(const std::string& name, DISPPARAMS* record, CallOutcome& outcome) {
  vestrel::HostString hostName(name.c_str());
  TParams block{};
  block.Name = hostName.Get();
  block.Args = record;
  block.OwnsArgs = false;
  block.Sink = &FSink;
  {
    CallMark mark(name);
    FEntry(&block, nullptr);
  }
  outcome.Failed = block.HasError;
  outcome.Code = block.ErrorCode;
  if (V_VT(&block.ErrorText) == VT_BSTR) outcome.ErrorText = Utf8OfBstr(V_BSTR(&block.ErrorText));
  VariantClear(&block.ErrorText);
  VariantClear(&block.ErrorSource);
}

namespace {

constexpr LONG kMostRowsShown = 1000;

// The array object behind a value, with its bounds; nullptr when it is none.
ISafeArray* ArrayObject(const Value& value, LONG& rows, LONG& columns) {
  IDispatch* object = value.Dispatch();
  ISafeArray* array = nullptr;
  if (object == nullptr || FAILED(object->QueryInterface(IID_ISafeArray, reinterpret_cast<void**>(&array))) || array == nullptr)
    return nullptr;
  rows = columns = 0;
  if (FAILED(array->GetBounds(&rows, &columns))) rows = columns = 0;
  return array;
}

Value Cell(ISafeArray* array, LONG row, LONG column) {
  VARIANT raw;
  VariantInit(&raw);
  if (FAILED(array->GetValue(row, column, &raw))) VariantClear(&raw);
  return Value::Adopt(raw);
}

}  // namespace

std::string ValueDisplay(const Value& value) {
  if (value.Dispatch() == nullptr) {
    if (value.Type() == VT_UNKNOWN) return "<object>";
    return Utf8FromUtf16(value.AsText());
  }
  LONG rows = 0, columns = 0;
  if (ISafeArray* array = ArrayObject(value, rows, columns)) {
    std::string text = Say(Msg::TableOf, {std::to_string(rows), std::to_string(columns)});
    for (LONG row = 0; row < rows && row < kMostRowsShown; ++row) {
      text += "\n  " + std::to_string(row) + ":";
      for (LONG column = 0; column < columns; ++column) text += (column == 0 ? " " : " | ") + ValueDisplay(Cell(array, row, column));
    }
    array->Release();
    return text;
  }
  bool ok = false;
  const Value xml = Automation(value.Dispatch()).Get("xml", &ok);
  return ok ? Utf8FromUtf16(xml.AsText()) : "<object>";
}

nlohmann::json ValueJson(const Value& value) {
  LONG rows = 0, columns = 0;
  if (ISafeArray* array = ArrayObject(value, rows, columns)) {
    nlohmann::json table = nlohmann::json::array();
    for (LONG row = 0; row < rows && row < kMostRowsShown; ++row) {
      nlohmann::json cells = nlohmann::json::array();
      for (LONG column = 0; column < columns; ++column) cells.push_back(ValueDisplay(Cell(array, row, column)));
      table.push_back(cells);
    }
    array->Release();
    return table;
  }
  return ValueDisplay(value);
}

}  // namespace vestrel_host
