// Documents per second through one RunSyncCycle against egaiss-sim on loopback (1,000 incoming and
// 1,000 outgoing documents), and the floor: the same HTTP requests from a bare libcurl loop that
// keeps one connection per peer alive. The goal is the agent within 1.5x of the floor; the paired
// run alternates the two and gives the median ratio, the figure to trust on a shared machine.
//
//   EGAISS_BENCH_SYNC_DOCS  documents each way (default 1000; smaller for a profiler run)
//   EGAISS_BENCH_SIM        another egaiss-sim binary to run against
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/uEgaissConfig.h"
#include "support/uSimProcess.h"
#include "sync/uSyncWorker.h"

namespace {

using egaiss::test::TSimProcess;

int DocsEachWay() {
    const char* value = std::getenv("EGAISS_BENCH_SYNC_DOCS");
    const int docs = value != nullptr ? std::atoi(value) : 0;
    return docs > 0 ? docs : 1000;
}

std::string SimExe() {
    const char* value = std::getenv("EGAISS_BENCH_SIM");
    return value != nullptr && *value != '\0' ? value : EGAISS_SIM_EXE;
}

// Both simulators without faults, and a temporary data folder for the agent's log and upload files.
class TBenchPeers {
public:
    TBenchPeers() : FOverride(FDir.Path()), FSim(SimExe(), "both", {"--docs", "0", "--outbox", "0"}) {}

    // Forgets everything, then queues `docs` documents on each side.
    void Refill(int docs) const {
        for (const auto& control : {FSim.Utm(), FSim.Server()})
            control.Post("/sim/reset", "{}");
        FSim.Utm().Post("/sim/docs", "{\"count\":" + std::to_string(docs) + "}");
        FSim.Server().Post("/sim/outbox", "{\"count\":" + std::to_string(docs) + "}");
    }

    std::size_t Moved() const {
        rapidjson::Document utm = FSim.Utm().State();
        return utm["counts"]["deleted"].GetUint64() + utm["counts"]["received"].GetUint64();
    }

    egaiss::TEgaissConfig Config() const {
        egaiss::TEgaissConfig cfg;
        cfg.ServerURL = FSim.ServerURL();
        cfg.AgentID = "agent-1";
        cfg.AgentSecret = "secret";
        cfg.UtmPort = FSim.UtmPort();
        return cfg;
    }

    const TSimProcess& Sim() const { return FSim; }
    std::string LogPath() const { return FDir.File("agent.log"); }

private:
    egaiss::test::TTempDir FDir;
    egaiss::TDataDirOverride FOverride;
    TSimProcess FSim;
};

TBenchPeers* Peers = nullptr;

// One kept-alive libcurl handle doing exactly the agent's requests, with no work of its own beyond
// building and reading the bodies.
class TCurlPeer {
public:
    explicit TCurlPeer(const std::vector<std::string>& headers)
        : FHandle(curl_easy_init(), &curl_easy_cleanup) {
        for (const auto& header : headers)
            FHeaders.reset(curl_slist_append(FHeaders.release(), header.c_str()));
        curl_easy_setopt(FHandle.get(), CURLOPT_WRITEFUNCTION, &TCurlPeer::OnBody);
        curl_easy_setopt(FHandle.get(), CURLOPT_WRITEDATA, &FBody);
    }

    const std::string& Get(const std::string& url) { return Perform(url, "GET", nullptr, nullptr); }
    const std::string& Delete(const std::string& url) { return Perform(url, "DELETE", nullptr, nullptr); }
    const std::string& PostJson(const std::string& url, const std::string& body) {
        return Perform(url, "POST", &body, nullptr);
    }
    const std::string& PostFile(const std::string& url, const std::string& xml) {
        const std::unique_ptr<curl_mime, decltype(&curl_mime_free)> mime(curl_mime_init(FHandle.get()),
                                                                         &curl_mime_free);
        curl_mimepart* part = curl_mime_addpart(mime.get());
        curl_mime_name(part, "xml_file");
        curl_mime_filename(part, "velmora_egaiss_00000000.xml");
        curl_mime_type(part, "text/xml");
        curl_mime_data(part, xml.data(), xml.size());
        return Perform(url, "POST", nullptr, mime.get());
    }

private:
    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
        static_cast<std::string*>(user)->append(data, size * count);
        return size * count;
    }

    const std::string& Perform(const std::string& url, const char* method, const std::string* body,
                               curl_mime* mime) {
        CURL* handle = FHandle.get();
        FBody.clear();
        curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
        curl_easy_setopt(handle, CURLOPT_HTTPHEADER, FHeaders.get());
        curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, std::string(method) == "DELETE" ? "DELETE" : nullptr);
        curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
        if (mime != nullptr) {
            curl_easy_setopt(handle, CURLOPT_MIMEPOST, mime);
        } else if (body != nullptr) {
            curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE, static_cast<long>(body->size()));
            curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body->c_str());
        }
        const CURLcode code = curl_easy_perform(handle);
        curl_easy_setopt(handle, CURLOPT_MIMEPOST, nullptr);
        long status = 0;
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
        if (code != CURLE_OK || status >= 400) {
            throw std::runtime_error(std::string(method) + " " + url + ": " + curl_easy_strerror(code) +
                                     " status " + std::to_string(status));
        }
        return FBody;
    }

    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> FHandle;
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> FHeaders{nullptr, &curl_slist_free_all};
    std::string FBody;
};

std::string JsonObject(const std::vector<std::pair<const char*, std::string>>& members,
                       bool syncCompleted = false) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    for (const auto& [name, value] : members) {
        writer.Key(name);
        writer.String(value.c_str(), static_cast<rapidjson::SizeType>(value.size()));
    }
    if (syncCompleted) {
        writer.Key("sync_completed");
        writer.Bool(true);
    }
    writer.EndObject();
    return buffer.GetString();
}

// The requests of one clean cycle, in the agent's order.
void CurlCycle(const egaiss::TEgaissConfig& cfg) {
    const std::string utmBase = cfg.UtmBaseURL();
    const auto route = [&](const std::string& encoded) {
        return cfg.ServerURL + "?route=egaiss%2Fagent%2F" + encoded;
    };
    TCurlPeer utm({"Accept-Encoding: identity", "Accept:"});
    const std::vector<std::string> auth{"X-Egaiss-Agent-Id: " + cfg.AgentID,
                                        "X-Egaiss-Agent-Secret: " + cfg.AgentSecret};
    TCurlPeer server({"Accept-Encoding: identity", "Content-Type: application/json; charset=utf-8",
                      "Accept: application/json", auth[0], auth[1]});

    utm.Get(utmBase + "/");
    rapidjson::Document known;
    known.Parse(server.Get(route("inbox%2Fknown")).c_str());
    std::set<std::string> knownURLs;
    for (const auto& url : known["utm_urls"].GetArray())
        knownURLs.insert(url.GetString());

    std::vector<std::string> urls;
    const std::string listing = utm.Get(utmBase + "/opt/out?refresh=true");
    for (auto at = listing.find("<url"); at != std::string::npos; at = listing.find("<url", at + 1)) {
        const auto start = listing.find('>', at) + 1;
        urls.push_back(listing.substr(start, listing.find('<', start) - start));
    }
    for (const std::string& url : urls) {
        if (knownURLs.count(url) != 0) continue;
        const std::string xml = utm.Get(url);
        const std::string type =
            url.substr(url.find("/opt/out/") + 9, url.rfind('/') - url.find("/opt/out/") - 9);
        server.PostJson(route("inbox"), JsonObject({{"utm_url", url}, {"doc_type", type}, {"xml", xml}}));
        utm.Delete(url);
    }

    rapidjson::Document outbox;
    outbox.Parse(server.Get(route("outbox")).c_str());
    for (const auto& doc : outbox["documents"].GetArray()) {
        const std::string reply =
            utm.PostFile(utmBase + "/opt/in/" + doc["doc_type"].GetString(), doc["xml"].GetString());
        server.PostJson(route(std::string("outbox%2F") + doc["doc_id"].GetString() + "%2Fsent"),
                        JsonObject({{"utm_url", reply}, {"utm_response", reply}}));
    }
    server.PostJson(route("ping"), JsonObject({{"version", "0.4.3"}}, true));
}

// Seconds one cycle over freshly queued documents takes; raises when not every document moved.
template <typename TCycle>
double TimeOneCycle(int docs, TCycle cycle) {
    Peers->Refill(docs);
    const auto started = std::chrono::steady_clock::now();
    cycle();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (Peers->Moved() != static_cast<std::size_t>(2 * docs))
        throw std::runtime_error("not every document moved");
    return seconds;
}

void AgentCycle(const egaiss::TEgaissConfig& cfg) {
    bool ok = false;
    std::string msg;
    egaiss::RunSyncCycle(cfg, ok, msg);
    if (!ok) throw std::runtime_error(msg);
}

template <typename TCycle>
void MeasureCycles(benchmark::State& state, TCycle cycle) {
    const int docs = DocsEachWay();
    try {
        for (auto _ : state)
            state.SetIterationTime(TimeOneCycle(docs, cycle));
    } catch (const std::exception& error) {
        state.SkipWithError(error.what());
        return;
    }
    state.counters["docs_per_s"] =
        benchmark::Counter(2.0 * docs * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void RunSyncCycleAgainstSimulators(benchmark::State& state) {
    const egaiss::TEgaissConfig cfg = Peers->Config();
    MeasureCycles(state, [&] { AgentCycle(cfg); });
}
BENCHMARK(RunSyncCycleAgainstSimulators)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BareCurlFloorAgainstSimulators(benchmark::State& state) {
    const egaiss::TEgaissConfig cfg = Peers->Config();
    MeasureCycles(state, [&] { CurlCycle(cfg); });
}
BENCHMARK(BareCurlFloorAgainstSimulators)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// The agent and the floor one after the other, pair by pair, so that a shared machine slowing down
// for a while weighs on both sides; reports the median of the pairs' ratios.
void AgentOverFloorPaired(benchmark::State& state) {
    const egaiss::TEgaissConfig cfg = Peers->Config();
    const int docs = DocsEachWay();
    std::vector<double> ratios;
    try {
        for (auto _ : state) {
            const double agent = TimeOneCycle(docs, [&] { AgentCycle(cfg); });
            const double floor = TimeOneCycle(docs, [&] { CurlCycle(cfg); });
            state.SetIterationTime(agent);
            ratios.push_back(agent / floor);
        }
    } catch (const std::exception& error) {
        state.SkipWithError(error.what());
        return;
    }
    std::sort(ratios.begin(), ratios.end());
    state.counters["median_ratio"] = ratios[ratios.size() / 2];
    state.counters["best_ratio"] = ratios.front();
    state.counters["worst_ratio"] = ratios.back();
}
BENCHMARK(AgentOverFloorPaired)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(7);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    {
        TBenchPeers peers;
        Peers = &peers;
        benchmark::RunSpecifiedBenchmarks();
        Peers = nullptr;
    }
    benchmark::Shutdown();
    curl_global_cleanup();
    return 0;
}
