// Builds small IBSP files in memory: shaders, planes, brushes with their sides,
// models, planar and patch surfaces, leaves, and the entity text.
#pragma once

#include "mapcheck.h"

// The lumps of an IBSP file, records put into them as their fields' bytes.
template <int N> class Lumps {
protected:
    template <class... T> static void append(QByteArray &b, const T &...values)
    {
        (b.append(reinterpret_cast<const char *>(&values), sizeof values), ...);
    }
    template <class... T> void put(int lump, const T &...values) { append(lumps[lump], values...); }
    int count(int lump, int size) const { return int(lumps[lump].size() / size); }

    // The header with the directory of the first `n` lumps, then those lumps.
    QByteArray file(int version, int n) const
    {
        QByteArray out = "IBSP";
        append(out, version);
        for (qint32 k = 0, at = 8 + 8 * n; k < n; at += qint32(lumps[k++].size()))
            append(out, at, qint32(lumps[k].size()));
        for (int k = 0; k < n; ++k)
            out += lumps[k];
        return out;
    }

    QByteArray lumps[N];
};

class BspWriter : public Lumps<18> {
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
        return w.file(version, 17 + extraLump);
    }

private:
    std::vector<check::Bsp::Plane> planes;
    std::vector<std::pair<int, int>> modelStarts; // first brush, first surface
};

// Compiles a Quake 2 map, as the checker reads it, into IBSP 38 as a compiler keeps it:
// each brush with its sides' texinfo and the axial bevels it lacks; brush entities
// around their "origin", texture offsets too; origin brushes left out; area portal
// brushes in the world, which a node on the portal's first plane parts into two areas
// joined by the portal its entity's "style" numbers; each model one node whose two
// leaves list all its brushes.
class Q2BspWriter : public Lumps<19> {
public:
    using Vec = check::Vec;

    explicit Q2BspWriter(const check::Map &map)
    {
        std::vector<std::vector<int>> models(1);
        int portal = 0, split = 0;
        for (size_t e = 0; e < map.size(); ++e) {
            const check::Keys &keys = map[e].keys;
            const bool isPortal = keys.contains({"classname", "func_areaportal"});
            size_t m = 0;
            Vec origin{};
            lumps[0] += "{\n";
            for (const auto &[key, value] : keys) {
                lumps[0] += '"' + key + "\" \"" + value + "\"\n";
                const QList<QByteArray> xyz = value.split(' ');
                if (key == "origin" && xyz.size() == 3)
                    origin = {xyz[0].toDouble(), xyz[1].toDouble(), xyz[2].toDouble()};
                portal = isPortal && key == "style" ? value.toInt() : portal;
            }
            if (e > 0 && !isPortal && !map[e].brushes.empty())
                lumps[0] += "\"model\" \"*" + QByteArray::number(m = models.size()) + "\"\n",
                    models.emplace_back();
            lumps[0] += "}\n";
            origin = m ? origin : Vec{};
            for (const std::vector<check::Face> &faces : map[e].brushes)
                if (!(faces[0].contents & 0x01000000))
                    models[m].push_back(brush(faces, origin));
            if (isPortal)
                split = plane(check::facePlane(map[e].brushes[0][0]));
        }
        lumps[0] += '\0';
        for (size_t m = 0; m < models.size(); ++m) {
            const qint16 none[6] = {};
            put(4, m == 0 ? split : 0, -1 - count(8, 28), -2 - count(8, 28), none, quint32(0));
            for (const qint16 area : {1, m == 0 && portal ? 2 : 1}) {
                put(8, 0, qint16(0), area, none, quint32(0), quint16(count(10, 2)),
                    quint16(models[m].size()));
                for (const int b : models[m])
                    put(10, quint16(b));
            }
            const float bounds[9] = {};
            put(13, bounds, int(m), 0, 0);
        }
        if (portal) // area 0 and portal 0 are never used
            put(17, 0, 0, 1, 1, 1, 2), put(18, 0, 0, portal, 2, portal, 1);
    }

    // A box's faces in the standard form, clockwise seen from outside, but those in the
    // mask `without`, each followed by `tail`; then `extra`.
    static QByteArray box(const Vec &lo, const Vec &hi, const QByteArray &tail, int without = 0,
                          const QByteArray &extra = "")
    {
        QByteArray text = "{\n";
        for (size_t k = 0, a = 0; k < 6; a = ++k / 2) {
            Vec p[3] = {lo, lo, lo};
            p[0][a] = p[1][a] = p[2][a] = k % 2 ? lo[a] : hi[a];
            p[k % 2 * 2][(a + 1) % 3] += 1, p[2 - k % 2 * 2][(a + 2) % 3] += 1;
            for (const Vec &x : p)
                text += QString::asprintf("( %g %g %g ) ", x[0], x[1], x[2]).toLatin1();
            text = without >> k & 1 ? text.first(text.lastIndexOf('\n') + 1) : text + tail + '\n';
        }
        return text + extra + "}\n";
    }

    QByteArray bytes() const { return file(38, 19); }

private:
    int brush(const std::vector<check::Face> &faces, const Vec &origin)
    {
        const int first = count(15, 4);
        std::vector<check::Bsp::Plane> planes;
        for (const check::Face &x : faces) {
            check::Bsp::Plane &p = planes.emplace_back(check::facePlane(x));
            p.dist -= dot(p.normal, origin);
            float vecs[2][4];
            char name[32] = {};
            for (size_t k = 0; k < 8; ++k) {
                const double *v = x.vecs[k / 4];
                vecs[k / 4][k % 4] =
                    float(v[k % 4] + (k % 4 == 3 ? dot({v[0], v[1], v[2]}, origin) : 0));
            }
            std::memcpy(name, x.shader.constData(), std::min<size_t>(31, size_t(x.shader.size())));
            put(5, vecs, x.flags, x.value, name, -1);
            put(15, quint16(plane(p)), qint16(count(5, 76) - 1));
        }
        const std::vector<check::Winding> corners = check::sideWindings(planes);
        for (size_t a = 0; a < 6; ++a) {
            Vec n{};
            n[a / 2] = a % 2 ? -1 : 1;
            double reach = -INFINITY;
            for (const check::Winding &w : corners)
                for (const Vec &c : w)
                    reach = std::max(reach, dot(n, c));
            if (std::none_of(planes.begin(), planes.end(),
                             [&](auto &p) { return dot(p.normal, n) > 1 - 1e-9; }))
                put(15, quint16(plane({n, reach})), qint16(-1));
        }
        put(14, first, count(15, 4) - first, faces[0].contents);
        return count(14, 12) - 1;
    }

    int plane(const check::Bsp::Plane &p)
    {
        const Vec &n = p.normal;
        size_t axis = 0;
        for (size_t k = 1; k < 3; ++k)
            axis = std::abs(n[k]) > std::abs(n[axis]) ? k : axis;
        put(1, float(n[0]), float(n[1]), float(n[2]), float(p.dist),
            int(std::abs(n[axis]) == 1 ? axis : 3 + axis));
        return count(1, 20) - 1;
    }
};
