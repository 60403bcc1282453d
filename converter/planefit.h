// Fitting v = x[0] * px + x[1] * py + x[2] to samples (px, py, v): least
// squares, weighted, or with the smallest worst error.
#pragma once

#include <vector>

namespace bsp2map {

struct Sample {
    double x, y, value;
};

// Each weight is divided by `divisor` first, and kept so. False when the
// samples leave the fit undetermined.
bool weightedFit(const std::vector<Sample> &points, std::vector<double> &weights, double divisor,
                 double out[3]);

// From the guess in x, the fit with the smallest worst error that least
// squares and reweighting reach; returns that error.
double fitSmallestWorst(const std::vector<Sample> &points, double x[3]);

} // namespace bsp2map
