#include "bench/Workloads.h"

#include <cmath>
#include <fstream>
#include <stdexcept>

#include "quorvex/ModelPreparation.h"

namespace {

// A 32-bit integer hash, repeated in numpy with wrapping uint32 arithmetic.
uint32_t mix(uint32_t x) {
    x *= 0x9E3779B1u;
    x ^= x >> 16;
    x *= 0x85EBCA6Bu;
    x ^= x >> 13;
    x *= 0xC2B2AE35u;
    x ^= x >> 16;
    return x;
}

// Uniform in [-0.5, 0.5), exact in float.
float noise(uint32_t index) { return static_cast<float>(mix(index) >> 8) * (1.0f / 16777216.0f) - 0.5f; }

// Inside a ball filling the grid, about 52 % of the voxels.
bool insideHead(const Workload& w, int32_t x, int32_t y, int32_t z) {
    const double dx = (x + 0.5) / w.dimX - 0.5;
    const double dy = (y + 0.5) / w.dimY - 0.5;
    const double dz = (z + 0.5) / w.dimZ - 0.5;
    return dx * dx + dy * dy + dz * dz <= 0.25;
}

double boxcar(int32_t v, int32_t period) { return (v / (period / 2)) % 2 == 0 ? 0.0 : 1.0; }

// Six smooth random walks standing in for head motion.
std::vector<std::vector<double>> motion(int32_t n) {
    std::vector<std::vector<double>> m(6, std::vector<double>(static_cast<size_t>(n)));
    for (int k = 0; k < 6; ++k) {
        double x = 0.0;
        for (int32_t v = 0; v < n; ++v) {
            x = 0.95 * x + noise(0x51ED0000u + static_cast<uint32_t>(k * 100000 + v));
            m[k][v] = x;
        }
    }
    return m;
}

// The confound columns: 6 motion terms; 24 adds derivatives, squares and
// squared derivatives; drifts are Legendre-like polynomials.
std::vector<std::vector<double>> confounds(int32_t n, int32_t motionTerms, int32_t drifts) {
    std::vector<std::vector<double>> columns;
    const auto m = motion(n);
    for (int32_t k = 0; k < motionTerms; ++k) {
        const auto& base = m[static_cast<size_t>(k % 6)];
        std::vector<double> c(static_cast<size_t>(n));
        for (int32_t v = 0; v < n; ++v) {
            const double d = v == 0 ? 0.0 : base[v] - base[v - 1];
            const int kind = k / 6;
            c[v] = kind == 0 ? base[v] : kind == 1 ? d : kind == 2 ? base[v] * base[v] : d * d;
        }
        columns.push_back(c);
    }
    for (int32_t k = 1; k <= drifts; ++k) {
        std::vector<double> c(static_cast<size_t>(n));
        for (int32_t v = 0; v < n; ++v) c[v] = std::pow(2.0 * v / (n - 1) - 1.0, k);
        columns.push_back(c);
    }
    return columns;
}

PreparedModel model(int32_t n, int32_t motionTerms, int32_t drifts) {
    const int32_t periods[4] = {20, 30, 40, 50};
    const auto conf = confounds(n, motionTerms, drifts);
    const int32_t p = 4 + static_cast<int32_t>(conf.size()) + 1;
    PreparedModel m;
    m.X = Matrix(n, p, 1.0f);
    for (int32_t c = 0; c < 4; ++c)
        for (int32_t v = 0; v < n; ++v) m.X(v, c) = static_cast<float>(boxcar(v, periods[c]));
    for (size_t c = 0; c < conf.size(); ++c)
        for (int32_t v = 0; v < n; ++v) m.X(v, 4 + static_cast<int32_t>(c)) = static_cast<float>(conf[c][v]);
    m.P = pseudoInverse(m.X);
    m.confoundSelector = Vector(p, 0.0f);
    for (int32_t c = 4; c < p - 1; ++c) m.confoundSelector[c] = 1.0f;
    return m;
}

void writeFloats(std::ofstream& out, const float* values, int32_t count) {
    out.write(reinterpret_cast<const char*>(values), static_cast<std::streamsize>(count) * sizeof(float));
}

} // namespace

Workload workloadNamed(const std::string& name) {
    if (name == "W1") return {"W1", 64, 64, 36, 300, 11, 34, 100.0f};
    if (name == "W2") return {"W2", 96, 96, 60, 600, 11, 34, 100.0f};
    if (name == "W3") return {"W3", 64, 64, 36, 100, 5, 7, 100.0f};
    throw std::invalid_argument("unknown workload " + name);
}

int32_t voxelCount(const Workload& w) { return w.dimX * w.dimY * w.dimZ; }

std::vector<float> timeCourses(const Workload& w) {
    const int32_t count = voxelCount(w);
    std::vector<float> values(static_cast<size_t>(w.n) * count);
    std::vector<float> base(static_cast<size_t>(count));
    for (int32_t z = 0; z < w.dimZ; ++z)
        for (int32_t y = 0; y < w.dimY; ++y)
            for (int32_t x = 0; x < w.dimX; ++x)
                base[(static_cast<size_t>(z) * w.dimY + y) * w.dimX + x] = insideHead(w, x, y, z) ? 1000.0f : 20.0f;
    for (int32_t v = 0; v < w.n; ++v) {
        float* volume = values.data() + static_cast<size_t>(v) * count;
        for (int32_t l = 0; l < count; ++l) {
            volume[l] = base[l] + 40.0f * noise(static_cast<uint32_t>(v) * static_cast<uint32_t>(count) +
                                                static_cast<uint32_t>(l));
        }
    }
    return values;
}

void prepareModels(const Workload& w, PreparedModel (&models)[2]) {
    if (w.p1 == 11) {
        models[0] = model(w.n, 6, 0);
        models[1] = model(w.n, 24, 5);
    } else {
        models[0] = model(w.n, 0, 0);
        models[1] = model(w.n, 0, 2);
    }
}

void writeModels(const std::string& path, int32_t n, const PreparedModel (&models)[2]) {
    std::ofstream out(path, std::ios::binary);
    const int32_t header[3] = {n, models[0].X.cols(), models[1].X.cols()};
    out.write(reinterpret_cast<const char*>(header), sizeof header);
    for (const PreparedModel& m : models) {
        writeFloats(out, m.X.data(), m.X.count());
        writeFloats(out, m.P.data(), m.P.count());
        writeFloats(out, m.confoundSelector.data(), m.confoundSelector.size());
    }
    if (!out) throw std::runtime_error("cannot write " + path);
}
