// Quake 2 maps through the real bspc.exe: the lobby of the test maps and a map the kit
// compiles with what the lobby lacks, each checked against its BSP in every form; then
// faults put into what came out, which the checker must see.
#include "convertkit.h"

#include <map>

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

struct Converted {
    QByteArray bsp;
    check::Map map;
    Run run;
};

// The lobby, or the kit's map with a door face skewed, which the standard form cannot
// hold, and the lava's top with its axes tilted off its plane, the same texture; each
// converted once in each form.
const Converted &converted(const QByteArray &which, const QByteArray &form)
{
    static std::map<QByteArray, Converted> done;
    static const Folder dir;
    const auto [at, fresh] = done.try_emplace(which + form);
    Converted &c = at->second;
    if (!fresh)
        return c;
    check::Map source = check::readMap(kitText).value;
    source[2].brushes[0][0].vecs[1][2] += 0.1;
    source[0].brushes[3][4].vecs[0][2] += 0.5, source[0].brushes[3][4].vecs[0][3] -= 8;
    c.bsp = which == "kit" ? Q2BspWriter(source).bytes() : readAll(lobby + ".bsp");
    const QByteArray folder = dir.path + '/' + form, file = dir.path + '/' + which + ".bsp";
    std::filesystem::create_directories(folder.toStdString());
    writeFile(file, c.bsp);
    seed(c.bsp);
    c.run = convert(QByteArrayList{"-bsp2map", file, "-output", folder} +
                    (form == "default" ? QByteArrayList() : QByteArrayList{"-format", form}));
    c.map = check::readMap(readAll(folder + '/' + which + ".map")).value;
    return c;
}

const auto skipped = [](const QByteArray &which) {
    return which == "lobby" && !QFile::exists(lobby + ".bsp");
};

class TestQuake2 : public QObject {
    Q_OBJECT

private slots:
    // Every brush comes back, with its planes, textures and axes; brushDef refused.
    void convertsMaps_data()
    {
        QTest::addColumn<QByteArray>("which");
        QTest::addColumn<QByteArray>("form");
        // brushes in the BSP and written, faces, sides with faces, faces with their
        // texinfo, bevels, detail, origin brushes, portals, approximated. Empty: refused.
        QTest::addColumn<QList<int>>("figures");
        const auto row = [](const char *tag, const char *which, const char *form,
                            const QList<int> &figures) {
            QTest::newRow(tag) << QByteArray(which) << QByteArray(form) << figures;
        };
        const QList<int> lobbyFigures{6, 6, 36, 36, 36, 0, 0, 0, 0, 0};
        row("lobby, Valve by default", "lobby", "default", lobbyFigures);
        row("lobby, standard", "lobby", "classic", lobbyFigures);
        row("kit, Valve by default", "kit", "default", {6, 6, 35, 35, 35, 2, 1, 1, 1, 0});
        row("kit, standard", "kit", "classic", {6, 6, 35, 35, 35, 2, 1, 1, 1, 1});
        row("kit, brushDef", "kit", "brushdef", {});
    }
    void convertsMaps()
    {
        QFETCH(QByteArray, which);
        QFETCH(QByteArray, form);
        QFETCH(QList<int>, figures);
        if (skipped(which))
            QSKIP("no Quake 2 test maps beside the project (../shared/testmaps)");
        const Converted &c = converted(which, form);
        QVERIFY2(figures.isEmpty() ? c.run.exit == 1 && c.run.err.contains("brushdef não serve")
                                   : c.run.exit == 0,
                 c.run.err);
        if (figures.isEmpty())
            return;
        const check::Fidelity f = check::compare(check::readBsp(c.bsp), c.map, form == "classic");
        qInfo().noquote() << f.row(QTest::currentDataTag());
        QVERIFY2(f.problems.isEmpty(), qPrintable(f.problems.join('\n')));
        QCOMPARE(
            (QList<int>{f.brushesBsp, f.brushesMap, f.faces, f.sidesWithFaces, f.facesWithShader,
                        f.bevels, f.detailMap, f.originBrushes, f.portals, f.facesApproximated}),
            figures);
        // The summary counts the map's own brushes, and the faces approximated.
        const QStringList line = summary(c.run.out);
        QVERIFY2(line.size() == 5 && line[1].toInt() == f.brushesMap &&
                     line[2].toInt() == f.detailMap && line[4].toInt() == f.entities,
                 c.run.out);
        QCOMPARE(c.run.out.contains(QByteArray::number(f.facesApproximated) +
                                    " faces com o alinhamento de textura aproximado"),
                 f.facesApproximated > 0);
    }

    // Each fault in a converted map is seen.
    void seesFaults_data()
    {
        QTest::addColumn<QByteArray>("which");
        QTest::addColumn<QByteArray>("form");
        QTest::addColumn<Fault>("fault");
        const auto row = [](const char *tag, const char *which, const char *form, Fault fault) {
            QTest::newRow(tag) << QByteArray(which) << QByteArray(form) << fault;
        };
        using M = check::Map;
        using F = check::Face;
        row("plane moved", "lobby", "default", [](M &m) {
            std::ranges::for_each(m[0].brushes[0][0].points, [](Vec &p) { p[0] -= 0.02; });
        });
        row("texture axis", "lobby", "default",
            [](M &m) { m[0].brushes[0][0].vecs[0][1] += 1e-3; });
        row("texture name", "lobby", "default",
            [](M &m) { m[0].brushes[0][0].shader = "e1u1/c_met7_1"; });
        row("flags", "lobby", "default", [](M &m) { m[0].brushes[0][0].flags = 4; });
        row("value", "lobby", "default", [](M &m) { m[0].brushes[0][0].value = 10; });
        row("brush lost", "lobby", "default",
            [](M &m) { m[0].brushes.erase(m[0].brushes.begin() + 2); });
        row("open brush", "lobby", "default", [](M &m) { m[0].brushes[1].pop_back(); });
        row("no mapversion", "lobby", "default", [](M &m) {
            m[0].keys.removeOne({"mapversion", "220"});
        });
        row("no header", "lobby", "default", [](M &m) { m.header.clear(); });
        row("origin brush lost", "kit", "default", [](M &m) { m[2].brushes.pop_back(); });
        row("origin brush off centre", "kit", "default", [](M &m) {
            std::ranges::for_each(m[2].brushes[1][0].points, [](Vec &p) { p[0] += 1; });
        });
        row("portal in the world", "kit", "default",
            [](M &m) { m[0].brushes.push_back(m[1].brushes[0]), m[1].brushes.clear(); });
        row("water made solid", "kit", "default",
            [](M &m) { std::ranges::for_each(m[0].brushes[2], [](F &x) { x.contents = 1; }); });
        row("door offsets left around its origin", "kit", "default", [](M &m) {
            std::ranges::for_each(m[2].brushes[0][2].vecs,
                                  [](auto &v) { v[3] += 128 * v[0] + 32 * v[2]; });
        });
        row("standard offset", "kit", "classic",
            [](M &m) { m[0].brushes[0][0].vecs[1][3] += 1e-3; });
        row("Valve face in standard", "kit", "classic",
            [](M &m) { m[0].brushes[1][1].valve = true; });
    }
    void seesFaults()
    {
        QFETCH(QByteArray, which);
        QFETCH(QByteArray, form);
        QFETCH(Fault, fault);
        if (skipped(which))
            QSKIP("no Quake 2 test maps beside the project (../shared/testmaps)");
        const Converted &c = converted(which, form);
        check::Map bad = c.map;
        fault(bad);
        QVERIFY(!check::compare(check::readBsp(c.bsp), bad, form == "classic").problems.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestQuake2)
#include "tst_quake2.moc"
