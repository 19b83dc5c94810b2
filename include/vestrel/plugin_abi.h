#pragma once
// The binary contract between a host and the Vestrel plug-in.
//
// A host calls the plug-in by member name: it fills a chain of parameter blocks (TParams)
// and hands the first block, with an optional context object, to the call handler it got
// from the plug-in's control object. The block layout below is shared memory between the
// two sides, so every field sits at a fixed offset. The product is a 32-bit library; the
// 32-bit offsets are the contract. 64-bit builds keep the same fields in the same order with
// natural alignment.
//
// Hosts written in C++ include vestrel/plugin.h (this header with the event sink and the
// array object); only include/ is needed on the include path. C++17 or later.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "vestrel/ole_types.h"

#ifdef VESTREL_PLUGIN_INTERNALS
#include <exception>
#include <string>
#endif

#ifndef WINAPI
#define WINAPI
#endif

namespace vestrel {

// Parameter 2 of a call block: what to do with the member named in parameter 1. (Not to be
// confused with the block's field TParams::CallKind, which carries the automation layer's
// call flags, where a property put is 4.)
enum MemberAccess : int32_t {
  kCallMethod = 1,
  kCallPropertyGet = 2,
  kCallPropertySet = 3,
};

// Parameter indices of a call block.
enum ParamIndex : int32_t {
  kParamResult = 0,         // the call's result
  kParamMemberName = 1,     // the member name (a string)
  kParamCallKind = 2,       // a MemberAccess
  kParamFirstArgument = 3,  // the member's arguments follow; for a property set, the new value
};

// Arguments a block can hold in storage it allocated itself.
constexpr int32_t kOwnedArgumentCapacity = 50;

// Host 8-bit strings: reference-counted, zero-terminated texts in the host's code page. A
// string reference points at the first character; a header of two 32-bit fields precedes
// it. A reference count of -1 marks a string that is never counted nor freed by its reader
// (a constant); a reader that wants to keep such a text copies it.
constexpr std::ptrdiff_t kHostStringLengthOffset = -4;
constexpr std::ptrdiff_t kHostStringRefCountOffset = -8;
constexpr std::size_t kHostStringHeaderSize = 8;
constexpr int32_t kHostStringConstantRefCount = -1;

// A host task object, on whose behalf a host calls: it carries the 16-byte identifier of the
// device the call is for, and a slot where the plug-in records its driver object.
constexpr std::ptrdiff_t kHostTaskDeviceIdOffset = sizeof(void*) == 4 ? 124 : 240;
constexpr std::ptrdiff_t kHostTaskDriverSlotOffset = sizeof(void*) == 4 ? 140 : 256;

// A host object starts with its class reference. The class name is a length-prefixed
// short string reached through the class reference's class-name slot: offset -44 in the
// 32-bit host generation this plug-in serves; the 64-bit lane uses slots twice as wide.
constexpr std::ptrdiff_t kHostClassNameSlotOffset = sizeof(void*) == 4 ? -44 : -88;

// The host's application object (installed through IPluginControl::SetApplication) keeps the
// window handle of the host's application window as its first own field, right after the
// fields of its component base. The plug-in's dialogs are owned by that window; a value read
// there is used only when it names a live window of this process.
constexpr std::ptrdiff_t kHostApplicationHandleOffset = sizeof(void*) == 4 ? 40 : 80;

// What the exported Query returns: the version of the driver protocol, the same number as
// IBaseDllObj::GetInterfaceVersion, so that a host can check it before asking for anything.
constexpr int32_t kQueryValue = 3;

}  // namespace vestrel

// Interfaces the host meets (declared with their operations elsewhere).
inline constexpr IID IID_IPluginControl = {
    0x5840E4CB, 0xF596, 0x489A, {0xBC, 0xD0, 0x66, 0xF4, 0xD4, 0x31, 0x12, 0x53}};
inline constexpr IID IID_IBaseDllObj = {
    0x07573EC1, 0x327D, 0x47C7, {0x8B, 0x5F, 0x13, 0xC6, 0x29, 0x8F, 0xBC, 0x2F}};
inline constexpr IID IID_ISafeArray = {
    0xC71ED758, 0x08C7, 0x4ACB, {0x94, 0x97, 0x12, 0x0F, 0xDB, 0xCF, 0xDD, 0x21}};

// A host 8-bit string made by a C++ host: header and text in one buffer that the host owns
// for as long as a block refers to it. Its reference count is the constant marker, so the
// plug-in copies the text and never counts or frees it.
namespace vestrel {
class HostString {
public:
  explicit HostString(const char* text) {
    const size_t length = std::strlen(text);
    FBuffer.assign(kHostStringHeaderSize + length + 1, 0);
    const int32_t header[2] = {kHostStringConstantRefCount, static_cast<int32_t>(length)};
    std::memcpy(FBuffer.data(), header, sizeof(header));
    std::memcpy(FBuffer.data() + kHostStringHeaderSize, text, length);
  }
  // The reference to store in TParams::Name (points at the first character).
  char* Get() { return FBuffer.data() + kHostStringHeaderSize; }

private:
  std::vector<char> FBuffer;
};
}  // namespace vestrel

// The parameter block. A host builds blocks itself (zero-filled, fields set directly) or
// receives blocks the plug-in made. A host's view is the fields alone; the plug-in's own
// operations on a block exist only inside the plug-in.
//
// ErrorSource and ErrorText belong to the block: the plug-in replaces their contents (clearing
// what they held) when it reports an error, and the owner of the block clears them
// (VariantClear) when it disposes of the block. A zero-filled variant is a valid empty one.
//
// Arguments live in an automation parameter record (DISPPARAMS) in one of two modes:
//  - owned (OwnsArgs true): a record with room for kOwnedArgumentCapacity variants,
//    arguments in call order (argument i is element i);
//  - borrowed (OwnsArgs false): the caller's record of an automation call, arguments in
//    reverse order (argument i is element count - 1 - i), possibly by reference.
struct TParams {
  const void* ClassRef;     // the block's class: the host's, or the plug-in's own marker
  DISPPARAMS* Args;         // the argument record, or null
  int32_t ErrorCode;        // 0 = no error
  char* Name;               // the member name: a host 8-bit string, or null (empty)
  uint16_t CallKind;        // the automation layer's call flags
  bool HasError;
  uint8_t Reserved1[5];
  VARIANT ErrorSource;      // the error's source text
  VARIANT ErrorText;        // the error's description
  VARIANT* ResultRef;       // the caller's result variant, or null
  IUnknown* Sink;           // the host's event sink; not reference-counted by the block
  TParams* Next;            // the next block of the chain, owned by this block
  bool OwnsArgs;            // Args was allocated by this block
  uint8_t Reserved2[3];

#ifdef VESTREL_PLUGIN_INTERNALS
  // The plug-in's operations on a block (defined inside the plug-in).
  void Create();                                    // initial state of a new block
  void AllocArgs();                                 // owned storage, unless a record exists
  void AttachArgs(DISPPARAMS* record);              // borrow the caller's record
  int32_t Count() const;                            // argument count, 0 without a record
  void GetParam(int32_t index, VARIANT& value) const;
  void SetParam(int32_t index, const VARIANT& value);
  void AddParam(const VARIANT& value);
  bool SetError(int32_t code);                      // returns HasError
  void Clear();
  void SetException(const std::exception& error) noexcept;
  void SetExceptionText(const std::string& message) noexcept;  // a failure that is no exception object
  [[noreturn]] void RaiseText(const std::string& text) const;
  void Destroy();

  std::string GetName() const;                      // Name as a text in the host code page
  void SetName(const std::string& name);            // only on blocks the plug-in made
  bool IsPluginBlock() const;                       // ClassRef is the plug-in's marker
#endif
};

// Whatever calls a block chain: the exception-safe call entry that IPluginControl hands out
// (inside the plug-in also the dispatcher it wraps). It takes the first block and an optional
// context object (a host task object), and returns the last block's result. The call entry
// never lets an exception out: every failure ends in the block's HasError, ErrorCode,
// ErrorSource and ErrorText, and the result is false.
using TCallHandler = BOOL(WINAPI*)(TParams* params, IUnknown* context);

// The host's register calling convention, used by the exported PluginControl, by
// IDllObjMembers and IBaseDllObj::GetMembers: on 32-bit x86 the first three arguments in EAX,
// EDX and ECX (an interface pointer first), the rest on the stack, popped by the callee. The
// 64-bit platforms have one convention, which both sides use.
#if defined(__i386__)
#define VESTREL_REGISTER_CALL __attribute__((regparm(3), stdcall))
#else
#define VESTREL_REGISTER_CALL
#endif

inline constexpr IID IID_IDllObjMembers = {
    0xBAB8C117, 0xCADF, 0x4C73, {0x9B, 0x2D, 0xB0, 0x42, 0xD6, 0x37, 0xA7, 0x48}};

// Member lookups of the driver object: each takes a member name and tells whether the driver
// has such a member. Names are compared in Unicode without regard to letter case, the same
// whatever the user's regional settings and code page (so are the names of the calls).
struct IDllObjMembers : public IUnknown {
  virtual bool VESTREL_REGISTER_CALL IsProperty(BSTR name) = 0;         // a property or device parameter
  virtual bool VESTREL_REGISTER_CALL IsMethod(BSTR name) = 0;           // either half of a method name
  virtual bool VESTREL_REGISTER_CALL IsSecondaryMethod(BSTR name) = 0;  // a method of the secondary table
  virtual bool VESTREL_REGISTER_CALL IsSwitchOn(BSTR name) = 0;         // "Включить" or "SwitchOn"
  virtual bool VESTREL_REGISTER_CALL IsSwitchOff(BSTR name) = 0;        // "Выключить" or "SwitchOff"
};

// The driver object. Its reference counting does nothing: the object lives until the library
// is unloaded. Operations return S_OK or a failure status with automation error information.
struct IBaseDllObj : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetModulePath(BSTR* path) = 0;     // the library's full path
  virtual HRESULT STDMETHODCALLTYPE GetVersionText(BSTR* text) = 0;    // its version text
  virtual HRESULT STDMETHODCALLTYPE GetVersionNumber(uint16_t* number) = 0;  // 4th part of the file version
  virtual HRESULT STDMETHODCALLTYPE GetInterfaceVersion(int32_t* version) = 0;  // 3
  virtual HRESULT STDMETHODCALLTYPE GetReserved(int32_t* value) = 0;   // 1
  // The model at index as IModelPluItem; an index at or past the number of models gives S_OK
  // and an empty reference.
  virtual HRESULT STDMETHODCALLTYPE GetModel(int32_t index, IUnknown** model) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetHostValue(int32_t value) = 0;
  // The host's event sink (its operations: vestrel/event_sink.h); null withdraws it.
  virtual HRESULT STDMETHODCALLTYPE SetEventSink(IUnknown* sink) = 0;
  // Stores the driver's IDllObjMembers in *members, releasing what the slot held.
  virtual void VESTREL_REGISTER_CALL GetMembers(IDllObjMembers** members) = 0;
};

// The control object that PluginControl hands out. Its reference counting does nothing.
struct IPluginControl : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Reserved1(int32_t ignored) = 0;  // S_OK
  virtual HRESULT STDMETHODCALLTYPE Reserved2(int32_t ignored) = 0;  // S_OK
  // The call entry: runs a chain of blocks on the driver and turns every failure into the
  // blocks' error fields (HasError, ErrorCode, ErrorSource, ErrorText). No exception ever
  // leaves it. Always S_OK.
  virtual HRESULT STDMETHODCALLTYPE GetCallHandler(TCallHandler* handler) = 0;
  // The driver object. Fails (empty reference, error information set) when the library has
  // no driver object.
  virtual HRESULT STDMETHODCALLTYPE GetDllObjectIntf(IBaseDllObj** object) = 0;
  // The host's application object, which owns the plug-in's windows from now on. Only the
  // first call takes effect. Always S_OK.
  virtual HRESULT STDMETHODCALLTYPE SetApplication(void* application) = 0;
};

// The library's exports (undecorated names). PluginControl stores the control interface in
// the caller's result slot (an empty reference when the library has no driver object),
// releasing what the slot held; it never fails. Query returns vestrel::kQueryValue.
using TPluginControlExport = void(VESTREL_REGISTER_CALL*)(IPluginControl** result);
using TQueryExport = int32_t (*)();

static_assert(std::is_standard_layout_v<TParams> && std::is_trivially_copyable_v<TParams>,
              "the block is plain shared memory");

// The 32-bit contract.
static_assert(sizeof(void*) != 4 || sizeof(VARIANT) == 16);
static_assert(sizeof(void*) != 4 || offsetof(TParams, ClassRef) == 0);
static_assert(sizeof(void*) != 4 || offsetof(TParams, Args) == 4);
static_assert(sizeof(void*) != 4 || offsetof(TParams, ErrorCode) == 8);
static_assert(sizeof(void*) != 4 || offsetof(TParams, Name) == 12);
static_assert(sizeof(void*) != 4 || offsetof(TParams, CallKind) == 16);
static_assert(sizeof(void*) != 4 || offsetof(TParams, HasError) == 18);
static_assert(sizeof(void*) != 4 || offsetof(TParams, ErrorSource) == 24);
static_assert(sizeof(void*) != 4 || offsetof(TParams, ErrorText) == 40);
static_assert(sizeof(void*) != 4 || offsetof(TParams, ResultRef) == 56);
static_assert(sizeof(void*) != 4 || offsetof(TParams, Sink) == 60);
static_assert(sizeof(void*) != 4 || offsetof(TParams, Next) == 64);
static_assert(sizeof(void*) != 4 || offsetof(TParams, OwnsArgs) == 68);
static_assert(sizeof(void*) != 4 || sizeof(TParams) == 72);
static_assert(sizeof(void*) != 4 || sizeof(DISPPARAMS) == 16);

// The 64-bit lanes: the same fields, naturally aligned.
static_assert(sizeof(void*) != 8 || sizeof(VARIANT) == 24);
static_assert(sizeof(void*) != 8 || offsetof(TParams, ClassRef) == 0);
static_assert(sizeof(void*) != 8 || offsetof(TParams, Args) == 8);
static_assert(sizeof(void*) != 8 || offsetof(TParams, ErrorCode) == 16);
static_assert(sizeof(void*) != 8 || offsetof(TParams, Name) == 24);
static_assert(sizeof(void*) != 8 || offsetof(TParams, CallKind) == 32);
static_assert(sizeof(void*) != 8 || offsetof(TParams, HasError) == 34);
static_assert(sizeof(void*) != 8 || offsetof(TParams, ErrorSource) == 40);
static_assert(sizeof(void*) != 8 || offsetof(TParams, ErrorText) == 64);
static_assert(sizeof(void*) != 8 || offsetof(TParams, ResultRef) == 88);
static_assert(sizeof(void*) != 8 || offsetof(TParams, Sink) == 96);
static_assert(sizeof(void*) != 8 || offsetof(TParams, Next) == 104);
static_assert(sizeof(void*) != 8 || offsetof(TParams, OwnsArgs) == 112);
static_assert(sizeof(void*) != 8 || sizeof(TParams) == 120);
static_assert(sizeof(void*) != 8 || sizeof(DISPPARAMS) == 24);
