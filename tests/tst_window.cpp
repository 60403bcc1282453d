// The built program in a real X window, driven as a user would with xdotool:
// both choosers, then Descompilar and its conversion window, at 1x and 2x, and
// files dragged onto it from another program. It also takes the screenshots.
#include "testkit.h"

#include <QProcess>
#include <QRegularExpression>

#include <fstream>

class TestWindow : public QObject {
    Q_OBJECT

    QTemporaryDir workDir;
    StubFolder stub;
    QProcess program;
    QProcess source; // of drags

    // Runs xdotool, xclip or import on the virtual display; returns what it printed,
    // or only the first line.
    QString run(const QString &tool, const QStringList &args, bool firstLine = true)
    {
        QProcess process;
        process.setProcessEnvironment(program.processEnvironment());
        process.start(tool, args);
        process.waitForFinished(30000);
        const QString printed = QString::fromUtf8(process.readAllStandardOutput());
        return firstLine ? printed.section('\n', 0, 0) : printed;
    }

    // What the control at (x, y) of `window` shows, copied with Ctrl+A, Ctrl+C.
    QString copy(const QString &window, int x, int y)
    {
        // No --sync: it waits for a move, and the pointer may be there already.
        run("xdotool", {"mousemove", "--window", window, QString::number(x), QString::number(y),
                        "click", "1"});
        run("xdotool", {"key", "ctrl+a", "ctrl+c"});
        return run("xclip", {"-o", "-selection", "clipboard"}, false);
    }

    // The first shown window whose name matches `pattern`; `wait` waits for one.
    // xdotool gives up when a window vanishes while it looks, so it looks again.
    QString find(const QString &pattern, bool wait = false)
    {
        QString id;
        const auto look = [&] {
            id = run("xdotool", {"search", "--onlyvisible", "--name", pattern});
            return !id.isEmpty();
        };
        return QTest::qWaitFor(look, wait ? 30000 : 0) ? id : QString();
    }

    // Clicks at (x, y), pixels of the 1x design, inside `window`.
    void click(const QString &window, int x, int y, int scale)
    {
        run("xdotool", {"mousemove", "--sync", "--window", window, QString::number(x * scale),
                        QString::number(y * scale), "click", "1"});
    }

    bool screenshot(const QString &window, const QString &name)
    {
        QDir().mkpath(qEnvironmentVariable("SCREENSHOT_DIR"));
        const QString file = qEnvironmentVariable("SCREENSHOT_DIR") + "/" + name + ".png";
        QFile::remove(file); // one from an earlier run proves nothing
        run("import", {"-window", window, file});
        return QFile::exists(file);
    }

    // Starts the program on the virtual display, in a folder holding arena.bsp;
    // returns its main window.
    QString start(int scale)
    {
        QFile display(qEnvironmentVariable("XVFB_STATE") + "/display");
        if (!display.open(QIODevice::ReadOnly))
            qFatal("no virtual display; run through ctest");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", ":" + QString::fromLatin1(display.readAll().trimmed()));
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("QT_SCALE_FACTOR", QString::number(scale));
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(cwd());
        QFile(cwd() + "/arena.bsp").open(QIODevice::WriteOnly);
        // Beside the stub, so that the program finds it as its bspc.exe.
        QFile::copy(qEnvironmentVariable("VOSTRAND_EXE"), stub.folder() + "/vostrand");
        program.start(stub.folder() + "/vostrand", {});
        return find("^Quelm BSP", true);
    }

    QString cwd() const { return QDir(workDir.path()).canonicalPath(); }

    // Presses "Descompilar" and returns the arguments that reached the tool.
    QList<QByteArray> descompilar(const QString &main, int scale)
    {
        click(main, 162, 132, scale);
        if (!stub.waitForRecords(1))
            return {};
        const StubRecord r = stub.records().first();
        QFile::remove(stub.folder() + QString("/bspc-%1.rec").arg(r.pid));
        return r.argv.mid(1);
    }

private slots:
    // Both programs ended, and their windows gone before the next test looks for its own.
    void cleanup()
    {
        for (QProcess *p : {&program, &source}) {
            p->kill();
            p->waitForFinished();
        }
        QVERIFY(QTest::qWaitFor([&] { return find("^(Quelm BSP|drag source|Descompilando)").isEmpty(); }));
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
        const QString main = start(scale);
        QVERIFY(!main.isEmpty());
        run("xdotool", {"windowfocus", "--sync", main}); // a window that has focus takes clicks
        for (const QString mode : {"bsp", "map"}) {
            click(main, 328, mode == "bsp" ? 50 : 98, scale); // "..." beside the field
            const QString chooser = find("^Abrir$", true);
            QVERIFY(!chooser.isEmpty());
            // A child of the main window to the window manager too.
            QCOMPARE(
                run("xprop", {"-id", chooser, "WM_TRANSIENT_FOR"}),
                QString("WM_TRANSIENT_FOR(WINDOW): window id # 0x%1").arg(main.toULong(), 0, 16));
            if (mode == "bsp")
                click(chooser, 228, 32, scale); // the first file
            // Enter and Escape press nothing: the chooser stays open.
            run("xdotool", {"key", "--window", chooser, "Return", "Escape"});
            QVERIFY(screenshot(chooser, QString("chooser-%1-%2x").arg(mode).arg(scale)));
            click(chooser, 482, 38, scale); // "OK"
            QTRY_VERIFY_WITH_TIMEOUT(find("^Abrir$").isEmpty(), 10000);
        }
        QVERIFY(screenshot(main, QString("main-%1x").arg(scale)));
        std::ofstream(stub.bytes.toStdString() + "/stub-mode") << "talk 531456";
        const QByteArray folder = cwd().toUtf8();
        QCOMPARE(descompilar(main, scale),
                 QList<QByteArray>({"-bsp2map", folder + "/arena.bsp", "-output", folder}));
        // The conversion's own window, with the tool's output and its result.
        const QString conversion = find("^Descompilando arena.bsp$", true);
        QVERIFY(!conversion.isEmpty());
        run("xdotool", {"windowfocus", "--sync", conversion});
        const QStringList size =
            run("xdotool", {"getwindowgeometry", "--shell", conversion}, false).split('\n');
        const int width = size.filter("WIDTH=").value(0).mid(6).toInt(),
                  height = size.filter("HEIGHT=").value(0).mid(7).toInt();
        QString result;
        const QRegularExpression done(QRegularExpression::anchoredPattern(
            "Concluído em \\d+,\\d s: " + QRegularExpression::escape(cwd()) +
            "/arena.map \\(519 KB\\)"));
        const bool finished = QTest::qWaitFor(
            [&] {
                return done.match(result = copy(conversion, 20 * scale, height - 20 * scale))
                    .hasMatch();
            },
            10000);
        QVERIFY2(finished, qPrintable(result));
        QCOMPARE(copy(conversion, width / 2, height / 2),
                 "saída 1\nerro 1\nsaída 2\nerro 2\nsaída 3\nerro 3\nfim");
        run("xdotool", {"key", "ctrl+End"}); // nothing selected in the picture
        QVERIFY(screenshot(conversion, QString("conversion-%1x").arg(scale)));
        QFile::remove(stub.folder() + "/stub-mode");
    }

    void dropsAreNeverMoves_data()
    {
        QTest::addColumn<int>("offered"); // by the drag source, which would rather move
        QTest::addColumn<int>("taken");   // what the drag source is told
        QTest::newRow("copy, move or link")
            << int(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction) << int(Qt::CopyAction);
        QTest::newRow("move or link")
            << int(Qt::MoveAction | Qt::LinkAction) << int(Qt::LinkAction);
        QTest::newRow("move only") << int(Qt::MoveAction) << int(Qt::IgnoreAction);
    }

    // A file manager acts on the action it is told: after a move it deletes the original.
    void dropsAreNeverMoves()
    {
        QFETCH(int, offered);
        QFETCH(int, taken);
        const QString main = start(1);
        QVERIFY(!main.isEmpty());
        source.setProcessEnvironment(program.processEnvironment());
        source.start(qEnvironmentVariable("DRAG_SOURCE"),
                     {QString::number(offered), cwd() + "/arena.bsp"});
        const QString from = find("^drag source$", true);
        // Pressed on the source, carried onto txtBSP in steps as a hand does, and let go.
        run("xdotool", QString("mousemove --sync --window %1 50 50 mousedown 1 sleep 0.2 "
                               "mousemove --window %1 60 60 sleep 0.2 mousemove --window %2 100 50 "
                               "sleep 0.2 mousemove --window %2 102 50 sleep 0.2 mouseup 1")
                           .arg(from, main)
                           .split(' '));
        QVERIFY(source.waitForReadyRead());
        QCOMPARE(source.readAllStandardOutput().trimmed().toInt(), taken);
        QCOMPARE(descompilar(main, 1).value(1), taken ? cwd().toUtf8() + "/arena.bsp" : "");
    }
};

QTEST_GUILESS_MAIN(TestWindow)
#include "tst_window.moc"
