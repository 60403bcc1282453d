#include "geometry.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

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
    // The distances on the stack for any polygon a brush has: this runs for every
    // side of every cell of a tree.
    double onStack[64];
    std::vector<double> onHeap(w.size() > 64 ? w.size() : 0);
    scratch.resize(2 * w.size());
    const std::size_t kept = clipToBack(w.data(), w.size(), plane, axisOf(plane), epsilon,
                                        scratch.data(), w.size() > 64 ? onHeap.data() : onStack);
    // Copied back, not swapped: a polygon that is kept keeps no room for twice its corners.
    if (kept != kUnclipped)
        w.assign(scratch.begin(), scratch.begin() + std::ptrdiff_t(kept));
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

void clipSide(std::span<const ClipPlane> planes, std::size_t i, std::span<const std::uint32_t> by,
              double epsilon, double shift, ClipBuffers &buffers, Winding &out)
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
    std::size_t k = 0;
    for (; k < by.size() && count > 0 && 2 * count <= std::size(ping[0]); ++k) {
        const ClipPlane &other = planes[by[k]];
        if (by[k] == i)
            continue;
        const std::size_t kept = clipToBack(ping[in], count, other.plane, other.axis, epsilon,
                                            ping[1 - in], buffers.dists);
        if (kept == kUnclipped)
            continue;
        count = kept;
        in = 1 - in;
    }
    out.assign(ping[in], ping[in] + count);
    for (; k < by.size() && !out.empty(); ++k) {
        if (by[k] != i)
            clipToBack(out, planes[by[k]].plane, epsilon, buffers.spare);
    }
}

namespace {

void keptSides(const std::vector<char> &keep, std::vector<std::uint32_t> &kept)
{
    kept.clear();
    for (std::uint32_t k = 0; k < keep.size(); ++k)
        if (keep[k])
            kept.push_back(k);
}

} // namespace

bool reachesBeyond(std::span<const ClipPlane> planes, const std::vector<char> &keep, double margin,
                   ClipBuffers &buffers)
{
    // The sides facing most the way of one left out are its neighbours, and
    // cut its plane away first.
    std::vector<std::uint32_t> &kept = buffers.order;
    std::vector<std::pair<double, std::uint32_t>> &byFacing = buffers.facing;
    keptSides(keep, kept);
    for (std::size_t j = 0; j < planes.size(); ++j) {
        if (keep[j])
            continue;
        byFacing.clear();
        for (const std::uint32_t k : kept)
            byFacing.push_back({-dot(planes[k].plane.normal, planes[j].plane.normal), k});
        std::sort(byFacing.begin(), byFacing.end());
        for (std::size_t k = 0; k < kept.size(); ++k)
            kept[k] = byFacing[k].second;
        clipSide(planes, j, kept, 0, margin, buffers, buffers.side);
        if (buffers.side.size() >= 3)
            return true;
    }
    return false;
}

bool closeSolid(std::span<const ClipPlane> planes, std::span<const double> faceAreas,
                std::vector<char> &keep, double tolerance, ClipBuffers &buffers)
{
    // A hair inside the tolerance: an editor takes the planes back from the
    // written points.
    const double most = tolerance - 1e-4;
    std::vector<std::uint32_t> &kept = buffers.order;
    std::vector<Vec3> &corners = buffers.corners;
    for (bool added = false;; added = true) {
        keptSides(keep, kept);
        corners.clear();
        for (const std::uint32_t i : kept) {
            clipSide(planes, i, kept, 1e-6, 0, buffers, buffers.side);
            corners.insert(corners.end(), buffers.side.begin(), buffers.side.end());
        }
        const bool open = isOpen(corners);
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

bool isOpen(std::span<const Vec3> corners)
{
    return std::any_of(corners.begin(), corners.end(), [](const Vec3 &p) {
        return !(std::max({std::abs(p.x), std::abs(p.y), std::abs(p.z)}) < kOpenSolid);
    });
}

bool thinnerThan(std::span<const ClipPlane> planes, std::span<const Vec3> corners, double tolerance)
{
    if (corners.empty() || isOpen(corners))
        return true;
    // A corner that deep behind a plane settles it; one is usually among the first.
    return std::any_of(planes.begin(), planes.end(), [&](const ClipPlane &side) {
        return std::none_of(corners.begin(), corners.end(),
                            [&](const Vec3 &p) { return side.plane.distanceTo(p) <= -tolerance; });
    });
}

} // namespace bsp2map
