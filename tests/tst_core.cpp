// The Qt-Core layer on its own: names, paths, drives, matching, listing real
// folders, and the converter's start against the stub.
#include "launch.h"
#include "testkit.h"

#include <fcntl.h>
#include <unistd.h>

using core::Error;

namespace {
const QByteArray platform = qgetenv("QT_QPA_PLATFORM");

// A path resolved against a base, and the drive that holds it; "$cwd": the working directory.
struct PathCase {
    QString base, path, resolved, drive;
};

struct StartCase {
    QByteArray folder; // of the stub, in a temporary one; "-": none
    QString bsp, map;
    QByteArray mode = ""; // how the tool ends
    int error = 0;        // 0 when it starts
};
} // namespace

class TestCore : public QObject {
    Q_OBJECT

    QTemporaryDir workDir;

private slots:
    void initTestCase()
    {
        // A real folder to list: files, folders, hidden ones, a name that is not UTF-8, and
        // links to a folder, to nothing and to themselves.
        const fs::path dir = core::encodeName(workDir.path()).toStdString();
        for (const char *name : {"README", "x.bspx", "ARENA.BSP", "arena.bsp", ".hidden.bsp",
                                 "a1.map", "mapa\xe7\xe3o.bsp"})
            std::ofstream{dir / name};
        for (const char *name : {"maps.bsp", ".git", "Beta", "alpha", "sa\xed"})
            fs::create_directory(dir / name);
        fs::create_symlink("sa\xed", dir / "link");
        fs::create_symlink("nowhere", dir / "gone.bsp");
        fs::create_symlink("loop", dir / "loop");
    }
    // QTemporaryDir cannot see names that are not UTF-8.
    void cleanupTestCase() { fs::remove_all(core::encodeName(workDir.path()).toStdString()); }

    void namesRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("escaped");  // holds bytes that are not UTF-8
        QTest::addColumn<QString>("shown"); // on one line, with U+FFFD for such bytes
        for (int b = 0; b < 256; ++b)
            QTest::addRow("byte %02x", b) << QByteArray(1, char(b)) << (b >= 0x80)
                                          << QString(QChar(b < 0x20    ? 0x2400 + b
                                                           : b == 0x7f ? 0x2421
                                                           : b < 0x80  ? b
                                                                       : 0xFFFD));
        const QByteArray utf8("\xc3\xa7\xe0\xa0\x80\xef\xbf\xbd\xf0\x9f\x97\xba\xf4\x8f\xbf\xbf");
        QTest::newRow("multi-byte") << utf8 << false << QString::fromUtf8(utf8);
        QTest::newRow("overlong, surrogate, above U+10FFFF")
            << QByteArray("\xc0\xaf\xc1\xbf\xe0\x80\xaf\xed\xa0\x80\xf4\x90\x80\x80") << true
            << QString(14, QChar::ReplacementCharacter);
    }

    void namesRoundTrip()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, escaped);
        QFETCH(QString, shown);
        const QString name = core::decodeName(bytes);
        QCOMPARE(core::encodeName(name), bytes);
        QCOMPARE(core::hasEscapedBytes(name), escaped);
        QVERIFY(escaped || name == QString::fromUtf8(bytes));
        QCOMPARE(core::displayName(name), shown);
    }

    void pathsAndDrives_data()
    {
        QTest::addColumn<PathCase>("c");
        auto row = [](const char *tag, const PathCase &c) { QTest::newRow(tag) << c; };
        row("dots", {"/media/", "./usb/./b/../c", "/media/usb/c", "/media/usb"});
        row("above the root", {"/", "../../x/..", "/", "/"});
        row("doubled separators, longer drive",
            {"/a", "//media//usb2//a//", "/media/usb2/a", "/media/usb2"});
        row("same start, no separator", {"/", "media/usbkey", "/media/usbkey", "/"});
        row("working directory", {"", "sub/..", "$cwd", "/"});
    }

    void pathsAndDrives()
    {
        QFETCH(PathCase, c);
        c.resolved.replace("$cwd", QDir::currentPath());
        QCOMPARE(core::absolutePath(c.base, c.path), c.resolved);
        QCOMPARE(core::longestDrive({"/", "/media/usb", "/media/usb2"}, c.resolved), c.drive);
        // Joining adds a separator only where there is none.
        QCOMPARE(core::joinPath(c.resolved, "x"), c.resolved == "/" ? "/x" : c.resolved + "/x");
    }

    void matching_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QStringList>("files");
        const QString odd = core::decodeName("mapa\xe7\xe3o.bsp");
        QTest::newRow("suffix, any case") << "*.bsp" << QStringList{"ARENA.BSP", "arena.bsp", odd};
        QTest::newRow("*.* takes names without a dot")
            << "*.*" << QStringList{"a1.map", "ARENA.BSP", "arena.bsp", odd, "README", "x.bspx"};
        QTest::newRow("list, any case") << "?1.MAP ; readme" << QStringList{"a1.map", "README"};
        QTest::newRow("escaped bytes as one character each") << "mapa??o.*" << QStringList{odd};
    }

    void matching()
    {
        QFETCH(QString, pattern);
        QFETCH(QStringList, files);
        const core::Listing entries = core::readDirectory(workDir.path()).value();
        // Hidden names and folders never show; case only breaks ties. Links count as what
        // they point to; dangling ones and loops are left out.
        QCOMPARE(core::matchingFiles(entries, pattern), files);
        QCOMPARE(core::sortedSubdirectories(entries),
                 QStringList({"alpha", "Beta", "link", "maps.bsp", core::decodeName("sa\xed")}));
    }

    void readingErrorsAndTheWorkingDirectory()
    {
        const QByteArray dir = core::encodeName(workDir.path());
        QCOMPARE(core::readDirectory(core::decodeName(dir + "/mapa\xe7\xe3o.bsp")).error(),
                 Error{ENOTDIR});
        QVERIFY(::chdir(dir + "/sa\xed") == 0);
        QCOMPARE(core::encodeName(core::workingDirectory()), dir + "/sa\xed");
    }

    void startingTheTool_data()
    {
        QTest::addColumn<StartCase>("c");
        auto row = [](const char *tag, const StartCase &c) { QTest::newRow(tag) << c; };
        row("both empty", {"", "", ""});
        row("hostile", {"", "-h\" -output \"/etc\n$(touch pwned);`id`|x&y", "~root '; rm -rf ~ #\t",
                        "exit 3"});
        row("bytes that are not UTF-8",
            {"", core::decodeName("/mapa\xe7\xe3o.bsp"), core::decodeName("/sa\xed"), "signal 9"});
        // A trailing "/" on the folder: one separator before the tool's name.
        row("folder in latin-1, quotes, trailing separator", {"o \"n\" \xe7\xe3o/", "a", "o"});
        row("no program folder", {"-", "a", "o", "", Error::NoProgramFolder});
        // What the OS itself refuses is reported, never cut short.
        row("NUL", {"", QString::fromLatin1("a\0b", 3), "o", "", Error::NulInArgument});
        row("200000 characters", {"", QString(200000, 'x'), "o", "", E2BIG});
    }

    void startingTheTool()
    {
        QFETCH(StartCase, c);
        const bool trailing = c.folder.endsWith('/');
        StubFolder stub(c.folder.chopped(trailing)), here, onPath;
        std::ofstream(stub.bytes.toStdString() + "/stub-mode") << c.mode.toStdString();
        // Neither a bspc.exe here or on PATH, nor a descriptor or a variable set
        // after start, ever reaches the tool.
        QVERIFY(QDir::setCurrent(here.folder()));
        qputenv("PATH", onPath.bytes + ':' + qgetenv("PATH"));
        qputenv("QT_QPA_PLATFORM", "set after start");
        const int leaked = ::open("/dev/null", O_RDONLY);
        const core::Result<core::Conversion> started = core::startConversion(
            c.folder == "-" ? QString() : stub.folder() + (trailing ? "/" : ""), c.bsp, c.map);
        ::close(leaked);
        QCOMPARE(started.error(), Error{c.error});
        std::optional<core::ToolExit> exit;
        if (started.ok())
            connect(started.value().run, &core::ToolRun::finished,
                    [&](const core::ToolExit &e) { exit = e; });
        QTRY_VERIFY_WITH_TIMEOUT(c.error || exit.has_value(), 10000);
        const QList<StubRecord> records = stub.records();
        QCOMPARE(records.size(), c.error ? 0 : 1);
        for (const StubRecord &r : records) {
            QVERIFY(exit->bySignal == c.mode.startsWith("signal") &&
                    exit->code == c.mode.mid(c.mode.indexOf(' ') + 1).toInt());
            QVERIFY(!QFile::exists(QString("/proc/%1").arg(r.pid))); // reaped, not a zombie
            QCOMPARE(r.argv, QList<QByteArray>({stub.tool(), "-bsp2map", core::encodeName(c.bsp),
                                                "-output", core::encodeName(c.map)}));
            QCOMPARE(r.exe + ' ' + r.cwd + ' ' + r.fds + ' ' + r.env,
                     stub.tool() + ' ' + here.bytes + " 0,1,2 " + platform);
        }
        QVERIFY(here.records().isEmpty() && onPath.records().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"
