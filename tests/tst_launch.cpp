// The conversion launch against a stub bspc.exe that records its start.
#include "launch.h"
#include "stubtool.h"
#include "ui_runtime.h"

#include <QtTest>

#include <csignal>
#include <unistd.h>

class TestLaunch : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        // Each test runs from a scratch working directory.
        QVERIFY(workDir.isValid());
        QVERIFY(QDir::setCurrent(workDir.path()));
    }

    void argumentsReachTheTool_data()
    {
        QTest::addColumn<QString>("bsp");
        QTest::addColumn<QString>("map");
        QTest::newRow("ordinary") << "/maps/arena.bsp"
                                  << "/out";
        QTest::newRow("both empty") << ""
                                    << "";
        QTest::newRow("double quotes") << "/m/a\" -output \"/etc"
                                       << "\"/o\"";
        QTest::newRow("spaces") << "/my maps/big arena.bsp"
                                << "/out dir/ ";
        QTest::newRow("leading dash") << "-help"
                                      << "--output=/x";
        QTest::newRow("non-ascii") << "/mapas/ação.bsp"
                                   << "/saída/ção";
        QTest::newRow("newline") << "/a\nb.bsp"
                                 << "/o\n";
        QTest::newRow("shell characters") << "$(touch pwned);`id`|x&y"
                                          << "'; rm -rf ~ #";
    }

    void argumentsReachTheTool()
    {
        QFETCH(QString, bsp);
        QFETCH(QString, map);
        StubFolder stub;
        QCOMPARE(launch::startConversion(stub.folder(), bsp, map), QString());
        QVERIFY(stub.waitForRecords(1));
        const StubRecord r = stub.records().first();
        QCOMPARE(r.exe, stub.toolBytes());
        const QList<QByteArray> expected{stub.toolBytes(), "-bsp2map", ui::encodeName(bsp),
                                         "-output", ui::encodeName(map)};
        QCOMPARE(r.argv, expected);
        QCOMPARE(r.cwd, ui::encodeName(workDir.path()));
        QVERIFY(!QFile::exists(workDir.filePath("pwned")));
    }

    void programFolderIsJoinedOnce_data()
    {
        QTest::addColumn<QByteArray>("subfolder");
        QTest::addColumn<bool>("trailingSeparator");
        QTest::newRow("plain") << QByteArray("tools") << false;
        QTest::newRow("trailing separator") << QByteArray("tools") << true;
        QTest::newRow("spaces") << QByteArray("Program Files (x86)") << false;
        QTest::newRow("quotes and accents") << QByteArray("o \"nosso\" programa ção") << false;
        QTest::newRow("latin-1 bytes") << QByteArray("ferramenta\xe7\xe3o") << false;
    }

    void programFolderIsJoinedOnce()
    {
        QFETCH(QByteArray, subfolder);
        QFETCH(bool, trailingSeparator);
        StubFolder stub(subfolder);
        const QString folder = stub.folder() + (trailingSeparator ? "/" : "");
        QCOMPARE(launch::toolPath(folder), ui::decodeName(stub.toolBytes()));
        QCOMPARE(launch::startConversion(folder, "a.bsp", "out"), QString());
        QVERIFY(stub.waitForRecords(1));
        QCOMPARE(stub.records().first().exe, stub.toolBytes());
        QCOMPARE(stub.records().first().argv.first(), stub.toolBytes());
    }

    void everyPressStartsOneProcessAndLeavesNoZombie()
    {
        StubFolder stub;
        for (int i = 0; i < 2; ++i)
            QCOMPARE(launch::startConversion(stub.folder(), "a.bsp", "out"), QString());
        QVERIFY(stub.waitForRecords(2));
        const QList<StubRecord> records = stub.records();
        QCOMPARE(records.size(), 2);
        QVERIFY(records[0].pid != records[1].pid);
        for (const StubRecord &r : records) {
            // Once reaped, the pid is gone; a zombie would stay in /proc.
            const QString proc = QStringLiteral("/proc/%1").arg(r.pid);
            QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(proc), 10000);
        }
    }

    void aFailedStartIsDescribed_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<bool>("executable");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << false << false << "arquivo não encontrado";
        QTest::newRow("not executable") << true << false << "permissão negada";
    }

    void aFailedStartIsDescribed()
    {
        QFETCH(bool, present);
        QFETCH(bool, executable);
        QFETCH(QString, reason);
        StubFolder stub({}, executable);
        if (!present)
            QVERIFY(::unlink(stub.toolBytes().constData()) == 0);
        const QString message = launch::startConversion(stub.folder(), "a.bsp", "out");
        QCOMPARE(message, QStringLiteral("Não foi possível iniciar %1: %2")
                              .arg(ui::decodeName(stub.toolBytes()), reason));
        QVERIFY(stub.records().isEmpty());
    }

    void toolIsNeverTakenFromWorkingDirectoryOrPath()
    {
        StubFolder empty;
        QVERIFY(::unlink(empty.toolBytes().constData()) == 0);
        StubFolder inWorkingDir;
        StubFolder onPath;
        QVERIFY(QDir::setCurrent(inWorkingDir.folder()));
        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", ui::encodeName(onPath.folder()) + ":" + oldPath);
        const QString message = launch::startConversion(empty.folder(), "a.bsp", "out");
        qputenv("PATH", oldPath);
        QVERIFY(message.contains(QStringLiteral("arquivo não encontrado")));
        QTest::qWait(200);
        QVERIFY(inWorkingDir.records().isEmpty());
        QVERIFY(onPath.records().isEmpty());
        const QString relative = launch::startConversion(QString(), "a.bsp", "out");
        QVERIFY(relative.startsWith(QStringLiteral("Não foi possível iniciar bspc.exe")));
        QTest::qWait(200);
        QVERIFY(inWorkingDir.records().isEmpty());
    }

private:
    QTemporaryDir workDir;
};

QTEST_GUILESS_MAIN(TestLaunch)
#include "tst_launch.moc"
