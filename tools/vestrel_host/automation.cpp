#include "automation.h"

namespace vestrel_host {

Value Value::Adopt(VARIANT& raw) {
  Value value;
  value.FValue = raw;
  VariantInit(&raw);
  return value;
}

Value Value::Text(const OleText& text) {
  Value value;
  V_VT(&value.FValue) = VT_BSTR;
  V_BSTR(&value.FValue) = AllocBstr(text);
  return value;
}

Value Value::Integer(int32_t number) {
  Value value;
  V_VT(&value.FValue) = VT_I4;
  V_I4(&value.FValue) = number;
  return value;
}

Value Value::Double(double number) {
  Value value;
  V_VT(&value.FValue) = VT_R8;
  V_R8(&value.FValue) = number;
  return value;
}

Value Value::Boolean(bool on) {
  Value value;
  V_VT(&value.FValue) = VT_BOOL;
  V_BOOL(&value.FValue) = on ? VARIANT_TRUE : VARIANT_FALSE;
  return value;
}

Value Value::Object(IDispatch* object) {
  Value value;
  if (object == nullptr) return value;
  object->AddRef();
  V_VT(&value.FValue) = VT_DISPATCH;
  V_DISPATCH(&value.FValue) = object;
  return value;
}

IDispatch* Value::Dispatch() const {
  const VARIANT* value = &FValue;
  while (V_VT(value) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(value) != nullptr) value = V_VARIANTREF(value);
  if (V_VT(value) == VT_DISPATCH) return V_DISPATCH(value);
  if (V_VT(value) == (VT_BYREF | VT_DISPATCH) && V_DISPATCHREF(value) != nullptr) return *V_DISPATCHREF(value);
  return nullptr;
}

OleText Value::AsText() const {
  if (IsEmpty() || Type() == VT_DISPATCH || Type() == VT_UNKNOWN) return {};
  VARIANT plain;
  VariantInit(&plain);
  OleText text;
  if (Type() == VT_BOOL) {
    if (SUCCEEDED(VariantChangeType(&plain, const_cast<VARIANT*>(&FValue), 0, VT_BOOL)))
      text = Utf16FromUtf8(V_BOOL(&plain) ? "true" : "false");
  } else if (SUCCEEDED(VariantChangeType(&plain, const_cast<VARIANT*>(&FValue), 0, VT_BSTR)) && V_BSTR(&plain) != nullptr) {
    text.assign(V_BSTR(&plain), SysStringLen(V_BSTR(&plain)));
  }
  VariantClear(&plain);
  return text;
}

bool Value::AsInteger(int32_t& number) const {
  VARIANT converted;
  VariantInit(&converted);
  const bool ok = SUCCEEDED(VariantChangeType(&converted, const_cast<VARIANT*>(&FValue), 0, VT_I4));
  if (ok) number = V_I4(&converted);
  VariantClear(&converted);
  return ok;
}

Automation::Automation(IDispatch* object, bool addReference) : FObject(object) {
  if (FObject != nullptr && addReference) FObject->AddRef();
}

Automation::~Automation() {
  if (FObject != nullptr) FObject->Release();
}

namespace {

bool Invoke(IDispatch* object, const char* member, WORD flags, std::vector<Value>& arguments, Value& result) {
  if (object == nullptr) return false;
  OleText name = Utf16FromUtf8(member);
  LPOLESTR names[] = {name.data()};
  DISPID id = 0;
  if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id))) return false;
  // The record holds the arguments last first.
  std::vector<VARIANT> record;
  for (auto it = arguments.rbegin(); it != arguments.rend(); ++it) record.push_back(it->Raw());
  DISPPARAMS parameters{};
  parameters.rgvarg = record.empty() ? nullptr : record.data();
  parameters.cArgs = static_cast<UINT>(record.size());
  DISPID named = DISPID_PROPERTYPUT;
  if (flags == DISPATCH_PROPERTYPUT) {
    parameters.rgdispidNamedArgs = &named;
    parameters.cNamedArgs = 1;
  }
  VARIANT raw;
  VariantInit(&raw);
  const HRESULT status = object->Invoke(id, IID_NULL, 0, flags, &parameters, flags == DISPATCH_PROPERTYPUT ? nullptr : &raw,
                                        nullptr, nullptr);
  result = Value::Adopt(raw);
  return SUCCEEDED(status);
}

}  // namespace

Value Automation::Get(const char* property, bool* ok) const {
  std::vector<Value> none;
  Value result;
  const bool done = Invoke(FObject, property, DISPATCH_PROPERTYGET, none, result);
  if (ok != nullptr) *ok = done;
  return result;
}

bool Automation::Put(const char* property, const Value& value) const {
  std::vector<Value> arguments{value};
  Value ignored;
  return Invoke(FObject, property, DISPATCH_PROPERTYPUT, arguments, ignored);
}

Value Automation::Call(const char* method, std::vector<Value> arguments, bool* ok) const {
  Value result;
  // As automation clients call: a method, or a property read with arguments ("item").
  const bool done = Invoke(FObject, method, DISPATCH_METHOD | DISPATCH_PROPERTYGET, arguments, result);
  if (ok != nullptr) *ok = done;
  return result;
}

Automation Automation::ObjectOf(const char* property) const { return Automation(Get(property).Dispatch()); }

OleText Automation::Attribute(const std::string& name) const { return Call("getAttribute", {Value::Text(name)}).AsText(); }

bool Automation::SetAttribute(const std::string& name, const OleText& value) const {
  bool ok = false;
  Call("setAttribute", {Value::Text(name), Value::Text(value)}, &ok);
  return ok;
}

std::vector<Automation> Automation::Select(const std::string& path) const {
  std::vector<Automation> nodes;
  const Automation list(Call("selectNodes", {Value::Text(path)}).Dispatch());
  int32_t count = 0;
  if (!list || !list.Get("length").AsInteger(count)) return nodes;
  for (int32_t i = 0; i < count; ++i) {
    Automation node(list.Call("item", {Value::Integer(i)}).Dispatch());
    if (node) nodes.push_back(node);
  }
  return nodes;
}

Automation NewXmlDocument() {
  Automation document(CreateXmlDocument(), false);
  if (!document) return document;
  document.Put("async", Value::Boolean(false));
  document.Put("preserveWhiteSpace", Value::Boolean(true));
  document.Call("setProperty", {Value::Text("SelectionLanguage"), Value::Text("XPath")});
  return document;
}

Automation LoadXmlDocument(const OleText& text) {
  Automation document = NewXmlDocument();
  if (!document) return document;
  const Value loaded = document.Call("loadXML", {Value::Text(text)});
  if (loaded.Type() != VT_BOOL || V_BOOL(&loaded.Raw()) == VARIANT_FALSE) return Automation();
  return document;
}

}  // namespace vestrel_host
