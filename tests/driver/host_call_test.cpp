// The scanner driver called as a host really calls it: every block is the host's own memory
// (zero-filled, its record of by-reference variants in reverse order), through the call entry.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "automation/auto_call.h"
#include "automation/safe_array.h"
#include "base/errors.h"
#include "parsec/dll_vestrel.h"
#include "parsec/vestrel_settings_form.h"
#include "platform/sync.h"
#include "support/host_call.h"
#include "test_driver.h"

namespace {

using test_support::EndsWithin;
using test_support::TCountedHostObject;
using test_support::THostCall;
using vestrel::kCallMethod;
using vestrel::kCallPropertyGet;
using vestrel::kCallPropertySet;

OleVariant Text(const std::string& utf8) { return OleVariant(WideFromUtf8(utf8)); }

const std::string kTwoDevices =
    "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Система><Оборудование>"
    "<Устройство Код=\"{C0000000-0000-0000-0000-000000000001}\" Наименование=\"Вход\"><Параметры/></Устройство>"
    "<Устройство Код=\"{C0000000-0000-0000-0000-000000000002}\" Наименование=\"Выход\"><Параметры/></Устройство>"
    "</Оборудование></Система>";

// The library's own driver, with a settings dialog that the test answers.
class HostCalls : public ::testing::Test {
protected:
  static void SetUpTestSuite() { CoInitialize(nullptr); }
  void SetUp() override {
    SetSettingsPresenter([this](TfmVestrelSettings&) {
      ++DialogsShown;
      return Dialog ? Dialog() : platform::kModalCancel;
    });
    Driver = CreateVestrelDriver();
    DriverInstance() = Driver.get();
  }
  void TearDown() override {
    DriverInstance() = nullptr;
    Driver.reset();
    SetSettingsPresenter(nullptr);
  }
  void Configure() {
    THostCall configure("НастроитьУстройства", kCallMethod, {Text(kTwoDevices)});
    ASSERT_TRUE(configure.Run()) << configure.ErrorText();
    ASSERT_EQ(Driver->Devices().Count(), 2);
  }
  int32_t CurrentNumber() {
    THostCall get("НомерУстройства", kCallPropertyGet);
    EXPECT_TRUE(get.Run()) << get.ErrorText();
    return get.IntValue(0);
  }
  std::unique_ptr<TBaseDllObj> Driver;
  std::atomic<int> DialogsShown{0};
  std::function<int32_t()> Dialog;
};

using HostPassesArgumentsByReference = HostCalls;
using HostBuildsHostileBlocks = HostCalls;
using HostLooksUpMembers = HostCalls;
using HostCallsFromTwoThreads = HostCalls;

const std::string kUnsupportedType = "Неподдерживаемый тип параметра.";

}  // namespace

TEST_F(HostPassesArgumentsByReference, TheHostsVariantsKeepTheirValuesAndReceiveValues) {
  Configure();
  THostCall choose("ВыбратьУстройство", kCallMethod, {Text("Выход")});
  EXPECT_TRUE(choose.Run()) << choose.ErrorText();
  EXPECT_EQ(V_VT(&choose.Value(3)), VT_BSTR);
  EXPECT_EQ(choose.TextValue(3), "Выход");
  EXPECT_EQ(choose.IntValue(0), 0) << "the result arrives as a value";
  EXPECT_EQ(CurrentNumber(), 2);

  // An object of the host's keeps the references the host counted (the call fails: it is no
  // device key).
  TCountedHostObject object;
  {
    THostCall call("ВыбратьУстройство", kCallMethod, {OleVariant(static_cast<IUnknown*>(&object))});
    EXPECT_FALSE(call.Run());
    EXPECT_EQ(V_VT(&call.Value(3)), VT_UNKNOWN);
    EXPECT_EQ(V_UNKNOWN(&call.Value(3)), &object);
    EXPECT_EQ(object.References, 2);
  }
  EXPECT_EQ(object.References, 1);

  // What a handler writes back arrives as values: the key and the settings document.
  THostCall settings("ПолучитьНастройкиXML", kCallMethod, {OleVariant(0), OleVariant()});
  EXPECT_TRUE(settings.Run()) << settings.ErrorText();
  EXPECT_EQ(settings.IntValue(3), 0);
  EXPECT_EQ(V_VT(&settings.Value(4)), VT_DISPATCH);

  // A failing call names its member in a text of the block's own, whatever the host does with
  // its record afterwards.
  THostCall missing("ВыбратьУстройство", kCallMethod, {Text("Нет такого")});
  EXPECT_FALSE(missing.Run());
  EXPECT_EQ(missing.Block().ErrorCode, 3);
  VariantClear(&missing.Value(1));
  EXPECT_EQ(missing.ErrorSource(), "ВыбратьУстройство");
}

TEST_F(HostPassesArgumentsByReference, OneArrayObjectByReferenceCarriesTheArguments) {
  Configure();
  ComPtr<ISafeArray> array = CreateSafeArray();
  ASSERT_EQ(array->SetBounds(2, 1), S_OK);
  ASSERT_EQ(array->SetValue(0, 0, OleVariant(0)), S_OK);
  THostCall call("ПолучитьНастройкиXML", kCallMethod, {OleVariant(static_cast<IDispatch*>(array.Get()))});
  EXPECT_TRUE(call.Run()) << call.ErrorText();
  OleVariant document;
  ASSERT_EQ(array->GetValue(1, 0, &document), S_OK);
  EXPECT_EQ(V_VT(&document), VT_DISPATCH) << "the handler's values went back into the host's object";
  EXPECT_EQ(V_DISPATCH(&call.Value(3)), static_cast<IDispatch*>(array.Get()));
}

TEST_F(HostPassesArgumentsByReference, WhatCannotBeWrittenBackIsRefusedBeforeTheHandlerRuns) {
  Configure();
  // An argument and a result slot of a type the block cannot write through.
  SHORT number = 2;
  THostCall argument("ВыбратьУстройство", kCallMethod, {OleVariant(0)});
  V_VT(&argument.Element(3)) = VT_I2 | VT_BYREF;
  V_I2REF(&argument.Element(3)) = &number;
  EXPECT_FALSE(argument.Run());
  EXPECT_EQ(argument.Block().ErrorCode, ERR_TEXT);
  EXPECT_EQ(argument.ErrorText(), kUnsupportedType);
  EXPECT_EQ(CurrentNumber(), 0) << "the handler did not run";

  SHORT result = 7;
  THostCall resultSlot("ВыбратьУстройство", kCallMethod, {OleVariant(2)});
  V_VT(&resultSlot.Element(0)) = VT_I2 | VT_BYREF;
  V_I2REF(&resultSlot.Element(0)) = &result;
  EXPECT_FALSE(resultSlot.Run());
  EXPECT_EQ(resultSlot.ErrorText(), kUnsupportedType);
  EXPECT_EQ(CurrentNumber(), 0);
  EXPECT_EQ(result, 7);

  // A reference to a reference (a variant that refers to itself, say) is no value.
  for (const char* member : {"ВыбратьУстройство", "ИзменитьУстройствоРасш"}) {
    THostCall looped(member, kCallMethod, {OleVariant(1)});
    VARIANT& self = looped.Value(3);
    V_VT(&self) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&self) = &self;
    EndsWithin(30, [&] { EXPECT_FALSE(looped.Run()); });
    EXPECT_EQ(looped.ErrorText(), kUnsupportedType) << member;
    VariantInit(&self);
  }
  EXPECT_EQ(CurrentNumber(), 0);

  // The same variant reaching an automation object of the plug-in's.
  ComPtr<ISafeArray> array = CreateSafeArray();
  VARIANT self;
  V_VT(&self) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&self) = &self;
  EndsWithin(30, [&] { EXPECT_TRUE(FAILED(InvokeByName(array.Get(), "SetBounds", DISPATCH_METHOD, {ByRef(&self), IntArg(1)}).Status)); });
}

TEST_F(HostBuildsHostileBlocks, CountsAndPointersAreCheckedBeforeUse) {
  // A record of its own storage whose count claims one slot more than there is.
  std::vector<VARIANT> slots(vestrel::kOwnedArgumentCapacity);
  for (VARIANT& slot : slots) VariantInit(&slot);
  V_VT(&slots[0]) = VT_I4;
  DISPPARAMS owned{slots.data(), nullptr, vestrel::kOwnedArgumentCapacity + 1, 0};
  vestrel::HostString support("__@@EventSupport");
  TParams block{};
  block.Name = support.Get();
  block.Args = &owned;
  block.OwnsArgs = true;
  EXPECT_FALSE(SafeCallEntry(&block, nullptr));
  EXPECT_TRUE(block.HasError);
  EXPECT_EQ(block.ErrorCode, ERR_TEXT);
  EXPECT_EQ(V_VT(&slots[0]), VT_I4) << "nothing was cleared";
  VariantClear(&block.ErrorText);
  VariantClear(&block.ErrorSource);

  // Borrowed records of 50 elements with counts past them.
  for (UINT count : {UINT{vestrel::kOwnedArgumentCapacity + 1}, UINT{0x7FFFFFFF}, UINT{0xFFFFFFFF}}) {
    THostCall get("Релиз", kCallPropertyGet, std::vector<OleVariant>(vestrel::kOwnedArgumentCapacity - 3));
    get.Record().cArgs = count;
    EXPECT_FALSE(get.Run()) << count;
    EXPECT_EQ(get.Block().ErrorCode, ERR_TEXT) << count;
  }
  THostCall noElements("Релиз", kCallPropertyGet);
  noElements.Record().rgvarg = nullptr;
  EXPECT_FALSE(noElements.Run());

  // Null references where the kind and the result should be.
  for (int32_t index : {2, 0}) {
    for (VARTYPE type : {VARTYPE(VT_BYREF | VT_VARIANT), VARTYPE(VT_BYREF | VT_I4)}) {
      THostCall call("ВыбратьУстройство", kCallMethod, {OleVariant(1)});
      V_VT(&call.Element(index)) = type;
      V_BYREF(&call.Element(index)) = nullptr;
      EXPECT_FALSE(call.Run());
      EXPECT_EQ(call.Block().ErrorCode, ERR_TEXT);
    }
  }
}

TEST_F(HostBuildsHostileBlocks, AChainThatRunsInACircleIsRefused) {
  Configure();
  THostCall first("ВыбратьУстройство", kCallMethod, {OleVariant(2)});
  THostCall second("УдалитьУстройство", kCallMethod, {OleVariant(1)});
  first.Block().Next = &second.Block();
  second.Block().Next = &first.Block();
  EndsWithin(30, [&] { EXPECT_FALSE(first.Run()); });
  EXPECT_EQ(first.Block().ErrorCode, ERR_TEXT);
  EXPECT_EQ(Driver->Devices().Count(), 2) << "no block of the chain ran";
  EXPECT_EQ(CurrentNumber(), 0);
}

TEST_F(HostBuildsHostileBlocks, EventSupportAnswersInTheHostsRecord) {
  THostCall support("__@@EventSupport", 0);
  support.Run();
  EXPECT_FALSE(support.Block().HasError);
  EXPECT_EQ(support.Block().Args, &support.Record()) << "no storage of the plug-in hangs on the host's block";
  EXPECT_EQ(support.ErrorText(), "Очищено Clear");
  ASSERT_EQ(V_VT(&support.Value(0)), VT_UNKNOWN) << "parameter 0, through the host's reference";
  EXPECT_EQ(V_UNKNOWN(&support.Value(0)), static_cast<IUnknown*>(Driver->MembersInterface()));

  // A block without a record gets the answer in storage of the plug-in's, which "__FRee"
  // takes back.
  vestrel::HostString name("__@@EventSupport");
  TParams bare{};
  bare.Name = name.Get();
  SafeCallEntry(&bare, nullptr);
  ASSERT_NE(bare.Args, nullptr);
  ASSERT_EQ(bare.Args->cArgs, 1u);
  EXPECT_EQ(V_UNKNOWN(&bare.Args->rgvarg[0]), static_cast<IUnknown*>(Driver->MembersInterface()));
  VariantClear(&bare.ErrorText);
  VariantClear(&bare.ErrorSource);
  THostCall free("__FRee", 0);
  free.Run();
}

TEST_F(HostLooksUpMembers, EveryNameReachesTheMemberItNamesWhateverTheCodePage) {
  // "ИнформацияОПлагине" (13 arguments) describes the model; no dialog opens.
  THostCall info("ИнформацияОПлагине", kCallMethod, std::vector<OleVariant>(13));
  EXPECT_TRUE(info.Run()) << info.Block().ErrorCode;
  EXPECT_EQ(info.IntValue(0), 0);
  EXPECT_EQ(info.TextValue(3), "{4F739246-8166-4CE3-8977-8CA2E7D36E62}");
  EXPECT_EQ(DialogsShown.load(), 0);

  for (const char* name : {"Релиз", "релиз", "RELEASE", "КоличествоУстройств", "количествоустройств"}) {
    THostCall get(name, kCallPropertyGet);
    EXPECT_TRUE(get.Run()) << name << ": " << get.Block().ErrorCode;
    EXPECT_FALSE(get.Block().HasError) << name;
  }
  // Names of a member's length in letters that some code page lacks name no member.
  for (const char* name : {"Ёжики", "ΑΒΓΔΕ", "ΑΒΓΔΕΖΗΘΙΚΛΜΝΞΟΠΡΣ"}) {
    THostCall get(name, kCallPropertyGet);
    EXPECT_FALSE(get.Run()) << name;
    EXPECT_EQ(get.Block().ErrorCode, ERR_MEMBER_NOT_FOUND) << name;
  }
  EXPECT_EQ(DialogsShown.load(), 0);

  // The switch is read-only once the host supports events.
  THostCall support("__@@EventSupport", 0);
  support.Run();
  THostCall write("УстройствоВключено", kCallPropertySet, {OleVariant(1)});
  EXPECT_FALSE(write.Run());
  EXPECT_EQ(write.Block().ErrorCode, ERR_TEXT);
  EXPECT_EQ(DialogsShown.load(), 0);

  IDllObjMembers* members = Driver->MembersInterface();
  OleString switchOn(WideFromUtf8("вКЛЮЧИТЬ")), method(WideFromUtf8("выбратьустройство")),
      property(WideFromUtf8("ИСПОЛЬЗОВАТЬ")), greek(WideFromUtf8("ΑΒΓΔΕ"));
  EXPECT_TRUE(members->IsSwitchOn(switchOn.Get()));
  EXPECT_FALSE(members->IsSwitchOff(switchOn.Get()));
  EXPECT_TRUE(members->IsMethod(method.Get()));
  EXPECT_TRUE(members->IsProperty(property.Get()));
  EXPECT_FALSE(members->IsProperty(greek.Get()));
  EXPECT_FALSE(members->IsMethod(greek.Get()));
}

TEST_F(HostCallsFromTwoThreads, TheDeviceOfACallOutlivesItsDeletion) {
  Configure();
  THostCall choose("ВыбратьУстройство", kCallMethod, {OleVariant(1)});
  ASSERT_TRUE(choose.Run());
  THostCall remove("УдалитьУстройство", kCallMethod, {OleVariant(1)});
  EXPECT_TRUE(remove.Run()) << remove.ErrorText();
  EXPECT_EQ(Driver->Devices().Count(), 1);

  // A host task naming the device it deletes.
  TFakeHostTask task("TInternalTask", Driver->Devices().GetItem(0)->DeviceId());
  THostCall removeOwn("УдалитьУстройство", kCallMethod, {OleVariant(1)});
  EXPECT_TRUE(removeOwn.Run(static_cast<IUnknown*>(task.Object()))) << removeOwn.ErrorText();
  EXPECT_EQ(Driver->Devices().Count(), 0);
}

TEST_F(HostCallsFromTwoThreads, ASecondThreadWaitsForTheCallInProgress) {
  Configure();
  platform::ManualResetEvent dialogOpen{false}, secondCalling{false};
  std::atomic<bool> secondDone{false};
  bool secondDoneDuringDialog = true;
  Dialog = [&] {
    dialogOpen.Set();
    secondCalling.Wait(30000);
    platform::SleepMilliseconds(200);  // time for the second thread to get as far as it can
    secondDoneDuringDialog = secondDone.load();
    return platform::kModalOk;
  };
  std::thread second([&] {
    dialogOpen.Wait(30000);
    THostCall free("__FRee", 0);
    secondCalling.Set();
    free.Run();
    secondDone = true;
  });
  THostCall add("ДобавитьУстройство", kCallMethod, {Text(kTwoDevices)});
  EXPECT_TRUE(add.Run()) << add.ErrorText();
  second.join();
  EXPECT_FALSE(secondDoneDuringDialog) << "\"__FRee\" ran while the call was in progress";
  EXPECT_EQ(Driver->Devices().Count(), 0);
}
