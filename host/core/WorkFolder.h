// A hidden folder where a command makes its outputs before moving them into
// place: removed with whatever it still holds when the object goes, and on an
// interrupt (SignalCleanup.h). Its name says who made it, PREFIX HOST-PID-RANDOM
// (".compare-node7-4242-1f3a..."), so that a later run can clear the folders of
// a process that was killed outright (SIGKILL, a power cut) and leave alone
// those still in use, by this host or by another on storage they share.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

#include "host/core/SignalCleanup.h"

namespace corvantis {

class WorkFolder {
public:
    // Makes the folder inside parent, which must exist. Throws SaveError.
    WorkFolder(const std::filesystem::path& parent, const std::string& prefix);
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    SignalCleanupRegistration cleanup_;
};

// Removes the folders in parent named as WorkFolder names them with prefix,
// made on this host by a process that has ended; returns how many it removed.
// Folders of another host, of a process still running (this one too) and of
// another form of name stay. A pid the system gave again since then looks
// alive, which keeps the folder: the safe way round.
std::size_t removeStaleWorkFolders(const std::filesystem::path& parent, const std::string& prefix);

// This host's name as work folders carry it.
std::string workFolderHostName();

} // namespace corvantis
