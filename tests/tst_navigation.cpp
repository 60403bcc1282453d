// Inside the open chooser: drives move the directory list, the directory
// list moves the file list, and a file click fills the name field.
#include "abrir.h"
#include "boxwatcher.h"
#include "choosertest.h"
#include "stubtool.h"
#include "ui_runtime.h"

#include <QtTest>

namespace {
// Fails every directory whose name ends in "locked", as a refused one would.
QString lockedReader(const QString &path, ui::Listing &entries)
{
    if (path.endsWith(QLatin1String("locked")))
        return QStringLiteral("permissão negada");
    ui::setDirectoryReader(nullptr);
    const QString result = ui::readDirectory(path, entries);
    ui::setDirectoryReader(lockedReader);
    return result;
}

QPoint centreOf(QAbstractItemView *view, int row)
{
    return view->visualRect(view->model()->index(row, 0)).center();
}

int rowNamed(QAbstractItemView *view, const QString &name)
{
    const QStringList rows = rowsOf(view);
    for (int i = 0; i < rows.size(); ++i) {
        if (rows[i] == name || rows[i].endsWith('/' + name))
            return i;
    }
    return -1;
}
} // namespace

class TestNavigation : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        // A fresh tree for every test, since tests remove parts of it.
        rootDir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir(root().path()).mkpath("maps/sub"));
        QVERIFY(QDir(root().path()).mkpath("other"));
        StubFolder::writeRaw(ui::encodeName(root().filePath("maps/arena.bsp")), "x");
        StubFolder::writeRaw(ui::encodeName(root().filePath("maps/sub/deep.bsp")), "x");
        StubFolder::writeRaw(ui::encodeName(root().filePath("other/far.bsp")), "x");
        QVERIFY(QDir::setCurrent(root().filePath("maps")));
        mode.setText("BSP");
        chooser = std::make_unique<Abrir>(&mode, nullptr);
        chooser->show();
        QVERIFY(QTest::qWaitForWindowExposed(chooser.get()));
    }

    void cleanup()
    {
        chooser.reset();
        ui::setDirectoryReader(nullptr);
    }

    void pickingADrive_data()
    {
        QTest::addColumn<QString>("drive");
        QTest::addColumn<QString>("expectedDir");
        QTest::addColumn<bool>("fails");
        QTest::newRow("readable drive opens its root") << "<other>"
                                                       << "<other>" << false;
        QTest::newRow("drive of the working dir opens it") << "<root>"
                                                           << "<maps>" << false;
        QTest::newRow("missing medium") << "/nonexistent/usb"
                                        << "<maps>" << true;
        QTest::newRow("unreadable drive") << "<root>/locked"
                                          << "<maps>" << true;
    }

    void pickingADrive()
    {
        QFETCH(QString, drive);
        QFETCH(QString, expectedDir);
        QFETCH(bool, fails);
        QDir(root().path()).mkdir("locked");
        ui::setDirectoryReader(lockedReader);
        drive = expand(drive);
        auto *drives = control<ui::DriveList>(*chooser, "Drive1");
        drives->setDrives({"/", drive});
        QCOMPARE(drives->drive(), QStringLiteral("/"));
        BoxWatcher boxes;
        QTest::keyClick(drives, Qt::Key_Down);
        QCOMPARE(dirs()->path(), expand(expectedDir));
        QCOMPARE(files()->path(), expand(expectedDir));
        QCOMPARE(boxes.seen.size(), fails ? 1 : 0);
        if (!fails) {
            QCOMPARE(drives->drive(), drive);
            return;
        }
        QCOMPARE(boxes.seen[0].title, QStringLiteral("Ops!"));
        QCOMPARE(boxes.seen[0].icon, QMessageBox::Critical);
        QVERIFY(boxes.seen[0].text.startsWith("Não foi possível abrir a unidade " + drive + ": "));
        // Back on the drive that the lists show, so the same drive can be tried again.
        QCOMPARE(drives->drive(), QStringLiteral("/"));
        QTest::keyClick(drives, Qt::Key_Down);
        QCOMPARE(boxes.seen.size(), 2);
        QCOMPARE(rowsOf(files()), QStringList({"arena.bsp"}));
    }

    void openingFollowsButHighlightingDoesNot()
    {
        const int sub = rowNamed(dirs(), "sub");
        QVERIFY(sub >= 0);
        QTest::mouseClick(dirs()->viewport(), Qt::LeftButton, {}, centreOf(dirs(), sub));
        QCOMPARE(files()->path(), root().filePath("maps"));
        QCOMPARE(rowsOf(files()), QStringList({"arena.bsp"}));
        QTest::mouseDClick(dirs()->viewport(), Qt::LeftButton, {}, centreOf(dirs(), sub));
        QCOMPARE(dirs()->path(), root().filePath("maps/sub"));
        QCOMPARE(files()->path(), root().filePath("maps/sub"));
        QCOMPARE(rowsOf(files()), QStringList({"deep.bsp"}));
    }

    void aFileClickFillsTheNameField_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("expected");
        QTest::newRow("folder") << "<maps>"
                                << "<maps>/arena.bsp";
        QTest::newRow("root, one separator") << "/"
                                             << "/arena.bsp";
    }

    void aFileClickFillsTheNameField()
    {
        QFETCH(QString, folder);
        QFETCH(QString, expected);
        files()->setListing(expand(folder), {{"arena.bsp", false}});
        typeText(nameField(), "typed by hand");
        QTest::mouseClick(files()->viewport(), Qt::LeftButton, {}, centreOf(files(), 0));
        QCOMPARE(nameField()->text(), expand(expected));
        // Moving on leaves the name alone.
        QTest::mouseDClick(dirs()->viewport(), Qt::LeftButton, {},
                           centreOf(dirs(), rowNamed(dirs(), "sub")));
        QCOMPARE(nameField()->text(), expand(expected));
    }

    void keyboardSelectionFillsTheNameField()
    {
        StubFolder::writeRaw(ui::encodeName(root().filePath("maps/b.bsp")), "x");
        QTest::mouseDClick(dirs()->viewport(), Qt::LeftButton, {},
                           centreOf(dirs(), rowNamed(dirs(), "maps")));
        files()->setFocus();
        QTest::keyClick(files(), Qt::Key_Down);
        QTest::keyClick(files(), Qt::Key_Down);
        QCOMPARE(nameField()->text(), root().filePath("maps/b.bsp"));
    }

    void aDoubleClickOnAFileOnlySelectsIt()
    {
        QTest::mouseDClick(files()->viewport(), Qt::LeftButton, {}, centreOf(files(), 0));
        QVERIFY(chooser->isVisible());
        QCOMPARE(chooser->result(), 0);
        QCOMPARE(nameField()->text(), root().filePath("maps/arena.bsp"));
    }

    void aDirectoryThatCannotBeListedIsReported_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("removed while shown") << "removed";
        QTest::newRow("refused") << "locked";
    }

    void aDirectoryThatCannotBeListedIsReported()
    {
        QFETCH(QString, how);
        QVERIFY(QDir(root().path()).mkpath("maps/locked"));
        ui::setDirectoryReader(lockedReader);
        QTest::mouseDClick(dirs()->viewport(), Qt::LeftButton, {},
                           centreOf(dirs(), rowNamed(dirs(), "maps")));
        const QString target = how == "removed" ? "sub" : "locked";
        const int row = rowNamed(dirs(), target);
        QVERIFY(row >= 0);
        if (how == "removed")
            QVERIFY(QDir(root().filePath("maps/sub")).removeRecursively());
        BoxWatcher boxes;
        QTest::mouseDClick(dirs()->viewport(), Qt::LeftButton, {}, centreOf(dirs(), row));
        QCOMPARE(boxes.seen.size(), 1);
        QCOMPARE(boxes.seen[0].title, QStringLiteral("Ops!"));
        QVERIFY2(boxes.seen[0].text.startsWith("Não foi possível abrir o diretório " +
                                               root().filePath("maps/" + target) + ": "),
                 qPrintable(boxes.seen[0].text));
        QCOMPARE(dirs()->path(), root().filePath("maps"));
        QCOMPARE(files()->path(), root().filePath("maps"));
        // Still usable afterwards.
        QTest::mouseDClick(dirs()->viewport(), Qt::LeftButton, {},
                           centreOf(dirs(), rowNamed(dirs(), QFileInfo(root().path()).fileName())));
        QCOMPARE(dirs()->path(), root().path());
        QCOMPARE(files()->path(), root().path());
    }

    void theCurrentFolderVanishingIsReported()
    {
        QTest::mouseDClick(dirs()->viewport(), Qt::LeftButton, {},
                           centreOf(dirs(), rowNamed(dirs(), "sub")));
        QVERIFY(QDir(root().filePath("maps/sub")).removeRecursively());
        BoxWatcher boxes;
        dirs()->setFocus();
        QTest::keyClick(dirs(), Qt::Key_Return);
        QCOMPARE(boxes.seen.size(), 1);
        QVERIFY(boxes.seen[0].text.contains(QStringLiteral("arquivo não encontrado")));
        QCOMPARE(rowsOf(files()), QStringList({"deep.bsp"}));
    }

private:
    QString expand(QString text) const
    {
        text.replace("<root>", root().path());
        text.replace("<maps>", root().filePath("maps"));
        text.replace("<other>", root().filePath("other"));
        return text;
    }
    ui::DirList *dirs() const { return control<ui::DirList>(*chooser, "Dir1"); }
    ui::FileList *files() const { return control<ui::FileList>(*chooser, "File1"); }
    QLineEdit *nameField() const { return control<QLineEdit>(*chooser, "Text1"); }

    std::unique_ptr<QTemporaryDir> rootDir;
    QTemporaryDir &root() const { return *rootDir; }
    QLineEdit mode;
    std::unique_ptr<Abrir> chooser;
};

QTEST_MAIN(TestNavigation)
#include "tst_navigation.moc"
