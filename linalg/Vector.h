// A dense single-precision vector owning its buffer.
#pragma once

#include <cstdint>
#include <memory>

class Vector {
public:
    Vector();
    explicit Vector(int32_t n); // uninitialised elements
    Vector(int32_t n, float value);
    Vector(const Vector& other);
    Vector(Vector&& other) noexcept; // other keeps its size, loses its buffer
    Vector& operator=(const Vector& other);
    ~Vector();

    void resize(int32_t n);

    int32_t size() const { return size_; }
    float* data() { return data_.get(); }
    const float* data() const { return data_.get(); }
    float& operator[](int32_t i) { return data_[i]; }
    const float& operator[](int32_t i) const { return data_[i]; }

    // Element-by-element; the result has this vector's length.
    Vector operator*(const Vector& b) const;
    Vector operator-(const Vector& b) const;
    Vector operator-(float s) const;
    Vector squared() const;

    // An empty vector has sum 0, mean and min NaN, stdDev 0.
    float sum() const;    // from index 0 upward, one float accumulator
    float mean() const;   // sum() / float(size)
    float min() const;    // NaN never replaces the running minimum
    float stdDev() const; // sample standard deviation, 0 at or below the 1e-4 floor

private:
    int32_t size_;
    std::unique_ptr<float[]> data_;
};
