// bspc.exe on the OpenArena maps that Debian packages: each map read through
// the pk3, rebuilt, and compared with its BSP; then each whole pk3 at once. The
// community pack ships its maps' editor sources: their detail flags must come
// back. Under the sanitizers every map is converted once and read back, and
// only a small one goes through the slow checker.
#include "convertkit.h"
#include "imagecheck.h"

#include <set>


const QString base = "/usr/share/games/openarena/baseoa/", maps = base + "pak1-maps.pk3",
              community = base + "z_oacmp-volume1-v3.pk3";

// A brush's planes, rounded past the compiler's float rounding, to steps that
// start off the grid a mapper uses: the same key for a brush in its source and
// in the conversion.
using Planes = std::set<std::array<qint64, 4>>;
Planes planesOf(const std::vector<check::Face> &faces)
{
    Planes planes;
    const auto step = [](double v, double size) { return std::llround(v / size + 0.1234); };
    for (const check::Face &face : faces) {
        const check::Bsp::Plane p = check::facePlane(face);
        planes.insert({step(p.normal[0], 1e-3), step(p.normal[1], 1e-3), step(p.normal[2], 1e-3),
                       step(p.dist, 0.5)});
    }
    return planes;
}

class TestConvertReal : public QObject {
    Q_OBJECT

    QTemporaryDir one, whole; // one map per run; the whole package in one run

    // The maps of both packages whose place in their list leaves `slice` over three.
    static void rows(int slice)
    {
        QTest::addColumn<QString>("package");
        QTest::addColumn<QString>("entry");
        int n = 0;
        for (const QString &package : {maps, community}) {
            QVERIFY2(QFile::exists(package),
                     "an OpenArena map package is missing; run scripts/setup.sh");
            for (const QByteArray &entry : check::unzip(package, "").split('\n'))
                if (entry.startsWith("maps/") && entry.endsWith(".bsp") && n++ % 3 == slice &&
                    (!sanitized || entry == "maps/fan.bsp"))
                    QTest::newRow(entry.mid(5)) << package << QString(entry);
        }
    }

    // Converts the row's map and checks it whole: the community pack's in the classic
    // form, as it is here for its brushes, and then each converted world brush found in
    // the map's source by its planes: the detail flag agrees wherever the tree tells it,
    // on opaque brushes.
    void rebuildsEachMap()
    {
        if (!QTest::currentDataTag()) // sanitized, the slices without fan
            QSKIP(
                "only fan.bsp is checked under the sanitizers; the package runs convert the rest");
        QFETCH(QString, package);
        QFETCH(QString, entry);
        const QByteArray name = QFileInfo(entry).completeBaseName().toUtf8(),
                         bsp = QFile::encodeName(package + '/' + entry);
        const auto form =
            package == community ? QByteArrayList{"-format", "classic"} : QByteArrayList{};
        check::Map converted;
        const check::Fidelity f =
            convertAndCheck(check::unzip(package, entry), bsp, QFile::encodeName(one.path()),
                            name + ".map", form, &converted);
        qInfo().noquote() << f.row(name);
        QVERIFY2(f.problems.isEmpty(), qPrintable(f.problems.mid(0, 12).join('\n')));
        if (package != community)
            return;
        const auto source =
            check::readMap(check::unzip(community, "sources/maps/" + name + ".map"));
        QVERIFY2(source.ok(), qPrintable(source.error));
        std::map<Planes, bool> detail; // the mapper's
        for (const check::Entity &e : source.value)
            for (const std::vector<check::Face> &faces : e.brushes)
                detail[planesOf(faces)] = faces[0].contents & 0x08000000;
        const auto &world = converted[0].brushes; // the first in the map's order
        int matched = 0, opaque = 0, agree = 0, structural[2] = {};
        for (size_t b = 0; b < world.size() && b < f.contents.size(); ++b)
            if (const auto it = detail.find(planesOf(world[b])); it != detail.end()) {
                const bool ours = world[b][0].contents & 0x08000000,
                           isOpaque = (f.contents[b] & 1) && !(f.contents[b] & 0x30000000);
                matched += 1, opaque += isOpaque, agree += isOpaque && it->second == ours;
                structural[0] += !it->second, structural[1] += !ours;
            }
        qInfo().noquote() << QString::asprintf(
            "%-10s world brushes matched %4d/%-4d detail agrees on %5.1f%% of %4d opaque; "
            "structural source/converted %4d/%d",
            name.data(), matched, int(world.size()), 100.0 * agree / opaque, opaque, structural[0],
            structural[1]);
        QVERIFY(matched >= 0.95 * double(world.size()) && agree >= 0.98 * opaque);
    }

private slots:
    // Slices, so that no test function nears Qt Test's watchdog on a busy machine.
    void mapsA_data() { rows(0); }
    void mapsA() { rebuildsEachMap(); }
    void mapsB_data() { rows(1); }
    void mapsB() { rebuildsEachMap(); }
    void mapsC_data() { rows(2); }
    void mapsC() { rebuildsEachMap(); }

    // Each package in one run: the community pack's maps as made one at a time above;
    // OpenArena's in Valve 220, each face's texel axes judged with the image sizes found in
    // the game folder. Sanitized, only their ends are looked at: the slow checker reads
    // them unsanitized.
    void convertsWholePackages_data()
    {
        QTest::addColumn<QString>("package");
        QTest::addColumn<QByteArrayList>("form");
        QTest::addColumn<int>("count");
        QTest::newRow("pak1-maps valve") << maps << QByteArrayList{"-format", "valve"} << 50;
        QTest::newRow("community") << community << QByteArrayList{"-format", "classic"} << 13;
    }
    void convertsWholePackages()
    {
        QFETCH(QString, package);
        QFETCH(QByteArrayList, form);
        QFETCH(int, count);
        QVERIFY2(QFile::exists(base + "pak4-textures.pk3"),
                 "no OpenArena textures; run scripts/setup.sh --tests");
        const QByteArray out = QFile::encodeName(whole.path()) + '/' + QTest::currentDataTag();
        std::filesystem::create_directory(out.toStdString());
        const Run r =
            convert(QByteArrayList{"-bsp2map", QFile::encodeName(package), "-output", out} + form);
        QVERIFY2(r.exit == 0, r.err);
        QCOMPARE(names(out).size(), count);
        QStringList places;
        for (const QString &name : QDir(base).entryList({"*.pk3"}, QDir::Files, QDir::Name))
            places << base + name;
        const check::Sizes images = check::imageSizes(places << base);
        int judged = 0, exact = 0, assumed = 0;
        for (const QByteArray &map : names(out)) {
            const QByteArray text = readAll(out + '/' + map);
            if (sanitized || package == community) {
                const QByteArray head =
                    package == community
                        ? "// entity 0\n{\n"
                        : "// Game: Quake 3\n// Format: Quake3 (Valve)\n// entity 0\n{\n";
                QVERIFY2(sanitized ? text.startsWith(head) && text.endsWith("\n}\n")
                                   : text == readAll(QFile::encodeName(one.filePath(map))),
                         map);
                continue;
            }
            const auto read = check::readMap(text);
            const check::Fidelity f = check::compare(
                check::readBsp(check::unzip(package, "maps/" + map.chopped(4) + ".bsp")),
                read.value, false, &images);
            QVERIFY2(read.ok() && f.problems.isEmpty(),
                     qPrintable(map + ": " + f.problems.mid(0, 8).join('\n')));
            judged += f.facesJudged, exact += f.facesExact, assumed += f.facesAssumedSize;
        }
        qInfo("%d faces judged, %d exact, %d of an assumed size", judged, exact, assumed);
        QVERIFY(sanitized || package == community || exact > 0);
    }
};

QTEST_GUILESS_MAIN(TestConvertReal)
#include "tst_convert_real.moc"
