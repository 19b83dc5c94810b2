#include <gtest/gtest.h>

#include "config/vocabulary.h"

namespace {

std::string Convert(const char* utf8, TLegacyDirection direction = TLegacyDirection::ToLegacy) {
  AnsiString text = AnsiFromUtf8(utf8);
  ConvertLegacyNames(text, direction);
  return Utf8FromAnsi(text);
}

TEST(Vocabulary, EveryEntryCarriesItsPosition) {
  for (size_t i = 0; i < NodeNameTable.size(); ++i) EXPECT_EQ(NodeNameTable[i].Index, static_cast<int32_t>(i));
  for (size_t i = 0; i < AttrNameTable.size(); ++i) EXPECT_EQ(AttrNameTable[i].Index, static_cast<int32_t>(100 + i));
}

TEST(Vocabulary, NamesThatCallersRelyOn) {
  auto name = [](const TTagItem& item) { return Utf8FromWide(item.Name); };
  EXPECT_EQ(name(NodeNameTable[NODE_AP_LIST]), "То4киДоступа");
  EXPECT_EQ(name(NodeNameTable[NODE_AP_ITEM]), "То4каДоступа");
  EXPECT_EQ(name(NodeNameTable[PATH_OWN_PARAMS]), "./Параметры/Параметр");
  EXPECT_EQ(name(NodeNameTable[PATH_ANY_MODEL]), "//Модель");
  EXPECT_EQ(name(NodeNameTable[PATH_FILTERED_MODELS]), "/Система/КлассыОборудования/КлассОборудования%s/Модель");
  EXPECT_EQ(name(NodeNameTable[PATH_FILTERED_AP_ITEMS]), "/Система/Решения/Решение%s/То4киДоступа/То4каДоступа");
  EXPECT_EQ(name(NodeNameTable[PATH_AUTHOR]), "/Система/Author");
  EXPECT_EQ(name(AttrNameTable[ATTR_VALUE - 100]), "Зна4ение");
  EXPECT_EQ(name(AttrNameTable[ATTR_READ_ONLY - 100]), "ФлагТолько4тение");
  EXPECT_EQ(name(AttrNameTable[ATTR_DEFAULT - 100]), "Зна4ениеПоУмол4анию");
  EXPECT_EQ(name(AttrNameTable[ATTR_AP_ID - 100]), "КодТо4киДоступа");
  EXPECT_EQ(name(AttrNameTable[ATTR_UNUSED - 100]), "");
  EXPECT_EQ(name(AttrNameTable[ATTR_PARENT_IDENTIF - 100]), "-");
  EXPECT_EQ(name(AttrNameTable[ATTR_PARENT_ID - 100]), "-");
  EXPECT_EQ(name(AttrNameTable[ATTR_PREFERENCE - 100]), "Preference");
  EXPECT_EQ(Utf8FromWide(AttrNameTable[ATTR_USE_QUEN - 100].Alias), "UseQuen");
}

TEST(LegacyNames, AccessPointListWithValueConvertsEveryName) {
  EXPECT_EQ(Convert("<ТочкиДоступа><ТочкаДоступа Значение=\"1\"/></ТочкиДоступа>"),
            "<То4киДоступа><То4каДоступа Зна4ение=\"1\"/></То4киДоступа>");
  EXPECT_EQ(Convert("<ТочкиДоступа>\r\n<ТочкаДоступа КодТочкиДоступа=\"{X}\"/>\r\n</ТочкиДоступа>"),
            "<То4киДоступа>\r\n<То4каДоступа КодТо4киДоступа=\"{X}\"/>\r\n</То4киДоступа>");
}

TEST(LegacyNames, ParameterAttributesConvertInOrder) {
  EXPECT_EQ(Convert("<Параметр ФлагТолькоЧтение=\"0\" ЗначениеПоУмолчанию=\"2\" Значение=\"3\"/>"),
            "<Параметр ФлагТолько4тение=\"0\" Зна4ениеПоУмол4анию=\"2\" Зна4ение=\"3\"/>");
  EXPECT_EQ(Convert("<Параметр ФлагТолько4тение=\"0\" Зна4ениеПоУмол4анию=\"2\" Зна4ение=\"3\"/>",
                    TLegacyDirection::ToStandard),
            "<Параметр ФлагТолькоЧтение=\"0\" ЗначениеПоУмолчанию=\"2\" Значение=\"3\"/>");
}

TEST(LegacyNames, OnlyDelimitedExactPatternsConvert) {
  // No blank before the attribute name: not an attribute inside a tag.
  EXPECT_EQ(Convert("Значение=\"1\""), "Значение=\"1\"");
  // Cyrillic letters are matched exactly, so another case is not the pattern.
  EXPECT_EQ(Convert("<точкидоступа></точкидоступа>"), "<точкидоступа></точкидоступа>");
  // Without the delimiters the words stay.
  EXPECT_EQ(Convert("<Описание>Значение ТочкаДоступа</Описание>"), "<Описание>Значение ТочкаДоступа</Описание>");
}

TEST(LegacyNames, LegacyTextIsUnchangedAndTheConversionRoundTrips) {
  const char* legacy = "<То4киДоступа><То4каДоступа Зна4ение=\"1\" КодТо4киДоступа=\"\"/></То4киДоступа>";
  EXPECT_EQ(Convert(legacy), legacy);
  EXPECT_EQ(Convert(Convert(legacy, TLegacyDirection::ToStandard).c_str()), legacy);
}

TEST(LegacyNames, CharactersOutsideTheCodePageAreLost) {
  // The conversion works on the 8-bit form: what the code page cannot hold is gone.
  EXPECT_EQ(Convert("<Модель Наименование=\"中\" Значение=\"1\"/>"), "<Модель Наименование=\"?\" Зна4ение=\"1\"/>");
}

}  // namespace
