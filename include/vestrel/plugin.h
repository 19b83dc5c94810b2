#pragma once
// Everything a C++ host needs to load and drive the Vestrel plug-in, and nothing else. Only
// include/ is needed on the include path; C++17 or later.
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
//  5. Release everything and unload the library.
#include "vestrel/event_sink.h"
#include "vestrel/ole_types.h"
#include "vestrel/plugin_abi.h"
#include "vestrel/safe_array.h"
