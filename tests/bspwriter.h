// Builds small IBSP files in memory: shaders, planes, brushes with their sides,
// models, planar and patch surfaces, leaves, and the entity text.
#pragma once

#include "q1check.h"

// Under AddressSanitizer the real-map run judges one map, for time.
#ifdef __SANITIZE_ADDRESS__
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif

// The lumps of a BSP file, records put into them as their fields' bytes.
template <int N> class Lumps {
protected:
    using Vec = check::Vec;

    template <class T> static QByteArray raw(const T &value)
    {
        return QByteArray(reinterpret_cast<const char *>(&value), sizeof value);
    }
    template <class... T> void put(int lump, const T &...values)
    {
        (lumps[lump].append(raw(values)), ...);
    }
    int count(int lump, int size) const { return int(lumps[lump].size() / size); }

    // `head`, the directory of the first `n` lumps, then those lumps, each padded to a
    // multiple of `align` bytes.
    QByteArray file(QByteArray head, int n, int align = 1) const
    {
        QByteArray body;
        for (qsizetype k = 0, start = head.size() + 8 * n; k < n; ++k) {
            head += raw(qint32(start + body.size())) + raw(qint32(lumps[k].size()));
            body += lumps[k] + QByteArray(-lumps[k].size() & (align - 1), '\0');
        }
        return head + body;
    }

    // An entity's text, with "model" "*`model`" unless that is 0; returns the origin
    // that the model is stored about.
    Vec entity(const check::Keys &keys, int model)
    {
        Vec origin{};
        lumps[0] += "{\n";
        for (const auto &[key, value] : keys) {
            lumps[0] += '"' + key + "\" \"" + value + "\"\n";
            const QList<QByteArray> xyz = value.split(' ');
            if (key == "origin" && xyz.size() == 3)
                origin = {xyz[0].toDouble(), xyz[1].toDouble(), xyz[2].toDouble()};
        }
        if (model > 0)
            lumps[0] += "\"model\" \"*" + QByteArray::number(model) + "\"\n";
        lumps[0] += "}\n";
        return model > 0 ? origin : Vec{};
    }

    // A face's texture axes, the offsets as its model is stored about `origin`.
    static std::array<float, 8> axes(const check::Face &f, const Vec &origin)
    {
        std::array<float, 8> out;
        for (size_t k = 0; k < 8; ++k) {
            const double *v = f.vecs[k / 4];
            out[k] = float(v[k % 4] + (k % 4 == 3 ? dot({v[0], v[1], v[2]}, origin) : 0));
        }
        return out;
    }

    // The axis of a normal's largest component, and the plane type compilers store for it.
    static std::pair<size_t, int> axis(const Vec &n)
    {
        size_t a = 0;
        for (size_t k = 1; k < 3; ++k)
            a = std::abs(n[k]) > std::abs(n[a]) ? k : a;
        return {a, int(std::abs(n[a]) == 1 ? a : a + 3)};
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
        return w.file("IBSP" + raw(version), 17 + extraLump);
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
    explicit Q2BspWriter(const check::Map &map)
    {
        std::vector<std::vector<int>> models(1);
        int portal = 0, split = 0;
        for (size_t e = 0; e < map.size(); ++e) {
            const check::Keys &keys = map[e].keys;
            const bool isPortal = keys.contains({"classname", "func_areaportal"});
            const size_t m = e > 0 && !isPortal && !map[e].brushes.empty() ? models.size() : 0;
            if (m > 0)
                models.emplace_back();
            const Vec origin = entity(keys, int(m));
            for (const std::vector<check::Face> &faces : map[e].brushes)
                if (!(faces[0].contents & 0x01000000))
                    models[m].push_back(brush(faces, origin));
            for (const auto &[key, value] : keys)
                portal = isPortal && key == "style" ? value.toInt() : portal;
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

    QByteArray bytes() const { return file("IBSP" + raw(38), 19); }

private:
    int brush(const std::vector<check::Face> &faces, const Vec &origin)
    {
        const int first = count(15, 4);
        std::vector<check::Bsp::Plane> planes;
        for (const check::Face &x : faces) {
            check::Bsp::Plane &p = planes.emplace_back(check::facePlane(x));
            p.dist -= dot(p.normal, origin);
            put(5, axes(x, origin), x.flags, x.value);
            lumps[5] += x.shader.left(31).leftJustified(32, '\0');
            put(5, -1);
            put(15, quint16(plane(p)), qint16(count(5, 76) - 1));
        }
        const auto [lo, hi] = check::bounds(check::sideWindings(planes));
        for (size_t a = 0; a < 6; ++a) { // the axial bevels it lacks; 0 - 0 is +0, -0 is not
            Vec n{};
            n[a / 2] = a % 2 ? -1 : 1;
            if (std::none_of(planes.begin(), planes.end(),
                             [&](auto &p) { return dot(p.normal, n) > 1 - 1e-9; }))
                put(15, quint16(plane({n, a % 2 ? 0 - lo[a / 2] : hi[a / 2]})), qint16(-1));
        }
        put(14, first, count(15, 4) - first, faces[0].contents);
        return count(14, 12) - 1;
    }

    int plane(const check::Bsp::Plane &p)
    {
        const Vec &n = p.normal;
        put(1, float(n[0]), float(n[1]), float(n[2]), float(p.dist), axis(n).second);
        return count(1, 20) - 1;
    }
};

// Compiles a Quake map, as the checker reads it, into a BSP of `kind`: "29", "30", "BSP2",
// "2PSB", or "30 swapped" (planes before entities). Each model's tree takes its brushes in
// order, splitting on the first one's planes until inside it, each other brush going to the
// sides it reaches; a leaf holds what the brush around it holds, by texture name. Each side
// of a brush is faces: a corner's triangle and the rest. Brush entities are stored around
// their "origin", texture offsets too; origin brushes are left out.
class Q1BspWriter : public Lumps<15> {
public:
    using Plane = check::Bsp::Plane;

    explicit Q1BspWriter(const check::Map &map, const QByteArray &kind = "29")
        : kind(kind)
    {
        lumps[12] = QByteArray(big() ? 8 : 4, '\0'); // edge 0: its surfedge cannot be reversed
        leaf(-2);                                    // the one solid leaf
        const auto notOrigin = [](const std::vector<check::Face> &faces) {
            return faces[0].shader.toLower() != "origin";
        };
        for (size_t e = 0; e < map.size(); ++e) {
            const bool brushModel = e > 0 && std::ranges::any_of(map[e].brushes, notOrigin);
            const Vec origin = entity(map[e].keys, brushModel ? count(14, 64) : 0);
            std::vector<Brush> brushes;
            for (const std::vector<check::Face> &faces : map[e].brushes)
                if (notOrigin(faces))
                    brushes.push_back(brush(faces, origin));
            if (e == 0 || brushModel)
                model(brushes, origin);
        }
        lumps[0] += '\0';
        put(2, qint32(textures.size()));
        for (qsizetype k = 0; k < textures.size(); ++k)
            put(2, qint32(4 + 4 * textures.size() + 40 * k));
        for (const QByteArray &name : textures) // pixels in a WAD: no offsets
            lumps[2] += name.leftJustified(16, '\0', true), put(2, 64, 64, 0, 0, 0, 0);
    }

    QByteArray bytes() const
    {
        Q1BspWriter w = *this;
        if (kind.endsWith("swapped"))
            std::swap(w.lumps[0], w.lumps[1]);
        return w.file(big() ? kind.left(4) : raw(qint32(kind.left(2).toInt())), 15, 4);
    }

private:
    struct Brush {
        std::vector<Plane> planes;
        const std::vector<check::Face> *faces;
        int contents;
        std::vector<check::Winding> sides;
        check::Winding corners;
    };
    static constexpr double eps = 0.01;

    bool big() const { return kind == "BSP2" || kind == "2PSB"; }

    // Fields of `layout` (i int32, s int16, u uint16, f float), the missing values 0;
    // returns the record's index.
    int record(int lump, const char *layout, std::initializer_list<double> values)
    {
        int size = 0;
        for (size_t k = 0; layout[k]; ++k) {
            const double v = k < values.size() ? values.begin()[k] : 0;
            layout[k] == 'f'   ? put(lump, float(v))
            : layout[k] == 's' ? put(lump, qint16(v))
            : layout[k] == 'u' ? put(lump, quint16(v))
                               : put(lump, qint32(qint64(v)));
            size += layout[k] == 's' || layout[k] == 'u' ? 2 : 4;
        }
        return count(lump, size) - 1;
    }

    static Brush brush(const std::vector<check::Face> &faces, const Vec &origin)
    {
        Brush b{{}, &faces, check::contentsOf(faces[0].shader), {}, {}};
        for (const check::Face &f : faces)
            b.planes.push_back(check::facePlane(f)),
                b.planes.back().dist -= dot(b.planes.back().normal, origin);
        b.sides = check::sideWindings(b.planes);
        for (const check::Winding &w : b.sides)
            b.corners.insert(b.corners.end(), w.begin(), w.end());
        return b;
    }

    // Compilers store a plane with its largest component positive.
    static bool reversed(const Plane &p) { return p.normal[axis(p.normal).first] < 0; }

    int plane(const Plane &p)
    {
        const double s = reversed(p) ? -1 : 1;
        return record(1, "ffffi",
                      {s * p.normal[0], s * p.normal[1], s * p.normal[2], s * p.dist,
                       double(axis(p.normal).second)});
    }

    int leaf(int contents)
    {
        return -1 - record(10,
                           kind == "BSP2" ? "iiffffffiii"
                           : big()        ? "iissssssiii"
                                          : "iissssssuui",
                           {double(contents), -1});
    }

    // The subtree over where `brushes` reach, the first one already behind its planes
    // before `done`; returns its child number. Nodes come after their children.
    int split(const std::vector<const Brush *> &brushes, size_t done = 0)
    {
        if (brushes.empty())
            return leaf(-1);
        const Brush &b = *brushes[0];
        if (done == b.planes.size())
            return b.contents == -2 ? -1 : leaf(b.contents);
        const Plane &p = b.planes[done];
        std::vector<const Brush *> outside, inside{&b};
        for (size_t k = 1; k < brushes.size(); ++k) {
            double lo = INFINITY, hi = -INFINITY;
            for (const Vec &c : brushes[k]->corners)
                lo = std::min(lo, dot(p.normal, c) - p.dist),
                hi = std::max(hi, dot(p.normal, c) - p.dist);
            if (hi > eps)
                outside.push_back(brushes[k]);
            if (lo < -eps)
                inside.push_back(brushes[k]);
        }
        const int out = split(outside), in = split(inside, done + 1);
        return record(
            5,
            kind == "BSP2" ? "iiiffffffii"
            : big()        ? "iiissssssii"
                           : "issssssssuu",
            {double(plane(p)), double(reversed(p) ? in : out), double(reversed(p) ? out : in)});
    }

    void model(const std::vector<Brush> &brushes, const Vec &origin)
    {
        check::Winding corners;
        std::vector<const Brush *> order;
        for (const Brush &b : brushes)
            corners.insert(corners.end(), b.corners.begin(), b.corners.end()), order.push_back(&b);
        const auto [lo, hi] = check::bounds({corners});
        const int head = split(order), firstFace = count(7, big() ? 28 : 20);
        for (const Brush &b : brushes)
            for (size_t k = 0; k < b.sides.size(); ++k)
                if (check::boundsFace(b.sides[k])) { // in two, as compilers cut faces
                    const check::Winding &w = b.sides[k];
                    check::Winding rest = w;
                    rest.erase(rest.begin() + 1);
                    face(b, k, {w.begin(), w.begin() + 3}, origin);
                    if (rest.size() >= 3)
                        face(b, k, rest, origin);
                }
        put(14, float(lo[0]), float(lo[1]), float(lo[2]), float(hi[0]), float(hi[1]), float(hi[2]),
            0.f, 0.f, 0.f, head, 0, 0, 0, 0, firstFace, count(7, big() ? 28 : 20) - firstFace);
    }

    // A face with its own texinfo and vertices, every other edge stored reversed.
    void face(const Brush &b, size_t side, const check::Winding &w, const Vec &origin)
    {
        const check::Face &f = (*b.faces)[side];
        if (!textures.contains(f.shader))
            textures << f.shader;
        put(6, axes(f, origin), qint32(textures.indexOf(f.shader)), 0);
        const int first = count(3, 12), edges = count(13, 4), size = int(w.size());
        for (int k = 0; k < size; ++k) {
            const int a = first + k, c = first + (k + 1) % size;
            record(3, "fff", {w[size_t(k)][0], w[size_t(k)][1], w[size_t(k)][2]});
            const int e =
                record(12, big() ? "ii" : "uu", {double(k % 2 ? c : a), double(k % 2 ? a : c)});
            put(13, k % 2 ? -e : e);
        }
        record(7, big() ? "iiiiiii" : "usissii",
               {double(plane(b.planes[side])), double(reversed(b.planes[side])), double(edges),
                double(size), count(6, 40) - 1.0, -256.0 /* one light style */, -1});
    }

    QByteArray kind;
    QByteArrayList textures;
};
