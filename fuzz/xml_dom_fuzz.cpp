// The XML DOM objects: a document loaded from arbitrary text, then an XPath expression
// selected from the document and from its root, and every selected node read as text.
// Input: the expression on the first line, the document after it.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "config/late_bound.h"
#include "config/xml_access.h"
#include "fuzz_support.h"

namespace {

// Reads what the configuration code reads from a node.
void Touch(const VARIANT& node) {
  for (const char* member : {"xml", "nodeName", "nodeType", "text", "parentNode"}) {
    try {
      GetProperty(node, member);
    } catch (const std::exception&) {
    }
  }
}

void SelectFrom(const VARIANT& context, const OleVariant& expression) {
  OleVariant nodes;
  try {
    nodes = CallMethod(context, "selectNodes", {expression});
  } catch (const std::exception&) {
    return;  // an expression that does not compile or selects no nodes
  }
  const int32_t length = GetProperty(nodes, "length").lVal;
  for (int32_t i = 0; i < length && i < 32; ++i) {
    OleVariant node = CallMethod(nodes, "item", {OleVariant(i)});
    fuzz::Check(node.vt == VT_DISPATCH && node.pdispVal != nullptr, "every listed node is there");
    Touch(node);
  }
  try {
    OleVariant single = CallMethod(context, "selectSingleNode", {expression});
    if (single.vt == VT_DISPATCH && single.pdispVal) Touch(single);
  } catch (const std::exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 18)) return 0;
  std::string text(reinterpret_cast<const char*>(data), size);
  const std::string xpath = fuzz::TakeLine(text);
  try {
    OleVariant doc = CreateXmlDocument();
    const OleVariant loaded = CallMethod(doc, "loadXML", {OleVariant(WideFromUtf8(text))});
    const OleVariant expression(WideFromUtf8(xpath));
    SelectFrom(doc, expression);
    OleVariant root = GetProperty(doc, "documentElement");
    fuzz::Check(loaded.vt == VT_BOOL && (loaded.boolVal != 0 || root.vt != VT_DISPATCH || root.pdispVal == nullptr),
                "a document that did not load has no root");
    if (root.vt == VT_DISPATCH && root.pdispVal) SelectFrom(root, expression);
    Touch(doc);
  } catch (const std::exception&) {
  }
  return 0;
}
