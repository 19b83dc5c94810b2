#pragma once
// The device-parameter definitions that every scanner driver has: "Использовать" and
// "Неразделяемое". The devices list starts its definitions from them, and the scanner
// driver object offers them as its extra properties (with its device-parameter handler).

#include <array>

#include "devices/prop_list.h"

std::array<TPropertyDefinition, 2> ScannerBaseDefinitions(const void* Handler = nullptr);
