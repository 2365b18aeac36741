#include "host/research/HemodynamicResponse.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "host/formats/HostErrors.h"

namespace corvantis {

namespace {

using Hrf = CanonicalHrf;

double gammaDensity(double t, double shape) {
    return std::exp((shape - 1.0) * std::log(t / Hrf::kScaleSeconds) - t / Hrf::kScaleSeconds - std::lgamma(shape)) /
           Hrf::kScaleSeconds;
}

// The response on the fine grid, at the middle of each step: kernel[m] at
// (m + 1/2) dt, for every m whose time is inside the response's 32 s.
struct Kernel {
    double step = 0.0;
    std::vector<double> values;
};

Kernel kernelOf(double step, bool derivative) {
    Kernel kernel;
    kernel.step = step;
    double integral = 0.0;
    for (int64_t m = 0; (static_cast<double>(m) + 0.5) * step < Hrf::kLengthSeconds; ++m) {
        const double t = (static_cast<double>(m) + 0.5) * step;
        integral += doubleGamma(t) * step;
        kernel.values.push_back(derivative ? doubleGammaDerivative(t) : doubleGamma(t));
    }
    // Normalised by its integral on the same grid, so a long event's regressor rises to 1 exactly.
    for (double& v : kernel.values) v /= integral;
    return kernel;
}

} // namespace

double doubleGamma(double t) {
    if (!(t > 0.0) || t >= Hrf::kLengthSeconds) return 0.0;
    return gammaDensity(t, Hrf::kPeakShape) - Hrf::kUndershootRatio * gammaDensity(t, Hrf::kUndershootShape);
}

double doubleGammaDerivative(double t) {
    if (!(t > 0.0) || t >= Hrf::kLengthSeconds) return 0.0;
    const auto slope = [&](double shape) {
        return gammaDensity(t, shape) * ((shape - 1.0) / t - 1.0 / Hrf::kScaleSeconds);
    };
    return slope(Hrf::kPeakShape) - Hrf::kUndershootRatio * slope(Hrf::kUndershootShape);
}

double volumeTime(const EventTiming& timing, int32_t k) { return (static_cast<double>(k) + 0.5) * timing.tr; }

// Volume k is at (O k + O/2) fine steps (O the oversampling); a fine step i
// covers [i dt, (i + 1) dt), whose middle lies m + 1/2 steps before volume k
// for m = O k + O/2 - 1 - i: the kernel's own index.
std::vector<double> conditionRegressor(const std::vector<TaskEvent>& events, const std::string& condition,
                                       const EventTiming& timing, bool derivative) {
    if (!(timing.tr >= Hrf::kShortestTr && timing.tr <= Hrf::kLongestTr)) {
        std::ostringstream message;
        message << "a TR of " << timing.tr << " s is outside the " << Hrf::kShortestTr << " to " << Hrf::kLongestTr
                << " s that event regressors are made for";
        throw DocumentError(message.str());
    }
    const int64_t oversampling = Hrf::kOversampling;
    const double step = timing.tr / static_cast<double>(oversampling);
    const Kernel kernel = kernelOf(step, derivative);
    const int64_t kernelSize = static_cast<int64_t>(kernel.values.size());
    std::vector<double> regressor(static_cast<std::size_t>(std::max(timing.volumes, 0)), 0.0);
    // Only what lies within the response's reach of a volume matters.
    const double first = -Hrf::kLengthSeconds - 2.0 * step;
    const double last = volumeTime(timing, timing.volumes - 1) + 2.0 * step;
    const auto add = [&](int64_t i, double seconds) {
        const double firstVolume = std::ceil(static_cast<double>(i + 1 - oversampling / 2) / oversampling);
        for (int64_t k = std::max<int64_t>(0, static_cast<int64_t>(firstVolume)); k < timing.volumes; ++k) {
            const int64_t m = oversampling * k + oversampling / 2 - 1 - i;
            if (m >= kernelSize) break;
            regressor[static_cast<std::size_t>(k)] += seconds * kernel.values[static_cast<std::size_t>(m)];
        }
    };
    for (const TaskEvent& event : events) {
        if (event.condition != condition) continue;
        const double begin = std::max(event.onset, first);
        const double end = std::min(event.onset + event.duration, last);
        if (event.duration == 0.0) {
            // An impulse: one second's worth of response at its onset.
            if (event.onset >= first && event.onset <= last)
                add(static_cast<int64_t>(std::floor(event.onset / step)), 1.0);
            continue;
        }
        if (!(end > begin)) continue;
        for (int64_t i = static_cast<int64_t>(std::floor(begin / step)); static_cast<double>(i) * step < end; ++i) {
            const double covered =
                std::min(end, static_cast<double>(i + 1) * step) - std::max(begin, static_cast<double>(i) * step);
            if (covered > 0.0) add(i, covered);
        }
    }
    return regressor;
}

} // namespace corvantis
