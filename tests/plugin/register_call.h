#pragma once
// Calls into the plug-in the way a host written in a register-convention language makes them.
//
// On 32-bit x86 the arguments are placed in EAX, EDX and ECX by a small assembly routine (and two
// stray words lie on the stack where a stack-convention callee would look for arguments), so
// the convention is checked against the library itself rather than against our own
// declarations. The routine also reports how far the callee moved the stack pointer, which
// must be 0. Elsewhere there is one convention and these are plain calls.
#include <cstdint>

#include "vestrel/plugin_abi.h"

struct TRegisterCallResult {
  uint32_t Eax;        // the callee's EAX (a Boolean result in AL)
  int32_t StackDelta;  // stack pointer after the call minus before it
};

// PluginControl(result slot): the slot in EAX.
TRegisterCallResult CallPluginControl(TPluginControlExport function, IPluginControl** slot);
// IDllObjMembers operation at vtable slot `slot` (3..7): interface in EAX, name in EDX.
TRegisterCallResult CallMembersOperation(IDllObjMembers* members, int slot, BSTR name);
// IBaseDllObj::GetMembers (vtable slot 11): interface in EAX, result slot in EDX.
TRegisterCallResult CallGetMembers(IBaseDllObj* object, IDllObjMembers** slot);

#if defined(__i386__)
// A host event sink whose operations at positions 7 and 23 are assembly routines that record
// the registers and the first two stack words they were called with (position 7 returns
// popping its two stack arguments, as the host's convention has it).
struct TSinkCallRecord {
  uint32_t Position, Eax, Edx, Ecx, Stack1, Stack2;
};
TSinkCallRecord LastSinkCall();
void ResetSinkCall();
// The sink (its first word is the table of operations); reference counting is a no-op.
IUnknown* RecordingEventSink();
#endif
