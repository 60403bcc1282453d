// bspc.exe on the OpenArena maps that Debian packages: each map read through
// the pk3, rebuilt, and compared with its BSP; then the whole pk3 at once.
#include "convertkit.h"

class TestConvertReal : public QObject {
    Q_OBJECT

    const QString package = "/usr/share/games/openarena/baseoa/pak1-maps.pk3";
    QTemporaryDir one, whole; // one map per run; the whole package in one run

private slots:
    void rebuildsEachMap_data()
    {
        QVERIFY2(QFile::exists(package), "openarena-081-maps is missing; run scripts/setup.sh");
        QTest::addColumn<QString>("entry");
        for (const QByteArray &entry : check::unzip(package, "").split('\n'))
            if (entry.startsWith("maps/") && entry.endsWith(".bsp"))
                QTest::newRow(entry.mid(5)) << QString(entry);
    }

    void rebuildsEachMap()
    {
        QFETCH(QString, entry);
        const QByteArray name = QFileInfo(entry).completeBaseName().toUtf8();
        const check::Fidelity f =
            convertAndCheck(check::unzip(package, entry), QFile::encodeName(package + '/' + entry),
                            QFile::encodeName(one.path()), name + ".map");
        qInfo().noquote() << f.row(name);
        QVERIFY2(f.problems.isEmpty(), qPrintable(QString("%1 problems:\n").arg(f.problems.size()) +
                                                  f.problems.mid(0, 12).join('\n')));
        QVERIFY(f.brushesBsp > 0 && f.brushesMap == f.brushesBsp && f.patchesMap == f.patchesBsp);
    }

    void convertsTheWholePackage()
    {
        const QByteArray out = QFile::encodeName(whole.path()),
                         each = QFile::encodeName(one.path());
        const Run r = convert({"-bsp2map", QFile::encodeName(package), "-output", out});
        QVERIFY2(r.exit == 0, r.err);
        QCOMPARE(names(each).size(), 50);
        QCOMPARE(names(out), names(each));
        for (const QByteArray &map : names(each)) // the same maps as one at a time
            QVERIFY2(readAll(out + '/' + map) == readAll(each + '/' + map), map);
    }
};

QTEST_GUILESS_MAIN(TestConvertReal)
#include "tst_convert_real.moc"
