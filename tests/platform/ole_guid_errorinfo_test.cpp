// GUID texts, new GUIDs, per-thread error information and apartment initialization results.
#include <gtest/gtest.h>

#include <thread>

#include "platform/ole_automation.h"
#include "platform/ole_ptr.h"

namespace {

OleString::View Text(const OLECHAR* s) { return OleString::View(s); }

TEST(OleGuid, RegistryFormIsUpperCaseWithBraces) {
  OLECHAR text[39];
  EXPECT_EQ(StringFromGUID2(IID_IDispatch, text, 39), 39);
  EXPECT_EQ(Text(text), Text(OLESTR("{00020400-0000-0000-C000-000000000046}")));
  const GUID sample = {0xC71ED758, 0x08C7, 0x4ACB, {0x94, 0x97, 0x12, 0x0F, 0xDB, 0xCF, 0xDD, 0x21}};
  EXPECT_EQ(StringFromGUID2(sample, text, 39), 39);
  EXPECT_EQ(Text(text), Text(OLESTR("{C71ED758-08C7-4ACB-9497-120FDBCFDD21}")));
  OLECHAR tooShort[38];
  EXPECT_EQ(StringFromGUID2(sample, tooShort, 38), 0);
}

TEST(OleGuid, TextRoundTripAcceptsEitherCase) {
  const GUID sample = {0x4F739246, 0x8166, 0x4CE3, {0x89, 0x77, 0x8C, 0xA2, 0xE7, 0xD3, 0x6E, 0x62}};
  CLSID parsed;
  ASSERT_EQ(CLSIDFromString(OLESTR("{4f739246-8166-4ce3-8977-8ca2e7d36e62}"), &parsed), S_OK);
  EXPECT_TRUE(parsed == sample);
  OLECHAR text[39];
  ASSERT_EQ(StringFromGUID2(parsed, text, 39), 39);
  ASSERT_EQ(CLSIDFromString(text, &parsed), S_OK);
  EXPECT_TRUE(IsEqualGUID(parsed, sample));
}

TEST(OleGuid, MalformedTextsAreRefused) {
  const OLECHAR* bad[] = {
      OLESTR("{4F739246-8166-4CE3-8977-8CA2E7D36E6}"),    // one digit short
      OLESTR("{4F739246-8166-4CE3-8977-8CA2E7D36E62"),    // no closing brace
      OLESTR("{4F739246-8166-4CE3-8977-8CA2E7D36E62}x"),  // trailing text
      OLESTR("{4F739246+8166-4CE3-8977-8CA2E7D36E62}"),   // wrong separator
      OLESTR("{4F73924G-8166-4CE3-8977-8CA2E7D36E62}"),   // not hexadecimal
      OLESTR("{4F739246-8166-4CE3-89778CA2E7D36E62}"),    // missing group separator
  };
  for (const OLECHAR* text : bad) {
    CLSID parsed;
    EXPECT_EQ(CLSIDFromString(text, &parsed), CO_E_CLASSSTRING);
  }
  // Without braces the text is taken for a program id, which is unknown.
  CLSID parsed;
  EXPECT_EQ(CLSIDFromString(OLESTR("4F739246-8166-4CE3-8977-8CA2E7D36E62"), &parsed), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(OLESTR("Vestrel.NoSuchClass"), &parsed), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromString(OLESTR(""), &parsed), CO_E_CLASSSTRING);
  parsed = IID_IDispatch;
  EXPECT_EQ(CLSIDFromString(nullptr, &parsed), S_OK);
  EXPECT_TRUE(parsed == GUID_NULL);
}

TEST(OleGuid, NewGuidsAreRandomVersionFour) {
  GUID a, b;
  ASSERT_EQ(CoCreateGuid(&a), S_OK);
  ASSERT_EQ(CoCreateGuid(&b), S_OK);
  EXPECT_FALSE(a == b);
  EXPECT_EQ(a.Data3 >> 12, 4);
  EXPECT_EQ(a.Data4[0] & 0xC0, 0x80);
  EXPECT_EQ(b.Data3 >> 12, 4);
}

TEST(OleErrorInfo, SetThenGetOncePerThread) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  ComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(CreateErrorInfo(create.Put()), S_OK);
  const GUID source = {0xC71ED758, 0x08C7, 0x4ACB, {0x94, 0x97, 0x12, 0x0F, 0xDB, 0xCF, 0xDD, 0x21}};
  OLECHAR sourceText[] = OLESTR("Vestrel.SafeArray");
  OLECHAR description[] = OLESTR("Неверный индекс");
  EXPECT_EQ(create->SetGUID(source), S_OK);
  EXPECT_EQ(create->SetSource(sourceText), S_OK);
  EXPECT_EQ(create->SetDescription(description), S_OK);
  EXPECT_EQ(create->SetHelpContext(17), S_OK);
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(create.QueryInterface(IID_IErrorInfo, info), S_OK);
  ASSERT_EQ(SetErrorInfo(0, info.Get()), S_OK);

  // Another thread has its own (empty) slot.
  HRESULT elsewhere = E_FAIL;
  std::thread([&elsewhere] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ComPtr<IErrorInfo> other;
    elsewhere = GetErrorInfo(0, other.Put());
    CoUninitialize();
  }).join();
  EXPECT_EQ(elsewhere, S_FALSE);

  ComPtr<IErrorInfo> got;
  ASSERT_EQ(GetErrorInfo(0, got.Put()), S_OK);
  EXPECT_EQ(got.Get(), info.Get());
  OleString text;
  ASSERT_EQ(got->GetDescription(text.Put()), S_OK);
  EXPECT_EQ(text.Text(), OleString::View(OLESTR("Неверный индекс")));
  ASSERT_EQ(got->GetSource(text.Put()), S_OK);
  EXPECT_EQ(text.Text(), OleString::View(OLESTR("Vestrel.SafeArray")));
  GUID guid;
  ASSERT_EQ(got->GetGUID(&guid), S_OK);
  EXPECT_TRUE(guid == source);
  DWORD context = 0;
  ASSERT_EQ(got->GetHelpContext(&context), S_OK);
  EXPECT_EQ(context, 17u);

  // Taking it empties the slot.
  ComPtr<IErrorInfo> again;
  EXPECT_EQ(GetErrorInfo(0, again.Put()), S_FALSE);
  EXPECT_FALSE(again);

  ASSERT_EQ(SetErrorInfo(0, info.Get()), S_OK);
  ASSERT_EQ(SetErrorInfo(0, nullptr), S_OK);  // clears
  EXPECT_EQ(GetErrorInfo(0, again.Put()), S_FALSE);
  CoUninitialize();
}

TEST(OleApartment, InitializationCountsAndModes) {
  std::thread([] {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
  }).join();
}

}  // namespace
