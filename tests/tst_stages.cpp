// The converter's library in-process: the texture fit's cases that no small
// map run through bspc.exe told apart, and each form's line for a side.
#include "bspwriter.h"
#include "convert.h"
#include "mapwriter.h"

#include <QtTest>

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

    // Each form's line for a side on a plane, with a mapping of each kind, and
    // whether the form had to approximate it.
    void writesEachForm_data()
    {
        QTest::addColumn<QByteArray>("form");
        // The plane's normal and distance, then the mapping: texel axes (s, s0, t, t0) or a matrix.
        QTest::addColumn<QList<double>>("n");
        QTest::addColumn<QByteArray>("line"); // from the texture's name on, or before it
        QTest::addColumn<int>("approximated");
        const QList<double> floor{0, 0, 1, 0}, turned{0, 0.5, 0, 16, 2, 0, 0, 8},
            matrix{0.5, 0, 0.25, 0, 0.25, 0.5}, sheared{0.5, 0, 0, 0, 0.5, 0.5, 0, 0};
        const auto row = [](const char *tag, const char *form, QList<double> n, const char *line,
                            int approximated = 0) {
            QTest::newRow(tag) << QByteArray(form) << n << QByteArray(line) << approximated;
        };
        row("brushDef axes", "brushdef", floor + turned,
            "( ( 0.0078125 0 0 ) ( 0 0.0078125 0 ) ) a 7 1 2", 1);
        row("classic axes turned", "classic", floor + turned, "a 16 8 90 2 0.5 7 1 2");
        row("classic axes on a slope", "classic", {0, 0.6, 0.8, 8, 1, 0, 0, 3, 0, -0.8, 0.6, 1},
            "a 3 7 0 1 0.8 7 1 2");
        row("classic axes sheared", "classic", floor + sheared, "a 0 0 0 2 -2 7 1 2", 1);
        row("valve axes", "valve", floor + turned, "a [ 0 1 0 16 ] [ 1 0 0 8 ] 0 2 0.5 7 1 2");
        row("valve matrix", "valve", floor + matrix,
            "a [ 0 1 0 16 ] [ 1 0 0 32 ] 0 0.03125 0.0625 7 1 2");
    }

    void writesEachForm()
    {
        QFETCH(QByteArray, form);
        QFETCH(QList<double>, n);
        QFETCH(QByteArray, line);
        QFETCH(int, approximated);
        const bool axes = n.size() == 12;
        const Vec3 normal{n[0], n[1], n[2]};
        const std::string_view names[] = {"a"};
        ModelGeometry g;
        g.textureNames = names;
        g.sides.push_back({{normal, n[3]},
                           {normal * n[3], {}, {}},
                           0,
                           {axes ? MappingKind::Axes : MappingKind::Matrix, 0},
                           7,
                           1,
                           2});
        g.brushes.push_back({0, 1, false});
        if (axes)
            g.axes.push_back({{{n[4], n[5], n[6]}, {n[8], n[9], n[10]}}, {n[7], n[11]}});
        else
            g.matrices.push_back({{{n[4], n[5], n[6]}, {n[7], n[8], n[9]}}});
        std::string text;
        ConvertStats stats;
        const auto writer = MapWriter::make(*formNamed(form.toStdString()), text, nullptr, stats);
        writer->begin({"Quake 2", "Quake2 (Valve)", true, 1, 0});
        // A map of the Valve form says so, in place of a version it had.
        const KeyValue keys[] = {{"mapversion", "510"}, {"classname", "worldspawn"}};
        writer->entity({std::span(keys).subspan(axes)}, &g);
        const QByteArray out = QByteArray::fromStdString(text);
        QVERIFY2(out.contains(") " + line + "\n"), out);
        QCOMPARE(int(stats.approximatedFaces), approximated);
        if (form == "valve")
            QVERIFY2(out.startsWith("// Game: Quake 2\n// Format: Quake2 (Valve)\n// entity 0\n{\n"
                                    "\"mapversion\" \"220\"\n\"classname\" \"worldspawn\"\n"),
                     out);
    }
};

QTEST_GUILESS_MAIN(TestStages)
#include "tst_stages.moc"
