#include "config/xml_access.h"

#include "config/vocabulary.h"
#include "platform/xml_dom.h"

namespace {

template <size_t N>
const TTagItem& TableEntry(const std::array<TTagItem, N>& table, int32_t first, int32_t index,
                           const char* rangeMessage, const char* orderMessage) {
  if (index < first || index >= first + static_cast<int32_t>(N)) RaiseText(AnsiFromUtf8(rangeMessage));
  const TTagItem& entry = table[static_cast<size_t>(index - first)];
  if (entry.Index != index) RaiseText(AnsiFromUtf8(orderMessage));
  return entry;
}

constexpr OLECHAR kFormatSlot[] = OLESTR("%s");

OleVariant TextVariant(WideStringView text) { return OleVariant(text); }

}  // namespace

OleVariant CreateXmlDocument() {
  platform::EnsureXmlDomClasses();
  OleVariant doc;
  try {
    doc = CreateOleObject(OLESTR("Msxml2.DOMDocument"));
  } catch (const std::exception&) {
    doc = CreateOleObject(OLESTR("MSXML.DOMDocument"));
  }
  CallMethod(doc, "setProperty", {TextVariant(OLESTR("SelectionLanguage")), TextVariant(OLESTR("XPath"))});
  // No document the plug-in reads needs a document type: where the DOM offers it, refuse
  // them outright, and never fetch anything a document refers to.
  for (const auto& [name, value] : {std::pair{OLESTR("ProhibitDTD"), true}, std::pair{OLESTR("ResolveExternals"), false}}) {
    try {
      CallMethod(doc, "setProperty", {TextVariant(name), OleVariant(value)});
    } catch (const std::exception&) {
      // An older DOM without the property: the text check in OpenXmlSource still applies.
    }
  }
  return doc;
}

bool DeclaresEntities(WideStringView Text) {
  static constexpr OLECHAR kDeclaration[] = OLESTR("<!ENTITY");
  return Text.find(kDeclaration) != WideStringView::npos;
}

OleVariant NewXmlDocument(WideStringView RootName, WideStringView Header) {
  OleVariant doc = CreateXmlDocument();
  // The root goes in first and the instruction before it: Wine's MSXML drops an instruction
  // that was inserted while the document had no root once a root is assigned. The document
  // is the same either way: the instruction is the first child.
  if (!RootName.empty()) SetProperty(doc, "documentElement", CallMethod(doc, "CreateElement", {TextVariant(RootName)}));
  if (!Header.empty()) {
    OleVariant root = GetProperty(doc, "documentElement");
    OleVariant instruction = CallMethod(doc, "createProcessingInstruction", {TextVariant(OLESTR("xml")), TextVariant(Header)});
    CallMethod(doc, "insertBefore", {instruction, root});
  }
  SetProperty(doc, "Async", OleVariant(false));
  return doc;
}

WideString XmlHeaderText() { return WideString(OLESTR("version=\"1.0\" encoding=\"UTF-16\"")); }

WideString NodeName(int32_t Index) {
  return TableEntry(NodeNameTable, kFirstNodeIndex, Index, "Индекс имени узла за пределами границы.",
                    "Нарушение индекса списка имени узлов")
      .Name;
}

WideString AttrName(int32_t Index) {
  return TableEntry(AttrNameTable, kFirstAttrIndex, Index, "Индекс имени аттрибута за пределами границы.",
                    "Нарушение индекса списка имени аттрибутов")
      .Name;
}

OleVariant CreateNamedElement(const VARIANT& Doc, int32_t NodeIndex) {
  return CallMethod(Doc, "CreateElement", {TextVariant(NodeName(NodeIndex))});
}

OleVariant SelectNamedNodes(const VARIANT& Node, int32_t NodeIndex, WideStringView Suffix, WideStringView FormatArg) {
  WideString path = NodeName(NodeIndex);
  size_t slot = path.find(kFormatSlot);
  if (slot != WideString::npos) path.replace(slot, 2, FormatArg);
  path += Suffix;
  return CallMethod(Node, "SelectNodes", {TextVariant(DomXPath(path))});
}

OleVariant SelectNamedNode(const VARIANT& Node, int32_t NodeIndex, WideStringView Suffix) {
  WideString path = NodeName(NodeIndex);
  path += Suffix;
  return CallMethod(Node, "SelectSingleNode", {TextVariant(DomXPath(path))});
}

void SetNamedAttributes(const VARIANT& Node, const std::vector<int32_t>& AttrIndices, const std::vector<OleVariant>& Values) {
  if (AttrIndices.size() != Values.size())
    RaiseText(AnsiFromUtf8("Размерности массивов аттрибутов и значений не совпадают"));
  for (size_t i = 0; i < AttrIndices.size(); ++i)
    CallMethod(Node, "setAttribute", {TextVariant(AttrName(AttrIndices[i])), Values[i]});
}

namespace {

// MSXML answers Null for an absent attribute.
bool ReadAttribute(const VARIANT& Node, WideStringView name, WideString& text) {
  OleVariant value = CallMethod(Node, "GetAttribute", {TextVariant(name)});
  if (value.vt == VT_NULL) return false;
  text = VariantText(value);
  return true;
}

}  // namespace

WideString GetNamedAttribute(const VARIANT& Node, int32_t AttrIndex, WideStringView Default) {
  WideString result(Default);
  if (!IsNodeAssigned(Node)) return result;
  ReadAttribute(Node, AttrName(AttrIndex), result);
  return result;
}

AnsiString GetAttributeText(const VARIANT& Node, const AnsiString& Name, const AnsiString& Default) {
  if (!IsNodeAssigned(Node)) return Default;
  WideString text;
  return ReadAttribute(Node, WideFromAnsi(Name), text) ? AnsiFromWide(text) : Default;
}

OleVariant OpenXmlSource(const VARIANT& Source) {
  const VARIANT* source = &Source;
  while (source->vt == (VT_BYREF | VT_VARIANT)) source = source->pvarVal;
  if ((source->vt & ~VT_BYREF) != VT_BSTR) return OleVariant(Source);
  BSTR text = (source->vt & VT_BYREF) ? *source->pbstrVal : source->bstrVal;
  OleVariant doc = CreateXmlDocument();
  const WideStringView content(text ? text : OLESTR(""), SysStringLen(text));
  // Whether the text parsed is not examined: an empty document selects nothing. A text
  // that declares entities counts as not parsing, whichever DOM is installed: some expand
  // them without limit.
  if (!DeclaresEntities(content)) CallMethod(doc, "LoadXML", {OleVariant(content)});
  SetProperty(doc, "Async", OleVariant(false));
  return doc;
}

WideString DomXPath(WideStringView Path) {
  WideString path(Path);
  if (path.size() > 1 && path[0] == u'/' && path[1] > 0x7F) path.insert(1, OLESTR("child::"));
  return path;
}

WideString VariantText(const VARIANT& Value) {
  const VARIANT* value = &Value;
  while (value->vt == (VT_BYREF | VT_VARIANT)) value = value->pvarVal;
  if (value->vt == VT_BSTR) return WideString(value->bstrVal ? value->bstrVal : OLESTR(""), SysStringLen(value->bstrVal));
  OleVariant copy(*value);
  if (FAILED(copy.ChangeType(VT_BSTR))) RaiseText(AnsiFromUtf8("Значение узла XML не является текстом"));
  return WideString(copy.bstrVal ? copy.bstrVal : OLESTR(""), SysStringLen(copy.bstrVal));
}
