#pragma once
// Client of the UTM's local HTTP interface: ping, version, token diagnosis, the documents waiting
// on the out side (list, fetch, delete) and posting a document to the in side. Answers are XML or
// plain text. One object keeps one HTTP connection alive across its requests and belongs to one
// thread.
#include <memory>
#include <string>
#include <vector>

#include "platform/uErrors.h"

namespace egaiss {

namespace platform {
class THttpClient;
}

// The UTM answered a request with an error of its own instead of doing it.
class EUtmError : public EAgentError {
public:
    using EAgentError::EAgentError;
    const char* ClassName() const noexcept override { return "EUtmError"; }
};

struct TUtmDiagnosis {
    bool OK = false;            // an FSRAR id was found in the diagnosis
    bool UtmReachable = false;  // the UTM answered the ping
    std::string FsrarId;
    std::string CertCn;
    std::string CertO;
    std::string CertOu;
    std::string UtmVersion;  // empty when no version path answered
    std::string ErrorText;   // why OK is false

    bool operator==(const TUtmDiagnosis&) const = default;
};

class TUtmApi {
public:
    // Every trailing "/" of the base URL is dropped.
    explicit TUtmApi(const std::string& baseURL);
    ~TUtmApi();
    TUtmApi(TUtmApi&&) noexcept;
    TUtmApi& operator=(TUtmApi&&) noexcept;
    TUtmApi(const TUtmApi&) = delete;
    TUtmApi& operator=(const TUtmApi&) = delete;

    const std::string& BaseURL() const { return FBaseURL; }

    // True when "/" answers with a status below 400; never raises.
    bool Ping();
    // Never raises for UTM failures: they end up in ErrorText with OK false.
    void FetchDiagnosis(TUtmDiagnosis& diagnosis);
    // URLs of the documents waiting on the out side, in the order found, without duplicates
    // (letter case ignored); a URL whose path is not under /opt/out/ is skipped with a log line.
    // Raises on failure.
    std::vector<std::string> ListOutURLs();
    // The document's path and query (dot segments removed) on this client's UTM, whatever host
    // the URL names. Raises on failure.
    std::string FetchDocument(const std::string& docURL);
    // Same target as FetchDocument; a document that is already gone (404) counts as deleted.
    // Raises on failure.
    void DeleteDocument(const std::string& docURL);
    // Posts one document to "/opt/in/" + docType. Returns true; every failure raises, including
    // an answer that carries an error element and no url (EUtmError).
    bool SendDocument(const std::string& docType, const std::string& xml, std::string& utmURL,
                      std::string& utmResponse);

    // The type of an out document: the last non-numeric part of its URL, else the namespace
    // prefix of the XML's root element.
    static std::string GuessDocType(const std::string& docURL, const std::string& xml);
    // An absolute URL for a document reference (absolute, relative, or an XML fragment holding one).
    static std::string ResolveURL(const std::string& base, const std::string& ref);

private:
    std::string GetText(const std::string& url, bool quick);
    std::string DocumentRequestURL(const std::string& docURL) const;
    void DeleteURL(const std::string& url);
    std::string FetchVersion();

    std::string FBaseURL;
    std::unique_ptr<platform::THttpClient> FHttp;
};

// Text of the first element whose name starts with `tag` (any namespace prefix, attributes
// allowed, letter case ignored), trimmed; empty when there is none.
std::string XmlTagText(const std::string& xml, const std::string& tag);
// The organisation's FSRAR id: the digits after "FSRAR-RSA-", else every digit of the text.
std::string ExtractFsrarId(const std::string& text);
// "Failed to connect to UTM" for a message that reads like a failed connection.
std::string ConnectionErrorText(const std::string& message);

}  // namespace egaiss
