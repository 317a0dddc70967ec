#include "platform/uHttpClient.h"

#include <algorithm>
#include <cctype>

#include "platform/uErrors.h"
#include "platform/uHttpClientShared.h"

namespace egaiss::platform {

std::string THttpResponse::Header(const std::string& name) const {
    for (const auto& header : Headers) {
        if (httpdetail::SameNameAscii(header.Name, name)) return header.Value;
    }
    return {};
}

namespace httpdetail {

bool SameNameAscii(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

std::string BodyTooLargeMessage(std::uint64_t limit) {
    constexpr std::uint64_t mebibyte = std::uint64_t{1024} * 1024;
    if (limit % mebibyte == 0) return "Response body exceeds " + std::to_string(limit / mebibyte) + " MiB";
    return "Response body exceeds " + std::to_string(limit) + " bytes";
}

void CheckHeader(const THttpHeader& header) {
    const auto badInName = [](unsigned char c) { return c <= ' ' || c == ':' || c >= 127; };
    const auto badInValue = [](unsigned char c) { return c == '\r' || c == '\n' || c == '\0'; };
    if (header.Name.empty() || std::any_of(header.Name.begin(), header.Name.end(), badInName) ||
        std::any_of(header.Value.begin(), header.Value.end(), badInValue)) {
        throw EAgentError("Invalid HTTP header: " + header.Name);
    }
}

std::vector<THttpHeader> MergeHeaders(const std::vector<THttpHeader>& defaults,
                                      const std::vector<THttpHeader>& own) {
    std::vector<THttpHeader> merged;
    for (const auto& header : defaults) {
        const bool overridden = std::any_of(own.begin(), own.end(), [&](const THttpHeader& mine) {
            return SameNameAscii(mine.Name, header.Name);
        });
        if (!overridden) merged.push_back(header);
    }
    merged.insert(merged.end(), own.begin(), own.end());
    for (const auto& header : merged)
        CheckHeader(header);
    return merged;
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() &&
           (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n')) {
        text.remove_suffix(1);
    }
    return text;
}

bool ParseStatusLine(std::string_view line, int& code, std::string& reason) {
    line = TrimBlanks(line);
    if (line.substr(0, 5) != "HTTP/") return false;
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos) return false;
    std::string_view rest = line.substr(space + 1);
    int value = 0;
    std::size_t digits = 0;
    while (digits < rest.size() && digits < 3 && std::isdigit(static_cast<unsigned char>(rest[digits]))) {
        value = value * 10 + (rest[digits] - '0');
        ++digits;
    }
    if (digits != 3) return false;
    code = value;
    reason = std::string(TrimBlanks(rest.substr(digits)));
    return true;
}

bool ParseHeaderLine(std::string_view line, THttpHeader& header) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    header.Name = std::string(TrimBlanks(line.substr(0, colon)));
    header.Value = std::string(TrimBlanks(line.substr(colon + 1)));
    return !header.Name.empty();
}

}  // namespace httpdetail
}  // namespace egaiss::platform
