#include "agent/uWorkerThreads.h"

namespace egaiss {

TWorkerThreads::~TWorkerThreads() {
    JoinReturned();
    for (TWorker& worker : FWorkers)
        worker.Thread.detach();
}

void TWorkerThreads::Start(std::function<void()> work) {
    JoinReturned();
    auto returned = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([work = std::move(work), returned] {
        work();
        returned->store(true);
    });
    FWorkers.push_back({std::move(thread), std::move(returned)});
}

// A returned worker has only its thread's exit left, so joining it takes no time worth counting.
void TWorkerThreads::JoinReturned() {
    FWorkers.remove_if([](TWorker& worker) {
        if (!worker.WorkReturned->load()) return false;
        worker.Thread.join();
        return true;
    });
}

}  // namespace egaiss
