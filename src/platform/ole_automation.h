#pragma once
// OLE automation: values (VARIANT, BSTR, SAFEARRAY), interfaces (IUnknown, IDispatch, ...),
// identifiers (GUID) and result codes, under the Windows SDK names.
//
// On Windows this is the SDK itself (oleaut32/ole32). Elsewhere it is our own implementation
// of the subset the plug-in uses, with the same names, the same memory layouts and the same
// behaviour for those uses (src/platform/posix/ole_*.cpp). Code written against this header
// compiles and behaves alike in every lane.


#include "vestrel/ole_types.h"

// Outside Windows the functions on these types are declared with the types in
// vestrel/ole_types.h (a host needs them too); src/platform/posix/ole_*.cpp defines them.
