// A 100,000-row Windows-1251 price file read and turned into both scale tables, as the folder
// loader does it. Goal in a Release build: 100 ms and at most 20 MB of added peak memory even cold.
//
// Before the timed runs, the cold case runs in fresh processes (this program started again with
// --cold-run): nothing of the reader is loaded, allocated or cached yet, as at an agent's first
// price file. It runs twice: with the file in the page cache (as just written by the ERP), and
// with the file's pages dropped from the cache (fdatasync, then posix_fadvise DONTNEED; no root
// needed), so that the read comes from the disk. Each prints its wall time, CPU time and the peak
// resident memory the load added to the process.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
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

double CpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
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
    TScaleTables tables;
    std::string err;
    if (!LoadPriceFileTables(GPriceFile, tables, err)) throw EAgentError(err);
    benchmark::DoNotOptimize(tables.Goods.data());
    benchmark::DoNotOptimize(tables.Plu.data());
    return tables.Goods.size() + tables.Plu.size();
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

// The whole cold case in this fresh process.
int ColdRun(const char* label) {
    const long rssBefore = PeakRssKb();
    const double cpuBefore = CpuMs();
    const auto start = std::chrono::steady_clock::now();
    const std::size_t tableBytes = LoadAndBuild();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    std::printf(
        "cold run, fresh process, %s: %d rows, %zu table bytes, %.1f ms (CPU %.1f ms), peak RSS +%ld KiB "
        "(%ld KiB in all)\n",
        label, RowCount, tableBytes, std::chrono::duration<double, std::milli>(elapsed).count(),
        CpuMs() - cpuBefore, PeakRssKb() - rssBefore, PeakRssKb());
    return 0;
}

void DropFromPageCache(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

void SpawnColdRun(const char* label) {
    char self[] = "/proc/self/exe";
    std::string mode = "--cold-run";
    std::string labelText = label;
    char* args[] = {self, mode.data(), GPriceFile.data(), labelText.data(), nullptr};
    pid_t child = 0;
    if (::posix_spawn(&child, self, nullptr, nullptr, args, environ) != 0) {
        std::perror("posix_spawn");
        return;
    }
    int status = 0;
    ::waitpid(child, &status, 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--cold-run") {
        GPriceFile = argv[2];
        return ColdRun(argv[3]);
    }
    const auto folder = std::filesystem::temp_directory_path() /
                        ("bench_price_file_" + std::to_string(static_cast<long>(::getpid())));
    std::filesystem::create_directories(folder);
    GPriceFile = PathUtf8(folder / "massa_k.csv");
    WritePriceFile(GPriceFile);

    SpawnColdRun("file in the page cache");
    DropFromPageCache(GPriceFile);
    SpawnColdRun("file dropped from the page cache");

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::error_code error;
    std::filesystem::remove_all(folder, error);
    return 0;
}
