// The built program in a real X window, driven as a user would with xdotool, at
// 1x and 2x: a real OpenArena map opened with it as a file manager does, for the
// real bspc.exe beside it, and its conversion window; then both choosers, for the
// screenshots.
#include "convertkit.h"

#include <QProcess>

class TestWindow : public QObject {
    Q_OBJECT

    QProcess program;

    // Runs xdotool, xclip or import on the virtual display; returns what it printed.
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

    void aRealMapThenBothChoosers_data()
    {
        QTest::addColumn<int>("scale");
        QTest::newRow("1x") << 1;
        QTest::newRow("2x") << 2;
    }

    void aRealMapThenBothChoosers()
    {
        QFETCH(int, scale);
        QTemporaryDir dir; // the working directory: the program, its bspc.exe, arena.bsp
        const QString exe = qEnvironmentVariable("VOSTRAND_EXE"),
                      output = dir.filePath("saida dos mapas"),
                      shots = qEnvironmentVariable("SCREENSHOT_DIR");
        for (const QString &file : {exe, QFileInfo(exe).dir().filePath("bspc.exe")})
            QVERIFY(QFile::copy(file, dir.filePath(QFileInfo(file).fileName())));
        const QByteArray bsp =
            check::unzip("/usr/share/games/openarena/baseoa/pak1-maps.pk3", "maps/oa_ctf2.bsp");
        QVERIFY(QDir().mkpath(output) && QDir().mkpath(shots) &&
                QFile(dir.filePath("arena.bsp")).open(QIODevice::WriteOnly) &&
                writeFile(QFile::encodeName(dir.path()) + "/mapas\xe7/oa_ctf2.bsp", bsp));
        qputenv("QT_SCALE_FACTOR", QByteArray::number(scale));
        program.setWorkingDirectory(dir.path());
        // A relative name in a folder not named in UTF-8, its bytes passed on exactly by the shell.
        program.start("/bin/sh", {"-c", "exec ./vostrand \"$(printf 'mapas\\347')/oa_ctf2.bsp\""});
        const QString main = find("^Quelm");
        const auto click = [&](const QString &window, int x, int y, const char *keys = "") {
            run(QString::asprintf("xdotool mousemove --window %s %d %d click 1 %s", // 1x pixels
                                  qPrintable(window), x * scale, y * scale, keys));
        };
        run("xdotool windowfocus --sync " + main); // a window that has focus takes clicks
        run("xdotool key --delay 30 Tab Tab");     // from the BSP field to the output field
        run(QString("xdotool type --delay 20 \"%1\"").arg(output));
        click(main, 162, 132); // Descompilar
        const QString conversion = find("^Descompilando.oa_ctf2.bsp$");
        run("xdotool windowfocus --sync " + conversion);
        const auto screenshot = [&](const QString &window, const QString &name) {
            const QString file = QString("%1/%2-%3x.png").arg(shots, name).arg(scale);
            QFile::remove(file); // one from an earlier run proves nothing
            run(QString("import -window %1 \"%2\"").arg(window, file));
            QVERIFY2(QFile::exists(file), qPrintable(file));
        };
        QString result; // copied from the result line
        const auto told = [&] {
            click(conversion, 20, 400, "key ctrl+a ctrl+c");
            return (result = run("xclip -o -selection clipboard")).startsWith("Concluído em ");
        };
        QVERIFY2(QTest::qWaitFor(told, 60000) && result.endsWith(" KB)") &&
                     result.contains(" s: " + output + "/oa_ctf2.map ("),
                 qPrintable(result));
        click(conversion, 300, 200, "key ctrl+End"); // nothing selected in the picture
        screenshot(conversion, "conversion");
        run("xdotool key Escape"); // it covers the main window, there being no window manager
        QTRY_VERIFY_WITH_TIMEOUT(find("^Descompilando", 0).isEmpty(), 10000);
        run("xdotool windowfocus --sync " + main);
        for (const QString mode : {"bsp", "map"}) {
            click(main, 328, mode == "bsp" ? 50 : 98); // "..." beside the field
            const QString chooser = find("^Abrir$");
            if (mode == "bsp")
                click(chooser, 228, 32); // the first file
            screenshot(chooser, "chooser-" + mode);
            click(chooser, 482, 38); // "OK"
            QTRY_VERIFY_WITH_TIMEOUT(find("^Abrir$", 0).isEmpty(), 10000);
        }
        screenshot(main, "main");
    }
};

QTEST_GUILESS_MAIN(TestWindow)
#include "tst_window.moc"
