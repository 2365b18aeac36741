#include "host/research/StudyRuns.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "host/formats/HostErrors.h"
#include "host/research/PrintableText.h"

namespace corvantis {

namespace {

namespace fs = std::filesystem;

constexpr const char kBoldEnding[] = "_desc-preproc_bold.nii.gz";
constexpr const char kLookedFor[] = "sub-*/[ses-*/]func/*_desc-preproc_bold.nii.gz";

bool startsWith(const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; }

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool isFolder(const fs::path& path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

bool isFile(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error);
}

// The entries of folder whose names start with prefix, sorted; none when it cannot be read.
std::vector<fs::path> entriesStartingWith(const fs::path& folder, const std::string& prefix) {
    std::vector<fs::path> found;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (startsWith(it->path().filename().string(), prefix)) found.push_back(it->path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

// The folders holding functional runs: sub-*/func and sub-*/ses-*/func.
std::vector<fs::path> funcFolders(const fs::path& root) {
    std::vector<fs::path> folders;
    for (const fs::path& subject : entriesStartingWith(root, "sub-")) {
        if (!isFolder(subject)) continue;
        if (isFolder(subject / "func")) folders.push_back(subject / "func");
        for (const fs::path& session : entriesStartingWith(subject, "ses-")) {
            if (isFolder(session / "func")) folders.push_back(session / "func");
        }
    }
    return folders;
}

std::string withoutSubPrefix(const std::string& label) { return startsWith(label, "sub-") ? label.substr(4) : label; }

// Run labels compare as numbers when both are: "1" selects "01".
bool sameRunLabel(const std::string& a, const std::string& b) {
    const auto digits = [](const std::string& s) {
        return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (digits(a) && digits(b)) {
        const std::size_t i = a.find_first_not_of('0'), j = b.find_first_not_of('0');
        return (i == std::string::npos ? std::string() : a.substr(i)) ==
               (j == std::string::npos ? std::string() : b.substr(j));
    }
    return a == b;
}

bool matchesAny(const std::vector<std::string>& wanted, const std::string& label,
                bool (*same)(const std::string&, const std::string&)) {
    if (wanted.empty()) return true;
    return std::any_of(wanted.begin(), wanted.end(), [&](const std::string& w) { return same(w, label); });
}

bool sameLabel(const std::string& a, const std::string& b) { return a == b; }

bool sameParticipant(const std::string& a, const std::string& b) { return withoutSubPrefix(a) == b; }

bool isSelected(const PreprocessedRun& run, const RunSelection& selection) {
    if (!selection.runId.empty() && selection.runId != run.id) return false;
    return matchesAny(selection.participants, run.subject, &sameParticipant) &&
           matchesAny(selection.tasks, run.task, &sameLabel) && matchesAny(selection.spaces, run.space, &sameLabel) &&
           matchesAny(selection.runs, run.run, &sameRunLabel);
}

std::string existing(const fs::path& path) { return isFile(path) ? path.string() : std::string(); }

// The raw dataset's events of the run: beside the run, else the task's events at the top.
std::string eventsOf(const BidsName& name, const PreprocessedRun& run, const fs::path& raw) {
    if (raw.empty()) return {};
    const std::string stem = name.joined({"space", "res", "den", "desc", "cohort", "part"});
    fs::path folder = raw / ("sub-" + run.subject);
    if (!run.session.empty()) folder /= "ses-" + run.session;
    const std::string beside = existing(folder / "func" / (stem + "_events.tsv"));
    if (!beside.empty() || run.task.empty()) return beside;
    return existing(raw / ("task-" + run.task + "_events.tsv"));
}

PreprocessedRun describeRun(const fs::path& bold, const fs::path& root, const fs::path& raw) {
    const BidsName name = parseBidsName(bold.filename().string());
    PreprocessedRun run;
    const std::string file = bold.filename().string();
    // The names the study makes from these are printable (PrintableText.h), so
    // that a name in another encoding or holding a tab names its outputs,
    // records and rows as it is listed.
    run.id = printableText(file.substr(0, file.size() - std::string(kBoldEnding).size()));
    run.subject = name.label("sub");
    run.session = name.label("ses");
    run.task = name.label("task");
    run.run = name.label("run");
    run.space = name.label("space");
    // From the names as found, not from where links lead: a subject folder that
    // links elsewhere still gives sub-XX/func, never a path out of OUTPUT.
    run.folder = printableText(bold.parent_path().lexically_relative(root).generic_string());
    run.bold = bold.string();
    const fs::path folder = bold.parent_path();
    // The confound table belongs to the run, not to a space.
    const std::string stem = name.joined({"space", "res", "den", "desc", "cohort"});
    run.confounds = existing(folder / (stem + "_desc-confounds_timeseries.tsv"));
    if (run.confounds.empty()) run.confounds = existing(folder / (stem + "_desc-confounds_regressors.tsv"));
    if (!run.confounds.empty()) {
        run.confoundsSidecar = existing(fs::path(run.confounds).replace_extension(".json"));
    }
    run.mask = existing(folder / (name.joined({"desc"}) + "_desc-brain_mask.nii.gz"));
    run.events = eventsOf(name, run, raw);
    return run;
}

std::string selectionText(const RunSelection& s) {
    std::string text;
    const auto add = [&](const char* option, const std::vector<std::string>& values) {
        for (const std::string& v : values) text += std::string(text.empty() ? "" : " ") + option + " " + v;
    };
    add("--participant-label", s.participants);
    add("--task", s.tasks);
    add("--space", s.spaces);
    add("--run", s.runs);
    if (!s.runId.empty()) text += std::string(text.empty() ? "" : " ") + "--run-id " + s.runId;
    return text;
}

} // namespace

std::string BidsName::label(const std::string& key) const {
    for (const auto& [k, v] : entities) {
        if (k == key) return v;
    }
    return {};
}

std::string BidsName::joined(const std::vector<std::string>& without) const {
    std::string text;
    for (const auto& [k, v] : entities) {
        if (std::find(without.begin(), without.end(), k) != without.end()) continue;
        text += (text.empty() ? "" : "_") + k + "-" + v;
    }
    return text;
}

BidsName parseBidsName(const std::string& fileName) {
    BidsName name;
    const std::size_t dot = fileName.find('.');
    const std::string stem = fileName.substr(0, dot);
    name.extension = dot == std::string::npos ? std::string() : fileName.substr(dot);
    const std::size_t last = stem.rfind('_');
    if (last == std::string::npos) return BidsName{};
    for (std::size_t start = 0; start < last;) {
        const std::size_t end = stem.find('_', start);
        const std::string part = stem.substr(start, end - start);
        const std::size_t dash = part.find('-');
        if (dash == std::string::npos || dash == 0 || dash + 1 == part.size() ||
            part.find('-', dash + 1) != std::string::npos) {
            return BidsName{};
        }
        name.entities.emplace_back(part.substr(0, dash), part.substr(dash + 1));
        start = end + 1;
    }
    name.suffix = stem.substr(last + 1);
    if (name.suffix.empty() || name.suffix.find('-') != std::string::npos) return BidsName{};
    return name;
}

std::vector<PreprocessedRun> findPreprocessedRuns(const std::string& derivatives, const std::string& rawDataset,
                                                  const RunSelection& selection) {
    const fs::path root(derivatives);
    if (!isFolder(root)) {
        throw DocumentError(inQuotes(derivatives) + " is not a folder; expected a derivatives dataset with " +
                            kLookedFor);
    }
    if (!rawDataset.empty() && !isFolder(rawDataset)) {
        throw DocumentError("the raw dataset " + inQuotes(rawDataset) + " is not a folder");
    }
    std::vector<PreprocessedRun> all;
    for (const fs::path& func : funcFolders(root)) {
        for (const fs::path& file : entriesStartingWith(func, "sub-")) {
            const std::string name = file.filename().string();
            if (!endsWith(name, kBoldEnding) || parseBidsName(name).suffix != "bold") continue;
            all.push_back(describeRun(file, root, rawDataset));
        }
    }
    if (all.empty()) {
        throw DocumentError("no preprocessed runs in " + inQuotes(derivatives) + ": looked for " + kLookedFor);
    }
    std::vector<PreprocessedRun> selected;
    for (const PreprocessedRun& run : all) {
        if (isSelected(run, selection)) selected.push_back(run);
    }
    if (selected.empty()) {
        throw DocumentError("none of the " + std::to_string(all.size()) + " preprocessed runs in " +
                            inQuotes(derivatives) + " is selected by " + selectionText(selection));
    }
    std::sort(selected.begin(), selected.end(),
              [](const PreprocessedRun& a, const PreprocessedRun& b) { return a.id < b.id; });
    return selected;
}

} // namespace corvantis
