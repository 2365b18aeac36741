#include "design/CLocaleNumber.h"

#include <stdlib.h>

#include <cerrno>
#include <new>
#include <stdexcept>

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
    return _strtod_l(text, end, locale_);
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
