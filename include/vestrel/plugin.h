#pragma once
// Everything a C++ host needs to load and drive the Vestrel plug-in, and nothing else. Only
// include/ is needed on the include path; C++17 or later. On Windows the OLE automation
// functions are the system's (link oleaut32 and ole32); elsewhere vestrel/ole_types.h declares
// them and the program links the project's platform library, which stands in for the system.
//
//  1. Load Vestrel.plu (LoadLibrary; dlopen on Linux) and resolve PluginControl and Query.
//  2. Call PluginControl for IPluginControl (an empty reference when the library could not
//     make its driver object). On 32-bit x86 it takes the result slot in EAX (the host's
//     register convention, VESTREL_REGISTER_CALL).
//  3. Optionally SetApplication; then GetCallHandler (the exception-safe call entry) and
//     GetDllObjectIntf (IBaseDllObj). Hand over an event sink (IHostEventSink) with
//     IBaseDllObj::SetEventSink or the built-in member "__@@EventSupport".
//  4. Call members by name: a chain of TParams blocks (parameter 0 the result, 1 the member
//     name, 2 a vestrel::MemberAccess, 3 and up the arguments) through the call entry.
//  5. Switch every device off ("__@@SwitchOff", or "__FRee", which also empties the devices
//     list and gives the event sink back), release everything and unload the library.
//
// Threads. A host may call from any thread. Calls are served one at a time: a call from a
// second thread waits until the call in progress has ended (messages sent to the waiting
// thread's windows are delivered meanwhile); a call from inside another one on the same thread
// (from an event, from the settings dialog) runs at once. This holds for the call entry and for
// the operations of IPluginControl (GetDllObjectIntf, SetApplication), IBaseDllObj,
// IDllObjMembers, the device items (IDeviceItem) and the models (IModelPluItem); reference
// counting and QueryInterface never wait.
//
// Events. A card arrives as an external event on the sink (IHostEventSink::ExternalEvent) from
// the polling thread of the device that is on, never from the host's own thread. The sink must
// accept calls from that thread. From inside the event the host may call the plug-in again
// through the call entry; while the host's own thread switches the device off, the switch-off
// waits for the event to end and lets such calls through.
//
// Unloading. Switch every device off before unloading the library. A device that is on keeps
// the library loaded: its polling thread holds a reference to the module and drops it only as
// it ends, so FreeLibrary with a device on returns at once and the library stays loaded (its
// polling thread running and sending events to the sink) until the device goes off. The
// library's module stop frees the driver and switches off what is still on.
//
// Built-in members, named by the block's Name field (exactly, case-sensitively); each one ends
// the chain and answers false on success, so read HasError to tell success from failure:
//   "__FRee"           gives the event sink back, empties the devices list (switching its
//                      devices off) and frees what the plug-in attached to the host's blocks
//                      (see "__@@EventSupport");
//   "__Load"           does nothing;
//   "__@@EventSupport" takes the block's Sink as the event sink and answers the driver's
//                      IDllObjMembers as parameter 0; "УстройствоВключено" is read-only from
//                      then on. In a block whose record holds parameters the answer goes into
//                      parameter 0 (through the host's reference); a block without a record
//                      gets storage of the plug-in's, valid until "__FRee" or unloading (give
//                      the block a new record before using it again);
//   "__@@SwitchOff"    switches every device off.
// A call of kind 0 (neither method nor property) also answers false with HasError clear.
//
// Results and arguments. A member's results go back into the block: parameter 0 the result,
// and every argument the member changes. In a record the host owns (OwnsArgs false, the
// automation layout, last parameter first) a parameter can take a value only by reference:
//   VT_BYREF|VT_VARIANT  any value (the host's variant is cleared first, then holds a value of
//                        its own, never a reference);
//   VT_BYREF|VT_I4, VT_BYREF|VT_R8, VT_BYREF|VT_BSTR  the value converted to that type;
//   any other by-reference type  refused before the member runs: error 20000
//                        "Неподдерживаемый тип параметра.", nothing changed;
//   a by-value parameter stays as it was (the host's own copy); a by-value result slot gets
//                        no result.
// Storage the block allocated itself (OwnsArgs true, kOwnedArgumentCapacity slots in call
// order) takes every value as it stands. A VT_BYREF|VT_VARIANT parameter refers to a variant
// that is no such reference itself (one level, as automation has it).
//
// What the entry refuses before anything runs (error 20000 in the first block): a chain
// longer than 1000 blocks or one that runs in a circle, a record with more than
// kOwnedArgumentCapacity parameters or none for its count, a by-reference parameter with a
// null reference, a reference to a reference.
//
// Errors. A failure ends in the first block: HasError, ErrorCode, ErrorSource (the member name
// as text) and ErrorText (the description). ErrorSource and ErrorText are values of the block:
// the plug-in clears what they held and stores texts (VT_BSTR) it allocated; the host frees
// them with VariantClear when it disposes of the block. Start a block zero-filled (empty
// variants) and never leave values there that the host frees elsewhere.
#include "vestrel/event_sink.h"
#include "vestrel/ole_types.h"
#include "vestrel/plugin_abi.h"
#include "vestrel/safe_array.h"
