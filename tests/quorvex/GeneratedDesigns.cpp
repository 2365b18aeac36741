#include "GeneratedDesigns.h"

#include <cmath>
#include <cstddef>
#include <random>

namespace gendesign {
namespace {

const double kPi = 3.14159265358979323846;
constexpr double kRepetitionTime = 2.0; // seconds

// Uniform in (0, 1) from 32 bits, then Box-Muller: portable, unlike the
// standard library's distributions.
class Normal {
public:
    explicit Normal(uint32_t seed) : gen_(seed) {}
    double operator()() {
        const double u1 = (static_cast<double>(gen_()) + 0.5) / 4294967296.0;
        const double u2 = (static_cast<double>(gen_()) + 0.5) / 4294967296.0;
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * kPi * u2);
    }

private:
    std::mt19937 gen_;
};

// Double-gamma response sampled at the volumes: peak near 5 s, undershoot
// near 15 s.
Column haemodynamicResponse() {
    Column h;
    for (double t = 0.0; t <= 32.0; t += kRepetitionTime) {
        const double peak = std::pow(t, 5.0) * std::exp(-t) / 120.0;
        const double undershoot = std::pow(t, 15.0) * std::exp(-t) / 1.307674368e12;
        h.push_back(peak - undershoot / 6.0);
    }
    return h;
}

Column blockTask(int32_t onset, int32_t duration, int32_t period) {
    const Column h = haemodynamicResponse();
    Column boxcar(kVolumes, 0.0);
    for (int32_t t = 0; t < kVolumes; ++t) {
        const int32_t phase = (t - onset + period) % period;
        boxcar[static_cast<std::size_t>(t)] = phase < duration ? 1.0 : 0.0;
    }
    Column task(kVolumes, 0.0);
    for (std::size_t t = 0; t < task.size(); ++t) {
        for (std::size_t k = 0; k < h.size() && k <= t; ++k) {
            task[t] += h[k] * boxcar[t - k];
        }
    }
    return task;
}

Column randomWalk(Normal& normal, double start, double step) {
    Column walk(kVolumes);
    double value = start;
    for (double& v : walk) {
        value += step * normal();
        v = value;
    }
    return walk;
}

Column constant() { return Column(kVolumes, 1.0); }

Design assemble(const Regressors& r, const std::vector<Column>& confounds) {
    Design d{{r.task[0], r.task[1]}, 2};
    d.columns.insert(d.columns.end(), confounds.begin(), confounds.end());
    d.columns.push_back(constant());
    return d;
}

std::vector<Column> cosines(const Regressors& r) { return std::vector<Column>(r.cosine, r.cosine + 5); }

} // namespace

Regressors makeRegressors(uint32_t seed) {
    Regressors r;
    r.task[0] = blockTask(8, 12, 48);
    r.task[1] = blockTask(30, 10, 64);
    Normal normal(seed);
    for (int j = 0; j < 3; ++j) {
        r.motion[j] = randomWalk(normal, 0.3 * normal(), 0.04);         // mm
        r.motion[j + 3] = randomWalk(normal, 0.004 * normal(), 0.0006); // radians
    }
    for (int k = 0; k < 5; ++k) {
        r.cosine[k].resize(kVolumes);
        for (int32_t t = 0; t < kVolumes; ++t) {
            r.cosine[k][static_cast<std::size_t>(t)] = std::cos(kPi * (k + 1) * (t + 0.5) / kVolumes);
        }
    }
    for (int32_t t = 0; t < kVolumes; ++t) {
        r.trend.push_back(static_cast<double>(t));
    }
    return r;
}

std::vector<Column> motionColumns(const Regressors& r, double factor, bool withExpansion) {
    std::vector<Column> out;
    for (const Column& m : r.motion) {
        Column scaled(m);
        for (double& v : scaled) v *= factor;
        out.push_back(scaled);
    }
    if (!withExpansion) {
        return out;
    }
    for (int j = 0; j < 6; ++j) {
        Column derivative(kVolumes, 0.0);
        for (std::size_t t = 1; t < derivative.size(); ++t) {
            derivative[t] = out[static_cast<std::size_t>(j)][t] - out[static_cast<std::size_t>(j)][t - 1];
        }
        out.push_back(derivative);
    }
    for (int j = 0; j < 12; ++j) {
        Column square(out[static_cast<std::size_t>(j)]);
        for (double& v : square) v *= v;
        out.push_back(square);
    }
    return out;
}

Design tasksOnly(const Regressors& r) { return assemble(r, {}); }

Design tasksAndCosines(const Regressors& r) { return assemble(r, cosines(r)); }

Design motionAndCosines(const Regressors& r, double factor) {
    std::vector<Column> confounds = motionColumns(r, factor, false);
    const std::vector<Column> drift = cosines(r);
    confounds.insert(confounds.end(), drift.begin(), drift.end());
    return assemble(r, confounds);
}

Design motionAndTrend(const Regressors& r) {
    std::vector<Column> confounds = motionColumns(r, 1.0, false);
    confounds.push_back(r.trend);
    return assemble(r, confounds);
}

Design expandedMotionAndCosines(const Regressors& r) {
    std::vector<Column> confounds = motionColumns(r, 1.0, true);
    const std::vector<Column> drift = cosines(r);
    confounds.insert(confounds.end(), drift.begin(), drift.end());
    return assemble(r, confounds);
}

Matrix matrixOf(const Design& d) {
    const int32_t p = static_cast<int32_t>(d.columns.size());
    Matrix x(kVolumes, p, 0.0f);
    for (int32_t c = 0; c < p; ++c) {
        for (int32_t t = 0; t < kVolumes; ++t) {
            x(t, c) = static_cast<float>(d.columns[static_cast<std::size_t>(c)][static_cast<std::size_t>(t)]);
        }
    }
    return x;
}

Vector selectorOf(const Design& d) {
    const int32_t p = static_cast<int32_t>(d.columns.size());
    Vector s(p, 0.0f);
    for (int32_t c = d.firstConfound; c <= p - 2; ++c) {
        s[c] = 1.0f;
    }
    return s;
}

std::vector<Vector> voxelTimeCourses(const Regressors& r, int32_t count, uint32_t seed) {
    Normal normal(seed);
    std::vector<Vector> out;
    for (int32_t v = 0; v < count; ++v) {
        const double baseline = 1000.0 + 150.0 * normal();
        const double task0 = 15.0 * normal();
        const double task1 = 15.0 * normal();
        double motion[6];
        for (int j = 0; j < 3; ++j) {
            motion[j] = 20.0 * normal();       // per mm
            motion[j + 3] = 1500.0 * normal(); // per radian
        }
        const double drift = 10.0 * normal();
        const double noise = 4.0 + 4.0 * std::fabs(normal());
        Vector y(kVolumes);
        for (int32_t t = 0; t < kVolumes; ++t) {
            const std::size_t i = static_cast<std::size_t>(t);
            double value = baseline + task0 * r.task[0][i] + task1 * r.task[1][i];
            for (int j = 0; j < 6; ++j) {
                value += motion[j] * r.motion[j][i];
            }
            value += drift * (static_cast<double>(t) / kVolumes - 0.5) + noise * normal();
            y[t] = static_cast<float>(value);
        }
        out.push_back(y);
    }
    return out;
}

} // namespace gendesign
