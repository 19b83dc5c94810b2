#pragma once
// The host's event sink: the interface a host hands to the plug-in so that the plug-in can
// report external events (a card presented to a reader) and create array objects for the
// tables it returns.
//
// The plug-in uses two operations of the host's interface, by their position among its
// operations counted from 0 (positions 0-2 are QueryInterface, AddRef and Release):
//   7  external event       (source, device identifier text, data, address of the device's
//                            16-byte identifier)
//   23 create array object  (out: a variant receiving a new two-dimensional array object)
// The other positions belong to the host; the plug-in never calls them.
//
// The host is written in an Object Pascal dialect, and the two operations use that
// language's "register" convention on 32-bit x86: the interface pointer in EAX, the next two
// arguments in EDX and ECX, the rest pushed left to right, the callee pops them. GCC spells
// that regparm(3) with stdcall, and the stack arguments are declared in reverse order (so
// `DeviceIdPtr` comes before `Data` below, although the host lists data first). Elsewhere
// there is one native convention.
//
// The device list, the polling thread, the driver object and a host written in C++ share
// this declaration. A C++ host derives from IHostEventSink and overrides the two operations;
// the host-only positions have empty bodies here so that the table keeps its shape.

#include "vestrel/ole_types.h"

#ifndef VESTREL_HOST_REGISTER
#if defined(__i386__) || defined(_M_IX86)
#define VESTREL_HOST_REGISTER __attribute__((regparm(3), stdcall))
#else
#define VESTREL_HOST_REGISTER
#endif
#endif

struct IHostEventSink : public IUnknown {
  // Positions 3-6: the host's own.
  virtual void VESTREL_HOST_REGISTER HostOperation3() {}
  virtual void VESTREL_HOST_REGISTER HostOperation4() {}
  virtual void VESTREL_HOST_REGISTER HostOperation5() {}
  virtual void VESTREL_HOST_REGISTER HostOperation6() {}

  // Position 7: an external event. Source is the equipment class ("Сканер"), DeviceIdText
  // the device identifier in registry form, Data the event's data (the card code);
  // DeviceIdPtr addresses the device's 16-byte identifier. The strings stay the caller's.
  virtual void VESTREL_HOST_REGISTER ExternalEvent(BSTR Source, BSTR DeviceIdText, const GUID* DeviceIdPtr,
                                                   BSTR Data) = 0;

  // Positions 8-22: the host's own.
  virtual void VESTREL_HOST_REGISTER HostOperation8() {}
  virtual void VESTREL_HOST_REGISTER HostOperation9() {}
  virtual void VESTREL_HOST_REGISTER HostOperation10() {}
  virtual void VESTREL_HOST_REGISTER HostOperation11() {}
  virtual void VESTREL_HOST_REGISTER HostOperation12() {}
  virtual void VESTREL_HOST_REGISTER HostOperation13() {}
  virtual void VESTREL_HOST_REGISTER HostOperation14() {}
  virtual void VESTREL_HOST_REGISTER HostOperation15() {}
  virtual void VESTREL_HOST_REGISTER HostOperation16() {}
  virtual void VESTREL_HOST_REGISTER HostOperation17() {}
  virtual void VESTREL_HOST_REGISTER HostOperation18() {}
  virtual void VESTREL_HOST_REGISTER HostOperation19() {}
  virtual void VESTREL_HOST_REGISTER HostOperation20() {}
  virtual void VESTREL_HOST_REGISTER HostOperation21() {}
  virtual void VESTREL_HOST_REGISTER HostOperation22() {}

  // Position 23: a new two-dimensional array object, stored into Result (an empty variant
  // the caller owns and clears afterwards).
  virtual void VESTREL_HOST_REGISTER CreateArrayObject(VARIANT* Result) = 0;

protected:
  ~IHostEventSink() = default;
};

// The positions the plug-in relies on.
inline constexpr int kEventSinkExternalEventPosition = 7;
inline constexpr int kEventSinkCreateArrayPosition = 23;

// The event sink arrives as a plain interface reference (a parameter block's Sink field,
// IBaseDllObj::SetEventSink); it is the host's event-sink interface itself.
inline IHostEventSink* AsHostEventSink(IUnknown* Sink) { return static_cast<IHostEventSink*>(Sink); }
