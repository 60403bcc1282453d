// bspc.exe on small BSPs built here: the cases that real maps may not hold, the
// command line, and hostile files. The inputs are kept as the fuzzer's seeds.
#include "convertkit.h"

#include <cmath>
#include <functional>
#include <limits>

using check::Vec;
using Floats = std::vector<float>;
using Fault = std::function<void(check::Map &)>;
Q_DECLARE_METATYPE(Fault)

namespace {

const QByteArray world = "{\n\"classname\" \"worldspawn\"\n\"message\" \"sala\"\n}\n";

// A floor with textured faces: what every case starts from.
BspWriter room()
{
    BspWriter w;
    w.entities = world;
    const int floor = w.shader("textures/base/floor");
    w.brush(w.box({-128, -128, -16}, {128, 128, 0}, floor), floor);
    return w;
}

// A curved grid of control points at `at`, row by row, its st shifted by whole repeats.
Floats grid(int width, int height, const Vec &at)
{
    Floats points;
    for (int row = 0; row < height; ++row)
        for (int col = 0; col < width; ++col)
            points.insert(points.end(), {float(at[0] + 16 * col), float(at[1] + 8 * row),
                                         float(at[2] + 4 * std::sin(col + row)), 3 + col / 8.f, row * 0.3f - 2});
    return points;
}

// The room and a door turned about its origin, with a patch: what real maps have most.
BspWriter roomWithDoor()
{
    BspWriter w = room();
    const int wall = w.shader("textures/base/wall");
    w.entities += "{\n\"classname\" \"func_rotating\"\n\"model\" \"*1\"\n\"origin\" \"256 128 32\"\n\"angle\" \"30\"\n}\n";
    w.model();
    w.brush(w.box({-16, -8, -8}, {16, 8, 8}, wall, 30), wall); // stored around its origin
    w.patch(wall, 3, 5, grid(3, 5, {-24, -16, 8}));
    return w;
}

// The face moved by `by` along each axis.
check::Face moved(check::Face f, double by)
{
    for (Vec &p : f.points)
        p = check::add(p, {by, by, by});
    return f;
}

QByteArray withEntities(const QByteArray &entities)
{
    BspWriter w = roomWithDoor();
    w.entities = entities;
    return w.bytes();
}

} // namespace

class TestConvert : public QObject {
    Q_OBJECT

private slots:
    void rebuildsEachCase_data()
    {
        QTest::addColumn<QByteArray>("bsp");
        QTest::addColumn<QByteArrayList>("options");
        QTest::addColumn<int>("brushes");
        QTest::addColumn<int>("patches");
        QTest::addColumn<int>("excused"); // corners no matrix can fit along with the rest
        auto row = [](const char *tag, const BspWriter &w, int brushes, int patches, QByteArrayList options = {},
                      int excused = 0) { QTest::newRow(tag) << w.bytes() << options << brushes << patches << excused; };
        BspWriter w = room();
        const int wall = w.shader("textures/base/wall");
        const BspWriter base = w;

        row("turned origin model with a patch", roomWithDoor(), 2, 1);

        BspWriter::Sides sides = w.box({0, 0, 0}, {32, 32, 32}, wall);
        sides.push_back(sides[0]);
        sides.push_back({w.plane({0, 0, 1}, 32), wall});
        w.brush(sides, wall);
        row("duplicate planes", w, 2, 0);

        for (const char *bevel : {"noshader", "textures/base/wall"}) {
            w = base;
            const int b = w.shader(bevel);
            const double r = std::sqrt(0.5);
            auto through = [&](const Vec &n, const Vec &p, int shader) {
                return std::pair{w.plane(n, check::dot(n, p)), shader};
            };
            // A wedge: the slope, then the axial and edge bevels the compiler adds.
            w.brush({through({0, 0, -1}, {0, 0, 0}, wall), through({0, 0, 1}, {0, 0, 64}, wall),
                     through({0, -1, 0}, {0, 0, 0}, wall), through({-1, 0, 0}, {0, 0, 0}, wall),
                     through({r, r, 0}, {64, 0, 0}, wall), through({1, 0, 0}, {64, 0, 0}, b),
                     through({0, 1, 0}, {0, 64, 0}, b), through({0.5, 0.5, r}, {32, 32, 64}, b),
                     through({0.5, 0.5, -r}, {32, 32, 0}, b)},
                    wall);
            row(bevel == QByteArray("noshader") ? "bevels named noshader" : "bevels with a real shader", w, 2, 0);
        }

        for (const auto &[width, height] : {std::pair{3, 3}, {9, 5}}) {
            w = base;
            w.patch(wall, width, height, grid(width, height, {-64, -32, 16}));
            row(qPrintable(QString("patch %1x%2").arg(width).arg(height)), w, 1, 1);
        }

        w = base;
        w.entities += "{\n\"classname\" \"func_group\"\n\"model\" \"*1\"\n}\n";
        w.model();
        row("model without brushes", w, 1, 0);

        w = base;
        w.entities += "{\n\"classname\" \"target_print\"\n\"message\" \"ol\xe1 \xff\xfe {mundo} // \xc3(\"\n}\n";
        row("value not UTF-8", w, 1, 0);

        w = base;
        const int detail = w.shader("textures/base/trim", 0, 0x08000001);
        w.brush(w.box({-8, -8, 0}, {8, 8, 96}, detail, 45), detail);
        row("detail brush", w, 2, 0);

        w = base;
        w.surface(3, wall, grid(2, 2, {0, 0, 64}), {0, 1, 2, 2, 1, 3}, {0, 0, 1});
        row("triangle soup", w, 1, 0);

        w = base;
        w.version = 47;
        row("version 47", w, 1, 0);
        w.extraLump = true;
        row("version 47 with 18 lumps", w, 1, 0);

        w = base;
        w.brush(w.box({-8, -8, 0}, {8, 8, 96}, wall, 20), wall);
        row("classic", w, 2, 0, {"-format", "classic"});

        // The floor's top drawn again as a 3x3 grid whose first vertex the
        // compiler moved after texturing: the face's matrix must fit every other
        // corner and give up that vertex's two.
        for (const double stray : {0.0, 0.05}) {
            w = base;
            Floats points;
            for (int row = 0; row < 3; ++row)
                for (int col = 0; col < 3; ++col) {
                    const Vec p{-128.0 + 128 * col, -128.0 + 128 * row, 0};
                    points.insert(points.end(),
                                  {float(p[0]), float(p[1]), 0.f,
                                   float(check::dot(p, w.mapping.s) + w.mapping.offset[0] + (row + col == 0 ? stray : 0)),
                                   float(check::dot(p, w.mapping.t) + w.mapping.offset[1])});
                }
            std::vector<int> indexes;
            for (int row = 0; row < 2; ++row)
                for (int col = 0; col < 2; ++col) {
                    const int a = 3 * row + col;
                    // Clockwise seen from above, split along the rising diagonal.
                    indexes.insert(indexes.end(), {a, a + 4, a + 1, a, a + 3, a + 4});
                }
            w.surface(1, 0, points, indexes, {0, 0, 1}); // room()'s floor shader
            row(stray == 0 ? "grid on a face" : "grid with a stray corner", w, 1, 0, {}, stray == 0 ? 0 : 2);
        }
    }

    void rebuildsEachCase()
    {
        QFETCH(QByteArray, bsp);
        QFETCH(QByteArrayList, options);
        QFETCH(int, brushes);
        QFETCH(int, patches);
        QFETCH(int, excused);
        seed(bsp);
        const Folder dir;
        const QByteArray folder = dir.path;
        QVERIFY(writeFile(folder + "/caso.bsp", bsp));
        const check::Fidelity f = convertAndCheck(bsp, folder + "/caso.bsp", folder, "caso.map", options);
        qInfo().noquote() << f.row(QTest::currentDataTag());
        QVERIFY2(f.problems.isEmpty(), qPrintable(f.problems.join('\n')));
        QCOMPARE(names(folder), QByteArrayList({"caso.bsp", "caso.map"})); // no temporary file left
        QCOMPARE(f.brushesBsp, brushes);
        QCOMPARE(f.patchesBsp, patches);
        QCOMPARE(f.faces, f.sidesWithFaces); // no bevel kept, no face lost
        QCOMPARE(f.trianglesOnFaces, f.triangles); // every face's texture was checked
        QCOMPARE(f.cornersExcused, excused);
        QCOMPARE(f.facesUnrepresentable, 0);
    }

    // The checker itself: each fault put into a good .map must be seen.
    void checkerSeesFaults_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::newRow("entity value") << Fault([](check::Map &m) { m[0].keys[1].second = "sal"; });
        QTest::newRow("model key kept") << Fault([](check::Map &m) { m[1].keys.append(qMakePair(QByteArray("model"), QByteArray("*1"))); });
        QTest::newRow("brush lost") << Fault([](check::Map &m) { m[0].brushes.clear(); });
        QTest::newRow("face lost") << Fault([](check::Map &m) { m[0].brushes[0].pop_back(); });
        QTest::newRow("face added") << Fault([](check::Map &m) { m[0].brushes[0].push_back(moved(m[0].brushes[0][0], 64)); });
        QTest::newRow("plane moved") << Fault([](check::Map &m) { m[0].brushes[0][0] = moved(m[0].brushes[0][0], 0.02); });
        QTest::newRow("plane tilted") << Fault([](check::Map &m) { m[0].brushes[0][0].points[0] = moved(m[0].brushes[0][0], 0.01).points[0]; });
        QTest::newRow("origin not applied") << Fault([](check::Map &m) { m[1].brushes[0][0] = moved(m[1].brushes[0][0], -32); });
        QTest::newRow("shader") << Fault([](check::Map &m) { m[0].brushes[0][0].shader = "base/wall"; });
        QTest::newRow("detail flag") << Fault([](check::Map &m) { m[0].brushes[0][0].contents |= 0x08000000; });
        QTest::newRow("classic face") << Fault([](check::Map &m) { m[0].brushes[0][0].brushDef = false; });
        QTest::newRow("texture moved") << Fault([](check::Map &m) { m[1].brushes[0][0].matrix[0][2] += 0.002; });
        // Within the tolerance on one edge of the floor, twice it on the other,
        // and no triangle there to say otherwise.
        QTest::newRow("texture off on one edge") << Fault([](check::Map &m) {
            for (check::Face &face : m[0].brushes[0]) {
                face.matrix[0][0] += 2e-3 / 256;
                face.matrix[0][2] += 2e-3 / 2;
            }
        });
        QTest::newRow("texture scaled") << Fault([](check::Map &m) { m[0].brushes[0][1].matrix[1][0] += 0.001; });
        QTest::newRow("patch lost") << Fault([](check::Map &m) { m[1].patches.clear(); });
        QTest::newRow("patch reversed") << Fault([](check::Map &m) { std::swap(m[1].patches[0].rows[0], m[1].patches[0].rows[2]); });
        QTest::newRow("patch point") << Fault([](check::Map &m) { m[1].patches[0].rows[1][2][2] += 0.001; });
        QTest::newRow("patch st") << Fault([](check::Map &m) { m[1].patches[0].rows[2][4][3] += 0.5; });
    }

    void checkerSeesFaults()
    {
        QFETCH(Fault, fault);
        static const QByteArray bsp = roomWithDoor().bytes();
        static const check::Map good = [] {
            const Folder dir;
            const QByteArray folder = dir.path;
            writeFile(folder + "/a.bsp", bsp);
            convert({"-bsp2map", folder + "/a.bsp", "-output", folder});
            return check::readMap(readAll(folder + "/a.map")).value;
        }();
        const check::Bsp source = check::readBsp(bsp).value;
        QVERIFY2(check::compare(source, good).problems.isEmpty() && good.size() == 2, "no good map to start from");
        check::Map bad = good;
        fault(bad);
        QVERIFY(!check::compare(source, bad).problems.isEmpty());
    }

    void commandLine_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("output"); // "out", "" or a missing folder
        QTest::addColumn<QByteArray>("written"); // empty when it must fail
        QTest::newRow("plain") << QByteArray("arena.bsp") << QByteArray("out") << QByteArray("arena.map");
        QTest::newRow("last extension only") << QByteArray("arena.v2.bsp") << QByteArray("out") << QByteArray("arena.v2.map");
        QTest::newRow("brackets are a name") << QByteArray("arena[1].bsp") << QByteArray("out") << QByteArray("arena[1].map");
        QTest::newRow("upper case") << QByteArray("ARENA.BSP") << QByteArray("out") << QByteArray("ARENA.map");
        QTest::newRow("not UTF-8") << QByteArray("ar\xe9na\xff.bsp") << QByteArray("out") << QByteArray("ar\xe9na\xff.map");
        QTest::newRow("long name") << QByteArray(200, 'a') + ".bsp" << QByteArray("out") << QByteArray(200, 'a') + ".map";
        QTest::newRow("empty output") << QByteArray("arena.bsp") << QByteArray() << QByteArray("arena.map");
        QTest::newRow("missing folder") << QByteArray("arena.bsp") << QByteArray("falta") << QByteArray();
    }

    void commandLine()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, output);
        QFETCH(QByteArray, written);
        const Folder dir;
        const QByteArray root = dir.path, in = root + "/in", out = root + "/out";
        std::filesystem::create_directories(in.toStdString());
        std::filesystem::create_directories(out.toStdString());
        const QByteArray bsp = room().bytes();
        QVERIFY(writeFile(in + '/' + input, bsp));
        QVERIFY(writeFile(in + "/arena1.bsp", bsp)); // what a wildcard would pick
        const Run r = convert({"-bsp2map", in + '/' + input, "-output", output.isEmpty() ? output : root + '/' + output});
        if (written.isEmpty()) {
            QCOMPARE(r.exit, 1);
            QVERIFY2(r.err.contains(root + '/' + output), r.err);
            QVERIFY(!std::filesystem::exists((root + '/' + output).toStdString()));
            QCOMPARE(names(in).size(), 2);
            return;
        }
        QVERIFY2(r.exit == 0, r.err);
        const QByteArray folder = output.isEmpty() ? in : out;
        QCOMPARE(summary(r.out).file, folder + '/' + written);
        QByteArrayList expected{written};
        if (output.isEmpty())
            expected << input << "arena1.bsp";
        std::sort(expected.begin(), expected.end());
        QCOMPARE(names(folder), expected);
        QCOMPARE(names(root), QByteArrayList({"in", "out"}));
        QVERIFY(check::readMap(readAll(folder + '/' + written)).ok());
    }

    void usage_data()
    {
        QTest::addColumn<QByteArrayList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("nothing") << QByteArrayList{} << 2;
        QTest::newRow("no file") << QByteArrayList{"-bsp2map"} << 2;
        QTest::newRow("no output value") << QByteArrayList{"-bsp2map", "a.bsp", "-output"} << 2;
        QTest::newRow("unknown option") << QByteArrayList{"-bsp2map", "a.bsp", "-output", "/tmp", "-q"} << 2;
        QTest::newRow("unknown format") << QByteArrayList{"-bsp2map", "a.bsp", "-output", "/tmp", "-format", "hl"} << 2;
        QTest::newRow("help") << QByteArrayList{"--help"} << 0;
        QTest::newRow("version") << QByteArrayList{"--version"} << 0;
    }

    void usage()
    {
        QFETCH(QByteArrayList, args);
        QFETCH(int, exitCode);
        const Run r = convert(args);
        QCOMPARE(r.exit, exitCode);
        if (QTest::currentDataTag() == QByteArray("version"))
            QVERIFY(!r.out.trimmed().isEmpty());
        else
            QVERIFY2((exitCode ? r.err : r.out).contains("-bsp2map"), r.out + r.err);
    }

    void keepsTheEditedMap()
    {
        const Folder dir;
        const QByteArray folder = dir.path;
        QVERIFY(writeFile(folder + "/a.bsp", room().bytes()));
        QCOMPARE(convert({"-bsp2map", folder + "/a.bsp", "-output", folder}).exit, 0);
        QVERIFY(writeFile(folder + "/a.map", "// editado\n"));
        QCOMPARE(convert({"-bsp2map", folder + "/a.bsp", "-output", folder}).exit, 0);
        QCOMPARE(readAll(folder + "/a.map.bak"), QByteArray("// editado\n"));
        QCOMPARE(check::readMap(readAll(folder + "/a.map")).value.size(), size_t(1));
        QCOMPARE(names(folder), QByteArrayList({"a.bsp", "a.map", "a.map.bak"}));
    }

    void packages_data()
    {
        QTest::addColumn<QByteArray>("inside"); // appended to the pk3's path
        QTest::addColumn<QByteArrayList>("written");
        QTest::newRow("whole") << QByteArray() << QByteArrayList{"a.map", "b.map"};
        QTest::newRow("one map") << QByteArray("/maps/b.bsp") << QByteArrayList{"b.map"};
        QTest::newRow("no such map") << QByteArray("/maps/z.bsp") << QByteArrayList{};
    }

    void packages()
    {
        QFETCH(QByteArray, inside);
        QFETCH(QByteArrayList, written);
        const Folder dir;
        const QByteArray root = dir.path, out = root + "/out";
        std::filesystem::create_directories(out.toStdString());
        const QByteArray bsps[2] = {room().bytes(), roomWithDoor().bytes()};
        QVERIFY(check::writeZip(root + "/pak.pk3", {{"maps/a.bsp", bsps[0]}, {"maps/b.bsp", bsps[1]},
                                                    {"maps/notas.txt", "x"}, {"levelshots/c.bsp", bsps[0]}}));
        const Run r = convert({"-bsp2map", root + "/pak.pk3" + inside, "-output", out});
        QCOMPARE(r.exit, written.isEmpty() ? 1 : 0);
        QCOMPARE(names(out), written);
        for (const QByteArray &map : written) {
            const auto f = check::compare(check::readBsp(bsps[map == "b.map"]).value,
                                          check::readMap(readAll(out + '/' + map)).value);
            QVERIFY2(f.problems.isEmpty() && f.brushesMap == f.brushesBsp, qPrintable(f.problems.join('\n')));
        }
    }

    void hostileFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArrayList>("says");
        const QByteArray base = roomWithDoor().bytes();
        auto with = [](QByteArray b, qint64 at, auto value) {
            std::memcpy(b.data() + at, &value, sizeof value);
            return b;
        };
        auto header = [&](int lump, int field) { return 8 + 8 * lump + 4 * field; };
        auto lump = [&](int lump, int field = 0) { return *reinterpret_cast<const qint32 *>(base.constData() + header(lump, field)); };
        auto in = [&](int l, qint64 at, auto value) { return with(base, lump(l) + at, value); };
        auto row = [](const char *tag, const QByteArray &b, const QByteArrayList &says = {}) {
            QTest::newRow(tag) << b << says;
        };
        const qint64 patch = lump(13, 1) - 104; // the last surface
        const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
        row("lump past the end", with(base, header(13, 0), qint32(base.size() + 8)));
        row("lump longer than the file", with(base, header(10, 1), qint32(0x7fffff00)));
        row("negative offset", with(base, header(2, 0), qint32(-16)));
        row("negative length", with(base, header(9, 1), qint32(-8)));
        row("offset and length overflow", with(with(base, header(10, 0), INT32_MAX), header(10, 1), INT32_MAX));
        row("planes not whole records", with(base, header(2, 1), qint32(lump(2, 1) - 4)));
        row("side plane out of range", in(9, 0, qint32(1 << 20)));
        row("side plane negative", in(9, 0, qint32(-1)));
        row("side shader out of range", in(9, 4, qint32(999)));
        row("brush shader negative", in(8, 8, qint32(-3)));
        row("brush sides past the end", in(8, 4, INT32_MAX));
        row("model brushes past the end", in(7, 36, qint32(1000)));
        row("model surfaces overflow", in(7, 24, INT32_MAX));
        row("surface vertices past the end", in(13, 16, qint32(1 << 30)));
        row("surface indexes past the end", in(13, 24, qint32(1 << 30)));
        row("surface shader out of range", in(13, 0, qint32(77)));
        row("index out of range", in(11, 0, qint32(4096)));
        row("index negative", in(11, 0, qint32(-2)));
        row("patch larger than its vertices", in(13, patch + 96, qint32(40)));
        row("patch size overflows", with(in(13, patch + 96, qint32(0x10000)), lump(13) + patch + 100, qint32(0x10001)));
        row("patch width negative", in(13, patch + 96, qint32(-3)));
        row("plane distance NaN", in(2, 12, nan));
        row("plane normal infinite", in(2, 0, inf));
        row("vertex NaN", in(10, 0, nan));
        row("texture coordinate infinite", in(10, 12, -inf));
        row("entities without NUL", in(0, lump(0, 1) - 1, ' '));
        row("entity not closed", withEntities("{\n\"classname\" \"worldspawn\"\n"));
        row("stray closing brace", withEntities(world + "}\n"));
        row("unclosed quote", withEntities("{\n\"classname\" \"worldspawn }\n"));
        row("empty file", {});
        row("header cut short", base.left(100));
        row("directory", {});
        row("4 GB sparse file", base);
        const QByteArray zeros(4096, '\0');
        row("Quake BSP 29", with(zeros, 0, qint32(29)), {"formato não suportado", "29"});
        row("Half-Life BSP 30", with(zeros, 0, qint32(30)), {"formato não suportado", "30"});
        row("Quake 2 IBSP 38", with("IBSP" + zeros, 4, qint32(38)), {"formato não suportado", "38"});
        row("RBSP", with("RBSP" + zeros, 4, qint32(1)), {"formato não suportado", "RBSP"});
        row("Source VBSP", with("VBSP" + zeros, 4, qint32(20)), {"formato não suportado", "VBSP"});
        row("IBSP 45", with(base, 4, qint32(45)), {"formato não suportado"});
    }

    void hostileFiles()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArrayList, says);
        const QByteArray tag = QTest::currentDataTag();
        const Folder dir;
        const QByteArray root = dir.path, file = root + "/hostil.bsp";
        std::filesystem::create_directories((root + "/out").toStdString());
        if (tag == "directory") {
            std::filesystem::create_directory(file.toStdString());
        } else {
            QVERIFY(writeFile(file, bytes));
            if (tag.startsWith("4 GB"))
                std::filesystem::resize_file(file.toStdString(), 4ull << 30);
            else
                seed(bytes);
        }
        const Run r = convert({"-bsp2map", file, "-output", root + "/out"});
        QCOMPARE(r.exit, 1);
        QVERIFY2(r.peakKb < 512 * 1024, qPrintable(QString("%1 MiB read in").arg(r.peakKb / 1024)));
        QVERIFY2(r.err.contains(file), r.err);
        for (const QByteArray &s : says)
            QVERIFY2(r.err.contains(s), r.err);
        QCOMPARE(names(root + "/out"), QByteArrayList());
    }
};

QTEST_GUILESS_MAIN(TestConvert)
#include "tst_convert.moc"
