#include "design/SDMReader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <istream>
#include <limits>
#include <locale>
#include <string>
#include <type_traits>
#include <vector>

#include "design/CLocaleNumber.h"
#include "design/DataRowFields.h"
#include "design/IOError.h"

namespace {

// No real design comes near these; a few bytes of header must not make the
// reader allocate gigabytes.
constexpr int32_t maxPredictors = 1000000;
// Element count of the design matrix, which may get one more column (the
// constant) than the file has predictors.
constexpr int64_t maxDesignValues = std::numeric_limits<int32_t>::max();
// The columns are filled with zeros up front, rows missing at the end of the
// file included: a header of a few bytes must not cost gigabytes of them.
// 2^26 floats (256 MiB) is far beyond any real design.
constexpr int64_t maxStoredValues = int64_t(1) << 26;

const char* const firstConfoundKey = "FirstConfoundPredictor:";

// Binary mode, so that Linux and Windows see the same bytes; line ends are
// handled by readLine. The classic locale keeps integer extraction free of any
// global locale's digit grouping.
void openForReading(std::ifstream& in, const std::string& path) {
    in.imbue(std::locale::classic());
    in.open(path, std::ios::in | std::ios::binary);
    // Peeking also refuses what opens but cannot be read, such as a folder.
    if (in) in.peek();
    // Only a regular file ends: a device or pipe such as /dev/zero would make
    // the header loop read (and the token grow) forever.
    std::error_code statusError;
    const bool regular = std::filesystem::is_regular_file(path, statusError);
    if (!in.is_open() || in.bad() || !regular) throw OpenFileError("Failed opening for reading: " + path);
}

// One line without its line end; a CR right before the LF belongs to the line end.
std::string readLine(std::istream& in) {
    std::string line;
    std::getline(in, line);
    const bool endedByLineFeed = !in.eof() && !in.fail();
    if (endedByLineFeed && !line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::string valueError(const std::string& path, const std::string& key, bool isBool, const std::istream& in) {
    if (in.bad()) return path + ": read error";
    if (in.eof()) return path + ": \"" + key + "\" has no value";
    return path + ": the value of \"" + key + "\" is not " + (isBool ? "0 or 1" : "a 32-bit integer");
}

template <class T>
void readEntry(std::istream& in, const std::string& token, SDMHeaderEntry<T>& entry, const std::string& path) {
    entry.key = token.substr(0, token.size() - 1);
    int64_t column = static_cast<int64_t>(token.size());
    while (in.peek() == ' ' || in.peek() == '\t') {
        in.get();
        ++column;
    }
    entry.valueColumn = static_cast<int32_t>(std::min<int64_t>(column, std::numeric_limits<int32_t>::max()));
    T value{};
    // For bool this is the numeric form: 0 or 1, any other integer fails.
    if (!(in >> value)) throw IOError(valueError(path, token, std::is_same<T, bool>::value, in));
    entry.value = value;
    entry.present = true;
}

void readHeaderToken(std::istream& in, const std::string& token, SDMFile& record, const std::string& path) {
    if (token == "FileVersion:") {
        readEntry(in, token, record.fileVersion, path);
    } else if (token == "NrOfPredictors:") {
        readEntry(in, token, record.nrOfPredictors, path);
    } else if (token == "NrOfDataPoints:") {
        readEntry(in, token, record.nrOfDataPoints, path);
    } else if (token == "IncludesConstant:") {
        readEntry(in, token, record.includesConstant, path);
    } else if (token == firstConfoundKey) {
        readEntry(in, token, record.firstConfoundPredictor, path);
    }
}

// Whitespace-separated tokens up to and with the value of the first-confound
// key; every token that is not a key is skipped.
void readHeader(std::istream& in, SDMFile& record, const std::string& path) {
    std::string token;
    while (token != firstConfoundKey) {
        if (!(in >> token)) {
            throw IOError(in.bad() ? path + ": read error"
                                   : path + ": the header ends before \"" + firstConfoundKey + "\" and its value");
        }
        readHeaderToken(in, token, record, path);
    }
}

void checkCounts(const SDMFile& record, const std::string& path) {
    const int32_t predictors = record.nrOfPredictors.value;
    const int32_t points = record.nrOfDataPoints.value;
    if (predictors < 0) {
        throw IOError(path + ": \"NrOfPredictors:\" is negative (" + std::to_string(predictors) + ")");
    }
    if (points < 0) {
        throw IOError(path + ": \"NrOfDataPoints:\" is negative (" + std::to_string(points) + ")");
    }
    if (predictors > maxPredictors) {
        throw IOError(path + ": \"NrOfPredictors:\" is " + std::to_string(predictors) + ", more than the " +
                      std::to_string(maxPredictors) + " predictors a design can have");
    }
    if ((static_cast<int64_t>(predictors) + 1) * points > maxDesignValues) {
        throw IOError(path + ": " + std::to_string(predictors) + " predictors of " + std::to_string(points) +
                      " data points are more than the " + std::to_string(maxDesignValues) +
                      " values a design matrix can hold");
    }
    if (static_cast<int64_t>(predictors) * points > maxStoredValues) {
        throw IOError(path + ": " + std::to_string(predictors) + " predictors of " + std::to_string(points) +
                      " data points are more than the " + std::to_string(maxStoredValues) + " values the reader keeps");
    }
}

// 0 when the extraction fails, so a triple cut short keeps zeros.
int32_t readInt(std::istream& in) {
    int32_t value = 0;
    if (!(in >> value)) return 0;
    return value;
}

// Up to N triples; the section ends at the first item that is not an integer.
// The candidate red value read after the N-th triple is dropped.
void readColours(std::istream& in, SDMFile& record) {
    const std::size_t n = static_cast<std::size_t>(record.nrOfPredictors.value);
    record.colorRed.assign(n, 0);
    record.colorGreen.assign(n, 0);
    record.colorBlue.assign(n, 0);
    int32_t red = readInt(in);
    for (std::size_t i = 0; in.good() && i < n; ++i) {
        const int32_t green = readInt(in);
        const int32_t blue = readInt(in);
        record.colorRed[i] = red;
        record.colorGreen[i] = green;
        record.colorBlue[i] = blue;
        red = readInt(in);
    }
    in.clear();
}

// The rest of the current line if it holds a double quote, else the next line.
std::string readNamesLine(std::istream& in) {
    std::string line = readLine(in);
    if (line.find('"') == std::string::npos) line = readLine(in);
    return line;
}

// Names are the texts between the 1st and 2nd, 3rd and 4th, ... double quotes.
void parseNames(const std::string& line, SDMFile& record) {
    const std::size_t n = static_cast<std::size_t>(record.nrOfPredictors.value);
    record.predictorNames.assign(n, "NoName");
    std::size_t open = line.find('"');
    if (open == std::string::npos) return;
    std::size_t close = line.find('"', open + 1);
    for (std::size_t i = 0; close != std::string::npos && i < n; ++i) {
        record.predictorNames[i] = line.substr(open + 1, close - open - 1);
        open = line.find('"', close + 1);
        if (open == std::string::npos) break;
        close = line.find('"', open + 1);
    }
}

// A row with the wrong number of decimal points stays all zeros.
void readDataRow(const std::string& line, std::size_t t, SDMFile& record, const CLocaleNumber& numbers) {
    const std::vector<std::size_t> starts = dataRowFieldStarts(line, record.nrOfPredictors.value);
    for (std::size_t j = 0; j < starts.size(); ++j) {
        const std::size_t end = j + 1 < starts.size() ? starts[j + 1] : line.size();
        record.predictorValues[j][t] = numbers.toFloat(line.substr(starts[j], end - starts[j]));
    }
}

void readData(std::istream& in, SDMFile& record) {
    const std::size_t n = static_cast<std::size_t>(record.nrOfPredictors.value);
    const std::size_t points = static_cast<std::size_t>(record.nrOfDataPoints.value);
    record.predictorValues.clear();
    // Without predictors there is nothing to store, not even a prototype column.
    if (n == 0) return;
    record.predictorValues.assign(n, std::vector<float>(points, 0.0f));
    const CLocaleNumber numbers;
    // Past the end of the file every row would read as an empty line: zeros.
    for (std::size_t t = 0; t < points && in; ++t) {
        readDataRow(readLine(in), t, record, numbers);
    }
}

} // namespace

SDMFile readSDMFile(std::string path) {
    std::ifstream in;
    openForReading(in, path);
    SDMFile record;
    record.fileName = path;
    readHeader(in, record, path);
    checkCounts(record, path);
    readColours(in, record);
    parseNames(readNamesLine(in), record);
    readData(in, record);
    return record;
}
