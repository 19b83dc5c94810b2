#pragma once
// A well-formedness check of XML text before any parser sees it, so that a file that is not
// XML is refused with its line and column on every platform (the system parsers tell the
// position on some platforms only). Linear in the text, no entity is expanded; a document type
// declaration is refused, as the plug-in refuses it.
#include <cstddef>
#include <optional>
#include <string>

#include "host_text.h"

namespace vestrel_host {

struct XmlProblem {
  size_t Line = 1, Column = 1;  // 1-based; columns count characters
  std::string Message;          // in the user's language
};

std::optional<XmlProblem> CheckWellFormed(const OleText& text);

// Line and column (1-based) of a position in the text; CR LF, CR and LF each end a line.
void LineAndColumn(const OleText& text, size_t position, size_t& line, size_t& column);

}  // namespace vestrel_host
