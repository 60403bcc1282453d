// The built program in a real X window converting a real OpenArena map with the
// bspc.exe beside it, as a user would: type both paths, press "Descompilar".
#include "convertkit.h"

#include <QProcess>

class TestConvertWindow : public QObject {
    Q_OBJECT

private slots:
    void decompilesARealMap()
    {
        QFile display(qEnvironmentVariable("XVFB_STATE") + "/display");
        QVERIFY2(display.open(QIODevice::ReadOnly), "no virtual display; run through ctest");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", ":" + QString::fromLatin1(display.readAll().trimmed()));
        env.insert("QT_QPA_PLATFORM", "xcb");
        // Runs xdotool on the virtual display; returns the first line it printed.
        const auto xdotool = [&](const QStringList &args) {
            QProcess process;
            process.setProcessEnvironment(env);
            process.start("xdotool", args);
            process.waitForFinished(30000);
            return QString::fromLocal8Bit(process.readAllStandardOutput()).section('\n', 0, 0);
        };
        QTemporaryDir dir;
        const QString bspFile = dir.filePath("mapas/oa_ctf2.bsp"),
                      output = dir.filePath("saida dos mapas");
        const QByteArray bsp =
            check::unzip("/usr/share/games/openarena/baseoa/pak1-maps.pk3", "maps/oa_ctf2.bsp");
        QVERIFY(QDir().mkpath(output) && writeFile(QFile::encodeName(bspFile), bsp));

        QProcess program;
        program.setProcessEnvironment(env);
        program.start(qEnvironmentVariable("VOSTRAND_EXE"), {});
        QVERIFY(program.waitForStarted());
        const QString window =
            xdotool({"search", "--sync", "--onlyvisible", "--name", "^Quelm BSP"});
        QVERIFY(!window.isEmpty());
        xdotool({"windowfocus", "--sync", window});
        xdotool({"type", "--delay", "20", bspFile});
        xdotool({"key", "--delay", "30", "Tab", "Tab"});
        xdotool({"type", "--delay", "20", output});
        // "Descompilar" sits at 116,116 and is 93 x 33 pixels at 96 DPI.
        xdotool({"mousemove", "--sync", "--window", window, "162", "132", "click", "1"});

        // The map appears whole, by a rename, so its presence means it is done.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(output + "/oa_ctf2.map"), 300000);
        program.kill();
        program.waitForFinished();
        const auto map = check::readMap(readAll(QFile::encodeName(output + "/oa_ctf2.map")));
        QVERIFY2(map.ok(), qPrintable(map.error));
        const check::Fidelity f = check::compare(check::readBsp(bsp), map.value);
        QVERIFY2(f.problems.isEmpty() && f.brushesBsp > 100, qPrintable(f.problems.join('\n')));
    }
};

QTEST_GUILESS_MAIN(TestConvertWindow)
#include "tst_convert_window.moc"
