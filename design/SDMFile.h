// One general-linear-model design as read from an .sdm file, with its model
// operations. A plain value type: copies are deep.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One header key with the value read after it.
template <class T>
struct SDMHeaderEntry {
    std::string key; // as read, without its trailing colon
    T value{};
    int32_t valueColumn = 0; // key length (colon included) + blanks/tabs after it
    bool present = false;
};

struct SDMFile {
    std::string fileName;
    SDMHeaderEntry<int32_t> fileVersion{"", -1, 0, false};
    SDMHeaderEntry<int32_t> nrOfPredictors;
    SDMHeaderEntry<int32_t> nrOfDataPoints;
    SDMHeaderEntry<bool> includesConstant;
    SDMHeaderEntry<int32_t> firstConfoundPredictor;
    std::vector<int32_t> colorRed;
    std::vector<int32_t> colorGreen;
    std::vector<int32_t> colorBlue;
    std::vector<std::string> predictorNames;
    std::vector<std::vector<float>> predictorValues; // [predictor][time point]

    // True when there is a last column, it is non-empty, its first value is not
    // 0.0 and every value compares equal to the first.
    bool lastPredictorIsConstant() const;
    // Inserts a confound predictor: last, or in front of a trailing constant.
    void addPredictor(const std::vector<float>& values, const std::string& name, int red, int green, int blue);
    // Guarantees a trailing constant predictor; sets includesConstant.
    void ensureConstant();
};
