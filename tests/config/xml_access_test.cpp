#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "config/vocabulary.h"
#include "config/xml_access.h"

namespace {

std::string Utf8(WideStringView text) { return Utf8FromWide(text); }
WideString W(const char* utf8) { return WideFromUtf8(utf8); }
std::string XmlOf(const VARIANT& node) { return Utf8(VariantText(GetProperty(node, "xml"))); }
LONG Count(const VARIANT& list) { return GetProperty(list, "length").lVal; }

// The message of the coded error a call raises, checking the code.
std::string ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const EProtectException& e) {
    EXPECT_EQ(e.Code, ERR_TEXT);
    return Utf8FromAnsi(e.Message());
  }
  return "(no error)";
}

class XmlAccess : public ::testing::Test {
protected:
  static void SetUpTestSuite() { CoInitialize(nullptr); }
  static OleVariant Open(const char* xml) { return OpenXmlSource(OleVariant(W(xml))); }
};

TEST_F(XmlAccess, NameIndicesAreChecked) {
  EXPECT_EQ(Utf8(NodeName(0)), "Параметр");
  EXPECT_EQ(Utf8(NodeName(32)), "/Система/Author");
  EXPECT_EQ(Utf8(AttrName(100)), "Код");
  EXPECT_EQ(Utf8(AttrName(130)), "Preference");
  EXPECT_EQ(Utf8(AttrName(122)), "-");
  for (int index : {33, -1, 100})
    EXPECT_EQ(ErrorOf([&] { NodeName(index); }), "Индекс имени узла за пределами границы.") << index;
  for (int index : {99, 131, 0})
    EXPECT_EQ(ErrorOf([&] { AttrName(index); }), "Индекс имени аттрибута за пределами границы.") << index;
}

TEST_F(XmlAccess, HeaderText) { EXPECT_EQ(Utf8(XmlHeaderText()), "version=\"1.0\" encoding=\"UTF-16\""); }

TEST_F(XmlAccess, NewDocumentsWithAndWithoutHeaderOrRoot) {
  EXPECT_EQ(XmlOf(NewXmlDocument(NodeName(NODE_MODEL), XmlHeaderText())),
            "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Модель/>\r\n");
  EXPECT_EQ(XmlOf(NewXmlDocument(WideString(), XmlHeaderText())), "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n");
  EXPECT_EQ(XmlOf(NewXmlDocument(W("EquList"), WideString())), "<EquList/>\r\n");
  OleVariant doc = NewXmlDocument(WideString(), WideString());
  EXPECT_EQ(XmlOf(doc), "");
  EXPECT_EQ(GetProperty(doc, "async").boolVal, VARIANT_FALSE);
}

TEST_F(XmlAccess, NamedElementIsNotInserted) {
  OleVariant doc = NewXmlDocument(NodeName(NODE_EQU_ITEM), WideString());
  OleVariant element = CreateNamedElement(doc, NODE_PARAM_LIST);
  EXPECT_EQ(XmlOf(element), "<Параметры/>");
  EXPECT_EQ(XmlOf(doc), "<Устройство/>\r\n");
  EXPECT_THROW(CreateNamedElement(doc, 33), EProtectException);
}

TEST_F(XmlAccess, AttributesByIndex) {
  OleVariant doc = NewXmlDocument(NodeName(NODE_MODEL), WideString());
  OleVariant root = GetProperty(doc, "documentElement");
  SetNamedAttributes(root, {ATTR_ID, ATTR_NAME, ATTR_VERSION}, {OleVariant(W("{1}")), OleVariant(W("")), OleVariant(3)});
  EXPECT_EQ(XmlOf(root), "<Модель Код=\"{1}\" Наименование=\"\" Версия=\"3\"/>");
  // Present but empty is the empty text; absent is the default.
  EXPECT_EQ(Utf8(GetNamedAttribute(root, ATTR_NAME, W("нет"))), "");
  EXPECT_EQ(Utf8(GetNamedAttribute(root, ATTR_STATE, W("нет"))), "нет");
  EXPECT_EQ(Utf8(GetNamedAttribute(root, ATTR_VERSION, W(""))), "3");
  EXPECT_EQ(Utf8FromAnsi(GetAttributeText(root, AnsiFromUtf8("Код"), "-")), "{1}");
  EXPECT_EQ(GetAttributeText(root, AnsiFromUtf8("Нет"), "-"), "-");
  EXPECT_THROW(GetNamedAttribute(root, 99, W("")), EProtectException);
}

TEST_F(XmlAccess, UnassignedNodeGivesTheDefaultWithoutChecks) {
  OleVariant empty, nullObject(static_cast<IDispatch*>(nullptr));
  for (const OleVariant* node : {&empty, &nullObject}) {
    EXPECT_EQ(Utf8(GetNamedAttribute(*node, 999, W("def"))), "def");
    EXPECT_EQ(GetAttributeText(*node, "x", "def"), "def");
  }
}

TEST_F(XmlAccess, AttributeArraysOfUnequalLengthWriteNothing) {
  OleVariant doc = NewXmlDocument(NodeName(NODE_MODEL), WideString());
  OleVariant root = GetProperty(doc, "documentElement");
  EXPECT_EQ(ErrorOf([&] {
              SetNamedAttributes(root, {ATTR_ID, ATTR_NAME, ATTR_TYPE}, {OleVariant(W("a")), OleVariant(W("b"))});
            }),
            "Размерности массивов аттрибутов и значений не совпадают");
  EXPECT_EQ(XmlOf(root), "<Модель/>");
  // A bad index in the middle leaves the attributes before it written.
  EXPECT_THROW(SetNamedAttributes(root, {ATTR_ID, 99, ATTR_TYPE}, {OleVariant(W("a")), OleVariant(W("b")), OleVariant(W("c"))}),
               EProtectException);
  EXPECT_EQ(XmlOf(root), "<Модель Код=\"a\"/>");
}

const char* const kCatalogue =
    "<Система><КлассыОборудования>"
    "<КлассОборудования Идентификатор=\"Сканер\"><Модель Код=\"1\"/><Модель Код=\"2\"/></КлассОборудования>"
    "<КлассОборудования Идентификатор=\"Весы\"><Модель Код=\"3\"/></КлассОборудования>"
    "</КлассыОборудования></Система>";

TEST_F(XmlAccess, SelectingByIndexWithFormatAndSuffix) {
  OleVariant doc = Open(kCatalogue);
  EXPECT_EQ(Count(SelectNamedNodes(doc, PATH_FILTERED_MODELS, W(""), W(""))), 3);
  // Absolute Cyrillic paths with predicates, before and after the slot.
  EXPECT_EQ(Count(SelectNamedNodes(doc, PATH_FILTERED_MODELS, W(""), W("[@Идентификатор=\"Весы\"]"))), 1);
  EXPECT_EQ(Count(SelectNamedNodes(doc, PATH_FILTERED_MODELS, W("[@Код=\"2\"]"), W("[@Идентификатор=\"Сканер\"]"))), 1);
  EXPECT_EQ(Count(SelectNamedNodes(doc, PATH_MODELS, W("[@Код>1]"), W("ignored: no slot"))), 2);
  EXPECT_EQ(Count(SelectNamedNodes(doc, PATH_ANY_MODEL, W("[@Код=\"3\"]"), W(""))), 1);

  OleVariant model = SelectNamedNode(doc, PATH_MODELS, W("[@Код=\"2\"]"));
  EXPECT_EQ(XmlOf(model), "<Модель Код=\"2\"/>");
  EXPECT_FALSE(IsNodeAssigned(SelectNamedNode(doc, PATH_MODELS, W("[@Код=\"9\"]"))));
  EXPECT_THROW(SelectNamedNodes(doc, PATH_MODELS, W("["), W("")), EOleException);
}

TEST_F(XmlAccess, LeadingNonAsciiStepGetsItsAxis) {
  EXPECT_EQ(Utf8(DomXPath(W("/Система/Модель[1]"))), "/child::Система/Модель[1]");
  for (const char* unchanged : {"//Модель[1]", "./Параметры/Параметр", "/System/Model[1]", "Модель", "/", ""})
    EXPECT_EQ(Utf8(DomXPath(W(unchanged))), unchanged);
}

TEST_F(XmlAccess, SourcesOpenAsDocumentsOrStayAsTheyAre) {
  OleVariant doc = Open(kCatalogue);
  EXPECT_TRUE(IsNodeAssigned(doc));
  EXPECT_EQ(Utf8(VariantText(GetProperty(GetProperty(doc, "documentElement"), "nodeName"))), "Система");

  OleVariant root = GetProperty(doc, "documentElement");
  OleVariant shared = OpenXmlSource(root);
  EXPECT_EQ(shared.vt, VT_DISPATCH);
  EXPECT_EQ(shared.pdispVal, root.pdispVal);

  OleVariant number = OpenXmlSource(OleVariant(7));
  EXPECT_EQ(number.vt, VT_I4);
  EXPECT_EQ(number.lVal, 7);

  // Text that is not XML: an empty document that selects nothing.
  OleVariant broken = Open("это не XML");
  EXPECT_TRUE(IsNodeAssigned(broken));
  EXPECT_EQ(Count(SelectNamedNodes(broken, PATH_ANY_MODEL, W(""), W(""))), 0);
  EXPECT_FALSE(IsNodeAssigned(GetProperty(broken, "documentElement")));
}

}  // namespace

// XML from the host (configurations, the plug-in information call) that declares entities
// is never handed to the DOM: an internal entity referenced 20 000 times would take minutes
// and hundreds of megabytes to expand, under MSXML as under libxml2.
TEST_F(XmlAccess, TextsDeclaringEntitiesOpenAsAnEmptyDocument) {
  std::ifstream file(std::filesystem::path(VESTREL_TEST_DATA_DIR) / "hostile" /
                         "xml-internal-entity-20000-refs.xml",
                     std::ios::binary);
  const std::string hostile((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_GT(hostile.size(), 100000u);
  EXPECT_TRUE(DeclaresEntities(W(hostile.c_str())));
  const OleVariant doc = OpenXmlSource(OleVariant(W(hostile.c_str())));
  EXPECT_FALSE(IsNodeAssigned(GetProperty(doc, "documentElement")));
  EXPECT_EQ(Count(CallMethod(doc, "selectNodes", {OleVariant(W("//@*"))})), 0);

  EXPECT_FALSE(DeclaresEntities(W("<a b=\"&amp;&lt;\"><!-- ENTITY --></a>")));
  const OleVariant plain = Open("<a b=\"&amp;&lt;\"/>");
  EXPECT_EQ(XmlOf(GetProperty(plain, "documentElement")), "<a b=\"&amp;&lt;\"/>");
}
