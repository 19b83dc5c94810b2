#pragma once
// Owned automation values and late-bound calls by member name: what the tool needs to drive
// the XML documents it hands to the plug-in and the objects the plug-in hands back.
#include <string>
#include <utility>
#include <vector>

#include "host_system.h"

namespace vestrel_host {

// A VARIANT that clears itself.
class Value {
public:
  Value() { VariantInit(&FValue); }
  ~Value() { VariantClear(&FValue); }
  Value(const Value& other) : Value() { VariantCopy(&FValue, const_cast<VARIANT*>(&other.FValue)); }
  Value(Value&& other) noexcept : FValue(other.FValue) { VariantInit(&other.FValue); }
  Value& operator=(Value other) noexcept {
    std::swap(FValue, other.FValue);
    return *this;
  }
  // Takes ownership of a raw variant's contents (the source is left empty).
  static Value Adopt(VARIANT& raw);
  static Value Text(const OleText& text);
  static Value Text(const std::string& utf8) { return Text(Utf16FromUtf8(utf8)); }
  static Value Integer(int32_t number);
  static Value Double(double number);
  static Value Boolean(bool value);
  // Holds the object (adds a reference).
  static Value Object(IDispatch* object);

  VARIANT& Raw() { return FValue; }
  const VARIANT& Raw() const { return FValue; }
  VARTYPE Type() const { return V_VT(&FValue) & ~VT_BYREF; }
  bool IsEmpty() const { return Type() == VT_EMPTY || Type() == VT_NULL; }
  // The object held (not added to), nullptr for none.
  IDispatch* Dispatch() const;
  // Plain text of a string, number or Boolean (objects: empty).
  OleText AsText() const;
  bool AsInteger(int32_t& number) const;

private:
  VARIANT FValue;
};

// A late-bound object: calls by member name through IDispatch. Holds one reference.
class Automation {
public:
  Automation() = default;
  explicit Automation(IDispatch* object, bool addReference = true);
  ~Automation();
  Automation(const Automation& other) : Automation(other.FObject, true) {}
  Automation& operator=(Automation other) noexcept {
    std::swap(FObject, other.FObject);
    return *this;
  }
  explicit operator bool() const { return FObject != nullptr; }
  IDispatch* Object() const { return FObject; }

  // nullopt-like: an empty Value with `ok` false when the member is unknown or the call failed.
  Value Get(const char* property, bool* ok = nullptr) const;
  bool Put(const char* property, const Value& value) const;
  Value Call(const char* method, std::vector<Value> arguments, bool* ok = nullptr) const;

  // Conveniences for DOM nodes.
  OleText Text(const char* property) const { return Get(property).AsText(); }
  Automation ObjectOf(const char* property) const;
  OleText Attribute(const std::string& name) const;
  bool SetAttribute(const std::string& name, const OleText& value) const;
  // The nodes an XPath expression selects, in document order.
  std::vector<Automation> Select(const std::string& path) const;

private:
  IDispatch* FObject = nullptr;
};

// A new XML document: asynchronous loading off, XPath selection, white space kept.
Automation NewXmlDocument();
// A document loaded from text; empty when the DOM refuses the text.
Automation LoadXmlDocument(const OleText& text);

}  // namespace vestrel_host
