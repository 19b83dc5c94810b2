// The dispatcher, driven through the exception-safe call entry as a host drives it.
#include <gtest/gtest.h>

#include "automation/safe_array.h"
#include "base/errors.h"
#include "test_driver.h"

namespace {

class Dispatch : public ::testing::Test {
protected:
  void SetUp() override {
    HandlerLog() = THandlerLog();
    Driver = std::make_unique<TTestDriver>();
    DriverInstance() = Driver.get();
    SetCallHandler(&DispatchToDriverInstance);
  }
  void TearDown() override {
    DriverInstance() = nullptr;
    Driver.reset();
  }
  // Runs a chain through the call entry, as the host does.
  bool Call(TParams& block, void* context = nullptr) {
    return SafeCallEntry(&block, static_cast<IUnknown*>(context)) != FALSE;
  }
  std::unique_ptr<TTestDriver> Driver;
};

std::string MemberNotFound(const char* name) {
  return Utf8FromAnsi(FormatText(AnsiFromWide(ErrorMessageText(ERR_MEMBER_NOT_FOUND)), {AnsiFromUtf8(name)}));
}

}  // namespace

TEST_F(Dispatch, ChainsRunInOrderAndAPropertyWriteStopsThem) {
  TParamsPtr first = CallBlock("Add", vestrel::kCallMethod, {OleVariant(1), OleVariant(2), OleVariant(3)});
  SetNextParams(*first, CallBlock("ChoiceDevice", vestrel::kCallMethod));
  EXPECT_TRUE(Call(*first));
  EXPECT_EQ(HandlerLog().Calls, (std::vector<std::string>{"Add", "Choice"}));
  EXPECT_EQ(IntParam(*first, 4), 4) << "arguments come back";
  EXPECT_EQ(TextParam(*first->Next, 0), "chosen");

  HandlerLog() = THandlerLog();
  TParamsPtr write = CallBlock("number", vestrel::kCallPropertySet, {OleVariant(9)});
  SetNextParams(*write, CallBlock("Add", vestrel::kCallMethod, {OleVariant(1), OleVariant(2), OleVariant(3)}));
  EXPECT_TRUE(Call(*write));
  EXPECT_EQ(HandlerLog().Calls, (std::vector<std::string>{"Number:set"}));
  EXPECT_EQ(V_I4(&HandlerLog().LastValue), 9);
}

TEST_F(Dispatch, BuiltinNames) {
  TParamsPtr load = CallBlock("__Load", 0);
  EXPECT_FALSE(Call(*load));
  EXPECT_EQ(load->Count(), 3) << "__Load leaves the block as it was";
  EXPECT_FALSE(load->HasError);

  TParamsPtr support = CallBlock("__@@EventSupport", 0);
  support->Sink = nullptr;  // an empty sink is stored as empty
  EXPECT_FALSE(Call(*support));
  EXPECT_EQ(ErrorTextOf(*support), "Очищено Clear");
  ASSERT_EQ(support->Count(), 1);
  OleVariant members = ParamOf(*support, 0);
  ASSERT_EQ(V_VT(&members), VT_UNKNOWN);
  EXPECT_EQ(V_UNKNOWN(&members), static_cast<IUnknown*>(Driver->MembersInterface()));
  EXPECT_EQ(Driver->Devices().EventSink(), nullptr);

  TParamsPtr write = CallBlock("DeviceIsOn", vestrel::kCallPropertySet, {OleVariant(1)});
  EXPECT_FALSE(Call(*write));
  EXPECT_EQ(write->ErrorCode, ERR_TEXT);
  EXPECT_EQ(ErrorTextOf(*write), "Свойство [DeviceIsOn] доступно только для чтения");

  AddDevice(*Driver, true);
  AddDevice(*Driver, false);
  TParamsPtr free = CallBlock("__FRee", 0);
  SetNextParams(*free, CallBlock("Add", vestrel::kCallMethod, {OleVariant(1), OleVariant(2), OleVariant(3)}));
  EXPECT_FALSE(Call(*free));
  EXPECT_EQ(Driver->Devices().Count(), 0);
  EXPECT_TRUE(HandlerLog().Calls.empty()) << "a built-in name ends the chain";
}

TEST_F(Dispatch, KindsAndNames) {
  TParamsPtr getOnMethod = CallBlock("ВыбратьУстройство", vestrel::kCallPropertyGet);
  EXPECT_TRUE(Call(*getOnMethod));
  EXPECT_EQ(HandlerLog().Calls, (std::vector<std::string>{"Choice"})) << "kind 2 on a method calls it";

  TParamsPtr kindZero = CallBlock("Add", 0, {OleVariant(1), OleVariant(2), OleVariant(3)});
  EXPECT_FALSE(Call(*kindZero));
  EXPECT_FALSE(kindZero->HasError);
  EXPECT_EQ(HandlerLog().Calls.size(), 1u) << "kind 0 does nothing";

  for (const char* name : {"сложить", "СЛОЖИТЬ", "add", "ADD", "choicedevice"}) {
    EXPECT_NE(Driver->FindMethod(AnsiFromUtf8(name)), kNoMember) << name;
  }
  EXPECT_EQ(Driver->FindMethod(AnsiFromUtf8("Сложить")), Driver->FindMethod("aDD"));
  EXPECT_EQ(Driver->FindMethod("Secondary"), kSecondaryMethodBase);
  EXPECT_EQ(Driver->FindMethod("Add,Сложить"), kNoMember) << "the whole entry is no name";
  EXPECT_EQ(Driver->FindProperty("dEVICEiSoN"), kPropertyBase + 2);
  EXPECT_EQ(Driver->PropertyEntry(kPropertyBase + 1)->Name, "Релиз");
  EXPECT_EQ(Driver->MethodEntry(kSecondaryMethodBase + 1), nullptr);

  TParamsPtr get = CallBlock("NUMBER", vestrel::kCallPropertyGet);
  EXPECT_TRUE(Call(*get));
  EXPECT_EQ(IntParam(*get, 0), 42);
}

TEST_F(Dispatch, FailuresReachTheBlockWithTheirTexts) {
  TParamsPtr shortBlock = MakeParams();
  shortBlock->SetName("Add");
  shortBlock->AddParam(OleVariant());
  shortBlock->AddParam(OleVariant(OLESTR("Add")));
  EXPECT_FALSE(Call(*shortBlock));
  EXPECT_EQ(shortBlock->ErrorCode, ERR_TEXT);
  EXPECT_EQ(ErrorTextOf(*shortBlock), "Недостаточно параметров при вызове метода");

  TParamsPtr noName = CallBlock("", vestrel::kCallMethod);
  EXPECT_FALSE(Call(*noName));
  EXPECT_EQ(ErrorTextOf(*noName), "Не указано имя метода");

  TParamsPtr unknown = CallBlock("Нечто", vestrel::kCallMethod);
  EXPECT_FALSE(Call(*unknown));
  EXPECT_EQ(unknown->ErrorCode, ERR_MEMBER_NOT_FOUND);
  EXPECT_EQ(ErrorTextOf(*unknown), MemberNotFound("Нечто"));

  TParamsPtr propertyAsMethod = CallBlock("Number", vestrel::kCallMethod);
  EXPECT_FALSE(Call(*propertyAsMethod));
  EXPECT_EQ(propertyAsMethod->ErrorCode, ERR_MEMBER_NOT_FOUND);

  TParamsPtr readOnly = CallBlock("Релиз", vestrel::kCallPropertySet, {OleVariant(1)});
  EXPECT_FALSE(Call(*readOnly));
  EXPECT_EQ(ErrorTextOf(*readOnly), "Свойство [Релиз] доступно только для чтения");

  TParamsPtr wrongCount = CallBlock("Add", vestrel::kCallMethod, {OleVariant(1), OleVariant(2)});
  EXPECT_FALSE(Call(*wrongCount));
  EXPECT_EQ(ErrorTextOf(*wrongCount),
            "Неверное количество переданных параметров\r\nФункция [Add]\r\nПередано: 2\r\nНеобходимо: 3");
  EXPECT_TRUE(HandlerLog().Calls.empty());
}

TEST_F(Dispatch, NonZeroIntegerResultsBecomeDeviceErrors) {
  TParamsPtr fine = CallBlock("Fail", vestrel::kCallMethod, {OleVariant(0)});
  EXPECT_TRUE(Call(*fine));
  EXPECT_FALSE(fine->HasError);

  TParamsPtr text = CallBlock("Fail", vestrel::kCallMethod, {OleVariant(OLESTR("5"))});
  EXPECT_TRUE(Call(*text)) << "a text result is no error code";

  TParamsPtr withoutDevice = CallBlock("Fail", vestrel::kCallMethod, {OleVariant(5)});
  EXPECT_FALSE(Call(*withoutDevice));
  EXPECT_TRUE(withoutDevice->HasError);
  EXPECT_EQ(withoutDevice->ErrorCode, 5);
  EXPECT_EQ(ErrorTextOf(*withoutDevice), "device text 5");
  EXPECT_EQ(IntParam(*withoutDevice, 0), 5) << "the result is stored before the check";

  const GUID id = AddDevice(*Driver, false)->DeviceId();
  TFakeHostTask task("TInternalTask", id);
  TParamsPtr onTask = CallBlock("Fail", vestrel::kCallMethod, {OleVariant(true)});
  EXPECT_FALSE(Call(*onTask, task.Object()));
  EXPECT_EQ(onTask->ErrorCode, -1) << "a Boolean true is ordinal too";
  EXPECT_EQ(HandlerLog().CallContextDuringCall, task.Object());
  EXPECT_EQ(Driver->Devices().GetItem(0)->CallContext(), nullptr) << "cleared after the failure";
}

TEST_F(Dispatch, OneArrayObjectCarriesTheArguments) {
  ComPtr<ISafeArray> array = CreateSafeArray();
  ASSERT_EQ(array->SetBounds(3, 1), S_OK);
  for (LONG k = 0; k < 3; ++k) ASSERT_EQ(array->SetValue(k, 0, OleVariant(int32_t(k + 10))), S_OK);
  TParamsPtr block = CallBlock("Add", vestrel::kCallMethod, {OleVariant(static_cast<IDispatch*>(array.Get()))});
  EXPECT_TRUE(Call(*block)) << ErrorTextOf(*block);
  for (LONG k = 0; k < 3; ++k) {
    OleVariant value;
    ASSERT_EQ(array->GetValue(k, 0, &value), S_OK);
    EXPECT_EQ(V_I4(&value), 2 * (k + 10)) << k;
  }
  EXPECT_EQ(block->Count(), 4) << "the block holds the array object again";

  ComPtr<ISafeArray> wide = CreateSafeArray();
  ASSERT_EQ(wide->SetBounds(3, 2), S_OK);
  TParamsPtr wrong = CallBlock("Add", vestrel::kCallMethod, {OleVariant(static_cast<IDispatch*>(wide.Get()))});
  EXPECT_FALSE(Call(*wrong));
  EXPECT_EQ(ErrorTextOf(*wrong),
            "Неверное количество переданных параметров\r\nФункция [Add]\r\nПередано: 0\r\nНеобходимо: 3");
}

TEST_F(Dispatch, ByReferenceArgumentsOfABorrowedRecordAreWrittenBack) {
  // An automation call's record: arguments in reverse order, the three numbers by reference.
  LONG a = 1, b = 2, c = 3;
  VARIANT items[6];
  for (VARIANT& item : items) VariantInit(&item);
  V_VT(&items[5]) = VT_EMPTY;  // parameter 0: the result
  V_VT(&items[4]) = VT_BSTR;
  V_BSTR(&items[4]) = SysAllocString(OLESTR("Сложить"));
  V_VT(&items[3]) = VT_I4;
  V_I4(&items[3]) = vestrel::kCallMethod;
  LONG* numbers[] = {&a, &b, &c};
  for (int k = 0; k < 3; ++k) {
    V_VT(&items[2 - k]) = VT_I4 | VT_BYREF;
    V_I4REF(&items[2 - k]) = numbers[k];
  }
  DISPPARAMS record{items, nullptr, 6, 0};
  TParamsPtr block = MakeParams();
  block->AttachArgs(&record);
  EXPECT_TRUE(Call(*block)) << ErrorTextOf(*block);
  EXPECT_EQ(a, 2);
  EXPECT_EQ(b, 4);
  EXPECT_EQ(c, 6);
  block->AttachArgs(nullptr);
  SysFreeString(V_BSTR(&items[4]));
}

TEST_F(Dispatch, HostTasksRecordTheDriverAndNameTheirDevice) {
  TDeviceItem* current = AddDevice(*Driver, true);
  TDeviceItem* other = AddDevice(*Driver, false);
  TFakeHostTask task("TTaskThread", other->DeviceId());
  TParamsPtr block = CallBlock("ChoiceDevice", vestrel::kCallMethod);
  EXPECT_TRUE(Call(*block, task.Object()));
  EXPECT_EQ(task.DriverSlot(), Driver.get());
  EXPECT_EQ(HandlerLog().Context, task.Object());
  EXPECT_EQ(HandlerLog().DeviceDuringCall, other);
  EXPECT_EQ(other->CallContext(), nullptr);

  TParamsPtr plain = CallBlock("ChoiceDevice", vestrel::kCallMethod);
  EXPECT_TRUE(Call(*plain));
  EXPECT_EQ(HandlerLog().Context, Driver.get()) << "without a context the driver is the context";
  EXPECT_EQ(HandlerLog().DeviceDuringCall, current);

  TFakeHostTask unknown("TInternalTask", GUID{1, 2, 3, {4}});
  TParamsPtr none = CallBlock("ChoiceDevice", vestrel::kCallMethod);
  EXPECT_TRUE(Call(*none, unknown.Object()));
  EXPECT_EQ(HandlerLog().DeviceDuringCall, nullptr);
}
