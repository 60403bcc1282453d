// The Qt-Core layer on its own: names, paths, drives, matching, listing real
// folders, and the converter's start against the stub.
#include "launch.h"
#include "testkit.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

using core::Error;

class TestCore : public QObject {
    Q_OBJECT

    QTemporaryDir workDir;

private slots:
    void init() { QVERIFY(QDir::setCurrent(workDir.path())); }
    // QTemporaryDir cannot see names that are not UTF-8.
    void cleanupTestCase() { fs::remove_all(core::encodeName(workDir.path()).toStdString()); }

    void namesRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("escaped"); // bytes that are not UTF-8
        for (int b = 0; b < 256; ++b)
            QTest::addRow("byte %02x", b) << QByteArray(1, char(b)) << (b < 0x80 ? 0 : 1);
        QTest::newRow("two-byte") << QByteArray("a\xc3\xa7\xc3\xa3o") << 0;
        QTest::newRow("three-byte") << QByteArray("\xe0\xa0\x80\xef\xbf\xbd") << 0;
        QTest::newRow("four-byte") << QByteArray("\xf0\x9f\x97\xba\xf4\x8f\xbf\xbf") << 0;
        QTest::newRow("overlong") << QByteArray("\xc0\xaf\xc1\xbf\xe0\x80\xaf") << 7;
        QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << 3;
        QTest::newRow("above U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << 4;
        QTest::newRow("cut short") << QByteArray("x\xe2\x82") << 2;
        QTest::newRow("latin-1") << QByteArray("mapa\xe7\xe3o.bsp") << 2;
    }

    void namesRoundTrip()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, escaped);
        const QString name = core::decodeName(bytes);
        QCOMPARE(core::encodeName(name), bytes);
        QCOMPARE(core::hasEscapedBytes(name), escaped > 0);
        if (escaped == 0)
            QCOMPARE(name, QString::fromUtf8(bytes));
        const QString shown = core::displayName(name);
        QCOMPARE(shown.count(QChar::ReplacementCharacter) - name.count(QChar::ReplacementCharacter),
                 escaped);
        QVERIFY(!core::hasEscapedBytes(shown));
    }

    void paths_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("resolved");
        auto row = [](const char *tag, const QString &base, const QString &path,
                      const QString &resolved) { QTest::newRow(tag) << base << path << resolved; };
        row("absolute", "/base", "/a/b", "/a/b");
        row("relative", "/base", "a", "/base/a");
        row("dots", "/base/", "./a/./b/../c", "/base/a/c");
        row("above the root", "/", "../../x/..", "/");
        row("doubled separators", "/base", "//a//b//", "/a/b");
        row("only separators", "", "//", "/");
        row("working directory", "", "sub/..", "$cwd");
    }

    void paths()
    {
        QFETCH(QString, base);
        QFETCH(QString, path);
        QFETCH(QString, resolved);
        resolved.replace("$cwd", QDir::currentPath());
        QCOMPARE(core::absolutePath(base, path), resolved);
        // Joining adds a separator only where there is none.
        QCOMPARE(core::joinPath(resolved, "x"), resolved == "/" ? "/x" : resolved + "/x");
    }

    void longestDrive_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("drive");
        auto row = [](const char *tag, const QString &path, const QString &drive) {
            QTest::newRow(tag) << path << drive;
        };
        row("root", "/home/x", "/");
        row("the drive itself", "/media/usb", "/media/usb");
        row("inside", "/media/usb/maps", "/media/usb");
        row("longer of two", "/media/usb2/a", "/media/usb2");
        row("same start, no separator", "/media/usbkey", "/");
        row("drive ending in separator", "/mnt/x/y", "/mnt/x/");
        row("case matters", "/MEDIA/usb", "/");
        row("relative", "media/usb", "");
    }

    void longestDrive()
    {
        QFETCH(QString, path);
        QFETCH(QString, drive);
        QCOMPARE(core::longestDrive({"/", "/media/usb", "/media/usb2", "/mnt/x/"}, path), drive);
    }

    void matching_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QStringList>("files");
        const QString odd = core::decodeName("mapa\xe7\xe3o.bsp");
        QTest::newRow("suffix, any case")
            << "*.bsp" << QStringList{"ARENA.BSP", "arena.bsp", "c.Bsp", odd};
        QTest::newRow("*.* takes names without a dot")
            << "*.*" << QStringList{"a1.map", "ab.map", "ARENA.BSP", "arena.bsp",
                                    "c.Bsp",  odd,      "README",    "x.bspx"};
        QTest::newRow("question mark") << "?1.MAP" << QStringList{"a1.map"};
        QTest::newRow("list with blanks")
            << "*.map ; readme" << QStringList{"a1.map", "ab.map", "README"};
        QTest::newRow("leading letter, any case")
            << "A*" << QStringList{"a1.map", "ab.map", "ARENA.BSP", "arena.bsp"};
        QTest::newRow("escaped bytes as one character each") << "mapa??o.*" << QStringList{odd};
        QTest::newRow("no match") << "*.pk3" << QStringList{};
    }

    void matching()
    {
        QFETCH(QString, pattern);
        QFETCH(QStringList, files);
        core::Listing entries;
        for (const QString &name :
             QStringList{"README", "x.bspx", "c.Bsp", "ARENA.BSP", "arena.bsp", "ab.map",
                         ".hidden.bsp", "a1.map", "maps.bsp/", ".git/", "Beta/", "alpha/"})
            entries.append({name.chopped(name.endsWith('/')), name.endsWith('/')});
        entries.append({core::decodeName("mapa\xe7\xe3o.bsp"), false});
        // Hidden names and folders never show; case only breaks ties.
        QCOMPARE(core::matchingFiles(entries, pattern), files);
        QCOMPARE(core::sortedSubdirectories(entries), QStringList({"alpha", "Beta", "maps.bsp"}));
    }

    void readingRealFolders()
    {
        const fs::path dir = core::encodeName(workDir.path()).toStdString(), odd = dir / "sa\xed"
                                                                                         "da";
        fs::create_directory(odd);
        std::ofstream{dir / "mapa\xe7\xe3o.bsp"};
        fs::create_symlink("sa\xed"
                           "da",
                           dir / "link");
        fs::create_symlink("nowhere", dir / "gone.bsp");
        fs::create_symlink("loop", dir / "loop");
        const core::Result<core::Listing> read = core::readDirectory(workDir.path());
        QStringList seen;
        for (const core::DirEntry &entry : read.value())
            seen << core::displayName(entry.name) + (entry.isDir ? "/" : "");
        seen.sort();
        // Links count as what they point to; dangling ones and loops are left out.
        QCOMPARE(seen, QStringList({"link/", "mapa\uFFFD\uFFFDo.bsp", "sa\uFFFDda/"}));
        QCOMPARE(core::readDirectory(workDir.filePath("none")).error(), Error{ENOENT});
        QCOMPARE(core::readDirectory(workDir.filePath("link/x")).error(), Error{ENOENT});
        QCOMPARE(core::readDirectory(core::decodeName((dir / "mapa\xe7\xe3o.bsp").c_str())).error(),
                 Error{ENOTDIR});
        QVERIFY(::chdir(odd.c_str()) == 0);
        QCOMPARE(core::encodeName(core::workingDirectory()), QByteArray(odd.c_str()));
    }

    void startingTheTool_data()
    {
        QTest::addColumn<QByteArray>("folder"); // of the stub, in a temporary one
        QTest::addColumn<QString>("bsp");
        QTest::addColumn<QString>("map");
        QTest::addColumn<int>("error"); // 0 when it starts
        auto row = [](const char *name, const QByteArray &folder, const QString &bsp,
                      const QString &map,
                      int error = 0) { QTest::newRow(name) << folder << bsp << map << error; };
        row("ordinary", "", "/maps/arena.bsp", "/out");
        row("both empty", "", "", "");
        row("quotes, blanks, newlines", "", "/m/a\" -output \"/etc\n", " \"/o\"\t");
        row("leading dash and tilde", "", "-help", "~root");
        row("shell characters", "", "$(touch pwned);`id`|x&y", "'; rm -rf ~ #");
        row("32768 characters", "", '/' + QString(32767, 'b'), QString(32768, 'c'));
        row("right to left, combining, emoji", "", "/خريطة/ã̃e\u0301.bsp", "/🗺️/saída😀");
        row("bytes that are not UTF-8", "", core::decodeName("/mapa\xe7\xe3o.bsp"),
            core::decodeName("/sa\xed"
                             "da"));
        // A trailing "/" on the folder: one separator before the tool's name.
        row("folder with trailing separator", "tools/", "a.bsp", "out");
        row("folder in latin-1 bytes, with quotes", "o \"nosso\" programa\xe7\xe3o", "a.bsp",
            "out");
        row("tool that never exits", "sleep", "a.bsp", "out");
        row("tool missing", "missing", "a.bsp", "out", ENOENT);
        row("tool not executable", "0644", "a.bsp", "out", EACCES);
        row("no program folder", "-", "a.bsp", "out", Error::NoProgramFolder);
        // What the OS itself refuses is reported, never cut short.
        row("NUL character", "", QString::fromLatin1("a\0b", 3), "out", Error::NulInArgument);
        row("200000 characters", "", QString(200000, 'x'), "out", E2BIG);
    }

    void startingTheTool()
    {
        QFETCH(QByteArray, folder);
        QFETCH(QString, bsp);
        QFETCH(QString, map);
        QFETCH(int, error);
        const bool trailing = folder.endsWith('/'), sleeps = folder == "sleep",
                   named = !QList<QByteArray>{"sleep", "missing", "0644", "-"}.contains(folder);
        StubFolder stub(named ? folder.chopped(trailing) : "",
                        fs::perms(folder == "0644" ? 0644 : 0755)),
            inWorkingDir, onPath;
        if (folder == "missing")
            QVERIFY(fs::remove(stub.tool().toStdString()));
        std::ofstream(stub.bytes.toStdString() + "/stub-mode") << (sleeps ? "sleep" : "");
        // Neither a bspc.exe in the working directory or on PATH, nor a descriptor
        // or a variable set after start, ever reaches the tool.
        QVERIFY(QDir::setCurrent(inWorkingDir.folder()));
        const QByteArray path = qgetenv("PATH"), platform = qgetenv("QT_QPA_PLATFORM");
        qputenv("PATH", onPath.bytes + ':' + path);
        qputenv("QT_QPA_PLATFORM", "set after start");
        const int leaked = ::open("/dev/null", O_RDONLY);
        // Every press starts a process of its own, and none is waited for.
        QList<core::Result<>> presses;
        for (int press = 0; press < 2; ++press)
            presses << core::startConversion(
                folder == "-" ? QString() : stub.folder() + (trailing ? "/" : ""), bsp, map);
        ::close(leaked);
        qputenv("PATH", path);
        qputenv("QT_QPA_PLATFORM", platform);
        const bool recorded = error || stub.waitForRecords(2);
        QTest::qWait(error ? 100 : 0);
        // A tool that never exits is ended before anything here can fail.
        const QList<StubRecord> records = stub.records();
        QList<bool> running;
        for (const StubRecord &r : records) {
            running << QFile::exists(QString("/proc/%1").arg(r.pid));
            if (sleeps)
                ::kill(pid_t(r.pid), SIGKILL);
        }
        QVERIFY(recorded && (!sleeps || !running.contains(false)));
        // Once reaped, the pid is gone; a zombie would stay in /proc.
        for (const StubRecord &r : records)
            QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(QString("/proc/%1").arg(r.pid)), 10000);
        for (const core::Result<> &started : presses)
            QCOMPARE(started.error(), Error{error});
        QVERIFY(inWorkingDir.records().isEmpty() && onPath.records().isEmpty());
        QCOMPARE(records.size(), error ? 0 : 2);
        QVERIFY(error || records[0].pid != records[1].pid);
        for (const StubRecord &r : records) {
            QCOMPARE(r.exe, stub.tool());
            QCOMPARE(r.argv, QList<QByteArray>({stub.tool(), "-bsp2map", core::encodeName(bsp),
                                                "-output", core::encodeName(map)}));
            QCOMPARE(r.cwd + ' ' + r.fds + ' ' + r.env, inWorkingDir.bytes + " 0,1,2 " + platform);
        }
        QVERIFY(!QFile::exists(inWorkingDir.folder() + "/pwned"));
    }
};

QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"
