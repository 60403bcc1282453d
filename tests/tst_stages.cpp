// The converter's library in-process: the texture fit's cases that no small
// map run through bspc.exe told apart, and the tree walk on a real map.
#include "bspwriter.h"
#include "convert.h"
#include "treecells.h"

#include <QtTest>
#include <random>

using namespace bsp2map;
// A top at z 32 from x0 to x1, y 0 to 128: two triangles mapped as the kit maps,
// `shift` repeats on.
void drawTop(BspWriter &w, double x0, double x1, double shift = 0)
{
    std::vector<float> points;
    for (const check::Vec &p : {check::Vec{x0, 0, 32}, {x1, 0, 32}, {x0, 128, 32}, {x1, 128, 32}})
        points.insert(points.end(),
                      {float(p[0]), float(p[1]), 32, float(BspWriter::st(p, 0) + shift),
                       float(BspWriter::st(p, 1) + shift)});
    w.surface(1, 0, points, {0, 3, 1, 0, 2, 3}, {0, 0, 1});
}

class TestStages : public QObject {
    Q_OBJECT

private slots:
    // Two boxes side by side, or overlapping, with tops on one plane: how far the
    // second's texture must lie from the first's, in repeats.
    void textureFit_data()
    {
        QTest::addColumn<QByteArray>("bsp");
        QTest::addColumn<double>("apart");
        BspWriter w;
        w.entities = "{\n\"classname\" \"worldspawn\"\n}\n";
        const int s = w.shader("textures/base/floor");
        const BspWriter base = w;
        // The second's top has no triangles: it takes the first's texture.
        w.brush(w.box({0, 0, 0}, {64, 64, 32}, s), s);
        w.brush(w.box({64, 0, 0}, {128, 64, 32}, s), s, 1 << 4);
        QTest::newRow("a hidden face takes its neighbour's") << w.bytes() << 0.0;
        // The first's triangles over the second's half fit the first exactly, and
        // would pull the second's, a fraction of a repeat off, towards them.
        w = base;
        w.brush(w.box({0, 0, 0}, {128, 128, 32}, s), s, 1 << 4);
        w.brush(w.box({64, 0, 0}, {192, 128, 32}, s), s, 1 << 4);
        drawTop(w, 0, 64);
        drawTop(w, 64, 128);
        drawTop(w, 128, 192, 0.0015);
        QTest::newRow("a shared triangle goes where it fits") << w.bytes() << 0.0015;
    }

    void textureFit()
    {
        QFETCH(QByteArray, bsp);
        QFETCH(double, apart);
        std::string text;
        QVERIFY(
            convertBsp(std::as_bytes(std::span(bsp.constData(), size_t(bsp.size()))), {}, text));
        const check::Map map = check::readMap(QByteArray::fromStdString(text)).value;
        // The boxes' tops, their fifth sides as the kit makes them and the converter keeps them.
        const check::Face &first = map.at(0).brushes.at(0).at(4),
                          &second = map[0].brushes.at(1).at(4);
        for (int k = 0; k < 6; ++k) {
            double d =
                second.matrix[k / 3][k % 3] - first.matrix[k / 3][k % 3] - (k % 3 == 2) * apart;
            d -= k % 3 == 2 ? std::round(d) : 0; // offsets are kept within one repeat
            QVERIFY2(std::abs(d) < 1e-5, qPrintable(QString("entry %1 off by %2").arg(k).arg(d)));
        }
    }

    // A Quake III map holds a tree as well as its brushes: rebuilt as a Quake map's
    // would be, the brushes fill exactly the tree's opaque leaves.
    void treeWalk()
    {
        const QByteArray bsp =
            check::unzip("/usr/share/games/openarena/baseoa/pak1-maps.pk3", "maps/fan.bsp");
        QVERIFY2(!bsp.isEmpty(), "an OpenArena map package is missing; run scripts/setup.sh");
        const check::Bsp read = check::readBsp(bsp);
        std::vector<Plane> planes;
        for (const check::Bsp::Plane &p : read.planes)
            planes.push_back({{p.normal[0], p.normal[1], p.normal[2]}, p.dist});
        std::vector<std::array<int, 3>> nodes;
        std::vector<TreeNode> tree;
        for (const auto &n : check::records<int>(bsp, check::lumpOf(bsp, 3), "iii", 36))
            nodes.push_back({n[0], n[1], n[2]}), tree.push_back({n[0], {n[1], n[2]}});
        std::vector<qint32> contents; // a leaf without a cluster is opaque
        for (const auto &leaf : check::records<int>(bsp, check::lumpOf(bsp, 4), "i", 48))
            contents.push_back(leaf[0] == -1 ? -2 : -1);
        const auto world = check::records(bsp, check::lumpOf(bsp, 7), "ffffff", 40).at(0);
        const Vec3 mins{world[0], world[1], world[2]}, maxs{world[3], world[4], world[5]};
        TreeCells cells;
        std::uint64_t steps = 0;
        QVERIFY(cells.build({planes, tree, contents}, 0, mins, maxs, -1, steps, UINT64_MAX));
        cells.merge();
        std::mt19937 random(7);
        int judged = 0;
        for (int i = 0; i < 20000; ++i) {
            Vec3 p;
            for (int k = 0; k < 3; ++k)
                p[k] = std::uniform_real_distribution<double>(mins[k], maxs[k])(random);
            // A point near a plane on the way to its leaf is no sample.
            double nearest;
            const int leaf = check::leafAt(nodes, read.planes, 0, {p[0], p[1], p[2]}, nearest);
            const bool inCell = std::ranges::any_of(cells.cells(), [&](const Cell &c) {
                return std::ranges::all_of(
                    c.sides, [&](const CellSide &s) { return s.plane.distanceTo(p) <= 0; });
            });
            judged += nearest > 0.01;
            QVERIFY(nearest <= 0.01 || inCell == (contents[size_t(-1 - leaf)] == -2));
        }
        QVERIFY(judged > 10000);
    }
};

QTEST_GUILESS_MAIN(TestStages)
#include "tst_stages.moc"
