// The built program in a real X window, driven as a user would with xdotool.
#include "windowdriver.h"

class TestWindow : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        driver = std::make_unique<WindowDriver>();
        QVERIFY2(driver->hasDisplay(), "no virtual display; run through ctest");
        QVERIFY(driver->start(workDir.path()));
        driver->focus(driver->mainWindow);
    }

    void cleanup() { driver.reset(); }

    void typedPathsReachTheTool()
    {
        driver->type("/maps/arena one.bsp");
        driver->key("Tab Tab");
        driver->type("/tmp/saida \"x\"");
        driver->screenshot(driver->mainWindow, "main-typed");
        // "Descompilar" sits at 116,116 and is 93 x 33 pixels at 96 DPI.
        driver->click(driver->mainWindow, 116 + 46, 116 + 16);
        QVERIFY(driver->stub.waitForRecords(1));
        const StubRecord r = driver->stub.records().first();
        QCOMPARE(r.argv.mid(1), QList<QByteArray>({"-bsp2map", "/maps/arena one.bsp", "-output",
                                                   "/tmp/saida \"x\""}));
        QCOMPARE(r.cwd, QDir(workDir.path()).canonicalPath().toUtf8());
        QVERIFY(QFile::exists(qEnvironmentVariable("SCREENSHOT_DIR") + "/main-typed.png"));
    }

    void chooserInMapModeHandsBackTheWorkingDirectory()
    {
        // "..." beside the output folder sits at 320,88.
        driver->click(driver->mainWindow, 328, 98);
        const QString chooser = driver->waitForWindow("Abrir");
        QVERIFY(!chooser.isEmpty());
        driver->screenshot(chooser, "chooser-map");
        driver->click(chooser, 482, 38); // "OK"
        driver->click(driver->mainWindow, 116 + 46, 116 + 16);
        QVERIFY(driver->stub.waitForRecords(1));
        QCOMPARE(driver->stub.records().first().argv.value(4), workDir.path().toUtf8());
    }

    void chooserInBspModeHandsBackTheClickedFile()
    {
        StubFolder::writeRaw(QFile::encodeName(workDir.filePath("arena.bsp")), "x");
        StubFolder::writeRaw(QFile::encodeName(workDir.filePath("notes.txt")), "x");
        driver->stop();
        QVERIFY(driver->start(workDir.path()));
        driver->focus(driver->mainWindow);
        driver->click(driver->mainWindow, 328, 50); // "..." beside the BSP file
        const QString chooser = driver->waitForWindow("Abrir");
        QVERIFY(!chooser.isEmpty());
        driver->click(chooser, 188 + 40, 24 + 8); // first row of the file list
        driver->screenshot(chooser, "chooser-bsp");
        driver->click(chooser, 482, 38); // "OK"
        driver->click(driver->mainWindow, 116 + 46, 116 + 16);
        QVERIFY(driver->stub.waitForRecords(1));
        QCOMPARE(driver->stub.records().first().argv.value(2),
                 workDir.filePath("arena.bsp").toUtf8());
    }

private:
    QTemporaryDir workDir;
    std::unique_ptr<WindowDriver> driver;
};

QTEST_GUILESS_MAIN(TestWindow)
#include "tst_window.moc"
