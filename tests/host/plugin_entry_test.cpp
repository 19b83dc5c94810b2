// The library's start and stop sequence, run in this process with drivers of the test's own.
#include <gtest/gtest.h>

#include "base/execution_mode.h"
#include "devices/device_item.h"
#include "devices/devices_list.h"
#include "driver/driver_object.h"
#include "host/plugin_entry.h"
#include "host/tuning_flags.h"
#include "host/wire/params.h"
#include "parsec/reader_library.h"
#include "platform/desktop.h"

namespace {

// What the driver saw of the rest of the module when it was freed.
struct TStopObservation {
  bool Freed = false;
  std::string ReaderMutexName;
  size_t KeyUps = 0;
  bool ControlPublished = false;
};
TStopObservation gObserved;

class TObservingDriver : public TBaseDllObj {
public:
  TObservingDriver()
      : TBaseDllObj(TDriverTables{}, &MakeDevices, &DriverInstance(), &DispatchToDriverInstance) {}
  ~TObservingDriver() override {
    gObserved.Freed = true;
    gObserved.ReaderMutexName = ReaderLibraryMutexName;
    gObserved.KeyUps = platform::RecordedDesktopActivity().KeyUps.size();
    gObserved.ControlPublished = PublishedControl() != nullptr;
  }
  static std::unique_ptr<TDevicesList> MakeDevices() {
    return std::make_unique<TDevicesList>(ItemClassOf<TDeviceItem>());
  }
};

std::unique_ptr<TBaseDllObj> ObservingDriver() { return std::make_unique<TObservingDriver>(); }
std::unique_ptr<TBaseDllObj> FailingDriver() { throw std::runtime_error("construction fails"); }

}  // namespace

TEST(ModuleLifecycle, StopFreesTheDriverBeforeTheReaderBindingAndTheKeys) {
  gObserved = TStopObservation();
  platform::ResetDesktopRecord();
  ModuleStart(&ObservingDriver);
  ASSERT_NE(DriverInstance(), nullptr);
  EXPECT_EQ(ExecutionMode(), EXECUTION_MODE_PLUGIN);
  EXPECT_EQ(ReaderLibraryMutexName, "Vestrel_M");
  IUnknown* control = PublishedControl();
  ASSERT_NE(control, nullptr);
  IUnknown* slot = nullptr;
  StorePublishedControl(&slot);
  EXPECT_EQ(slot, control);
  StorePublishedControl(&slot);
  EXPECT_EQ(slot, control) << "the same interface every time";

  ModuleStart(&FailingDriver);
  EXPECT_NE(DriverInstance(), nullptr) << "a second start changes nothing";

  ModuleStop();
  EXPECT_TRUE(gObserved.Freed);
  EXPECT_EQ(gObserved.ReaderMutexName, "Vestrel_M") << "the reader binding goes after the driver";
  EXPECT_EQ(gObserved.KeyUps, 0u) << "the keys are released after the driver";
  EXPECT_TRUE(gObserved.ControlPublished) << "the driver withdraws the control interface itself, later";
  EXPECT_EQ(DriverInstance(), nullptr);
  EXPECT_EQ(PublishedControl(), nullptr);
  EXPECT_TRUE(ReaderLibraryMutexName.empty());
  EXPECT_EQ(platform::RecordedDesktopActivity().KeyUps.size(), std::size(kReleasedModifierKeys));
  EXPECT_FALSE(ModuleStarted());
}

TEST(ModuleLifecycle, AFailedDriverLeavesAnEmptyReferenceAndStopRunsEveryStep) {
  platform::ResetDesktopRecord();
  ModuleStart(&FailingDriver);
  EXPECT_TRUE(ModuleStarted());
  EXPECT_EQ(DriverInstance(), nullptr);
  EXPECT_EQ(PublishedControl(), nullptr);
  IUnknown* slot = nullptr;
  StorePublishedControl(&slot);
  EXPECT_EQ(slot, nullptr);

  TParams block{};
  EXPECT_EQ(SafeCallEntry(&block, nullptr), FALSE);
  EXPECT_TRUE(block.HasError) << "calls without a driver fail in the block";
  VariantClear(&block.ErrorSource);
  VariantClear(&block.ErrorText);

  ModuleStop();
  EXPECT_EQ(platform::RecordedDesktopActivity().KeyUps,
            std::vector<uint8_t>(std::begin(kReleasedModifierKeys), std::end(kReleasedModifierKeys)));
  EXPECT_TRUE(ReaderLibraryMutexName.empty());
}
