#include "support/host_call.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

#include "host/wire/params.h"
#include "platform/text_codec.h"

namespace test_support {

THostCall::THostCall(std::string_view utf8Name, int32_t kind, std::vector<OleVariant> arguments)
    : FName(AnsiFromUtf8(utf8Name).c_str()) {
  std::vector<OleVariant> values;
  values.emplace_back();
  values.emplace_back(WideFromUtf8(utf8Name));
  values.emplace_back(kind);
  for (OleVariant& argument : arguments) values.push_back(std::move(argument));
  FValues.resize(values.size());
  FElements.resize(values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    FValues[i] = values[i].Detach();
    VARIANT& reference = FElements[values.size() - 1 - i];
    VariantInit(&reference);
    V_VT(&reference) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&reference) = &FValues[i];
  }
  FRecord.rgvarg = FElements.data();
  FRecord.cArgs = static_cast<UINT>(FElements.size());
  FBlock.Name = FName.Get();
  FBlock.Args = &FRecord;
}

THostCall::~THostCall() {
  for (VARIANT& value : FValues) VariantClear(&value);
  VariantClear(&FBlock.ErrorText);
  VariantClear(&FBlock.ErrorSource);
}

bool THostCall::Run(IUnknown* context) { return SafeCallEntry(&FBlock, context) != FALSE; }

namespace {
std::string TextOf(const VARIANT& value) {
  if (V_VT(&value) != VT_BSTR || V_BSTR(&value) == nullptr) return {};
  return Utf8FromWide(WideStringView(V_BSTR(&value), SysStringLen(V_BSTR(&value))));
}
}  // namespace

std::string THostCall::ErrorText() const { return TextOf(FBlock.ErrorText); }

std::string THostCall::ErrorSource() const {
  if (V_VT(&FBlock.ErrorSource) != VT_BSTR) return "<type " + std::to_string(V_VT(&FBlock.ErrorSource)) + ">";
  return TextOf(FBlock.ErrorSource);
}

int32_t THostCall::IntValue(int32_t index) const {
  const VARIANT& value = FValues.at(static_cast<size_t>(index));
  return V_VT(&value) == VT_I4 ? V_I4(&value) : -1;
}

std::string THostCall::TextValue(int32_t index) const { return TextOf(FValues.at(static_cast<size_t>(index))); }

HRESULT STDMETHODCALLTYPE TCountedHostObject::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualIID(iid, IID_IUnknown)) return E_NOINTERFACE;
  *object = this;
  AddRef();
  return S_OK;
}

void EndsWithin(int seconds, const std::function<void()>& body) {
  std::packaged_task<void()> task(body);
  std::future<void> ended = task.get_future();
  std::thread runner(std::move(task));
  if (ended.wait_for(std::chrono::seconds(seconds)) != std::future_status::ready) {
    std::fprintf(stderr, "FAILED: the call did not end within %d s\n", seconds);
    std::fflush(stderr);
    std::_Exit(1);
  }
  runner.join();
  ended.get();
}

}  // namespace test_support
