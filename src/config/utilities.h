#pragma once
// The shared small routines, in one include: CRC-32, text replacement and line breaks,
// number and date texts, message pumping, named mutexes, the module's file name, variant
// type tests and safe-array element transfer.

#include "config/crc32.h"
#include "config/locale_formats.h"
#include "config/message_pump.h"
#include "config/module_file.h"
#include "config/named_mutexes.h"
#include "config/text_routines.h"
#include "config/variant_types.h"
