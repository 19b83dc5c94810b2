#pragma once
// Objects that are never freed by design: state that must outlive the module's static objects
// (a host call or the module's stop may run at process exit after they are destroyed).
//
// Such an object is allocated once per load of the module and stays. When the module is
// unloaded and loaded again, each load leaves one: the price of never touching destroyed
// state. Sanitizer builds check for leaks after the module is gone, where nothing points at
// the object any more; NeverFreed tells their leak checker that this object, and whatever it
// owns, is kept on purpose. Elsewhere it does nothing.
#if defined(__SANITIZE_ADDRESS__)
#define VESTREL_LEAK_CHECKER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(leak_sanitizer)
#define VESTREL_LEAK_CHECKER 1
#endif
#endif

#ifdef VESTREL_LEAK_CHECKER
#include <sanitizer/lsan_interface.h>
#endif

namespace platform {

template <class T>
T& NeverFreed(T* object) noexcept {
#ifdef VESTREL_LEAK_CHECKER
  __lsan_ignore_object(object);
#endif
  return *object;
}

}  // namespace platform
