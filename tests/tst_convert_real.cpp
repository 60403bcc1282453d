// bspc.exe on the OpenArena maps that Debian packages: each map read through
// the pk3, rebuilt, and compared with its BSP; then the whole pk3 at once.
#include "convertkit.h"

namespace {
const QString package = "/usr/share/games/openarena/baseoa/pak1-maps.pk3";
}

class TestConvertReal : public QObject {
    Q_OBJECT

    QTemporaryDir one, whole; // one map per run; the whole package in one run

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(package), "openarena-081-maps is missing; run scripts/setup.sh");
        qInfo().noquote() << check::Fidelity::header();
    }

    void rebuildsEachMap_data()
    {
        QTest::addColumn<QString>("entry");
        for (const QString &entry : check::zipEntries(package))
            if (entry.startsWith("maps/") && entry.endsWith(".bsp"))
                QTest::newRow(qPrintable(entry.mid(5))) << entry;
    }

    void rebuildsEachMap()
    {
        QFETCH(QString, entry);
        const QByteArray bsp = check::zipEntry(package, entry), name = QFileInfo(entry).completeBaseName().toUtf8();
        const check::Fidelity f = convertAndCheck(bsp, QFile::encodeName(package + '/' + entry),
                                                  QFile::encodeName(one.path()), name + ".map");
        qInfo().noquote() << f.row(name);
        QVERIFY2(f.problems.isEmpty(),
                 qPrintable(QString("%1 problems:\n").arg(f.problemCount) + f.problems.join('\n')));
        QCOMPARE(f.brushesMap, f.brushesBsp);
        QCOMPARE(f.patchesMap, f.patchesBsp);
        QVERIFY(f.brushesBsp > 0);
    }

    void convertsTheWholePackage()
    {
        const QByteArray out = QFile::encodeName(whole.path());
        const Run r = convert({"-bsp2map", QFile::encodeName(package), "-output", out});
        QVERIFY2(r.exit == 0, r.err);
        const QByteArrayList maps = names(QFile::encodeName(one.path()));
        QCOMPARE(maps.size(), 50);
        QCOMPARE(names(out), maps);
        for (const QByteArray &map : maps) // the same maps as one at a time
            QVERIFY2(readAll(out + '/' + map) == readAll(QFile::encodeName(one.path()) + '/' + map), map);
    }
};

QTEST_GUILESS_MAIN(TestConvertReal)
#include "tst_convert_real.moc"
