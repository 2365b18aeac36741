#include "linalg/Vector.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "linalg/FloatBuffer.h"
#include "linalg/StdDevFloor.h"

Vector::Vector() : size_(0) {}

Vector::Vector(int32_t n) : size_(n), data_(linalg::allocateFloats(n)) {}

Vector::Vector(int32_t n, float value) : size_(n), data_(linalg::filledFloats(n, value)) {}

Vector::Vector(const Vector& other) : size_(other.size_), data_(linalg::copiedFloats(other.data(), other.size_)) {}

Vector::Vector(Vector&& other) noexcept : size_(other.size_), data_(std::move(other.data_)) {}

Vector& Vector::operator=(const Vector& other) {
    if (this != &other) {
        resize(other.size_);
        std::copy(other.data(), other.data() + size_, data());
    }
    return *this;
}

Vector::~Vector() = default;

void Vector::resize(int32_t n) {
    // A moved-from vector has its size but no buffer: it gets a new one even
    // when the size is unchanged.
    const bool reusable = n == size_ && (data_ || n == 0);
    if (!reusable) {
        data_ = linalg::allocateFloats(n);
    }
    size_ = n;
}

Vector Vector::operator*(const Vector& b) const {
    Vector out(size_);
    for (int32_t i = 0; i < size_; ++i) {
        out.data_[i] = data_[i] * b.data_[i];
    }
    return out;
}

Vector Vector::operator-(const Vector& b) const {
    Vector out(size_);
    for (int32_t i = 0; i < size_; ++i) {
        out.data_[i] = data_[i] - b.data_[i];
    }
    return out;
}

Vector Vector::operator-(float s) const {
    Vector out(size_);
    for (int32_t i = 0; i < size_; ++i) {
        out.data_[i] = data_[i] - s;
    }
    return out;
}

Vector Vector::squared() const {
    Vector out(size_);
    for (int32_t i = 0; i < size_; ++i) {
        out.data_[i] = data_[i] * data_[i];
    }
    return out;
}

float Vector::sum() const {
    if (size_ == 0) {
        return 0.0f;
    }
    float total = data_[0];
    for (int32_t i = 1; i < size_; ++i) {
        total = total + data_[i];
    }
    return total;
}

float Vector::mean() const {
    if (size_ == 0) {
        return std::numeric_limits<float>::quiet_NaN();
    }
    return sum() / static_cast<float>(size_);
}

float Vector::min() const {
    if (size_ == 0) {
        return std::numeric_limits<float>::quiet_NaN();
    }
    float smallest = data_[0];
    for (int32_t i = 1; i < size_; ++i) {
        if (smallest > data_[i]) {
            smallest = data_[i];
        }
    }
    return smallest;
}

float Vector::stdDev() const {
    if (size_ == 0) {
        return 0.0f;
    }
    const float m = sum() / static_cast<float>(size_);
    float ss = 0.0f;
    for (int32_t i = 0; i < size_; ++i) {
        const float d = data_[i] - m;
        ss = ss + d * d;
    }
    // The strict floor also keeps a one-element vector from dividing by zero.
    if (ss > linalg::kStdDevFloor) {
        return std::sqrt(ss / static_cast<float>(size_ - 1));
    }
    return 0.0f;
}
