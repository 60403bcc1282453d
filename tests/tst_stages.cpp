// The converter's library in-process: the texture fit's cases that no small
// map run through bspc.exe told apart.
#include "bspwriter.h"
#include "convert.h"

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
};

QTEST_GUILESS_MAIN(TestStages)
#include "tst_stages.moc"
