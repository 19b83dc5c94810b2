// On 32-bit x86 the plug-in calls the host's event sink in the host's register convention:
// checked against a sink whose two operations are assembly routines recording what arrived.
#include <gtest/gtest.h>

#if defined(__i386__)

#include "devices/device_item.h"
#include "devices/devices_list.h"
#include "platform/ole_ptr.h"
#include "register_call.h"
#include "vestrel/event_sink.h"

namespace {
uint32_t Word(const void* pointer) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer)); }
}  // namespace

TEST(EventSinkConvention, ExternalEventPassesSinkSourceAndTextInRegistersTheRestOnTheStack) {
  IUnknown* sink = RecordingEventSink();
  ResetSinkCall();
  OleString source(OLESTR("Source")), text(OLESTR("{Id}")), data(OLESTR("00A1B2C3"));
  const GUID id{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  AsHostEventSink(sink)->ExternalEvent(source.Get(), text.Get(), &id, data.Get());
  const TSinkCallRecord call = LastSinkCall();
  EXPECT_EQ(call.Position, 7u);
  EXPECT_EQ(call.Eax, Word(sink));
  EXPECT_EQ(call.Edx, Word(source.Get()));
  EXPECT_EQ(call.Ecx, Word(text.Get()));
  EXPECT_EQ(call.Stack1, Word(&id)) << "the identifier's address was pushed last";
  EXPECT_EQ(call.Stack2, Word(data.Get()));
}

TEST(EventSinkConvention, TheDeviceAsksTheSinkForItsArrayObjectWithTheResultInEdx) {
  IUnknown* sink = RecordingEventSink();
  TDevicesList list(ItemClassOf<TDeviceItem>());
  list.SetEventSink(sink);
  auto* device = static_cast<TDeviceItem*>(list.Add());
  ResetSinkCall();
  OleVariant table;
  EXPECT_EQ(device->GetPropertyTable(table), 0);
  const TSinkCallRecord call = LastSinkCall();
  EXPECT_EQ(call.Position, 23u);
  EXPECT_EQ(call.Eax, Word(sink));
  EXPECT_NE(call.Edx, 0u) << "the address of the variant to fill";
  EXPECT_EQ(V_VT(&table), VT_DISPATCH) << "an empty answer falls back to the plug-in's own array object";
}

#endif
