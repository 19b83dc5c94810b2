// A reader library whose loading makes another holder of the marker appear: while it is loaded,
// it holds the marker mutex itself, as a second process would that bound the reader library
// between the binding's existence test and its own marker. The entry points do nothing.
// (Named .cc so that the test program's own source glob leaves it out.)
#include <cstdint>

#include "platform/call_convention.h"
#include "platform/named_mutex.h"

namespace {
platform::NamedMutex otherHolder = platform::NamedMutex::Create("Vestrel_M", true);
}

extern "C" {
// Ends the other holder (for tests, where the library may stay resident after it is freed).
void ReleaseOtherHolder() { otherHolder.Close(); }

int16_t PLATFORM_STDCALL Enumerate() { return 1; }
int16_t PLATFORM_STDCALL GetFirstReader() { return 0; }
int16_t PLATFORM_STDCALL GetNextReader() { return -1; }
int16_t PLATFORM_STDCALL OpenReader(int16_t) { return 0; }
int16_t PLATFORM_STDCALL CloseReader(int16_t) { return 0; }
int16_t PLATFORM_STDCALL ReadCardNumberRaw(int16_t, uint16_t*, uint8_t*, uint16_t*) { return 1; }
int16_t PLATFORM_STDCALL ReadCardNumber(int16_t, uint32_t*) { return 1; }
int16_t PLATFORM_STDCALL SetBeepBlinkMode(int16_t, int16_t, int16_t) { return 0; }
int16_t PLATFORM_STDCALL BeepBlink(int16_t) { return 0; }
int16_t PLATFORM_STDCALL GetReaderInfo(int16_t, char*, int16_t) { return -1; }
int16_t PLATFORM_STDCALL SetWiegand26(int32_t) { return 0; }
}
