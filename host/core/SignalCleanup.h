// Folders that an interrupt (SIGINT, SIGTERM, SIGHUP) removes before the
// program ends, so that a stopped comparison leaves no half-made work behind.
// A signal handler may do almost nothing safely, so there is none: the signals
// are blocked in every thread and one thread waits for them with sigwait(),
// where removing folders is ordinary code. POSIX only; elsewhere the program
// ends on a signal as it always did, and the folders stay for a later run to
// clear (WorkFolder.h).
#pragma once

#include <filesystem>

namespace corvantis {

// Called by main before any other thread starts (threads inherit the blocked
// signals): blocks the three signals, except one the program was started with
// ignored (a job started with nohup stays deaf to SIGHUP), and starts the
// waiting thread. On a signal that thread removes every registered folder, then
// ends the program by that signal, so its parent sees it killed by it (status
// 128 + the signal in a shell). Calls after the first do nothing.
void removeRegisteredFoldersOnSignal();

// Registers a folder for removal on a signal while it lives. Register before
// making the folder: a signal between the two then finds nothing to remove,
// never an unregistered folder. Without removeRegisteredFoldersOnSignal (in
// tests), registering is harmless and does nothing else.
class SignalCleanupRegistration {
public:
    explicit SignalCleanupRegistration(std::filesystem::path folder);
    ~SignalCleanupRegistration();
    SignalCleanupRegistration(const SignalCleanupRegistration&) = delete;
    SignalCleanupRegistration& operator=(const SignalCleanupRegistration&) = delete;

private:
    std::filesystem::path folder_;
};

// How many folders are registered now: for tests.
std::size_t registeredFolderCount();

} // namespace corvantis
