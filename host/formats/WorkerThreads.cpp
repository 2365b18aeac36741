#include "host/formats/WorkerThreads.h"

#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace corvantis {

int machineThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(cores);
}

void runOnThreads(int threads, const std::function<void(const std::atomic<bool>& stop)>& work) {
    std::atomic<bool> stop{false};
    std::mutex failureLock;
    std::exception_ptr failure;
    const auto guarded = [&] {
        try {
            work(stop);
        } catch (...) {
            const std::lock_guard<std::mutex> lock(failureLock);
            if (!failure) failure = std::current_exception();
            stop = true;
        }
    };
    std::vector<std::thread> others;
    try {
        for (int i = 1; i < threads; ++i) others.emplace_back(guarded);
    } catch (const std::system_error&) {
        // No thread to spare: the ones started and this one do the work.
    }
    guarded();
    for (std::thread& thread : others) thread.join();
    if (failure) std::rethrow_exception(failure);
}

} // namespace corvantis
