#include "register_call.h"

namespace {

void* VtableEntry(void* object, int slot) { return (*reinterpret_cast<void***>(object))[slot]; }

}  // namespace

#if defined(__i386__)

extern "C" uint32_t VestrelCallRegisters(const void* target, uint32_t eax, uint32_t edx, uint32_t ecx,
                                         int32_t* stackDelta);

// cdecl: target, eax, edx, ecx, stackDelta at 8..24(%ebp).
asm(R"(
  .text
  .globl _VestrelCallRegisters
_VestrelCallRegisters:
  pushl %ebp
  movl %esp, %ebp
  pushl %ebx
  pushl %esi
  pushl %edi
  pushl $0xBAADF00D
  pushl $0xBAADF00D
  movl 12(%ebp), %eax
  movl 16(%ebp), %edx
  movl 20(%ebp), %ecx
  movl %esp, %esi
  call *8(%ebp)
  movl %esp, %ecx
  subl %esi, %ecx
  movl 24(%ebp), %edx
  movl %ecx, (%edx)
  leal -12(%ebp), %esp
  popl %edi
  popl %esi
  popl %ebx
  popl %ebp
  ret
)");

namespace {
TRegisterCallResult Call(const void* target, uint32_t eax, uint32_t edx, uint32_t ecx) {
  TRegisterCallResult result{};
  result.Eax = VestrelCallRegisters(target, eax, edx, ecx, &result.StackDelta);
  return result;
}
uint32_t Word(const void* pointer) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer)); }
}  // namespace

TRegisterCallResult CallPluginControl(TPluginControlExport function, IPluginControl** slot) {
  return Call(reinterpret_cast<const void*>(function), Word(slot), 0x11111111, 0x22222222);
}

TRegisterCallResult CallMembersOperation(IDllObjMembers* members, int slot, BSTR name) {
  return Call(VtableEntry(members, slot), Word(members), Word(name), 0x33333333);
}

TRegisterCallResult CallGetMembers(IBaseDllObj* object, IDllObjMembers** slot) {
  return Call(VtableEntry(object, 11), Word(object), Word(slot), 0x44444444);
}

extern "C" uint32_t VestrelSinkRecord[6];
uint32_t VestrelSinkRecord[6];
extern "C" void VestrelSinkPosition7();
extern "C" void VestrelSinkPosition23();

asm(R"(
  .text
  .globl _VestrelSinkPosition7
_VestrelSinkPosition7:
  movl $7, _VestrelSinkRecord
  movl %eax, _VestrelSinkRecord+4
  movl %edx, _VestrelSinkRecord+8
  movl %ecx, _VestrelSinkRecord+12
  movl 4(%esp), %eax
  movl %eax, _VestrelSinkRecord+16
  movl 8(%esp), %eax
  movl %eax, _VestrelSinkRecord+20
  ret $8
  .globl _VestrelSinkPosition23
_VestrelSinkPosition23:
  movl $23, _VestrelSinkRecord
  movl %eax, _VestrelSinkRecord+4
  movl %edx, _VestrelSinkRecord+8
  movl %ecx, _VestrelSinkRecord+12
  movl 4(%esp), %eax
  movl %eax, _VestrelSinkRecord+16
  movl 8(%esp), %eax
  movl %eax, _VestrelSinkRecord+20
  ret
)");

namespace {
HRESULT __attribute__((stdcall)) SinkQueryInterface(void*, REFIID, void** object) {
  if (object) *object = nullptr;
  return E_NOINTERFACE;
}
ULONG __attribute__((stdcall)) SinkCount(void*) { return 1; }

const void* gSinkTable[24] = {reinterpret_cast<const void*>(&SinkQueryInterface),
                              reinterpret_cast<const void*>(&SinkCount), reinterpret_cast<const void*>(&SinkCount)};
struct TRecordingSink {
  const void* const* Table;
} gSink{gSinkTable};
}  // namespace

TSinkCallRecord LastSinkCall() {
  return {VestrelSinkRecord[0], VestrelSinkRecord[1], VestrelSinkRecord[2],
          VestrelSinkRecord[3], VestrelSinkRecord[4], VestrelSinkRecord[5]};
}
void ResetSinkCall() {
  for (uint32_t& word : VestrelSinkRecord) word = 0;
}
IUnknown* RecordingEventSink() {
  gSinkTable[7] = reinterpret_cast<const void*>(&VestrelSinkPosition7);
  gSinkTable[23] = reinterpret_cast<const void*>(&VestrelSinkPosition23);
  return reinterpret_cast<IUnknown*>(&gSink);
}

#else

TRegisterCallResult CallPluginControl(TPluginControlExport function, IPluginControl** slot) {
  function(slot);
  return {0, 0};
}

TRegisterCallResult CallMembersOperation(IDllObjMembers* members, int slot, BSTR name) {
  using Operation = bool (*)(IDllObjMembers*, BSTR);
  const bool answer = reinterpret_cast<Operation>(VtableEntry(members, slot))(members, name);
  return {answer ? 1u : 0u, 0};
}

TRegisterCallResult CallGetMembers(IBaseDllObj* object, IDllObjMembers** slot) {
  object->GetMembers(slot);
  return {0, 0};
}

#endif
