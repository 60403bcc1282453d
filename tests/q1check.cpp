#include "q1check.h"

#include <cstring>
#include <random>

namespace check {
namespace {

template <class T> T field(const QByteArray &b, qint64 at)
{
    T v{};
    if (at >= 0 && at + qint64(sizeof v) <= b.size())
        std::memcpy(&v, b.constData() + at, sizeof v);
    return v;
}

// The leading fields of each `size`-byte record of a lump: i int32, U uint32, s int16,
// u uint16, f float.
std::vector<std::vector<double>> records(const QByteArray &b, const qint32 (&lump)[2],
                                         const char *fields, int size)
{
    std::vector<std::vector<double>> rows;
    for (qint64 at = lump[0]; at + size <= qint64(lump[0]) + lump[1]; at += size) {
        std::vector<double> &r = rows.emplace_back();
        for (qint64 o = at; const char c : std::string_view(fields))
            r.push_back(c == 'i' ? field<qint32>(b, o) : c == 'U' ? field<quint32>(b, o)
                        : c == 's' ? field<qint16>(b, o) : c == 'u' ? field<quint16>(b, o)
                                                               : field<float>(b, o)),
                o += c == 's' || c == 'u' ? 2 : 4;
    }
    return rows;
}

// What fills a leaf or a brush: 0 nothing, 1 solid, 2 liquid, 3 sky.
int kindOf(int contents)
{
    return contents == -1 ? 0 : contents <= -3 && contents >= -5 ? 2 : contents == -6 ? 3 : 1;
}
int kindOf(const QByteArray &texture)
{
    return texture.startsWith('*') ? 2 : texture.toLower().startsWith("sky") ? 3 : 1;
}

QByteArray valueOf(const Keys &keys, const QByteArray &key)
{
    for (const auto &[k, v] : keys)
        if (k == key)
            return v;
    return {};
}

struct Solid {
    std::vector<Bsp::Plane> planes; // moved back around the entity's origin
    const std::vector<Face> *sides;
    int kind;
};

// The entity's brushes but its origin brushes, moved by -origin.
std::vector<Solid> solids(const Entity &e, const Vec &origin, QStringList &problems)
{
    std::vector<Solid> out;
    for (const std::vector<Face> &sides : e.brushes) {
        if (std::all_of(sides.begin(), sides.end(),
                        [](const Face &x) { return x.shader.toLower() == "origin"; }))
            continue;
        Solid &s = out.emplace_back(Solid{{}, &sides, kindOf(sides[0].shader)});
        for (const Face &x : sides) {
            s.planes.push_back(facePlane(x));
            s.planes.back().dist -= dot(s.planes.back().normal, origin);
            if (kindOf(x.shader) != s.kind)
                problems << "a brush of mixed contents: " + x.shader;
        }
    }
    return out;
}

// -1: p lies within 0.01 of a plane of `s`; 1 inside, 0 outside.
int where(const Solid &s, const Vec &p)
{
    int inside = 1;
    for (const Bsp::Plane &x : s.planes) {
        const double d = dot(x.normal, p) - x.dist;
        if (std::abs(d) <= 0.01)
            return -1;
        inside &= d < 0;
    }
    return inside;
}

// Jittered points through a box, the same on every run.
template <class Each> void sample(const Vec &lo, const Vec &hi, Each each)
{
    std::mt19937 random(29);
    constexpr int n = 16;
    for (int k = 0; k < n * n * n; ++k) {
        const int cell[3] = {k % n, k / n % n, k / n / n};
        Vec p;
        for (size_t a = 0; a < 3; ++a)
            p[a] = lo[a] + (hi[a] - lo[a]) * (cell[a] + random() / 4294967296.0) / n;
        each(p);
    }
}

// The contents of the leaf at p, or 1 when p lies within 0.01 of a plane on its path.
int contentsAt(const Q1Bsp &bsp, int node, const Vec &p)
{
    for (size_t steps = 0; node >= 0 && steps <= bsp.nodes.size(); ++steps) {
        const Bsp::Plane &x = bsp.planes[size_t(bsp.nodes[size_t(node)][0])];
        const double d = dot(x.normal, p) - x.dist;
        if (std::abs(d) <= 0.01)
            return 1;
        node = bsp.nodes[size_t(node)][d > 0 ? 1 : 2];
    }
    return node < 0 ? bsp.contents[size_t(-1 - node)] : 1;
}

bool onSide(const Q1Bsp::Face &f, const Solid &s, size_t k, const Vec &centre,
            const Vec &origin)
{
    const Face &side = (*s.sides)[k];
    const Vec d = s.planes[k].normal - f.plane.normal;
    bool same = std::max({std::abs(d[0]), std::abs(d[1]), std::abs(d[2])}) <= 1e-5 &&
                std::abs(s.planes[k].dist - f.plane.dist) <= 0.01 && side.shader == f.texture;
    for (size_t j = 0; j < s.planes.size(); ++j)
        same &= dot(s.planes[j].normal, centre) - s.planes[j].dist <= 0.01;
    for (size_t j = 0; j < 8 && same; ++j) {
        const double *v = side.vecs[j / 4];
        const double x = v[j % 4] + (j % 4 == 3 ? dot({v[0], v[1], v[2]}, origin) : 0);
        same = std::abs(x - f.vecs[j / 4][j % 4]) <= 1e-4 * (1 + std::abs(x));
    }
    return same;
}

} // namespace

Q1Bsp readQ1(const QByteArray &b)
{
    Q1Bsp bsp;
    const QByteArray magic = b.left(4);
    const bool bsp2 = magic == "BSP2", psb2 = magic == "2PSB", big = bsp2 || psb2;
    bsp.halfLife = field<qint32>(b, 0) == 30;
    qint32 lump[15][2];
    for (int k = 0; k < 30; ++k)
        lump[k / 2][k % 2] = field<qint32>(b, 4 + 4 * k);
    if (b.mid(lump[0][0], 1) != "{" && b.mid(lump[1][0], 1) == "{") // planes first
        std::swap(lump[0], lump[1]);
    const QByteArray text = b.mid(lump[0][0], lump[0][1]);
    for (const Entity &e : readMap(text.left(qstrnlen(text.constData(), size_t(text.size())))).value)
        bsp.entities << e.keys;
    for (const auto &r : records(b, lump[1], "ffff", 20))
        bsp.planes.push_back({{r[0], r[1], r[2]}, r[3]});
    for (const auto &r : records(b, lump[5], big ? "iii" : "iss", bsp2 ? 44 : psb2 ? 32 : 24))
        bsp.nodes.push_back({int(r[0]), int(r[1]), int(r[2])});
    for (const auto &r : records(b, lump[10], "i", bsp2 ? 44 : psb2 ? 32 : 28))
        bsp.contents.push_back(int(r[0]));
    QByteArrayList names;
    const qint64 miptex = lump[2][0];
    for (qint32 k = 0; k < field<qint32>(b, miptex); ++k) {
        const QByteArray name = b.mid(miptex + field<qint32>(b, miptex + 4 + 4 * k), 16);
        names << name.left(qstrnlen(name.constData(), size_t(name.size())));
    }
    const auto vertexes = records(b, lump[3], "fff", 12), texinfo = records(b, lump[6], "ffffffffi", 40);
    const auto edges = records(b, lump[12], big ? "UU" : "uu", big ? 8 : 4);
    const auto surfedges = records(b, lump[13], "i", 4);
    for (const auto &r : records(b, lump[7], big ? "iiiii" : "usiss", big ? 28 : 20)) {
        Q1Bsp::Face &f = bsp.faces.emplace_back();
        const Bsp::Plane &p = bsp.planes[size_t(r[0])];
        f.plane = r[1] ? Bsp::Plane{p.normal * -1, -p.dist} : p;
        for (size_t k = size_t(r[2]); k < size_t(r[2] + r[3]); ++k) {
            const int e = int(surfedges[k][0]);
            const auto &v = vertexes[size_t(edges[size_t(std::abs(e))][e < 0])];
            f.points.push_back({v[0], v[1], v[2]});
        }
        const std::vector<double> &t = texinfo[size_t(r[4])];
        std::copy(t.begin(), t.begin() + 8, &f.vecs[0][0]);
        f.texture = names.value(int(t[8]));
    }
    for (const auto &r : records(b, lump[14], "fffffffffiiiiiii", 64))
        bsp.models.push_back({{r[0], r[1], r[2]}, {r[3], r[4], r[5]}, int(r[9]), int(r[14]), int(r[15])});
    return bsp;
}

Q1Fidelity compareQ1(const Q1Bsp &bsp, const Map &map)
{
    Q1Fidelity f;
    if (map.size() != size_t(bsp.entities.size()))
        f.problems << QString("%1 entities written of %2").arg(map.size()).arg(bsp.entities.size());
    for (size_t e = 0; e < map.size() && e < size_t(bsp.entities.size()); ++e) {
        Keys bspKeys = bsp.entities[qsizetype(e)], mapKeys = map[e].keys;
        bspKeys.removeIf([](auto &k) { return k.first == "model"; });
        const QPair<QByteArray, QByteArray> valve("mapversion", "220");
        if (e == 0 && mapKeys.value(0) == valve && !bspKeys.contains(valve))
            mapKeys.removeFirst();
        if (mapKeys != bspKeys)
            f.problems << QString("entity %1: its keys differ").arg(e);
        const QByteArray model = e == 0 ? "*0" : valueOf(bsp.entities[qsizetype(e)], "model");
        const size_t m = model.mid(1).toUInt();
        if (!model.startsWith('*') || m >= bsp.models.size())
            continue;
        const QList<QByteArray> xyz = valueOf(bspKeys, "origin").split(' ');
        const Vec origin = xyz.size() == 3 ? Vec{xyz[0].toDouble(), xyz[1].toDouble(), xyz[2].toDouble()} : Vec{};
        const std::vector<Solid> written = solids(map[e], origin, f.problems);
        f.brushes += int(written.size());
        const Q1Bsp::Model &tree = bsp.models[m];
        sample(tree.mins, tree.maxs, [&](const Vec &p) {
            const int contents = contentsAt(bsp, tree.head, p);
            bool in = false, kind = kindOf(contents) == 0;
            for (const Solid &s : written) {
                const int w = where(s, p);
                if (w < 0)
                    return;
                in |= w == 1, kind |= w == 1 && s.kind == kindOf(contents);
            }
            if (contents == 1)
                return;
            ++f.samples;
            if (in == (kindOf(contents) != 0) && kind)
                ++f.agreeing;
            else if (f.samples - f.agreeing <= 5)
                f.problems << QString("entity %1: contents %2 at %3 %4 %5, %6 a brush")
                                  .arg(e).arg(contents).arg(p[0]).arg(p[1]).arg(p[2])
                                  .arg(in ? "inside" : "outside");
        });
        for (int k = tree.firstFace; k < tree.firstFace + tree.faces; ++k) {
            const Q1Bsp::Face &x = bsp.faces[size_t(k)];
            Vec centre{};
            for (const Vec &p : x.points)
                centre = centre + p * (1.0 / double(x.points.size()));
            bool found = false;
            for (const Solid &s : written)
                for (size_t j = 0; j < s.planes.size() && !found; ++j)
                    found = onSide(x, s, j, centre, origin);
            ++f.faces, f.textured += found;
            if (!found && f.faces - f.textured <= 5)
                f.problems << QString("entity %1: face %2 (%3) on no side with its texture")
                                  .arg(e).arg(k).arg(x.texture);
        }
    }
    return f;
}

std::pair<int, int> coversQ1(const Map &map, const Map &source)
{
    QStringList ignored;
    std::vector<Solid> written, wanted;
    for (const Entity &e : map)
        for (Solid &s : solids(e, {}, ignored))
            written.push_back(std::move(s));
    for (const Entity &e : source)
        for (Solid &s : solids(e, {}, ignored))
            wanted.push_back(std::move(s));
    std::pair<int, int> n;
    for (const Solid &s : wanted) {
        Vec lo{INFINITY, INFINITY, INFINITY}, hi = lo * -1;
        for (const Winding &w : sideWindings(s.planes))
            for (const Vec &c : w)
                for (size_t a = 0; a < 3; ++a)
                    lo[a] = std::min(lo[a], c[a]), hi[a] = std::max(hi[a], c[a]);
        sample(lo, hi, [&](const Vec &p) {
            bool in = false;
            for (const Solid &x : written) {
                const int w = where(x, p);
                if (w < 0)
                    return;
                in |= w == 1;
            }
            if (where(s, p) == 1)
                ++n.first, n.second += in;
        });
    }
    return n;
}

} // namespace check
