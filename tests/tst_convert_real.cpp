// bspc.exe on the OpenArena maps that Debian packages: each whole pk3 at once, each
// map rebuilt and compared with its BSP.
#include "convertkit.h"
#include "imagecheck.h"

const QString base = "/usr/share/games/openarena/baseoa/", maps = base + "pak1-maps.pk3",
              community = base + "z_oacmp-volume1-v3.pk3";

class TestConvertReal : public QObject {
    Q_OBJECT

private slots:
    // Each package in one run, each map compared with its BSP: OpenArena's in Valve 220, each
    // face's texel axes judged with the image sizes found in the game folder; the community
    // pack's in the classic form, as it is here for its brushes. Sanitized, only their ends are
    // looked at, and fan.bsp is judged.
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
        const QTemporaryDir whole;
        const QByteArray out = QFile::encodeName(whole.path());
        const Run r =
            convert(QByteArrayList{"-bsp2map", QFile::encodeName(package), "-output", out} + form);
        QVERIFY2(r.exit == 0, r.err);
        QCOMPARE(names(out).size(), count);
        QStringList places;
        for (const QString &name : QDir(base).entryList({"*.pk3"}, QDir::Files, QDir::Name))
            places << base + name;
        const check::Sizes images = check::imageSizes(places << base);
        const bool classic = package == community;
        int judged = 0, exact = 0, assumed = 0;
        for (const QByteArray &map : names(out)) {
            const QByteArray text = readAll(out + '/' + map);
            if (sanitized && map != "fan.map") {
                QVERIFY2(text.startsWith(classic ? "// entity 0\n{\n"
                                                 : "// Game: Quake 3\n// Format: Quake3 "
                                                   "(Valve)\n// entity 0\n{\n") &&
                             text.endsWith("\n}\n"),
                         map);
                continue;
            }
            const auto read = check::readMap(text);
            const check::Fidelity f = check::compare(
                check::readBsp(check::unzip(package, "maps/" + map.chopped(4) + ".bsp")),
                read.value, classic, classic ? nullptr : &images);
            qInfo().noquote() << f.row(map);
            QVERIFY2(read.ok() && f.problems.isEmpty(),
                     qPrintable(map + ": " + f.problems.mid(0, 8).join('\n')));
            judged += f.facesJudged, exact += f.facesExact, assumed += f.facesAssumedSize;
        }
        qInfo("%d faces judged, %d exact, %d of an assumed size", judged, exact, assumed);
        QVERIFY(sanitized || classic || exact > 0);
    }
};

QTEST_GUILESS_MAIN(TestConvertReal)
#include "tst_convert_real.moc"
