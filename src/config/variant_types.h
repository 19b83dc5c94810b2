#pragma once
// Classifying variant values and moving them in and out of one-dimensional safe arrays.

#include <cstdint>
#include <initializer_list>
#include <span>

#include "platform/ole_automation.h"

// The variant's type without the by-reference flag; currency is reported as double.
VARTYPE SimpleVarType(const VARIANT& Value);

// As SimpleVarType, and a double (or currency) whose value lies within 1e-9 of a whole
// number is reported as a 32-bit integer (VT_I4): 3.0 is VT_I4, 3.5 VT_R8.
VARTYPE ValueVarType(const VARIANT& Value);

// True when ValueVarType of Value is one of Types (VT_BSTR for text, VT_DISPATCH for an
// automation object, ...).
bool VarTypeIn(const VARIANT& Value, std::initializer_list<int> Types);

// Clears every target and fills Values[i] from element i of the one-dimensional variant
// array (counted from its lower bound). Targets beyond the array's elements stay empty.
void GetArrayElements(SAFEARRAY* Array, std::span<VARIANT> Values);
// Stores Values[i] into element i (counted from the lower bound); values beyond the
// array's elements are left out.
void PutArrayElements(SAFEARRAY* Array, std::span<const VARIANT> Values);
