#include "config/variant_types.h"

#include <cmath>

namespace {

// The numeric value of a double or currency variant, by value or by reference.
double NumericValue(const VARIANT& value) {
  const bool byRef = (V_VT(&value) & VT_BYREF) != 0;
  if ((V_VT(&value) & VT_TYPEMASK) == VT_CY) {
    const CY amount = byRef ? *V_CYREF(&value) : V_CY(&value);
    return static_cast<double>(amount.int64) / 10000.0;
  }
  return byRef ? *V_R8REF(&value) : V_R8(&value);
}

bool IsWholeNumber(double value) { return std::fabs(value - std::nearbyint(value)) < 1e-9; }

}  // namespace

VARTYPE SimpleVarType(const VARIANT& Value) {
  const VARTYPE type = V_VT(&Value) & ~VT_BYREF;
  return type == VT_CY ? VARTYPE(VT_R8) : type;
}

VARTYPE ValueVarType(const VARIANT& Value) {
  const VARTYPE type = SimpleVarType(Value);
  if (type != VT_R8)
    return type;
  if ((V_VT(&Value) & VT_BYREF) != 0 && V_BYREF(&Value) == nullptr)
    return type;
  return IsWholeNumber(NumericValue(Value)) ? VARTYPE(VT_I4) : type;
}

bool VarTypeIn(const VARIANT& Value, std::initializer_list<int> Types) {
  const int type = ValueVarType(Value);
  for (int candidate : Types)
    if (candidate == type)
      return true;
  return false;
}

void GetArrayElements(SAFEARRAY* Array, std::span<VARIANT> Values) {
  LONG lowerBound = 0;
  if (Array != nullptr)
    SafeArrayGetLBound(Array, 1, &lowerBound);
  for (size_t i = 0; i < Values.size(); ++i) {
    VariantClear(&Values[i]);
    if (Array == nullptr)
      continue;
    LONG index = lowerBound + static_cast<LONG>(i);
    SafeArrayGetElement(Array, &index, &Values[i]);
  }
}

void PutArrayElements(SAFEARRAY* Array, std::span<const VARIANT> Values) {
  if (Array == nullptr)
    return;
  LONG lowerBound = 0;
  SafeArrayGetLBound(Array, 1, &lowerBound);
  for (size_t i = 0; i < Values.size(); ++i) {
    LONG index = lowerBound + static_cast<LONG>(i);
    SafeArrayPutElement(Array, &index, const_cast<VARIANT*>(&Values[i]));
  }
}
