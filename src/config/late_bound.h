#pragma once
// Late-bound automation calls: members of an object held in a variant, called by name
// through IDispatch (GetIDsOfNames + Invoke), as the configuration code drives the XML DOM.

#include <initializer_list>
#include <string_view>

#include "base/errors.h"
#include "platform/ole_ptr.h"

// A failed automation call: the message is the object's error description, or a text naming
// the member and the result code when the object gave none.
class EOleException : public Exception {
public:
  EOleException(AnsiString message, HRESULT errorCode, AnsiString source)
      : Exception(std::move(message)), ErrorCode(errorCode), Source(std::move(source)) {}
  const char* ClassName() const noexcept override { return "EOleException"; }
  HRESULT ErrorCode;
  AnsiString Source;
};

// True when the variant holds an object (a non-null dispatch or unknown pointer, also by
// reference); empty, null and every other value are no object.
bool HasObject(const VARIANT& value) noexcept;

// Creates an automation object by program id; a failure raises EOleException.
OleVariant CreateOleObject(WideStringView progId);

// Calls a method (or reads a property with arguments) and returns its result.
// The member name is ASCII; arguments are passed in the order given.
OleVariant CallMethod(const VARIANT& object, std::string_view member, std::initializer_list<OleVariant> args = {});
// Reads a property.
OleVariant GetProperty(const VARIANT& object, std::string_view member);
// Writes a property; an object value is assigned by reference (property put-ref).
void SetProperty(const VARIANT& object, std::string_view member, const OleVariant& value);
