// bspc.exe on the OpenArena maps that Debian packages: each map read through
// the pk3, rebuilt, and compared with its BSP; then the whole pk3 at once. The
// community pack ships its maps' editor sources: their detail flags must come
// back. Under the sanitizers every map is converted and read back, and only a
// few small ones go through the slow checker.
#include "convertkit.h"

#ifdef __SANITIZE_ADDRESS__
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif

namespace {

const QString maps = "/usr/share/games/openarena/baseoa/pak1-maps.pk3",
              community = "/usr/share/games/openarena/baseoa/z_oacmp-volume1-v3.pk3";

// A world brush by its planes, the lowest corner of its solid and its detail flag.
struct Shape {
    std::vector<check::Bsp::Plane> planes;
    check::Vec low;
    bool detail;
    int contents; // the BSP brush's, for a converted one
};

// The world's brushes of a map, or of all its entities.
std::vector<Shape> shapes(const check::Map &map, bool all, const std::vector<int> &contents = {})
{
    std::vector<Shape> out;
    size_t written = 0;
    for (size_t e = 0; e < map.size(); ++e)
        for (const std::vector<check::Face> &faces : map[e].brushes) {
            Shape s{{}, {INFINITY, INFINITY, INFINITY}, bool(faces[0].contents & 0x08000000),
                    written < contents.size() ? contents[written] : 0};
            ++written;
            for (const check::Face &face : faces)
                s.planes.push_back(check::facePlane(face));
            for (const check::Winding &w : check::sideWindings(s.planes))
                for (const check::Vec &p : w)
                    for (size_t k = 0; k < 3; ++k)
                        s.low[k] = std::min(s.low[k], p[k]);
            if (all || e == 0)
                out.push_back(s);
        }
    return out;
}

// The same solid: the same planes, each within the compiler's rounding.
bool same(const Shape &a, const Shape &b)
{
    const auto in = [](const Shape &x, const check::Bsp::Plane &p) {
        return std::any_of(x.planes.begin(), x.planes.end(), [&](const check::Bsp::Plane &q) {
            return length(q.normal - p.normal) < 1e-4 && std::abs(q.dist - p.dist) < 0.05;
        });
    };
    return length(a.low - b.low) < 0.1 &&
           std::all_of(a.planes.begin(), a.planes.end(), [&](auto &p) { return in(b, p); }) &&
           std::all_of(b.planes.begin(), b.planes.end(), [&](auto &p) { return in(a, p); });
}

} // namespace

class TestConvertReal : public QObject {
    Q_OBJECT

    QTemporaryDir one, whole; // one map per run; the whole package in one run

    // The maps of a package whose place in its list leaves `slice` over `slices`.
    static void rows(const QString &package, int slice, int slices = 1)
    {
        QVERIFY2(QFile::exists(package), "an OpenArena map package is missing; run scripts/setup.sh");
        QTest::addColumn<QString>("package");
        QTest::addColumn<QString>("entry");
        int n = 0;
        for (const QByteArray &entry : check::unzip(package, "").split('\n'))
            if (entry.startsWith("maps/") && entry.endsWith(".bsp") && n++ % slices == slice)
                QTest::newRow(entry.mid(5)) << package << QString(entry);
    }

    // Converts the row's map and checks it whole; sanitized, only that it reads back.
    check::Map rebuild(check::Fidelity &f)
    {
        QFETCH(QString, package);
        QFETCH(QString, entry);
        const QByteArray name = QFileInfo(entry).completeBaseName().toUtf8(),
                         folder = QFile::encodeName(one.path()),
                         bsp = QFile::encodeName(package + '/' + entry);
        if (sanitized && name != "fan" && name != "oa_bases3cl") {
            const Run r = convert({"-bsp2map", bsp, "-output", folder});
            const auto map = check::readMap(readAll(folder + '/' + name + ".map"));
            if (r.exit != 0 || !map.ok() || map.value.empty())
                f.problems << QString("exit %1: %2 %3").arg(r.exit).arg(r.err, map.error);
            return map.value;
        }
        f = convertAndCheck(check::unzip(package, entry), bsp, folder, name + ".map");
        qInfo().noquote() << f.row(name);
        if (f.brushesBsp == 0 || f.brushesMap != f.brushesBsp || f.patchesMap != f.patchesBsp)
            f.problems << "brushes or patches lost";
        return check::readMap(readAll(folder + '/' + name + ".map")).value;
    }

    void rebuildsEachMap()
    {
        check::Fidelity f;
        rebuild(f);
        QVERIFY2(f.problems.isEmpty(), qPrintable(QString("%1 problems:\n").arg(f.problems.size()) +
                                                  f.problems.mid(0, 12).join('\n')));
    }

private slots:
    // Slices, so that no test function nears Qt Test's watchdog on a busy machine.
    void mapsA_data() { rows(maps, 0, 3); }
    void mapsA() { rebuildsEachMap(); }
    void mapsB_data() { rows(maps, 1, 3); }
    void mapsB() { rebuildsEachMap(); }
    void mapsC_data() { rows(maps, 2, 3); }
    void mapsC() { rebuildsEachMap(); }

    void convertsTheWholePackage()
    {
        const QByteArray out = QFile::encodeName(whole.path()),
                         each = QFile::encodeName(one.path());
        const Run r = convert({"-bsp2map", QFile::encodeName(maps), "-output", out});
        QVERIFY2(r.exit == 0, r.err);
        QCOMPARE(names(each).size(), 50);
        QCOMPARE(names(out), names(each));
        for (const QByteArray &map : names(each)) // the same maps as one at a time
            QVERIFY2(readAll(out + '/' + map) == readAll(each + '/' + map), map);
    }

    // Each converted world brush found in the map's source by its planes: the
    // detail flag agrees wherever the tree tells it, on opaque brushes.
    void communityMaps_data() { rows(community, 0); }
    void communityMaps()
    {
        QFETCH(QString, entry);
        check::Fidelity f;
        const check::Map converted = rebuild(f);
        // These maps are here for their brushes: a face whose texture fits badly is
        // shown, not failed (one of oacmpdm6's).
        const QStringList textures = f.problems.filter(QRegularExpression("^texture (off|fits)"));
        if (!textures.isEmpty())
            qInfo().noquote() << textures.join('\n');
        QVERIFY2(f.problems.size() == textures.size(), qPrintable(f.problems.mid(0, 12).join('\n')));
        if (sanitized)
            return;
        const QString name = QFileInfo(entry).completeBaseName();
        const auto source = check::readMap(check::unzip(community, "sources/maps/" + name + ".map"));
        QVERIFY2(source.ok(), qPrintable(source.error));
        std::vector<Shape> mapper = shapes(source.value, true),
                           ours = shapes(converted, false, f.contents);
        std::sort(mapper.begin(), mapper.end(), [](auto &a, auto &b) { return a.low[0] < b.low[0]; });
        int matched = 0, opaque = 0, agree = 0, agreeAll = 0, structural[2] = {};
        for (const Shape &s : ours) {
            const auto from = std::lower_bound(mapper.begin(), mapper.end(), s.low[0] - 0.1,
                                               [](auto &m, double x) { return m.low[0] < x; });
            const auto it = std::find_if(from, mapper.end(), [&](const Shape &m) {
                return m.low[0] > s.low[0] + 0.1 || same(m, s);
            });
            if (it == mapper.end() || !same(*it, s))
                continue;
            const bool isOpaque = (s.contents & 1) && !(s.contents & 0x30000000);
            matched += 1, opaque += isOpaque, agreeAll += it->detail == s.detail,
                agree += isOpaque && it->detail == s.detail;
            structural[0] += !it->detail, structural[1] += !s.detail;
        }
        qInfo().noquote() << QString::asprintf(
            "%-10s world brushes matched %4d/%-4d detail agrees on %5.1f%% of %4d opaque, %5.1f%% "
            "of all; structural source/converted %4d/%d",
            qPrintable(name), matched, int(ours.size()), 100.0 * agree / opaque, opaque,
            100.0 * agreeAll / matched, structural[0], structural[1]);
        QVERIFY(matched >= 0.95 * double(ours.size()) && agree >= 0.98 * opaque);
    }
};

QTEST_GUILESS_MAIN(TestConvertReal)
#include "tst_convert_real.moc"
