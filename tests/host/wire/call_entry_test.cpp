#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "host/host_test_support.h"
#include "host/wire/params.h"
#include "platform/ole_ptr.h"
#include "platform/user_language.h"

namespace {

WideString ErrorText(const TParams& block) {
  return V_VT(&block.ErrorText) == VT_BSTR ? WideString(V_BSTR(&block.ErrorText), SysStringLen(V_BSTR(&block.ErrorText)))
                                           : WideString();
}

IUnknown* gSeenContext = nullptr;
TParams* gSeenParams = nullptr;

BOOL WINAPI Succeeds(TParams* params, IUnknown* context) {
  gSeenParams = params;
  gSeenContext = context;
  return TRUE;
}
BOOL WINAPI RaisesCoded(TParams*, IUnknown*) { throw EProtectException(20036, "coded failure"); }
BOOL WINAPI RaisesPlain(TParams*, IUnknown*) { throw Exception("plain failure"); }
BOOL WINAPI RaisesStd(TParams*, IUnknown*) { throw std::out_of_range("std failure"); }
BOOL WINAPI RaisesInteger(TParams*, IUnknown*) { throw 42; }

// Installs a handler for one test and restores the previous one.
class HandlerScope {
public:
  explicit HandlerScope(TCallHandler handler) : FPrevious(CallHandler()) { SetCallHandler(handler); }
  ~HandlerScope() { SetCallHandler(FPrevious); }

private:
  TCallHandler FPrevious;
};

TParamsPtr CallBlock() {
  TParamsPtr block = MakeParams();
  block->SetName("Method");
  block->AddParam(OleVariant());
  block->AddParam(OleVariant(OLESTR("Switch")));
  block->AddParam(OleVariant(1));
  return block;
}

}  // namespace

TEST(SafeCallEntry, ReturnsTheHandlersResultAndClearsTheErrorFlag) {
  HandlerScope scope(&Succeeds);
  TParamsPtr block = CallBlock();
  block->HasError = true;
  auto* context = reinterpret_cast<IUnknown*>(0x1234);
  EXPECT_EQ(SafeCallEntry(block.get(), context), TRUE);
  EXPECT_FALSE(block->HasError);
  EXPECT_EQ(gSeenParams, block.get());
  EXPECT_EQ(gSeenContext, context);
}

TEST(SafeCallEntry, IsACallHandlerItself) {
  // The entry has the handler's type, so it can be handed to a host as the call handler.
  TCallHandler entry = &SafeCallEntry;
  HandlerScope scope(&Succeeds);
  TParamsPtr block = CallBlock();
  EXPECT_EQ(entry(block.get(), nullptr), TRUE);
}

TEST(SafeCallEntry, CodedExceptionsKeepTheirCode) {
  HandlerScope scope(&RaisesCoded);
  TParamsPtr block = CallBlock();
  EXPECT_EQ(SafeCallEntry(block.get(), nullptr), FALSE);
  EXPECT_TRUE(block->HasError);
  EXPECT_EQ(block->ErrorCode, 20036);
  EXPECT_EQ(ErrorText(*block), WideString(OLESTR("coded failure")));
  EXPECT_EQ(V_VT(&block->ErrorSource), VT_BSTR);
  EXPECT_EQ(WideString(V_BSTR(&block->ErrorSource)), WideString(OLESTR("Switch")));
}

TEST(SafeCallEntry, OtherExceptionsBecomeTheTextCode) {
  struct Case {
    TCallHandler Handler;
    const OLECHAR* Text;
  };
  const WideString unknown = WideFromUtf8("Неизвестное исключение");
  for (const Case& c : {Case{&RaisesPlain, OLESTR("plain failure")}, Case{&RaisesStd, OLESTR("std failure")},
                        Case{&RaisesInteger, unknown.c_str()}}) {
    HandlerScope scope(c.Handler);
    TParamsPtr block = CallBlock();
    EXPECT_EQ(SafeCallEntry(block.get(), nullptr), FALSE);
    EXPECT_TRUE(block->HasError);
    EXPECT_EQ(block->ErrorCode, ERR_TEXT);
    EXPECT_EQ(ErrorText(*block), WideString(c.Text));
  }
}

TEST(SafeCallEntry, ErrorSourceIsTheNameForASingleParameter) {
  HandlerScope scope(&RaisesPlain);
  TParamsPtr block = MakeParams();
  block->SetName("Lonely");
  block->AddParam(OleVariant());
  EXPECT_EQ(SafeCallEntry(block.get(), nullptr), FALSE);
  EXPECT_EQ(WideString(V_BSTR(&block->ErrorSource)), WideString(OLESTR("Lonely")));
}

TEST(SafeCallEntry, WithoutHandlerOrBlock) {
  HandlerScope scope(nullptr);
  TParamsPtr block = CallBlock();
  EXPECT_EQ(SafeCallEntry(block.get(), nullptr), FALSE);
  EXPECT_TRUE(block->HasError);
  EXPECT_EQ(block->ErrorCode, ERR_TEXT);
  EXPECT_EQ(SafeCallEntry(nullptr, nullptr), FALSE);
}

#ifdef _WIN32
namespace {

volatile uintptr_t gNullAddress = 0;

BOOL WINAPI WritesThroughNull(TParams*, IUnknown*) {
  *reinterpret_cast<volatile int*>(gNullAddress) = 1;
  return TRUE;
}

// The host's own language raises its exceptions with this code, e.g. from its event sink.
BOOL WINAPI CallsAForeignFunctionThatRaises(TParams*, IUnknown*) {
  const ULONG_PTR arguments[] = {0x00401000, 0x00123456};
  RaiseException(0x0EEDFADE, EXCEPTION_NONCONTINUABLE, 2, arguments);
  return TRUE;
}

bool UserIsRussian() { return (UserDefaultLanguageId() & 0xFF) == kPrimaryLanguageRussian; }

}  // namespace

TEST(SafeCallEntry, StructuredExceptionsEndInTheBlockAndTheNextCallWorks) {
  const std::string zeros(2 * sizeof(void*), '0');
  struct Case {
    TCallHandler Handler;
    std::string Begins;
    std::string Ends;
  };
  const Case cases[] = {
      {&WritesThroughNull, UserIsRussian() ? "Системное исключение 0xC0000005 по адресу 0x" : "System exception 0xC0000005 at address 0x",
       UserIsRussian() ? ": нарушение доступа при записи по адресу 0x" + zeros : ": access violation writing address 0x" + zeros},
      {&CallsAForeignFunctionThatRaises,
       UserIsRussian() ? "Системное исключение 0x0EEDFADE по адресу 0x" : "System exception 0x0EEDFADE at address 0x",
       UserIsRussian() ? ": исключение приложения-хоста" : ": an exception of the host application"},
  };
  for (int round = 0; round < 3; ++round) {
    for (const Case& c : cases) {
      {
        HandlerScope scope(c.Handler);
        TParamsPtr block = CallBlock();
        EXPECT_EQ(SafeCallEntry(block.get(), nullptr), FALSE);
        EXPECT_TRUE(block->HasError);
        EXPECT_EQ(block->ErrorCode, ERR_TEXT);
        EXPECT_EQ(WideString(V_BSTR(&block->ErrorSource)), WideString(OLESTR("Switch")));
        const std::string text = Utf8FromWide(ErrorText(*block));
        EXPECT_EQ(text.rfind(c.Begins, 0), 0u) << text;
        EXPECT_GE(text.size(), c.Ends.size());
        EXPECT_EQ(text.substr(text.size() - std::min(text.size(), c.Ends.size())), c.Ends) << text;
      }
      // The process carries on: the next call goes through as usual.
      HandlerScope scope(&Succeeds);
      TParamsPtr block = CallBlock();
      EXPECT_EQ(SafeCallEntry(block.get(), nullptr), TRUE);
      EXPECT_FALSE(block->HasError);
    }
  }
}
#endif
