#include "host/wire/params.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <vector>

#include "base/diagnostic_log.h"
#include "base/errors.h"
#include "base/host_call_lock.h"
#include "host/wire/host_string.h"
#include "host/wire/variant_text.h"
#include "platform/structured_exception.h"
#include "platform/text_codec.h"

namespace {

// The storage of a block that owns its arguments: the 16-byte record followed by room for
// every argument the block may hold, zero-filled. Allocated once at full capacity so that
// adding parameters never reallocates.
struct TOwnedArgs {
  DISPPARAMS Record;
  VARIANT Items[vestrel::kOwnedArgumentCapacity];
};
static_assert(std::is_standard_layout_v<TOwnedArgs> && offsetof(TOwnedArgs, Record) == 0);

// The class reference of blocks the plug-in makes. It is laid out like a host class as
// far as the class-name slot, so code that names a block's class finds "TParams" here too.
constexpr size_t kSlotsBeforeClassRef = static_cast<size_t>(-vestrel::kHostClassNameSlotOffset) / sizeof(void*);
const unsigned char kParamsClassName[] = "\x07TParams";
struct TPluginParamsClass {
  const void* Slots[kSlotsBeforeClassRef + 1];
};
const TPluginParamsClass kPluginParamsClass = {{kParamsClassName}};
const void* const kPluginParamsClassRef = &kPluginParamsClass.Slots[kSlotsBeforeClassRef];

std::atomic<TCallHandler> gCallHandler{nullptr};

constexpr VARTYPE kVariantReference = VT_BYREF | VT_VARIANT;

// Storage that AllocArgs gave to blocks of hosts, which never free it themselves: taken back
// by FreeStorageAttachedToHostBlocks.
std::mutex gAttachedStorageLock;
std::vector<std::unique_ptr<TOwnedArgs>> gAttachedStorage;

// Replaces a variant's content with a wide string.
void AssignText(VARIANT& target, const WideString& text) {
  BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (copy == nullptr) throw std::bad_alloc();
  VariantClear(&target);
  V_VT(&target) = VT_BSTR;
  V_BSTR(&target) = copy;
}

// Empties a variant. Host strings (type 0x100) belong to the host's memory manager, which
// the plug-in cannot reach: such a value is only forgotten.
void EmptyVariant(VARIANT& target) {
  if (V_VT(&target) != kVarTypeHostString) VariantClear(&target);
  std::memset(&target, 0, sizeof(target));
}

[[noreturn]] void RaiseUnsupportedType() { RaiseText(AnsiFromUtf8("Неподдерживаемый тип параметра.")); }

// The variant a parameter stands for: the host's own variant behind a VT_BYREF|VT_VARIANT
// reference, else the element itself.
const VARIANT& Referenced(const VARIANT& element) {
  if (V_VT(&element) == kVariantReference && V_VARIANTREF(&element) != nullptr) return *V_VARIANTREF(&element);
  return element;
}

// A copy of a parameter as a value of the plug-in's own: the one level of indirection that
// automation allows followed, a by-reference simple value read through, the host's own 8-bit
// strings turned into wide strings. A reference to a reference is refused.
void CopyValue(VARIANT& target, const VARIANT& source) {
  const VARIANT& value = Referenced(source);
  const VARTYPE type = V_VT(&value);
  if (type == kVarTypeHostString) {
    AssignText(target, WideFromAnsi(HostStringText(static_cast<const char*>(V_BYREF(&value)))));
    return;
  }
  if (type == kVariantReference) RaiseUnsupportedType();
  VARIANT* readable = const_cast<VARIANT*>(&value);
  const HRESULT result = (type & VT_BYREF) != 0 ? VariantCopyInd(&target, readable) : VariantCopy(&target, readable);
  if (FAILED(result)) {
    RaiseText(FormatText(AnsiFromUtf8("Ошибка копирования параметра. Тип=%d"), {int64_t{type}}));
  }
}

[[noreturn]] void RaiseIndexError(const char* operation, int32_t index, int32_t count) {
  RaiseText(FormatText(AnsiFromUtf8("Неверный индекс (") + operation + ") Index=%d Count=%d",
                       {int64_t{index}, int64_t{count}}));
}

// Where a parameter's value goes when it is set: the block's own storage, nowhere (a by-value
// argument of a borrowed record is the caller's own copy), or through the caller's reference
// by the referenced type.
enum class TTarget { Owned, Ignored, Int32, Double, Text, Variant, Unsupported };

TTarget TargetOf(const TParams& block, const VARIANT& element) {
  if (block.OwnsArgs) return TTarget::Owned;
  if ((V_VT(&element) & VT_BYREF) == 0) return TTarget::Ignored;
  switch (V_VT(&element) & ~VT_BYREF) {
    case VT_I4: return TTarget::Int32;
    case VT_R8: return TTarget::Double;
    case VT_BSTR: return TTarget::Text;
    case VT_VARIANT: return TTarget::Variant;
    default: return TTarget::Unsupported;
  }
}

// The value converted to what the target takes; everything that can fail happens here.
void Prepare(TTarget target, const VARIANT& value, VARIANT& prepared) {
  switch (target) {
    case TTarget::Owned:
    case TTarget::Variant:
      CopyValue(prepared, value);
      break;
    case TTarget::Int32:
      V_I4(&prepared) = VariantToInt32(value);
      V_VT(&prepared) = VT_I4;
      break;
    case TTarget::Double:
      V_R8(&prepared) = VariantToDouble(value);
      V_VT(&prepared) = VT_R8;
      break;
    case TTarget::Text:
      AssignText(prepared, VariantToWideText(value));
      break;
    case TTarget::Ignored:
      break;
    case TTarget::Unsupported:
      RaiseUnsupportedType();
  }
}

// Stores a prepared value (taking it over); cannot fail.
void Commit(TTarget target, VARIANT& element, VARIANT& prepared) noexcept {
  switch (target) {
    case TTarget::Owned:
      EmptyVariant(element);
      element = prepared;
      break;
    case TTarget::Variant:
      EmptyVariant(*V_VARIANTREF(&element));
      *V_VARIANTREF(&element) = prepared;
      break;
    case TTarget::Int32:
      *V_I4REF(&element) = V_I4(&prepared);
      break;
    case TTarget::Double:
      *V_R8REF(&element) = V_R8(&prepared);
      break;
    case TTarget::Text:
      SysFreeString(*V_BSTRREF(&element));
      *V_BSTRREF(&element) = V_BSTR(&prepared);
      break;
    case TTarget::Ignored:
    case TTarget::Unsupported:
      VariantClear(&prepared);
      break;
  }
  VariantInit(&prepared);
}

// What can be wrong with a block's record, found without touching memory the record does not
// claim.
enum class TRecordFault { None, Count, NoElements, NullReference, ReferenceToReference };
struct TRecordCheck {
  TRecordFault Fault = TRecordFault::None;
  int64_t Detail = 0;  // the count, or the parameter's index
};

TRecordCheck CheckRecord(const TParams& block) noexcept {
  const DISPPARAMS* record = block.Args;
  if (record == nullptr) return {};
  const UINT count = record->cArgs;
  if (count > static_cast<UINT>(vestrel::kOwnedArgumentCapacity)) return {TRecordFault::Count, int64_t{static_cast<int32_t>(count)}};
  if (count > 0 && record->rgvarg == nullptr) return {TRecordFault::NoElements, 0};
  for (UINT slot = 0; slot < count; ++slot) {
    const VARIANT& element = record->rgvarg[slot];
    const int64_t index = block.OwnsArgs ? slot : int64_t{count} - 1 - slot;
    if ((V_VT(&element) & VT_BYREF) == 0) continue;
    if (V_BYREF(&element) == nullptr) return {TRecordFault::NullReference, index};
    if (V_VT(&element) != kVariantReference) continue;
    const VARIANT& referenced = *V_VARIANTREF(&element);
    if (V_VT(&referenced) == kVariantReference) return {TRecordFault::ReferenceToReference, index};
    if ((V_VT(&referenced) & VT_BYREF) != 0 && V_BYREF(&referenced) == nullptr)
      return {TRecordFault::NullReference, index};
  }
  return {};
}

// The block's outcome as Clear leaves it: no result reference, no error, the cleared text.
void ResetOutcome(TParams& block) {
  block.ResultRef = nullptr;
  block.HasError = false;
  AssignText(block.ErrorSource, WideString());
  AssignText(block.ErrorText, WideFromUtf8("Очищено Clear"));
  block.SetError(0);
}

}  // namespace

void TParams::Create() {
  ClassRef = kPluginParamsClassRef;
  Args = nullptr;
  ErrorCode = 0;
  Name = nullptr;
  CallKind = 0;
  HasError = false;
  std::memset(Reserved1, 0, sizeof(Reserved1));
  VariantInit(&ErrorSource);
  VariantInit(&ErrorText);
  AssignText(ErrorSource, WideString());
  AssignText(ErrorText, WideString());
  ResultRef = nullptr;
  Sink = nullptr;
  Next = nullptr;
  OwnsArgs = false;
  std::memset(Reserved2, 0, sizeof(Reserved2));
}

bool TParams::IsPluginBlock() const { return ClassRef == kPluginParamsClassRef; }

void TParams::AllocArgs() {
  if (Args != nullptr) return;
  auto owned = std::make_unique<TOwnedArgs>();
  std::memset(owned.get(), 0, sizeof(TOwnedArgs));
  owned->Record.rgvarg = owned->Items;
  if (IsPluginBlock()) {
    Args = &owned.release()->Record;
  } else {
    // A host never frees what the plug-in hangs on its block: the plug-in keeps it.
    std::lock_guard<std::mutex> lock(gAttachedStorageLock);
    gAttachedStorage.push_back(std::move(owned));
    Args = &gAttachedStorage.back()->Record;
  }
  OwnsArgs = true;
}

void TParams::AttachArgs(DISPPARAMS* record) {
  // Storage the block owns is let go first: the caller's record must never be mistaken
  // for it (and freed as such) later.
  if (OwnsArgs && Args != nullptr && IsPluginBlock()) {
    for (int32_t index = 0; index < Count(); ++index) EmptyVariant(Args->rgvarg[index]);
    std::unique_ptr<TOwnedArgs> owned(reinterpret_cast<TOwnedArgs*>(Args));
  }
  Args = record;
  OwnsArgs = false;
}

int32_t TParams::Count() const { return Args == nullptr ? 0 : static_cast<int32_t>(Args->cArgs); }

// Owned storage keeps arguments in call order, a borrowed record in reverse order.
static VARIANT& ElementOf(const TParams& block, int32_t index) {
  const int32_t slot = block.OwnsArgs ? index : block.Count() - 1 - index;
  return block.Args->rgvarg[slot];
}

static VARIANT& CheckedElement(const TParams& block, int32_t index, const char* operation) {
  if (index < 0 || index >= block.Count()) RaiseIndexError(operation, index, block.Count());
  return ElementOf(block, index);
}

void TParams::GetParam(int32_t index, VARIANT& value) const { CopyValue(value, CheckedElement(*this, index, "Get")); }

void TParams::SetParam(int32_t index, const VARIANT& value) {
  const TParamWrite write{index, &value};
  SetParams(*this, &write, 1);
}

void TParams::AddParam(const VARIANT& value) {
  if (Args == nullptr) AllocArgs();
  // The record grows only in storage sized for it: owned storage up to its capacity. A
  // borrowed record has exactly the caller's elements; there is no room behind them.
  if (!OwnsArgs || Count() >= vestrel::kOwnedArgumentCapacity) {
    throw Exception(AnsiFromUtf8("TParams - превышена емкость хранилища данных."));
  }
  VARIANT copy;
  VariantInit(&copy);
  CopyValue(copy, value);
  VARIANT& target = Args->rgvarg[Count()];
  EmptyVariant(target);
  target = copy;
  ++Args->cArgs;
}

bool TParams::SetError(int32_t code) {
  ErrorCode = code;
  HasError = code != 0;
  return HasError;
}

void TParams::Clear() {
  ResetOutcome(*this);
  if (Args != nullptr) {
    if (OwnsArgs) {
      for (int32_t index = 0; index < Count(); ++index) EmptyVariant(Args->rgvarg[index]);
      Args->cArgs = 0;
    } else {
      // A borrowed record and its values belong to the caller, who frees them after the
      // call: the block lets go of the record instead of emptying the caller's values.
      Args = nullptr;
    }
  }
  if (Next != nullptr && Next->IsPluginBlock()) {
    TParamsDeleter()(Next);
    Next = nullptr;
  }
  // A host's chain behind a host block stays linked: its owner frees it.
}

void TParams::SetException(const std::exception& error) noexcept {
  AnsiString message;
  try {
    message = ExceptionMessage(error);
  } catch (...) {
    message = error.what();
  }
  SetExceptionText(message);
  if (const auto* coded = dynamic_cast<const EProtectException*>(&error)) SetError(coded->Code);
}

void TParams::SetExceptionText(const std::string& message) noexcept {
  HasError = true;
  SetError(ERR_TEXT);
  try {
    // The source, as a text of the block's own: the member name the call carries in
    // parameter 1 (read only from a record that can be read), else the block's name.
    WideString source;
    if (!RecordIsSound(*this) || Count() < 2 || !VariantToText(ParamInPlace(*this, vestrel::kParamMemberName), source))
      source = WideFromAnsi(GetName());
    AssignText(ErrorSource, source);
  } catch (...) {
    // Without memory for the source the error itself still reaches the host.
  }
  try {
    AssignText(ErrorText, WideFromAnsi(message));
  } catch (...) {
  }
}

void TParams::RaiseText(const std::string& text) const { ::RaiseText(text); }

void TParams::Destroy() {
  if (Next != nullptr && Next->IsPluginBlock()) {
    TParamsDeleter()(Next);
    Next = nullptr;
  }
  if (OwnsArgs) {
    Clear();
    // Owned storage of the plug-in's own blocks comes from AllocArgs; a host releases the
    // storage of its blocks itself.
    if (IsPluginBlock()) {
      std::unique_ptr<TOwnedArgs> owned(reinterpret_cast<TOwnedArgs*>(Args));
      Args = nullptr;
      OwnsArgs = false;
    }
  }
  VariantClear(&ErrorSource);
  VariantClear(&ErrorText);
  if (IsPluginBlock()) {
    FreeHostString(Name);
    Name = nullptr;
  }
}

std::string TParams::GetName() const { return HostStringText(Name); }

void TParams::SetName(const std::string& name) {
  // Only the plug-in's own blocks carry names it allocated; a host's name stays the host's.
  if (!IsPluginBlock()) RaiseText(AnsiFromUtf8("Имя блока параметров хоста не изменяется."));
  THostString copy(name);
  FreeHostString(Name);
  Name = copy.Release();
}

void TParamsDeleter::operator()(TParams* block) const noexcept {
  if (block == nullptr) return;
  std::unique_ptr<TParams> memory(block);
  block->Destroy();
}

TParamsPtr MakeParams() {
  auto block = std::make_unique<TParams>();
  block->Create();
  return TParamsPtr(block.release());
}

void SetNextParams(TParams& block, TParamsPtr next) {
  if (block.Next != nullptr && block.Next->IsPluginBlock()) TParamsDeleter()(block.Next);
  block.Next = next.release();
}

void RaiseUnsupportedParamType() { RaiseUnsupportedType(); }

bool RecordIsSound(const TParams& block) noexcept { return CheckRecord(block).Fault == TRecordFault::None; }

void CheckHostChain(const TParams& first) {
  int32_t length = 0;
  for (const TParams* block = &first; block != nullptr; block = block->Next) {
    // A chain whose link leads back to an earlier block never ends: the bound stops it.
    if (++length > kMaxChainLength) {
      RaiseText(FormatText(AnsiFromUtf8("Цепочка блоков параметров замкнута в кольцо или длиннее %d блоков"),
                           {int64_t{kMaxChainLength}}));
    }
    const TRecordCheck check = CheckRecord(*block);
    switch (check.Fault) {
      case TRecordFault::None:
        break;
      case TRecordFault::Count:
        RaiseText(FormatText(AnsiFromUtf8("Неверное число параметров в блоке: %d (допустимо от 0 до %d)"),
                             {check.Detail, int64_t{vestrel::kOwnedArgumentCapacity}}));
      case TRecordFault::NoElements:
        RaiseText(AnsiFromUtf8("Блок параметров без массива параметров"));
      case TRecordFault::NullReference:
        RaiseText(FormatText(AnsiFromUtf8("Пустая ссылка в параметре %d"), {check.Detail}));
      case TRecordFault::ReferenceToReference:
        RaiseUnsupportedType();
    }
  }
}

const VARIANT& ParamInPlace(const TParams& block, int32_t index) {
  return Referenced(CheckedElement(block, index, "Get"));
}

bool CanSetParam(const TParams& block, int32_t index) {
  return index >= 0 && index < block.Count() && TargetOf(block, ElementOf(block, index)) != TTarget::Unsupported;
}

void SetParams(TParams& block, const TParamWrite* writes, size_t count) {
  std::vector<VARIANT> prepared(count);
  for (VARIANT& value : prepared) VariantInit(&value);
  try {
    for (size_t i = 0; i < count; ++i) {
      VARIANT& element = CheckedElement(block, writes[i].Index, "Set");
      Prepare(TargetOf(block, element), *writes[i].Value, prepared[i]);
    }
  } catch (...) {
    for (VARIANT& value : prepared) VariantClear(&value);
    throw;
  }
  for (size_t i = 0; i < count; ++i) {
    VARIANT& element = ElementOf(block, writes[i].Index);
    Commit(TargetOf(block, element), element, prepared[i]);
  }
}

void TakeParam(TParams& block, int32_t index, VARIANT& value) {
  VARIANT& element = CheckedElement(block, index, "Set");
  const TTarget target = TargetOf(block, element);
  const bool plainValue = (V_VT(&value) & VT_BYREF) == 0 && V_VT(&value) != kVarTypeHostString;
  if ((target == TTarget::Owned || target == TTarget::Variant) && plainValue) {
    Commit(target, element, value);
    return;
  }
  const TParamWrite write{index, &value};
  SetParams(block, &write, 1);
}

void AnswerValueInParamZero(TParams& block, VARIANT& answer) {
  if (!block.IsPluginBlock() && block.Args != nullptr && !block.OwnsArgs && block.Count() >= 1) {
    VARIANT& element = ElementOf(block, vestrel::kParamResult);
    const TTarget target = TargetOf(block, element);
    if (target == TTarget::Variant || target == TTarget::Ignored) {
      // The host's own record: its parameter 0 takes the answer, the rest stays the host's.
      ResetOutcome(block);
      Commit(target == TTarget::Variant ? TTarget::Variant : TTarget::Owned, element, answer);
      VariantInit(&answer);  // moved into the host's parameter
      return;
    }
  }
  struct TClearAnswer {
    VARIANT& Value;
    ~TClearAnswer() { VariantClear(&Value); }
  } clearAnswer{answer};
  block.Clear();
  block.AddParam(answer);  // a copy of its own
}

void AnswerInParamZero(TParams& block, IUnknown* answer) {
  VARIANT value;
  VariantInit(&value);
  V_VT(&value) = VT_UNKNOWN;
  V_UNKNOWN(&value) = answer;
  if (answer != nullptr) answer->AddRef();
  AnswerValueInParamZero(block, value);
}

void FreeStorageAttachedToHostBlocks() noexcept {
  std::vector<std::unique_ptr<TOwnedArgs>> attached;
  {
    std::lock_guard<std::mutex> lock(gAttachedStorageLock);
    attached.swap(gAttachedStorage);
  }
  for (const std::unique_ptr<TOwnedArgs>& storage : attached) {
    for (VARIANT& item : storage->Items) EmptyVariant(item);
  }
}

void SetCallHandler(TCallHandler handler) noexcept { gCallHandler.store(handler); }

TCallHandler CallHandler() noexcept { return gCallHandler.load(); }

namespace {

// Records a failure in the block. The block is the host's memory: should even that fail, the
// false result is all the host gets.
void RecordCallFailure(TParams& params, const std::exception* error) noexcept {
  try {
    platform::CallGuarded([&] {
      if (error != nullptr) {
        params.SetException(*error);
      } else {
        params.SetExceptionText(AnsiFromUtf8("Неизвестное исключение"));
      }
    });
  } catch (...) {
  }
}

// A parameter's value as the diagnostic log shows it: scalars and texts only (an object's text
// would call into the host), a text cut at 80 characters.
std::string LoggedValue(const VARIANT& value) {
  switch (V_VT(&value)) {
    case VT_EMPTY: return "empty";
    case VT_NULL: return "null";
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_INT: case VT_UINT:
    case VT_I8: case VT_UI8: case VT_R4: case VT_R8: case VT_BOOL: case VT_BSTR: break;
    default: return "type " + std::to_string(V_VT(&value));
  }
  WideString text;
  VariantToText(value, text);
  constexpr size_t kMaxLoggedCharacters = 80;
  const bool cut = text.size() > kMaxLoggedCharacters;
  if (cut) text.resize(kMaxLoggedCharacters);
  std::string shown = Utf8FromWide(text);
  if (V_VT(&value) == VT_BSTR) shown = "\"" + shown + (cut ? "…\"" : "\"");
  return shown;
}

// The called member as the log names it: a built-in name, or the first block's member name.
std::string LoggedMember(const TParams& params) {
  const std::string_view builtin = HostStringView(params.Name);
  if (!builtin.empty()) return Utf8FromAnsi(builtin);
  if (!RecordIsSound(params) || params.Count() <= vestrel::kParamMemberName) return "?";
  WideString name;
  VariantToText(ParamInPlace(params, vestrel::kParamMemberName), name);
  return Utf8FromWide(name);
}

// One line per host call: member, kind, outcome (the result or the error), duration. The
// block is read only where the chain check allows, under the guard.
void LogHostCall(const TParams& params, BOOL result, std::chrono::steady_clock::time_point start) noexcept {
  try {
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
    platform::CallGuarded([&] {
      const bool sound = RecordIsSound(params);
      std::string kind = "-";
      if (sound && params.Count() > vestrel::kParamCallKind) {
        const VARIANT& value = ParamInPlace(params, vestrel::kParamCallKind);
        if (V_VT(&value) == VT_I4 || V_VT(&value) == VT_I2) kind = LoggedValue(value);
      }
      std::string outcome;
      if (params.HasError) {
        WideString text;
        if (V_VT(&params.ErrorText) == VT_BSTR) VariantToText(params.ErrorText, text);
        outcome = "error " + std::to_string(params.ErrorCode) + " \"" + Utf8FromWide(text) + "\"";
      } else {
        outcome = result ? "true" : "false";
        if (sound && params.Count() > vestrel::kParamResult) {
          outcome += ", result " + LoggedValue(ParamInPlace(params, vestrel::kParamResult));
        }
      }
      WriteDiagnosticLineF("host call %s, kind %s: %s, %lld.%03lld ms", LoggedMember(params).c_str(), kind.c_str(),
                           outcome.c_str(), static_cast<long long>(micros / 1000),
                           static_cast<long long>(micros % 1000));
    });
  } catch (...) {
    // The line is lost; the call's outcome stands.
  }
}

}  // namespace

BOOL WINAPI SafeCallEntry(TParams* params, IUnknown* context) noexcept {
  if (params == nullptr) return FALSE;  // no block to report in
  const bool logged = DiagnosticLogOn();
  const auto start = logged ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point();
  BOOL result = FALSE;
  try {
    // One host call at a time, whichever thread the host calls from (a call from inside an
    // event on the same thread enters again).
    THostCallScope hostCall;
    // The handler runs under the structured exception guard: an access violation or an
    // exception raised by the host's objects that the handler calls arrives here as
    // platform::StructuredException and is recorded like any other.
    result = platform::CallGuarded([&] {
      params->HasError = false;
      CheckHostChain(*params);
      const TCallHandler handler = CallHandler();
      if (handler == nullptr) RaiseText(AnsiFromUtf8("Обработчик вызовов не назначен"));
      return handler(params, context);
    });
  } catch (const std::exception& error) {
    RecordCallFailure(*params, &error);
  } catch (...) {
    RecordCallFailure(*params, nullptr);
  }
  if (logged) LogHostCall(*params, result, start);
  return result;
}
