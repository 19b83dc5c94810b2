#include "host/params.h"

#include <atomic>
#include <cstring>

#include "base/errors.h"
#include "host/host_string.h"
#include "host/variant_text.h"
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

// A copy of a parameter as an OLE value: the host's own 8-bit strings become wide strings.
void CopyParam(VARIANT& target, const VARIANT& source) {
  if (V_VT(&source) == kVarTypeHostString) {
    AssignText(target, WideFromAnsi(HostStringText(static_cast<const char*>(V_BYREF(&source)))));
    return;
  }
  const HRESULT result = VariantCopy(&target, const_cast<VARIANT*>(&source));
  if (FAILED(result)) {
    RaiseText(FormatText(AnsiFromUtf8("Ошибка копирования параметра. Тип=%d"), {int64_t{V_VT(&source)}}));
  }
}

[[noreturn]] void RaiseIndexError(const char* operation, int32_t index, int32_t count) {
  RaiseText(FormatText(AnsiFromUtf8("Неверный индекс (") + operation + ") Index=%d Count=%d",
                       {int64_t{index}, int64_t{count}}));
}

// Writes a value through a by-reference argument of the caller, by the referenced type.
void WriteThrough(VARIANT& target, const VARIANT& value) {
  switch (V_VT(&target) & ~VT_BYREF) {
    case VT_I4:
      *V_I4REF(&target) = VariantToInt32(value);
      break;
    case VT_R8:
      *V_R8REF(&target) = VariantToDouble(value);
      break;
    case VT_BSTR: {
      const WideString text = VariantToWideText(value);
      BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      if (copy == nullptr) throw std::bad_alloc();
      SysFreeString(*V_BSTRREF(&target));
      *V_BSTRREF(&target) = copy;
      break;
    }
    case VT_VARIANT:
      CopyParam(*V_VARIANTREF(&target), value);
      break;
    default:
      RaiseText(AnsiFromUtf8("Неподдерживаемый тип параметра."));
  }
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
  Args = &owned.release()->Record;
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

void TParams::GetParam(int32_t index, VARIANT& value) const {
  if (index < 0 || index >= Count()) RaiseIndexError("Get", index, Count());
  CopyParam(value, ElementOf(*this, index));
}

void TParams::SetParam(int32_t index, const VARIANT& value) {
  if (index < 0 || index >= Count()) RaiseIndexError("Set", index, Count());
  VARIANT& target = ElementOf(*this, index);
  if (OwnsArgs) {
    VARIANT copy;
    VariantInit(&copy);
    CopyParam(copy, value);
    EmptyVariant(target);
    target = copy;  // takes the copy over
  } else if ((V_VT(&target) & VT_BYREF) != 0) {
    WriteThrough(target, value);
  }
  // A by-value argument of a borrowed record is the caller's own copy: nothing is written.
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
  CopyParam(copy, value);
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
  ResultRef = nullptr;
  HasError = false;
  AssignText(ErrorSource, WideString());
  AssignText(ErrorText, WideFromUtf8("Очищено Clear"));
  SetError(0);
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
    // The source: the member name the call carries in parameter 1, else the block's name.
    if (Count() >= 2) {
      VARIANT source;
      VariantInit(&source);
      GetParam(vestrel::kParamMemberName, source);
      VariantClear(&ErrorSource);
      ErrorSource = source;
    } else {
      AssignText(ErrorSource, WideFromAnsi(GetName()));
    }
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

void SetCallHandler(TCallHandler handler) noexcept { gCallHandler.store(handler); }

TCallHandler CallHandler() noexcept { return gCallHandler.load(); }

BOOL WINAPI SafeCallEntry(TParams* params, IUnknown* context) noexcept {
  if (params == nullptr) return FALSE;  // no block to report in
  try {
    params->HasError = false;
    const TCallHandler handler = CallHandler();
    if (handler == nullptr) RaiseText(AnsiFromUtf8("Обработчик вызовов не назначен"));
    // A structured exception inside the call (an access violation, the host's own
    // exceptions raised from its objects) arrives here as a C++ exception too.
    return platform::CallGuarded([&] { return handler(params, context); });
  } catch (const std::exception& error) {
    params->SetException(error);
  } catch (...) {
    params->SetExceptionText(AnsiFromUtf8("Неизвестное исключение"));
  }
  return FALSE;
}
