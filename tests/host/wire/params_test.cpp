#include "host/wire/params.h"

#include <gtest/gtest.h>

#include <cstring>

#include "host/host_test_support.h"
#include "host/wire/host_string.h"
#include "platform/ole_ptr.h"

namespace {

WideString Text(const VARIANT& value) {
  EXPECT_EQ(V_VT(&value), VT_BSTR);
  return V_VT(&value) == VT_BSTR && V_BSTR(&value) ? WideString(V_BSTR(&value), SysStringLen(V_BSTR(&value)))
                                                   : WideString();
}

OleVariant Param(const TParams& block, int32_t index) {
  OleVariant value;
  block.GetParam(index, value);
  return value;
}

int32_t IntParam(const TParams& block, int32_t index) {
  OleVariant value = Param(block, index);
  EXPECT_EQ(value.vt, VT_I4);
  return value.lVal;
}

// An argument record laid out as an automation call delivers it: arguments in reverse order.
struct CallerRecord {
  explicit CallerRecord(std::vector<OleVariant> callOrder) : Values(callOrder.rbegin(), callOrder.rend()) {
    Record.rgvarg = Values.data();
    Record.rgdispidNamedArgs = nullptr;
    Record.cArgs = static_cast<UINT>(Values.size());
    Record.cNamedArgs = 0;
  }
  std::vector<OleVariant> Values;
  DISPPARAMS Record{};
};

int32_t ErrorCodeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EProtectException& error) {
    return error.Code;
  }
  return -1;
}

}  // namespace

TEST(ParamsCreate, StartsEmptyWithThePluginClass) {
  TParamsPtr block = MakeParams();
  EXPECT_TRUE(block->IsPluginBlock());
  EXPECT_EQ(HostClassName(block.get()), "TParams");
  EXPECT_EQ(block->Args, nullptr);
  EXPECT_FALSE(block->OwnsArgs);
  EXPECT_FALSE(block->HasError);
  EXPECT_EQ(block->ErrorCode, 0);
  EXPECT_EQ(block->Name, nullptr);
  EXPECT_EQ(block->GetName(), "");
  EXPECT_EQ(block->CallKind, 0);
  EXPECT_EQ(Text(block->ErrorSource), WideString());
  EXPECT_EQ(Text(block->ErrorText), WideString());
  EXPECT_EQ(block->ResultRef, nullptr);
  EXPECT_EQ(block->Next, nullptr);
  EXPECT_EQ(block->Count(), 0);
}

TEST(ParamsOwned, AllocatesFiftyZeroedVariantsOnce) {
  TParamsPtr block = MakeParams();
  block->AllocArgs();
  ASSERT_NE(block->Args, nullptr);
  EXPECT_TRUE(block->OwnsArgs);
  EXPECT_EQ(block->Args->cArgs, 0u);
  EXPECT_EQ(block->Args->cNamedArgs, 0u);
  EXPECT_EQ(block->Args->rgdispidNamedArgs, nullptr);
  std::vector<uint8_t> zeros(sizeof(VARIANT) * vestrel::kOwnedArgumentCapacity, 0);
  EXPECT_EQ(std::memcmp(block->Args->rgvarg, zeros.data(), zeros.size()), 0);
  DISPPARAMS* record = block->Args;
  block->AllocArgs();
  EXPECT_EQ(block->Args, record);
}

TEST(ParamsOwned, KeepsArgumentsInCallOrder) {
  TParamsPtr block = MakeParams();
  block->AllocArgs();
  block->AddParam(OleVariant(10));
  block->AddParam(OleVariant(OLESTR("Включить")));
  block->AddParam(OleVariant(30));
  EXPECT_EQ(block->Count(), 3);
  EXPECT_EQ(block->Args->rgvarg[0].lVal, 10);
  EXPECT_EQ(IntParam(*block, 0), 10);
  EXPECT_EQ(Text(Param(*block, 1)), WideFromUtf8("Включить"));
  EXPECT_EQ(IntParam(*block, 2), 30);
  block->SetParam(1, OleVariant(20));
  EXPECT_EQ(IntParam(*block, 1), 20);
}

TEST(ParamsOwned, AddParamWithoutRecordAllocatesOwnedStorage) {
  TParamsPtr block = MakeParams();
  block->AddParam(OleVariant(1));
  EXPECT_TRUE(block->OwnsArgs);
  EXPECT_EQ(block->Count(), 1);
}

TEST(ParamsOwned, FiftyParametersFitTheFiftyFirstFails) {
  TParamsPtr block = MakeParams();
  block->AllocArgs();
  for (int i = 0; i < 50; ++i) block->AddParam(OleVariant(i));
  EXPECT_EQ(block->Count(), 50);
  EXPECT_EQ(MessageOf<Exception>([&] { block->AddParam(OleVariant(50)); }),
            Ansi("TParams - превышена емкость хранилища данных."));
  EXPECT_EQ(block->Count(), 50);
  EXPECT_EQ(IntParam(*block, 49), 49);
}

TEST(ParamsIndex, GetAndSetOutsideTheRangeFailWithTheirTexts) {
  TParamsPtr block = MakeParams();
  block->AllocArgs();
  block->AddParam(OleVariant(1));
  block->AddParam(OleVariant(2));
  OleVariant value;
  EXPECT_EQ(MessageOf<EProtectException>([&] { block->GetParam(2, value); }),
            Ansi("Неверный индекс (Get) Index=2 Count=2"));
  EXPECT_EQ(MessageOf<EProtectException>([&] { block->GetParam(-1, value); }),
            Ansi("Неверный индекс (Get) Index=-1 Count=2"));
  EXPECT_EQ(MessageOf<EProtectException>([&] { block->SetParam(5, OleVariant(0)); }),
            Ansi("Неверный индекс (Set) Index=5 Count=2"));
  EXPECT_EQ(ErrorCodeOf([&] { block->GetParam(2, value); }), ERR_TEXT);

  TParamsPtr empty = MakeParams();
  EXPECT_EQ(MessageOf<EProtectException>([&] { empty->GetParam(0, value); }),
            Ansi("Неверный индекс (Get) Index=0 Count=0"));
}

TEST(ParamsBorrowed, ArgumentsAreStoredInReverseOrder) {
  CallerRecord caller({OleVariant(OLESTR("a")), OleVariant(OLESTR("b")), OleVariant(OLESTR("c"))});
  TParamsPtr block = MakeParams();
  block->AttachArgs(&caller.Record);
  EXPECT_FALSE(block->OwnsArgs);
  EXPECT_EQ(block->Count(), 3);
  EXPECT_EQ(Text(Param(*block, 0)), WideString(OLESTR("a")));
  EXPECT_EQ(Text(Param(*block, 2)), WideString(OLESTR("c")));
}

TEST(ParamsBorrowed, AttachingReleasesOwnedStorage) {
  CallerRecord caller({OleVariant(1), OleVariant(2)});
  TParamsPtr block = MakeParams();
  block->AddParam(OleVariant(OLESTR("owned")));
  block->AttachArgs(&caller.Record);
  EXPECT_FALSE(block->OwnsArgs);
  EXPECT_EQ(block->Count(), 2);
  EXPECT_EQ(IntParam(*block, 1), 2);
  block.reset();  // must leave the caller's record alone
  EXPECT_EQ(caller.Record.cArgs, 2u);
  EXPECT_EQ(caller.Values[0].lVal, 2);
}

TEST(ParamsBorrowed, SetParamWritesThroughByReferenceArguments) {
  LONG integer = 1;
  double real = 1.5;
  BSTR text = SysAllocString(OLESTR("old"));
  OleVariant referenced(OLESTR("old variant"));
  std::vector<OleVariant> args(5);
  args[0].vt = VT_I4 | VT_BYREF;
  args[0].plVal = &integer;
  args[1].vt = VT_R8 | VT_BYREF;
  args[1].pdblVal = &real;
  args[2].vt = VT_BSTR | VT_BYREF;
  args[2].pbstrVal = &text;
  args[3].vt = VT_VARIANT | VT_BYREF;
  args[3].pvarVal = &referenced;
  args[4] = OleVariant(7);  // by value: the caller's own copy
  CallerRecord caller(args);
  TParamsPtr block = MakeParams();
  block->AttachArgs(&caller.Record);

  block->SetParam(0, OleVariant(42));
  block->SetParam(1, OleVariant(2.25));
  block->SetParam(2, OleVariant(OLESTR("new")));
  block->SetParam(3, OleVariant(99));
  block->SetParam(4, OleVariant(8));

  EXPECT_EQ(integer, 42);
  EXPECT_EQ(real, 2.25);
  EXPECT_EQ(WideString(text), WideString(OLESTR("new")));
  EXPECT_EQ(referenced.vt, VT_I4);
  EXPECT_EQ(referenced.lVal, 99);
  EXPECT_EQ(caller.Values[0].vt, VT_I4);  // argument 4 sits first in the record
  EXPECT_EQ(caller.Values[0].lVal, 7);
  // Converted as an assignment would: an integer into a double, a number into a text.
  block->SetParam(1, OleVariant(3));
  block->SetParam(2, OleVariant(12));
  EXPECT_EQ(real, 3.0);
  EXPECT_EQ(WideString(text), WideString(OLESTR("12")));
  // A number text in the fixed format, whatever the user's regional settings.
  block->SetParam(1, OleVariant(OLESTR("1,5")));
  block->SetParam(0, OleVariant(OLESTR("15")));
  EXPECT_EQ(real, 1.5);
  EXPECT_EQ(integer, 15);
  EXPECT_THROW(block->SetParam(1, OleVariant(OLESTR("1.5"))), EConvertError);
  EXPECT_EQ(real, 1.5) << "a refused text writes nothing";
  SysFreeString(text);
}

TEST(ParamsBorrowed, UnsupportedReferencedTypeFailsAndWritesNothing) {
  SHORT small = 3;
  std::vector<OleVariant> args(1);
  args[0].vt = VT_I2 | VT_BYREF;
  args[0].piVal = &small;
  CallerRecord caller(args);
  TParamsPtr block = MakeParams();
  block->AttachArgs(&caller.Record);
  EXPECT_EQ(MessageOf<EProtectException>([&] { block->SetParam(0, OleVariant(5)); }),
            Ansi("Неподдерживаемый тип параметра."));
  EXPECT_EQ(ErrorCodeOf([&] { block->SetParam(0, OleVariant(5)); }), ERR_TEXT);
  EXPECT_EQ(small, 3);
}

TEST(ParamsBorrowed, TheCallersRecordNeverGrowsNorIsEmptied) {
  CallerRecord caller({OleVariant(OLESTR("a")), OleVariant(OLESTR("b"))});
  TParamsPtr block = MakeParams();
  block->AttachArgs(&caller.Record);
  EXPECT_EQ(MessageOf<Exception>([&] { block->AddParam(OleVariant(1)); }),
            Ansi("TParams - превышена емкость хранилища данных."));
  EXPECT_EQ(caller.Record.cArgs, 2u);

  block->Clear();
  EXPECT_EQ(block->Count(), 0);
  EXPECT_EQ(block->Args, nullptr);
  EXPECT_EQ(caller.Record.cArgs, 2u);
  EXPECT_EQ(Text(caller.Values[1]), WideString(OLESTR("a")));
  // After Clear the block collects results in storage of its own.
  block->AddParam(OleVariant(5));
  EXPECT_TRUE(block->OwnsArgs);
  EXPECT_EQ(IntParam(*block, 0), 5);
}

TEST(ParamsErrors, SetErrorReportsWhetherThereIsAnError) {
  TParamsPtr block = MakeParams();
  EXPECT_TRUE(block->SetError(20036));
  EXPECT_TRUE(block->HasError);
  EXPECT_EQ(block->ErrorCode, 20036);
  EXPECT_FALSE(block->SetError(0));
  EXPECT_FALSE(block->HasError);
}

TEST(ParamsClear, LeavesTheClearedTextAndFreesTheChain) {
  TParamsPtr block = MakeParams();
  block->AllocArgs();
  block->AddParam(OleVariant(OLESTR("x")));
  block->AddParam(OleVariant(2));
  OleVariant result;
  block->ResultRef = &result;
  block->SetError(7);
  TParamsPtr next = MakeParams();
  next->AddParam(OleVariant(OLESTR("in the chain")));
  SetNextParams(*block, std::move(next));

  block->Clear();
  EXPECT_EQ(Text(block->ErrorText), WideFromUtf8("Очищено Clear"));
  EXPECT_EQ(Text(block->ErrorSource), WideString());
  EXPECT_EQ(block->ResultRef, nullptr);
  EXPECT_FALSE(block->HasError);
  EXPECT_EQ(block->ErrorCode, 0);
  EXPECT_EQ(block->Count(), 0);
  EXPECT_EQ(block->Args->rgvarg[0].vt, VT_EMPTY);
  EXPECT_EQ(block->Args->rgvarg[1].vt, VT_EMPTY);
  EXPECT_EQ(block->Next, nullptr);
}

TEST(ParamsException, RecordsMessageCodeAndSource) {
  TParamsPtr block = MakeParams();
  block->SetName("DoIt");
  block->AllocArgs();
  block->AddParam(OleVariant());
  block->AddParam(OleVariant(WideFromUtf8("Включить")));

  block->SetException(Exception(Ansi("сбой")));
  EXPECT_TRUE(block->HasError);
  EXPECT_EQ(block->ErrorCode, ERR_TEXT);
  EXPECT_EQ(Text(block->ErrorText), WideFromUtf8("сбой"));
  EXPECT_EQ(Text(block->ErrorSource), WideFromUtf8("Включить"));

  block->SetException(EProtectException(20036, "coded"));
  EXPECT_EQ(block->ErrorCode, 20036);
  EXPECT_TRUE(block->HasError);

  block->SetException(std::runtime_error("plain"));
  EXPECT_EQ(block->ErrorCode, ERR_TEXT);
  EXPECT_EQ(Text(block->ErrorText), WideString(OLESTR("plain")));
}

TEST(ParamsException, EquipmentExceptionWithCodeZeroLeavesNoError) {
  TParamsPtr block = MakeParams();
  block->SetException(EHardwareEquipmentException(0, "device says ok"));
  EXPECT_FALSE(block->HasError);
  EXPECT_EQ(block->ErrorCode, 0);
  EXPECT_EQ(Text(block->ErrorText), WideString(OLESTR("device says ok")));

  block->SetException(EHardwareEquipmentException(9, "no library"));
  EXPECT_TRUE(block->HasError);
  EXPECT_EQ(block->ErrorCode, 9);
}

TEST(ParamsException, SourceIsTheNameWithFewerThanTwoParameters) {
  TParamsPtr block = MakeParams();
  block->SetName(Ansi("ПолучитьВерсию"));
  block->AllocArgs();
  block->AddParam(OleVariant(1));
  block->SetException(Exception("x"));
  EXPECT_EQ(Text(block->ErrorSource), WideFromUtf8("ПолучитьВерсию"));

  TParamsPtr bare = MakeParams();
  bare->SetException(Exception("x"));
  EXPECT_EQ(Text(bare->ErrorSource), WideString());
}

TEST(ParamsRaise, RaiseTextRaisesTheTextCode) {
  TParamsPtr block = MakeParams();
  try {
    block->RaiseText(Ansi("текст"));
    FAIL();
  } catch (const EProtectException& error) {
    EXPECT_EQ(error.Code, ERR_TEXT);
    EXPECT_EQ(error.Message(), Ansi("текст"));
  }
}

TEST(ParamsHost, BlocksFilledByAHostAreRead) {
  // A block as a host builds it: zero-filled, its own class, its own strings and values.
  TParams block;
  std::memset(&block, 0, sizeof(block));
  static const unsigned char hostClassName[] = "\x0CTHostParams_";
  const void* hostClass[12] = {hostClassName};
  block.ClassRef = &hostClass[11];
  std::vector<char> nameMemory(8 + 5, 0);
  const int32_t refCount = 1, length = 4;
  std::memcpy(nameMemory.data(), &refCount, 4);
  std::memcpy(nameMemory.data() + 4, &length, 4);
  std::memcpy(nameMemory.data() + 8, "Test", 5);
  block.Name = nameMemory.data() + 8;

  EXPECT_FALSE(block.IsPluginBlock());
  EXPECT_EQ(block.GetName(), "Test");
  EXPECT_EQ(HostClassName(&block).size(), 12u);
  // The host's own storage: a record and fifty variants, arguments in call order.
  VARIANT hostValues[50];
  std::memset(hostValues, 0, sizeof(hostValues));
  DISPPARAMS hostRecord{hostValues, nullptr, 0, 0};
  block.Args = &hostRecord;
  block.OwnsArgs = true;
  block.AddParam(OleVariant(1));
  // A host's own 8-bit string (type 0x100) comes back as an OLE string.
  THostString hostText(Ansi("Код"));
  hostValues[1].vt = kVarTypeHostString;
  hostValues[1].byref = hostText.Get();
  hostRecord.cArgs = 2;
  EXPECT_EQ(Text(Param(block, 1)), WideFromUtf8("Код"));
  block.SetException(Exception("x"));
  EXPECT_EQ(Text(block.ErrorSource), WideFromUtf8("Код"));
  EXPECT_THROW(block.SetName("other"), EProtectException);
  EXPECT_EQ(block.GetName(), "Test");
  block.Destroy();
  EXPECT_EQ(block.Name, nameMemory.data() + 8);  // the host's string stays the host's
  EXPECT_EQ(block.Args, &hostRecord);            // and so does its storage
  EXPECT_EQ(hostRecord.cArgs, 0u);
}

TEST(ParamsOwner, FreesChainsNamesAndValues) {
  // Run under the address sanitizer lane: leaks or double frees fail there.
  TParamsPtr first = MakeParams();
  first->SetName("first");
  first->SetName("renamed");
  EXPECT_EQ(first->GetName(), "renamed");
  EXPECT_EQ(HostStringLength(first->Name), 7);
  int32_t refCount = 0;
  std::memcpy(&refCount, first->Name + vestrel::kHostStringRefCountOffset, 4);
  EXPECT_EQ(refCount, vestrel::kHostStringConstantRefCount);
  EXPECT_EQ(first->Name[7], '\0');
  first->AddParam(OleVariant(OLESTR("text")));
  TParamsPtr second = MakeParams();
  second->AddParam(OleVariant(OLESTR("more")));
  TParamsPtr third = MakeParams();
  SetNextParams(*second, std::move(third));
  SetNextParams(*first, std::move(second));
  first->SetException(Exception("e"));
  EXPECT_NE(first->Next->Next, nullptr);
}

TEST(HostString, ReadsLengthFromTheHeader) {
  EXPECT_EQ(HostStringText(nullptr), "");
  THostString text(std::string("ab\0c", 4));
  EXPECT_EQ(HostStringLength(text.Get()), 4);
  EXPECT_EQ(HostStringText(text.Get()), std::string("ab\0c", 4));
  THostString empty("");
  EXPECT_EQ(empty.Get(), nullptr);
}
