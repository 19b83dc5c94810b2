// A tiny host, compiled with only include/ on the include path and C++17: the public header
// stands alone, gives a host the fields of the block (not the plug-in's operations on it) and
// everything a host needs to build one. It loads the library named on its command line, reads
// "Релиз" with a block it builds itself and prints it; exit code 0 when that worked.
#include "vestrel/plugin.h"

#include <cstdio>
#include <type_traits>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

template <class T, class = void>
struct HasAddParam : std::false_type {};
template <class T>
struct HasAddParam<T, std::void_t<decltype(&T::AddParam)>> : std::true_type {};
static_assert(!HasAddParam<TParams>::value, "a host sees no plug-in operations on the block");
static_assert(sizeof(void*) != 4 || sizeof(TParams) == 72);

namespace {

void* Resolve(const char* library, const char* name) {
#ifdef _WIN32
  HMODULE module = LoadLibraryA(library);
  return module == nullptr ? nullptr : reinterpret_cast<void*>(GetProcAddress(module, name));
#else
  void* module = dlopen(library, RTLD_NOW | RTLD_LOCAL);
  return module == nullptr ? nullptr : dlsym(module, name);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  auto pluginControl = reinterpret_cast<TPluginControlExport>(Resolve(argv[1], "PluginControl"));
  if (pluginControl == nullptr) return 3;
  IPluginControl* control = nullptr;
  pluginControl(&control);
  TCallHandler entry = nullptr;
  if (control == nullptr || control->GetCallHandler(&entry) != S_OK || entry == nullptr) return 4;

  // "Релиз" (in code page 1251), read as a property: result, name and kind by reference.
  const char name[] = "\xD0\xE5\xEB\xE8\xE7";
  const OLECHAR wideName[] = {0x0420, 0x0435, 0x043B, 0x0438, 0x0437, 0};
  VARIANT values[3];
  for (VARIANT& value : values) VariantInit(&value);
  V_VT(&values[1]) = VT_BSTR;
  V_BSTR(&values[1]) = SysAllocString(wideName);
  V_VT(&values[2]) = VT_I4;
  V_I4(&values[2]) = vestrel::kCallPropertyGet;
  VARIANT references[3];
  for (int i = 0; i < 3; ++i) {
    VariantInit(&references[2 - i]);
    V_VT(&references[2 - i]) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&references[2 - i]) = &values[i];
  }
  DISPPARAMS record{references, nullptr, 3, 0};
  vestrel::HostString hostName(name);
  TParams block{};
  block.Name = hostName.Get();
  block.Args = &record;
  const bool done = entry(&block, nullptr) && !block.HasError;
  VARIANT release;
  VariantInit(&release);
  const bool number = done && SUCCEEDED(VariantChangeType(&release, &values[0], 0, VT_I4));
  if (number) std::printf("%ld\n", static_cast<long>(V_I4(&release)));
  for (VARIANT& value : values) VariantClear(&value);
  VariantClear(&block.ErrorText);
  VariantClear(&block.ErrorSource);
  control->Release();
  return number ? 0 : 5;
}
