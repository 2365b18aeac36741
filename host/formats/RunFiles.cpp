#include "host/formats/RunFiles.h"

#include <filesystem>

namespace corvantis {

std::vector<std::string> runFiles(const std::string& openedPath, const FmrDocument& run) {
    std::vector<std::string> files = {openedPath};
    if (const std::string* stc = run.text().find("STCFile")) {
        files.push_back((std::filesystem::path(run.path()).parent_path() / *stc).string());
    }
    return files;
}

} // namespace corvantis
