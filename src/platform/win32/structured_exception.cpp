#include "platform/structured_exception.h"

#include <windows.h>

// The guard frame is written in assembly, one for each processor: the compiler has no
// structured exception handling of its own, and the frame must be exactly what the system's
// dispatcher expects.
//
//   int vestrel_guard_frame(void (*fn)(void*), void* context, GuardRecord* record)
//
// calls fn(context) and returns 0, or returns 1 with *record filled in when a structured
// exception raised inside fn reached the frame. The frames in between have been unwound by the
// system by then (their structured cleanup handlers ran; C++ destructors did not).

namespace {

struct GuardRecord {
  uint32_t Code = 0;
  const void* Address = nullptr;
  bool IsWrite = false;
  const void* FaultAddress = nullptr;
};

// The codes with which GCC's own C++ exceptions travel on x86_64: they belong to the C++
// runtime and pass the guard untouched (the C++ layer above the frame catches them first).
constexpr DWORD kGccThrow = 0x20474343;
constexpr DWORD kGccUnwind = 0x21474343;
constexpr DWORD kGccForcedUnwind = 0x22474343;

[[maybe_unused]] bool IsCxxRuntimeCode(DWORD code) { return code == kGccThrow || code == kGccUnwind || code == kGccForcedUnwind; }

void Capture(const EXCEPTION_RECORD& exception, GuardRecord& record) {
  record.Code = exception.ExceptionCode;
  record.Address = exception.ExceptionAddress;
  if (exception.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && exception.NumberParameters >= 2) {
    // Parameter 0: 0 read, 1 write, 8 execute; parameter 1: the address accessed.
    record.IsWrite = exception.ExceptionInformation[0] == 1;
    record.FaultAddress = reinterpret_cast<const void*>(exception.ExceptionInformation[1]);
  }
}

}  // namespace

extern "C" int GuardFrame(void (*fn)(void*), void* context, GuardRecord* record) __asm__("vestrel_guard_frame");

#if defined(__i386__)

// The exception registration the frame pushes on the thread's handler chain (fs:[0]): the
// system's two fields, then the frame's own.
struct GuardRegistration {
  GuardRegistration* Next;
  void* Handler;
  GuardRecord* Record;
};

extern "C" [[noreturn]] void GuardResume(GuardRegistration* registration) __asm__("vestrel_guard_resume");

constexpr DWORD kUnwindingFlags = 0x2 | 0x4;  // EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND

// Called by the dispatcher for an exception that nothing nearer to the fault handled. It
// unwinds the frames above the guard (running their cleanup handlers and taking them off the
// chain) and continues in the guard frame, which reports the exception.
extern "C" __attribute__((force_align_arg_pointer)) EXCEPTION_DISPOSITION __cdecl GuardHandler(
    EXCEPTION_RECORD* exception, void* establisherFrame, CONTEXT*, void*) __asm__("vestrel_guard_handler");

extern "C" EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD* exception, void* establisherFrame,
                                                      CONTEXT*, void*) {
  if ((exception->ExceptionFlags & kUnwindingFlags) != 0) return ExceptionContinueSearch;
  auto* registration = static_cast<GuardRegistration*>(establisherFrame);
  Capture(*exception, *registration->Record);
  RtlUnwind(establisherFrame, nullptr, exception, nullptr);
  GuardResume(registration);
}

__asm__(R"(
  .text
  .globl vestrel_guard_frame
  .def vestrel_guard_frame; .scl 2; .type 32; .endef
vestrel_guard_frame:
  pushl %ebp
  movl %esp, %ebp
  pushl %ebx
  pushl %esi
  pushl %edi
  pushl 16(%ebp)
  pushl $vestrel_guard_handler
  pushl %fs:0
  movl %esp, %fs:0
  pushl 12(%ebp)
  call *8(%ebp)
  addl $4, %esp
  xorl %eax, %eax
vestrel_guard_leave:
  popl %ecx
  movl %ecx, %fs:0
  addl $8, %esp
  popl %edi
  popl %esi
  popl %ebx
  popl %ebp
  ret

  .globl vestrel_guard_resume
  .def vestrel_guard_resume; .scl 2; .type 32; .endef
vestrel_guard_resume:
  movl 4(%esp), %esp
  movl $1, %eax
  jmp vestrel_guard_leave
)");

#elif defined(__x86_64__)

// The filter of the frame's scope entry, called by the system's C scope handler with the
// frame's stack pointer, where the frame keeps the record's address (32 bytes above it,
// past the callee's register home area).
extern "C" LONG GuardFilter(EXCEPTION_POINTERS* pointers, void* establisherFrame) __asm__("vestrel_guard_filter");

extern "C" LONG GuardFilter(EXCEPTION_POINTERS* pointers, void* establisherFrame) {
  const EXCEPTION_RECORD& exception = *pointers->ExceptionRecord;
  if (IsCxxRuntimeCode(exception.ExceptionCode)) return EXCEPTION_CONTINUE_SEARCH;
  auto* record = *reinterpret_cast<GuardRecord**>(static_cast<char*>(establisherFrame) + 32);
  Capture(exception, *record);
  return EXCEPTION_EXECUTE_HANDLER;
}

// One scope entry covers the call; the nop keeps the return address inside it. After the
// system has unwound to the frame it continues at vestrel_guard_caught.
__asm__(R"(
  .text
  .globl vestrel_guard_frame
  .def vestrel_guard_frame; .scl 2; .type 32; .endef
  .seh_proc vestrel_guard_frame
vestrel_guard_frame:
  subq $40, %rsp
  .seh_stackalloc 40
  .seh_endprologue
  movq %r8, 32(%rsp)
  movq %rcx, %rax
  movq %rdx, %rcx
vestrel_guard_begin:
  callq *%rax
  nop
vestrel_guard_end:
  xorl %eax, %eax
  addq $40, %rsp
  ret
vestrel_guard_caught:
  movl $1, %eax
  addq $40, %rsp
  ret
  .seh_handler __C_specific_handler, @except
  .seh_handlerdata
  .long 1
  .rva vestrel_guard_begin, vestrel_guard_end, vestrel_guard_filter, vestrel_guard_caught
  .text
  .seh_endproc
)");

#else
#error "The structured exception guard knows 32-bit x86 and x86_64 only"
#endif

namespace platform {

namespace {

struct GuardedCall {
  void (*Fn)(void*);
  void* Context;
  std::exception_ptr Error;
};

// C++ exceptions are caught inside the guard frame and thrown again outside it, so that none
// ever travels through the hand-written frame.
void RunCatchingCxxExceptions(void* argument) {
  auto* call = static_cast<GuardedCall*>(argument);
  try {
    call->Fn(call->Context);
  } catch (...) {
    call->Error = std::current_exception();
  }
}

}  // namespace

void RunGuarded(void (*fn)(void*), void* context, const GuardPlace& where) {
  GuardedCall call{fn, context, nullptr};
  GuardRecord record;
  if (GuardFrame(&RunCatchingCxxExceptions, &call, &record) != 0) {
    const StructuredException error(record.Code, record.Address, record.IsWrite, record.FaultAddress);
    if (StructuredExceptionObserver observer = CurrentStructuredExceptionObserver()) observer(error, where);
    throw error;
  }
  if (call.Error) std::rethrow_exception(call.Error);
}

}  // namespace platform
