#pragma once
// Shared between the POSIX implementation files of the OLE automation subset.
#include "platform/ole_automation.h"

namespace ole_internal {

// S_OK for a type a variant may hold, DISP_E_BADVARTYPE otherwise.
HRESULT ValidateVariantType(VARTYPE vt);

}  // namespace ole_internal
