// The checker on Quake 2: a real BSP against the editor source it was compiled
// from, a small one built by the kit against the map it was built from, and each
// fault put into a good map seen.
#include "convertkit.h"

using check::Vec;
using Fault = std::function<void(check::Map &)>;
Q_DECLARE_METATYPE(Fault)

const QByteArray lobby = TESTMAPS "/q2_mp_lobby";

// World: a floor turned and scaled, a detail ramp that needs two bevels, water and lava
// with surface flags and values; an area portal; a door turning about its origin brush.
const QByteArray kitText =
    "// Game: Quake 2\n{\n\"classname\" \"worldspawn\"\n" +
    Q2BspWriter::box({-256, -256, -16}, {256, 256, 0}, "e1u1/floor 8 16 30 0.5 2 1 0 0") +
    Q2BspWriter::box({0, -32, 0}, {64, 32, 64}, "e1u1/ramp 0 0 45 1 1 134217729 0 0", 0b010010,
                     "( 64 0 64 ) ( 0 0 0 ) ( 0 64 0 ) e1u1/ramp 0 0 45 1 1 134217729 0 0\n") +
    Q2BspWriter::box({-200, -200, 0}, {-100, -100, 32}, "e1u1/water4 0 0 0 1 1 32 24 0") +
    Q2BspWriter::box({100, -200, 0}, {200, -100, 16}, "e1u1/lava 3 5 0 1 1 8 1 300") +
    "}\n{\n\"classname\" \"func_areaportal\"\n\"style\" \"1\"\n" +
    Q2BspWriter::box({-4, -32, 0}, {4, 32, 64}, "e1u1/trigger 0 0 0 1 1 32768 0 0") +
    "}\n{\n\"classname\" \"func_door_rotating\"\n\"origin\" \"128 0 32\"\n" +
    Q2BspWriter::box({124, -32, 0}, {132, 32, 64}, "e1u1/door 4 -8 90 1 0.25 1 0 7") +
    Q2BspWriter::box({120, -8, 24}, {136, 8, 40}, "e1u1/origin 0 0 0 1 1 16777216 0 0") +
    "}\n{\n\"classname\" \"info_player_start\"\n\"origin\" \"0 0 24\"\n}\n";

// The kit's map in the standard form, or in the Valve form where a door face also has
// a skewed texture that the standard form cannot hold.
check::Map kitMap(bool valve)
{
    check::Map map = check::readMap(kitText).value;
    for (check::Entity &e : map)
        for (auto &faces : e.brushes)
            for (check::Face &x : faces)
                x.valve = valve;
    if (valve)
        map[2].brushes[0][0].vecs[1][2] += 0.1;
    return map;
}

// 0: the lobby's source as its compiler changed it: entity keys in the reverse order,
// brushes without contents solid. 1, 2: the kit's map in the Valve and the standard
// form; the BSP has the lava's top with its axes tilted off its plane, the same texture.
std::pair<check::Bsp, check::Map> good(int which)
{
    check::Map map = which ? kitMap(true) : check::readMap(readAll(lobby + ".source.map")).value;
    if (which) {
        map[0].brushes[3][4].vecs[0][2] += 0.5, map[0].brushes[3][4].vecs[0][3] -= 8;
        const QByteArray bsp = Q2BspWriter(map).bytes();
        map = kitMap(which == 1);
        map.header = {"// Game: Quake 2", "// Format: Quake2 (Valve)"};
        which == 1 ? map[0].keys.prepend({"mapversion", "220"}) : map.header.clear();
        return {check::readBsp(bsp), map};
    }
    for (check::Entity &e : map) {
        std::reverse(e.keys.begin(), e.keys.end());
        for (auto &faces : e.brushes)
            for (check::Face &x : faces)
                x.contents = x.contents ? x.contents : 1;
    }
    return {check::readBsp(readAll(lobby + ".bsp")), map};
}

class TestQ2Check : public QObject {
    Q_OBJECT

private slots:
    // Texture axes in texels, from Valve faces and from the standard form's axial planes.
    void readsFaces_data()
    {
        QTest::addColumn<QByteArray>("face");
        QTest::addColumn<QList<double>>("vecs"); // empty: it must not read
        const QByteArray floor = "( 0 0 0 ) ( 0 1 0 ) ( 1 0 0 ) a ";
        const double c = std::sqrt(0.75);
        QTest::newRow("Valve") << floor + "[ 1 0 0 8 ] [ 0 -1 0 4 ] 30 2 0.5 1 2 3"
                               << QList<double>{0.5, 0, 0, 8, 0, -2, 0, 4};
        QTest::newRow("Valve short")
            << floor + "[ 1 0 0 8 ] [ 0 -1 0 4 ] 30 2 0.5 1 2" << QList<double>{};
        QTest::newRow("floor turned")
            << floor + "8 -4 90 2 0.5 1 2 3" << QList<double>{0, 0.5, 0, 8, 2, 0, 0, -4};
        QTest::newRow("wall -y turned")
            << QByteArray("( 1 0 0 ) ( 0 0 0 ) ( 0 0 1 ) a 0 0 30 1 1 1 2 3")
            << QList<double>{c, 0, 0.5, 0, 0.5, 0, -c, 0};
        QTest::newRow("diagonal, +x first, no scale")
            << QByteArray("( -1 1 0 ) ( 0 0 0 ) ( 0 0 1 ) a 0 0 0 0 0 1 2 3")
            << QList<double>{0, 1, 0, 0, 0, 0, -1, 0};
    }
    void readsFaces()
    {
        QFETCH(QByteArray, face);
        QFETCH(QList<double>, vecs);
        const auto map = check::readMap("{\n{\n" + face + "\n}\n}\n");
        QCOMPARE(map.ok(), !vecs.empty());
        const check::Face x = map.ok() ? map.value[0].brushes[0][0] : check::Face{};
        for (size_t k = 0; k < 8 && map.ok(); ++k)
            QVERIFY2(std::abs(x.vecs[k / 4][k % 4] - vecs[qsizetype(k)]) < 1e-12, qPrintable(face));
        QVERIFY(!map.ok() || (x.flags == 2 && x.value == 3 && x.valve == face.contains('[')));
    }

    // Good maps pass, with their figures; what the lobby's source differs in is only
    // what its compiler changed.
    void goodMaps_data()
    {
        QTest::addColumn<int>("which");
        // brushes in the BSP and written, faces, sides with faces, faces with their
        // texture, bevels, detail, origin brushes, portals, approximated faces
        QTest::addColumn<QList<int>>("figures");
        QTest::newRow("lobby") << 0 << QList<int>{6, 6, 36, 36, 36, 0, 0, 0, 0, 0};
        QTest::newRow("kit, Valve") << 1 << QList<int>{6, 6, 35, 35, 35, 2, 1, 1, 1, 0};
        QTest::newRow("kit, standard") << 2 << QList<int>{6, 6, 35, 35, 35, 2, 1, 1, 1, 1};
    }
    void goodMaps()
    {
        QFETCH(int, which);
        QFETCH(QList<int>, figures);
        if (which == 0 && !QFile::exists(lobby + ".bsp"))
            QSKIP("no Quake 2 test maps beside the project (../shared/testmaps)");
        const auto [bsp, map] = good(which);
        const check::Fidelity f = check::compare(bsp, map, which == 2);
        qInfo().noquote() << f.row(QTest::currentDataTag());
        QVERIFY2(f.problems.isEmpty(), qPrintable(f.problems.join('\n')));
        QCOMPARE(
            (QList<int>{f.brushesBsp, f.brushesMap, f.faces, f.sidesWithFaces, f.facesWithShader,
                        f.bevels, f.detailMap, f.originBrushes, f.portals, f.facesApproximated}),
            figures);
        const check::Map source =
            which ? map : check::readMap(readAll(lobby + ".source.map")).value;
        QVERIFY(check::compareSource(map, source).problems.isEmpty());
        static const QRegularExpression compiled(
            "^entity . differs$|^brush .: contents 0x0, not 0x1$");
        const QStringList raw = which ? QStringList() : check::compare(bsp, source).problems;
        QVERIFY(raw.filter(compiled).size() == raw.size() && raw.size() == (which ? 0 : 3 + 36));
    }

    // Each fault in a good map is seen; the comparison with the source sees those in
    // its brushes' planes and textures.
    void seesFaults_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<bool>("bySource");
        const auto row = [](const char *tag, int which, bool bySource, Fault fault) {
            QTest::newRow(tag) << which << fault << bySource;
        };
        using M = check::Map;
        using F = check::Face;
        row("plane moved", 0, true, [](M &m) {
            std::ranges::for_each(m[0].brushes[0][0].points, [](Vec &p) { p[0] -= 0.02; });
        });
        row("texture axis", 0, true, [](M &m) { m[0].brushes[0][0].vecs[0][1] += 1e-3; });
        row("texture name", 0, true, [](M &m) { m[0].brushes[0][0].shader = "e1u1/c_met7_1"; });
        row("contents", 0, false, [](M &m) { m[0].brushes[0][0].contents = 3; });
        row("flags", 0, false, [](M &m) { m[0].brushes[0][0].flags = 4; });
        row("value", 0, false, [](M &m) { m[0].brushes[0][0].value = 10; });
        row("brush lost", 0, true, [](M &m) { m[0].brushes.erase(m[0].brushes.begin() + 2); });
        row("open brush", 0, true, [](M &m) { m[0].brushes[1].pop_back(); });
        row("standard face in Valve", 0, false, [](M &m) { m[0].brushes[0][0].valve = false; });
        row("no mapversion", 0, false, [](M &m) { m[0].keys.removeLast(); });
        row("no header", 0, false, [](M &m) { m.header.clear(); });
        row("origin brush lost", 1, false, [](M &m) { m[2].brushes.pop_back(); });
        row("origin brush off centre", 1, false, [](M &m) {
            std::ranges::for_each(m[2].brushes[1][0].points, [](Vec &p) { p[0] += 1; });
        });
        row("portal in the world", 1, true,
            [](M &m) { m[0].brushes.push_back(m[1].brushes[0]), m[1].brushes.clear(); });
        row("water made solid", 1, false,
            [](M &m) { std::ranges::for_each(m[0].brushes[2], [](F &x) { x.contents = 1; }); });
        row("door offsets left around its origin", 1, true, [](M &m) {
            std::ranges::for_each(m[2].brushes[0][2].vecs,
                                  [](auto &v) { v[3] += 128 * v[0] + 32 * v[2]; });
        });
        row("standard offset", 2, true, [](M &m) { m[0].brushes[0][0].vecs[1][3] += 1e-3; });
        row("Valve face in standard", 2, false, [](M &m) { m[0].brushes[1][1].valve = true; });
    }
    void seesFaults()
    {
        QFETCH(int, which);
        QFETCH(Fault, fault);
        QFETCH(bool, bySource);
        if (which == 0 && !QFile::exists(lobby + ".bsp"))
            QSKIP("no Quake 2 test maps beside the project (../shared/testmaps)");
        auto [bsp, bad] = good(which);
        const check::Map map = bad;
        fault(bad);
        QVERIFY(!check::compare(bsp, bad, which == 2).problems.isEmpty());
        QCOMPARE(!check::compareSource(bad, map).problems.isEmpty(), bySource);
    }
};

QTEST_GUILESS_MAIN(TestQ2Check)
#include "tst_q2check.moc"
