#include "platform/posix/xml_dom_tree.h"

#include <cstring>
#include <mutex>

#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

namespace platform::xml_dom {
namespace {

constexpr long kFail = static_cast<long>(0x80004005);        // E_FAIL
constexpr long kInvalidArg = static_cast<long>(0x80070057);  // E_INVALIDARG

void InitLibxml() {
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
}

// libxml2 reports parser and XPath errors through callbacks; the DOM reports them as
// automation errors instead, so nothing is printed.
void IgnoreStructuredError(void*, xmlErrorPtr) {}

// A document that declares entities is refused as it declares the first one: expanding
// internal entities lets a few kilobytes become gigabytes, and external ones would reach
// for files or the network. A document that names an external document type is refused
// the same way (what it declares there is never fetched). The parse stops at once and the
// document counts as not well-formed.
void Refuse(void* context) {
  auto* parser = static_cast<xmlParserCtxtPtr>(context);
  xmlStopParser(parser);
  parser->wellFormed = 0;
}
void RefuseEntityDeclaration(void* context, const xmlChar*, int, const xmlChar*, const xmlChar*, xmlChar*) {
  Refuse(context);
}
void RefuseUnparsedEntityDeclaration(void* context, const xmlChar*, const xmlChar*, const xmlChar*, const xmlChar*) {
  Refuse(context);
}
void RefuseExternalSubset(void* context, const xmlChar*, const xmlChar* externalId, const xmlChar* systemId) {
  if (externalId || systemId) Refuse(context);
}

const char* Chars(const xmlChar* text) { return text ? reinterpret_cast<const char*>(text) : ""; }
const xmlChar* XmlChars(const std::string& text) { return reinterpret_cast<const xmlChar*>(text.c_str()); }

std::string TakeXmlString(xmlChar* text) {
  std::string result = Chars(text);
  xmlFree(text);
  return result;
}

std::string QualifiedName(const xmlChar* name, xmlNsPtr ns) {
  std::string result;
  if (ns && ns->prefix) {
    result = Chars(ns->prefix);
    result += ':';
  }
  result += Chars(name);
  return result;
}

bool IsBlank(const xmlChar* text) {
  for (const xmlChar* p = text; p && *p; ++p)
    if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') return false;
  return true;
}

// MSXML drops whitespace-only text when it loads a document (unless told to preserve it or
// xml:space="preserve" applies).
void StripBlankText(xmlNodePtr parent) {
  xmlNodePtr child = parent->children;
  while (child) {
    xmlNodePtr next = child->next;
    if (child->type == XML_TEXT_NODE && IsBlank(child->content) &&
        xmlNodeGetSpacePreserve(parent) != 1) {
      xmlUnlinkNode(child);
      xmlFreeNode(child);
    } else if (child->type == XML_ELEMENT_NODE) {
      StripBlankText(child);
    }
    child = next;
  }
}

// The pseudo-attributes of an XML declaration, rewritten in double quotes; the declaration
// becomes a processing instruction "xml" at the front of the document, as MSXML shows it.
std::string DeclarationData(const std::string& source) {
  size_t start = source.find("<?xml");
  size_t end = source.find("?>", start);
  if (end == std::string::npos) return {};
  std::string body = source.substr(start + 5, end - start - 5);
  std::string result;
  size_t pos = 0;
  while (pos < body.size()) {
    size_t eq = body.find('=', pos);
    if (eq == std::string::npos) break;
    size_t nameStart = body.find_first_not_of(" \t\r\n", pos);
    size_t nameEnd = body.find_last_not_of(" \t\r\n", eq - 1) + 1;
    size_t quote = body.find_first_of("\"'", eq);
    if (quote == std::string::npos) break;
    size_t close = body.find(body[quote], quote + 1);
    if (close == std::string::npos) break;
    if (!result.empty()) result += ' ';
    result += body.substr(nameStart, nameEnd - nameStart) + "=\"" + body.substr(quote + 1, close - quote - 1) + '"';
    pos = close + 1;
  }
  return result;
}

bool StartsWithDeclaration(const std::string& text) {
  size_t first = 0;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) first = 3;  // a byte-order mark
  return text.compare(first, 5, "<?xml") == 0 && text.size() > first + 5 &&
         std::strchr(" \t\r\n", text[first + 5]) != nullptr;
}

// Copies made by libxml2 may carry the source's application data; a copy has no objects yet.
void ClearAnchors(xmlNodePtr node) {
  node->_private = nullptr;
  if (node->type == XML_ELEMENT_NODE)
    for (xmlAttrPtr attr = node->properties; attr; attr = attr->next) attr->_private = nullptr;
  if (node->type != XML_ATTRIBUTE_NODE)
    for (xmlNodePtr child = node->children; child; child = child->next) ClearAnchors(child);
}

long CountAnchors(xmlNodePtr node) {
  long count = reinterpret_cast<intptr_t>(node->_private);
  if (node->type == XML_ELEMENT_NODE)
    for (xmlAttrPtr attr = node->properties; attr; attr = attr->next)
      count += reinterpret_cast<intptr_t>(attr->_private);
  if (node->type != XML_ATTRIBUTE_NODE)
    for (xmlNodePtr child = node->children; child; child = child->next) count += CountAnchors(child);
  return count;
}

// Moves an unlinked subtree into another document; the references its automation objects
// hold move with it.
void MoveToDocument(xmlNodePtr node, xmlDocPtr target) {
  DocumentTree& from = DocumentTree::Of(node);
  DocumentTree& to = *static_cast<DocumentTree*>(target->_private);
  long anchors = CountAnchors(node);
  if (xmlDOMWrapAdoptNode(nullptr, node->doc, node, target, nullptr, 0) != 0)
    throw DomError{kFail, "the node cannot be moved into this document"};
  for (long i = 0; i < anchors; ++i) to.AddRef();
  for (long i = 0; i < anchors; ++i) from.Release();
}

void Link(xmlNodePtr parent, xmlNodePtr child, xmlNodePtr before) {
  child->parent = parent;
  if (!before) {
    child->prev = parent->last;
    child->next = nullptr;
    if (parent->last) parent->last->next = child;
    else parent->children = child;
    parent->last = child;
    return;
  }
  child->next = before;
  child->prev = before->prev;
  if (before->prev) before->prev->next = child;
  else parent->children = child;
  before->prev = child;
}

bool CanHoldChildren(xmlNodePtr node) {
  return node->type == XML_ELEMENT_NODE || node->type == XML_DOCUMENT_NODE ||
         node->type == XML_DOCUMENT_FRAG_NODE;
}

void AppendTabs(std::string& out, int level) { out.append(static_cast<size_t>(level), '\t'); }

void AppendEscaped(std::string& out, const xmlChar* text, bool attribute) {
  for (const xmlChar* p = text; p && *p; ++p) {
    switch (*p) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += attribute ? "&quot;" : "\""; break;
      case '\r': out += "&#13;"; break;
      case '\n': out += attribute ? "&#10;" : "\r\n"; break;
      case '\t': out += attribute ? "&#9;" : "\t"; break;
      default: out += static_cast<char>(*p);
    }
  }
}

void AppendAttribute(std::string& out, xmlAttrPtr attr) {
  out += QualifiedName(attr->name, attr->ns);
  out += "=\"";
  xmlChar* value = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(attr));
  AppendEscaped(out, value, true);
  xmlFree(value);
  out += '"';
}

// Element-only content is laid out one child per line; content with text stays as it is.
bool HasOnlyMarkupChildren(xmlNodePtr element) {
  for (xmlNodePtr child = element->children; child; child = child->next)
    if (child->type != XML_ELEMENT_NODE && child->type != XML_COMMENT_NODE && child->type != XML_PI_NODE)
      return false;
  return true;
}

void AppendNode(std::string& out, xmlNodePtr node, int level, bool format);

void AppendElement(std::string& out, xmlNodePtr node, int level, bool format) {
  std::string name = QualifiedName(node->name, node->ns);
  out += '<';
  out += name;
  for (xmlNsPtr ns = node->nsDef; ns; ns = ns->next) {
    out += ns->prefix ? " xmlns:" + std::string(Chars(ns->prefix)) : std::string(" xmlns");
    out += "=\"";
    AppendEscaped(out, ns->href, true);
    out += '"';
  }
  for (xmlAttrPtr attr = node->properties; attr; attr = attr->next) {
    out += ' ';
    AppendAttribute(out, attr);
  }
  if (!node->children) {
    out += "/>";
    return;
  }
  out += '>';
  bool layout = format && HasOnlyMarkupChildren(node);
  for (xmlNodePtr child = node->children; child; child = child->next) {
    if (layout) {
      out += "\r\n";
      AppendTabs(out, level + 1);
    }
    AppendNode(out, child, level + 1, layout);
  }
  if (layout) {
    out += "\r\n";
    AppendTabs(out, level);
  }
  out += "</" + name + '>';
}

void AppendNode(std::string& out, xmlNodePtr node, int level, bool format) {
  switch (node->type) {
    case XML_ELEMENT_NODE: AppendElement(out, node, level, format); break;
    case XML_ATTRIBUTE_NODE: AppendAttribute(out, reinterpret_cast<xmlAttrPtr>(node)); break;
    case XML_TEXT_NODE: AppendEscaped(out, node->content, false); break;
    case XML_CDATA_SECTION_NODE: out += "<![CDATA[" + std::string(Chars(node->content)) + "]]>"; break;
    case XML_COMMENT_NODE: out += "<!--" + std::string(Chars(node->content)) + "-->"; break;
    case XML_ENTITY_REF_NODE: out += "&" + std::string(Chars(node->name)) + ";"; break;
    case XML_PI_NODE:
      out += "<?" + std::string(Chars(node->name));
      if (node->content && *node->content) out += " " + std::string(Chars(node->content));
      out += "?>";
      break;
    case XML_DOCUMENT_NODE:
    case XML_DOCUMENT_FRAG_NODE:
      for (xmlNodePtr child = node->children; child; child = child->next) {
        AppendNode(out, child, 0, true);
        if (node->type == XML_DOCUMENT_NODE) out += "\r\n";
      }
      break;
    default: {
      // Document type declarations and the like: libxml2's own text.
      xmlBufferPtr buffer = xmlBufferCreate();
      xmlNodeDump(buffer, node->doc, node, 0, 0);
      out += Chars(xmlBufferContent(buffer));
      xmlBufferFree(buffer);
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------

DocumentTree::DocumentTree(xmlDocPtr doc) : FDoc(doc) { FDoc->_private = this; }

DocumentTree::~DocumentTree() {
  for (xmlNodePtr orphan : FOrphans) {
    if (orphan->type == XML_ATTRIBUTE_NODE) xmlFreeProp(reinterpret_cast<xmlAttrPtr>(orphan));
    else xmlFreeNode(orphan);
  }
  xmlFreeDoc(FDoc);
}

void DocumentTree::Release() noexcept {
  if (--FRefCount == 0) delete this;
}

DocumentTree* DocumentTree::CreateEmpty() {
  InitLibxml();
  xmlDocPtr doc = xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"));
  if (!doc) throw std::bad_alloc();
  return new DocumentTree(doc);
}

DocumentTree* DocumentTree::Parse(WideStringView text, bool preserveWhiteSpace) {
  InitLibxml();
  std::string utf8 = ToUtf8(text);
  if (utf8.empty()) return nullptr;
  // The text is UTF-16 already decoded; whatever encoding its declaration names is ignored.
  const int options = XML_PARSE_NONET | XML_PARSE_NODICT | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                      XML_PARSE_IGNORE_ENC;
  xmlParserCtxtPtr context = xmlNewParserCtxt();
  if (!context) throw std::bad_alloc();
  context->sax->serror = IgnoreStructuredError;
  context->sax->entityDecl = RefuseEntityDeclaration;
  context->sax->unparsedEntityDecl = RefuseUnparsedEntityDeclaration;
  context->sax->externalSubset = RefuseExternalSubset;
  xmlDocPtr doc = xmlCtxtReadMemory(context, utf8.data(), static_cast<int>(utf8.size()), nullptr, "UTF-8", options);
  xmlFreeParserCtxt(context);
  if (!doc) return nullptr;
  if (!preserveWhiteSpace) StripBlankText(reinterpret_cast<xmlNodePtr>(doc));
  auto* tree = new DocumentTree(doc);
  if (StartsWithDeclaration(utf8)) {
    xmlNodePtr declaration = xmlNewDocPI(doc, reinterpret_cast<const xmlChar*>("xml"),
                                         XmlChars(DeclarationData(utf8)));
    Link(tree->DocNode(), declaration, doc->children);
  }
  return tree;
}

DocumentTree* DocumentTree::CopyOf(const DocumentTree& source, bool deep) {
  xmlDocPtr copy = xmlCopyDoc(source.FDoc, deep ? 1 : 0);
  if (!copy) throw std::bad_alloc();
  ClearAnchors(reinterpret_cast<xmlNodePtr>(copy));
  return new DocumentTree(copy);
}

DocumentTree& DocumentTree::Of(xmlNodePtr node) noexcept {
  return *static_cast<DocumentTree*>(node->doc->_private);
}

// A document node's _private is its tree's back pointer, not a count: an anchor on the
// document (a node list holding "/") holds the tree without counting there.
void NodeAnchor::Attach(xmlNodePtr node) noexcept {
  if (node->type != XML_DOCUMENT_NODE)
    node->_private = reinterpret_cast<void*>(reinterpret_cast<intptr_t>(node->_private) + 1);
  DocumentTree::Of(node).AddRef();
}

void NodeAnchor::Detach(xmlNodePtr node) noexcept {
  if (node->type != XML_DOCUMENT_NODE)
    node->_private = reinterpret_cast<void*>(reinterpret_cast<intptr_t>(node->_private) - 1);
  DocumentTree::Of(node).Release();
}

// ---------------------------------------------------------------------------------------

void InsertChild(xmlNodePtr parent, xmlNodePtr child, xmlNodePtr refChild) {
  if (!CanHoldChildren(parent)) throw DomError{kFail, "this node cannot have children"};
  if (child->type == XML_DOCUMENT_NODE || child->type == XML_ATTRIBUTE_NODE)
    throw DomError{kFail, "this kind of node cannot be inserted"};
  if (refChild && refChild->parent != parent)
    throw DomError{kInvalidArg, "the reference node is not a child of this node"};
  for (xmlNodePtr ancestor = parent; ancestor; ancestor = ancestor->parent)
    if (ancestor == child) throw DomError{kFail, "a node cannot be inserted below itself"};
  if (refChild == child) return;

  if (child->parent) xmlUnlinkNode(child);
  else DocumentTree::Of(child).RemoveOrphan(child);
  if (child->doc != parent->doc) MoveToDocument(child, parent->doc);
  Link(parent, child, refChild);
}

void RemoveChild(xmlNodePtr parent, xmlNodePtr child) {
  if (child->parent != parent) throw DomError{kInvalidArg, "the node is not a child of this node"};
  xmlUnlinkNode(child);
  DocumentTree::Of(child).AddOrphan(child);
}

xmlNodePtr CloneNode(xmlNodePtr node, bool deep) {
  xmlNodePtr copy;
  if (node->type == XML_ATTRIBUTE_NODE)
    copy = reinterpret_cast<xmlNodePtr>(xmlCopyProp(nullptr, reinterpret_cast<xmlAttrPtr>(node)));
  else
    copy = xmlDocCopyNode(node, node->doc, deep ? 1 : 2);  // 2: the element with its attributes
  if (!copy) throw std::bad_alloc();
  ClearAnchors(copy);
  DocumentTree::Of(node).AddOrphan(copy);
  return copy;
}

xmlNodePtr DocumentElement(xmlDocPtr doc) noexcept {
  for (xmlNodePtr child = doc->children; child; child = child->next)
    if (child->type == XML_ELEMENT_NODE) return child;
  return nullptr;
}

void SetDocumentElement(xmlDocPtr doc, xmlNodePtr element) {
  if (element->type != XML_ELEMENT_NODE) throw DomError{kInvalidArg, "the root must be an element"};
  xmlNodePtr docNode = reinterpret_cast<xmlNodePtr>(doc);
  xmlNodePtr old = DocumentElement(doc);
  if (old == element) return;
  InsertChild(docNode, element, old);
  if (old) RemoveChild(docNode, old);
}

std::string NodeName(xmlNodePtr node) {
  switch (node->type) {
    case XML_ELEMENT_NODE:
    case XML_ATTRIBUTE_NODE: return QualifiedName(node->name, node->ns);
    case XML_TEXT_NODE: return "#text";
    case XML_CDATA_SECTION_NODE: return "#cdata-section";
    case XML_COMMENT_NODE: return "#comment";
    case XML_DOCUMENT_NODE: return "#document";
    case XML_DOCUMENT_FRAG_NODE: return "#document-fragment";
    default: return Chars(node->name);
  }
}

std::string NodeText(xmlNodePtr node) { return TakeXmlString(xmlNodeGetContent(node)); }

xmlAttrPtr FindAttribute(xmlNodePtr element, const std::string& name) noexcept {
  if (element->type != XML_ELEMENT_NODE) return nullptr;
  for (xmlAttrPtr attr = element->properties; attr; attr = attr->next)
    if (QualifiedName(attr->name, attr->ns) == name) return attr;
  return nullptr;
}

void SetAttribute(xmlNodePtr element, const std::string& name, const std::string& value) {
  if (name.empty()) throw DomError{kFail, "an attribute name cannot be empty"};
  if (xmlAttrPtr attr = FindAttribute(element, name)) {
    // Replaces the value's text; the attribute node itself stays (objects may refer to it).
    xmlSetNsProp(element, attr->ns, attr->name, XmlChars(value));
    return;
  }
  if (!xmlNewProp(element, XmlChars(name), XmlChars(value))) throw std::bad_alloc();
}

void RemoveAttribute(xmlNodePtr element, const std::string& name) {
  xmlAttrPtr attr = FindAttribute(element, name);
  if (!attr) return;
  xmlNodePtr node = reinterpret_cast<xmlNodePtr>(attr);
  xmlUnlinkNode(node);
  DocumentTree::Of(element).AddOrphan(node);
}

std::vector<xmlNodePtr> SelectNodes(xmlNodePtr context, const std::string& expression) {
  InitLibxml();
  xmlXPathContextPtr xpath = xmlXPathNewContext(context->doc);
  if (!xpath) throw std::bad_alloc();
  xpath->node = context;
  xpath->error = IgnoreStructuredError;
  xmlXPathObjectPtr result = xmlXPathEvalExpression(XmlChars(expression), xpath);
  xmlXPathFreeContext(xpath);
  if (!result) throw DomError{kFail, "invalid XPath expression: " + expression};
  if (result->type != XPATH_NODESET) {
    xmlXPathFreeObject(result);
    throw DomError{kFail, "the XPath expression does not select nodes: " + expression};
  }
  std::vector<xmlNodePtr> nodes;
  if (xmlNodeSetPtr set = result->nodesetval) {
    for (int i = 0; i < set->nodeNr; ++i)
      if (set->nodeTab[i]->type != XML_NAMESPACE_DECL) nodes.push_back(set->nodeTab[i]);
  }
  xmlXPathFreeObject(result);
  return nodes;
}

std::string SerializeNode(xmlNodePtr node) {
  std::string out;
  AppendNode(out, node, 0, true);
  return out;
}

std::string ToUtf8(WideStringView text) { return Utf8FromWide(text); }
WideString FromUtf8(const std::string& text) { return WideFromUtf8(text); }
WideString FromXmlChars(const xmlChar* text) { return WideFromUtf8(Chars(text)); }

}  // namespace platform::xml_dom
