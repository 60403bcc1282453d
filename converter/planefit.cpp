#include "planefit.h"

#include <algorithm>
#include <cmath>

namespace bsp2map {
namespace {

// Solves the 3x3 normal equations; false when singular.
bool solve3(double a[3][3], double b[3], double out[3])
{
    for (int col = 0; col < 3; ++col) {
        int pivot = col;
        for (int r = col + 1; r < 3; ++r)
            if (std::abs(a[r][col]) > std::abs(a[pivot][col]))
                pivot = r;
        if (std::abs(a[pivot][col]) < 1e-12)
            return false;
        std::swap(a[col], a[pivot]);
        std::swap(b[col], b[pivot]);
        for (int r = col + 1; r < 3; ++r) {
            const double f = a[r][col] / a[col][col];
            for (int c = col; c < 3; ++c)
                a[r][c] -= f * a[col][c];
            b[r] -= f * b[col];
        }
    }
    for (int r = 2; r >= 0; --r) {
        double v = b[r];
        for (int c = r + 1; c < 3; ++c)
            v -= a[r][c] * out[c];
        out[r] = v / a[r][r];
    }
    return true;
}

double worstError(const std::vector<Sample> &points, const double x[3])
{
    double worst = 0;
    for (const Sample &p : points)
        worst = std::max(worst, std::abs(x[0] * p.x + x[1] * p.y + x[2] - p.value));
    return worst;
}

// Corners this close, in repeats, need no smallest-worst search.
constexpr double kGoodEnough = 5e-4;

} // namespace

bool weightedFit(const std::vector<Sample> &points, std::vector<double> &weights, double divisor,
                 double out[3])
{
    // The sums of weight * r[u] * r[w] over r = (x, y, 1), multiplied in that
    // order; the products with 1 are the weighted terms themselves.
    double a00 = 0, a01 = 0, a02 = 0, a10 = 0, a11 = 0, a12 = 0, a22 = 0, b0 = 0, b1 = 0, b2 = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const double w = weights[i] /= divisor;
        const double x = points[i].x, y = points[i].y, v = points[i].value;
        const double wx = w * x, wy = w * y;
        a00 += wx * x;
        a01 += wx * y;
        a02 += wx;
        a10 += wy * x;
        a11 += wy * y;
        a12 += wy;
        a22 += w;
        b0 += wx * v;
        b1 += wy * v;
        b2 += w * v;
    }
    double a[3][3] = {{a00, a01, a02}, {a10, a11, a12}, {a02, a12, a22}}, b[3] = {b0, b1, b2};
    double x[3];
    if (!solve3(a, b, x) || !std::isfinite(x[0] + x[1] + x[2]))
        return false;
    std::copy(x, x + 3, out);
    return true;
}

// Least squares, then Lawson's reweighting towards the smallest worst error:
// the compiler snaps vertices after computing their coordinates, and it is the
// worst corner that an editor shows.
// Returns the worst error of the fit it keeps.
double fitSmallestWorst(const std::vector<Sample> &points, double x[3])
{
    // Kept between calls: a map fits thousands of faces.
    thread_local std::vector<double> weights;
    weights.assign(points.size(), 1.0);
    double best[3] = {x[0], x[1], x[2]};
    double bestWorst = worstError(points, best);
    // The starting guess, one triangle's own mapping, often fits the rest already.
    if (bestWorst < kGoodEnough)
        return bestWorst;
    double current[3];
    if (!weightedFit(points, weights, 1, current))
        return bestWorst;
    for (int iteration = 0; iteration < 40; ++iteration) {
        // The errors, and the weights they give, in one pass.
        double worst = 0, sum = 0;
        for (std::size_t i = 0; i < points.size(); ++i) {
            const Sample &p = points[i];
            const double e = std::abs(current[0] * p.x + current[1] * p.y + current[2] - p.value);
            worst = std::max(worst, e);
            weights[i] *= e + 1e-12;
            sum += weights[i];
        }
        if (worst < bestWorst) {
            bestWorst = worst;
            std::copy(current, current + 3, best);
        }
        // Half the tolerance leaves room for the float output; below it the
        // first least squares is kept, which most faces already reach.
        if (worst < kGoodEnough)
            break;
        if (!(sum > 0))
            break;
        if (!weightedFit(points, weights, sum, current))
            break;
    }
    std::copy(best, best + 3, x);
    return bestWorst;
}

} // namespace bsp2map
