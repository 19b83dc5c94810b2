#pragma once
// One configured piece of equipment in a driver's devices list: its identity (a GUID and a
// display name), its parameters, its on/off state and its last device error code. The
// concrete device class derives from it and supplies the real opening, closing and settings
// dialog. The item reads its description from XML (current and legacy format), writes it in
// the current format, and turns its parameters into a property table for the host and back.
//
// Threads: the polling thread of a device that is on reads its parameters while the host's
// thread may change them. Every access to the parameters, the identifier and the name goes
// through the item's lock; the thread reads with GetParamValue/GetIntParam/DeviceId like
// anyone else and never holds a reference to the parameter items themselves.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "base/collection_bases.h"
#include "base/global_id.h"
#include "devices/prop_list.h"
#include "platform/ole_ptr.h"
#include "platform/text_codec.h"
#include "vestrel/event_sink.h"

// {B911C0BF-C46E-4916-A7D7-5AB5CE9598E5}
inline constexpr IID IID_IDeviceItem = {
    0xB911C0BF, 0xC46E, 0x4916, {0xA7, 0xD7, 0x5A, 0xB5, 0xCE, 0x95, 0x98, 0xE5}};

// The interface through which the driver's other parts reach a device. Every operation
// returns a status (S_OK, or a failure with the thread's error information set to the
// exception's message) and passes its result through the out argument.
struct IDeviceItem : public IUnknown {
  // -1 when the device is on, else 0.
  virtual HRESULT STDMETHODCALLTYPE IsOn(VARIANT_BOOL* Result) = 0;
  // Runs the settings dialog; the device error code it returned (8: cancelled).
  virtual HRESULT STDMETHODCALLTYPE ShowSettings(LONG* Result) = 0;
  // The device's description document (current format).
  virtual HRESULT STDMETHODCALLTYPE GetParametersXml(VARIANT* Result) = 0;
  // Takes the device out of its list and gives up the list's reference (once only); 0.
  virtual HRESULT STDMETHODCALLTYPE Detach(LONG* Result) = 0;
};

// Device error codes (per device; 0 = success).
enum : int32_t {
  DEVICE_OK = 0,
  DEVICE_NOT_ACTIVE = 3,       // no device, or the device is off
  DEVICE_BAD_PARAM_TYPE = 4,   // a parameter of the wrong type
  DEVICE_CANCELLED = 8,        // the settings dialog was cancelled
  DEVICE_LIBRARY_ERROR = 9,    // the reader library could not be bound
  DEVICE_READER_MISSING = 10,  // no reader found
  DEVICE_READER_IN_USE = 11,   // the reader library is held elsewhere
};

// The name of the pseudo-property that carries the device name in property tables.
AnsiString DeviceNamePropertyName();

class TDevicesList;

class TDeviceItem : public TImplementsInterfaces<TRootCollectionItem, IDeviceItem> {
public:
  // Joins the list (a TDevicesList) at its end: takes the list's next free device name (unless
  // the list is loading descriptions that name their devices), a new identifier, the list's
  // event sink and a copy of the list's parameter definitions.
  explicit TDeviceItem(TCollection* Collection);

  // IDeviceItem. Detach is the first of the item's own virtual operations.
  HRESULT STDMETHODCALLTYPE Detach(LONG* Result) override;
  HRESULT STDMETHODCALLTYPE IsOn(VARIANT_BOOL* Result) override;
  HRESULT STDMETHODCALLTYPE ShowSettings(LONG* Result) override;
  HRESULT STDMETHODCALLTYPE GetParametersXml(VARIANT* Result) override;

  // The item's virtual operations, in the order the concrete device class relies on.
  virtual int32_t AfterLoad();             // after LoadFromXml; its result is LoadFromXml's
  virtual int32_t ShowSettings();          // settings dialog: a device error code
  virtual void Hook4() {}
  virtual int32_t GetActive();             // 1 when on, else 0
  virtual int32_t SetActive(int32_t Value);  // switches through Open or Close
  virtual bool Open();                     // true: the device is on (the base has nothing to open)
  virtual bool Close();
  virtual int32_t Hook9() { return 0; }
  virtual void Hook10(int32_t) {}
  virtual int32_t Hook11(int32_t) { return 0; }
  virtual int32_t CheckActive();           // 0 when on, else 3; stored as the error code
  virtual bool CheckActiveEx(int32_t& Code);
  // The value of the parameter of that name (empty when there is none), escaped line breaks
  // turned into CR LF for display.
  virtual AnsiString GetParamValue(const AnsiString& Name);
  // CR LF escaped again, then stored; a missing parameter is added. A value that is not one of
  // the parameter's own type ("Integer", "Double", "Число") raises error 20029 with the
  // parameter's caption and changes nothing.
  virtual void SetParamValue(const AnsiString& Name, const AnsiString& Text);
  // The list's text for a device error code.
  virtual AnsiString GetErrorText(int32_t Code);

  // GetParamValue as a 32-bit integer; an empty value counts as 0, a text that is no number
  // raises EConvertError.
  int32_t GetIntParam(const AnsiString& Name);
  void SetIntParam(const AnsiString& Name, int32_t Value);

  // Stores the code. A negative code also produces an error 20000 that is swallowed at once:
  // nothing reaches the caller.
  void SetErrorCode(int32_t Code);
  int32_t ErrorCode() const { return FErrorCode.load(); }

  // Reads a description: XML text (CR LF pairs removed, legacy names applied) or an XML node.
  // Other sources change nothing and give 0. The result is AfterLoad's. A description that
  // cannot be taken (text that does not parse, a "Код" that is no identifier, a number
  // parameter that is no number: error 20029) raises and leaves the device as it was. A
  // description without a "Код" (or with the empty identifier) keeps the device's identifier.
  // Only the device's own description counts, not a device description nested inside it.
  int32_t LoadFromXml(const VARIANT& Source);
  // The description document in the current format.
  OleVariant GetParametersXml();
  // A new array object of (parameters + 1) rows by 7 columns describing the device; 0.
  int32_t GetPropertyTable(OleVariant& Table);
  // Applies the rows of a property table as parameter values; 0. A row of type "Число" that
  // is not read-only and whose value is no number, or a row whose value is not of its
  // parameter's own type, raises error 20029 with the row's caption, and no row is applied.
  int32_t ApplyPropertyTable(const VARIANT& Table);

  // Identity; read and written under the item's lock (any thread).
  TGlobalId DeviceId() const;
  void SetDeviceId(const TGlobalId& Id);
  AnsiString DeviceName() const;
  void SetDeviceName(const AnsiString& Name);

  // Copies of the parameters, in order (any thread).
  std::vector<TPropFields> PropsSnapshot() const;
  // Runs Body(TPropList&) under the item's lock. Body must not call back into the item.
  template <class F>
  decltype(auto) WithProps(F&& Body) const {
    std::lock_guard<std::mutex> lock(FLock);
    return Body(*FProps);
  }

  bool Active() const { return FActive.load(); }
  int32_t Number() const { return FNumber; }
  uint32_t ThreadId() const { return FThreadId; }
  // The context of the call in progress (driver object or host task), or null.
  void* CallContext() const { return FCallContext; }
  void SetCallContext(void* Context) { FCallContext = Context; }
  // The event sink copied from the list at creation; null when the host registered none.
  IUnknown* EventSink() const { return FLink.Get(); }
  IHostEventSink* HostEventSink() const { return AsHostEventSink(FLink.Get()); }
  // The list the device belongs to; null once it has been detached.
  TDevicesList* DevicesList() const;

protected:
  ~TDeviceItem() override;
  void* GetInterface(REFIID riid) override;

  // The parameter access the virtual operations use, without line-break conversion.
  AnsiString RawParamValue(const AnsiString& Name) const;
  void SetRawParamValue(const AnsiString& Name, const AnsiString& Text);

private:
  struct TDescription;
  void ReadCurrentFormat(const VARIANT& Doc, const VARIANT& Node, TDescription& Into) const;
  void ReadLegacyFormat(const VARIANT& Doc, const VARIANT& Node, TDescription& Into) const;
  void Commit(const TDescription& Description);

  mutable std::mutex FLock;  // guards FProps, FDeviceId and FDeviceName
  std::atomic<bool> FActive{false};
  int32_t FReserved = 0;
  void* FCallContext = nullptr;
  std::vector<AnsiString> FStrings;  // kept for the concrete device class; unused here
  std::atomic<int32_t> FErrorCode{0};
  std::unique_ptr<TPropList> FProps;
  TGlobalId FDeviceId{};
  AnsiString FDeviceName;
  int32_t FNumber = 0;
  uint32_t FThreadId = 0;
  int32_t FFlag = 1;
};
