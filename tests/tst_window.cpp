// The built program in a real X window, driven as a user would with xdotool:
// both choosers, then Descompilar and its conversion window, at 1x and 2x. It
// also takes the screenshots.
#include "testkit.h"

#include <QProcess>
#include <QRegularExpression>

#include <fstream>

class TestWindow : public QObject {
    Q_OBJECT

    QTemporaryDir workDir;
    StubFolder stub;
    QProcess program;

    // Runs xdotool, xclip, xprop or import on the virtual display; returns what it printed.
    QString run(const QString &tool, const QStringList &args)
    {
        QProcess process;
        process.setProcessEnvironment(program.processEnvironment());
        process.start(tool, args);
        process.waitForFinished(30000);
        return QString::fromUtf8(process.readAllStandardOutput());
    }

    // What the control at (x, y) of `window` shows, copied with Ctrl+A, Ctrl+C.
    QString copy(const QString &window, int x, int y)
    {
        // No --sync: it waits for a move, and the pointer may be there already.
        run("xdotool", {"mousemove", "--window", window, QString::number(x), QString::number(y),
                        "click", "1"});
        run("xdotool", {"key", "ctrl+a", "ctrl+c"});
        return run("xclip", {"-o", "-selection", "clipboard"});
    }

    // The first shown window whose name matches, waiting up to `wait` ms. xdotool
    // gives up when a window vanishes while it looks, so it looks again.
    QString find(const QString &pattern, int wait = 30000)
    {
        QString id;
        const auto look = [&] {
            id = run("xdotool", {"search", "--onlyvisible", "--name", pattern}).section('\n', 0, 0);
            return !id.isEmpty();
        };
        return QTest::qWaitFor(look, wait) ? id : QString();
    }

    void screenshot(const QString &window, const QString &name)
    {
        QDir().mkpath(qEnvironmentVariable("SCREENSHOT_DIR"));
        const QString file = qEnvironmentVariable("SCREENSHOT_DIR") + "/" + name + ".png";
        QFile::remove(file); // one from an earlier run proves nothing
        run("import", {"-window", window, file});
        QVERIFY2(QFile::exists(file), qPrintable(file));
    }

private slots:
    // The program ended and its windows gone before the next run looks for its own.
    void cleanup()
    {
        program.kill();
        program.waitForFinished();
        for (const StubRecord &r : stub.records())
            QFile::remove(stub.folder() + QString("/bspc-%1.rec").arg(r.pid));
        QVERIFY(QTest::qWaitFor([&] { return find("^(Quelm BSP|Descompilando)", 0).isEmpty(); }));
    }

    void bothChoosersThenDescompilar_data()
    {
        QTest::addColumn<int>("scale");
        QTest::newRow("1x") << 1;
        QTest::newRow("2x") << 2;
    }

    void bothChoosersThenDescompilar()
    {
        QFETCH(int, scale);
        QFile display(qEnvironmentVariable("XVFB_STATE") + "/display");
        QVERIFY2(display.open(QIODevice::ReadOnly), "no virtual display; run through ctest");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", ":" + QString::fromLatin1(display.readAll().trimmed()));
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("QT_SCALE_FACTOR", QString::number(scale));
        program.setProcessEnvironment(env);
        const QString cwd = QDir(workDir.path()).canonicalPath(); // holding arena.bsp
        program.setWorkingDirectory(cwd);
        QFile(cwd + "/arena.bsp").open(QIODevice::WriteOnly);
        // Beside the stub, so that the program finds it as its bspc.exe.
        QFile::copy(qEnvironmentVariable("VOSTRAND_EXE"), stub.folder() + "/vostrand");
        program.start(stub.folder() + "/vostrand", {});
        const QString main = find("^Quelm BSP");
        QVERIFY(!main.isEmpty());
        const auto click = [&](const QString &window, int x, int y) { // pixels of the 1x design
            run("xdotool", {"mousemove", "--sync", "--window", window, QString::number(x * scale),
                            QString::number(y * scale), "click", "1"});
        };
        run("xdotool", {"windowfocus", "--sync", main}); // a window that has focus takes clicks
        for (const QString mode : {"bsp", "map"}) {
            click(main, 328, mode == "bsp" ? 50 : 98); // "..." beside the field
            const QString chooser = find("^Abrir$");
            QVERIFY(!chooser.isEmpty());
            // A child of the main window to the window manager too.
            QCOMPARE(
                run("xprop", {"-id", chooser, "WM_TRANSIENT_FOR"}).trimmed(),
                QString("WM_TRANSIENT_FOR(WINDOW): window id # 0x%1").arg(main.toULong(), 0, 16));
            if (mode == "bsp")
                click(chooser, 228, 32); // the first file
            // Enter and Escape press nothing: the chooser stays open.
            run("xdotool", {"key", "--window", chooser, "Return", "Escape"});
            screenshot(chooser, QString("chooser-%1-%2x").arg(mode).arg(scale));
            click(chooser, 482, 38); // "OK"
            QTRY_VERIFY_WITH_TIMEOUT(find("^Abrir$", 0).isEmpty(), 10000);
        }
        screenshot(main, QString("main-%1x").arg(scale));
        std::ofstream(stub.bytes.toStdString() + "/stub-mode") << "talk 531456";
        click(main, 162, 132); // Descompilar
        QVERIFY(stub.waitForRecords(1));
        QCOMPARE(
            stub.records().first().argv.mid(1),
            QList<QByteArray>({"-bsp2map", cwd.toUtf8() + "/arena.bsp", "-output", cwd.toUtf8()}));
        // The conversion's own window, with the tool's output and its result.
        const QString conversion = find("^Descompilando arena.bsp$");
        QVERIFY(!conversion.isEmpty());
        run("xdotool", {"windowfocus", "--sync", conversion});
        const QString size = run("xdotool", {"getwindowgeometry", "--shell", conversion});
        const int width = size.section("WIDTH=", 1).section('\n', 0, 0).toInt(),
                  height = size.section("HEIGHT=", 1).section('\n', 0, 0).toInt();
        const QRegularExpression done(QRegularExpression::anchoredPattern(
            "Concluído em \\d+,\\d s: " + QRegularExpression::escape(cwd) +
            "/arena.map \\(519 KB\\)"));
        QString result;
        const auto finished = [&] {
            return done.match(result = copy(conversion, 20 * scale, height - 20 * scale))
                .hasMatch();
        };
        QVERIFY2(QTest::qWaitFor(finished, 10000), qPrintable(result));
        QCOMPARE(copy(conversion, width / 2, height / 2),
                 "saída 1\nerro 1\nsaída 2\nerro 2\nsaída 3\nerro 3\nfim");
        run("xdotool", {"key", "ctrl+End"}); // nothing selected in the picture
        screenshot(conversion, QString("conversion-%1x").arg(scale));
        QFile::remove(stub.folder() + "/stub-mode");
    }
};

QTEST_GUILESS_MAIN(TestWindow)
#include "tst_window.moc"
