#include "scales/uMassaKDiscovery.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <memory>
#include <set>

#include "platform/uErrors.h"
#include "platform/uSockets.h"
#include "scales/uMassaKProto.h"

namespace egaiss {
namespace {

using TClock = std::chrono::steady_clock;
using TSocketPtr = std::shared_ptr<platform::TUdpSocket>;

constexpr std::size_t AnswerBufferSize = 512;
constexpr std::size_t SerialAnswerMinData = 22;
constexpr int PollWaitMs = 1;
constexpr int AnswerWaitMs = 50;
constexpr int ListenReceiveMs = 200;
constexpr auto ScanReportEvery = std::chrono::milliseconds(30);

// The running search's socket, shared so that whichever thread closes it last frees it.
std::atomic<TSocketPtr>& DiscoverySlot() {
    static std::atomic<TSocketPtr> slot;
    return slot;
}

class TSearch {
public:
    TSearch(const TMassaDiscoveryParams& params, const std::atomic<bool>& cancel,
            const TMassaProgress& progress, const TMassaFound& found, TSocketPtr socket)
        : FParams(params),
          FCancel(cancel),
          FProgress(progress),
          FFound(found),
          FSocket(std::move(socket)),
          FProbe(BuildMassaFrame(MassaCmdProbe)) {}

    std::vector<TMassaDevice> Run(const std::vector<TLocalSubnet>& subnets) {
        Report(IpToText(FParams.LimitedBroadcast));
        Probe(FParams.LimitedBroadcast);
        WaitAnswers(FParams.BroadcastWaitMs);
        for (const TLocalSubnet& subnet : subnets) {
            if (Stopped()) break;
            Report("bc " + IpToText(subnet.Bcast));
            Probe(subnet.Bcast);
            WaitAnswers(FParams.SubnetBroadcastWaitMs);
            Scan(subnet);
            WaitAnswers(FParams.AfterScanWaitMs);
        }
        if (!Stopped()) {
            FReceiveMs = ListenReceiveMs;
            Report("listen");
            const auto until = TClock::now() + std::chrono::milliseconds(
                                                   std::max(FParams.TimeoutMs / 2, FParams.MinListenMs));
            while (TClock::now() < until && !Stopped())
                DrainAnswers();
        }
        return FDevices;
    }

private:
    // A closed socket ends the search like the cancel flag: every later call would fail at once.
    bool Stopped() const { return FCancel.load() || FSocket->IsClosed(); }

    void Report(const std::string& text) {
        if (FProgress) FProgress(text, static_cast<int>(FDevices.size()));
    }

    void Probe(std::uint32_t address) {
        if (Stopped()) return;
        // A probe the network drops is simply not answered.
        FSocket->SendTo({address, static_cast<std::uint16_t>(FParams.Port)}, FProbe);
    }

    void Scan(const TLocalSubnet& subnet) {
        const TMassaScanRange range = MassaScanRange(subnet);
        if (range.Empty) return;
        TClock::time_point lastReport{};
        bool reported = false;
        for (std::uint64_t address = range.First; address <= range.Last && !Stopped(); ++address) {
            if (address == subnet.Ip) continue;
            const auto now = TClock::now();
            if (!reported || now - lastReport >= ScanReportEvery || address == range.Last) {
                Report(IpToText(static_cast<std::uint32_t>(address)));
                lastReport = now;
                reported = true;
            }
            Probe(static_cast<std::uint32_t>(address));
            DrainAnswers();
        }
    }

    void WaitAnswers(int ms) {
        FReceiveMs = AnswerWaitMs;
        const auto until = TClock::now() + std::chrono::milliseconds(std::max(ms, AnswerWaitMs));
        while (TClock::now() < until && !Stopped())
            DrainAnswers();
        FReceiveMs = PollWaitMs;
    }

    // Takes the answers that arrive within the current receive wait of each other.
    void DrainAnswers() {
        std::array<std::uint8_t, AnswerBufferSize> buffer{};
        while (!Stopped()) {
            platform::TIPv4Endpoint from;
            const platform::TIoResult received = FSocket->ReceiveFrom(buffer, FReceiveMs, from);
            if (!received.Ok()) return;
            std::uint8_t command = 0;
            TBytes data;
            if (!ParseMassaFrame(std::span(buffer).first(received.Bytes), command, data) ||
                command != MassaAnsProbe) {
                continue;
            }
            TMassaDevice device{IpToText(from.Address), FParams.Port, {}};
            if (!FSeen.insert(device.Host).second) continue;
            if (data.size() >= SerialAnswerMinData) device.Serial = SerialFromAnswer(data);
            FDevices.push_back(device);
            if (FFound) FFound(device);
        }
    }

    const TMassaDiscoveryParams& FParams;
    const std::atomic<bool>& FCancel;
    const TMassaProgress& FProgress;
    const TMassaFound& FFound;
    TSocketPtr FSocket;
    const TBytes FProbe;
    int FReceiveMs = PollWaitMs;
    std::set<std::string> FSeen;
    std::vector<TMassaDevice> FDevices;
};

// Empties the slot when it still holds this search's socket; CloseDiscoverySocket may have taken it.
class TSlotRelease {
public:
    explicit TSlotRelease(TSocketPtr socket) : FSocket(std::move(socket)) {}
    ~TSlotRelease() {
        TSocketPtr expected = FSocket;
        if (DiscoverySlot().compare_exchange_strong(expected, nullptr)) FSocket->Close();
    }
    TSlotRelease(const TSlotRelease&) = delete;
    TSlotRelease& operator=(const TSlotRelease&) = delete;

private:
    TSocketPtr FSocket;
};

}  // namespace

TMassaScanRange MassaScanRange(const TLocalSubnet& subnet) {
    const std::uint32_t scanMask = ~subnet.Mask > 254 ? 0xFFFFFF00u : subnet.Mask;
    const std::uint32_t net = subnet.Ip & scanMask;
    const std::uint32_t bcast = net | ~scanMask;
    if (bcast - net < 2) return {};
    return {net + 1, bcast - 1, false};
}

std::vector<TMassaDevice> DiscoverMassaScales(const TMassaDiscoveryParams& params,
                                              const std::atomic<bool>& cancel, const TMassaProgress& progress,
                                              const TMassaFound& found) {
    if (!InitWinsock() || params.Port <= 0 || params.Port > 0xFFFF) return {};
    TSocketPtr socket;
    try {
        socket = std::make_shared<platform::TUdpSocket>();
        // Bound before the first receive: Winsock refuses to receive on an unbound socket.
        socket->Bind({params.LocalAddress, 0});
    } catch (const ETransportError&) {
        return {};
    }
    DiscoverySlot().store(socket);
    const TSlotRelease release(socket);
    try {
        socket->EnableBroadcast();
    } catch (const ETransportError&) {
        // Without it only the broadcast probes fail; the single addresses still work.
    }
    const std::vector<TLocalSubnet> subnets = params.Subnets ? *params.Subnets : GetLocalSubnets();
    TSearch search(params, cancel, progress, found, socket);
    return search.Run(subnets);
}

std::vector<TMassaDevice> DiscoverMassaScales(int timeoutMs, int port, const std::atomic<bool>& cancel,
                                              const TMassaProgress& progress, const TMassaFound& found) {
    TMassaDiscoveryParams params;
    params.TimeoutMs = timeoutMs;
    params.Port = port;
    return DiscoverMassaScales(params, cancel, progress, found);
}

void CloseDiscoverySocket() {
    if (const TSocketPtr socket = DiscoverySlot().exchange(nullptr)) socket->Close();
}

std::vector<TLocalSubnet> GetLocalSubnets() {
    return GetLocalSubnets(platform::ListNetAdapters());
}

std::vector<TLocalSubnet> GetLocalSubnets(const std::vector<platform::TNetAdapter>& adapters) {
    std::vector<TLocalSubnet> subnets;
    for (const platform::TNetAdapter& adapter : adapters) {
        if (adapter.Loopback || !adapter.Up) continue;
        for (const platform::TIPv4Prefix& prefix : adapter.IPv4) {
            const std::uint32_t ip = prefix.Address;
            if (ip == 0 || (ip >> 24) == 127 || (ip >> 16) == 0xA9FE) continue;
            const int length =
                prefix.PrefixLength <= 0 || prefix.PrefixLength > 32 ? 24 : prefix.PrefixLength;
            const TLocalSubnet subnet = TLocalSubnet::Of(ip, platform::TIPv4Prefix{ip, length}.Mask());
            const bool known = std::any_of(subnets.begin(), subnets.end(), [&](const TLocalSubnet& other) {
                return other.Net == subnet.Net && other.Mask == subnet.Mask;
            });
            if (!known) subnets.push_back(subnet);
        }
    }
    return subnets;
}

std::string IpToText(std::uint32_t address) {
    return platform::IPv4Text(address);
}

std::string SerialFromAnswer(std::span<const std::uint8_t> data) {
    if (data.size() < 9) return {};
    const std::uint32_t serial = data[5] | (static_cast<std::uint32_t>(data[6]) << 8) |
                                 (static_cast<std::uint32_t>(data[7]) << 16) |
                                 (static_cast<std::uint32_t>(data[8]) << 24);
    return std::to_string(serial);
}

bool ParseSubnet(const std::string& text, TLocalSubnet& subnet) {
    const auto slash = text.find('/');
    std::uint32_t address = 0;
    if (!platform::ParseIPv4(text.substr(0, slash), address)) return false;
    int prefix = 32;
    if (slash != std::string::npos) {
        const char* first = text.data() + slash + 1;
        const char* last = text.data() + text.size();
        const auto [end, failure] = std::from_chars(first, last, prefix);
        if (first == last || failure != std::errc() || end != last || prefix < 0 || prefix > 32) return false;
    }
    const std::uint32_t mask = platform::TIPv4Prefix{address, prefix}.Mask();
    subnet = TLocalSubnet::Of(address & mask, mask);
    return true;
}

void RestrictSearch(TMassaDiscoveryParams& params, const std::vector<TLocalSubnet>& subnets) {
    if (subnets.empty()) return;
    params.Subnets = subnets;
    params.LimitedBroadcast = subnets.front().Bcast;
}

TMassaDiscoveryParams BrandSearchParams(const std::string& searchSubnets) {
    std::vector<TLocalSubnet> subnets;
    std::string entry;
    for (const char c : searchSubnets + ",") {
        if (c != ',' && c != ' ' && c != '\t') {
            entry += c;
            continue;
        }
        TLocalSubnet subnet;
        if (!entry.empty() && ParseSubnet(entry, subnet)) subnets.push_back(subnet);
        entry.clear();
    }
    TMassaDiscoveryParams params;
    RestrictSearch(params, subnets);
    return params;
}

}  // namespace egaiss
