// The canonical double-gamma haemodynamic response and the regressors it makes
// from task events: each condition's boxcar (1 during an event, 0 elsewhere),
// oversampled, convolved with the response and taken at each volume.
#pragma once

#include <cstdint>
#include <vector>

#include "host/formats/EventsTable.h"

namespace corvantis {

// The response: a gamma density of shape 6 (the peak) minus one sixth of a
// gamma density of shape 16 (the undershoot), both of scale 1 s, cut at 32 s and
// divided by its integral over [0, 32 s], so a long event's regressor rises to 1.
struct CanonicalHrf {
    static constexpr double kPeakShape = 6.0;
    static constexpr double kUndershootShape = 16.0;
    static constexpr double kUndershootRatio = 1.0 / 6.0;
    static constexpr double kScaleSeconds = 1.0;
    static constexpr double kLengthSeconds = 32.0;
    // Fine time steps per TR for the boxcar and the convolution.
    static constexpr int32_t kOversampling = 16;
    // The TRs event regressors are made for, in seconds: beyond them the grid
    // would hold millions of steps per event, or the response no step at all.
    static constexpr double kShortestTr = 0.01;
    static constexpr double kLongestTr = 100.0;
};

// The response at t seconds after an impulse (0 outside [0, 32 s)), unnormalised,
// and its time derivative.
double doubleGamma(double t);
double doubleGammaDerivative(double t);

struct EventTiming {
    double tr = 0.0;     // seconds
    int32_t volumes = 0; // each taken at k TR + TR / 2, k = 0 .. volumes - 1
};

// The time volume k is taken at: the middle of its acquisition, where slice-timing
// correction to the middle slice puts every slice.
double volumeTime(const EventTiming& timing, int32_t k);

// One condition's regressor at each volume: its events' boxcar (the share of
// each fine step an event covers) convolved with the normalised response on a
// grid of TR / 16, then read at the volumes' times. With derivative, the time
// derivative of that regressor (per second) instead. Throws DocumentError for a
// TR outside [kShortestTr, kLongestTr].
std::vector<double> conditionRegressor(const std::vector<TaskEvent>& events, const std::string& condition,
                                       const EventTiming& timing, bool derivative);

} // namespace corvantis
