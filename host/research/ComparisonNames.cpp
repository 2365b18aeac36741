#include "host/research/ComparisonNames.h"

#include <algorithm>
#include <cctype>

#include "host/research/PrintableText.h"

namespace corvantis {

namespace {

bool endsWithIgnoringCase(const std::string& text, const std::string& ending) {
    if (text.size() < ending.size()) return false;
    return std::equal(ending.rbegin(), ending.rend(), text.rbegin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
}

} // namespace

std::string runStem(const std::string& runPath) {
    const std::size_t slash = runPath.find_last_of("/\\");
    std::string name = slash == std::string::npos ? runPath : runPath.substr(slash + 1);
    for (const char* ending : {".nii.gz", ".nii", ".fmr"}) {
        if (endsWithIgnoringCase(name, ending) && name.size() > std::char_traits<char>::length(ending)) {
            return printableText(name.substr(0, name.size() - std::char_traits<char>::length(ending)));
        }
    }
    return printableText(name);
}

std::string strategyLabel(const std::string& strategy) {
    std::string label;
    for (const char c : strategy) {
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '+') {
            label += c;
        } else if (c == ',') {
            label += '+';
        } else if (c == '*') {
            label += 'x';
        } else {
            label += '-';
        }
    }
    return label;
}

std::string summaryFileName(const std::string& runStem, const std::string& strategy1, const std::string& strategy2) {
    return runStem + "_" + strategyLabel(strategy1) + "_vs_" + strategyLabel(strategy2) + "_summary.json";
}

} // namespace corvantis
