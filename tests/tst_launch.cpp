// The conversion launch against a stub bspc.exe that records its start.
#include "launch.h"
#include "testkit.h"

#include <fcntl.h>
#include <unistd.h>

class TestLaunch : public QObject {
    Q_OBJECT

    QTemporaryDir workDir;

private slots:
    void init() { QVERIFY(QDir::setCurrent(workDir.path())); }

    void startsTheToolExactly_data()
    {
        QTest::addColumn<QByteArray>("subfolder");
        QTest::addColumn<QString>("bsp");
        QTest::addColumn<QString>("map");
        auto row = [](const char *name, const QByteArray &sub, const QString &bsp,
                      const QString &map) { QTest::newRow(name) << sub << bsp << map; };
        row("ordinary", "", "/maps/arena.bsp", "/out");
        row("both empty", "", "", "");
        row("double quotes", "", "/m/a\" -output \"/etc", "\"/o\"");
        row("spaces", "", "/my maps/big arena.bsp", "/out dir/ ");
        row("leading dash", "", "-help", "--output=/x");
        row("non-ascii", "", "/mapas/ação.bsp", "/saída/ção");
        row("newline", "", "/a\nb.bsp", "/o\n");
        row("shell characters", "", "$(touch pwned);`id`|x&y", "'; rm -rf ~ #");
        row("tabs and single quotes", "", "\t/o'brien's.bsp", "/a\tb");
        row("leading tilde", "", "~/arena.bsp", "~root");
        row("4096 characters", "", '/' + QString(4095, 'a'), "/o");
        row("32768 characters", "", '/' + QString(32767, 'b'), QString(32768, 'c'));
        row("right to left, combining, emoji", "", "/خريطة/ã̃e\u0301.bsp", "/🗺️/saída😀");
        row("bytes that are not UTF-8", "", core::decodeName("/mapa\xe7\xe3o.bsp"),
            core::decodeName("/sa\xed"
                           "da"));
        // A trailing "/" on the folder: one separator before the tool's name.
        row("folder with trailing separator", "tools/", "a.bsp", "out");
        row("folder with spaces", "Program Files (x86)", "a.bsp", "out");
        row("folder with quotes and accents", "o \"nosso\" programa ção", "a.bsp", "out");
        row("folder in latin-1 bytes", "ferramenta\xe7\xe3o", "a.bsp", "out");
    }

    void startsTheToolExactly()
    {
        QFETCH(QByteArray, subfolder);
        QFETCH(QString, bsp);
        QFETCH(QString, map);
        const bool trailing = subfolder.endsWith('/');
        StubFolder stub(trailing ? subfolder.chopped(1) : subfolder);
        // Every press starts a process of its own.
        for (int press = 0; press < 2; ++press)
            QCOMPARE(core::startConversion(stub.folder() + (trailing ? "/" : ""), bsp, map),
                     QString());
        QVERIFY(stub.waitForRecords(2));
        const QList<StubRecord> records = stub.records();
        QCOMPARE(records.size(), 2);
        QVERIFY(records[0].pid != records[1].pid);
        for (const StubRecord &r : records) {
            QCOMPARE(r.exe, stub.tool());
            QCOMPARE(r.argv, QList<QByteArray>({stub.tool(), "-bsp2map", core::encodeName(bsp),
                                                "-output", core::encodeName(map)}));
            QCOMPARE(r.cwd, core::encodeName(workDir.path()));
            // Once reaped, the pid is gone; a zombie would stay in /proc.
            QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(QString("/proc/%1").arg(r.pid)), 10000);
        }
        QVERIFY(!QFile::exists(workDir.filePath("pwned")));
    }

    void aFailedStartIsDescribed_data()
    {
        QTest::addColumn<int>("mode"); // of the tool, -1 for none
        QTest::addColumn<QString>("bsp");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << -1 << "a.bsp"
                                 << "arquivo não encontrado";
        QTest::newRow("not executable") << 0644 << "a.bsp"
                                        << "permissão negada";
        QTest::newRow("empty folder") << 0755 << "a.bsp"
                                      << "a pasta do programa é desconhecida";
        // What the OS itself refuses is reported, never cut short.
        QTest::newRow("NUL character")
            << 0755 << QString::fromLatin1("a\0b", 3) << "um argumento contém um caractere nulo";
        QTest::newRow("200000 characters")
            << 0755 << QString(200000, 'x') << "lista de argumentos longa demais";
    }

    void aFailedStartIsDescribed()
    {
        QFETCH(int, mode);
        QFETCH(QString, bsp);
        QFETCH(QString, reason);
        const bool noFolder = QTest::currentDataTag() == QByteArray("empty folder");
        StubFolder stub({}, fs::perms(qMax(mode, 0))), inWorkingDir, onPath;
        if (mode < 0)
            QVERIFY(fs::remove(stub.tool().toStdString()));
        // A bspc.exe in the working directory or on PATH must never stand in.
        QVERIFY(QDir::setCurrent(inWorkingDir.folder()));
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", onPath.bytes + ':' + path);
        const QString message =
            core::startConversion(noFolder ? QString() : stub.folder(), bsp, "out");
        qputenv("PATH", path);
        QCOMPARE(message, QStringLiteral("Não foi possível iniciar %1: %2")
                              .arg(noFolder ? "bspc.exe" : core::decodeName(stub.tool()), reason));
        QTest::qWait(100);
        QVERIFY(stub.records().isEmpty() && inWorkingDir.records().isEmpty() &&
                onPath.records().isEmpty());
    }

    void onlyStandardStreamsAndTheStartEnvironmentReachTheTool()
    {
        // A descriptor that would leak into a child started the careless way.
        const int leaked = ::open("/dev/null", O_RDONLY);
        const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
        qputenv("QT_QPA_PLATFORM", "set after start");
        StubFolder stub;
        const QString message = core::startConversion(stub.folder(), "a.bsp", "out");
        qputenv("QT_QPA_PLATFORM", platform);
        ::close(leaked);
        QCOMPARE(message, QString());
        QVERIFY(stub.waitForRecords(1));
        QCOMPARE(stub.records().first().fds, QByteArray("0,1,2"));
        QCOMPARE(stub.records().first().env, platform);
    }
};

QTEST_GUILESS_MAIN(TestLaunch)
#include "tst_launch.moc"
