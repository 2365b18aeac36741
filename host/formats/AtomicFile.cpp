#include "host/formats/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <system_error>

#include "host/formats/HostErrors.h"

namespace corvantis {

namespace {

std::string systemReason() {
    return errno != 0 ? std::string(std::strerror(errno)) : std::string("unknown reason");
}

} // namespace

void writeFileAtomically(const std::filesystem::path& path, const std::function<void(std::ostream&)>& write) {
    std::filesystem::path temporary = path;
    temporary += ".partial";
    errno = 0;
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) {
        throw SaveError("cannot create " + inQuotes(temporary.string()) + ": " + systemReason());
    }
    std::error_code ignored;
    try {
        write(out);
    } catch (...) {
        out.close();
        std::filesystem::remove(temporary, ignored);
        throw;
    }
    out.close();
    if (!out) {
        const std::string reason = systemReason();
        std::filesystem::remove(temporary, ignored);
        throw SaveError("cannot write " + inQuotes(temporary.string()) + ": " + reason);
    }
    std::error_code renamed;
    std::filesystem::rename(temporary, path, renamed);
    if (renamed) {
        std::filesystem::remove(temporary, ignored);
        throw SaveError("cannot rename " + inQuotes(temporary.string()) + " to " + inQuotes(path.string()) +
                        ": " + renamed.message());
    }
}

} // namespace corvantis
