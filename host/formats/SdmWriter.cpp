#include "host/formats/SdmWriter.h"

#include <charconv>
#include <sstream>

#include "host/formats/AtomicFile.h"

namespace corvantis {

std::string sdmValueText(float value) {
    char text[32];
    // to_chars, not printf: the decimal point must not follow the locale.
    const auto result =
        std::to_chars(text, text + sizeof text, static_cast<double>(value), std::chars_format::scientific, 8);
    const std::string digits(text, result.ptr);
    return digits.front() == '-' ? digits : " " + digits;
}

std::string formatSdm(const DesignTable& design) {
    std::ostringstream out;
    const std::size_t points = design.columns.empty() ? 0 : design.columns.front().size();
    out << "FileVersion:            1\n\nNrOfPredictors:         " << design.columns.size()
        << "\nNrOfDataPoints:         " << points
        << "\nIncludesConstant:       1\nFirstConfoundPredictor: " << design.firstConfoundPredictor << "\n\n";
    for (std::size_t j = 0; j < design.columns.size(); ++j) {
        const bool interest = static_cast<int32_t>(j) + 1 < design.firstConfoundPredictor;
        const bool constant = j + 1 == design.columns.size();
        out << (constant ? "255 255 255" : interest ? "255 0 0" : "80 80 200") << "\n";
    }
    for (std::size_t j = 0; j < design.names.size(); ++j) out << (j ? " " : "") << '"' << design.names[j] << '"';
    out << "\n";
    for (std::size_t t = 0; t < points; ++t) {
        for (std::size_t j = 0; j < design.columns.size(); ++j)
            out << (j ? " " : "") << sdmValueText(design.columns[j][t]);
        out << "\n";
    }
    return out.str();
}

void writeSdmFile(const std::string& path, const DesignTable& design, Durability durability) {
    const std::string text = formatSdm(design);
    writeFileAtomically(
        path, [&text](std::ostream& out) { out << text; }, durability);
}

} // namespace corvantis
