// The drive, folder and file lists against real directories.
#include "ui_runtime.h"

#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

using namespace ui;

namespace {

const QByteArray undecodable("mapa\xe7\xe3o.bsp");
const QString refusal = QStringLiteral("leitura recusada");

QString refuse(const QString &, Listing &)
{
    return refusal;
}

QStringList column(const QAbstractItemModel *model, int role = Qt::DisplayRole)
{
    QStringList values;
    for (int row = 0; row < model->rowCount(); ++row)
        values.append(model->index(row, 0).data(role).toString());
    return values;
}

QPoint centre(const QAbstractItemView *view, int row)
{
    return view->visualRect(view->model()->index(row, 0)).center();
}

QList<QVariantList> calls(const QSignalSpy &spy)
{
    return spy;
}

// Rows of two string columns: {row name, first, second}.
template <int N> void addRows(const char *const (&rows)[N][3])
{
    for (const auto &row : rows)
        QTest::newRow(row[0]) << QString(row[1]) << QString(row[2]);
}

} // namespace

class TestListControls : public QObject {
    Q_OBJECT

    QTemporaryDir tmp;
    QString root; // canonical, so that it equals what getcwd reports

    QString at(const QString &relative) const { return root + '/' + relative; }

private slots:
    void initTestCase()
    {
        root = QDir(tmp.path()).canonicalPath();
        QVERIFY(QDir::setCurrent(root));
        for (const char *dir : {"x.bsp", "beta/deep", "Alpha", "alpha", ".git"})
            QVERIFY(QDir(root).mkpath(dir));
        for (const char *file :
             {"b.bsp", "ARENA.BSP", "arena.bsp", "Zeta.map", "noext", "a.bsp.txt", ".hidden.bsp"})
            QVERIFY(QFile(at(file)).open(QIODevice::WriteOnly));
        const QByteArray base = encodeName(root) + '/';
        const int fd = ::open((base + undecodable).constData(), O_CREAT | O_WRONLY, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
        const char *const links[][2] = {{"nowhere", "gone.bsp"},
                                        {"loop.bsp", "loop.bsp"},
                                        {"b.bsp", "link.bsp"},
                                        {"beta", "linkdir"}};
        for (const auto &link : links)
            QCOMPARE(::symlink(link[0], (base + link[1]).constData()), 0);
    }

    void cleanupTestCase()
    {
        // QTemporaryDir cannot name this file to remove it.
        QCOMPARE(::unlink((encodeName(root) + '/' + undecodable).constData()), 0);
    }

    void cleanup() { setDirectoryReader(nullptr); }

    void filePattern_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QStringList>("expected");
        const QString mapa = decodeName(undecodable);
        const QStringList bsp{"ARENA.BSP", "arena.bsp", "b.bsp", "link.bsp", mapa};
        QTest::newRow("suffix") << "*.bsp" << bsp;
        QTest::newRow("suffix in other case") << "*.Bsp" << bsp;
        QTest::newRow("star dot star takes all")
            << "*.*" << QStringList{"a.bsp.txt", "ARENA.BSP", "arena.bsp", "b.bsp",
                                    "link.bsp",  mapa,        "noext",     "Zeta.map"};
        QTest::newRow("prefix") << "A*" << QStringList{"a.bsp.txt", "ARENA.BSP", "arena.bsp"};
        QTest::newRow("question mark") << "?.BSP" << QStringList{"b.bsp"};
        QTest::newRow("undecodable bytes") << "MAPA*O.bsp" << QStringList{mapa};
        QTest::newRow("alternatives") << "*.map; *.txt" << QStringList{"a.bsp.txt", "Zeta.map"};
        QTest::newRow("nothing") << "*.pk3" << QStringList{};
    }

    void filePattern()
    {
        QFETCH(QString, pattern);
        QFETCH(QStringList, expected);
        FileList files;
        QCOMPARE(files.setPath(root), QString());
        setDirectoryReader(refuse); // a new pattern filters what was read, no second pass
        files.setPattern(pattern);
        QCOMPARE(column(files.model(), Qt::UserRole), expected);
        const bool escaped = expected.contains(decodeName(undecodable));
        QCOMPARE(column(files.model()).join('|').contains(QStringLiteral("mapa\uFFFD")), escaped);
        setDirectoryReader(nullptr);
        Listing listing;
        QCOMPARE(readDirectory(root, listing), QString());
        QCOMPARE(matchingFiles(listing, pattern), expected);
    }

    void dirRows_data()
    {
        QTest::addColumn<QString>("sub");
        QTest::addColumn<QStringList>("children");
        QTest::addColumn<int>("entries"); // all but the dangling link and the loop
        QTest::newRow("temporary folder")
            << "" << QStringList{"Alpha", "alpha", "beta", "linkdir", "x.bsp"} << 15;
        QTest::newRow("one down") << "beta" << QStringList{"deep"} << 1;
        QTest::newRow("through a link") << "linkdir" << QStringList{"deep"} << 1;
        QTest::newRow("leaf") << "beta/deep" << QStringList{} << 0;
    }

    void dirRows()
    {
        QFETCH(QString, sub);
        QFETCH(QStringList, children);
        QFETCH(int, entries);
        DirList dir;
        QCOMPARE(dir.path(), root); // it starts on the working directory
        QCOMPARE(dir.setPath(sub), QString());
        const QString open = sub.isEmpty() ? root : at(sub);
        QCOMPARE(dir.path(), open);
        const QStringList chain = QStringList{"/"} + open.split('/', Qt::SkipEmptyParts);
        QCOMPARE(column(dir.model()), chain + children);
        QStringList indents;
        for (int i = 0; i < chain.size() + children.size(); ++i)
            indents.append(QString::number(qMin<qsizetype>(i, chain.size())));
        QCOMPARE(column(dir.model(), DirList::IndentRole), indents);
        QCOMPARE(dir.currentIndex().row(), chain.size() - 1);
        QCOMPARE(dir.currentIndex().data(DirList::PathRole).toString(), open);
        for (const QString &child : children)
            QVERIFY(column(dir.model(), DirList::PathRole).contains(open + '/' + child));
        QCOMPARE(dir.listing().size(), entries);
    }

    void dirOpening_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("row");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<QString>("expected");
        const QString parent = QFileInfo(root).path(), self = QFileInfo(root).fileName();
        const QString beta("beta"), dclick("dclick");
        QTest::newRow("double-click") << dclick << beta << false << at(beta);
        QTest::newRow("double-click event alone") << QString("event") << beta << false << at(beta);
        QTest::newRow("return") << QString("return") << beta << false << at(beta);
        QTest::newRow("enter") << QString("enter") << QString("x.bsp") << false << at("x.bsp");
        QTest::newRow("single click") << QString("click") << beta << false << root;
        QTest::newRow("open folder again") << dclick << self << false << root;
        QTest::newRow("parent") << dclick << QFileInfo(parent).fileName() << false << parent;
        QTest::newRow("refused") << dclick << beta << true << root;
    }

    void dirOpening()
    {
        QFETCH(QString, action);
        QFETCH(QString, row);
        QFETCH(bool, refused);
        QFETCH(QString, expected);
        DirList dir;
        dir.resize(300, 400);
        dir.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dir));
        QSignalSpy changed(&dir, &DirList::pathChanged);
        QSignalSpy failed(&dir, &DirList::openFailed);
        if (refused)
            setDirectoryReader(refuse);
        const int index = column(dir.model()).indexOf(row);
        QVERIFY(index >= 0);
        const QPoint point = centre(&dir, index);
        if (action == "event") {
            QTest::mouseDClick(dir.viewport(), Qt::LeftButton, {}, point);
        } else if (action == "dclick") {
            // What a real double-click delivers: press, release, double-click, release.
            QTest::mouseClick(dir.viewport(), Qt::LeftButton, {}, point);
            QTest::mouseDClick(dir.viewport(), Qt::LeftButton, {}, point);
            QTest::mouseRelease(dir.viewport(), Qt::LeftButton, {}, point);
        } else {
            QTest::mouseClick(dir.viewport(), Qt::LeftButton, {}, point);
            if (action != "click")
                QTest::keyClick(&dir, action == "enter" ? Qt::Key_Enter : Qt::Key_Return);
        }
        QCOMPARE(dir.path(), expected);
        const bool moved = expected != root;
        const QList<QVariantList> none, opened{{expected}}, failure{{at("beta"), refusal}};
        QCOMPARE(calls(changed), moved ? opened : none);
        QCOMPARE(calls(failed), refused ? failure : none);
        // Opened: the new folder's row; otherwise the row clicked stays highlighted.
        QCOMPARE(dir.currentIndex().data().toString(),
                 moved ? QFileInfo(expected).fileName() : row);
    }

    void dirSetPath_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("emitted");
        QTest::addColumn<QString>("expected"); // empty: the last step fails
        QTest::newRow("same path") << QStringList{root, root + "/"} << 0 << root;
        QTest::newRow("down and back") << QStringList{"beta", ".."} << 2 << root;
        QTest::newRow("dots and separators")
            << QStringList{"./beta/.//deep/"} << 1 << at("beta/deep");
        QTest::newRow("link kept by name") << QStringList{"linkdir/deep/.."} << 1 << at("linkdir");
        QTest::newRow("above the root") << QStringList{"/../.."} << 1 << "/";
        QTest::newRow("missing") << QStringList{"missing"} << 0 << "";
        QTest::newRow("a file") << QStringList{"b.bsp"} << 0 << "";
        QTest::newRow("reader refuses") << QStringList{"refuse"} << 0 << "";
    }

    void dirSetPath()
    {
        QFETCH(QStringList, steps);
        QFETCH(int, emitted);
        QFETCH(QString, expected);
        DirList dir;
        FileList files;
        QCOMPARE(files.setPath(root), QString());
        const QStringList dirRows = column(dir.model()), fileRows = column(files.model());
        const qsizetype entries = dir.listing().size();
        QSignalSpy changed(&dir, &DirList::pathChanged);
        if (steps.first() == "refuse")
            setDirectoryReader(refuse);
        QString reason;
        for (const QString &step : steps) {
            reason = dir.setPath(step);
            QCOMPARE(files.setPath(step), reason);
        }
        QCOMPARE(reason.isEmpty(), !expected.isEmpty());
        QCOMPARE(changed.count(), emitted);
        if (emitted)
            QCOMPARE(changed.last().first().toString(), expected);
        if (!expected.isEmpty()) {
            QCOMPARE(dir.path(), expected);
            QCOMPARE(files.path(), expected);
            return;
        }
        if (steps.first() == "refuse")
            QCOMPARE(reason, refusal);
        QCOMPARE(dir.path(), root); // nothing of a failed open is kept
        QCOMPARE(column(dir.model()), dirRows);
        QCOMPARE(dir.listing().size(), entries);
        QCOMPARE(files.path(), root);
        QCOMPARE(column(files.model()), fileRows);
    }

    void sameSetPathRereads()
    {
        QTemporaryDir fresh;
        DirList dir;
        QCOMPARE(dir.setPath(fresh.path()), QString());
        QVERIFY(QDir(fresh.path()).mkdir("new"));
        QSignalSpy changed(&dir, &DirList::pathChanged);
        QCOMPARE(dir.setPath(fresh.path()), QString());
        QCOMPARE(column(dir.model()).last(), QString("new"));
        QCOMPARE(changed.count(), 0);
    }

    void fileClicked_data()
    {
        QTest::addColumn<int>("before"); // row clicked first, -1 for none
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("clicks");
        QTest::addColumn<QString>("selected");
        QTest::newRow("mouse, new row") << 0 << "click 2" << 1 << "b.bsp";
        QTest::newRow("mouse, current row") << 1 << "click 1" << 1 << "arena.bsp";
        QTest::newRow("undecodable name") << 0 << "click 4" << 1 << decodeName(undecodable);
        QTest::newRow("double-click event alone") << 0 << "dclick 3" << 1 << "link.bsp";
        QTest::newRow("down key") << 0 << "down" << 1 << "arena.bsp";
        QTest::newRow("down key, none current") << -1 << "down" << 1 << "ARENA.BSP";
        QTest::newRow("focus by tab") << -1 << "focus" << 0 << "";
        QTest::newRow("setPath") << 0 << "path" << 0 << "";
        QTest::newRow("setPattern") << 0 << "pattern" << 0 << "";
        QTest::newRow("setListing") << 0 << "listing" << 0 << "";
    }

    void fileClicked()
    {
        QFETCH(int, before);
        QFETCH(QString, action);
        QFETCH(int, clicks);
        QFETCH(QString, selected);
        FileList files;
        files.resize(300, 400);
        files.show();
        QVERIFY(QTest::qWaitForWindowExposed(&files));
        QCOMPARE(files.setPath(root), QString());
        files.setPattern("*.bsp");
        if (before >= 0)
            QTest::mouseClick(files.viewport(), Qt::LeftButton, {}, centre(&files, before));
        QStringList seen; // what the window reads in its slot
        connect(&files, &FileList::fileClicked, this, [&] { seen.append(files.fileName()); });
        const int row = action.back().digitValue();
        if (action.startsWith("click"))
            QTest::mouseClick(files.viewport(), Qt::LeftButton, {}, centre(&files, row));
        else if (action.startsWith("dclick"))
            QTest::mouseDClick(files.viewport(), Qt::LeftButton, {}, centre(&files, row));
        else if (action == "down")
            QTest::keyClick(&files, Qt::Key_Down);
        else if (action == "path")
            QCOMPARE(files.setPath(root), QString());
        else if (action == "pattern")
            files.setPattern("*.BSP");
        else if (action == "listing")
            files.setListing(root, Listing{{"z.bsp", false}});
        else {
            // Focus by Tab moves the current row to the first file, yet nothing was picked.
            QFocusEvent focusIn(QEvent::FocusIn, Qt::TabFocusReason);
            QApplication::sendEvent(&files, &focusIn);
            QCOMPARE(files.currentIndex().row(), 0);
        }
        QCOMPARE(seen, clicks ? QStringList{selected} : QStringList{});
        QCOMPARE(files.fileName(), selected);
    }

    void fileListPath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        addRows({{"root", "/", "/"}, {"doubled root", "//", "/"}});
        QTest::newRow("trailing separator") << root + "/" << root;
        QTest::newRow("relative") << "beta//deep/" << at("beta/deep");
    }

    void fileListPath()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        FileList files;
        QCOMPARE(files.path(), QString());
        QCOMPARE(files.pattern(), QString("*.*"));
        QCOMPARE(files.setPath(path), QString());
        QCOMPARE(files.path(), expected);
        FileList given;
        given.setListing(path, {});
        QCOMPARE(given.path(), expected);
    }

    void driveList()
    {
        DriveList real;
        QCOMPARE(real.itemText(0), QString("/"));
        QCOMPARE(real.drive(), real.driveOf(root));
        QCOMPARE(driveCurrentDirectory(real.drive()), root);
        QCOMPARE(driveCurrentDirectory("/media/sem-cwd"), QString("/media/sem-cwd"));
        if (real.drive() != "/")
            QCOMPARE(driveCurrentDirectory("/"), QString("/"));

        DriveList drives;
        drives.setDrives({"/", "/media/usb", "/mnt/dados"});
        QCOMPARE(column(drives.model()), (QStringList{"/", "/media/usb", "/mnt/dados"}));
        QCOMPARE(drives.drive(), QString("/"));
        QSignalSpy changed(&drives, &DriveList::driveChanged);
        drives.setDrive("/media/usb");
        QCOMPARE(drives.drive(), QString("/media/usb"));
        QTest::keyClick(&drives, Qt::Key_Down);
        QTest::keyClick(&drives, Qt::Key_Down); // already the last one
        QTest::keyClick(&drives, Qt::Key_Up);
        drives.showPopup(); // the drive already shown, picked again, changes nothing
        QTest::keyClick(drives.view(), Qt::Key_Return);
        drives.showPopup();
        QTest::keyClick(drives.view(), Qt::Key_Up);
        QTest::keyClick(drives.view(), Qt::Key_Return);
        QCOMPARE(calls(changed), (QList<QVariantList>{{"/mnt/dados"}, {"/media/usb"}, {"/"}}));
        QCOMPARE(drives.drive(), QString("/"));
    }

    void setDrives_data()
    {
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<QString>("expected");
        QTest::newRow("current kept") << QStringList{"/", "/media/usb"} << "/media/usb";
        QTest::newRow("working directory's") << QStringList{"/mnt/x", "/"} << "/";
        QTest::newRow("first") << QStringList{"/mnt/x", "/mnt/y"} << "/mnt/x";
    }

    void setDrives()
    {
        QFETCH(QStringList, list);
        QFETCH(QString, expected);
        DriveList drives;
        drives.setDrives({"/", "/media/usb", "/mnt/x"});
        drives.setDrive("/media/usb");
        QSignalSpy changed(&drives, &DriveList::driveChanged);
        drives.setDrives(list);
        QCOMPARE(drives.drive(), expected);
        QCOMPARE(changed.count(), 0);
    }

    void driveOf_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        addRows({{"root", "/", "/"},
                 {"elsewhere", "/home/ana", "/"},
                 {"mount point", "/media/usb", "/media/usb"},
                 {"inside", "/media/usb/mapas", "/media/usb"},
                 {"longest wins", "/media/usb/in/a", "/media/usb/in"},
                 {"name prefix only", "/media/usbx", "/"},
                 {"relative", "media/usb", ""}});
    }

    void driveOf()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        DriveList drives;
        drives.setDrives({"/", "/media/usb/in", "/media/usb"});
        QCOMPARE(drives.driveOf(path), expected);
    }
};

QTEST_MAIN(TestListControls)
#include "tst_listcontrols.moc"
