#include "host/research/GlobPattern.h"

namespace corvantis {

namespace {

// The set "[...]" starting at pattern[at]: whether c is in it, and where the
// pattern goes on; false with next == at when the set is not closed.
bool inSet(const std::string& pattern, std::size_t at, char c, std::size_t& next) {
    std::size_t i = at + 1;
    const bool negated = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
    if (negated) ++i;
    bool found = false;
    for (bool first = true; i < pattern.size() && (first || pattern[i] != ']'); first = false) {
        if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
            found = found || (pattern[i] <= c && c <= pattern[i + 2]);
            i += 3;
        } else {
            found = found || pattern[i] == c;
            ++i;
        }
    }
    if (i >= pattern.size()) {
        next = at;
        return false;
    }
    next = i + 1;
    return found != negated;
}

} // namespace

bool isGlobPattern(const std::string& text) { return text.find_first_of("*?[") != std::string::npos; }

// Iterative matching with one backtracking point, the last "*": linear in
// practice, never exponential.
bool globMatches(const std::string& pattern, const std::string& name) {
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t starP = std::string::npos;
    std::size_t starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
            continue;
        }
        if (p < pattern.size()) {
            std::size_t next = p + 1;
            bool matched = false;
            if (pattern[p] == '?') {
                matched = true;
            } else if (pattern[p] == '[') {
                matched = inSet(pattern, p, name[n], next);
                if (next == p) { // not a set: a plain "["
                    matched = name[n] == '[';
                    next = p + 1;
                }
            } else {
                matched = pattern[p] == name[n];
            }
            if (matched) {
                p = next;
                ++n;
                continue;
            }
        }
        if (starP == std::string::npos) return false;
        p = starP + 1;
        n = ++starN;
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

} // namespace corvantis
