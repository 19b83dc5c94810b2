#include "devices/config_source.h"

#include "base/errors.h"
#include "config/late_bound.h"
#include "config/locale_formats.h"
#include "config/text_routines.h"
#include "config/vocabulary.h"
#include "config/xml_access.h"

namespace {

constexpr long kDocumentNodeType = 9;

}  // namespace

const VARIANT& ReferencedSource(const VARIANT& Source) {
  const VARIANT* source = &Source;
  while (source->vt == (VT_BYREF | VT_VARIANT) && source->pvarVal) source = source->pvarVal;
  return *source;
}

bool IsTextSource(const VARIANT& Source) { return (ReferencedSource(Source).vt & ~VT_BYREF) == VT_BSTR; }

bool IsNodeSource(const VARIANT& Source) {
  const VARIANT& source = ReferencedSource(Source);
  return (source.vt & ~VT_BYREF) == VT_DISPATCH && HasObject(source);
}

WideString SourceText(const VARIANT& Source) {
  const VARIANT& source = ReferencedSource(Source);
  if ((source.vt & ~VT_BYREF) != VT_BSTR) return WideString();
  BSTR text = (source.vt & VT_BYREF) ? (source.pbstrVal ? *source.pbstrVal : nullptr) : source.bstrVal;
  return text ? WideString(text, SysStringLen(text)) : WideString();
}

TParsedConfiguration ParseConfigurationText(const WideString& Text, bool StripLineBreaks) {
  if (Text.size() > kMaxConfigurationTextLength)
    RaiseText(AnsiFromUtf8("Текст конфигурации слишком велик: ") + IntToText(static_cast<int64_t>(Text.size())) +
              AnsiFromUtf8(" символов, допустимо не более ") +
              IntToText(static_cast<int64_t>(kMaxConfigurationTextLength)) + ".");
  TParsedConfiguration parsed;
  parsed.ConvertedText = AnsiFromWide(Text);
  if (StripLineBreaks) parsed.ConvertedText = ReplaceText(parsed.ConvertedText, "\r\n", "", false);
  ConvertLegacyNames(parsed.ConvertedText, TLegacyDirection::ToLegacy);
  // Entities are expanded without limit whenever content is read (by MSXML and by libxml2
  // alike), and external ones would be fetched: a configuration has no use for a document
  // type declaration, so none is accepted.
  if (parsed.ConvertedText.find("<!DOCTYPE") != AnsiString::npos ||
      parsed.ConvertedText.find("<!ENTITY") != AnsiString::npos)
    RaiseText(AnsiFromUtf8("Текст конфигурации содержит объявление типа документа, такие документы не принимаются."));
  parsed.Document = CreateXmlDocument();
  OleVariant loaded = CallMethod(parsed.Document, "loadXML", {OleVariant(WideFromAnsi(parsed.ConvertedText))});
  SetProperty(parsed.Document, "async", OleVariant(false));
  if (loaded.vt != VT_BOOL || loaded.boolVal == VARIANT_FALSE)
    RaiseText(AnsiFromUtf8("Текст конфигурации не является правильным XML-документом."));
  return parsed;
}

OleVariant DocumentRoot(const VARIANT& Node) {
  OleVariant type = GetProperty(Node, "nodeType");
  if (type.vt == VT_I4 && type.lVal == kDocumentNodeType) return GetProperty(Node, "documentElement");
  if (type.vt == VT_I2 && type.iVal == kDocumentNodeType) return GetProperty(Node, "documentElement");
  return OleVariant(Node);
}

WideString XmlNodeName(const VARIANT& Node) { return VariantText(GetProperty(Node, "nodeName")); }

WideString XmlText(const VARIANT& Node) { return VariantText(GetProperty(Node, "xml")); }

std::vector<OleVariant> NodeListItems(const VARIANT& List) {
  std::vector<OleVariant> items;
  if (!HasObject(List)) return items;
  OleVariant length = GetProperty(List, "length");
  const long count = length.vt == VT_I4 ? length.lVal : 0;
  items.reserve(static_cast<size_t>(count > 0 ? count : 0));
  for (long i = 0; i < count; ++i) items.push_back(CallMethod(List, "item", {OleVariant(static_cast<int32_t>(i))}));
  return items;
}
