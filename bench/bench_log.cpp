// Log throughput and the cost of the tail view, which must not grow with the size of agent.log.
#include <benchmark/benchmark.h>

#include <atomic>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "core/uEgaissConfig.h"
#include "core/uEgaissLog.h"
#include "platform/uPath.h"
#include "platform/uSystem.h"

namespace {

using egaiss::TDataDirOverride;

// A temporary data folder, removed when the object ends.
class TBenchDir {
public:
    TBenchDir() {
        static std::atomic<int> counter{0};
        FPath = std::filesystem::temp_directory_path() /
                ("egaiss-bench-" + std::to_string(egaiss::platform::ProcessId()) + "-" +
                 std::to_string(counter++));
        std::filesystem::create_directories(FPath);
    }
    ~TBenchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(FPath, ignored);
    }
    TBenchDir(const TBenchDir&) = delete;
    TBenchDir& operator=(const TBenchDir&) = delete;
    std::string Path() const { return egaiss::PathUtf8(FPath); }

private:
    std::filesystem::path FPath;
};

std::string NowStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

// A data folder holding an agent.log of about `megabytes` MB, written once per size.
const TBenchDir& LogOfSize(int megabytes) {
    static std::map<int, std::unique_ptr<TBenchDir>> logs;
    auto& dir = logs[megabytes];
    if (dir) return *dir;
    dir = std::make_unique<TBenchDir>();
    const std::string stamp = NowStamp();
    const std::size_t target = static_cast<std::size_t>(megabytes) * 1024 * 1024;
    std::ofstream file(egaiss::Utf8Path(dir->Path()) / "agent.log", std::ios::binary);
    std::string chunk;
    std::size_t written = 0;
    for (long n = 0; written < target; ++n) {
        chunk += stamp + " [STEP] Sync.in_fetch | http://127.0.0.1:8080/opt/out/WayBill_v4/" +
                 std::to_string(n) + "\r\n";
        if (chunk.size() >= (1 << 20)) {
            file << chunk;
            written += chunk.size();
            chunk.clear();
        }
    }
    file << chunk;
    return *dir;
}

void BM_WriteLogLine(benchmark::State& state) {
    const TBenchDir dir;
    const TDataDirOverride dataDir(dir.Path());
    long n = 0;
    for (auto _ : state) {
        egaiss::WriteLogLine("[INFO] benchmark line " + std::to_string(n++));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WriteLogLine)->UseRealTime();

void BM_ReadLogTail300(benchmark::State& state) {
    const TBenchDir& dir = LogOfSize(static_cast<int>(state.range(0)));
    const TDataDirOverride dataDir(dir.Path());
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string tail = egaiss::ReadLogTail(300);
        bytes = tail.size();
        benchmark::DoNotOptimize(tail);
    }
    state.counters["tail_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ReadLogTail300)->Arg(1)->Arg(100)->ArgName("MB")->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
