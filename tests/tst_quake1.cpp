// Quake and Half-Life maps through the real bspc.exe: the lobby of the test maps and maps
// the kit compiles, each judged against its tree and faces and against its editor source,
// and faults put into a kit's source, which the checker must see.
#include "convertkit.h"

using check::Vec;
using Faults = QList<std::pair<const char *, std::function<void(check::Map &)>>>;
Q_DECLARE_METATYPE(Faults)

namespace {

QByteArray box(const Vec &lo, const Vec &hi, const QByteArray &texture, int without = 0,
               const QByteArray &extra = "")
{
    return Q2BspWriter::box(lo, hi, texture + " 8 -4 30 0.5 2", without, extra);
}

// A room 256 square and 128 high inside walls 16 thick, the ceiling given.
QByteArray room(const QByteArray &ceiling = box({-144, -144, 128}, {144, 144, 144}, "ceil"))
{
    return "{\n\"classname\" \"worldspawn\"\n\"wad\" \"gfx/base.wad\"\n" +
           box({-144, -144, -16}, {144, 144, 0}, "floor") +
           box({-144, -144, 0}, {-128, 144, 128}, "wall") +
           box({128, -144, 0}, {144, 144, 128}, "wall") +
           box({-128, -144, 0}, {128, -128, 128}, "wall") +
           box({-128, 128, 0}, {128, 144, 128}, "wall") + ceiling;
}

// Water, lava, and a sky above with a sloped side.
const QByteArray liquids =
    room(box({-128, -128, 96}, {128, 128, 144}, "sky1", 32,
             "( 128 0 120 ) ( 0 64 112 ) ( 0 0 112 ) sky1 8 -4 30 0.5 2\n")) +
    box({-128, -128, 0}, {0, 0, 32}, "*water1") + box({64, 64, 0}, {128, 128, 8}, "*lava1") + "}\n";
const QByteArray door = room() + box({-128, -128, 0}, {0, 0, 32}, "*water1") +
                        "}\n{\n\"classname\" \"func_door_rotating\"\n\"origin\" \"64 0 32\"\n" +
                        box({60, -32, 0}, {68, 32, 64}, "DOOR1") +
                        box({56, -8, 24}, {72, 8, 40}, "ORIGIN") + "}\n";

} // namespace

class TestQuake1 : public QObject {
    Q_OBJECT

private slots:
    // The tree's solid, every face with its texture and axes, and the source's brushes kept.
    void convertsMaps_data()
    {
        QTest::addColumn<QByteArray>("source"); // a kit's map, or a test map's file name
        QTest::addColumn<QByteArray>("kind");
        QTest::addColumn<QByteArray>("form");
        QTest::addColumn<Faults>("faults"); // put into a kit's source, seen against its BSP
        const auto row = [](const char *tag, const QByteArray &source, const char *kind,
                            const char *form = "valve", Faults faults = {}) {
            QTest::newRow(tag) << source << QByteArray(kind) << QByteArray(form) << faults;
        };
        using M = check::Map;
        row("lobby", "q1_mp_lobby.bsp", "29");
        row("lobby, BSP2", "bsp2_mp_lobby.bsp", "BSP2");
        row("lobby, standard", "q1_mp_lobby.bsp", "29", "classic");
        row("water, lava and a sloped sky", liquids, "29");
        row("Half-Life door about its origin", door, "30", "valve",
            {{"water made solid",
              [](M &m) {
                  std::ranges::for_each(m[0].brushes[6], [](auto &x) { x.shader = "w"; });
              }},
             {"door in the world",
              [](M &m) {
                  m[0].brushes.push_back(m[1].brushes[0]);
                  m[1].brushes.erase(m[1].brushes.begin());
              }},
             {"wad changed", [](M &m) { m[0].keys[1].second += ' '; }}});
        row("BSP2", liquids, "BSP2");
        row("2PSB", liquids, "2PSB");
        row("Half-Life, planes before entities", door, "30 swapped");
        row("standard form", liquids, "29", "classic");
        row("brushDef refused", liquids, "29", "brushdef");
    }
    void convertsMaps()
    {
        QFETCH(QByteArray, source);
        QFETCH(QByteArray, kind);
        QFETCH(QByteArray, form);
        QFETCH(Faults, faults);
        const bool real = source.endsWith(".bsp");
        if (real && !QFile::exists(TESTMAPS "/" + source))
            QSKIP("no Quake test maps beside the project (../shared/testmaps)");
        const check::Map editor =
            check::readMap(real ? readAll(TESTMAPS "/q1_mp_lobby.source.map") : source).value;
        const QByteArray bsp =
            real ? readAll(TESTMAPS "/" + source) : Q1BspWriter(editor, kind).bytes();
        const check::Q1Bsp tree = check::readQ1(bsp);
        for (const auto &[what, fault] : faults) {
            check::Map bad = editor; // the kit and the checker agree on it unchanged
            QVERIFY(check::compareQ1(tree, bad).problems.isEmpty());
            fault(bad);
            QVERIFY2(!check::compareQ1(tree, bad).problems.isEmpty(), what);
        }
        const Folder dir;
        seed(bsp);
        QVERIFY(writeFile(dir.path + "/m.bsp", bsp));
        const Run r =
            convert({"-format", form, "-bsp2map", dir.path + "/m.bsp", "-output", dir.path});
        const QByteArray text = readAll(dir.path + "/m.map");
        if (form == "brushdef") {
            QVERIFY2(r.exit == 1 && text.isEmpty(), r.err);
            return;
        }
        QVERIFY2(r.exit == 0, r.err);
        const check::Map map = check::readMap(text).value;
        const bool valve = form == "valve";
        const QByteArray game = tree.halfLife ? "Half-Life" : "Quake";
        QVERIFY(!valve || (text.startsWith("// Game: " + game + "\n// Format: Valve\n") &&
                           map[0].keys.contains({"mapversion", "220"})));
        for (const QByteArray &line : text.split('\n'))
            QVERIFY2(!line.startsWith("( ") || line.split(' ').size() == (valve ? 31 : 21), line);
        const check::Q1Fidelity f = check::compareQ1(tree, map);
        const auto [inSource, kept] = check::coversQ1(map, editor);
        QVERIFY2(f.problems.isEmpty() && f.samples > 1000 && f.faces > 5,
                 qPrintable(f.problems.join('\n')));
        QVERIFY(inSource > 1000 && kept == inSource);
        QCOMPARE(f.brushes, check::compareQ1(tree, editor).brushes); // origin brushes aside
    }
};

QTEST_GUILESS_MAIN(TestQuake1)
#include "tst_quake1.moc"
