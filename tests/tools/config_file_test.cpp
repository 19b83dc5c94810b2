#include "config_file.h"

#include <gtest/gtest.h>

#include "host_messages.h"

namespace vestrel_host {
namespace {

// "Касса" in windows-1251 and in UTF-8.
const std::string kKassa1251 = "\xCA\xE0\xF1\xF1\xE0";
const std::string kKassaUtf8 = "Касса";

class ConfigurationFile : public ::testing::Test {
protected:
  void SetUp() override { UseRussian(false); }
  bool Decode(const std::string& bytes) { return DecodeConfigurationBytes("c.xml", bytes, File, Error); }
  ConfigurationText File;
  std::string Error;
};

TEST_F(ConfigurationFile, IsDecodedAsTheMarkOrTheDeclarationSays) {
  const std::string body = "<Система><Устройство Наименование=\"" + kKassaUtf8 + "\"/></Система>";
  const OleText expected = Utf16FromUtf8(body);

  ASSERT_TRUE(Decode("<?xml version=\"1.0\" encoding=\"windows-1251\"?><\xD1\xE8\xF1\xF2\xE5\xEC\xE0><\xD3\xF1\xF2\xF0\xEE\xE9\xF1\xF2\xE2\xEE "
                     "\xCD\xE0\xE8\xEC\xE5\xED\xEE\xE2\xE0\xED\xE8\xE5=\"" + kKassa1251 + "\"/></\xD1\xE8\xF1\xF2\xE5\xEC\xE0>")) << Error;
  EXPECT_EQ(File.Encoding.Name, "windows-1251");
  EXPECT_EQ(File.Text.substr(XmlDeclaration(File.Text).size()), expected);

  // No declaration and bytes that are not UTF-8: what a Russian Windows editor saves.
  ASSERT_TRUE(Decode("<a n=\"" + kKassa1251 + "\"/>")) << Error;
  EXPECT_EQ(File.Encoding.CodePage, 1251u);
  EXPECT_EQ(File.Text, Utf16FromUtf8("<a n=\"" + kKassaUtf8 + "\"/>"));

  ASSERT_TRUE(Decode("\xEF\xBB\xBF" + body)) << Error;
  EXPECT_TRUE(File.Encoding.ByteOrderMark);
  EXPECT_EQ(File.Text, expected);

  std::string utf16 = "\xFF\xFE";
  for (OLECHAR unit : expected) utf16 += std::string{static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
  ASSERT_TRUE(Decode(utf16)) << Error;
  EXPECT_EQ(File.Encoding.Kind, TextEncoding::Utf16LE);
  EXPECT_EQ(File.Text, expected);
  EXPECT_FALSE(Decode(utf16 + "x")) << "half a character at the end";
}

TEST_F(ConfigurationFile, IsRefusedWithTheLineAndColumnOfWhatIsWrong) {
  EXPECT_FALSE(Decode("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a>\n  <b n=\"" + kKassa1251 + "\"/></a>"));
  EXPECT_EQ(Error.substr(0, 12), "c.xml:3:9: t") << Error;  // the first byte that is not UTF-8
  EXPECT_FALSE(Decode("<?xml version=\"1.0\" encoding=\"EBCDIC\"?><a/>"));
  EXPECT_NE(Error.find("c.xml:1:31: the encoding \"EBCDIC\" is not supported"), std::string::npos) << Error;
  EXPECT_FALSE(Decode(""));
  EXPECT_EQ(Error, "c.xml: the configuration file is empty");
  EXPECT_FALSE(Decode(" \r\n\t"));
  EXPECT_EQ(Error, "c.xml: the configuration file is empty");
  EXPECT_FALSE(Decode("<a>\r\n<b></a>"));
  EXPECT_EQ(Error, "c.xml:2:4: the end tag </a> does not match <b>, opened at line 2");
}

TEST_F(ConfigurationFile, LongerThanThePluginTakesIsRefusedWithThePluginsLimit) {
  const std::string within = "<a>" + std::string(kMaxConfigurationCharacters - 7, ' ') + "</a>";
  EXPECT_TRUE(Decode(within)) << Error;
  EXPECT_FALSE(Decode(within + " "));
  EXPECT_EQ(Error, "c.xml: the configuration file is too large: the plug-in takes at most 8388608 characters");
}

TEST_F(ConfigurationFile, IsWrittenBackInItsOwnEncoding) {
  const OleText text = Utf16FromUtf8("<a n=\"" + kKassaUtf8 + "\"/>");
  std::string bytes;
  ASSERT_TRUE(EncodeConfigurationText(text, {TextEncoding::SingleByte, 1251, false, "windows-1251"}, bytes));
  EXPECT_EQ(bytes, "<a n=\"" + kKassa1251 + "\"/>");
  EXPECT_FALSE(EncodeConfigurationText(Utf16FromUtf8("<a n=\"日本\"/>"), {TextEncoding::SingleByte, 1251, false, "windows-1251"}, bytes))
      << "a character windows-1251 lacks is not written as '?'";
  ASSERT_TRUE(EncodeConfigurationText(Utf16FromUtf8("<a/>"), {TextEncoding::Utf16BE, 0, true, "UTF-16BE"}, bytes));
  EXPECT_EQ(bytes, std::string("\xFE\xFF\0<\0a\0/\0>", 10));
}

TEST(TextForPlugin, GetsTheLegacyNamesWithoutDeclarationOrCrLf) {
  const OleText text = Utf16FromUtf8(
      "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<ТочкиДоступа><ТочкаДоступа Значение=\"1\" "
      "ЗначениеПоУмолчанию=\"2\"/></ТочкиДоступа>\nЗначение=");
  EXPECT_EQ(Utf8FromUtf16(TextForPlugin(text)),
            "<То4киДоступа><То4каДоступа Зна4ение=\"1\" Зна4ениеПоУмол4анию=\"2\"/></То4киДоступа>\nЗначение=");
}

}  // namespace
}  // namespace vestrel_host
