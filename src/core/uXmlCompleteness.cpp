#include "core/uXmlCompleteness.h"

#include <cstddef>

#include "core/uEgaissRu.h"

namespace egaiss {
namespace {

constexpr auto NotFound = std::string_view::npos;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// An element name ends at a blank, a control character or a character of markup.
bool EndsName(char c) {
    return static_cast<unsigned char>(c) <= ' ' || std::string_view("/>\"'=<").find(c) != NotFound;
}

std::size_t SkipBlanks(std::string_view xml, std::size_t pos) {
    while (pos < xml.size() && IsBlank(xml[pos]))
        ++pos;
    return pos;
}

// The position after the first `close` at or after `from`; NotFound when the text ends first.
std::size_t After(std::string_view xml, std::size_t from, std::string_view close) {
    const std::size_t end = xml.find(close, from);
    return end == NotFound ? NotFound : end + close.size();
}

// A document type declaration may hold an internal subset in brackets, whose own markup has ">".
std::size_t AfterDoctype(std::string_view xml, std::size_t from) {
    const std::size_t mark = xml.find_first_of("[>", from);
    if (mark == NotFound || xml[mark] == '>') return mark == NotFound ? NotFound : mark + 1;
    const std::size_t subsetEnd = After(xml, mark, "]");
    return subsetEnd == NotFound ? NotFound : After(xml, subsetEnd, ">");
}

// Where the root element's "<" stands; NotFound when the text ends inside the prolog's markup.
std::size_t RootStart(std::string_view xml) {
    constexpr std::string_view Bom = "\xEF\xBB\xBF";
    std::size_t pos = xml.starts_with(Bom) ? Bom.size() : 0;
    for (;;) {
        pos = SkipBlanks(xml, pos);
        const std::string_view rest = xml.substr(pos);
        if (rest.starts_with("<?")) {
            pos = After(xml, pos + 2, "?>");
        } else if (rest.starts_with("<!--")) {
            pos = After(xml, pos + 4, "-->");
        } else if (rest.starts_with("<!DOCTYPE")) {
            pos = AfterDoctype(xml, pos + 9);
        } else {
            return pos;
        }
        if (pos == NotFound) return NotFound;
    }
}

// The position after the ">" of the start tag whose name ends at `from`; a ">" inside a quoted
// attribute value does not count. NotFound when the text ends first.
std::size_t StartTagEnd(std::string_view xml, std::size_t from) {
    char quote = 0;
    for (std::size_t pos = from; pos < xml.size(); ++pos) {
        const char c = xml[pos];
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return pos + 1;
        }
    }
    return NotFound;
}

// The end of the text once trailing blanks, comments and processing instructions, none of which
// may stand before `from`, are taken off.
std::size_t ContentEnd(std::string_view xml, std::size_t from) {
    std::size_t end = xml.size();
    for (;;) {
        while (end > from && IsBlank(xml[end - 1]))
            --end;
        const std::string_view tail = xml.substr(from, end - from);
        std::size_t start = NotFound;
        if (tail.ends_with("-->") && tail.size() >= 7) {
            start = tail.rfind("<!--", tail.size() - 7);
        } else if (tail.ends_with("?>") && tail.size() >= 4) {
            start = tail.rfind("<?", tail.size() - 4);
        }
        if (start == NotFound) return end;
        end = from + start;
    }
}

// The close tag "</name>", blanks allowed before its ">", ending the text.
bool EndsWithCloseTag(std::string_view text, std::string_view name) {
    const std::size_t open = text.rfind("</");
    if (open == NotFound) return false;
    std::string_view tag = text.substr(open + 2);
    if (!tag.starts_with(name) || !tag.ends_with('>')) return false;
    tag = tag.substr(name.size(), tag.size() - name.size() - 1);
    return SkipBlanks(tag, 0) == tag.size();
}

std::string Shown(std::string_view name) {
    return TextLeft(Utf8ToText(name), 60);
}

}  // namespace

std::optional<std::string> IncompleteXmlReason(std::string_view xml) {
    if (xml.empty()) return "empty body";
    const std::size_t root = RootStart(xml);
    if (root == NotFound) return "ends before the root element";
    if (root == xml.size()) return "no root element";
    std::size_t nameEnd = root + 1;
    while (nameEnd < xml.size() && !EndsName(xml[nameEnd]))
        ++nameEnd;
    const std::string_view name = xml.substr(root + 1, nameEnd - root - 1);
    if (xml[root] != '<' || name.empty() || name.front() == '!' || name.front() == '?')
        return "does not start with an element";

    const std::size_t tagEnd = StartTagEnd(xml, nameEnd);
    if (tagEnd == NotFound) return "ends inside the start tag of <" + Shown(name) + ">";
    const std::size_t end = ContentEnd(xml, tagEnd);
    if (xml[tagEnd - 2] == '/') {
        if (end != tagEnd) return "text after the root element <" + Shown(name) + "/>";
        return std::nullopt;
    }
    if (!EndsWithCloseTag(xml.substr(tagEnd, end - tagEnd), name))
        return "root element <" + Shown(name) + "> is not closed at the end";
    return std::nullopt;
}

}  // namespace egaiss
