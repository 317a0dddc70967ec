// Loading a 3,000-product goods and PLU table pair into the scale simulator on loopback, next to
// the protocol's floor: every frame of a load (work mode, reset, each 1 KiB part) waits for its
// answer, so a load cannot be faster than the number of frames times one round trip.
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

#include "core/uEgaissConfig.h"
#include "platform/uPath.h"
#include "platform/uSockets.h"
#include "scales/uMassaKFile.h"
#include "scales/uMassaKProto.h"
#include "uSimScale.h"

namespace {

using namespace egaiss;

constexpr int Products = 3000;

TMassaPluRows ShopRows() {
    TMassaPluRows rows;
    for (int i = 1; i <= Products; ++i) {
        TMassaPluRow row;
        row.Id = row.Plu = static_cast<std::uint32_t>(i);
        row.Code = std::to_string(100000 + i);
        row.Name = "Колбаса варёная «Докторская» в/с, вес №" + std::to_string(i);
        row.Ingredients = "свинина, говядина, вода, яйца куриные, молоко сухое, соль, специи";
        row.PriceKop = static_cast<std::uint32_t>(30000 + i);
        row.BarcodePrefix = 21;
        row.ShelfLifeDays = i % 2 == 0 ? 15 : 0;
        rows.push_back(row);
    }
    return rows;
}

std::size_t Parts(const TBytes& file) {
    return (file.size() + MassaPartSize - 1) / MassaPartSize;
}

// The simulator in process on 127.0.0.1, with the agent's log in a temporary data folder.
class TScaleStandIn {
public:
    TScaleStandIn()
        : FDataDir(std::filesystem::temp_directory_path() /
                   ("egaiss-bench-scales-" +
                    std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()))),
          FOverride((std::filesystem::create_directories(FDataDir), PathUtf8(FDataDir))),
          FScale(Settings()) {
        FScale.Bind(0);
        FScale.Start();
    }
    ~TScaleStandIn() {
        FScale.Stop();
        std::error_code ignored;
        std::filesystem::remove_all(FDataDir, ignored);
    }
    int Port() const { return FScale.Port(); }
    const sim::TSimScale& Scale() const { return FScale; }

private:
    static sim::TScaleSettings Settings() {
        sim::TScaleSettings settings;
        settings.Quiet = true;
        return settings;
    }

    std::filesystem::path FDataDir;
    TDataDirOverride FOverride;
    sim::TSimScale FScale;
};

TBytes WorkModeFrame() {
    const std::array<std::uint8_t, 1> workMode = {0x04};
    return BuildMassaFrame(MassaCmdSetWorkMode, workMode);
}

// A whole goods table in one full part: the largest frame of a load.
TBytes FullPartFrame() {
    TBytes data = {MassaGoodsFileCode, 1, 0, 1, 0, 0x00, 0x04};
    data.resize(7 + MassaPartSize, 0x5A);
    return BuildMassaFrame(MassaCmdDFile, data);
}

// Mean time of one frame and its answer on a connection that stays open.
double RoundTripSeconds(int port, const TBytes& frame, int exchanges) {
    platform::TTcpConnection socket;
    std::string err;
    if (!MassaTcpConnect("127.0.0.1", port, socket, err)) return 0;
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < exchanges; ++i) {
        std::uint8_t command = 0;
        TBytes data;
        if (!MassaTcpTransact(socket, frame, 5000, command, data)) return 0;
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() / exchanges;
}

// The checksum of one full part's body alone: the share of each part that is pure computation.
// Each round takes the next part of a real goods table, as one buffer summed over and over would
// let the branch predictor learn it and flatter a branchy loop.
void BM_PartChecksum(benchmark::State& state) {
    const TBytes goods = BuildGoodsFile(ShopRows());
    const std::size_t parts = goods.size() / MassaPartSize;
    std::size_t part = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(MassaCrc16(goods, part * MassaPartSize, MassaPartSize));
        part = part + 1 == parts ? 0 : part + 1;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * MassaPartSize));
}
BENCHMARK(BM_PartChecksum);

// Arg 0: a 9-byte command frame; arg 1: a full 1 KiB part.
void BM_ScaleRoundTrip(benchmark::State& state) {
    const TScaleStandIn standIn;
    platform::TTcpConnection socket;
    std::string err;
    if (!MassaTcpConnect("127.0.0.1", standIn.Port(), socket, err)) {
        state.SkipWithError(err.c_str());
        return;
    }
    const TBytes frame = state.range(0) == 0 ? WorkModeFrame() : FullPartFrame();
    for (auto _ : state) {
        std::uint8_t command = 0;
        TBytes data;
        if (!MassaTcpTransact(socket, frame, 5000, command, data)) state.SkipWithError("no answer");
    }
}
BENCHMARK(BM_ScaleRoundTrip)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_UploadTablePair3000(benchmark::State& state) {
    const TScaleStandIn standIn;
    const TMassaPluRows rows = ShopRows();
    const TBytes goods = BuildGoodsFile(rows);
    const TBytes plu = BuildPluFile(rows);
    const std::size_t frames = 2 + Parts(goods) + Parts(plu);
    const double roundTrip = RoundTripSeconds(standIn.Port(), WorkModeFrame(), 500);
    const double partTrip = RoundTripSeconds(standIn.Port(), FullPartFrame(), 500);
    for (auto _ : state) {
        std::string err;
        if (!UploadToMassaScale("127.0.0.1", standIn.Port(), goods, plu, err)) {
            state.SkipWithError(err.c_str());
            return;
        }
    }
    if (standIn.Scale().Tables().Goods != goods) state.SkipWithError("the simulator got another goods table");
    state.counters["goods_bytes"] = static_cast<double>(goods.size());
    state.counters["plu_bytes"] = static_cast<double>(plu.size());
    state.counters["frames"] = static_cast<double>(frames);
    state.counters["rtt_us"] = roundTrip * 1e6;
    state.counters["floor_ms"] = static_cast<double>(frames) * roundTrip * 1e3;
    // The same with every part as large as a full one: what moving and checking the bytes adds.
    state.counters["part_rtt_us"] = partTrip * 1e6;
    state.counters["part_floor_ms"] = (2 * roundTrip + static_cast<double>(frames - 2) * partTrip) * 1e3;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * (goods.size() + plu.size())));
}
BENCHMARK(BM_UploadTablePair3000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
