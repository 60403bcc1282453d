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
