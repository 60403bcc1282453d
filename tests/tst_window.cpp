// The built program in a real X window, driven as a user would with xdotool:
// both choosers, then Descompilar and its conversion window, at 1x and 2x, with
// the stub; then a real OpenArena map, opened with the program as a file
// manager does, for the real bspc.exe. It also takes the screenshots.
#include "convertkit.h"
#include "testkit.h"

#include <QProcess>

#include <fstream>

class TestWindow : public QObject {
    Q_OBJECT

    QProcess program;

    // Runs xdotool, xclip, xprop or import on the virtual display; returns what it printed.
    QString run(const QString &command)
    {
        QProcess process;
        process.startCommand(command);
        process.waitForFinished(-1);
        return QString::fromUtf8(process.readAllStandardOutput());
    }

    // The first shown window whose name matches, waiting up to `wait` ms. xdotool
    // gives up when a window vanishes while it looks, so it looks again.
    QString find(const QString &pattern, int wait = 30000)
    {
        QString id;
        const auto look = [&] {
            id = run("xdotool search --onlyvisible --name " + pattern).section('\n', 0, 0);
            return !id.isEmpty();
        };
        return QTest::qWaitFor(look, wait) ? id : QString();
    }

    // The result line of a conversion window once it tells of a map written;
    // copied with Ctrl+A, Ctrl+C. No --sync: it waits for a move, and the
    // pointer may be there already.
    QString result(const QString &window, int scale)
    {
        QString text;
        const bool told = QTest::qWaitFor(
            [&] {
                run(QString::asprintf("xdotool mousemove --window %s %d %d click 1 key ctrl+a ctrl+c",
                                      qPrintable(window), 20 * scale, 400 * scale));
                text = run("xclip -o -selection clipboard");
                return text.startsWith("Concluído em ");
            },
            60000);
        return told ? text : "none yet: " + text;
    }

    // The window into SCREENSHOT_DIR as <name>-<scale>x.png.
    void screenshot(const QString &window, const QString &name, int scale)
    {
        const QString shots = qEnvironmentVariable("SCREENSHOT_DIR");
        const QString file = QString("%1/%2-%3x.png").arg(shots, name).arg(scale);
        QDir().mkpath(shots);
        QFile::remove(file); // one from an earlier run proves nothing
        run(QString("import -window %1 \"%2\"").arg(window, file));
        QVERIFY2(QFile::exists(file), qPrintable(file));
    }

private slots:
    void initTestCase()
    {
        QFile display(qEnvironmentVariable("XVFB_STATE") + "/display");
        QVERIFY2(display.open(QIODevice::ReadOnly), "no virtual display; run through ctest");
        // For the program and the tools alike.
        qputenv("DISPLAY", ':' + display.readAll().trimmed());
        qputenv("QT_QPA_PLATFORM", "xcb");
    }

    // The program ended and its windows gone before the next run looks for its own.
    void cleanup()
    {
        program.close(); // kills it and waits
        QVERIFY(QTest::qWaitFor([&] { return find("^(Quelm|Descompilando)", 0).isEmpty(); }));
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
        StubFolder stub; // also the working directory, holding arena.bsp
        qputenv("QT_SCALE_FACTOR", QByteArray::number(scale));
        const QString cwd = QDir(stub.folder()).canonicalPath();
        program.setWorkingDirectory(cwd);
        QFile(cwd + "/arena.bsp").open(QIODevice::WriteOnly);
        // Beside the stub, so that the program finds it as its bspc.exe.
        QFile::copy(qEnvironmentVariable("VOSTRAND_EXE"), cwd + "/vostrand");
        program.start(cwd + "/vostrand", {});
        const QString main = find("^Quelm");
        const auto click = [&](const QString &window, int x, int y) { // pixels of the 1x design
            run(QString::asprintf("xdotool mousemove --sync --window %s %d %d click 1",
                                  qPrintable(window), x * scale, y * scale));
        };
        run("xdotool windowfocus --sync " + main); // a window that has focus takes clicks
        for (const QString mode : {"bsp", "map"}) {
            click(main, 328, mode == "bsp" ? 50 : 98); // "..." beside the field
            const QString chooser = find("^Abrir$");
            // A child of the main window to the window manager too.
            QCOMPARE(
                run("xprop WM_TRANSIENT_FOR -id " + chooser).trimmed(),
                QString("WM_TRANSIENT_FOR(WINDOW): window id # 0x%1").arg(main.toULong(), 0, 16));
            if (mode == "bsp")
                click(chooser, 228, 32); // the first file
            // Enter and Escape press nothing: the chooser stays open.
            run("xdotool key --window " + chooser + " Return Escape");
            screenshot(chooser, "chooser-" + mode, scale);
            click(chooser, 482, 38); // "OK"
            QTRY_VERIFY_WITH_TIMEOUT(find("^Abrir$", 0).isEmpty(), 10000);
        }
        screenshot(main, "main", scale);
        std::ofstream(stub.bytes.toStdString() + "/stub-mode") << "talk 531456";
        click(main, 162, 132); // Descompilar
        // The conversion's own window, with the tool's output and its result.
        const QString conversion = find("^Descompilando.arena.bsp$");
        run("xdotool windowfocus --sync " + conversion);
        QVERIFY(result(conversion, scale).endsWith(" s: " + cwd + "/arena.map (519 KB)"));
        if (scale == 2) { // at 1x the README shows a real map's
            click(conversion, 300, 200); // into the output: nothing selected in the picture
            run("xdotool key ctrl+End");
            screenshot(conversion, "conversion", scale);
        }
    }

    // Opened with the program, as a file manager does, in a folder whose name
    // is not UTF-8; the output folder typed in; the real bspc.exe beside it.
    void decompilesARealMap()
    {
        QTemporaryDir dir;
        const QString output = dir.filePath("saida dos mapas");
        const QByteArray bsp =
            check::unzip("/usr/share/games/openarena/baseoa/pak1-maps.pk3", "maps/oa_ctf2.bsp");
        QVERIFY(QDir().mkpath(output) &&
                writeFile(QFile::encodeName(dir.path()) + "/mapas\xe7/oa_ctf2.bsp", bsp));
        const QString exe = qEnvironmentVariable("VOSTRAND_EXE");
        for (const QString &file : {exe, QFileInfo(exe).dir().filePath("bspc.exe")})
            QVERIFY(QFile::copy(file, dir.filePath(QFileInfo(file).fileName())));
        qputenv("QT_SCALE_FACTOR", "1");
        program.setWorkingDirectory(dir.path());
        // A relative name, its bytes passed on exactly by the shell.
        program.start("/bin/sh", {"-c", "exec ./vostrand \"$(printf 'mapas\\347')/oa_ctf2.bsp\""});
        const QString main = find("^Quelm");
        QVERIFY(!main.isEmpty());
        run("xdotool windowfocus --sync " + main);
        run("xdotool key --delay 30 Tab Tab"); // from the BSP field to the output field
        run(QString("xdotool type --delay 20 \"%1\"").arg(output));
        run("xdotool mousemove --sync --window " + main + " 162 132 click 1"); // Descompilar
        const QString conversion = find("^Descompilando.oa_ctf2.bsp$");
        run("xdotool windowfocus --sync " + conversion);
        const QString shown = result(conversion, 1);
        QVERIFY2(shown.contains(" s: " + output + "/oa_ctf2.map (") && shown.endsWith(" KB)"),
                 qPrintable(shown));
        const auto map = check::readMap(readAll(QFile::encodeName(output + "/oa_ctf2.map")));
        QVERIFY2(map.ok(), qPrintable(map.error));
        const check::Fidelity f = check::compare(check::readBsp(bsp), map.value);
        QVERIFY2(f.problems.isEmpty() && f.brushesBsp > 100, qPrintable(f.problems.join('\n')));
        run("xdotool mousemove --sync --window " + conversion + " 300 200 click 1 key ctrl+End");
        screenshot(conversion, "conversion", 1);
    }
};

QTEST_GUILESS_MAIN(TestWindow)
#include "tst_window.moc"
