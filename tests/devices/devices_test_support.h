#pragma once
// Shared by the device manager tests: text helpers, a device whose dialog and opening the
// tests steer, and a fixture that prepares COM.

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "config/late_bound.h"
#include "config/vocabulary.h"
#include "config/xml_access.h"
#include "devices/device_item.h"
#include "devices/devices_list.h"
#include "platform/text_codec.h"

inline WideString W(const char* utf8) { return WideFromUtf8(utf8); }
inline AnsiString A(const char* utf8) { return AnsiFromUtf8(utf8); }
inline std::string U(const AnsiString& text) { return Utf8FromAnsi(text); }
inline std::string U(WideStringView text) { return Utf8FromWide(text); }
inline OleVariant Text(const char* utf8) { return OleVariant(W(utf8)); }
// The DOM's XML text without the indentation that some DOMs put between elements (a line
// end and tabs between one tag and the next); the line end after the header stays.
inline std::string XmlOf(const VARIANT& node) {
  const std::string xml = U(VariantText(GetProperty(node, "xml")));
  std::string compact;
  for (size_t i = 0; i < xml.size(); ++i) {
    if (xml.compare(i, 2, "\r\n") == 0 && i >= 2 && xml[i - 1] == '>' && xml[i - 2] != '?') {
      size_t next = i + 2;
      while (next < xml.size() && xml[next] == '\t') ++next;
      if (next < xml.size() && xml[next] == '<') {
        i = next - 1;
        continue;
      }
    }
    compact += xml[i];
  }
  return compact;
}

// A device whose settings dialog answers SettingsResult and whose opening answers OpenResult
// (a failed opening stores OpenError, as a real device stores its own code).
class TTestDevice : public TDeviceItem {
public:
  using TDeviceItem::TDeviceItem;
  static inline int32_t SettingsResult = 0;
  static inline bool OpenResult = true;
  static inline int32_t OpenError = DEVICE_READER_MISSING;
  static inline int OpenCalls = 0;

  int32_t ShowSettings() override { return SettingsResult; }
  bool Open() override {
    ++OpenCalls;
    if (!OpenResult) SetErrorCode(OpenError);
    return OpenResult;
  }

protected:
  ~TTestDevice() override = default;
};

class TTestDevicesList : public TDevicesList {
public:
  TTestDevicesList() : TDevicesList(ItemClassOf<TTestDevice>()) {}
};

class DevicesTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { CoInitialize(nullptr); }
  void SetUp() override {
    TTestDevice::SettingsResult = 0;
    TTestDevice::OpenResult = true;
    TTestDevice::OpenCalls = 0;
  }
};

// The coded error a call raises: its code, and its message in UTF-8 through Message.
inline int32_t ErrorCodeOf(const std::function<void()>& call, std::string* Message = nullptr) {
  try {
    call();
  } catch (const EProtectException& error) {
    if (Message) *Message = U(error.Message());
    return error.Code;
  }
  return 0;
}
