#include "geometry.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace bsp2map {

namespace {
constexpr double kHuge = 1 << 21;
}

void baseWinding(const Plane &plane, Winding &out)
{
    const Vec3 n = plane.normal;
    int axis = 0;
    if (std::abs(n.y) > std::abs(n[axis]))
        axis = 1;
    if (std::abs(n.z) > std::abs(n[axis]))
        axis = 2;
    Vec3 up = axis == 2 ? Vec3{1, 0, 0} : Vec3{0, 0, 1};
    up = up - n * dot(up, n);
    up = up * (1 / length(up));
    const Vec3 right = cross(up, n) * kHuge;
    up = up * kHuge;
    const Vec3 origin = n * plane.dist;
    out.assign(
        {origin - right + up, origin + right + up, origin + right - up, origin - right - up});
}

void clipToBack(Winding &w, const Plane &plane, double epsilon, Winding &scratch)
{
    std::vector<double> dists(w.size());
    scratch.resize(2 * w.size());
    const std::size_t kept =
        clipToBack(w.data(), w.size(), plane, axisOf(plane), epsilon, scratch.data(), dists.data());
    if (kept == kUnclipped)
        return;
    scratch.resize(kept);
    w.swap(scratch);
}

double windingArea(std::span<const Vec3> w)
{
    if (w.size() < 3)
        return 0;
    Vec3 sum;
    for (std::size_t i = 1; i + 1 < w.size(); ++i)
        sum = sum + cross(w[i] - w[0], w[i + 1] - w[0]);
    return 0.5 * length(sum);
}

double windingWidth(std::span<const Vec3> w)
{
    if (w.size() < 3)
        return 0;
    double perimeter = 0;
    for (std::size_t i = 0; i < w.size(); ++i)
        perimeter += length(w[(i + 1) % w.size()] - w[i]);
    return perimeter > 0 ? 2 * windingArea(w) / perimeter : 0;
}

} // namespace bsp2map

namespace bsp2map {

void clipSide(std::span<const ClipPlane> planes, std::size_t i, const char *use, double epsilon,
              double shift, ClipBuffers &buffers, Winding &out)
{
    Plane own = planes[i].plane;
    own.dist += shift;
    baseWinding(own, out);
    // Clipped between two fixed buffers; a polygon too large for them goes
    // through the growing ones.
    auto &ping = buffers.ping;
    std::copy(out.begin(), out.end(), ping[0]);
    std::size_t count = out.size();
    int in = 0;
    std::size_t j = 0;
    for (; j < planes.size() && count > 0 && 2 * count <= std::size(ping[0]); ++j) {
        if (j == i || (use && !use[j]))
            continue;
        const std::size_t kept = clipToBack(ping[in], count, planes[j].plane, planes[j].axis,
                                            epsilon, ping[1 - in], buffers.dists);
        if (kept == kUnclipped)
            continue;
        count = kept;
        in = 1 - in;
    }
    out.assign(ping[in], ping[in] + count);
    for (; j < planes.size() && !out.empty(); ++j) {
        if (j != i && (!use || use[j]))
            clipToBack(out, planes[j].plane, epsilon, buffers.spare);
    }
}

bool closeSolid(std::span<const ClipPlane> planes, std::span<const double> faceAreas,
                std::vector<char> &keep, double tolerance, ClipBuffers &buffers)
{
    Winding w;
    // Most often every side left out is a bevel: a plane moved out by half
    // the tolerance misses the solid of the kept sides.
    bool crossed = false;
    for (std::size_t j = 0; j < planes.size() && !crossed; ++j)
        if (!keep[j]) {
            clipSide(planes, j, keep.data(), 0, tolerance / 2, buffers, w);
            crossed = w.size() >= 3;
        }
    if (!crossed)
        return false;
    // Else the solid's corners tell how far it reaches. A hair inside the
    // tolerance: an editor takes the planes back from the written points.
    const double most = tolerance - 1e-4;
    std::vector<Vec3> corners;
    for (bool added = false;; added = true) {
        corners.clear();
        for (std::size_t i = 0; i < planes.size(); ++i)
            if (keep[i]) {
                clipSide(planes, i, keep.data(), 1e-6, 0, buffers, w);
                corners.insert(corners.end(), w.begin(), w.end());
            }
        const bool open = std::any_of(corners.begin(), corners.end(), [](const Vec3 &p) {
            return !(std::max({std::abs(p.x), std::abs(p.y), std::abs(p.z)}) < kOpenSolid);
        });
        std::size_t best = planes.size();
        for (std::size_t j = 0; j < planes.size(); ++j) {
            if (keep[j] || (best < planes.size() && faceAreas[j] <= faceAreas[best]))
                continue;
            double reach = open ? most + 1 : -1;
            for (std::size_t k = 0; k < corners.size() && reach <= most; ++k)
                reach = std::max(reach, planes[j].plane.distanceTo(corners[k]));
            if (reach > most)
                best = j;
        }
        if (best == planes.size())
            return added;
        keep[best] = 1;
    }
}

double thickness(std::span<const ClipPlane> planes, std::span<const Vec3> corners)
{
    for (const Vec3 &p : corners)
        if (!(std::max({std::abs(p.x), std::abs(p.y), std::abs(p.z)}) < kOpenSolid))
            return 0;
    if (corners.empty())
        return 0;
    double thinnest = std::numeric_limits<double>::infinity();
    for (const ClipPlane &side : planes) {
        double deepest = 0;
        for (const Vec3 &p : corners)
            deepest = std::max(deepest, -side.plane.distanceTo(p));
        thinnest = std::min(thinnest, deepest);
    }
    return thinnest;
}

} // namespace bsp2map
