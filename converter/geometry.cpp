#include "geometry.h"

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
    out.assign({origin - right + up, origin + right + up, origin + right - up, origin - right - up});
}

std::size_t clipToBack(const Vec3 *in, std::size_t count, const Plane &plane, int axis, double epsilon,
                       Vec3 *out, double *dists)
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

double windingArea(const Winding &w)
{
    if (w.size() < 3)
        return 0;
    Vec3 sum;
    for (std::size_t i = 1; i + 1 < w.size(); ++i)
        sum = sum + cross(w[i] - w[0], w[i + 1] - w[0]);
    return 0.5 * length(sum);
}

double windingWidth(const Winding &w)
{
    if (w.size() < 3)
        return 0;
    double perimeter = 0;
    for (std::size_t i = 0; i < w.size(); ++i)
        perimeter += length(w[(i + 1) % w.size()] - w[i]);
    return perimeter > 0 ? 2 * windingArea(w) / perimeter : 0;
}

} // namespace bsp2map
