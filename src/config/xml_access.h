#pragma once
// XML document access: the thin layer through which the plug-in creates configuration
// documents, loads XML text, selects nodes with XPath and reads and writes attributes.
// Documents, nodes and node lists are variants holding the IDispatch of a DOM object
// (MSXML, or our own DOM where there is none), driven by member name. Element and attribute
// names come from the vocabulary by number; the number is checked first.

#include <cstdint>
#include <vector>

#include "config/late_bound.h"
#include "platform/text_codec.h"

// A node counts as assigned when its variant holds an object.
inline bool IsNodeAssigned(const VARIANT& Node) noexcept { return HasObject(Node); }

// A new DOM document ("Msxml2.DOMDocument", else "MSXML.DOMDocument") selecting with XPath.
OleVariant CreateXmlDocument();
// A new document with the processing instruction "xml" carrying Header (when not empty)
// and a root element named RootName (when not empty).
OleVariant NewXmlDocument(WideStringView RootName, WideStringView Header);
// version="1.0" encoding="UTF-16": the header of every document the plug-in builds.
WideString XmlHeaderText();

// The element name or path of a vocabulary number (0..32), the attribute name of one
// (100..130); out of range or an inconsistent table raises ERR_TEXT.
WideString NodeName(int32_t Index);
WideString AttrName(int32_t Index);

// "createElement" with the element name of NodeIndex; the element is not inserted.
OleVariant CreateNamedElement(const VARIANT& Doc, int32_t NodeIndex);
// "selectNodes" with the path of NodeIndex, its "%s" (if any) replaced by FormatArg, followed
// by Suffix.
OleVariant SelectNamedNodes(const VARIANT& Node, int32_t NodeIndex, WideStringView Suffix, WideStringView FormatArg);
// "selectSingleNode" with the path of NodeIndex followed by Suffix; the result holds a null
// object when nothing matches.
OleVariant SelectNamedNode(const VARIANT& Node, int32_t NodeIndex, WideStringView Suffix);
// "setAttribute" for each index/value pair in order; arrays of unequal length raise before
// anything is written.
void SetNamedAttributes(const VARIANT& Node, const std::vector<int32_t>& AttrIndices, const std::vector<OleVariant>& Values);
// The attribute's text; Default when the node is unassigned (no index check then) or the
// attribute is absent. A present but empty attribute gives the empty text.
WideString GetNamedAttribute(const VARIANT& Node, int32_t AttrIndex, WideStringView Default);
AnsiString GetAttributeText(const VARIANT& Node, const AnsiString& Name, const AnsiString& Default);
// Text is parsed into a new document (text that does not parse, or that declares entities,
// gives an empty document); anything else is the node itself, shared.
OleVariant OpenXmlSource(const VARIANT& Source);
// True when an XML text declares an entity ("<!ENTITY" anywhere in it): such texts are
// never handed to the DOM.
bool DeclaresEntities(WideStringView Text);

// The XPath expression as it is handed to the DOM. libxml2's XPath (beneath our own DOM and
// beneath Wine's MSXML) rejects an absolute path whose first step is a non-ASCII name as
// soon as the path holds a predicate; the same step written with its explicit axis
// ("/child::Система/...") is the same XPath and is accepted everywhere.
WideString DomXPath(WideStringView Path);

// The text of a DOM result value (a string, or a number or boolean converted to text).
WideString VariantText(const VARIANT& Value);
