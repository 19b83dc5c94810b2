#pragma once
// Configuration sources as the device manager takes them from the host: XML text (a string
// variant) or an XML node object. Text is checked and converted before the DOM parses it.

#include <cstddef>
#include <vector>

#include "platform/ole_ptr.h"
#include "platform/text_codec.h"

// Configuration text longer than this (in characters) is refused before it is parsed: a
// host's configuration holds a few kilobytes per device.
inline constexpr size_t kMaxConfigurationTextLength = 8u * 1024u * 1024u;

// The value a variant refers to (through any by-reference variants).
const VARIANT& ReferencedSource(const VARIANT& Source);
// True for a text source (a string variant, also by reference).
bool IsTextSource(const VARIANT& Source);
// True for an XML node source (an object variant holding an object).
bool IsNodeSource(const VARIANT& Source);
// The text of a text source.
WideString SourceText(const VARIANT& Source);

struct TParsedConfiguration {
  OleVariant Document;
  AnsiString ConvertedText;  // the text after the conversions, as it was parsed
};

// Parses configuration text into a new document: with StripLineBreaks every CR LF pair is
// removed first, then the legacy names are applied. Refused (error 20000 with a text that
// says why): text too long, a document type declaration (entities are not expanded for
// anyone), and text that does not parse.
TParsedConfiguration ParseConfigurationText(const WideString& Text, bool StripLineBreaks);

// The root element of a document (a node of any other kind is returned as it is).
OleVariant DocumentRoot(const VARIANT& Node);
// The node's name ("nodeName").
WideString XmlNodeName(const VARIANT& Node);
// The node's XML text ("xml").
WideString XmlText(const VARIANT& Node);
// The nodes of a node list, in order.
std::vector<OleVariant> NodeListItems(const VARIANT& List);
