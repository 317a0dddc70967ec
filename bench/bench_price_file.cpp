// A 100,000-row Windows-1251 price file read and turned into both scale tables; goal: under 150 ms
// in a Release build. Before the timed runs, one cold run (fresh process memory) is reported with
// the peak resident memory it adds.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/uCodePage.h"
#include "platform/uFileSystem.h"
#include "platform/uPath.h"
#include "scales/uMassaKFile.h"
#include "scales/uPriceFile.h"

namespace {

using namespace egaiss;

constexpr int RowCount = 100000;

std::string GPriceFile;

long PeakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A price file as the ERP writes it: every column filled, quoted Cyrillic names. Written in
// chunks so that making it leaves no memory high-water mark above the one being measured.
void WritePriceFile(const std::string& path) {
    std::string text =
        "PLU;TYPE;DEPT;STOCK;BARCODE_PREFIX;PRICE;TARE;CODE;BEST_BEFORE;SHELF_LIFE;CERTIFICATE;GROUP;"
        "CENTERING;NAME;CONTENT;NOTE;INFO\r\n";
    char line[512];
    for (int i = 1; i <= RowCount; ++i) {
        std::snprintf(line, sizeof line,
                      "%d;%d;1;0;2%d;%d,%02d;%d;A%07d;%02d.%02d.2026 %02d:%02d;%d;ГОСТ;%d;%d;"
                      "\"Колбаса \"\"Докторская\"\" вар. №%d\";Свинина, говядина, вода, соль, специи;;"
                      "46%011d\r\n",
                      i, i % 2, i % 10, i % 5000, i % 100, i % 3 == 0 ? 150 : 0, i, i % 28 + 1, i % 12 + 1,
                      i % 24, i % 60, i % 90, i % 400, i % 3, i, i);
        text += line;
        if (i % 1000 == 0 || i == RowCount) {
            platform::AppendToFile(path, platform::Utf8ToCp1251(text));
            text.clear();
        }
    }
}

// What the folder loader does with a price file; the size of both tables.
std::size_t LoadAndBuild() {
    TMassaPluRows rows;
    std::string err;
    if (!LoadPriceFile(GPriceFile, rows, err)) throw EAgentError(err);
    const TBytes goods = BuildGoodsFile(rows);
    const TBytes plu = BuildPluFile(rows);
    benchmark::DoNotOptimize(goods.data());
    benchmark::DoNotOptimize(plu.data());
    return goods.size() + plu.size();
}

void PriceFileToTables(benchmark::State& state) {
    std::size_t bytes = 0;
    for (auto _ : state)
        bytes = LoadAndBuild();
    state.counters["table_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(PriceFileToTables)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void LoadPriceFileOnly(benchmark::State& state) {
    for (auto _ : state) {
        TMassaPluRows rows;
        std::string err;
        benchmark::DoNotOptimize(LoadPriceFile(GPriceFile, rows, err));
    }
}
BENCHMARK(LoadPriceFileOnly)->Unit(benchmark::kMillisecond);

void BuildTablesOnly(benchmark::State& state) {
    TMassaPluRows rows;
    std::string err;
    LoadPriceFile(GPriceFile, rows, err);
    for (auto _ : state) {
        const TBytes goods = BuildGoodsFile(rows);
        const TBytes plu = BuildPluFile(rows);
        benchmark::DoNotOptimize(goods.data());
        benchmark::DoNotOptimize(plu.data());
    }
}
BENCHMARK(BuildTablesOnly)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("bench_price_file_" + std::to_string(static_cast<long>(::getpid())));
    std::filesystem::create_directories(folder);
    GPriceFile = PathUtf8(folder / "massa_k.csv");
    WritePriceFile(GPriceFile);

    const long rssBefore = PeakRssKb();
    const auto start = std::chrono::steady_clock::now();
    const std::size_t tableBytes = LoadAndBuild();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    std::printf("cold run: %d rows, %zu table bytes, %.1f ms, peak RSS +%ld KiB (%ld KiB in all)\n", RowCount,
                tableBytes, std::chrono::duration<double, std::milli>(elapsed).count(),
                PeakRssKb() - rssBefore, PeakRssKb());

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::error_code error;
    std::filesystem::remove_all(folder, error);
    return 0;
}
