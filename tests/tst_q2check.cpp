// The checker on Quake 2: a real BSP against the editor source it was compiled
// from, a small one built by the kit against the map it was built from, and each
// fault put into a good map seen.
#include "bspwriter.h"

#include <QtTest>

#include <functional>

using check::Vec;
using Fault = std::function<void(check::Map &)>;
Q_DECLARE_METATYPE(Fault)

const QString lobby = TESTMAPS "/q2_mp_lobby";

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A box's faces in the standard form but those in the mask `without`, clockwise seen
// from outside, each followed by `tail`; then `extra`.
QByteArray box(const Vec &lo, const Vec &hi, const QByteArray &tail, int without = 0,
               const QByteArray &extra = "")
{
    QByteArray text = "{\n";
    for (size_t a = 0, k = 0; a < 3; ++a)
        for (const bool up : {true, false}) {
            Vec p[3] = {lo, lo, lo};
            p[1][a] = p[0][a] = p[2][a] = up ? hi[a] : lo[a];
            p[up ? 0 : 2][(a + 1) % 3] += 1, p[up ? 2 : 0][(a + 2) % 3] += 1;
            for (const Vec &x : p)
                text += (without >> k & 1)
                            ? ""
                            : QString::asprintf("( %g %g %g ) ", x[0], x[1], x[2]).toLatin1();
            text += (without >> k++ & 1) ? "" : tail + '\n';
        }
    return text + extra + "}\n";
}

// World: a floor turned and scaled, a detail ramp that needs two bevels, water and lava
// with surface flags and values; an area portal; a door turning about its origin brush.
const QByteArray kitText =
    "// Game: Quake 2\n{\n\"classname\" \"worldspawn\"\n" +
    box({-256, -256, -16}, {256, 256, 0}, "e1u1/floor 8 16 30 0.5 2 1 0 0") +
    box({0, -32, 0}, {64, 32, 64}, "e1u1/ramp 0 0 45 1 1 134217729 0 0", 0b010010,
        "( 64 0 64 ) ( 0 0 0 ) ( 0 64 0 ) e1u1/ramp 0 0 45 1 1 134217729 0 0\n") +
    box({-200, -200, 0}, {-100, -100, 32}, "e1u1/water4 0 0 0 1 1 32 24 0") +
    box({100, -200, 0}, {200, -100, 16}, "e1u1/lava 3 5 0 1 1 8 1 300") +
    "}\n{\n\"classname\" \"func_areaportal\"\n\"style\" \"1\"\n" +
    box({-4, -32, 0}, {4, 32, 64}, "e1u1/trigger 0 0 0 1 1 32768 0 0") +
    "}\n{\n\"classname\" \"func_door_rotating\"\n\"origin\" \"128 0 32\"\n" +
    box({124, -32, 0}, {132, 32, 64}, "e1u1/door 4 -8 90 1 0.25 1 0 7") +
    box({120, -8, 24}, {136, 8, 40}, "e1u1/origin 0 0 0 1 1 16777216 0 0") +
    "}\n{\n\"classname\" \"info_player_start\"\n\"origin\" \"0 0 24\"\n}\n";

// The kit's map as the standard form writes it, and as the Valve form does, where one
// door face also has a skewed texture that the standard form cannot hold.
check::Map kitMap(bool valve)
{
    check::Map map = check::readMap(kitText).value;
    if (valve) {
        map.header = {"// Game: Quake 2", "// Format: Quake2 (Valve)"};
        for (auto &e : map)
            for (auto &faces : e.brushes)
                for (check::Face &x : faces)
                    x.valve = true;
        map[2].brushes[0][0].vecs[1][2] += 0.1;
    }
    return map;
}

// The lava's top in the BSP has its axes tilted off its plane, the same texture on it.
QByteArray kitBsp(int *bevels = nullptr)
{
    check::Map map = kitMap(true);
    map[0].brushes[3][4].vecs[0][2] += 0.5, map[0].brushes[3][4].vecs[0][3] -= 8;
    const Q2BspWriter w(map);
    if (bevels)
        *bevels = w.bevels;
    return w.bytes();
}

// The lobby's source as the compiler changed it: entity keys in the reverse order,
// brushes without contents made solid.
check::Map lobbyCompiled()
{
    check::Map map = check::readMap(readAll(lobby + ".source.map")).value;
    for (check::Entity &e : map) {
        std::reverse(e.keys.begin(), e.keys.end());
        for (auto &faces : e.brushes)
            for (check::Face &x : faces)
                x.contents = x.contents ? x.contents : 1;
    }
    return map;
}

class TestQ2Check : public QObject {
    Q_OBJECT

private slots:
    // Texture axes in texels, from Valve faces and from the standard form's axial planes.
    void readsFaces_data()
    {
        QTest::addColumn<QByteArray>("face");
        QTest::addColumn<QList<double>>("vecs"); // empty: it must not read
        const auto row = [](const char *tag, const QByteArray &face, QList<double> vecs) {
            QTest::newRow(tag) << face << vecs;
        };
        row("valve", "( 0 0 0 ) ( 0 1 0 ) ( 1 0 0 ) a [ 1 0 0 8 ] [ 0 -1 0 4 ] 30 2 0.5 1 2 3",
            {0.5, 0, 0, 8, 0, -2, 0, 4});
        row("valve short", "( 0 0 0 ) ( 0 1 0 ) ( 1 0 0 ) a [ 1 0 0 8 ] [ 0 -1 0 4 ] 30 2 0.5 1 2",
            {});
        row("floor", "( 0 0 0 ) ( 0 1 0 ) ( 1 0 0 ) a 0 0 0 1 1 1 2 3", {1, 0, 0, 0, 0, -1, 0, 0});
        row("floor turned", "( 0 0 0 ) ( 0 1 0 ) ( 1 0 0 ) a 8 -4 90 2 0.5 1 2 3",
            {0, 0.5, 0, 8, 2, 0, 0, -4});
        row("wall +x", "( 64 1 0 ) ( 64 0 0 ) ( 64 0 1 ) a 0 0 0 1 1 1 2 3",
            {0, 1, 0, 0, 0, 0, -1, 0});
        row("wall -y turned", "( 1 0 0 ) ( 0 0 0 ) ( 0 0 1 ) a 0 0 30 1 1 1 2 3",
            {std::sqrt(0.75), 0, 0.5, 0, 0.5, 0, -std::sqrt(0.75), 0});
        row("diagonal, no scale", "( -1 1 0 ) ( 0 0 0 ) ( 0 0 1 ) a 0 0 0 0 0 1 2 3",
            {0, 1, 0, 0, 0, 0, -1, 0});
    }
    void readsFaces()
    {
        QFETCH(QByteArray, face);
        QFETCH(QList<double>, vecs);
        const auto map = check::readMap("{\n\"classname\" \"worldspawn\"\n{\n" + face + "\n}\n}\n");
        QCOMPARE(map.ok(), !vecs.empty());
        if (vecs.empty())
            return;
        const check::Face &x = map.value[0].brushes[0][0];
        for (size_t k = 0; k < 8; ++k)
            QVERIFY2(std::abs(x.vecs[k / 4][k % 4] - vecs[qsizetype(k)]) < 1e-12,
                     qPrintable(QString::number(k)));
        QVERIFY(x.contents == 1 && x.flags == 2 && x.value == 3 && x.valve == face.contains('['));
    }

    // The compiler's own changes aside, the source matches the BSP in every brush, plane,
    // texture and flag.
    void lobbyAgainstItsSource()
    {
        if (!QFile::exists(lobby + ".bsp"))
            QSKIP("no Quake 2 test maps beside the project (../shared/testmaps)");
        const check::Bsp bsp = check::readBsp(readAll(lobby + ".bsp"));
        const auto source = check::readMap(readAll(lobby + ".source.map"));
        QVERIFY2(source.ok(), qPrintable(source.error));
        QVERIFY(bsp.quake2() && bsp.modelBrushes.size() == 1 && bsp.modelBrushes[0].size() == 6);
        const check::Fidelity raw = check::compare(bsp, source.value);
        static const QRegularExpression expected(
            "^(entity \\d differs|brush \\d: contents 0x0, not 0x1)$");
        QCOMPARE(raw.problems.filter(expected).size(), 3 + 36);
        QCOMPARE(raw.problems.size(), 3 + 36);
        const check::Fidelity f = check::compare(bsp, lobbyCompiled());
        qInfo().noquote() << f.row("q2_mp_lobby");
        QVERIFY2(f.problems.isEmpty(), qPrintable(f.problems.join('\n')));
        QCOMPARE((std::array{f.brushesBsp, f.brushesMap, f.faces, f.sidesWithFaces,
                             f.facesWithShader, f.bevels}),
                 (std::array{6, 6, 36, 36, 36, 0}));
        QVERIFY(check::compareSource(lobbyCompiled(), source.value).problems.isEmpty());
    }

    // Built from a map, read back: the same map in either form.
    void kitAgainstItsMap_data()
    {
        QTest::addColumn<bool>("valve");
        QTest::newRow("Valve") << true;
        QTest::newRow("classic") << false;
    }
    void kitAgainstItsMap()
    {
        QFETCH(bool, valve);
        int bevels = 0;
        const check::Bsp bsp = check::readBsp(kitBsp(&bevels));
        QVERIFY(bsp.quake2() && bsp.modelBrushes.size() == 2 && bevels == 2);
        check::Map map = kitMap(valve);
        map[0].keys.prepend({"mapversion", "220"});
        const check::Fidelity f = check::compare(bsp, valve ? map : kitMap(false), !valve);
        qInfo().noquote() << f.row(QTest::currentDataTag());
        QVERIFY2(f.problems.isEmpty(), qPrintable(f.problems.join('\n')));
        QCOMPARE((std::array{f.brushesBsp, f.brushesMap, f.detailMap, f.faces, f.facesWithShader,
                             f.bevels, f.originBrushes, f.portals, f.facesApproximated}),
                 (std::array{6, 6, 1, 35, 35, 2, 1, 1, valve ? 0 : 1}));
    }

    // Each fault in a good map is seen; the comparison with the source sees those of
    // its brushes' planes and textures.
    void seesFaults_data()
    {
        QTest::addColumn<int>("good"); // the lobby, the kit in the Valve form, in the standard form
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<bool>("bySource");
        const auto row = [](const char *tag, int good, Fault fault, bool bySource) {
            QTest::newRow(tag) << good << fault << bySource;
        };
        using M = check::Map;
        row(
            "plane moved", 0,
            [](M &m) {
                for (Vec &p : m[0].brushes[0][0].points)
                    p[0] -= 0.02;
            },
            true);
        row(
            "texture axis", 0, [](M &m) { m[0].brushes[0][0].vecs[0][1] += 1e-3; }, true);
        row(
            "texture name", 0, [](M &m) { m[0].brushes[0][0].shader = "e1u1/c_met7_1"; }, true);
        row(
            "contents", 0, [](M &m) { m[0].brushes[0][0].contents = 3; }, false);
        row(
            "flags", 0, [](M &m) { m[0].brushes[0][0].flags = 4; }, false);
        row(
            "value", 0, [](M &m) { m[0].brushes[0][0].value = 10; }, false);
        row(
            "brush lost", 0, [](M &m) { m[0].brushes.erase(m[0].brushes.begin() + 2); }, true);
        row(
            "open brush", 0, [](M &m) { m[0].brushes[1].pop_back(); }, true);
        row(
            "standard face in Valve", 0, [](M &m) { m[0].brushes[0][0].valve = false; }, false);
        row(
            "no mapversion", 0, [](M &m) { m[0].keys.removeLast(); }, false);
        row(
            "no header", 0, [](M &m) { m.header.clear(); }, false);
        row(
            "origin brush lost", 1, [](M &m) { m[2].brushes.pop_back(); }, false);
        row(
            "origin brush off centre", 1,
            [](M &m) {
                for (check::Face &x : m[2].brushes[1])
                    x.points[0][0] += 1, x.points[1][0] += 1, x.points[2][0] += 1;
            },
            false);
        row(
            "portal in the world", 1,
            [](M &m) { m[0].brushes.push_back(m[1].brushes[0]), m[1].brushes.clear(); }, true);
        row(
            "water made solid", 1,
            [](M &m) {
                for (check::Face &x : m[0].brushes[2])
                    x.contents = 1;
            },
            false);
        row(
            "door offsets left around its origin", 1,
            [](M &m) {
                for (auto &v : m[2].brushes[0][2].vecs)
                    v[3] += 128 * v[0] + 32 * v[2];
            },
            true);
        row(
            "skew lost", 1, [](M &m) { m[2].brushes[0][0].vecs[1][2] -= 0.1; }, true);
        row(
            "standard offset", 2, [](M &m) { m[0].brushes[0][0].vecs[1][3] += 1e-3; }, true);
        row(
            "Valve face in standard", 2, [](M &m) { m[0].brushes[1][1].valve = true; }, false);
    }
    void seesFaults()
    {
        QFETCH(int, good);
        QFETCH(Fault, fault);
        QFETCH(bool, bySource);
        if (good == 0 && !QFile::exists(lobby + ".bsp"))
            QSKIP("no Quake 2 test maps beside the project (../shared/testmaps)");
        check::Map map = good == 0 ? lobbyCompiled() : kitMap(good == 1);
        if (good == 1)
            map[0].keys.prepend({"mapversion", "220"});
        const check::Bsp bsp = check::readBsp(good ? kitBsp() : readAll(lobby + ".bsp"));
        QVERIFY(check::compare(bsp, map, good == 2).problems.isEmpty());
        QVERIFY(check::compareSource(map, map).problems.isEmpty());
        check::Map bad = map;
        fault(bad);
        QVERIFY(!check::compare(bsp, bad, good == 2).problems.isEmpty());
        QCOMPARE(!check::compareSource(bad, map).problems.isEmpty(), bySource);
    }
};

QTEST_GUILESS_MAIN(TestQ2Check)
#include "tst_q2check.moc"
