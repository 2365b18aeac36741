#include "design/CLocaleNumber.h"

#include <stdlib.h>

#include <cerrno>
#include <new>
#include <stdexcept>

#ifdef _WIN32
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace {

// msvcrt's strtod is not the C99 one the reader is defined by: it reads no
// "inf", "nan" or hexadecimal texts, reports no range error for a subnormal
// result and is not correctly rounded on every Windows. libstdc++'s from_chars
// (linked in, locale-free, correctly rounded) does the conversion; around it,
// strtod's rules as glibc applies them.
bool isCSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool isHexPrefix(const char* p) { return p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && p[2] != '+' && p[2] != '-'; }

// from_chars leaves the value alone when out of range; strtod gives HUGE_VAL
// on overflow and zero on underflow. The runtime's strtod tells which for a
// decimal text; a hexadecimal one underflows only with a negative exponent.
double outOfRangeValue(const char* begin, const char* end, bool hex, _locale_t locale) {
    if (!hex) return std::fabs(_strtod_l(begin, nullptr, locale));
    for (const char* p = begin; p < end; ++p) {
        if (*p == 'p' || *p == 'P') return p[1] == '-' ? 0.0 : HUGE_VAL;
    }
    return HUGE_VAL;
}

double c99Strtod(const char* text, char** end, _locale_t locale) {
    const char* p = text;
    while (isCSpace(*p)) ++p;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    const char* last = p + std::strlen(p);
    double value = 0.0;
    std::from_chars_result read{p, std::errc::invalid_argument};
    bool hex = false;
    if (*p != '+' && *p != '-') { // from_chars would accept a second sign
        if (isHexPrefix(p)) {
            read = std::from_chars(p + 2, last, value, std::chars_format::hex);
            hex = read.ec != std::errc::invalid_argument;
        }
        // "0x" without hexadecimal digits reads as the "0".
        if (!hex) read = std::from_chars(p, last, value);
    }
    if (read.ec == std::errc::invalid_argument) {
        if (end) *end = const_cast<char*>(text);
        return 0.0;
    }
    if (end) *end = const_cast<char*>(read.ptr);
    if (read.ec == std::errc::result_out_of_range) {
        value = outOfRangeValue(p, read.ptr, hex, locale);
        errno = ERANGE;
    } else if (value != 0.0 && std::fabs(value) < DBL_MIN) {
        errno = ERANGE;
    }
    return negative ? -value : value;
}

} // namespace
#endif

CLocaleNumber::CLocaleNumber()
#ifdef _WIN32
    : locale_(_create_locale(LC_NUMERIC, "C"))
#else
    : locale_(newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0)))
#endif
{
    if (!locale_) throw std::bad_alloc();
}

CLocaleNumber::~CLocaleNumber() {
#ifdef _WIN32
    _free_locale(locale_);
#else
    freelocale(locale_);
#endif
}

double CLocaleNumber::toDouble(const char* text, char** end) const {
#ifdef _WIN32
    return c99Strtod(text, end, locale_);
#else
    return strtod_l(text, end, locale_);
#endif
}

float CLocaleNumber::toFloat(const std::string& field) const {
    const char* begin = field.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = toDouble(begin, &end);
    if (end == begin) throw std::invalid_argument("invalid stof argument");
    if (errno == ERANGE) throw std::out_of_range("stof argument out of range");
    return static_cast<float>(value);
}
