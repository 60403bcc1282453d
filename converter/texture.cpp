#include "texture.h"

#include "planefit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace bsp2map {
namespace {

// Triangles within this of a projection, in repeats, share it.
constexpr double kSameProjection = 2e-3;
// How many different projections on one face are tried before giving up.
constexpr int kMaxClusters = 4;

struct Projected {
    double x[3], y[3];
    double s[3], t[3];
    double det; // twice the signed area in the axis base
    bool sliver;
    double m[2][3];
};

double shiftOf(double residual)
{
    return nearest(residual);
}

// Corners within this of a projection, in repeats, count as reproduced.
constexpr double kTolerance = 1e-3;
// The largest triangles' own mappings tried as the face's projection.
constexpr std::size_t kCandidates = 16;
// Corners this close may still be brought within the tolerance by a better fit.
constexpr double kNear = 4e-3;
// How many near corners may be let go, one by one, to fit the rest.
constexpr int kDrops = 4;

// Each row's errors at a triangle's corners once the whole-repeat shift that
// suits the triangle best is taken off, as an editor's user sees them.
void cornerErrors(const Projected &p, const double (&m)[2][3], double errors[3], double shifts[2])
{
    errors[0] = errors[1] = errors[2] = 0;
    for (int row = 0; row < 2; ++row) {
        const double *v = row == 0 ? p.s : p.t;
        double diff[3];
        for (int k = 0; k < 3; ++k)
            diff[k] = m[row][0] * p.x[k] + m[row][1] * p.y[k] + m[row][2] - v[k];
        double bestWorst = std::numeric_limits<double>::infinity(), bestShift = 0;
        for (const double at : diff) {
            const double shift = nearest(at);
            const double worst = std::max(
                {std::abs(diff[0] - shift), std::abs(diff[1] - shift), std::abs(diff[2] - shift)});
            if (worst < bestWorst) {
                bestWorst = worst;
                bestShift = shift;
            }
        }
        shifts[row] = bestShift;
        for (int k = 0; k < 3; ++k)
            errors[k] = std::max(errors[k], std::abs(diff[k] - bestShift));
    }
}

// The point fits are taken around, for conditioning.
struct Around {
    double x, y;
};

struct Consensus {
    std::size_t inliers = 0;
    double spread = std::numeric_limits<double>::infinity(); // sum of the inliers' squared errors

    bool better(const Consensus &other) const
    {
        return inliers > other.inliers || (inliers == other.inliers && spread < other.spread);
    }
};

Consensus consensusOf(const std::vector<Projected> &tris, const double (&m)[2][3])
{
    Consensus c;
    c.spread = 0;
    double errors[3], shifts[2];
    for (const Projected &p : tris) {
        cornerErrors(p, m, errors, shifts);
        for (const double e : errors)
            if (e <= kTolerance) {
                ++c.inliers;
                c.spread += e * e;
            }
    }
    return c;
}

// The worst error of `m` over the corners within `band` of it.
double worstWithin(const std::vector<Projected> &tris, const double (&m)[2][3], double band,
                   const std::vector<std::array<double, 2>> &without)
{
    double worst = 0, errors[3], shifts[2];
    for (const Projected &p : tris) {
        cornerErrors(p, m, errors, shifts);
        for (int k = 0; k < 3; ++k)
            if (errors[k] <= band &&
                std::find(without.begin(), without.end(), std::array<double, 2>{p.x[k], p.y[k]}) ==
                    without.end())
                worst = std::max(worst, errors[k]);
    }
    return worst;
}

// A fit over the corners that `m` brings within `band`, each triangle moved by
// its own whole-repeat shift, around (ox, oy) for conditioning: least squares,
// or the smallest worst error, which can take in corners just outside.
bool refineOver(const std::vector<Projected> &tris, const double (&m)[2][3], double band,
                bool smallestWorst, Around around, double (&out)[2][3],
                const std::vector<std::array<double, 2>> &without = {})
{
    const double ox = around.x, oy = around.y;
    thread_local std::vector<Sample> points[2];
    points[0].clear();
    points[1].clear();
    double errors[3], shifts[2];
    for (const Projected &p : tris) {
        cornerErrors(p, m, errors, shifts);
        for (int k = 0; k < 3; ++k) {
            if (!(errors[k] <= band) ||
                std::find(without.begin(), without.end(), std::array<double, 2>{p.x[k], p.y[k]}) !=
                    without.end())
                continue;
            points[0].push_back({p.x[k] - ox, p.y[k] - oy, p.s[k] + shifts[0]});
            points[1].push_back({p.x[k] - ox, p.y[k] - oy, p.t[k] + shifts[1]});
        }
    }
    if (points[0].size() < 3)
        return false;
    for (int row = 0; row < 2; ++row) {
        double x[3] = {m[row][0], m[row][1], m[row][2] + m[row][0] * ox + m[row][1] * oy};
        if (smallestWorst) {
            fitSmallestWorst(points[row], x);
        } else {
            thread_local std::vector<double> weights;
            weights.assign(points[row].size(), 1.0);
            if (!weightedFit(points[row], weights, 1, x))
                return false;
        }
        out[row][0] = x[0];
        out[row][1] = x[1];
        out[row][2] = x[2] - x[0] * ox - x[1] * oy;
    }
    return true;
}

// A fit and how many corners it reproduces.
struct Fitted {
    TexMatrix tex;
    Consensus best;
};

// A triangle in the face's axis base, with its texture coordinates.
Projected project(const TexSample &sample, Vec3 texS, Vec3 texT)
{
    Projected p;
    for (int k = 0; k < 3; ++k) {
        p.x[k] = dot(sample.p[k], texS);
        p.y[k] = dot(sample.p[k], texT);
        p.s[k] = sample.st[k][0];
        p.t[k] = sample.st[k][1];
    }
    return p;
}

// Each triangle's own mapping, in the face's axis base; slivers left out
// unless there is nothing else. Largest first: the best conditioned triangle
// leads each group. False when no triangle is usable.
bool projectAll(std::span<const TexSample> samples, Vec3 texS, Vec3 texT,
                std::vector<Projected> &tris)
{
    tris.clear();
    // Room for all at once: a terrain face has thousands, and growing would
    // touch fresh pages twice over.
    tris.reserve(samples.size());
    for (const TexSample &sample : samples) {
        Projected p = project(sample, texS, texT);
        const double x1 = p.x[1] - p.x[0], y1 = p.y[1] - p.y[0];
        const double x2 = p.x[2] - p.x[0], y2 = p.y[2] - p.y[0];
        p.det = x1 * y2 - x2 * y1;
        if (!(std::abs(p.det) > 1e-6))
            continue;
        const double *v[2] = {p.s, p.t};
        for (int row = 0; row < 2; ++row) {
            const double d1 = v[row][1] - v[row][0], d2 = v[row][2] - v[row][0];
            const double a = (d1 * y2 - d2 * y1) / p.det;
            const double b = (x1 * d2 - x2 * d1) / p.det;
            p.m[row][0] = a;
            p.m[row][1] = b;
            p.m[row][2] = v[row][0] - a * p.x[0] - b * p.y[0];
        }
        if (!std::isfinite(p.m[0][0] + p.m[0][1] + p.m[0][2] + p.m[1][0] + p.m[1][1] + p.m[1][2]))
            continue;
        // Under half a unit across, a triangle along an edge carries no texture
        // direction across it, and its snapped corners say little about the face.
        const Vec3 across = cross(sample.p[2] - sample.p[0], sample.p[1] - sample.p[0]);
        const double longest =
            std::sqrt(std::max({dot(sample.p[1] - sample.p[0], sample.p[1] - sample.p[0]),
                                dot(sample.p[2] - sample.p[1], sample.p[2] - sample.p[1]),
                                dot(sample.p[0] - sample.p[2], sample.p[0] - sample.p[2])}));
        p.sliver = !(length(across) >= 0.5 * longest);
        tris.push_back(p);
    }
    if (tris.empty())
        return false;
    if (!std::all_of(tris.begin(), tris.end(), [](const Projected &p) { return p.sliver; }))
        std::erase_if(tris, [](const Projected &p) { return p.sliver; });
    std::sort(tris.begin(), tris.end(), [](const Projected &a, const Projected &b) {
        return std::abs(a.det) > std::abs(b.det);
    });
    return true;
}

// The whole-repeat shift that takes p's first corner to `ref`'s mapping.
double shiftAgainst(const Projected &ref, const Projected &p, int row)
{
    const double *v = row == 0 ? p.s : p.t;
    return shiftOf(v[0] - (ref.m[row][0] * p.x[0] + ref.m[row][1] * p.y[0] + ref.m[row][2]));
}

// The triangles that share one projection, up to whole repeats, with the
// largest of them, for the first few projections: the group that most
// triangles share wins, area breaking ties. `lead` is its largest.
const std::vector<std::size_t> &largestGroup(const std::vector<Projected> &tris, std::size_t &lead)
{
    thread_local std::vector<char> taken;
    taken.assign(tris.size(), 0);
    thread_local std::vector<std::size_t> group, bestGroup;
    bestGroup.clear();
    double bestArea = -1;
    for (int cluster = 0; cluster < kMaxClusters; ++cluster) {
        const auto first =
            static_cast<std::size_t>(std::find(taken.begin(), taken.end(), 0) - taken.begin());
        if (first == tris.size())
            break;
        const Projected &ref = tris[first];
        group.clear();
        double area = 0;
        for (std::size_t i = first; i < tris.size(); ++i) {
            if (taken[i])
                continue;
            const Projected &p = tris[i];
            bool fits = true;
            const double *v[2] = {p.s, p.t};
            for (int row = 0; row < 2 && fits; ++row) {
                const double shift = shiftAgainst(ref, p, row);
                for (int k = 0; k < 3 && fits; ++k) {
                    const double predicted =
                        ref.m[row][0] * p.x[k] + ref.m[row][1] * p.y[k] + ref.m[row][2];
                    fits = std::abs(v[row][k] - shift - predicted) < kSameProjection;
                }
            }
            if (fits) {
                taken[i] = 1;
                group.push_back(i);
                area += std::abs(p.det);
            }
        }
        if (group.size() > bestGroup.size() ||
            (group.size() == bestGroup.size() && area > bestArea)) {
            bestArea = area;
            bestGroup = group;
            lead = first;
        }
    }
    return bestGroup;
}

// A fit over the group, each triangle moved by its whole-repeat shift against
// the lead; `worst` is its worst error.
TexMatrix groupedFit(const std::vector<Projected> &tris, const std::vector<std::size_t> &group,
                     std::size_t lead, Around around, double &worst)
{
    const Projected &ref = tris[lead];
    const double ox = around.x, oy = around.y;
    TexMatrix grouped;
    thread_local std::vector<Sample> points;
    // Sized once: growing would touch fresh pages twice over.
    points.resize(3 * group.size());
    worst = 0;
    for (int row = 0; row < 2; ++row) {
        Sample *point = points.data();
        for (std::size_t i : group) {
            const Projected &p = tris[i];
            const double *v = row == 0 ? p.s : p.t;
            const double shift = shiftAgainst(ref, p, row);
            for (int k = 0; k < 3; ++k)
                *point++ = {p.x[k] - ox, p.y[k] - oy, v[k] - shift};
        }
        double x[3] = {ref.m[row][0], ref.m[row][1],
                       ref.m[row][2] + ref.m[row][0] * ox + ref.m[row][1] * oy};
        worst = std::max(worst, group.size() >= 2 ? fitSmallestWorst(points, x) : 0.0);
        grouped.m[row][0] = x[0];
        grouped.m[row][1] = x[1];
        grouped.m[row][2] = x[2] - x[0] * ox - x[1] * oy;
    }
    return grouped;
}

// Consensus: of the largest triangles' own mappings and the grouped fit, the
// one that brings the most corners within a tolerance wins. A stray snapped
// vertex, or a triangle of a neighbouring face on the same plane, then costs
// only its own corners instead of pulling every corner off. Then least
// squares over the winner's corners only, and the smallest worst error over
// them and those just outside, each kept while it gains.
void bestOfCandidates(const std::vector<Projected> &tris, Around around, Fitted &fit)
{
    const std::size_t candidates = std::min(tris.size(), kCandidates);
    for (std::size_t c = 0; c < candidates; ++c) {
        const Consensus mine = consensusOf(tris, tris[c].m);
        if (mine.better(fit.best)) {
            fit.best = mine;
            std::copy(&tris[c].m[0][0], &tris[c].m[0][0] + 6, &fit.tex.m[0][0]);
        }
    }
    struct Step {
        double band;
        bool smallestWorst;
    };
    for (const Step step : {Step{kTolerance, false}, Step{kTolerance, false}, Step{kNear, true},
                            Step{kTolerance, true}}) {
        TexMatrix refined;
        if (!refineOver(tris, fit.tex.m, step.band, step.smallestWorst, around, refined.m))
            continue;
        const Consensus mine = consensusOf(tris, refined.m);
        if (mine.better(fit.best)) {
            fit.best = mine;
            fit.tex = refined;
        }
    }
}

// Where corners are still left out, the smallest worst error over those near,
// letting go of every place that holds the worst error up, band by band.
void narrowBand(const std::vector<Projected> &tris, Around around, Fitted &fit)
{
    TexMatrix current = fit.tex;
    double band = kNear;
    for (int drop = 0; drop < kDrops && fit.best.inliers < 3 * tris.size(); ++drop) {
        TexMatrix refined;
        if (!refineOver(tris, current.m, band, true, around, refined.m))
            break;
        if (const Consensus mine = consensusOf(tris, refined.m); mine.better(fit.best)) {
            fit.best = mine;
            fit.tex = refined;
        }
        const double worst = worstWithin(tris, refined.m, band, {});
        if (!(worst > kTolerance))
            break;
        current = refined;
        band = worst * (1 - 1e-9);
    }
}

// The places (at most four) whose corners hold the worst error of `m` up.
std::vector<std::array<double, 2>> holdingPlaces(const std::vector<Projected> &tris,
                                                 const double (&m)[2][3], double worst,
                                                 const std::vector<std::array<double, 2>> &without)
{
    std::vector<std::array<double, 2>> holding;
    double errors[3], shifts[2];
    for (const Projected &p : tris) {
        cornerErrors(p, m, errors, shifts);
        for (int k = 0; k < 3; ++k) {
            const std::array<double, 2> at{p.x[k], p.y[k]};
            if (errors[k] >= worst * (1 - 1e-6) && errors[k] <= kNear &&
                std::find(holding.begin(), holding.end(), at) == holding.end() &&
                std::find(without.begin(), without.end(), at) == without.end() &&
                holding.size() < 4)
                holding.push_back(at);
        }
    }
    return holding;
}

// Then one place at a time, the one whose loss fits the rest best: one stray
// corner should not cost its neighbours.
void dropStrays(const std::vector<Projected> &tris, Around around, Fitted &fit)
{
    std::vector<std::array<double, 2>> without;
    for (int drop = 0; drop < kDrops && fit.best.inliers < 3 * tris.size(); ++drop) {
        TexMatrix fitted;
        if (!refineOver(tris, fit.tex.m, kNear, true, around, fitted.m, without))
            break;
        if (const Consensus mine = consensusOf(tris, fitted.m); mine.better(fit.best)) {
            fit.best = mine;
            fit.tex = fitted;
        }
        // Where the smallest worst error is reached, the places that hold it up.
        const double worst = worstWithin(tris, fitted.m, kNear, without);
        if (!(worst > kTolerance))
            break;
        Consensus bestDrop;
        std::array<double, 2> dropped{};
        for (const std::array<double, 2> &at : holdingPlaces(tris, fitted.m, worst, without)) {
            without.push_back(at);
            TexMatrix trial;
            if (refineOver(tris, fit.tex.m, kNear, true, around, trial.m, without)) {
                const Consensus mine = consensusOf(tris, trial.m);
                if (mine.better(bestDrop)) {
                    bestDrop = mine;
                    dropped = at;
                }
            }
            without.pop_back();
        }
        if (bestDrop.inliers == 0)
            break;
        without.push_back(dropped);
    }
}

} // namespace

void axisBase(Vec3 normal, Vec3 &texS, Vec3 &texT)
{
    for (int i = 0; i < 3; ++i)
        if (std::abs(normal[i]) < 1e-6)
            normal[i] = 0;
    // The editor turns by atan2 angles; their sines and cosines are the
    // normal's own ratios, without the trigonometry.
    const double across = std::sqrt(normal.y * normal.y + normal.x * normal.x);
    const double whole = std::sqrt(across * across + normal.z * normal.z);
    const double sinZ = across > 0 ? normal.y / across : 0,
                 cosZ = across > 0 ? normal.x / across : 1;
    const double sinY = whole > 0 ? -normal.z / whole : 0, cosY = whole > 0 ? across / whole : 1;
    texS = {-sinZ, cosZ, 0};
    texT = {-sinY * cosZ, -sinY * sinZ, -cosY};
}

TexMatrix defaultTexMatrix()
{
    return {{{1.0 / 128, 0, 0}, {0, 1.0 / 128, 0}}};
}

double worstCornerError(Vec3 normal, const TexMatrix &tex, const TexSample &sample)
{
    Vec3 texS, texT;
    axisBase(normal, texS, texT);
    const Projected p = project(sample, texS, texT);
    double errors[3], shifts[2];
    cornerErrors(p, tex.m, errors, shifts);
    return std::max({errors[0], errors[1], errors[2]});
}

std::optional<TexMatrix> fitTexture(Vec3 normal, std::span<const TexSample> samples)
{
    Vec3 texS, texT;
    axisBase(normal, texS, texT);
    thread_local std::vector<Projected> tris;
    if (!projectAll(samples, texS, texT, tris))
        return std::nullopt;
    std::size_t lead = 0;
    const std::vector<std::size_t> &group = largestGroup(tris, lead);
    // Around the lead's corner, for conditioning.
    const Around around{tris[lead].x[0], tris[lead].y[0]};
    double groupedWorst = 0;
    const TexMatrix grouped = groupedFit(tris, group, lead, around, groupedWorst);
    // Most faces are fitted whole by the grouped fit; they need nothing more.
    // A group of every triangle within the tolerance under the lead's shifts
    // is within it under each triangle's best shift too.
    const bool wholeGroup = group.size() == tris.size() && groupedWorst < kTolerance;
    Fitted fit{grouped, {}};
    if (wholeGroup)
        fit.best.inliers = 3 * tris.size();
    else
        fit.best = consensusOf(tris, grouped.m);
    if (fit.best.inliers < 3 * tris.size()) {
        bestOfCandidates(tris, around, fit);
        narrowBand(tris, around, fit);
        dropStrays(tris, around, fit);
    }
    // Whole repeats of offset carry no information.
    TexMatrix result = fit.tex;
    for (int row = 0; row < 2; ++row) {
        const double c = result.m[row][2];
        if (std::abs(c) < 1e9)
            result.m[row][2] = c - std::floor(c);
    }
    return result;
}

} // namespace bsp2map
