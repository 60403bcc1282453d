// Faults and odd names that must neither break the window nor alter a path:
// names that are not UTF-8 picked in the chooser, tools that misbehave, many
// presses and a huge folder.
#include "abrir.h"
#include "form1.h"
#include "testkit.h"

#include <QAbstractItemView>
#include <QLineEdit>
#include <QPushButton>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class TestHostile : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QByteArray dirBytes() const { return core::encodeName(dir.path()); }

    static void touch(const QByteArray &path)
    {
        ::close(::open(path.constData(), O_CREAT | O_WRONLY, 0644));
    }

    // Opens the chooser from `button`, clicks `file` in its file list (if any) and presses "OK".
    static void choose(Form1 &window, const char *button, const QString &file)
    {
        QTimer::singleShot(0, &window, [&] {
            auto *chooser = window.findChild<Abrir *>();
            QVERIFY(chooser);
            if (!file.isEmpty()) {
                auto *files = chooser->findChild<QAbstractItemView *>("File1");
                const int row = int(column(files->model(), Qt::UserRole).indexOf(file));
                QVERIFY(row >= 0);
                QTest::mouseClick(files->viewport(), Qt::LeftButton, {},
                                  files->visualRect(files->model()->index(row, 0)).center());
            }
            chooser->findChild<QPushButton *>("cmbOk")->click();
        });
        QTest::mouseClick(window.findChild<QPushButton *>(button), Qt::LeftButton);
    }

private slots:
    void cleanupTestCase()
    {
        // QTemporaryDir cannot see names that are not UTF-8.
        QVERIFY(::chdir("/") == 0);
        std::error_code ignored;
        fs::remove_all(dirBytes().toStdString(), ignored);
    }

    void pickedNamesReachTheToolByteForByte_data()
    {
        QTest::addColumn<QByteArray>("folder");
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("file, BSP mode") << QByteArray("mapas") << QByteArray("mapa\xe7\xe3o.bsp");
        QTest::newRow("folder, MAP mode") << QByteArray("sa\xed"
                                                        "da")
                                          << QByteArray();
    }

    void pickedNamesReachTheToolByteForByte()
    {
        QFETCH(QByteArray, folder);
        QFETCH(QByteArray, file);
        const QByteArray where = dirBytes() + '/' + folder;
        QVERIFY(::mkdir(where.constData(), 0755) == 0 || errno == EEXIST);
        if (!file.isEmpty())
            touch(where + '/' + file);
        QVERIFY(::chdir(where.constData()) == 0);
        StubFolder stub;
        Form1 window(stub.folder());
        window.show();
        choose(window, file.isEmpty() ? "Command2" : "Command1", core::decodeName(file));
        window.findChild<QPushButton *>("Command3")->click();
        QVERIFY(stub.waitForRecords(1));
        const QList<QByteArray> argv = stub.records().first().argv;
        if (file.isEmpty())
            QCOMPARE(argv.value(4), where);
        else
            QCOMPARE(argv.value(2), where + '/' + file);
    }

    void misbehavingToolsNeverHoldTheWindow_data()
    {
        QTest::addColumn<QByteArray>("behaviour");
        QTest::newRow("exits at once") << QByteArray();
        QTest::newRow("never exits") << QByteArray("sleep");
        QTest::newRow("prints megabytes") << QByteArray("spam");
    }

    void misbehavingToolsNeverHoldTheWindow()
    {
        QFETCH(QByteArray, behaviour);
        StubFolder stub;
        std::ofstream(stub.bytes.toStdString() + "/stub-mode") << behaviour.toStdString();
        // The spam goes nowhere rather than into the test log.
        const int savedOut = ::dup(1);
        const int devNull = ::open("/dev/null", O_WRONLY);
        ::dup2(devNull, 1);
        auto window = std::make_unique<Form1>(stub.folder());
        window->show();
        for (int press = 0; press < 20; ++press)
            window->findChild<QPushButton *>("Command3")->click();
        const bool started = stub.waitForRecords(20);
        typeText(window->findChild<QLineEdit *>("txtBSP"), "ainda responde");
        window.reset(); // closing the program leaves the tools alone
        ::dup2(savedOut, 1);
        ::close(savedOut);
        ::close(devNull);
        QVERIFY(started);
        QCOMPARE(stub.records().size(), 20);
        for (const StubRecord &r : stub.records()) {
            const QString proc = QString("/proc/%1").arg(r.pid);
            if (behaviour == "sleep") {
                QVERIFY(QFile::exists(proc));
                ::kill(pid_t(r.pid), SIGKILL);
            }
            // Reaped once it ends: no zombie stays behind.
            QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(proc), 10000);
        }
    }

    void aMillionEntriesAreListed()
    {
        const QByteArray huge = dirBytes() + "/huge";
        QVERIFY(::mkdir(huge.constData(), 0755) == 0);
        char name[256];
        for (int i = 0; i < 1000000; ++i) {
            std::snprintf(name, sizeof name, "%s/%d.%s", huge.constData(), i,
                          i % 2 ? "bsp" : "txt");
            ::close(::open(name, O_CREAT | O_WRONLY, 0644));
        }
        QVERIFY(::chdir(huge.constData()) == 0);
        QLineEdit mode("BSP");
        Abrir chooser(&mode, nullptr);
        chooser.show();
        QCOMPARE(chooser.findChild<QAbstractItemView *>("File1")->model()->rowCount(), 500000);
        QVERIFY(QDir(dir.filePath("huge")).removeRecursively());
    }
};

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
