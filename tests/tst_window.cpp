// The built program in a real X window, driven as a user would with xdotool:
// both choosers, then Descompilar and its conversion window, at 1x and 2x. It
// also takes the screenshots.
#include "testkit.h"

#include <QProcess>

class TestWindow : public QObject {
    Q_OBJECT

    QTemporaryDir workDir;
    StubFolder stub;
    QProcess program;

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

private slots:
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
        const QString cwd = QDir(workDir.path()).canonicalPath();
        program.setWorkingDirectory(cwd);
        QVERIFY(QFile(cwd + "/arena.bsp").open(QIODevice::WriteOnly));
        std::ofstream(stub.bytes.toStdString() + "/stub-mode") << "talk 531456";
        // Beside the stub, so that the program finds it as its bspc.exe.
        QFile::copy(qEnvironmentVariable("VOSTRAND_EXE"), stub.folder() + "/vostrand");
        program.start(stub.folder() + "/vostrand", {});
        const QString main =
            run("xdotool", {"search", "--sync", "--onlyvisible", "--name", "^Quelm BSP"});
        QVERIFY(!main.isEmpty());
        run("xdotool", {"windowfocus", "--sync", main}); // a window that has focus takes clicks
        for (const QString mode : {"bsp", "map"}) {
            click(main, 328, mode == "bsp" ? 50 : 98, scale); // "..." beside the field
            const QString chooser =
                run("xdotool", {"search", "--sync", "--onlyvisible", "--name", "^Abrir$"});
            QVERIFY(!chooser.isEmpty());
            if (mode == "bsp")
                click(chooser, 228, 32, scale); // the first file
            // Enter and Escape press nothing: the chooser stays open.
            run("xdotool", {"key", "--window", chooser, "Return", "Escape"});
            QVERIFY(screenshot(chooser, QString("chooser-%1-%2x").arg(mode).arg(scale)));
            click(chooser, 482, 38, scale); // "OK"
            QTRY_VERIFY_WITH_TIMEOUT(
                run("xdotool", {"search", "--onlyvisible", "--name", "^Abrir$"}).isEmpty(), 10000);
        }
        QVERIFY(screenshot(main, QString("main-%1x").arg(scale)));
        click(main, 162, 132, scale); // "Descompilar"
        QVERIFY(stub.waitForRecords(1));
        const StubRecord r = stub.records().first();
        QCOMPARE(r.argv.mid(1), QList<QByteArray>({"-bsp2map", cwd.toUtf8() + "/arena.bsp",
                                                   "-output", cwd.toUtf8()}));
        QVERIFY(QFile::remove(stub.folder() + QString("/bspc-%1.rec").arg(r.pid)));
        // The conversion's own window, with the tool's output and its result.
        const QString conversion = run("xdotool", {"search", "--sync", "--onlyvisible", "--name",
                                                   "^Descompilando arena.bsp$"});
        QVERIFY(!conversion.isEmpty());
        run("xdotool", {"windowfocus", "--sync", conversion});
        const QStringList size =
            run("xdotool", {"getwindowgeometry", "--shell", conversion}, false).split('\n');
        const int width = size.filter("WIDTH=").value(0).mid(6).toInt(),
                  height = size.filter("HEIGHT=").value(0).mid(7).toInt();
        QString result;
        const QRegularExpression done(QRegularExpression::anchoredPattern(
            "Concluído em \\d+,\\d s: " + QRegularExpression::escape(cwd) +
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
        program.kill();
        program.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(TestWindow)
#include "tst_window.moc"
