// Quake 2 maps through the real bspc.exe: the lobby of the test maps and a map the kit
// compiles with what the lobby lacks, each checked against its BSP in every form.
#include "convertkit.h"

using Faults = QList<std::pair<const char *, std::function<void(check::Map &)>>>;
Q_DECLARE_METATYPE(Faults)

const QByteArray lobby = TESTMAPS "/q2_mp_lobby";

// World: a floor turned and scaled, a detail ramp that needs two bevels, lava with surface
// flags and a value; an area portal; a door turning about its origin brush.
const QByteArray kitText =
    "// Game: Quake 2\n{\n\"classname\" \"worldspawn\"\n" +
    Q2BspWriter::box({-256, -256, -16}, {256, 256, 0}, "e1u1/floor 8 16 30 0.5 2 1 0 0") +
    Q2BspWriter::box({0, -32, 0}, {64, 32, 64}, "e1u1/ramp 0 0 45 1 1 134217729 0 0", 0b010010,
                     "( 64 0 64 ) ( 0 0 0 ) ( 0 64 0 ) e1u1/ramp 0 0 45 1 1 134217729 0 0\n") +
    Q2BspWriter::box({100, -200, 0}, {200, -100, 16}, "e1u1/lava 3 5 0 1 1 8 1 300") +
    "}\n{\n\"classname\" \"func_areaportal\"\n\"style\" \"1\"\n" +
    Q2BspWriter::box({-4, -32, 0}, {4, 32, 64}, "e1u1/trigger 0 0 0 1 1 32768 0 0") +
    "}\n{\n\"classname\" \"func_door_rotating\"\n\"origin\" \"128 0 32\"\n" +
    Q2BspWriter::box({124, -32, 0}, {132, 32, 64}, "e1u1/door 4 -8 90 1 0.25 1 0 7") +
    Q2BspWriter::box({120, -8, 24}, {136, 8, 40}, "e1u1/origin 0 0 0 1 1 16777216 0 0") +
    "}\n{\n\"classname\" \"info_player_start\"\n\"origin\" \"0 0 24\"\n}\n";

class TestQuake2 : public QObject {
    Q_OBJECT

private slots:
    // Every brush comes back, with its planes, textures and axes; brushDef refused. Then
    // faults put into what came out, which the checker must see.
    void convertsMaps_data()
    {
        QTest::addColumn<QByteArray>("which");
        QTest::addColumn<QByteArray>("form");
        // brushes in the BSP and written, faces, sides with faces, bevels, detail, origin
        // brushes, portals, approximated. Empty: refused.
        QTest::addColumn<QList<int>>("figures");
        QTest::addColumn<Faults>("faults");
        const auto row = [](const char *tag, const char *which, const char *form,
                            const QList<int> &figures, const Faults &faults = {}) {
            QTest::newRow(tag) << QByteArray(which) << QByteArray(form) << figures << faults;
        };
        using M = check::Map;
        row("lobby, Valve by default", "lobby", "default", {6, 6, 36, 36, 0, 0, 0, 0, 0});
        row("kit, Valve by default", "kit", "default", {5, 5, 29, 29, 2, 1, 1, 1, 0},
            {{"value", [](M &m) { m[0].brushes[0][0].value = 10; }},
             {"open brush", [](M &m) { m[0].brushes[1].pop_back(); }},
             {"no header", [](M &m) { m.header.clear(); }},
             {"origin brush lost", [](M &m) { m[2].brushes.pop_back(); }}});
        row("kit, standard", "kit", "classic", {5, 5, 29, 29, 2, 1, 1, 1, 1},
            {{"Valve face", [](M &m) { m[0].brushes[1][1].valve = true; }}});
        row("kit, brushDef", "kit", "brushdef", {});
    }
    void convertsMaps()
    {
        QFETCH(QByteArray, which);
        QFETCH(QByteArray, form);
        QFETCH(QList<int>, figures);
        QFETCH(Faults, faults);
        if (which == "lobby" && !QFile::exists(lobby + ".bsp"))
            QSKIP("no Quake 2 test maps beside the project (../shared/testmaps)");
        // The kit's map with a door face skewed, which the standard form cannot hold, and
        // the lava's top with its axes tilted off its plane, the same texture.
        check::Map source = check::readMap(kitText).value;
        source[2].brushes[0][0].vecs[1][2] += 0.1;
        source[0].brushes[2][4].vecs[0][2] += 0.5, source[0].brushes[2][4].vecs[0][3] -= 8;
        const QByteArray bsp =
            which == "kit" ? Q2BspWriter(source).bytes() : readAll(lobby + ".bsp");
        const Folder dir;
        seed(bsp);
        QVERIFY(writeFile(dir.path + "/m.bsp", bsp));
        const Run r =
            convert(QByteArrayList{"-bsp2map", dir.path + "/m.bsp", "-output", dir.path} +
                    (form == "default" ? QByteArrayList() : QByteArrayList{"-format", form}));
        QVERIFY2(figures.isEmpty() ? r.exit == 1 && r.err.contains("brushdef não serve")
                                   : r.exit == 0,
                 r.err);
        if (figures.isEmpty())
            return;
        const check::Bsp read = check::readBsp(bsp);
        const check::Map map = check::readMap(readAll(dir.path + "/m.map")).value;
        const check::Fidelity f = check::compare(read, map, form == "classic");
        QVERIFY2(f.problems.isEmpty(), qPrintable(f.problems.join('\n')));
        QCOMPARE((QList<int>{f.brushesBsp, f.brushesMap, f.faces, f.sidesWithFaces, f.bevels,
                             f.detailMap, f.originBrushes, f.portals, f.facesApproximated}),
                 figures);
        // The summary counts the map's own brushes, and the faces approximated.
        const QStringList line = summary(r.out);
        QVERIFY2(line.size() == 5 && line[1].toInt() == f.brushesMap &&
                     line[2].toInt() == f.detailMap && line[4].toInt() == int(map.size()),
                 r.out);
        QCOMPARE(r.out.contains(QByteArray::number(f.facesApproximated) +
                                " faces com o alinhamento de textura aproximado"),
                 f.facesApproximated > 0);
        for (const auto &[what, fault] : faults) {
            check::Map bad = map;
            fault(bad);
            QVERIFY2(!check::compare(read, bad, form == "classic").problems.isEmpty(), what);
        }
    }
};

QTEST_GUILESS_MAIN(TestQuake2)
#include "tst_quake2.moc"
