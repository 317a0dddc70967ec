#include "uFuzzHttp.h"

#include "platform/uHttpClientShared.h"
#include "uFuzzSupport.h"

namespace egaiss {
namespace {

platform::THttpResponse& CurrentAnswer() {
    static platform::THttpResponse answer;
    return answer;
}

// Its answers carry no Location header, so the client never asks it to follow a redirect.
class TAnswerTransport final : public platform::httpdetail::THttpTransport {
public:
    platform::THttpResponse Perform(const platform::httpdetail::THttpSettings&, const platform::THttpRequest&,
                                    const std::string*, platform::httpdetail::TRequestLimits&) override {
        return CurrentAnswer();
    }
    std::string ResolveRedirect(const std::string&, const std::string& location) override { return location; }
    platform::httpdetail::TUrlOrigin OriginOf(const std::string& url) override { return {"http", url}; }
};

// An answer the reader refuses raises EAgentError with a message: an expected outcome.
template <typename TClient>
void ReadRefusing(TClient& client, const std::function<void(TClient&)>& read) {
    try {
        read(client);
    } catch (const EAgentError&) {
    }
}

}  // namespace

std::unique_ptr<platform::httpdetail::THttpTransport> platform::httpdetail::NewHttpTransport() {
    return std::make_unique<TAnswerTransport>();
}

namespace fuzz {

void SetHttpAnswer(int statusCode, const TBytes& body) {
    CurrentAnswer() = {statusCode, statusCode < 400 ? "OK" : "Error", {}, body};
}

TEgaissConfig FuzzAgentConfig() {
    TEgaissConfig cfg;
    cfg.ServerURL = "https://127.0.0.1/api/agent.php";
    cfg.AgentID = "agent";
    cfg.AgentSecret = "secret";
    return cfg;
}

void ReadServerAnswer(const TBytes& body, const std::function<void(TVelmoraApi&)>& read) {
    SilenceLog();
    SetHttpAnswer(200, body);
    TVelmoraApi api(FuzzAgentConfig());
    ReadRefusing(api, read);
}

void ReadUtmAnswer(const TBytes& body, const std::function<void(TUtmApi&)>& read) {
    SilenceLog();
    SetHttpAnswer(200, body);
    TUtmApi api(FuzzAgentConfig().UtmBaseURL());
    ReadRefusing(api, read);
}

}  // namespace fuzz
}  // namespace egaiss
