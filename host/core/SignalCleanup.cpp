#include "host/core/SignalCleanup.h"

#include <algorithm>
#include <mutex>
#include <system_error>
#include <vector>

#ifndef _WIN32
#include <chrono>
#include <thread>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>
#endif

namespace corvantis {

namespace {

namespace fs = std::filesystem;

// The host's one piece of process-wide mutable state, and deliberately so: a
// signal is delivered to the process, not to an object, so whatever it must
// clear up has to be known process-wide. Never destroyed, so that a signal
// during the program's exit still finds it whole.
struct Registry {
    std::mutex mutex;
    std::vector<fs::path> folders;
};

Registry& registry() {
    static Registry* const folders = new Registry;
    return *folders;
}

#ifndef _WIN32

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The program's other threads may still be writing into a folder while it is
// removed, so a removal that finds new files is tried again, for a while.
void removeFolder(const fs::path& folder) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::error_code error;
        fs::remove_all(folder, error);
        if (!fs::exists(fs::symlink_status(folder, error))) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Ends the program by the signal itself, as if nothing had caught it.
[[noreturn]] void endBy(int signal) {
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal);
    _exit(128 + signal);
}

void waitForSignals(sigset_t signals) {
    int signal = 0;
    while (sigwait(&signals, &signal) != 0) {
    }
    // Held to the end: no folder is registered, hence made, after this.
    const std::lock_guard<std::mutex> lock(registry().mutex);
    for (const fs::path& folder : registry().folders) removeFolder(folder);
    endBy(signal);
}

#endif

} // namespace

void removeRegisteredFoldersOnSignal() {
#ifndef _WIN32
    static std::once_flag installed;
    std::call_once(installed, [] {
        sigset_t signals;
        sigemptyset(&signals);
        bool any = false;
        for (const int signal : kSignals) {
            struct sigaction current = {};
            if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
            sigaddset(&signals, signal);
            any = true;
        }
        if (!any) return;
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);
        std::thread(waitForSignals, signals).detach();
    });
#endif
}

SignalCleanupRegistration::SignalCleanupRegistration(fs::path folder) {
    std::error_code error;
    folder_ = fs::absolute(folder, error);
    if (error) folder_ = std::move(folder);
    const std::lock_guard<std::mutex> lock(registry().mutex);
    registry().folders.push_back(folder_);
}

SignalCleanupRegistration::~SignalCleanupRegistration() {
    const std::lock_guard<std::mutex> lock(registry().mutex);
    std::vector<fs::path>& folders = registry().folders;
    const auto found = std::find(folders.rbegin(), folders.rend(), folder_);
    if (found != folders.rend()) folders.erase(std::next(found).base());
}

std::size_t registeredFolderCount() {
    const std::lock_guard<std::mutex> lock(registry().mutex);
    return registry().folders.size();
}

} // namespace corvantis
