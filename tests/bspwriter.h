// Builds small IBSP files in memory: shaders, planes, brushes with their sides,
// models, planar and patch surfaces, leaves, and the entity text.
#pragma once

#include "mapcheck.h"

class BspWriter {
public:
    using Vec = check::Vec;
    using Sides = std::vector<std::pair<int, int>>; // plane, shader
    QByteArray entities;
    int version = 46;
    bool extraLump = false; // one engine's 47 has an 18th lump after the 17
    bool entityNul = true;  // maps edited after compiling may end the text without one

    BspWriter() { model(); } // the world's

    int shader(const QByteArray &name, int contentFlags = 1, int surfaceFlags = 0)
    {
        lumps[1] += name.leftJustified(64, '\0', true);
        put(1, surfaceFlags, contentFlags);
        return count(1, 72) - 1;
    }

    int plane(const Vec &normal, double dist)
    {
        planes.push_back({{float(normal[0]), float(normal[1]), float(normal[2])}, float(dist)});
        put(2, float(normal[0]), float(normal[1]), float(normal[2]), float(dist));
        return int(planes.size() - 1);
    }

    // The next brushes and surfaces belong to a new model.
    void model() { modelStarts.push_back({count(8, 12), count(13, 104)}); }

    // Each face also gets a planar surface textured by `mapping`, shifted by a
    // different whole repeat on each face, its triangles clockwise seen from the front;
    // those whose bit is set in `hidden` get none.
    int brush(const Sides &sides, int shader, unsigned hidden = 0)
    {
        put(8, count(9, 8), int(sides.size()), shader);
        std::vector<check::Bsp::Plane> ps;
        for (const auto &[p, s] : sides)
            put(9, p, s), ps.push_back(planes[size_t(p)]);
        const std::vector<check::Winding> windings = check::sideWindings(ps);
        for (size_t k = 0; k < sides.size(); ++k) {
            const check::Winding &w = windings[k];
            std::vector<float> points;
            std::vector<int> indexes;
            for (const Vec &p : w)
                points.insert(points.end(),
                              {float(p[0]), float(p[1]), float(p[2]),
                               float(st(p, 0) + double(k % 3)), float(st(p, 1) - double(k % 2))});
            const bool flip =
                w.size() > 2 && dot(cross(w[2] - w[0], w[1] - w[0]), ps[k].normal) < 0;
            for (int i = 1; i + 1 < int(w.size()); ++i)
                indexes.insert(indexes.end(), {0, flip ? i + 1 : i, flip ? i : i + 1});
            if (check::boundsFace(w) && !(hidden >> k & 1))
                surface(1, sides[k].second, points, indexes, ps[k].normal);
        }
        return count(8, 12) - 1;
    }

    // `copies` leaves of the world's tree in `cluster` (-1: inside solid), listing `brushes`.
    void leaf(int cluster, const std::vector<int> &brushes, int copies = 1)
    {
        for (int k = 0; k < copies; ++k)
            put(4, cluster, 0, 0, 0, 0, 0, 0, 0, 0, 0, count(6, 4), int(brushes.size()));
        for (const int b : brushes)
            put(6, b);
    }

    // Every face of a brush gets st = (dot(p, s) + 0.25, dot(p, t) + 0.5), up to whole repeats.
    static double st(const Vec &p, int c)
    {
        const Vec axes[2] = {{1 / 64.0, 1 / 128.0, 0.3 / 64}, {0.2 / 64, -0.7 / 64, -1 / 64.0}};
        return dot(p, axes[c]) + 0.25 * (c + 1);
    }

    // The sides of an axial box, or of one turned `degrees` about z around the point 0.
    Sides box(const Vec &lo, const Vec &hi, int shader, double degrees = 0)
    {
        const double a = degrees * M_PI / 180;
        const Vec axes[3] = {
            {std::cos(a), std::sin(a), 0}, {-std::sin(a), std::cos(a), 0}, {0, 0, 1}};
        Sides sides;
        for (size_t k = 0; k < 3; ++k)
            sides.insert(sides.end(),
                         {{plane(axes[k], hi[k]), shader}, {plane(axes[k] * -1, -lo[k]), shader}});
        return sides;
    }

    // `points` is x y z s t per vertex; a patch's control points row by row (vertex = row * width +
    // column).
    void surface(int type, int shader, const std::vector<float> &points,
                 const std::vector<int> &indexes, const Vec &n, int width = 0, int height = 0)
    {
        const int first = count(10, 44);
        for (size_t v = 0; v < points.size(); v += 5)
            put(10, points[v], points[v + 1], points[v + 2], points[v + 3], points[v + 4], 0.f, 0.f,
                float(n[0]), float(n[1]), float(n[2]), qint32(-1));
        put(13, shader, -1, type, first, int(points.size() / 5), count(11, 4), int(indexes.size()));
        put(13, 0, 0, 0, 0, 0, 0.f, 0.f, 0.f, 0.f, 0.f, 0.f, 0.f, 0.f, 0.f);
        put(13, float(n[0]), float(n[1]), float(n[2]), width, height);
        for (const int i : indexes)
            put(11, i);
    }

    QByteArray bytes() const
    {
        BspWriter w = *this;
        w.lumps[0] = entityNul ? entities + '\0' : entities;
        w.model();
        for (size_t m = 0; m + 1 < w.modelStarts.size(); ++m) {
            const auto [brush, surface] = w.modelStarts[m];
            const auto [nextBrush, nextSurface] = w.modelStarts[m + 1];
            w.put(7, -1024.f, -1024.f, -1024.f, 1024.f, 1024.f, 1024.f, surface,
                  nextSurface - surface, brush, nextBrush - brush);
        }
        QByteArray out = "IBSP";
        append(out, version);
        for (qint32 k = 0, at = extraLump ? 152 : 144; k < 17 + extraLump;
             at += qint32(w.lumps[k++].size()))
            append(out, at, qint32(w.lumps[k].size()));
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
