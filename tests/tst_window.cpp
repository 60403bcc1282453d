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

    // Starts vostrand from the working folder, at `scale`, and waits for its window.
    void start(const QString &scale = "1")
    {
        program.kill(); // the one the last test started
        program.waitForFinished();
        QProcessEnvironment env = program.processEnvironment();
        env.insert("QT_SCALE_FACTOR", scale);
        program.setProcessEnvironment(env);
        program.start(stub->folder() + "/vostrand", {});
        QVERIFY(program.waitForStarted());
        mainWindow = run("xdotool", {"search", "--sync", "--onlyvisible", "--name", "^Quelm BSP"});
        QVERIFY(!mainWindow.isEmpty());
        run("xdotool", {"windowfocus", "--sync", mainWindow});
    }

    QSize sizeOf(const QString &window)
    {
        QProcess p;
        p.setProcessEnvironment(program.processEnvironment());
        p.start("xdotool", {"getwindowgeometry", "--shell", window});
        p.waitForFinished(30000);
        QSize size;
        for (const QByteArray &line : p.readAllStandardOutput().split('\n')) {
            if (line.startsWith("WIDTH="))
                size.setWidth(line.mid(6).toInt());
            if (line.startsWith("HEIGHT="))
                size.setHeight(line.mid(7).toInt());
        }
        return size;
    }

private slots:
    void init()
    {
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
        start();
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

    void cleanupTestCase()
    {
        program.kill();
        program.waitForFinished();
    }

    void keyboardAloneWalksTheWholeRoad()
    {
        // Enter presses nothing, neither in the field nor on a button. Tab to the
        // first "...", Space opens the chooser with "Cancelar" focused;
        // Tab past "OK" and the name field into the files, Space takes the first.
        run("xdotool", {"key", "--delay", "50", "Return", "Tab", "Return", "space"});
        const QString chooser =
            run("xdotool", {"search", "--sync", "--onlyvisible", "--name", "^Abrir$"});
        QVERIFY(!chooser.isEmpty());
        run("xdotool", {"windowfocus", "--sync", chooser});
        // Enter and Escape press nothing: the chooser stays open.
        run("xdotool", {"key", "--delay", "50", "Return", "Escape", "Tab", "Tab", "Tab", "space",
                        "shift+Tab", "shift+Tab", "space"});
        QTRY_VERIFY_WITH_TIMEOUT(
            run("xdotool", {"search", "--onlyvisible", "--name", "^Abrir$"}).isEmpty(), 10000);
        run("xdotool", {"windowfocus", "--sync", mainWindow});
        run("xdotool", {"key", "--delay", "50", "Tab"});
        run("xdotool", {"type", "--delay", "30", "/saida"});
        run("xdotool", {"key", "--delay", "50", "Tab", "Tab", "Return", "Escape", "space"});
        QVERIFY(stub->waitForRecords(1));
        QTest::qWait(200);
        QCOMPARE(stub->records().size(), 1); // Enter pressed no button on the way
        QCOMPARE(stub->records().first().argv.mid(1),
                 QList<QByteArray>({"-bsp2map", cwd.toUtf8() + "/arena.bsp", "-output", "/saida"}));
    }

    void bothWindowsKeepTheirProportionsWhenScaled_data()
    {
        QTest::addColumn<int>("scale");
        QTest::newRow("1x") << 1;
        QTest::newRow("2x") << 2;
    }

    void bothWindowsKeepTheirProportionsWhenScaled()
    {
        QFETCH(int, scale);
        start(QString::number(scale));
        QCOMPARE(sizeOf(mainWindow), QSize(344, 154) * scale);
        QVERIFY(screenshot(mainWindow, QString("main-%1x").arg(scale)));
        for (const int y : {50, 98}) { // the two "..." buttons: BSP, then MAP mode
            click(mainWindow, 328 * scale, y * scale);
            const QString chooser =
                run("xdotool", {"search", "--sync", "--onlyvisible", "--name", "^Abrir$"});
            QVERIFY(!chooser.isEmpty());
            QCOMPARE(sizeOf(chooser), QSize(541, 282) * scale);
            QVERIFY(screenshot(chooser,
                               QString("chooser-%1-%2x").arg(y == 50 ? "bsp" : "map").arg(scale)));
            click(chooser, 482 * scale, 82 * scale); // "Cancelar"
            QTRY_VERIFY_WITH_TIMEOUT(
                run("xdotool", {"search", "--onlyvisible", "--name", "^Abrir$"}).isEmpty(), 10000);
        }
    }
};

QTEST_GUILESS_MAIN(TestWindow)
#include "tst_window.moc"
