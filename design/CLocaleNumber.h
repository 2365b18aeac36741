// Number conversion with the "C" locale's rules, whatever the process's global
// locale is: a host that switches LC_NUMERIC to a comma decimal must not change
// how a design file reads.
#pragma once

#include <locale.h>

#include <string>

class CLocaleNumber {
public:
    CLocaleNumber(); // throws std::bad_alloc when the locale cannot be made
    ~CLocaleNumber();
    CLocaleNumber(const CLocaleNumber&) = delete;
    CLocaleNumber& operator=(const CLocaleNumber&) = delete;

    // strtod in the "C" locale; errno as strtod sets it.
    double toDouble(const char* text, char** end) const;
    // One data field: leading whitespace skipped, the longest numeric prefix
    // converted to double and narrowed to float, the rest ignored. Throws
    // std::invalid_argument ("invalid stof argument") when nothing converts and
    // std::out_of_range ("stof argument out of range") on a range error.
    float toFloat(const std::string& field) const;

private:
#ifdef _WIN32
    using Native = _locale_t;
#else
    using Native = locale_t;
#endif
    Native locale_;
};
