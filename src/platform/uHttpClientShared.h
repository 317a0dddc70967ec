#pragma once
// Pieces both HTTP client implementations share; not part of the client's interface.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/uHttpClient.h"

namespace egaiss::platform::httpdetail {

bool SameNameAscii(std::string_view a, std::string_view b);

// "Response body exceeds 256 MiB" for the default limit.
std::string BodyTooLargeMessage(std::uint64_t limit);

// Raises EAgentError for a name or value that would break the header block (CR, LF, NUL, a colon
// or blank in the name).
void CheckHeader(const THttpHeader& header);

// The client's default headers without those the request overrides, then the request's own.
std::vector<THttpHeader> MergeHeaders(const std::vector<THttpHeader>& defaults,
                                      const std::vector<THttpHeader>& own);

// Status code and reason phrase of a status line such as "HTTP/1.1 404 Not Found"; false when the
// line is not one.
bool ParseStatusLine(std::string_view line, int& code, std::string& reason);

// "Name: value" of a header line; false for anything else.
bool ParseHeaderLine(std::string_view line, THttpHeader& header);

std::string_view TrimBlanks(std::string_view text);

}  // namespace egaiss::platform::httpdetail
