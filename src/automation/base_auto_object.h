#pragma once
// TBaseAutoObject: the base of the plug-in's late-bound automation objects. Instead of a
// type library each object keeps a name table of its own, filled by RegisterMembers when
// the object is created, and runs calls in one of two modes:
//  - own-table mode: the handler gets the automation argument list itself;
//  - block mode (the default): the call is carried in a TParams block, whose error fields
//    come back to the caller as the automation exception record.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/ole_automation.h"
#include "platform/text_codec.h"

class TParams;
class TBaseAutoObject;

// What a member handler works on: the automation argument list (own-table mode, last
// argument first as automation lays it out) or the parameter block (block mode).
struct TAutoCallArgs {
  DISPPARAMS* Args = nullptr;
  TParams* Params = nullptr;
};

// A bound handler: the object's routine with the call's arguments and the result variant.
using TAutoHandler = std::function<void(const TAutoCallArgs& call, VARIANT& result)>;

struct TAutoMemberEntry {
  AnsiString Name;  // upper-cased when registered
  int16_t ParamCount = 0;
  bool IsMethod = false;
  TAutoHandler Getter;
  TAutoHandler Setter;
};

// The name table holds at most this many members; their indexes are the dispatch ids.
constexpr uint16_t kAutoMemberCapacity = 100;

// Call flags of IDispatch::Invoke as the name table understands them.
enum : uint16_t {
  kAutoFlagMethod = 1,       // DISPATCH_METHOD
  kAutoFlagGet = 2,          // DISPATCH_PROPERTYGET
  kAutoFlagPut = 4,          // DISPATCH_PROPERTYPUT
  kAutoFlagPutRef = 8,       // DISPATCH_PROPERTYPUTREF
};

// The status code in the exception record of a failure that carries no code of its own.
constexpr SCODE kAutoUncodedFailure = 1000;

class TBaseAutoObject : public IDispatch {
public:
  TBaseAutoObject(const TBaseAutoObject&) = delete;
  TBaseAutoObject& operator=(const TBaseAutoObject&) = delete;

  // Creates an object of a derived class with one reference held by the caller and runs
  // its initialisation (which registers the members); a failure there frees the object.
  template <class TObject, class... TArgs>
  static TObject* Create(TArgs&&... args) {
    auto* object = new TObject(std::forward<TArgs>(args)...);
    object->AddRef();
    try {
      object->Initialize();
    } catch (...) {
      object->Release();
      throw;
    }
    return object;
  }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch. Type information is not offered: callers find members by name.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT nameCount, LCID locale,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* args,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argError) override;

  // Argument access in caller order (0 = the first argument the caller wrote).
  static int GetArgCount(const DISPPARAMS* args);
  // A by-reference variant is read through its reference; anything else is copied as it is.
  static void GetArg(const DISPPARAMS* args, int index, VARIANT& value);
  // Writes through a by-reference argument; by-value arguments are left alone.
  static void SetArg(DISPPARAMS* args, int index, const VARIANT& value);

  // The class name reported as the source of errors.
  virtual const char* ClassName() const { return "TBaseAutoObject"; }

  uint16_t MemberCount() const { return FCount; }
  const TAutoMemberEntry& Member(uint16_t id) const { return FEntries.at(id); }

protected:
  TBaseAutoObject() = default;
  virtual ~TBaseAutoObject();

  // Block-mode dispatcher: runs the member named in the block or records why not.
  virtual void CallByParams(TParams& params);
  // Called by CallByParams for a name without an entry; true when handled.
  virtual bool HandleUnknownMember(TParams& params);
  // Subclasses register their members here with AddMethod and AddProperty.
  virtual void RegisterMembers();
  // True for own-table mode; the base runs in block mode.
  virtual bool UsesOwnNameTable() const;
  // Further interfaces that QueryInterface hands out (IUnknown and IDispatch are answered
  // by the base); null when the object has no such interface.
  virtual IUnknown* FindInterface(REFIID iid);

  void AddMethod(const AnsiString& name, int16_t paramCount, TAutoHandler handler);
  void AddProperty(const AnsiString& name, TAutoHandler getter, TAutoHandler setter);

  bool OwnTable() const { return FOwnTable; }

private:
  void Initialize();
  void AddEntry(TAutoMemberEntry entry);
  DISPID FindOwnName(const AnsiString& name) const;
  DISPID FindOrAddBlockName(const AnsiString& name);
  // Own-table call: raises on any failure.
  void InvokeOwnTable(DISPID id, WORD flags, DISPPARAMS* args, VARIANT* result);
  // Block-mode call: failures come back as the status and the exception record.
  HRESULT InvokeByBlock(DISPID id, WORD flags, DISPPARAMS* args, VARIANT* result, EXCEPINFO* exception);

  std::atomic<ULONG> FRefCount{0};
  std::vector<AnsiString> FNameList;  // block mode: names asked for; position = dispatch id
  uint16_t FCount = 0;
  std::array<TAutoMemberEntry, kAutoMemberCapacity> FEntries;
  bool FOwnTable = false;
};

// The value an argument stands for: a by-reference variant is followed to its target.
const VARIANT& ReferencedValue(const VARIANT& value);

// Fills an exception record (when there is one) with a status code, description and source.
void FillExceptionRecord(EXCEPINFO* exception, SCODE code, const AnsiString& description, const AnsiString& source);
