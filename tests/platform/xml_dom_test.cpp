// The XML DOM objects as the plug-in reaches them: by program id and member name. The same
// expectations hold for MSXML (win64 lane, Wine's msxml3) and for our DOM over libxml2.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "config/late_bound.h"
#include "platform/xml_dom.h"
#include "platform/process_info.h"

namespace {

std::string Utf8(const VARIANT& v) {
  EXPECT_EQ(v.vt, VT_BSTR);
  if (v.vt != VT_BSTR) return {};
  return Utf8FromWide(WideStringView(v.bstrVal ? v.bstrVal : OLESTR(""), SysStringLen(v.bstrVal)));
}

OleVariant Text(const char* utf8) { return OleVariant(WideFromUtf8(utf8)); }

class XmlDom : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    CoInitialize(nullptr);
    platform::EnsureXmlDomClasses();
  }

  static OleVariant NewDocument(const char* progId = "Msxml2.DOMDocument") {
    OleVariant doc = CreateOleObject(WideFromUtf8(progId));
    CallMethod(doc, "setProperty", {Text("SelectionLanguage"), Text("XPath")});
    return doc;
  }
  static OleVariant Load(const char* xml) {
    OleVariant doc = NewDocument();
    EXPECT_EQ(CallMethod(doc, "loadXML", {Text(xml)}).boolVal, VARIANT_TRUE) << xml;
    return doc;
  }
  static std::string XmlOf(const VARIANT& node) { return Utf8(GetProperty(node, "xml")); }
  static LONG Count(const VARIANT& list) { return GetProperty(list, "length").lVal; }
  static LONG CountSelected(const VARIANT& node, const char* path) {
    return Count(CallMethod(node, "selectNodes", {Text(path)}));
  }
  static HRESULT FailureOf(const std::function<void()>& call) {
    try {
      call();
    } catch (const EOleException& e) {
      return e.ErrorCode;
    }
    return S_OK;
  }
};

TEST_F(XmlDom, BothProgramIdsCreateAnEmptyDocument) {
  for (const char* progId : {"Msxml2.DOMDocument", "MSXML.DOMDocument", "msxml2.domdocument"}) {
    OleVariant doc = NewDocument(progId);
    EXPECT_EQ(Utf8(GetProperty(doc, "nodeName")), "#document") << progId;
    EXPECT_EQ(XmlOf(doc), "") << progId;
    OleVariant root = GetProperty(doc, "documentElement");
    EXPECT_EQ(root.vt, VT_DISPATCH);
    EXPECT_FALSE(HasObject(root));
  }
}

TEST_F(XmlDom, InstructionInsertedBeforeTheRootComesFirst) {
  OleVariant doc = NewDocument();
  OleVariant instruction =
      CallMethod(doc, "createProcessingInstruction", {Text("xml"), Text("version=\"1.0\" encoding=\"UTF-16\"")});
  EXPECT_EQ(XmlOf(instruction), "<?xml version=\"1.0\" encoding=\"UTF-16\"?>");
  EXPECT_EQ(Utf8(GetProperty(instruction, "nodeName")), "xml");
  // Without a root, inserting before the missing root appends.
  CallMethod(doc, "insertBefore", {instruction, GetProperty(doc, "documentElement")});
  EXPECT_EQ(XmlOf(doc), "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n");

  doc = NewDocument();
  SetProperty(doc, "documentElement", CallMethod(doc, "CreateElement", {Text("Модель")}));
  CallMethod(doc, "insertBefore", {instruction = CallMethod(doc, "createProcessingInstruction",
                                                            {Text("xml"), Text("version=\"1.0\" encoding=\"UTF-16\"")}),
                                   GetProperty(doc, "documentElement")});
  SetProperty(doc, "Async", OleVariant(false));
  EXPECT_EQ(XmlOf(doc), "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Модель/>\r\n");
  EXPECT_EQ(GetProperty(doc, "async").boolVal, VARIANT_FALSE);
}

TEST_F(XmlDom, XmlTextOfBuiltDocumentAndElement) {
  OleVariant doc = NewDocument();
  OleVariant root = CallMethod(doc, "createElement", {Text("Root")});
  SetProperty(doc, "documentElement", root);
  OleVariant list = CallMethod(doc, "createElement", {Text("List")});
  CallMethod(root, "appendChild", {list});
  OleVariant item = CallMethod(doc, "createElement", {Text("Item")});
  CallMethod(item, "setAttribute", {Text("Id"), Text("a\"b&c<d>e'f")});
  CallMethod(item, "setAttribute", {Text("Lines"), Text("x\r\ny\tz")});
  CallMethod(list, "appendChild", {item});
  OleVariant mixed = CallMethod(doc, "createElement", {Text("Mixed")});
  CallMethod(mixed, "appendChild", {CallMethod(doc, "createTextNode", {Text("t<&>\"")})});
  CallMethod(list, "appendChild", {mixed});

  const std::string element =
      "<Root>\r\n\t<List>\r\n\t\t<Item Id=\"a&quot;b&amp;c&lt;d&gt;e'f\" Lines=\"x&#13;&#10;y&#9;z\"/>"
      "\r\n\t\t<Mixed>t&lt;&amp;&gt;\"</Mixed>\r\n\t</List>\r\n</Root>";
  EXPECT_EQ(XmlOf(root), element);
  EXPECT_EQ(XmlOf(doc), element + "\r\n");
  EXPECT_EQ(XmlOf(item), "<Item Id=\"a&quot;b&amp;c&lt;d&gt;e'f\" Lines=\"x&#13;&#10;y&#9;z\"/>");
}

TEST_F(XmlDom, LoadingDropsWhitespaceOnlyTextAndKeepsTheDeclaration) {
  OleVariant doc = Load("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<a x='1'>\r\n  <b>  t  </b>\r\n  <c/>\r\n"
                        "<!-- k -->\r\n</a>\r\n");
  EXPECT_EQ(XmlOf(doc), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<a x=\"1\">\r\n\t<b>  t  </b>\r\n\t<c/>\r\n"
                        "\t<!-- k -->\r\n</a>\r\n");
  EXPECT_EQ(Utf8(GetProperty(GetProperty(doc, "firstChild"), "nodeName")), "xml");
  // A declaration naming UTF-16 inside a string that is UTF-16 already loads as it is.
  doc = Load("<?xml version=\"1.0\" encoding=\"UTF-16\"?><Система Имя=\"Ёлка\">Текст</Система>");
  EXPECT_EQ(XmlOf(doc), "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Система Имя=\"Ёлка\">Текст</Система>\r\n");
  doc = Load("<a><b/>txt</a>");
  EXPECT_EQ(XmlOf(doc), "<a><b/>txt</a>\r\n");
  EXPECT_EQ(Utf8(GetProperty(doc, "text")), "txt");
}

TEST_F(XmlDom, TextThatIsNotXmlLoadsNothing) {
  OleVariant doc = Load("<a/>");
  for (const char* bad : {"not xml", "", "<a><b></a>", "<a/><b/>"}) {
    EXPECT_EQ(CallMethod(doc, "loadXML", {Text(bad)}).boolVal, VARIANT_FALSE) << bad;
    EXPECT_FALSE(HasObject(GetProperty(doc, "documentElement"))) << bad;
    EXPECT_EQ(XmlOf(doc), "") << bad;
  }
  EXPECT_EQ(CallMethod(doc, "loadXML", {OleVariant(5)}).boolVal, VARIANT_FALSE);
}

TEST_F(XmlDom, AttributesAbsentEmptyAndConverted) {
  OleVariant doc = Load("<a e=\"\" v=\"1\"/>");
  OleVariant root = GetProperty(doc, "documentElement");
  EXPECT_EQ(CallMethod(root, "getAttribute", {Text("missing")}).vt, VT_NULL);
  EXPECT_EQ(Utf8(CallMethod(root, "GetAttribute", {Text("e")})), "");
  EXPECT_EQ(Utf8(CallMethod(root, "getAttribute", {Text("v")})), "1");
  CallMethod(root, "setAttribute", {Text("i"), OleVariant(42)});
  CallMethod(root, "setAttribute", {Text("t"), OleVariant(true)});
  CallMethod(root, "setAttribute", {Text("f"), OleVariant(false)});
  CallMethod(root, "setAttribute", {Text("v"), Text("2")});
  EXPECT_EQ(XmlOf(root), "<a e=\"\" v=\"2\" i=\"42\" t=\"-1\" f=\"0\"/>");
  EXPECT_EQ(FailureOf([&] { CallMethod(root, "setAttribute", {Text("n"), OleVariant::Null()}); }), DISP_E_TYPEMISMATCH);
}

TEST_F(XmlDom, MemberNamesMatchInAnyCase) {
  OleVariant doc = NewDocument();
  EXPECT_EQ(CallMethod(doc, "LOADXML", {Text("<a><b/></a>")}).boolVal, VARIANT_TRUE);
  OleVariant root = GetProperty(doc, "DocumentElement");
  EXPECT_EQ(Utf8(GetProperty(root, "NODENAME")), "a");
  OleVariant list = CallMethod(root, "SelectNodes", {Text("b")});
  EXPECT_EQ(GetProperty(list, "Length").lVal, 1);
  EXPECT_EQ(Utf8(GetProperty(CallMethod(list, "Item", {OleVariant(0)}), "nodeName")), "b");
  EXPECT_EQ(FailureOf([&] { CallMethod(doc, "frobnicate"); }), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(FailureOf([&] { CallMethod(doc, "setAttribute", {Text("a"), Text("b")}); }), DISP_E_UNKNOWNNAME);
}

TEST_F(XmlDom, NodeListItemsOutsideTheListAreNoNode) {
  OleVariant doc = Load("<a><b/><b/><c/></a>");
  OleVariant list = CallMethod(doc, "selectNodes", {Text("//b")});
  EXPECT_EQ(Count(list), 2);
  EXPECT_TRUE(HasObject(CallMethod(list, "item", {OleVariant(1)})));
  for (int index : {2, 99, -1}) {
    OleVariant item = CallMethod(list, "item", {OleVariant(index)});
    EXPECT_EQ(item.vt, VT_DISPATCH) << index;
    EXPECT_FALSE(HasObject(item)) << index;
  }
  OleVariant none = CallMethod(doc, "selectSingleNode", {Text("//x")});
  EXPECT_EQ(none.vt, VT_DISPATCH);
  EXPECT_FALSE(HasObject(none));
  EXPECT_EQ(Count(CallMethod(doc, "selectNodes", {Text("//x")})), 0);
}

TEST_F(XmlDom, MalformedXPathFailsWithAnAutomationError) {
  OleVariant doc = Load("<a><b/></a>");
  for (const char* path : {"//b[", "/a/@@", "][", "", "string(/a)", "count(//b)"}) {
    EXPECT_EQ(FailureOf([&] { CallMethod(doc, "selectNodes", {Text(path)}); }), E_FAIL) << path;
    EXPECT_EQ(FailureOf([&] { CallMethod(doc, "selectSingleNode", {Text(path)}); }), E_FAIL) << path;
  }
}

TEST_F(XmlDom, CyrillicPathsAndTranslate) {
  OleVariant doc = Load(
      "<Система><КлассыОборудования><КлассОборудования Идентификатор=\"Сканер\">"
      "<Модель Наименование=\"Ёлка\"/><Модель Наименование=\"ЁЖ\"/></КлассОборудования>"
      "</КлассыОборудования></Система>");
  EXPECT_EQ(CountSelected(doc, "/Система/КлассыОборудования/КлассОборудования/Модель"), 2);
  // The engine fault beneath both DOMs: an absolute path whose first step is non-ASCII fails
  // as soon as the path holds a predicate; with the explicit axis it is accepted.
  EXPECT_EQ(FailureOf([&] { CountSelected(doc, "/Система/КлассыОборудования/КлассОборудования/Модель[@Наименование]"); }),
            E_FAIL);
  EXPECT_EQ(CountSelected(doc, "/child::Система/КлассыОборудования/КлассОборудования/Модель[@Наименование]"), 2);
  EXPECT_EQ(CountSelected(doc, "//Модель[@Наименование='Ёлка']"), 1);
  EXPECT_EQ(CountSelected(doc,
                          "/child::Система/КлассыОборудования/КлассОборудования[(translate(@Идентификатор,\"СКАНЕР\","
                          "\"сканер\")=\"сканер\")]/Модель[(translate(@Наименование,\"ЁЖЛКА\",\"ёжлка\")=\"ёж\")]"),
            1);
  EXPECT_EQ(CountSelected(doc, "//Модель[@Наименование=concat('Ёл',\"ка\")]"), 1);
}

TEST_F(XmlDom, ParentsOwnersAndClonesAcrossDocuments) {
  OleVariant doc = Load("<Устройство Код=\"1\"><Параметры><Параметр/></Параметры></Устройство>");
  OleVariant root = GetProperty(doc, "documentElement");
  EXPECT_EQ(Utf8(GetProperty(GetProperty(root, "parentNode"), "nodeName")), "#document");
  EXPECT_FALSE(HasObject(GetProperty(doc, "parentNode")));
  EXPECT_TRUE(CallMethod(root, "hasChildNodes").boolVal);

  OleVariant copy = CallMethod(root, "cloneNode", {OleVariant(true)});
  EXPECT_FALSE(HasObject(GetProperty(copy, "parentNode")));
  OleVariant list = NewDocument();
  CallMethod(list, "loadXML", {Text("<EquList/>")});
  CallMethod(GetProperty(list, "documentElement"), "appendChild", {copy});
  EXPECT_EQ(XmlOf(list), "<EquList>\r\n\t<Устройство Код=\"1\">\r\n\t\t<Параметры>\r\n\t\t\t<Параметр/>\r\n"
                         "\t\t</Параметры>\r\n\t</Устройство>\r\n</EquList>\r\n");
  EXPECT_EQ(XmlOf(CallMethod(root, "cloneNode", {OleVariant(false)})), "<Устройство Код=\"1\"/>");
}

TEST_F(XmlDom, NodesOutliveTheirDocumentObject) {
  OleVariant element, moved;
  {
    OleVariant doc = Load("<a><b x=\"1\"><c/></b></a>");
    element = CallMethod(doc, "selectSingleNode", {Text("//b")});
    OleVariant other = NewDocument();
    moved = CallMethod(other, "createElement", {Text("m")});
  }
  EXPECT_EQ(XmlOf(element), "<b x=\"1\">\r\n\t<c/>\r\n</b>");
  EXPECT_EQ(Utf8(GetProperty(GetProperty(element, "ownerDocument"), "nodeName")), "#document");
  {
    OleVariant target = Load("<t/>");
    CallMethod(GetProperty(target, "documentElement"), "appendChild", {moved});
    CallMethod(moved, "appendChild", {element});
  }
  // The moved nodes now belong to the second document, which lives on through them.
  EXPECT_EQ(XmlOf(moved), "<m>\r\n\t<b x=\"1\">\r\n\t\t<c/>\r\n\t</b>\r\n</m>");
  EXPECT_EQ(Utf8(GetProperty(GetProperty(moved, "parentNode"), "nodeName")), "t");
}

TEST_F(XmlDom, ReplacingTheRootAndRemovingChildren) {
  OleVariant doc = Load("<r><a/><b/></r>");
  OleVariant old = GetProperty(doc, "documentElement");
  SetProperty(doc, "documentElement", CallMethod(doc, "createElement", {Text("n")}));
  EXPECT_EQ(XmlOf(doc), "<n/>\r\n");
  OleVariant a = CallMethod(old, "selectSingleNode", {Text("a")});
  CallMethod(old, "removeChild", {a});
  EXPECT_EQ(XmlOf(old), "<r>\r\n\t<b/>\r\n</r>");
  EXPECT_FALSE(HasObject(GetProperty(a, "parentNode")));
}

TEST_F(XmlDom, WalkingChildrenAndAttributeNodes) {
  OleVariant doc = Load("<a x=\"1\" y=\"2\"><b/><c/><d/></a>");
  OleVariant root = GetProperty(doc, "documentElement");
  OleVariant children = GetProperty(root, "childNodes");
  EXPECT_EQ(Count(children), 3);
  EXPECT_EQ(Utf8(GetProperty(GetProperty(root, "firstChild"), "nodeName")), "b");
  EXPECT_EQ(Utf8(GetProperty(GetProperty(root, "lastChild"), "nodeName")), "d");
  std::string walked;
  for (OleVariant node = CallMethod(children, "nextNode"); HasObject(node); node = CallMethod(children, "nextNode"))
    walked += Utf8(GetProperty(node, "nodeName"));
  EXPECT_EQ(walked, "bcd");
  CallMethod(children, "reset");
  EXPECT_EQ(Utf8(GetProperty(CallMethod(children, "nextNode"), "nodeName")), "b");

  OleVariant attribute = CallMethod(doc, "selectSingleNode", {Text("/a/@x")});
  EXPECT_EQ(Utf8(GetProperty(attribute, "nodeName")), "x");
  EXPECT_EQ(Utf8(GetProperty(attribute, "nodeValue")), "1");
  EXPECT_EQ(XmlOf(attribute), "x=\"1\"");
  EXPECT_FALSE(HasObject(GetProperty(attribute, "parentNode")));
  EXPECT_EQ(Count(CallMethod(root, "selectNodes", {Text("@*")})), 2);

  // (Wine's MSXML frees a removed attribute that an object still refers to: remove the other.)
  CallMethod(root, "removeAttribute", {Text("y")});
  EXPECT_EQ(CallMethod(root, "getAttribute", {Text("y")}).vt, VT_NULL);
  CallMethod(root, "replaceChild", {CallMethod(doc, "createElement", {Text("e")}), CallMethod(root, "selectSingleNode", {Text("c")})});
  EXPECT_EQ(XmlOf(root), "<a x=\"1\">\r\n\t<b/>\r\n\t<e/>\r\n\t<d/>\r\n</a>");
  OleVariant b = GetProperty(root, "firstChild");
  SetProperty(b, "text", Text("x & y"));
  EXPECT_EQ(XmlOf(b), "<b>x &amp; y</b>");
  EXPECT_EQ(Utf8(GetProperty(b, "text")), "x & y");
  EXPECT_EQ(GetProperty(b, "nodeType").lVal, 1);
  EXPECT_EQ(GetProperty(doc, "nodeType").lVal, 9);
}

TEST_F(XmlDom, UnknownDocumentPropertyFails) {
  OleVariant doc = NewDocument();
  EXPECT_EQ(FailureOf([&] { CallMethod(doc, "setProperty", {Text("Frobnicate"), Text("x")}); }), E_FAIL);
  EXPECT_EQ(Utf8(CallMethod(doc, "getProperty", {Text("SelectionLanguage")})), "XPath");
}

}  // namespace

TEST_F(XmlDom, PathsThatSelectTheDocumentGiveTheDocument) {
  OleVariant doc = Load("<a><b/></a>");
  for (const char* path : {"/", "/*/..", "/a/b/../.."}) {
    OleVariant list = CallMethod(doc, "selectNodes", {Text(path)});
    ASSERT_EQ(Count(list), 1) << path;
    OleVariant node = CallMethod(list, "item", {OleVariant(0)});
    EXPECT_EQ(Utf8(GetProperty(node, "nodeName")), "#document") << path;
    EXPECT_EQ(GetProperty(node, "nodeType").lVal, 9) << path;
    OleVariant single = CallMethod(doc, "selectSingleNode", {Text(path)});
    EXPECT_EQ(Utf8(GetProperty(GetProperty(single, "documentElement"), "nodeName")), "a") << path;
  }
  // The list keeps a document alive after a reload and after the document object is gone.
  OleVariant list = CallMethod(doc, "selectNodes", {Text("/")});
  CallMethod(doc, "loadXML", {Text("<other/>")});
  doc = OleVariant();
  OleVariant kept = CallMethod(list, "item", {OleVariant(0)});
  EXPECT_EQ(GetProperty(kept, "nodeType").lVal, 9);
  EXPECT_TRUE(HasObject(GetProperty(kept, "documentElement")));
}

#ifndef _WIN32
// Our DOM refuses documents that declare entities (MSXML is kept from them one level up, in
// the configuration's XML access).
TEST_F(XmlDom, DocumentsDeclaringEntitiesAreRefusedWithoutResolvingAnything) {
  const auto secret = std::filesystem::temp_directory_path() / ("vestrel_xml_entity_secret_" + std::to_string(platform::CurrentProcessId()) + ".txt");
  { std::ofstream(secret) << "SECRET"; }
  const std::string secretUrl = "file://" + secret.string();
  const std::string documents[] = {
      "<!DOCTYPE r [<!ENTITY e \"xx\">]><r a=\"&e;&e;\"/>",
      "<!DOCTYPE r [<!ENTITY e SYSTEM \"" + secretUrl + "\">]><r>&e;</r>",
      "<!DOCTYPE r [<!ENTITY e SYSTEM \"http://127.0.0.1:9/x\">]><r>&e;</r>",
      "<!DOCTYPE r [<!ENTITY % p SYSTEM \"" + secretUrl + "\"> %p;]><r/>",
      "<!DOCTYPE r SYSTEM \"" + secretUrl + "\"><r>&e;</r>",
  };
  for (const std::string& text : documents) {
    OleVariant doc = NewDocument();
    EXPECT_EQ(CallMethod(doc, "loadXML", {OleVariant(WideFromUtf8(text))}).boolVal, VARIANT_FALSE) << text;
    EXPECT_EQ(Utf8(GetProperty(doc, "xml")).find("SECRET"), std::string::npos) << text;
    EXPECT_FALSE(HasObject(GetProperty(doc, "documentElement"))) << text;
  }
  std::filesystem::remove(secret);
  // A document type without entities still loads.
  OleVariant plain = Load("<!DOCTYPE r [<!ELEMENT r EMPTY>]><r/>");
  EXPECT_EQ(Utf8(GetProperty(GetProperty(plain, "documentElement"), "nodeName")), "r");
}
#endif
