#pragma once
// Owns the worker threads of one object. A worker whose work has returned is joined, either when the
// next one starts or when the owner goes, so the process never ends while a worker's thread is still
// tearing down (its thread-local state freed half-way). A worker still busy when the owner goes is
// left to run on detached: closing a window or stopping the agent must not wait for a slow peer.
#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <thread>

namespace egaiss {

class TWorkerThreads {
public:
    TWorkerThreads() = default;
    TWorkerThreads(const TWorkerThreads&) = delete;
    TWorkerThreads& operator=(const TWorkerThreads&) = delete;
    ~TWorkerThreads();

    void Start(std::function<void()> work);

private:
    struct TWorker {
        std::thread Thread;
        std::shared_ptr<std::atomic<bool>> WorkReturned;
    };

    void JoinReturned();

    std::list<TWorker> FWorkers;  // touched only on the owner's thread
};

}  // namespace egaiss
