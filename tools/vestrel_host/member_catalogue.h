#pragma once
// The scanner driver's members as hosts know them: both names, the kind and the number of
// arguments a method requires. The driver answers lookups by name but cannot list its
// members, so the tool keeps the list and asks the loaded plug-in about each name.
#include <cstdint>
#include <string>
#include <vector>

namespace vestrel_host {

enum class MemberKind { Method, Property, ReadOnlyProperty, Builtin };

struct Member {
  const char* Russian;
  const char* English;  // empty for the built-in members
  MemberKind Kind;
  int32_t Arguments;    // methods: the count the dispatcher requires; otherwise 0
};

const std::vector<Member>& Members();
// The member of either name, letter case aside (Latin and Cyrillic); nullptr for none.
const Member* FindMember(const std::string& name);

}  // namespace vestrel_host
