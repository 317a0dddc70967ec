// Requests per second of TUtmApi::FetchDocument on loopback: one client kept alive across requests
// against a new client (and so a new connection) per request.
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "clients/uUtmApi.h"
#include "core/uEgaissConfig.h"
#include "platform/uPath.h"

namespace {

using egaiss::TUtmApi;

// A UTM stand-in on 127.0.0.1 that hands out one 4 KiB document, with the log in a temporary
// data folder so that nothing is written beside the benchmark.
class TUtmStandIn {
public:
    TUtmStandIn()
        : FDataDir(std::filesystem::temp_directory_path() /
                   ("egaiss-bench-utm-" +
                    std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()))),
          FOverride((std::filesystem::create_directories(FDataDir), egaiss::PathUtf8(FDataDir))) {
        const std::string document =
            "<?xml version=\"1.0\"?><ns:WayBill>" + std::string(4096, 'x') + "</ns:WayBill>";
        FServer.Get("/opt/out/WayBill_v4/1", [document](const httplib::Request&, httplib::Response& res) {
            res.set_content(document, "text/xml");
        });
        FServer.set_keep_alive_max_count(1000000);
        FServer.set_tcp_nodelay(true);
        FPort = FServer.bind_to_any_port("127.0.0.1");
        FThread = std::thread([this] { FServer.listen_after_bind(); });
        while (!FServer.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~TUtmStandIn() {
        FServer.stop();
        FThread.join();
        std::error_code ignored;
        std::filesystem::remove_all(FDataDir, ignored);
    }

    std::string BaseURL() const { return "http://127.0.0.1:" + std::to_string(FPort); }

private:
    std::filesystem::path FDataDir;
    egaiss::TDataDirOverride FOverride;
    httplib::Server FServer;
    int FPort = 0;
    std::thread FThread;
};

TUtmStandIn* StandIn = nullptr;

void FetchDocumentReusedClient(benchmark::State& state) {
    TUtmApi utm(StandIn->BaseURL());
    for (auto _ : state)
        benchmark::DoNotOptimize(utm.FetchDocument("/opt/out/WayBill_v4/1"));
    state.counters["requests_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(FetchDocumentReusedClient)->UseRealTime();

void FetchDocumentNewClientPerRequest(benchmark::State& state) {
    for (auto _ : state) {
        TUtmApi utm(StandIn->BaseURL());
        benchmark::DoNotOptimize(utm.FetchDocument("/opt/out/WayBill_v4/1"));
    }
    state.counters["requests_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(FetchDocumentNewClientPerRequest)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    TUtmStandIn standIn;
    StandIn = &standIn;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    StandIn = nullptr;
    return 0;
}
