#include "q1check.h"

namespace check {
namespace {

// Half-Life's currents are water, its other contents solid.
int leafContents(int leaf)
{
    return leaf >= -6 && leaf <= -1 ? leaf : leaf >= -14 && leaf <= -9 ? -3 : -2;
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
        if (sides[0].shader.toLower() == "origin")
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

// Points through a box, one in each cell of a grid, each cell's at another place in it.
template <class Each> void sample(const Vec &lo, const Vec &hi, Each each)
{
    for (int k = 0, n = 16; k < n * n * n; ++k) {
        const int cell[3] = {k % n, k / n % n, k / n / n};
        Vec p;
        for (size_t a = 0; a < 3; ++a)
            p[a] = lo[a] +
                   (hi[a] - lo[a]) * (cell[a] + std::fmod(0.618034 * k * double(a + 1), 1)) / n;
        each(p);
    }
}

// Whether a side of `s` holds face `f`: its plane, the face's centre, texture and axes.
bool holds(const Solid &s, const Q1Bsp::Face &f, const Vec &origin)
{
    Vec centre{};
    for (const Vec &p : f.points)
        centre = centre + p * (1.0 / double(f.points.size()));
    for (const Bsp::Plane &x : s.planes)
        if (dot(x.normal, centre) - x.dist > 0.01)
            return false;
    for (size_t k = 0; k < s.planes.size(); ++k) {
        const Face &side = (*s.sides)[k];
        bool same = samePlane(s.planes[k], f.plane) && side.shader == f.texture;
        for (size_t j = 0; j < 8 && same; ++j) {
            const double *v = side.vecs[j / 4];
            const double x = v[j % 4] + (j % 4 == 3 ? dot({v[0], v[1], v[2]}, origin) : 0);
            same = std::abs(x - f.vecs[j / 4][j % 4]) <= 1e-4 * (1 + std::abs(x));
        }
        if (same)
            return true;
    }
    return false;
}

} // namespace

int contentsOf(QByteArray texture)
{
    texture = texture.toLower().replace('!', '*');
    return texture.startsWith("*lava")    ? -5
           : texture.startsWith("*slime") ? -4
           : texture.startsWith('*')      ? -3
           : texture.startsWith("sky")    ? -6
                                          : -2;
}

Q1Bsp readQ1(const QByteArray &b)
{
    Q1Bsp bsp;
    const QByteArray magic = b.left(4);
    const bool bsp2 = magic == "BSP2", psb2 = magic == "2PSB", big = bsp2 || psb2;
    bsp.halfLife = records<int>(b, {0, 4}, "i", 4)[0][0] == 30;
    Lump lump[15];
    for (int k = 0; k < 15; ++k)
        lump[k] = lumpOf(b, k, 4);
    if (b.mid(lump[0].at, 1) != "{" && b.mid(lump[1].at, 1) == "{") // planes first
        std::swap(lump[0], lump[1]);
    for (const Entity &e : readMap(nameAt(b, lump[0].at, int(lump[0].size))).value)
        bsp.entities << e.keys;
    for (const auto &r : records(b, lump[1], "ffff", 20))
        bsp.planes.push_back({{r[0], r[1], r[2]}, r[3]});
    for (const auto &r : records<int>(b, lump[5], big ? "iii" : "iss", bsp2 ? 44 : psb2 ? 32 : 24))
        bsp.nodes.push_back({r[0], r[1], r[2]});
    for (const auto &r : records<int>(b, lump[10], "i", bsp2 ? 44 : psb2 ? 32 : 28))
        bsp.contents.push_back(r[0]);
    QByteArrayList names;
    const auto miptex = records<int>(b, {lump[2].at, 4}, "i", 4);
    for (const auto &r : records<int>(b, {lump[2].at + 4, 4 * qint64(miptex.at(0)[0])}, "i", 4))
        names << nameAt(b, lump[2].at + r[0], 16);
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
        const Q1Bsp::Model &tree = bsp.models[m];
        sample(tree.mins, tree.maxs, [&](const Vec &p) {
            double nearest;
            const int leaf = leafAt(bsp.nodes, bsp.planes, tree.head, p, nearest);
            const int contents = leaf < 0 ? leafContents(bsp.contents[size_t(-1 - leaf)]) : 0,
                      w = where(brushes, p, contents);
            if (leaf >= 0 || nearest <= 0.01 || w < 0)
                return;
            ++f.samples;
            if ((contents == -1 ? w != 0 : !(w & 2)) && f.problems.size() < 10)
                f.problems << QString::asprintf("entity %zu: contents %d at %g %g %g, %s a brush",
                                                e, contents, p[0], p[1], p[2],
                                                w ? "inside" : "outside");
        });
        for (int k = tree.firstFace; k < tree.firstFace + tree.faces; ++k, ++f.faces)
            if (std::ranges::none_of(
                    brushes, [&](auto &s) { return holds(s, bsp.faces[size_t(k)], origin); }) &&
                f.problems.size() < 10)
                f.problems << QString::asprintf(
                    "entity %zu: face %d (%s) on no side with its texture", e, k,
                    bsp.faces[size_t(k)].texture.data());
    }
    return f;
}

std::pair<int, int> coversQ1(const Map &map, const Map &source)
{
    QStringList ignored;
    std::vector<Solid> written;
    for (const Entity &e : map)
        std::ranges::move(solids(e, {}, ignored), std::back_inserter(written));
    std::pair<int, int> n;
    for (const Entity &e : source)
        for (const Solid &s : solids(e, {}, ignored)) {
            const auto [lo, hi] = bounds(sideWindings(s.planes));
            sample(lo, hi, [&](const Vec &p) {
                const int w = where(written, p);
                if (w >= 0 && where({s}, p) == 1)
                    ++n.first, n.second += w;
            });
        }
    return n;
}

} // namespace check
