// Builds small IBSP files in memory: shaders, planes, brushes with their sides,
// models, planar and patch surfaces, and the entity text.
#pragma once

#include "mapcheck.h"

#include <cmath>

class BspWriter {
public:
    using Vec = check::Vec;
    // st = (dot(p, s) + offset[0], dot(p, t) + offset[1]) on every face of a brush.
    struct Mapping {
        Vec s{1 / 64.0, 1 / 128.0, 0.3 / 64}, t{0.2 / 64, -0.7 / 64, -1 / 64.0};
        double offset[2] = {0.25, 0.5};
    };
    using Sides = std::vector<std::pair<int, int>>; // plane, shader

    BspWriter() { model(); } // model 0, the world's

    QByteArray entities;
    Mapping mapping;
    int version = 46;
    bool extraLump = false; // one engine's 47 has an 18th lump after the 17

    int shader(const QByteArray &name, int surfaceFlags = 0, int contentFlags = 1)
    {
        lumps[1] += name.leftJustified(64, '\0', true);
        put(1, surfaceFlags, contentFlags);
        return int(lumps[1].size() / 72 - 1);
    }

    int plane(const Vec &normal, double dist)
    {
        const Vec n{float(normal[0]), float(normal[1]), float(normal[2])};
        planes.push_back({n, float(dist)});
        put(2, float(n[0]), float(n[1]), float(n[2]), float(dist));
        return int(planes.size() - 1);
    }

    // The next brushes and surfaces belong to a new model.
    void model() { modelStarts.push_back({count(8, 12), count(13, 104)}); }

    // A brush of (plane, shader) sides; each face also gets a planar surface
    // textured by `mapping`, shifted by a different whole repeat on each face.
    void brush(const Sides &sides, int shader)
    {
        put(8, count(9, 8), int(sides.size()), shader);
        std::vector<check::Bsp::Plane> ps;
        for (const auto &[p, s] : sides) {
            put(9, p, s);
            ps.push_back(planes[size_t(p)]);
        }
        const std::vector<check::Winding> windings = check::sideWindings(ps);
        for (size_t k = 0; k < sides.size(); ++k) {
            const check::Winding &w = windings[k];
            if (!check::boundsFace(w))
                continue;
            std::vector<float> points;
            for (const Vec &p : w) {
                const double st[2] = {check::dot(p, mapping.s) + mapping.offset[0] + double(k % 3),
                                      check::dot(p, mapping.t) + mapping.offset[1] - double(k % 2)};
                points.insert(points.end(), {float(p[0]), float(p[1]), float(p[2]), float(st[0]), float(st[1])});
            }
            // Clockwise seen from the front, as the compiler writes them.
            const Vec n = ps[k].normal;
            const bool flip = check::dot(check::cross(check::sub(w[2], w[0]), check::sub(w[1], w[0])), n) < 0;
            std::vector<int> indexes;
            for (int i = 1; i + 1 < int(w.size()); ++i)
                indexes.insert(indexes.end(), {0, flip ? i + 1 : i, flip ? i : i + 1});
            surface(1, sides[k].second, points, indexes, n);
        }
    }

    // The sides of an axial box, or of one turned `degrees` about z around the point 0.
    Sides box(const Vec &lo, const Vec &hi, int shader, double degrees = 0)
    {
        const double a = degrees * M_PI / 180, c = std::cos(a), s = std::sin(a);
        const Vec axes[3] = {{c, s, 0}, {-s, c, 0}, {0, 0, 1}};
        Sides sides;
        for (int k = 0; k < 3; ++k) {
            sides.push_back({plane(axes[k], hi[size_t(k)]), shader});
            sides.push_back({plane(check::scale(axes[k], -1), -lo[size_t(k)]), shader});
        }
        return sides;
    }

    // `points` is x y z s t per control point, row by row (vertex = row * width + column).
    void patch(int shader, int width, int height, const std::vector<float> &points)
    {
        surface(2, shader, points, {}, {0, 0, 1}, width, height);
    }

    void surface(int type, int shader, const std::vector<float> &points, const std::vector<int> &indexes,
                 const Vec &n, int width = 0, int height = 0)
    {
        const int first = count(10, 44), verts = int(points.size() / 5);
        for (size_t v = 0; v < points.size(); v += 5)
            put(10, points[v], points[v + 1], points[v + 2], points[v + 3], points[v + 4], 0.f, 0.f,
                float(n[0]), float(n[1]), float(n[2]), qint32(-1));
        put(13, shader, -1, type, first, verts, count(11, 4), int(indexes.size()), 0, 0, 0, 0, 0);
        for (int k = 0; k < 9; ++k)
            put(13, 0.f);
        put(13, float(n[0]), float(n[1]), float(n[2]), width, height);
        for (const int i : indexes)
            put(11, i);
    }

    QByteArray bytes() const
    {
        BspWriter w = *this;
        w.lumps[0] = entities + '\0';
        for (size_t m = 0; m < modelStarts.size(); ++m) {
            const auto [brush, surface] = modelStarts[m];
            const auto [nextBrush, nextSurface] =
                m + 1 < modelStarts.size() ? modelStarts[m + 1] : std::pair{count(8, 12), count(13, 104)};
            w.put(7, -1024.f, -1024.f, -1024.f, 1024.f, 1024.f, 1024.f, surface, nextSurface - surface,
                  brush, nextBrush - brush);
        }
        QByteArray out = "IBSP";
        append(out, version);
        qint32 at = extraLump ? 152 : 144;
        for (int k = 0; k < 17 + extraLump; ++k) {
            append(out, at, qint32(w.lumps[k].size()));
            at += qint32(w.lumps[k].size());
        }
        for (const QByteArray &lump : w.lumps)
            out += lump;
        return out;
    }

private:
    template <class... T> static void append(QByteArray &b, T... values)
    {
        (b.append(reinterpret_cast<const char *>(&values), sizeof values), ...);
    }
    template <class... T> void put(int lump, T... values) { append(lumps[lump], values...); }
    int count(int lump, int size) const { return int(lumps[lump].size() / size); }

    QByteArray lumps[18];
    std::vector<check::Bsp::Plane> planes;
    std::vector<std::pair<int, int>> modelStarts; // first brush, first surface
};
