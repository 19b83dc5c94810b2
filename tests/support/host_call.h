#pragma once
// A call as a host builds it, in memory the host owns: a zero-filled block (TParams{}), the
// member name as a host string, and an argument record laid out as an automation caller lays
// it out: parameter i is a VT_BYREF|VT_VARIANT reference to the host's own variant Value(i),
// the record's elements in reverse order. The destructor frees what a host frees: its own
// variants and the block's error texts.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ole_ptr.h"
#include "vestrel/plugin_abi.h"

namespace test_support {

class THostCall {
public:
  // Parameter 0 the result (empty), 1 the member name, 2 the kind, then the arguments.
  THostCall(std::string_view utf8Name, int32_t kind, std::vector<OleVariant> arguments = {});
  ~THostCall();
  THostCall(const THostCall&) = delete;
  THostCall& operator=(const THostCall&) = delete;

  TParams& Block() { return FBlock; }
  DISPPARAMS& Record() { return FRecord; }
  // The host's variant behind parameter index, and the record element (the reference) for it.
  VARIANT& Value(int32_t index) { return FValues.at(static_cast<size_t>(index)); }
  VARIANT& Element(int32_t index) { return FElements.at(FElements.size() - 1 - static_cast<size_t>(index)); }

  // Runs the block through the exception-safe call entry; the entry's result.
  bool Run(IUnknown* context = nullptr);

  std::string ErrorText() const;
  // The error source when it is a text value of the block's own, else "<type N>".
  std::string ErrorSource() const;
  // The host's variant of parameter index as an integer (-1 unless VT_I4) and as text.
  int32_t IntValue(int32_t index) const;
  std::string TextValue(int32_t index) const;

private:
  vestrel::HostString FName;
  std::vector<VARIANT> FValues;
  std::vector<VARIANT> FElements;
  DISPPARAMS FRecord{};
  TParams FBlock{};
};

// An object of the host's whose references the test counts.
struct TCountedHostObject : IUnknown {
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++References); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--References); }
  int References = 1;
};

// Runs body on a thread of its own and waits at most `seconds` for it. A body that has not
// ended by then fails the test program at once (it may still be using the test's memory).
void EndsWithin(int seconds, const std::function<void()>& body);

}  // namespace test_support
