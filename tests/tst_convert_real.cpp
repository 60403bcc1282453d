// bspc.exe on the OpenArena maps that Debian packages: each whole pk3 at once, each
// map rebuilt and compared with its BSP. The community pack ships its maps' editor
// sources: their detail flags must come back.
#include "convertkit.h"
#include "imagecheck.h"

#include <set>

const QString base = "/usr/share/games/openarena/baseoa/", maps = base + "pak1-maps.pk3",
              community = base + "z_oacmp-volume1-v3.pk3";

// A brush's planes, rounded past the compiler's float rounding, to steps that start off
// the grid a mapper uses: the same key for a brush in its source and in the conversion.
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

// Whether each opaque world brush, where the tree tells its detail flag, is found in the
// map's source by its planes with the mapper's flag.
bool detailAgrees(const QByteArray &name, const check::Map &converted, const check::Fidelity &f)
{
    std::map<Planes, bool> detail; // the mapper's
    for (const check::Entity &e :
         check::readMap(check::unzip(community, "sources/maps/" + name + ".map")).value)
        for (const std::vector<check::Face> &faces : e.brushes)
            detail[planesOf(faces)] = faces[0].contents & 0x08000000;
    const auto &world = converted[0].brushes; // the first in the map's order
    int opaque = 0, agree = 0;
    for (size_t b = 0; b < world.size(); ++b)
        if ((f.contents[b] & 1) && !(f.contents[b] & 0x30000000)) {
            const auto it = detail.find(planesOf(world[b]));
            opaque += 1;
            agree += it != detail.end() && it->second == bool(world[b][0].contents & 0x08000000);
        }
    return agree >= 0.98 * opaque;
}

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
        for (const QByteArray &map : names(out)) {
            const QByteArray text = readAll(out + '/' + map);
            QVERIFY2(text.endsWith("\n}\n"), map);
            if (sanitized && map != "fan.map")
                continue;
            const auto read = check::readMap(text);
            const check::Fidelity f = check::compare(
                check::readBsp(check::unzip(package, "maps/" + map.chopped(4) + ".bsp")),
                read.value, classic, classic ? nullptr : &images);
            QVERIFY2(read.ok() && f.problems.isEmpty(),
                     qPrintable(map + ": " + f.problems.mid(0, 8).join('\n')));
            QVERIFY2(!classic || detailAgrees(map.chopped(4), read.value, f), map);
        }
    }
};

QTEST_GUILESS_MAIN(TestConvertReal)
#include "tst_convert_real.moc"
