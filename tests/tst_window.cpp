// The built program in a real X window, driven as a user would with xdotool.
#include "testkit.h"

#include <QProcess>

class TestWindow : public QObject {
    Q_OBJECT

    QTemporaryDir workDir;
    QString cwd = QDir(workDir.path()).canonicalPath();
    std::unique_ptr<StubFolder> stub;
    QProcess program;
    QString mainWindow;

    // Runs `tool` on the virtual display; returns the first line it printed.
    QString run(const QString &tool, const QStringList &args)
    {
        QProcess process;
        process.setProcessEnvironment(program.processEnvironment());
        process.start(tool, args);
        process.waitForFinished(30000);
        return QString::fromLocal8Bit(process.readAllStandardOutput()).section('\n', 0, 0);
    }

    // Clicks at (x, y) pixels inside `window`'s client area.
    void click(const QString &window, int x, int y)
    {
        run("xdotool", {"mousemove", "--sync", "--window", window, QString::number(x),
                        QString::number(y), "click", "1"});
    }

    // Saves a picture of `window` in the build tree.
    bool screenshot(const QString &window, const QString &name)
    {
        const QString file = qEnvironmentVariable("SCREENSHOT_DIR") + "/" + name + ".png";
        QFile::remove(file); // one from an earlier run proves nothing
        run("import", {"-window", window, file});
        return QFile::exists(file);
    }

private slots:
    void init()
    {
        program.kill(); // the one the last test started
        program.waitForFinished();
        QVERIFY(QDir().mkpath(qEnvironmentVariable("SCREENSHOT_DIR")));
        QFile display(qEnvironmentVariable("XVFB_STATE") + "/display");
        QVERIFY2(display.open(QIODevice::ReadOnly), "no virtual display; run through ctest");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", ":" + QString::fromLatin1(display.readAll().trimmed()));
        env.insert("QT_QPA_PLATFORM", "xcb");
        for (const char *name : {"arena.bsp", "notes.txt"})
            QVERIFY(QFile(workDir.filePath(name)).open(QIODevice::WriteOnly));
        // Beside the stub, so that the program finds it as its bspc.exe.
        stub = std::make_unique<StubFolder>();
        QVERIFY(QFile::copy(qEnvironmentVariable("VOSTRAND_EXE"), stub->folder() + "/vostrand"));
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(workDir.path());
        program.start(stub->folder() + "/vostrand", {});
        QVERIFY(program.waitForStarted());
        mainWindow = run("xdotool", {"search", "--sync", "--onlyvisible", "--name", "^Quelm BSP"});
        QVERIFY(!mainWindow.isEmpty());
        run("xdotool", {"windowfocus", "--sync", mainWindow});
    }

    void pathsReachTheTool_data()
    {
        QTest::addColumn<QStringList>("argv");
        QTest::newRow("typed") << QStringList{"-bsp2map", "/maps/arena one.bsp", "-output",
                                              "/tmp/saida \"x\""};
        QTest::newRow("MAP") << QStringList{"-bsp2map", "", "-output", cwd};
        QTest::newRow("BSP") << QStringList{"-bsp2map", cwd + "/arena.bsp", "-output", ""};
    }

    void pathsReachTheTool()
    {
        QFETCH(QStringList, argv);
        const QString how = QTest::currentDataTag();
        if (how == "typed") {
            run("xdotool", {"type", "--delay", "30", argv[1]});
            run("xdotool", {"key", "--delay", "30", "Tab", "Tab"});
            run("xdotool", {"type", "--delay", "30", argv[3]});
        } else {
            click(mainWindow, 328, how == "BSP" ? 50 : 98); // "..." beside the field
            const QString chooser =
                run("xdotool", {"search", "--sync", "--onlyvisible", "--name", "^Abrir$"});
            QVERIFY(!chooser.isEmpty());
            if (how == "BSP")
                click(chooser, 228, 32); // first row of the file list
            QVERIFY(screenshot(chooser, "chooser-" + how));
            click(chooser, 482, 38); // "OK"
        }
        QVERIFY(screenshot(mainWindow, "main-" + how));
        // "Descompilar" sits at 116,116 and is 93 x 33 pixels at 96 DPI.
        click(mainWindow, 116 + 46, 116 + 16);
        QVERIFY(stub->waitForRecords(1));
        const StubRecord r = stub->records().first();
        QCOMPARE(r.argv.mid(1).join('\0'), argv.join(QChar(0)).toUtf8()); // NUL never occurs
        QCOMPARE(r.cwd, cwd.toUtf8());
    }
};

QTEST_GUILESS_MAIN(TestWindow)
#include "tst_window.moc"
