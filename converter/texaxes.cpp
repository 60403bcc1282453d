#include "texaxes.h"

#include "texture.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>

namespace bsp2map {
namespace {

// The axial planes' normals, each followed by its two axes, in the order
// editors try them: floor, ceiling, then the walls.
const Vec3 kBase[6][3] = {
    {{0, 0, 1}, {1, 0, 0}, {0, -1, 0}},  {{0, 0, -1}, {1, 0, 0}, {0, -1, 0}},
    {{1, 0, 0}, {0, 1, 0}, {0, 0, -1}},  {{-1, 0, 0}, {0, 1, 0}, {0, 0, -1}},
    {{0, 1, 0}, {1, 0, 0}, {0, 0, -1}},  {{0, -1, 0}, {1, 0, 0}, {0, 0, -1}},
};

const Vec3 (&baseOf(Vec3 normal))[3]
{
    int best = 0;
    double most = 0;
    for (int i = 0; i < 6; ++i)
        if (const double d = dot(normal, kBase[i][0]); d > most) {
            most = d;
            best = i;
        }
    return kBase[best];
}

int axisIndex(Vec3 axis)
{
    return axis.x != 0 ? 0 : axis.y != 0 ? 1 : 2;
}

// The number with seven significant digits: what a float held, and easier
// to read than its double's every digit.
double tidy(double v)
{
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::general, 7).ptr;
    double shorter = v;
    std::from_chars(text, end, shorter);
    return shorter;
}

// The mapping over the face as a function of the two coordinates across the
// base: s = a[0] x + b[0] y + c[0], t likewise with index 1.
struct Across {
    double a[2], b[2], c[2];
};

Across acrossBase(const Plane &plane, const TexelAxes &axes, int su, int sv, int drop)
{
    // On the face the dropped coordinate follows from the other two; the
    // base's normal is the one the face's faces most, so it is never zero.
    const Vec3 n = plane.normal;
    Across m;
    for (int r = 0; r < 2; ++r) {
        const Vec3 &axis = axes.axis[r];
        const double k = axis[drop] / n[drop];
        m.a[r] = axis[su] - k * n[su];
        m.b[r] = axis[sv] - k * n[sv];
        m.c[r] = axes.offset[r] + k * plane.dist;
    }
    return m;
}

// What an editor makes of the classic numbers over the base: its u axis
// rotated and divided by the first scale, v the same by the second.
Across classicAcross(const ClassicTexture &t, double u, double v)
{
    const double angle = t.rotation * std::numbers::pi / 180;
    const double c = std::cos(angle), s = std::sin(angle);
    return {{c * u / t.scale[0], -s * v / t.scale[1]},
            {s * u / t.scale[0], c * v / t.scale[1]},
            {t.shift[0], t.shift[1]}};
}

bool near(const Across &a, const Across &b)
{
    double size = 0;
    for (int r = 0; r < 2; ++r)
        size = std::max({size, std::abs(a.a[r]), std::abs(a.b[r])});
    const double most = 1e-6 * size;
    for (int r = 0; r < 2; ++r)
        if (!(std::abs(a.a[r] - b.a[r]) <= most && std::abs(a.b[r] - b.b[r]) <= most &&
              std::abs(a.c[r] - b.c[r]) <= 1e-4))
            return false;
    return true;
}

} // namespace

void classicBase(Vec3 normal, Vec3 &u, Vec3 &v)
{
    const Vec3(&base)[3] = baseOf(normal);
    u = base[1];
    v = base[2];
}

bool classicFromAxes(const Plane &plane, const TexelAxes &axes, ClassicTexture &out)
{
    const Vec3(&base)[3] = baseOf(plane.normal);
    const int su = axisIndex(base[1]), sv = axisIndex(base[2]), drop = 3 - su - sv;
    const double u = base[1][su], v = base[2][sv];
    const Across m = acrossBase(plane, axes, su, sv, drop);
    out = {{m.c[0], m.c[1]}, 0, {1, 1}};
    // s runs along u turned by the rotation, at 1 / scale texels a unit...
    const double length = std::hypot(m.a[0], m.b[0]);
    if (!(length > 0) || !std::isfinite(length))
        return false;
    const double cosine = m.a[0] * u / length, sine = m.b[0] * u / length;
    // ...and t along v turned alike, either way.
    const double along = (-m.a[1] * sine + m.b[1] * cosine) * v;
    if (!(along != 0) || !std::isfinite(along))
        return false;
    const ClassicTexture exact = {{m.c[0], m.c[1]},
                                  std::atan2(sine, cosine) * 180 / std::numbers::pi,
                                  {1 / length, 1 / along}};
    ClassicTexture tidied = exact;
    tidied.rotation = tidy(exact.rotation);
    for (int r = 0; r < 2; ++r) {
        tidied.scale[r] = tidy(exact.scale[r]);
        tidied.shift[r] = tidy(exact.shift[r]);
    }
    out = near(m, classicAcross(tidied, u, v)) ? tidied : exact;
    return near(m, classicAcross(out, u, v));
}

bool valveFromAxes(const TexelAxes &axes, ValveTexture &out)
{
    for (int r = 0; r < 2; ++r) {
        const double size = length(axes.axis[r]);
        if (!(size > 0) || !std::isfinite(size))
            return false;
        out.axis[r] = axes.axis[r] * (1 / size);
        out.scale[r] = 1 / size;
        out.offset[r] = axes.offset[r];
    }
    return true;
}

bool valveFromMatrix(Vec3 normal, const TexMatrix &matrix, ImageSize image, ValveTexture &out)
{
    Vec3 across[2];
    axisBase(normal, across[0], across[1]);
    const double size[2] = {double(image.width), double(image.height)};
    TexelAxes axes;
    for (int r = 0; r < 2; ++r) {
        const double(&row)[3] = matrix.m[r];
        axes.axis[r] = (across[0] * row[0] + across[1] * row[1]) * size[r];
        axes.offset[r] = row[2] * size[r];
    }
    return valveFromAxes(axes, out);
}

} // namespace bsp2map
