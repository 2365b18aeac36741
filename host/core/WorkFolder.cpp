#include "host/core/WorkFolder.h"

#include <cerrno>
#include <cstdlib>
#include <random>
#include <sstream>
#include <system_error>

#include "host/formats/HostErrors.h"

#ifdef _WIN32
#include <process.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

namespace corvantis {

namespace {

namespace fs = std::filesystem;

long long processId() {
#ifdef _WIN32
    return _getpid();
#else
    return static_cast<long long>(getpid());
#endif
}

// Unknown is alive: a folder is removed only when its process is known to be gone.
bool processAlive(long long pid) {
#ifdef _WIN32
    (void)pid;
    return true;
#else
    if (pid <= 0 || static_cast<long long>(static_cast<pid_t>(pid)) != pid) return true;
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
#endif
}

bool isDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos && text.size() <= 18;
}

bool isHex(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// The host and pid of a name made by WorkFolder, read from the right: host
// names may hold '-' themselves.
bool parseName(const std::string& rest, std::string& host, long long& pid) {
    const std::size_t last = rest.rfind('-');
    if (last == std::string::npos || last == 0 || !isHex(rest.substr(last + 1))) return false;
    const std::size_t before = rest.rfind('-', last - 1);
    if (before == std::string::npos || before == 0) return false;
    const std::string digits = rest.substr(before + 1, last - before - 1);
    if (!isDigits(digits)) return false;
    host = rest.substr(0, before);
    pid = std::stoll(digits);
    return true;
}

} // namespace

std::string workFolderHostName() {
    std::string name;
#ifdef _WIN32
    if (const char* computer = std::getenv("COMPUTERNAME")) name = computer;
#else
    char buffer[256] = {};
    if (gethostname(buffer, sizeof buffer - 1) == 0) name = buffer;
#endif
    // Only what a file name keeps everywhere; the rest as '_'.
    for (char& c : name) {
        const bool plain =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
        if (!plain) c = '_';
    }
    return name.empty() ? std::string("host") : name;
}

WorkFolder::WorkFolder(const fs::path& parent, const std::string& prefix)
    : path_([&] {
          std::random_device random;
          std::ostringstream name;
          name << prefix << workFolderHostName() << "-" << processId() << "-" << std::hex << random() << random();
          return parent / name.str();
      }()),
      cleanup_(path_) {
    std::error_code error;
    if (fs::create_directory(path_, error)) return;
    throw SaveError("cannot make the working folder " + inQuotes(path_.string()) + ": " +
                    (error ? error.message() : std::string("a file of that name is in the way")));
}

WorkFolder::~WorkFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::size_t removeStaleWorkFolders(const fs::path& parent, const std::string& prefix) {
    const std::string host = workFolderHostName();
    std::size_t removed = 0;
    std::error_code error;
    for (fs::directory_iterator it(parent, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::string madeBy;
        long long pid = 0;
        if (name.compare(0, prefix.size(), prefix) != 0 || !parseName(name.substr(prefix.size()), madeBy, pid)) {
            continue;
        }
        std::error_code status;
        if (madeBy != host || processAlive(pid) || !it->is_directory(status) || it->is_symlink(status)) continue;
        std::error_code gone;
        removed += fs::remove_all(it->path(), gone) > 0 && !gone;
    }
    return removed;
}

} // namespace corvantis
