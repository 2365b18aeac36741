// Small .sdm texts shared by the reader tests, and a whole-record comparison.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "design/SDMFile.h"

// Three predictors, four time points, in the layout design files usually have.
inline const char* const kWellFormedSDM =
    "FileVersion:        1\n"
    "\n"
    "NrOfPredictors:     3\n"
    "NrOfDataPoints:     4\n"
    "IncludesConstant:   1\n"
    "FirstConfoundPredictor:   2\n"
    "\n"
    "255 0 0   0 255 0\n"
    "0 0 255\n"
    "\"Task\" \"Motion X\" \"Constant\"\n"
    " 0.000000 -0.250000 1.000000\n"
    " 1.000000  0.500000 1.000000\n"
    " 1.000000 -1.750000 1.000000\n"
    " 0.000000 12.125000 1.000000\n";

template <class T>
void expectSameEntry(const SDMHeaderEntry<T>& a, const SDMHeaderEntry<T>& b) {
    EXPECT_EQ(a.key, b.key);
    EXPECT_EQ(a.value, b.value);
    EXPECT_EQ(a.valueColumn, b.valueColumn);
    EXPECT_EQ(a.present, b.present);
}

// Everything but the file name; float columns compared bit for bit.
inline void expectSameDesign(const SDMFile& a, const SDMFile& b) {
    expectSameEntry(a.fileVersion, b.fileVersion);
    expectSameEntry(a.nrOfPredictors, b.nrOfPredictors);
    expectSameEntry(a.nrOfDataPoints, b.nrOfDataPoints);
    expectSameEntry(a.includesConstant, b.includesConstant);
    expectSameEntry(a.firstConfoundPredictor, b.firstConfoundPredictor);
    EXPECT_EQ(a.colorRed, b.colorRed);
    EXPECT_EQ(a.colorGreen, b.colorGreen);
    EXPECT_EQ(a.colorBlue, b.colorBlue);
    EXPECT_EQ(a.predictorNames, b.predictorNames);
    EXPECT_EQ(a.predictorValues, b.predictorValues);
}
