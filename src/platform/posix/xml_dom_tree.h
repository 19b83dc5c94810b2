#pragma once
// The libxml2 side of our DOM automation objects: one owner per libxml2 document, the tree
// operations the DOM members need, XPath selection and the "xml" text.
//
// Ownership. A DocumentTree owns one xmlDoc together with every node created for it that
// is not (or no longer) linked into its tree (the "orphans": new elements, clones, removed
// children). It is reference-counted: the document object holds one reference, and every
// automation object standing for a node holds one reference on the tree that currently owns
// its node. Which tree that is can change (a node can be inserted into another document),
// so node objects do not hold the reference themselves: NodeAnchor counts them in the
// node's _private field and moves the references along when a subtree changes documents.

#include <atomic>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include <libxml/tree.h>

#include "platform/text_codec.h"

namespace platform::xml_dom {

class DocumentTree {
public:
  // An empty document (no children).
  static DocumentTree* CreateEmpty();
  // Parses text; null when it is not well-formed XML. Whitespace-only text is dropped
  // unless preserveWhiteSpace is set or xml:space="preserve" is in force, as MSXML does.
  static DocumentTree* Parse(WideStringView text, bool preserveWhiteSpace);
  // A copy of another tree's document (deep: with all children).
  static DocumentTree* CopyOf(const DocumentTree& source, bool deep);

  void AddRef() noexcept { ++FRefCount; }
  void Release() noexcept;

  xmlDocPtr Doc() const noexcept { return FDoc; }
  xmlNodePtr DocNode() const noexcept { return reinterpret_cast<xmlNodePtr>(FDoc); }

  // The tree that owns a node (through the document's _private back pointer).
  static DocumentTree& Of(xmlNodePtr node) noexcept;

  // The document automation object that currently stands for this tree (not counted);
  // parentNode and ownerDocument hand it out so that a document keeps one identity.
  void* OwnerObject = nullptr;

  // A node of this document that is not linked anywhere; freed with the tree unless it is
  // linked again before.
  void AddOrphan(xmlNodePtr node) { FOrphans.insert(node); }
  void RemoveOrphan(xmlNodePtr node) noexcept { FOrphans.erase(node); }

private:
  explicit DocumentTree(xmlDocPtr doc);
  ~DocumentTree();
  DocumentTree(const DocumentTree&) = delete;
  DocumentTree& operator=(const DocumentTree&) = delete;

  xmlDocPtr FDoc;
  std::set<xmlNodePtr> FOrphans;
  std::atomic<long> FRefCount{1};
};

// The reference that an automation object for a node holds on the node's document.
class NodeAnchor {
public:
  static void Attach(xmlNodePtr node) noexcept;
  static void Detach(xmlNodePtr node) noexcept;
};

// Failures of tree operations, turned into automation errors by the objects.
struct DomError {
  long Code;            // HRESULT
  std::string Message;  // UTF-8
};

// Tree operations. Parent may be the document node.
// Inserts child before refChild (at the end when refChild is null), taking it from wherever
// it was, also from another document.
void InsertChild(xmlNodePtr parent, xmlNodePtr child, xmlNodePtr refChild);
void RemoveChild(xmlNodePtr parent, xmlNodePtr child);
xmlNodePtr CloneNode(xmlNodePtr node, bool deep);
// The first element child of the document, null when there is none.
xmlNodePtr DocumentElement(xmlDocPtr doc) noexcept;
// Replaces the root element (or adds one).
void SetDocumentElement(xmlDocPtr doc, xmlNodePtr element);

// Names and values, in UTF-8.
std::string NodeName(xmlNodePtr node);
std::string NodeText(xmlNodePtr node);
// The attribute of that qualified name, null when absent.
xmlAttrPtr FindAttribute(xmlNodePtr element, const std::string& name) noexcept;
void SetAttribute(xmlNodePtr element, const std::string& name, const std::string& value);
void RemoveAttribute(xmlNodePtr element, const std::string& name);

// XPath 1.0: the nodes an expression selects from a context node, in document order.
// Throws DomError for an expression that does not compile or does not give a node-set.
std::vector<xmlNodePtr> SelectNodes(xmlNodePtr context, const std::string& expression);

// The "xml" text as MSXML shapes it: a document ends every top-level node with CR LF; an
// element-only content is indented with tabs on CR LF lines; attributes in double quotes.
std::string SerializeNode(xmlNodePtr node);

// UTF-16 <-> libxml2's UTF-8.
std::string ToUtf8(WideStringView text);
WideString FromUtf8(const std::string& text);
WideString FromXmlChars(const xmlChar* text);

}  // namespace platform::xml_dom
