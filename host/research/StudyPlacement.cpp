#include "host/research/StudyPlacement.h"

#include <filesystem>
#include <optional>
#include <vector>

#include "host/formats/FileIdentity.h"
#include "host/formats/HostErrors.h"

namespace corvantis {

namespace {

namespace fs = std::filesystem;

// A folder a study reads and how a message names it.
struct ReadFolder {
    std::string path;
    std::string role; // "the derivatives folder", ...
};

// Inside the raw dataset but not in its derivatives/ folder.
bool inRawData(const fs::path& path, const std::string& raw) {
    const std::optional<fs::path> place = placeWithin(path, raw);
    return place && *place->begin() != "derivatives";
}

std::optional<ReadFolder> holdingFolder(const fs::path& path, const std::vector<ReadFolder>& folders,
                                        const std::string& raw) {
    for (const ReadFolder& folder : folders) {
        if (liesWithin(path, folder.path)) return folder;
    }
    if (!raw.empty() && inRawData(path, raw)) return ReadFolder{raw, "the raw dataset (--bids-dir)"};
    return std::nullopt;
}

} // namespace

void checkStudyOutput(const std::string& output, const std::string& derivatives, const std::string& rawDataset) {
    if (const std::optional<ReadFolder> folder =
            holdingFolder(output, {{derivatives, "the derivatives folder"}}, rawDataset)) {
        const bool same = isSameFile(output, folder->path);
        throw DocumentError("OUTPUT " + inQuotes(output) + (same ? " is " : " lies inside ") + folder->role + " " +
                            inQuotes(folder->path) + "; results go to a folder of their own");
    }
}

void checkRunOutputFolder(const PreprocessedRun& run, const std::string& output, const std::string& derivatives,
                          const std::string& rawDataset) {
    std::vector<ReadFolder> folders = {{derivatives, "the derivatives folder"}};
    for (const std::string& input : {run.bold, run.confounds, run.confoundsSidecar, run.mask, run.events}) {
        if (input.empty()) continue;
        std::error_code error;
        const fs::path real = fs::canonical(input, error);
        if (!error) folders.push_back({real.parent_path().string(), "the folder of the input " + inQuotes(input)});
    }
    const fs::path folder = fs::path(output) / run.folder;
    if (const std::optional<ReadFolder> read = holdingFolder(folder, folders, rawDataset)) {
        std::error_code error;
        const fs::path resolved = fs::weakly_canonical(folder, error);
        throw DocumentError(
            "the outputs of " + run.id + " would go to " + inQuotes(folder.string()) +
            (error || resolved == folder ? std::string() : ", which leads to " + inQuotes(resolved.string())) +
            ", inside " + read->role + " " + inQuotes(read->path) + "; remove the link or choose another OUTPUT");
    }
}

} // namespace corvantis
