#include "xml_check.h"

#include <gtest/gtest.h>

#include "host_messages.h"

namespace vestrel_host {
namespace {

std::string Problem(const std::string& utf8) {
  UseRussian(false);
  const std::optional<XmlProblem> problem = CheckWellFormed(Utf16FromUtf8(utf8));
  if (!problem) return "well-formed";
  return std::to_string(problem->Line) + ":" + std::to_string(problem->Column) + ": " + problem->Message;
}

TEST(XmlCheck, AcceptsWhatXmlAllows) {
  for (const char* text : {
           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!-- c --><Система a='1' b=\"&lt;&#x41;&#1040;\"/>\n",
           "<a><![CDATA[<not a tag> & ]]><?pi data?><b/>текст &amp; &quot;x&apos;</a>",
           "<Устройство Код=\"{7D1E}\"><Параметр Идентификатор=\"𝔘\"/></Устройство>",
       })
    EXPECT_EQ(Problem(text), "well-formed") << text;
}

TEST(XmlCheck, SaysWhereAndWhatIsWrong) {
  const struct {
    const char* Text;
    const char* Expected;
  } cases[] = {
      {"", "1:1: the file holds no XML document (no element)"},
      {"<a>\n</b>", "2:1: the end tag </b> does not match <a>, opened at line 1"},
      {"<a>\r\n<b>", "2:4: the file ends before <b> (opened at line 2) is closed"},
      {"<a x=1/>", "1:6: the value of the attribute x must stand in quotes"},
      {"<a x='1' x='2'/>", "1:10: the attribute x appears twice"},
      {"<a x='<'/>", "1:7: \"<\" is not allowed in the value of the attribute x (write &lt;)"},
      {"<a>&nbsp;</a>", "1:4: the reference &nbsp; is not defined (write the sign & as &amp;)"},
      {"<a>R&D</a>", "1:5: \"&\" must begin a reference such as &amp; (write the sign itself as &amp;)"},
      {"<a>&#0;</a>", "1:4: \"&\" must begin a reference such as &amp; (write the sign itself as &amp;)"},
      {"<a/>x", "1:5: text outside the root element"},
      {"<a/><b/>", "1:5: a second root element <b>: a document has one"},
      {"<a><!-- x -- y --></a>", "1:11: \"--\" is not allowed inside a comment"},
      {"<!DOCTYPE a [<!ENTITY e 'x'>]><a/>", "1:1: a document type declaration (<!DOCTYPE) is not accepted in a configuration"},
      {"<a>\x01</a>", "1:4: the character U+0001 is not allowed in XML"},
      {" <?xml version='1.0'?><a/>", "1:2: the declaration <?xml ...?> must stand at the very start of the file"},
      {"<Система><Устройство Код=", "1:26: the value of the attribute Код must stand in quotes"},
      {"<a b", "1:1: the tag <a> is not finished"},
      {"<a>]]></a>", "1:4: \"]]>\" is not allowed in text"},
  };
  for (const auto& test : cases) EXPECT_EQ(Problem(test.Text), test.Expected) << test.Text;
}

TEST(XmlCheck, NestingCostsNoStack) {
  const size_t depth = 200000;
  std::string deep;
  for (size_t i = 0; i < depth; ++i) deep += "<a>";
  for (size_t i = 0; i < depth; ++i) deep += "</a>";
  EXPECT_EQ(Problem(deep), "well-formed");
}

TEST(Messages, HaveTheSamePlaceholdersInBothLanguages) {
  for (int id = 0; id < static_cast<int>(Msg::Count); ++id) {
    std::string seen[2];
    for (int russian = 0; russian < 2; ++russian) {
      UseRussian(russian == 1);
      const std::string text = Say(static_cast<Msg>(id), {"\x01", "\x02", "\x03", "\x04", "\x05", "\x06", "\x07", "\x08", "\x0B"});
      for (char marker = 1; marker <= 11; ++marker) seen[russian] += text.find(marker) != std::string::npos ? '1' : '0';
      EXPECT_EQ(text.find('{'), std::string::npos) << "an unfilled placeholder in text " << id;
    }
    EXPECT_EQ(seen[0], seen[1]) << "text " << id;
  }
  UseRussian(false);
}

}  // namespace
}  // namespace vestrel_host
