#include "texture.h"

#include <algorithm>
#include <cmath>
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
    double m[2][3];
};

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

double shiftOf(double residual) { return std::round(residual); }

} // namespace

void axisBase(Vec3 normal, Vec3 &texS, Vec3 &texT)
{
    for (int i = 0; i < 3; ++i)
        if (std::abs(normal[i]) < 1e-6)
            normal[i] = 0;
    const double rotY = -std::atan2(normal.z, std::sqrt(normal.y * normal.y + normal.x * normal.x));
    const double rotZ = std::atan2(normal.y, normal.x);
    texS = {-std::sin(rotZ), std::cos(rotZ), 0};
    texT = {-std::sin(rotY) * std::cos(rotZ), -std::sin(rotY) * std::sin(rotZ), -std::cos(rotY)};
}

TexMatrix defaultTexMatrix() { return {{{1.0 / 128, 0, 0}, {0, 1.0 / 128, 0}}}; }

std::optional<TexMatrix> fitTexture(Vec3 normal, std::span<const TexSample> samples)
{
    Vec3 texS, texT;
    axisBase(normal, texS, texT);
    std::vector<Projected> tris;
    tris.reserve(samples.size());
    for (const TexSample &sample : samples) {
        Projected p;
        for (int k = 0; k < 3; ++k) {
            p.x[k] = dot(sample.p[k], texS);
            p.y[k] = dot(sample.p[k], texT);
            p.s[k] = sample.st[k][0];
            p.t[k] = sample.st[k][1];
        }
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
        tris.push_back(p);
    }
    if (tris.empty())
        return std::nullopt;
    // Largest first: the best conditioned triangle leads each group.
    std::sort(tris.begin(), tris.end(),
              [](const Projected &a, const Projected &b) { return std::abs(a.det) > std::abs(b.det); });

    std::vector<char> taken(tris.size(), 0);
    std::vector<std::size_t> group, bestGroup;
    double bestArea = -1;
    std::size_t bestLead = 0;
    for (int cluster = 0; cluster < kMaxClusters; ++cluster) {
        const auto lead = static_cast<std::size_t>(
            std::find(taken.begin(), taken.end(), 0) - taken.begin());
        if (lead == tris.size())
            break;
        const Projected &ref = tris[lead];
        group.clear();
        double area = 0;
        for (std::size_t i = lead; i < tris.size(); ++i) {
            if (taken[i])
                continue;
            const Projected &p = tris[i];
            bool fits = true;
            const double *v[2] = {p.s, p.t};
            for (int row = 0; row < 2 && fits; ++row) {
                const double shift = shiftOf(v[row][0] - (ref.m[row][0] * p.x[0] + ref.m[row][1] * p.y[0] + ref.m[row][2]));
                for (int k = 0; k < 3 && fits; ++k) {
                    const double predicted = ref.m[row][0] * p.x[k] + ref.m[row][1] * p.y[k] + ref.m[row][2];
                    fits = std::abs(v[row][k] - shift - predicted) < kSameProjection;
                }
            }
            if (fits) {
                taken[i] = 1;
                group.push_back(i);
                area += std::abs(p.det);
            }
        }
        if (area > bestArea) {
            bestArea = area;
            bestGroup = group;
            bestLead = lead;
        }
    }

    // Least squares over the group, each triangle moved by its whole-repeat
    // shift against the lead, around the lead's corner for conditioning.
    const Projected &ref = tris[bestLead];
    const double ox = ref.x[0], oy = ref.y[0];
    TexMatrix result;
    for (int row = 0; row < 2; ++row) {
        double a[3][3] = {}, b[3] = {};
        for (std::size_t i : bestGroup) {
            const Projected &p = tris[i];
            const double *v = row == 0 ? p.s : p.t;
            const double shift = shiftOf(v[0] - (ref.m[row][0] * p.x[0] + ref.m[row][1] * p.y[0] + ref.m[row][2]));
            for (int k = 0; k < 3; ++k) {
                const double r[3] = {p.x[k] - ox, p.y[k] - oy, 1};
                const double target = v[k] - shift;
                for (int u = 0; u < 3; ++u) {
                    for (int w = 0; w < 3; ++w)
                        a[u][w] += r[u] * r[w];
                    b[u] += r[u] * target;
                }
            }
        }
        double x[3];
        if (bestGroup.size() < 2 || !solve3(a, b, x) || !std::isfinite(x[0] + x[1] + x[2])) {
            x[0] = ref.m[row][0];
            x[1] = ref.m[row][1];
            x[2] = ref.m[row][2] + ref.m[row][0] * ox + ref.m[row][1] * oy;
        }
        result.m[row][0] = x[0];
        result.m[row][1] = x[1];
        result.m[row][2] = x[2] - x[0] * ox - x[1] * oy;
    }
    // Whole repeats of offset carry no information.
    for (int row = 0; row < 2; ++row) {
        const double c = result.m[row][2];
        if (std::abs(c) < 1e9)
            result.m[row][2] = c - std::floor(c);
    }
    return result;
}

} // namespace bsp2map
