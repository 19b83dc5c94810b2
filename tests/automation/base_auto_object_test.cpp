// The automation base: name table, own-table and block-mode calls, argument access.
#include "automation/base_auto_object.h"

#include <gtest/gtest.h>

#include "auto_call.h"
#include "base/errors.h"
#include "host/wire/params.h"

namespace {

std::string Utf8(const AnsiString& text) { return Utf8FromAnsi(text); }

// A member table exercising every kind of entry. The handlers record what they saw.
class TSampleObject : public TBaseAutoObject {
public:
  explicit TSampleObject(bool ownTable, int extraMembers = 0) : FOwn(ownTable), FExtra(extraMembers) {}

  int LastArgCount = -1;
  OleVariant Stored = OleVariant(int32_t(7));

  const char* ClassName() const override { return "TSampleObject"; }

protected:
  bool UsesOwnNameTable() const override { return FOwn; }

  void RegisterMembers() override {
    AddMethod("Twice", 1, [this](const TAutoCallArgs& call, VARIANT& result) {
      OleVariant argument;
      if (call.Params) {
        call.Params->GetParam(0, argument);
      } else {
        GetArg(call.Args, 0, argument);
      }
      CheckOle(argument.ChangeType(VT_I4), "ChangeType");
      result = OleVariant(int32_t(argument.lVal * 2)).Detach();
    });
    AddMethod("AnyCount", 0, [this](const TAutoCallArgs& call, VARIANT&) {
      LastArgCount = call.Params ? call.Params->Count() : GetArgCount(call.Args);
    });
    AddProperty(
        "Value", [this](const TAutoCallArgs&, VARIANT& result) { result = OleVariant(Stored).Detach(); },
        [this](const TAutoCallArgs& call, VARIANT&) {
          OleVariant argument;
          if (call.Params) {
            call.Params->GetParam(0, argument);
          } else {
            GetArg(call.Args, 0, argument);
          }
          Stored = argument;
        });
    AddProperty(
        "ReadOnly", [](const TAutoCallArgs&, VARIANT& result) { result = OleVariant(int32_t(1)).Detach(); }, nullptr);
    AddProperty("WriteOnly", nullptr, [](const TAutoCallArgs&, VARIANT&) {});
    AddMethod("Fails", 0, [](const TAutoCallArgs&, VARIANT&) { RaiseCodeError(ERR_EQUIPMENT_OFF); });
    AddMethod(AnsiFromUtf8("Строка"), 0, [](const TAutoCallArgs&, VARIANT& result) { result = OleVariant(int32_t(42)).Detach(); });
    for (int i = 0; i < FExtra; ++i) AddMethod("Extra" + std::to_string(i), 0, nullptr);
  }

private:
  bool FOwn;
  int FExtra;
};

ComPtr<IDispatch> MakeSample(bool ownTable) {
  ComPtr<IDispatch> object;
  object.Attach(TBaseAutoObject::Create<TSampleObject>(ownTable));
  return object;
}

const std::string kNotFoundPrefix = "Метод/Свойство [";

}  // namespace

TEST(AutoNameTable, LookupIgnoresCaseBothWaysAndCyrillic) {
  auto object = MakeSample(true);
  EXPECT_EQ(InvokeByName(object.Get(), "twice", DISPATCH_METHOD, {IntArg(4)}).Result.lVal, 8);
  EXPECT_EQ(InvokeByName(object.Get(), "TWICE", DISPATCH_METHOD, {IntArg(5)}).Result.lVal, 10);
  EXPECT_EQ(InvokeByName(object.Get(), "строка", DISPATCH_METHOD).Result.lVal, 42);
}

TEST(AutoNameTable, OwnTableUnknownNameIsNotImplementedAndWritesNothing) {
  auto object = MakeSample(true);
  WideString name = WideFromUtf8("Missing");
  LPOLESTR names[1] = {name.data()};
  DISPID id = 12345;
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), E_NOTIMPL);
  EXPECT_EQ(id, 12345);
}

TEST(AutoNameTable, IdsFollowRegistrationOrder) {
  auto object = MakeSample(true);
  for (auto [name, expected] : {std::pair{"Twice", 0}, {"AnyCount", 1}, {"Value", 2}, {"Строка", 6}}) {
    WideString wide = WideFromUtf8(name);
    LPOLESTR names[1] = {wide.data()};
    DISPID id = -1;
    ASSERT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << name;
    EXPECT_EQ(id, expected) << name;
  }
}

TEST(AutoNameTable, HundredMembersFitTheHundredAndFirstFails) {
  EXPECT_NO_THROW(ComPtr<IDispatch>().Attach(TBaseAutoObject::Create<TSampleObject>(true, 100 - 7)));
  try {
    TBaseAutoObject::Create<TSampleObject>(true, 100 - 6);
    FAIL() << "the 101st registration must fail";
  } catch (const Exception& error) {
    EXPECT_EQ(Utf8(error.Message()), "Массив имен заполнен.");
  }
}

TEST(AutoOwnTable, ArgumentCountIsCheckedOnlyForFixedCounts) {
  auto object = MakeSample(true);
  auto wrong = InvokeByName(object.Get(), "Twice", DISPATCH_METHOD, {IntArg(1), IntArg(2)});
  EXPECT_EQ(wrong.Status, DISP_E_EXCEPTION);
  EXPECT_EQ(wrong.Description, "Неверное число параметров для [TWICE]");

  auto* sample = static_cast<TSampleObject*>(object.Get());
  for (size_t count : {0u, 1u, 5u}) {
    std::vector<VARIANT> args(count, IntArg(1));
    EXPECT_EQ(InvokeByName(object.Get(), "AnyCount", DISPATCH_METHOD, args).Status, S_OK);
    EXPECT_EQ(sample->LastArgCount, int(count));
  }
}

TEST(AutoOwnTable, PropertyReadWithMethodFlagAndFlagRules) {
  auto object = MakeSample(true);
  EXPECT_EQ(InvokeByName(object.Get(), "Value", DISPATCH_METHOD).Result.lVal, 7);
  EXPECT_EQ(InvokeByName(object.Get(), "Value", DISPATCH_METHOD | DISPATCH_PROPERTYGET).Result.lVal, 7);
  EXPECT_EQ(InvokeByName(object.Get(), "Value", DISPATCH_PROPERTYGET).Result.lVal, 7);

  auto methodAsGet = InvokeByName(object.Get(), "Twice", DISPATCH_PROPERTYGET);
  EXPECT_EQ(methodAsGet.Status, DISP_E_EXCEPTION);
  EXPECT_EQ(methodAsGet.Description, kNotFoundPrefix + "TWICE] не обнаружено. Флаг:2");

  auto odd = InvokeByName(object.Get(), "Value", 16);
  EXPECT_EQ(odd.Description, kNotFoundPrefix + "VALUE] не обнаружено. Флаг:16");

  auto readOnly = InvokeByName(object.Get(), "ReadOnly", DISPATCH_PROPERTYPUT, {IntArg(3)});
  EXPECT_EQ(readOnly.Description, "Свойство недоступно для записи [READONLY]");
  auto writeOnly = InvokeByName(object.Get(), "WriteOnly", DISPATCH_PROPERTYGET);
  EXPECT_EQ(writeOnly.Description, "Свойство недоступно для чтения [WRITEONLY]");
  auto writeOnlyAsMethod = InvokeByName(object.Get(), "WriteOnly", DISPATCH_METHOD);
  EXPECT_EQ(writeOnlyAsMethod.Description, "Свойство недоступно для чтения [WRITEONLY]");

  EXPECT_EQ(InvokeByName(object.Get(), "Value", DISPATCH_PROPERTYPUT, {IntArg(99)}).Status, S_OK);
  EXPECT_EQ(InvokeByName(object.Get(), "Value", DISPATCH_PROPERTYGET).Result.lVal, 99);
}

TEST(AutoOwnTable, FailuresCrossAsExceptionRecords) {
  auto object = MakeSample(true);
  auto coded = InvokeByName(object.Get(), "Fails", DISPATCH_METHOD);
  EXPECT_EQ(coded.Status, DISP_E_EXCEPTION);
  EXPECT_EQ(coded.Code, ERR_EQUIPMENT_OFF);
  EXPECT_EQ(coded.Source, "EProtectException");

  EXCEPINFO info{};
  DISPPARAMS none{};
  OleVariant result;
  EXPECT_EQ(object->Invoke(57, IID_NULL, 0, DISPATCH_METHOD, &none, result.Put(), &info, nullptr), DISP_E_EXCEPTION);
  EXPECT_EQ(info.scode, kAutoUncodedFailure);
  EXPECT_EQ(Utf8FromWide(OleString::Adopt(info.bstrDescription).Text()), kNotFoundPrefix + "] не обнаружено. Флаг:1");
  SysFreeString(info.bstrSource);
  // Without an exception record the status alone tells.
  EXPECT_EQ(object->Invoke(57, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), DISP_E_EXCEPTION);
}

TEST(AutoBlockMode, AnyNameGetsAnIdAndUnknownOnesFailWithCode20000) {
  auto object = MakeSample(false);
  WideString name = WideFromUtf8("NeverRegistered");
  LPOLESTR names[1] = {name.data()};
  DISPID first = -1, again = -1;
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &first), S_OK);
  WideString lower = WideFromUtf8("neverregistered");
  names[0] = lower.data();
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &again), S_OK);
  EXPECT_EQ(first, again);

  auto outcome = InvokeByName(object.Get(), "NeverRegistered", DISPATCH_METHOD);
  EXPECT_EQ(outcome.Status, DISP_E_EXCEPTION);
  EXPECT_EQ(outcome.Code, ERR_TEXT);
  EXPECT_EQ(outcome.Description, kNotFoundPrefix + "NEVERREGISTERED] не обнаружено. Флаг:1");
  EXPECT_EQ(outcome.Source, "TSampleObject");
}

TEST(AutoBlockMode, CallsRunThroughTheBlockWithResultsAndRecordedErrors) {
  auto object = MakeSample(false);
  EXPECT_EQ(InvokeByName(object.Get(), "Twice", DISPATCH_METHOD, {IntArg(21)}).Result.lVal, 42);
  LONG referenced = 6;
  EXPECT_EQ(InvokeByName(object.Get(), "Twice", DISPATCH_METHOD, {ByRefInt(&referenced)}).Result.lVal, 12);

  auto wrong = InvokeByName(object.Get(), "Twice", DISPATCH_METHOD);
  EXPECT_EQ(wrong.Status, DISP_E_EXCEPTION);
  EXPECT_EQ(wrong.Description, "Неверное число параметров для [TWICE]");
  EXPECT_EQ(wrong.Source, "TSampleObject");
  EXPECT_EQ(wrong.Code, 0);  // recording keeps the block's code

  auto readOnly = InvokeByName(object.Get(), "ReadOnly", DISPATCH_PROPERTYPUT, {IntArg(1)});
  EXPECT_EQ(readOnly.Description, "Свойство недоступно для записи [READONLY]");

  auto methodAsGet = InvokeByName(object.Get(), "Twice", DISPATCH_PROPERTYGET);
  EXPECT_EQ(methodAsGet.Code, ERR_TEXT);
  EXPECT_EQ(methodAsGet.Description, kNotFoundPrefix + "TWICE] не обнаружено. Флаг:2");

  auto raised = InvokeByName(object.Get(), "Fails", DISPATCH_METHOD);
  EXPECT_EQ(raised.Status, DISP_E_EXCEPTION);
  EXPECT_EQ(raised.Code, kAutoUncodedFailure);
  EXPECT_EQ(raised.Source, "EProtectException");

  EXCEPINFO info{};
  DISPPARAMS none{};
  EXPECT_EQ(object->Invoke(999, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, &info, nullptr), DISP_E_EXCEPTION);
  EXPECT_EQ(info.scode, kAutoUncodedFailure);
  SysFreeString(info.bstrDescription);
  SysFreeString(info.bstrSource);
}

TEST(AutoBlockMode, ByReferenceVariantArgumentsComeBackThroughTheBlock) {
  auto object = MakeSample(false);
  OleVariant target(int32_t(5));
  EXPECT_EQ(InvokeByName(object.Get(), "Value", DISPATCH_PROPERTYPUT, {ByRef(&target)}).Status, S_OK);
  EXPECT_EQ(InvokeByName(object.Get(), "Value", DISPATCH_PROPERTYGET).Result.lVal, 5);
  EXPECT_EQ(target.vt, VT_I4);
  EXPECT_EQ(target.lVal, 5);
}

TEST(AutoArguments, GetArgReadsInCallerOrderThroughReferences) {
  OleVariant third(WideFromUtf8("c"));
  VARIANT reversed[3] = {ByRef(&third), IntArg(2), IntArg(1)};
  DISPPARAMS args{reversed, nullptr, 3, 0};
  EXPECT_EQ(TBaseAutoObject::GetArgCount(&args), 3);
  EXPECT_EQ(TBaseAutoObject::GetArgCount(nullptr), 0);
  OleVariant value;
  TBaseAutoObject::GetArg(&args, 0, value);
  EXPECT_EQ(value.lVal, 1);
  TBaseAutoObject::GetArg(&args, 2, value);
  ASSERT_EQ(value.vt, VT_BSTR);
  EXPECT_EQ(Utf8FromWide(OleString(value.bstrVal).Text()), "c");

  for (int bad : {-1, 3}) {
    try {
      TBaseAutoObject::GetArg(&args, bad, value);
      FAIL();
    } catch (const EProtectException& error) {
      EXPECT_EQ(error.Code, ERR_TEXT);
      EXPECT_EQ(Utf8(error.Message()), "Неверный индекс (Get) Index=" + std::to_string(bad) + " Count=3");
    }
  }
  try {
    TBaseAutoObject::SetArg(&args, 3, value);
    FAIL();
  } catch (const EProtectException& error) {
    EXPECT_EQ(Utf8(error.Message()), "Неверный индекс (Set) Index=3 Count=3");
  }
}

TEST(AutoArguments, SetArgWritesOnlyByReferenceArguments) {
  LONG integer = 0;
  double real = 0;
  OleString text(WideFromUtf8("old"));
  BSTR textSlot = text.Copy();
  OleVariant any;
  VARIANT byValue = IntArg(10);
  VARIANT realRef;
  realRef.vt = VT_BYREF | VT_R8;
  realRef.pdblVal = &real;
  VARIANT textRef;
  textRef.vt = VT_BYREF | VT_BSTR;
  textRef.pbstrVal = &textSlot;
  VARIANT_BOOL flag = VARIANT_FALSE;
  VARIANT boolRef;
  boolRef.vt = VT_BYREF | VT_BOOL;
  boolRef.pboolVal = &flag;
  // Caller order: integer, real, text, any, by value, bool.
  VARIANT reversed[6] = {boolRef, byValue, ByRef(&any), textRef, realRef, ByRefInt(&integer)};
  DISPPARAMS args{reversed, nullptr, 6, 0};

  OleVariant fortyTwo(int32_t(42));
  TBaseAutoObject::SetArg(&args, 0, fortyTwo);
  TBaseAutoObject::SetArg(&args, 1, OleVariant(2.5));
  TBaseAutoObject::SetArg(&args, 2, fortyTwo);
  TBaseAutoObject::SetArg(&args, 3, OleVariant(WideFromUtf8("Код")));
  EXPECT_NO_THROW(TBaseAutoObject::SetArg(&args, 4, fortyTwo));
  EXPECT_EQ(integer, 42);
  EXPECT_EQ(real, 2.5);
  EXPECT_EQ(Utf8FromWide(OleString(textSlot).Text()), "42");
  ASSERT_EQ(any.vt, VT_BSTR);
  EXPECT_EQ(Utf8FromWide(OleString(any.bstrVal).Text()), "Код");
  EXPECT_EQ(reversed[1].vt, VT_I4);
  EXPECT_EQ(reversed[1].lVal, 10);
  try {
    TBaseAutoObject::SetArg(&args, 5, fortyTwo);
    FAIL();
  } catch (const Exception& error) {
    EXPECT_EQ(Utf8(error.Message()), "Неподдерживаемый тип параметра.");
  }
  SysFreeString(textSlot);
}

#ifdef _WIN32
namespace {

volatile uintptr_t gNullAddress = 0;

// The sample's members and one that writes through a null pointer: a structured exception.
class TFaultingObject : public TSampleObject {
public:
  using TSampleObject::TSampleObject;

protected:
  void RegisterMembers() override {
    TSampleObject::RegisterMembers();
    AddMethod("Faults", 0, [](const TAutoCallArgs&, VARIANT&) { *reinterpret_cast<volatile int*>(gNullAddress) = 1; });
  }
};

}  // namespace

TEST(AutoInvoke, AStructuredExceptionInAMemberCrossesAsAnExceptionRecord) {
  for (const bool ownTable : {true, false}) {
    ComPtr<IDispatch> object;
    object.Attach(TBaseAutoObject::Create<TFaultingObject>(ownTable));
    for (int round = 0; round < 2; ++round) {
      auto faulted = InvokeByName(object.Get(), "Faults", DISPATCH_METHOD);
      EXPECT_EQ(faulted.Status, DISP_E_EXCEPTION);
      EXPECT_EQ(faulted.Code, kAutoUncodedFailure);
      EXPECT_EQ(faulted.Source, "EAccessViolation");
      EXPECT_NE(faulted.Description.find("0xC0000005"), std::string::npos) << faulted.Description;
      // The object and the process carry on.
      EXPECT_EQ(InvokeByName(object.Get(), "Twice", DISPATCH_METHOD, {IntArg(21)}).Result.lVal, 42);
    }
  }
}
#endif
