// readSDMFile on arbitrary bytes: it must return a record whose shape matches
// its counts, or throw one of the exceptions it documents; nothing else.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "FuzzScratch.h"
#include "design/IOError.h"
#include "design/SDMReader.h"

namespace {

void checkShape(const SDMFile& record) {
    const std::size_t n = static_cast<std::size_t>(record.nrOfPredictors.value);
    const std::size_t points = static_cast<std::size_t>(record.nrOfDataPoints.value);
    if (record.nrOfPredictors.value < 0 || record.nrOfDataPoints.value < 0) fuzzing::broken("negative count");
    if (record.colorRed.size() != n || record.colorGreen.size() != n || record.colorBlue.size() != n) {
        fuzzing::broken("colours do not match the predictor count");
    }
    if (record.predictorNames.size() != n) fuzzing::broken("names do not match the predictor count");
    if (record.predictorValues.size() != n) fuzzing::broken("columns do not match the predictor count");
    for (const std::vector<float>& column : record.predictorValues) {
        if (column.size() != points) fuzzing::broken("a column does not match the data point count");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string path = fuzzing::writeScratchFile("design.sdm", data, size);
    try {
        const SDMFile record = readSDMFile(path);
        if (record.fileName != path) fuzzing::broken("the record does not carry the path");
        checkShape(record);
    } catch (const IOError&) {
    } catch (const std::invalid_argument&) {
    } catch (const std::out_of_range&) {
    }
    return 0;
}
