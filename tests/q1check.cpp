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
            r.push_back(c == 'i'   ? field<qint32>(b, o)
                        : c == 'U' ? field<quint32>(b, o)
                        : c == 's' ? field<qint16>(b, o)
                        : c == 'u' ? field<quint16>(b, o)
                                   : field<float>(b, o)),
                o += c == 's' || c == 'u' ? 2 : 4;
    }
    return rows;
}

// What fills a leaf, or a brush by its texture: -1 nothing, -2 solid, -3 water, -4 slime,
// -5 lava, -6 sky; Half-Life's currents are water, its other contents solid, and its
// liquids' names start with ! where Quake's start with *.
int contentsOf(int leaf)
{
    return leaf >= -6 && leaf <= -1 ? leaf : leaf >= -14 && leaf <= -9 ? -3 : -2;
}
int contentsOf(QByteArray texture)
{
    texture = texture.toLower().replace('!', '*');
    return texture.startsWith("*lava")    ? -5
           : texture.startsWith("*slime") ? -4
           : texture.startsWith('*')      ? -3
           : texture.startsWith("sky")    ? -6
                                          : -2;
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
    int contents;
};

// The brushes of `e` but its origin brushes, moved by -origin.
std::vector<Solid> solids(const Entity &e, const Vec &origin, QStringList &problems)
{
    std::vector<Solid> out;
    for (const std::vector<Face> &sides : e.brushes) {
        if (std::all_of(sides.begin(), sides.end(),
                        [](const Face &x) { return x.shader.toLower() == "origin"; }))
            continue;
        Solid &s = out.emplace_back(Solid{{}, &sides, contentsOf(sides[0].shader)});
        for (const Face &x : sides) {
            s.planes.push_back(facePlane(x));
            s.planes.back().dist -= dot(s.planes.back().normal, origin);
            if (contentsOf(x.shader) != s.contents)
                problems << "a brush of mixed contents: " + x.shader;
        }
    }
    return out;
}

// -1 when p lies within 0.01 of a plane of `solids`; else 1 if inside one, plus 2 if inside
// one filled with `contents`.
int where(const std::vector<Solid> &solids, const Vec &p, int contents = 0)
{
    int found = 0;
    for (const Solid &s : solids) {
        bool inside = true;
        for (const Bsp::Plane &x : s.planes) {
            const double d = dot(x.normal, p) - x.dist;
            if (std::abs(d) <= 0.01)
                return -1;
            inside &= d < 0;
        }
        found |= inside ? 1 | (s.contents == contents) << 1 : 0;
    }
    return found;
}

// Jittered points through a box, the same on every run.
template <class Each> void sample(const Vec &lo, const Vec &hi, Each each)
{
    std::mt19937 random(29);
    for (int k = 0, n = 16; k < n * n * n; ++k) {
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

// Whether side k of `s` holds face `f`: its plane, the face's centre, texture and axes.
bool holds(const Solid &s, size_t k, const Q1Bsp::Face &f, const Vec &origin)
{
    Vec centre{};
    for (const Vec &p : f.points)
        centre = centre + p * (1.0 / double(f.points.size()));
    const Face &side = (*s.sides)[k];
    const Vec d = s.planes[k].normal - f.plane.normal;
    bool same = std::max({std::abs(d[0]), std::abs(d[1]), std::abs(d[2])}) <= 1e-5 &&
                std::abs(s.planes[k].dist - f.plane.dist) <= 0.01 && side.shader == f.texture;
    for (const Bsp::Plane &x : s.planes)
        same &= dot(x.normal, centre) - x.dist <= 0.01;
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
    for (const Entity &e :
         readMap(text.left(qstrnlen(text.constData(), size_t(text.size())))).value)
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
    const auto vertexes = records(b, lump[3], "fff", 12),
               texinfo = records(b, lump[6], "ffffffffi", 40);
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
        bsp.models.push_back(
            {{r[0], r[1], r[2]}, {r[3], r[4], r[5]}, int(r[9]), int(r[14]), int(r[15])});
    return bsp;
}

Q1Fidelity compareQ1(const Q1Bsp &bsp, const Map &map)
{
    Q1Fidelity f;
    if (map.size() != size_t(bsp.entities.size()))
        f.problems << QString("%1 entities written of %2").arg(map.size()).arg(bsp.entities.size());
    QSet<QByteArray> textures{bsp.halfLife ? "SKIP" : "skip"}; // what a side may be textured
    for (const Q1Bsp::Face &x : bsp.faces)
        textures << x.texture;
    for (size_t e = 0; e < std::min(map.size(), size_t(bsp.entities.size())); ++e) {
        const QPair<QByteArray, QByteArray> valve("mapversion", "220");
        Keys keys = bsp.entities[qsizetype(e)], written = map[e].keys;
        const QByteArray model = e ? valueOf(keys, "model") : "*0";
        const QList<QByteArray> xyz = valueOf(keys, "origin").split(' ');
        keys.removeIf([](auto &k) { return k.first == "model"; });
        if (e == 0 && written.value(0) == valve && !keys.contains(valve))
            written.removeFirst();
        if (written != keys)
            f.problems << QString("entity %1: its keys differ").arg(e);
        const size_t m = model.mid(1).toUInt();
        if (!model.startsWith('*') || m >= bsp.models.size())
            continue;
        const Vec origin =
            xyz.size() == 3 ? Vec{xyz[0].toDouble(), xyz[1].toDouble(), xyz[2].toDouble()} : Vec{};
        const std::vector<Solid> brushes = solids(map[e], origin, f.problems);
        f.brushes += int(brushes.size());
        for (const Solid &s : brushes)
            for (const Face &x : *s.sides)
                if (s.contents == -2 && !textures.contains(x.shader))
                    f.problems << "a side textured " + x.shader + ", no face's texture";
        const Q1Bsp::Model &tree = bsp.models[m];
        sample(tree.mins, tree.maxs, [&](const Vec &p) {
            const int leaf = contentsAt(bsp, tree.head, p), contents = contentsOf(leaf),
                      w = where(brushes, p, contents);
            if (w < 0 || leaf == 1)
                return;
            const bool agrees = contents == -1 ? w == 0 : w & 2;
            if (++f.samples, f.agreeing += agrees; !agrees && f.samples - f.agreeing <= 5)
                f.problems << QString("entity %1: contents %2 at %3 %4 %5, %6 a brush")
                                  .arg(e)
                                  .arg(contents)
                                  .arg(p[0])
                                  .arg(p[1])
                                  .arg(p[2])
                                  .arg(w ? "inside" : "outside");
        });
        for (int k = tree.firstFace; k < tree.firstFace + tree.faces; ++k) {
            bool found = false;
            for (const Solid &s : brushes)
                for (size_t j = 0; j < s.planes.size() && !found; ++j)
                    found = holds(s, j, bsp.faces[size_t(k)], origin);
            if (++f.faces, f.textured += found; !found && f.faces - f.textured <= 5)
                f.problems << QString("entity %1: face %2 (%3) on no side with its texture")
                                  .arg(e)
                                  .arg(k)
                                  .arg(bsp.faces[size_t(k)].texture);
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
            const int w = where(written, p);
            if (w >= 0 && where({s}, p) == 1)
                ++n.first, n.second += w;
        });
    }
    return n;
}

} // namespace check
