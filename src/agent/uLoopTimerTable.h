#pragma once
// The timers of a loop that keeps them itself (the portable loop, the Win32 loop): their entries in
// a table by id that only the loop's thread touches, and timer objects that lead to them. A loop
// runs a tick from a copy of its entry, so that the tick may destroy its own timer.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <utility>

#include "agent/uMainLoop.h"

namespace egaiss {

// What every such loop keeps of a timer; a loop's own entry type adds to it.
struct TLoopTimerEntry {
    std::function<void()> Tick;
    std::chrono::milliseconds Interval{0};
    bool Active = false;
};

template <typename TEntry>
using TLoopTimerTable = std::map<std::uint64_t, TEntry>;

// A timer whose interval and state live in its loop's table; the loop's own timer class says what
// starting and stopping mean there.
template <typename TEntry>
class TTableLoopTimer : public TLoopTimer {
public:
    // Adds a stopped timer's entry to `table` under the next id.
    TTableLoopTimer(TLoopTimerTable<TEntry>& table, std::uint64_t& nextId, std::function<void()>&& tick)
        : FTable(table), FId(nextId++) {
        FTable[FId].Tick = std::move(tick);
    }
    ~TTableLoopTimer() override { FTable.erase(FId); }
    TTableLoopTimer(const TTableLoopTimer&) = delete;
    TTableLoopTimer& operator=(const TTableLoopTimer&) = delete;

    void SetInterval(std::chrono::milliseconds interval) override {
        Entry().Interval = std::max(interval, std::chrono::milliseconds(0));
        if (IsActive()) Start();
    }
    std::chrono::milliseconds Interval() const override { return FTable.at(FId).Interval; }
    bool IsActive() const override { return FTable.at(FId).Active; }

protected:
    TEntry& Entry() { return FTable.at(FId); }
    std::uint64_t Id() const { return FId; }

private:
    TLoopTimerTable<TEntry>& FTable;
    const std::uint64_t FId;
};

}  // namespace egaiss
