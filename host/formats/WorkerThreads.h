// Work shared among a few threads of the host (compressing and decompressing
// NIfTI files); the plug-in's own work stays on the thread that calls it.
#pragma once

#include <atomic>
#include <functional>

namespace corvantis {

// The threads the host uses when told nothing: the machine's cores, at least 1.
int machineThreads();

// Runs work on threads threads at once, this one among them, and returns when
// all have returned. When one throws, stop becomes true for the others, which
// should return soon after, and the first exception is thrown here.
void runOnThreads(int threads, const std::function<void(const std::atomic<bool>& stop)>& work);

} // namespace corvantis
