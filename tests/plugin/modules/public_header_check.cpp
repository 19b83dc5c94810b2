// Compiled with only include/ on the include path and C++17: the public header stands alone and
// gives a host the fields of the block, not the plug-in's operations on it.
#include "vestrel/plugin.h"

#include <type_traits>

template <class T, class = void>
struct HasAddParam : std::false_type {};
template <class T>
struct HasAddParam<T, std::void_t<decltype(&T::AddParam)>> : std::true_type {};
static_assert(!HasAddParam<TParams>::value, "a host sees no plug-in operations on the block");
static_assert(sizeof(void*) != 4 || sizeof(TParams) == 72);

int PublicHeaderCheck() {
  vestrel::HostString name("__Load");
  TParams block{};
  block.Name = name.Get();
  TCallHandler entry = nullptr;
  IPluginControl* control = nullptr;
  IBaseDllObj* driver = nullptr;
  IDllObjMembers* members = nullptr;
  IHostEventSink* sink = nullptr;
  ISafeArray* array = nullptr;
  return (entry == nullptr) + (control == nullptr) + (driver == nullptr) + (members == nullptr) + (sink == nullptr) +
         (array == nullptr) + vestrel::kQueryValue + static_cast<int>(block.Name[-4]);
}
