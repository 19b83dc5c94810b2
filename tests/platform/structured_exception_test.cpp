#include "platform/structured_exception.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/sync.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using platform::CallGuarded;
using platform::StructuredException;

TEST(StructuredExceptionGuard, ReturnsValuesReferencesAndMoveOnlyResults) {
  EXPECT_EQ(CallGuarded([] { return 42; }), 42);
  int target = 1;
  int& same = CallGuarded([&]() -> int& { return target; });
  same = 7;
  EXPECT_EQ(target, 7);
  std::unique_ptr<std::string> owned = CallGuarded([] { return std::make_unique<std::string>("held"); });
  ASSERT_NE(owned, nullptr);
  EXPECT_EQ(*owned, "held");
  int calls = 0;
  CallGuarded([&] { ++calls; });
  EXPECT_EQ(calls, 1);
}

TEST(StructuredExceptionGuard, CxxExceptionsPassThroughUnchanged) {
  struct ECustom : std::runtime_error {
    using std::runtime_error::runtime_error;
  };
  try {
    CallGuarded([]() -> int { throw ECustom("custom text"); });
    FAIL() << "nothing was thrown";
  } catch (const ECustom& error) {
    EXPECT_STREQ(error.what(), "custom text");
  }
  EXPECT_THROW(CallGuarded([] { throw 5; }), int);
  // The guard still works after a C++ exception left it.
  EXPECT_EQ(CallGuarded([] { return 3; }), 3);
}

TEST(StructuredExceptionGuard, DescriptionNamesCodeAndAddresses) {
  const auto* code = reinterpret_cast<const void*>(uintptr_t{0x401A2B});
  const auto* accessed = reinterpret_cast<const void*>(uintptr_t{0x10});
  const std::string width = sizeof(void*) == 4 ? "" : "00000000";
  const StructuredException write(platform::kAccessViolationCode, code, true, accessed);
  EXPECT_TRUE(write.IsAccessViolation());
  EXPECT_EQ(std::string(write.what()), "Structured exception 0xC0000005 at 0x" + width + "00401A2B" +
                                           ": access violation writing address 0x" + width + "00000010");
  const StructuredException read(platform::kAccessViolationCode, code, false, nullptr);
  EXPECT_NE(std::string(read.what()).find("access violation reading address"), std::string::npos);
  const StructuredException host(platform::kHostLanguageExceptionCode, code, false, nullptr);
  EXPECT_FALSE(host.IsAccessViolation());
  EXPECT_EQ(std::string(host.what()), "Structured exception 0x0EEDFADE at 0x" + width + "00401A2B");
}

#ifdef _WIN32

// Addresses are read from volatile storage so that the compiler cannot see the fault coming
// (a visible null store would be compiled into a trap instruction instead).
volatile uintptr_t gNullAddress = 0;
volatile uintptr_t gLowAddress = 0x10;

__attribute__((noinline)) void WriteThroughNull() { *reinterpret_cast<volatile int*>(gNullAddress) = 1; }

__attribute__((noinline)) int ReadLowAddress() { return *reinterpret_cast<volatile int*>(gLowAddress); }

// Faults a few frames down, as a fault deep inside foreign code would.
__attribute__((noinline)) int FaultAtDepth(int depth) {
  if (depth == 0) {
    WriteThroughNull();
    return 0;
  }
  volatile int keep = depth;
  return FaultAtDepth(depth - 1) + keep;
}

void RaiseHostLanguageException() {
  const ULONG_PTR arguments[] = {0x1234, 0x5678};
  RaiseException(platform::kHostLanguageExceptionCode, EXCEPTION_NONCONTINUABLE, 2, arguments);
}

template <class F>
StructuredException CaptureStructured(F&& body) {
  try {
    CallGuarded(std::forward<F>(body));
  } catch (const StructuredException& error) {
    return error;
  }
  ADD_FAILURE() << "no structured exception arrived";
  return StructuredException(0, nullptr, false, nullptr);
}

TEST(StructuredExceptionGuard, NullWriteBecomesAnAccessViolationAgainAndAgain) {
  // Many rounds: a guard that left anything behind (a handler on the chain, stack) fails later.
  for (int round = 0; round < 200; ++round) {
    const StructuredException error = CaptureStructured([round] { FaultAtDepth(round % 5); });
    ASSERT_EQ(error.Code(), 0xC0000005u) << "round " << round;
    ASSERT_TRUE(error.IsAccessViolation());
    ASSERT_TRUE(error.IsWrite());
    ASSERT_EQ(error.FaultAddress(), nullptr);
    ASSERT_NE(error.Address(), nullptr);
  }
  EXPECT_EQ(CallGuarded([] { return 11; }), 11);
}

TEST(StructuredExceptionGuard, ReadFaultIsReportedAsARead) {
  const StructuredException error = CaptureStructured([] { return ReadLowAddress(); });
  EXPECT_TRUE(error.IsAccessViolation());
  EXPECT_FALSE(error.IsWrite());
  EXPECT_EQ(error.FaultAddress(), reinterpret_cast<const void*>(uintptr_t{0x10}));
  EXPECT_NE(std::string(error.what()).find("reading address"), std::string::npos);
}

TEST(StructuredExceptionGuard, RaisedCodesArriveWithTheirCode) {
  const StructuredException host = CaptureStructured(&RaiseHostLanguageException);
  EXPECT_EQ(host.Code(), 0x0EEDFADEu);
  EXPECT_FALSE(host.IsAccessViolation());
  EXPECT_NE(host.Address(), nullptr);
  const StructuredException other = CaptureStructured([] { RaiseException(0xE0001234, 0, 0, nullptr); });
  EXPECT_EQ(other.Code(), 0xE0001234u);
}

TEST(StructuredExceptionGuard, AnInnerGuardKeepsItsExceptionFromTheOuterOne) {
  int innerCaught = 0;
  const int result = CallGuarded([&] {
    try {
      CallGuarded(&RaiseHostLanguageException);
    } catch (const StructuredException& error) {
      innerCaught = static_cast<int>(error.Code() == platform::kHostLanguageExceptionCode);
    }
    return 5;
  });
  EXPECT_EQ(innerCaught, 1);
  EXPECT_EQ(result, 5);
  // After the inner guard unwound, the outer one still catches what reaches it.
  const StructuredException outer = CaptureStructured([] {
    try {
      CallGuarded([] { throw std::runtime_error("inner C++"); });
    } catch (const std::runtime_error&) {
    }
    WriteThroughNull();
  });
  EXPECT_TRUE(outer.IsAccessViolation());
}

struct ObservedException {
  uint32_t Code = 0;
  uint32_t Line = 0;
  std::string Function;
  int Calls = 0;
};
ObservedException gObserved;

void Observe(const StructuredException& error, const platform::GuardPlace& where) noexcept {
  gObserved.Code = error.Code();
  gObserved.Line = where.line();
  gObserved.Function = where.function_name();
  ++gObserved.Calls;
}

TEST(StructuredExceptionGuard, TheObserverHearsOfEachCaughtExceptionWithThePlaceOfTheGuard) {
  gObserved = {};
  ASSERT_EQ(platform::CurrentStructuredExceptionObserver(), nullptr);
  platform::SetStructuredExceptionObserver(&Observe);
  uint32_t code = 0;
  const uint32_t guardLine = __LINE__ + 2;
  try {
    CallGuarded(&RaiseHostLanguageException);
  } catch (const StructuredException& error) {
    code = error.Code();
  }
  EXPECT_EQ(code, platform::kHostLanguageExceptionCode) << "the exception still arrives";
  EXPECT_EQ(gObserved.Calls, 1);
  EXPECT_EQ(gObserved.Code, platform::kHostLanguageExceptionCode);
  EXPECT_EQ(gObserved.Line, guardLine);
  EXPECT_EQ(gObserved.Function, "TestBody") << "the function that holds the guard";
  CallGuarded([] { return 1; });
  EXPECT_THROW(CallGuarded([] { throw std::runtime_error("C++"); }), std::runtime_error);
  EXPECT_EQ(gObserved.Calls, 1) << "neither a plain return nor a C++ exception is reported";
  // Nested guards: the inner one catches and reports; the outer one sees a C++ exception.
  uint32_t innerLine = 0;
  try {
    CallGuarded([&] {
      innerLine = __LINE__ + 1;
      CallGuarded(&WriteThroughNull);
    });
  } catch (const StructuredException&) {
  }
  EXPECT_EQ(gObserved.Calls, 2);
  EXPECT_EQ(gObserved.Code, platform::kAccessViolationCode);
  EXPECT_EQ(gObserved.Line, innerLine);
  platform::SetStructuredExceptionObserver(nullptr);
  CaptureStructured(&RaiseHostLanguageException);
  EXPECT_EQ(gObserved.Calls, 2);
}

TEST(StructuredExceptionGuard, GuardsOnAnotherThread) {
  uint32_t code = 0;
  bool carriedOn = false;
  {
    platform::Thread worker([&] {
      for (int round = 0; round < 20; ++round) {
        try {
          CallGuarded(&RaiseHostLanguageException);
        } catch (const StructuredException& error) {
          code = error.Code();
        }
      }
      carriedOn = CallGuarded([] { return true; });
    });
  }
  EXPECT_EQ(code, platform::kHostLanguageExceptionCode);
  EXPECT_TRUE(carriedOn);
}

#endif

}  // namespace
