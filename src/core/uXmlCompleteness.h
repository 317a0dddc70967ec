#pragma once
// Whether an XML document arrived whole. Not every HTTP stack (nor every proxy) reports a body cut
// off in transit, so a document is checked before it is handed on: the root element opened at the
// start must be the one closed at the end. This catches a cut anywhere before the root's end tag
// without a full parser; the only cuts it misses end right after an inner element that bears the
// root's own name, or right after the root's end tag written as text inside a CDATA section.
#include <optional>
#include <string>
#include <string_view>

namespace egaiss {

// Why the document is not whole (one short line, valid UTF-8), or nothing when it is. Before the
// root element a byte order mark, blanks, the XML declaration, processing instructions, comments and
// a document type declaration may stand; after it blanks, comments and processing instructions.
std::optional<std::string> IncompleteXmlReason(std::string_view xml);

}  // namespace egaiss
