#pragma once
// One sync cycle between the UTM and the server: incoming documents to the server's inbox,
// outgoing documents from the server's outbox into the UTM, and the outcome reported back.
#include <cstddef>
#include <string>

#include "core/uEgaissConfig.h"

namespace egaiss {

class TVelmoraApi;

// Runs one cycle on a copy of the settings. Expected failures come back as ok = false and a message;
// only a failure to create the clients raises.
void RunSyncCycle(const TEgaissConfig& cfg, bool& ok, std::string& msg);

// Error-only ping with the full text; a failing ping is logged, never raised.
void ReportSyncError(TVelmoraApi& api, const std::string& version, const std::string& text);
// Sync-completed ping; a failing ping is logged, never raised.
void ReportSyncSuccess(TVelmoraApi& api, const std::string& version);

// One line for the log: line breaks become blanks, cut to maxLen characters + "...".
std::string FlattenForLog(const std::string& text, std::size_t maxLen);
// The last path segment of a URL, ignoring trailing slashes; the URL itself when there is none.
std::string UrlLastSegment(const std::string& url);

}  // namespace egaiss
