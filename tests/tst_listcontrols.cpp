// The drive, folder and file lists against real directories.
#include "dirlist.h"
#include "drivelist.h"
#include "filelist.h"
#include "testkit.h"

using namespace core;

namespace {
const QByteArray undecodable("mapa\xe7\xe3o.bsp");

QString refuse(const QString &, Listing &)
{
    return QStringLiteral("leitura recusada");
}
} // namespace

class TestListControls : public QObject {
    Q_OBJECT

    QTemporaryDir tmp;
    QString root = QDir(tmp.path()).canonicalPath(); // as getcwd reports it
    QStringList rootRows = QStringList("/") + root.split('/', Qt::SkipEmptyParts);

private slots:
    void initTestCase()
    {
        QVERIFY(QDir::setCurrent(root));
        for (const char *dir : {"beta/deep", "Alpha", "alpha", ".git"})
            QVERIFY(QDir(root).mkpath(dir));
        const fs::path base = encodeName(root).toStdString();
        for (const char *file : {"b.bsp", "ARENA.BSP", "arena.bsp", "Zeta.map", ".hidden.bsp"})
            std::ofstream{base / file};
        std::ofstream{base / undecodable.toStdString()};
        fs::create_symlink("nowhere", base / "gone.bsp");
        fs::create_symlink("loop.bsp", base / "loop.bsp");
    }

    // QTemporaryDir cannot name the undecodable file to remove it.
    void cleanupTestCase() { fs::remove_all(encodeName(root).toStdString()); }

    void cleanup() { setDirectoryReader(nullptr); }

    void listing()
    {
        FileList files;
        Listing read;
        QCOMPARE(readDirectory(root, read), QString());
        files.setListing(root, read);
        // Case only breaks ties; hidden names, dangling links and loops are left out.
        QCOMPARE(
            column(files.model(), Qt::UserRole),
            QStringList({"ARENA.BSP", "arena.bsp", "b.bsp", decodeName(undecodable), "Zeta.map"}));
        QVERIFY(column(files.model()).contains(QStringLiteral("mapa\uFFFD\uFFFDo.bsp")));
        files.setCurrentIndex(files.model()->index(3, 0));
        QCOMPARE(encodeName(files.fileName()), undecodable);
        DirList dir;
        QCOMPARE(dir.setPath("//"), QString());
        QCOMPARE(dir.path(), QStringLiteral("/"));
        DriveList real;
        QCOMPARE(real.itemText(0), QStringLiteral("/"));
        QCOMPARE(real.currentData(Qt::UserRole).toString(), real.driveOf(root));
    }

    void setPath_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("emitted"); // listingRead; -1 when the last step fails
        QTest::addColumn<QString>("opened");
        QTest::addColumn<QStringList>("rows"); // below the root's
        const QStringList top{"Alpha", "alpha", "beta"};
        QTest::newRow("same path") << QStringList{root, root + "/"} << 2 << "" << top;
        QTest::newRow("down") << QStringList("beta") << 1 << "/beta" << QStringList{"beta", "deep"};
        QTest::newRow("down and back") << QStringList{"beta", ".."} << 2 << "" << top;
        QTest::newRow("dots and separators")
            << QStringList("./beta/.//deep/") << 1 << "/beta/deep" << QStringList{"beta", "deep"};
        QTest::newRow("missing") << QStringList("missing") << -1 << "" << top;
        QTest::newRow("a file") << QStringList("b.bsp") << -1 << "" << top;
        QTest::newRow("reader refuses") << QStringList("refuse") << -1 << "" << top;
    }

    void setPath()
    {
        QFETCH(QStringList, steps);
        QFETCH(int, emitted);
        QFETCH(QString, opened);
        QFETCH(QStringList, rows);
        DirList dir;
        FileList files;
        files.setListing(dir.path(), dir.listing());
        connect(&dir, &DirList::listingRead, &files,
                [&](const QString &path) { files.setListing(path, dir.listing()); });
        const QStringList fileRows = column(files.model());
        QSignalSpy changed(&dir, &DirList::listingRead), picked(&files, &FileList::fileClicked);
        if (steps[0] == "refuse")
            setDirectoryReader(refuse);
        QString reason;
        for (const QString &step : steps) {
            reason = dir.setPath(step);
        }
        // A failed step changes nothing.
        QCOMPARE(reason.isEmpty(), emitted >= 0);
        QCOMPARE(changed.count(), qMax(emitted, 0));
        opened.prepend(root);
        QCOMPARE(picked.count(), 0); // only the user picks files
        QCOMPARE(dir.path(), opened);
        QCOMPARE(files.path(), opened);
        // The folders from the root down to the open one, then its children.
        QCOMPARE(column(dir.model()), rootRows + rows);
        QCOMPARE(column(files.model()) == fileRows, emitted < 0 || opened == root);
    }

    void setDrives_data()
    {
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("above"); // what the Up key then picks, "" for nothing
        QTest::newRow("working directory's")
            << QStringList{"/mnt/x", "/"} << "/" << QString("/mnt/x");
        QTest::newRow("first") << QStringList{"/mnt/x", "/mnt/y"} << "/mnt/x" << QString();
    }

    void setDrives()
    {
        QFETCH(QStringList, list);
        QFETCH(QString, expected);
        QFETCH(QString, above);
        DriveList drives;
        QSignalSpy changed(&drives, &DriveList::driveChanged);
        drives.setDrives(list);
        QCOMPARE(column(drives.model()), list);
        QCOMPARE(drives.currentData(Qt::UserRole).toString(), expected);
        // Only what the user picks is announced.
        QTest::keyClick(&drives, Qt::Key_Up);
        QCOMPARE(drives.currentData(Qt::UserRole).toString(), above.isEmpty() ? expected : above);
        QCOMPARE(QList<QVariantList>(changed),
                 above.isEmpty() ? QList<QVariantList>() : QList<QVariantList>{{above}});
    }
};

QTEST_MAIN(TestListControls)
#include "tst_listcontrols.moc"
