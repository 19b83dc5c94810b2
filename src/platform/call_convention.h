#pragma once
// The argument-passing convention of exported functions of third-party libraries that use the
// Windows API convention: stdcall on 32-bit x86 (callee pops the arguments), the one native
// convention elsewhere.
#if defined(__i386__) || defined(_M_IX86)
#define PLATFORM_STDCALL __attribute__((stdcall))
#else
#define PLATFORM_STDCALL
#endif
