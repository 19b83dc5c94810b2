#pragma once
// The member tables of a driver class and the numbering the dispatcher uses for their entries.
//
// A concrete driver supplies static tables of methods and properties. Every host call runs
// through the driver's dispatcher (TBaseDllObj::Execute), which finds the member by name in
// these tables, checks the arguments, calls the entry's handler and copies results back.
//
// Names are UTF-8 in the source; the driver compares them in the host's code page.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/ole_automation.h"

class TDevicesList;

// The context of a call as the handlers receive it: the driver object itself, or the host task
// object on whose behalf the host calls (TBaseDllObj::GetBaseDll finds the driver from either).
using TCallContext = void*;

// A method handler: arguments is a one-dimensional safe array of variants, lower bound 0, with
// exactly as many elements as the entry's parameter count; elements the handler changes are
// copied back to the caller. result is the variant the handler fills; a non-zero integer
// result is a device error code (turned into an error for the host).
using TMethodHandler = void (*)(TCallContext context, SAFEARRAY* arguments, VARIANT& result);

// A property handler: set is 1 for writing (value holds the new value) and 0 for reading (the
// handler fills value); name is the entry's Russian name. False: the property could not be
// served.
using TPropertyHandler = bool (*)(TCallContext context, int32_t set, VARIANT& value, std::string_view name);

// Longest texts of a table entry, in characters.
inline constexpr size_t kMethodNameCapacity = 200;
inline constexpr size_t kPropertyNameCapacity = 100;
inline constexpr size_t kPropertyCaptionCapacity = 100;
inline constexpr size_t kPropertyTypeNameCapacity = 10;
inline constexpr size_t kPropertyTextCapacity = 255;

// A method: the Russian and the English name separated by one comma, in either order
// ("Включить,SwitchOn"), the number of arguments, the handler, and a flag (1 in every entry,
// not read by the dispatcher).
struct TMethodEntry {
  std::string_view Name;
  uint8_t ParamCount;
  TMethodHandler Handler;
  int32_t Flag;
};

// A property: the dispatcher reads the names, the read-only flag and the handler; the other
// texts serve the concrete driver and the settings pages.
struct TPropertyEntry {
  std::string_view Name;         // Russian
  std::string_view EnglishName;  // may be empty
  std::string_view Caption;
  std::string_view TypeName;     // for example "Integer"
  bool ReadOnly;
  std::string_view DefaultValue;
  std::string_view Description;
  TPropertyHandler Handler;
};

// A table as the driver holds it: the first entry and the number of entries.
template <class Entry>
struct TMemberTable {
  const Entry* Entries = nullptr;
  int32_t Count = 0;
};
using TMethodTable = TMemberTable<TMethodEntry>;
using TPropertyTable = TMemberTable<TPropertyEntry>;

template <class Entry, size_t N>
constexpr TMemberTable<Entry> MemberTable(const Entry (&entries)[N]) {
  return {entries, static_cast<int32_t>(N)};
}

// Member numbers: a method of the primary table at index i is i, of the secondary table
// 10000 + i; a property of the extra table is 200000 + i, of the property table 100000 + i,
// a devices-list parameter definition 300000 + i (no table entry).
inline constexpr int32_t kNoMember = -1;
inline constexpr int32_t kPrimaryMethodBase = 0;
inline constexpr int32_t kSecondaryMethodBase = 10000;
inline constexpr int32_t kPropertyBase = 100000;
inline constexpr int32_t kExtraPropertyBase = 200000;
inline constexpr int32_t kParamDefinitionBase = 300000;
inline constexpr int32_t kMemberBlockSize = 10000;  // methods per table
inline constexpr int32_t kPropertyBlockSize = 100000;  // properties per table

// The built-in member names (compared exactly, case-sensitively, with the block's Name).
inline constexpr char kBuiltinFree[] = "__FRee";
inline constexpr char kBuiltinLoad[] = "__Load";
inline constexpr char kBuiltinEventSupport[] = "__@@EventSupport";
inline constexpr char kBuiltinSwitchOff[] = "__@@SwitchOff";
// The devices' statistics, for diagnostic tools (hosts never send it): parameter 0 receives a
// text (see DevicesStatisticsText) and the call returns true.
inline constexpr char kBuiltinStatistics[] = "__@@Statistics";

// Every device of the list as the statistics call answers it, each as a line
//   device=<number, 1-based>;on=<0|1>;id=<device id>;name=<device name, UTF-8>
// followed by the lines of the list's statistics source for it (nothing without a source);
// lines end in CR LF.
std::string DevicesStatisticsText(TDevicesList& devices);

// The property that "__@@EventSupport" makes read-only.
inline constexpr char kDeviceIsOnPropertyName[] = "УстройствоВключено";

// The two halves of a method name ("Включить,SwitchOn" -> "Включить" and "SwitchOn"); without a
// comma the whole name and nothing.
struct TNameHalves {
  std::string_view First;
  std::string_view Second;
};
constexpr TNameHalves SplitMethodName(std::string_view name) {
  const size_t comma = name.find(',');
  if (comma == std::string_view::npos) return {name, {}};
  return {name.substr(0, comma), name.substr(comma + 1)};
}
