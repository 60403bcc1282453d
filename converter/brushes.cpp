#include "brushes.h"

#include <algorithm>
#include <numeric>

namespace bsp2map {
namespace {

// Points closer than this to a clipping plane count as on it.
constexpr double kClipEpsilon = 1e-3;
// A side bounds a face when its polygon is at least this wide; bevels leave
// slivers of about the clip epsilon, or nothing.
constexpr double kMinFaceWidth = 0.01;

// The three corners of the largest triangle in the polygon.
std::array<Vec3, 3> widestTriangle(const Vec3 *w, std::size_t n)
{
    std::array<std::size_t, 3> best{0, 1, 2};
    double bestArea = -1;
    if (n <= 24) {
        double bestSquare = -1;
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = i + 1; j < n; ++j)
                for (std::size_t k = j + 1; k < n; ++k) {
                    // The root only for a larger square: it never grows the
                    // square's order, and ties between roots stay as they were.
                    const Vec3 c = cross(w[j] - w[i], w[k] - w[i]);
                    const double square = dot(c, c);
                    if (!(square > bestSquare))
                        continue;
                    const double a = std::sqrt(square);
                    if (a > bestArea) {
                        bestArea = a;
                        bestSquare = square;
                        best = {i, j, k};
                    }
                }
    } else {
        // Farthest pair, then the point farthest from their line.
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = i + 1; j < n; ++j) {
                const double d = dot(w[j] - w[i], w[j] - w[i]);
                if (d > bestArea) {
                    bestArea = d;
                    best[0] = i;
                    best[1] = j;
                }
            }
        bestArea = -1;
        for (std::size_t k = 0; k < n; ++k) {
            const double a = length(cross(w[best[1]] - w[best[0]], w[k] - w[best[0]]));
            if (a > bestArea) {
                bestArea = a;
                best[2] = k;
            }
        }
    }
    return {w[best[0]], w[best[1]], w[best[2]]};
}

// Three points far apart on the plane around the point of it nearest `near`,
// turning about its normal: for a face too thin for its own corners to give
// its plane exactly.
std::array<Vec3, 3> spreadPoints(const Plane &plane, Vec3 near)
{
    const Vec3 n = plane.normal;
    const Vec3 centre = near - n * plane.distanceTo(near);
    Vec3 u = std::abs(n.z) > std::max(std::abs(n.x), std::abs(n.y)) ? Vec3{1, 0, 0} : Vec3{0, 0, 1};
    u = u - n * dot(u, n);
    u = u * (1 / length(u));
    const Vec3 v = cross(n, u);
    constexpr double kSpread = 64;
    return {centre + u * kSpread, centre, centre + v * kSpread};
}

// A coordinate within a hair of a whole number is written as that number when
// the plane still comes out the same: the map reads as the mapper made it.
void snapPoints(std::array<Vec3, 3> &p, const Plane &plane)
{
    std::array<Vec3, 3> snapped = p;
    bool changed = false;
    for (Vec3 &v : snapped)
        for (int k = 0; k < 3; ++k) {
            const double r = nearest(v[k]);
            if (r != v[k] && std::abs(r - v[k]) < 1e-4) {
                v[k] = r;
                changed = true;
            }
        }
    if (!changed)
        return;
    const Vec3 n = pointsNormal(snapped);
    for (int k = 0; k < 3; ++k)
        if (std::abs(n[k] - plane.normal[k]) > 1e-7)
            return;
    for (const Vec3 &v : snapped)
        if (std::abs(plane.distanceTo(v)) > 1e-4)
            return;
    p = snapped;
}

} // namespace

Vec3 pointsNormal(const std::array<Vec3, 3> &p)
{
    const Vec3 n = cross(p[0] - p[1], p[2] - p[1]);
    const double len = length(n);
    return len > 0 ? n * (1 / len) : Vec3{};
}

void BrushShaper::clear()
{
    planes_.clear();
    planeNums_.clear();
}

BrushShaper::Added BrushShaper::add(const Plane &plane, std::int32_t planeNum)
{
    for (std::size_t k = 0; k < planes_.size(); ++k) {
        const Plane &kept = planes_[k].plane;
        if (planeNums_[k] == planeNum ||
            (std::abs(kept.normal.x - plane.normal.x) < 1e-6 &&
             std::abs(kept.normal.y - plane.normal.y) < 1e-6 &&
             std::abs(kept.normal.z - plane.normal.z) < 1e-6 &&
             std::abs(kept.dist - plane.dist) < 1e-4))
            return {k, true};
    }
    planes_.push_back({plane, axisOf(plane)});
    planeNums_.push_back(planeNum);
    return {planes_.size() - 1, false};
}

bool BrushShaper::shape()
{
    const std::size_t n = planes_.size();
    corners_.clear();
    cornerStart_.clear();
    faceAreas_.assign(n, 0);
    keep_.assign(n, 0);
    everySide_.resize(n);
    std::iota(everySide_.begin(), everySide_.end(), 0u);
    haveCentre_ = false;
    bool allKept = true;
    for (std::size_t i = 0; i < n; ++i) {
        clipSide(planes_, i, everySide_, kClipEpsilon, 0, clip_, winding_);
        cornerStart_.push_back(static_cast<std::uint32_t>(corners_.size()));
        corners_.insert(corners_.end(), winding_.begin(), winding_.end());
        keep_[i] = winding_.size() >= 3 && windingWidth(winding_) >= kMinFaceWidth;
        allKept = allKept && keep_[i];
    }
    cornerStart_.push_back(static_cast<std::uint32_t>(corners_.size()));
    wide_ = keep_;
    // With a face on every side, only an open solid is no brush: one thinner
    // than the tolerance leaves thin faces, at least on the compiler's axial
    // bevels.
    if (allKept)
        return !isOpen(corners_);
    if (thinnerThan(planes_, corners_, kSolidTolerance))
        return false;
    // Bevels and slivers left out: most often harmless, but the solid must say
    // so. Half the tolerance first: the corners measure the rest.
    if (!reachesBeyond(planes_, keep_, kSolidTolerance / 2, clip_))
        return true;
    for (std::size_t i = 0; i < n; ++i)
        if (!keep_[i])
            faceAreas_[i] = windingArea(corners(i));
    closeSolid(planes_, faceAreas_, keep_, kSolidTolerance, clip_);
    return true;
}

std::array<Vec3, 3> BrushShaper::points(std::size_t side)
{
    const Plane &plane = planes_[side].plane;
    std::array<Vec3, 3> p;
    if (!wide_[side]) {
        // Too thin for its corners to give the plane: points around the solid's middle.
        if (!haveCentre_) {
            Vec3 sum;
            for (const Vec3 &c : corners_)
                sum = sum + c;
            centre_ = sum * (1.0 / double(corners_.size()));
            haveCentre_ = true;
        }
        p = spreadPoints(plane, centre_);
    } else {
        const std::span<const Vec3> w = corners(side);
        p = widestTriangle(w.data(), w.size());
    }
    if (dot(pointsNormal(p), plane.normal) < 0)
        std::swap(p[0], p[2]);
    snapPoints(p, plane);
    return p;
}

void addOriginBrush(BrushShaper &shaper, ModelGeometry &geometry, Vec3 origin,
                    std::uint32_t texture, std::int32_t contents)
{
    constexpr double kHalf = 8;
    shaper.clear();
    for (int k = 0; k < 6; ++k) {
        Vec3 n;
        n[k / 2] = k % 2 ? -1 : 1;
        shaper.add({n, dot(n, origin) + kHalf}, -1 - k);
    }
    shaper.shape();
    const auto first = static_cast<std::uint32_t>(geometry.sides.size());
    for (std::size_t i = 0; i < shaper.sideCount(); ++i) {
        MapSide side;
        side.plane = shaper.plane(i);
        side.points = shaper.points(i);
        side.texture = texture;
        side.contents = contents;
        geometry.sides.push_back(side);
    }
    geometry.brushes.push_back({first, static_cast<std::uint32_t>(shaper.sideCount()), false});
}

} // namespace bsp2map
