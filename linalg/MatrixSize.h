#pragma once

#include <cstdint>

struct MatrixSize {
    int32_t rows;
    int32_t cols;
};

struct VolumeSize {
    int32_t x;
    int32_t y;
    int32_t z;
};
