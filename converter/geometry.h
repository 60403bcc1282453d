// Double-precision vectors and convex polygons on a plane.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace bsp2map {

struct Vec3 {
    double x = 0, y = 0, z = 0;
    double operator[](int i) const { return i == 0 ? x : i == 1 ? y : z; }
    double &operator[](int i) { return i == 0 ? x : i == 1 ? y : z; }
};

inline Vec3 operator+(Vec3 a, Vec3 b)
{
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec3 operator-(Vec3 a, Vec3 b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec3 operator*(Vec3 a, double k)
{
    return {a.x * k, a.y * k, a.z * k};
}
inline double dot(Vec3 a, Vec3 b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Vec3 cross(Vec3 a, Vec3 b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double length(Vec3 a)
{
    return std::sqrt(dot(a, a));
}

// Nearest whole number, inline: the library call showed in profiles. Ties
// may go either way, which no caller depends on.
inline double nearest(double v)
{
    constexpr double kMagic = 6755399441055744.0; // 1.5 * 2^52
    return std::abs(v) < 1e15 ? (v + kMagic) - kMagic : std::round(v);
}
inline bool isFinite(Vec3 a)
{
    return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z);
}

struct Plane {
    Vec3 normal;
    double dist = 0;
    double distanceTo(Vec3 p) const { return dot(normal, p) - dist; }
};

using Winding = std::vector<Vec3>;

// A square on the plane, far larger than any map.
void baseWinding(const Plane &plane, Winding &out);

// Keeps the part of w behind the plane (distance <= epsilon); scratch is reused storage.
void clipToBack(Winding &w, const Plane &plane, double epsilon, Winding &scratch);

// The coordinate an axial plane fixes, else -1: a cut on it is known exactly.
inline int axisOf(const Plane &plane)
{
    int axis = -1;
    for (int k = 0; k < 3; ++k)
        if (plane.normal[k] == 1 || plane.normal[k] == -1)
            axis = k;
    return axis;
}

// The same from `count` points at `in` into `out`, which has room for twice
// as many, with `dists` room for `count` distances and `axis` the plane's
// axisOf: returns how many points it wrote, or kUnclipped when the polygon
// lies wholly behind and `in` stands as it is.
constexpr std::size_t kUnclipped = std::size_t(-1);
// Inline: a brush clips each side by all the others, and the call showed in profiles.
inline std::size_t clipToBack(const Vec3 *in, std::size_t count, const Plane &plane, int axis,
                              double epsilon, Vec3 *out, double *dists)
{
    if (count == 0)
        return kUnclipped;
    const double nx = plane.normal.x, ny = plane.normal.y, nz = plane.normal.z;
    const double d = plane.dist;
    bool anyFront = false, anyBack = false;
    for (std::size_t i = 0; i < count; ++i) {
        const double dist = nx * in[i].x + ny * in[i].y + nz * in[i].z - d;
        dists[i] = dist;
        anyFront |= dist > epsilon;
        anyBack |= dist < -epsilon;
    }
    if (!anyFront)
        return kUnclipped;
    if (!anyBack)
        return 0;
    const double axisValue = axis >= 0 && plane.normal[axis] == 1 ? d : -d;
    std::size_t kept = 0;
    // Each point: kept when behind or on the plane; a cut where the edge to
    // the next goes from behind to in front or back, neither end on it.
    double dp = dists[0];
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t j = i + 1 == count ? 0 : i + 1;
        const double dn = dists[j];
        const Vec3 p = in[i];
        const bool pBack = dp < -epsilon;
        if (pBack || dp <= epsilon)
            out[kept++] = p;
        const bool pOff = pBack || dp > epsilon;
        const bool nBack = dn < -epsilon;
        const bool nOff = nBack || dn > epsilon;
        if (pOff && nOff && nBack != pBack) {
            const Vec3 q = in[j];
            const double t = dp / (dp - dn);
            Vec3 mid = p + (q - p) * t;
            if (axis >= 0)
                mid[axis] = axisValue;
            out[kept++] = mid;
        }
        dp = dn;
    }
    return kept;
}

// Area of a planar polygon, and twice its area over its perimeter: its width
// for a sliver, half the side for a square.
double windingArea(std::span<const Vec3> w);
double windingWidth(std::span<const Vec3> w);

// A side of a brush, as clipping takes it.
struct ClipPlane {
    Plane plane;
    int axis; // axisOf(plane)
};

// Storage that clipping reuses from side to side.
struct ClipBuffers {
    Vec3 ping[2][128];
    double dists[64];
    Winding spare, side;
    std::vector<std::uint32_t> order;
    std::vector<std::pair<double, std::uint32_t>> facing;
    std::vector<Vec3> corners;
};

// The polygon of planes[i], moved out along its normal by `shift`, behind
// the planes that `by` lists, in its order.
void clipSide(std::span<const ClipPlane> planes, std::size_t i, std::span<const std::uint32_t> by,
              double epsilon, double shift, ClipBuffers &buffers, Winding &out);

// Whether the solid of the sides whose `keep` is set reaches further than
// `margin` beyond any other side. Cheap when it does not: the usual case,
// where every side left out is a bevel.
bool reachesBeyond(std::span<const ClipPlane> planes, const std::vector<char> &keep, double margin,
                   ClipBuffers &buffers);

// Sides left out of a brush for want of a face may leave its solid open, or
// reaching beyond them. Until the solid of the kept sides reaches no further
// than `tolerance` beyond any side left out, the side with the largest
// `faceAreas` among those it reaches beyond is kept too. Returns whether one was.
bool closeSolid(std::span<const ClipPlane> planes, std::span<const double> faceAreas,
                std::vector<char> &keep, double tolerance, ClipBuffers &buffers);

// Coordinates beyond this come from the base polygons: a solid that keeps one
// is open.
constexpr double kOpenSolid = 1 << 19;
bool isOpen(std::span<const Vec3> corners);

// Whether the corners of a solid span less than `tolerance` across one of its
// planes; true when it has none, or when it is open.
bool thinnerThan(std::span<const ClipPlane> planes, std::span<const Vec3> corners,
                 double tolerance);

} // namespace bsp2map
