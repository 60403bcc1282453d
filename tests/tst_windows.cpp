// The main window and the chooser: their layouts and keyboard, the launch the
// window starts, what the chooser hands back, and moving through drives,
// folders and files inside it.
#include "abrir.h"
#include "application.h"
#include "form1.h"
#include "dirlist.h"
#include "drivelist.h"
#include "filelist.h"
#include "testkit.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <functional>
#include <stdexcept>

namespace {
// Fails every directory whose name ends in "locked", as a refused one would.
QString lockedReader(const QString &path, core::Listing &entries)
{
    if (path.endsWith(QLatin1String("locked")))
        return QStringLiteral("permissão negada");
    core::setDirectoryReader(nullptr);
    const QString result = core::readDirectory(path, entries);
    core::setDirectoryReader(lockedReader);
    return result;
}

QRect pixels(const QRect &t)
{
    return QRect(ui::twipsToPixels(t.x()), ui::twipsToPixels(t.y()), ui::twipsToPixels(t.width()),
                 ui::twipsToPixels(t.height()));
}

// `twice` sends the double-click event alone; after a click on the row that makes a real one.
void clickRow(QAbstractItemView *view, const QString &row, bool twice = false)
{
    const int index = int(column(view->model(), Qt::UserRole).indexOf(row));
    QVERIFY2(index >= 0, qPrintable(row));
    const QPoint at = view->visualRect(view->model()->index(index, 0)).center();
    if (twice)
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
    else
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
}

// Presses `button` of `window` and, once the chooser shows modally, runs
// `work` on it and cancels it if still open. Returns whether it opened.
bool inChooser(Form1 &window, const char *button, const std::function<void(Abrir &)> &work)
{
    QObject context; // a chooser that never opens leaves no call behind
    bool opened = false;
    QTimer::singleShot(0, &context, [&] {
        if (auto *chooser = qobject_cast<Abrir *>(QApplication::activeModalWidget())) {
            opened = true;
            work(*chooser);
            if (chooser->isVisible())
                chooser->reject();
        }
    });
    QTest::mouseClick(window.findChild<QPushButton *>(button), Qt::LeftButton);
    return opened;
}
} // namespace

class TestWindows : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> tree;
    QString root;
    std::unique_ptr<StubFolder> stub;
    std::unique_ptr<Form1> window;
    QLineEdit mode;
    std::unique_ptr<Abrir> chooser; // on its own, in BSP mode
    const QStringList bspFiles{"arena.bsp", "B.BSP", "c.Bsp"};

    QString at(const QString &path) const { return root + '/' + path; }
    // Full paths for the folder list, names for the file list.
    static QStringList rowsOf(QAbstractItemView *view)
    {
        return column(view->model(), Qt::UserRole);
    }
    QLineEdit *field(const char *name) const { return window->findChild<QLineEdit *>(name); }
    DirList *dirs() const { return chooser->findChild<DirList *>("Dir1"); }
    FileList *files() const { return chooser->findChild<FileList *>("File1"); }
    QLineEdit *nameField() const { return chooser->findChild<QLineEdit *>("Text1"); }

private slots:
    void init()
    {
        core::setDirectoryReader(nullptr);
        // A fresh tree for every test, since tests remove parts of it.
        tree = std::make_unique<QTemporaryDir>();
        root = QDir(tree->path()).canonicalPath();
        for (const char *dir : {"maps/sub", "maps/x.bsp", "maps/locked", "other"})
            QVERIFY(QDir(root).mkpath(dir));
        for (const char *file : {"maps/arena.bsp", "maps/B.BSP", "maps/c.Bsp", "maps/d.map",
                                 "maps/e.bspx", "maps/.hidden.bsp", "maps/sub/deep.bsp"})
            QVERIFY(QFile(at(file)).open(QIODevice::WriteOnly));
        QVERIFY(QDir::setCurrent(at("maps")));
        stub = std::make_unique<StubFolder>();
        window = std::make_unique<Form1>(stub->folder());
        window->show();
        mode.setText("BSP");
        chooser = std::make_unique<Abrir>(&mode, nullptr);
        chooser->show();
        QVERIFY(QTest::qWaitForWindowExposed(chooser.get()));
    }

    void layout_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("twips");
        QTest::addColumn<QString>("next"); // where Tab goes from it, "" if it takes no focus
        QTest::addColumn<bool>("visible");
        // Tagged with the window ("main", or the chooser's mode) and the control.
        auto row = [](const QString &tag, const char *kind, const QString &text, const QRect &twips,
                      const QString &next, bool visible = true) {
            QTest::newRow(qPrintable(tag)) << kind << text << twips << next << visible;
        };
        row("main txtBSP", "QLineEdit", "", QRect(120, 600, 4575, 315), "Command1");
        row("main Command1", "QPushButton", "...", QRect(4800, 600, 255, 315), "txtMAP");
        row("main txtMAP", "QLineEdit", "", QRect(120, 1320, 4575, 315), "Command2");
        row("main Command2", "QPushButton", "...", QRect(4800, 1320, 255, 315), "Command3");
        row("main Label1", "QLabel", "Selecione arquivo BSP", QRect(180, 300, 1995, 255), "");
        row("main Label2", "QLabel", "Selecione o diretório destino", QRect(180, 1020, 3195, 255),
            "");
        row("main txtOperacao", "QLineEdit", "", QRect(120, 1800, 1035, 285), "", false);
        row("main Command3", "QPushButton", "Descompilar", QRect(1740, 1740, 1395, 495), "txtBSP");
        const QList<std::tuple<QString, const char *, QString, QRect, QString>> chooserDesign{
            {"cmbCanc", "QPushButton", "Cancelar", QRect(6480, 1020, 1515, 435), "cmbOk"},
            {"cmbOk", "QPushButton", "OK", QRect(6480, 360, 1515, 435), "Text1"},
            {"Text1", "QLineEdit", "", QRect(0, 3840, 6315, 315), "File1"},
            {"File1", "FileList", "", QRect(2820, 360, 3495, 3015), "Dir1"},
            {"Dir1", "DirList", "", QRect(0, 360, 2775, 3015), "Drive1"},
            {"Drive1", "DriveList", "", QRect(0, 0, 2775, 315), "cmbCanc"},
            {"Label1", "QLabel", "Selecione o arquivo BSP", QRect(2940, 60, 1875, 195), ""},
            {"Labe", "QLabel", "Nome do Arquivo", QRect(0, 3540, 2775, 255), ""}};
        for (const auto &[name, kind, text, twips, next] : chooserDesign) {
            row("BSP " + name, kind, text, twips, next);
            // Choosing a folder: no file controls, a wider folder list, another caption.
            const bool hidden = name == "File1" || name == "Text1" || name == "Labe";
            row("MAP " + name, kind, name == "Label1" ? "Selecione o diretorio." : text,
                name == "Dir1" ? QRect(0, 360, 6315, 3795) : twips,
                hidden            ? ""
                : next == "Text1" ? "Dir1"
                                  : next,
                !hidden);
        }
    }

    void layout()
    {
        QFETCH(QString, kind);
        QFETCH(QString, text);
        QFETCH(QRect, twips);
        QFETCH(QString, next);
        QFETCH(bool, visible);
        const QStringList tag = QString(QTest::currentDataTag()).split(' ');
        const auto check = [&](QWidget &top) {
            const bool main = tag[0] == "main";
            QCOMPARE(top.windowTitle(), main ? "Quelm BSP to MAP" : "Abrir");
            QCOMPARE(top.size(),
                     pixels(main ? QRect(0, 0, 5160, 2310) : QRect(0, 0, 8115, 4230)).size());
            QCOMPARE(top.focusWidget()->objectName(), main ? "txtBSP" : "cmbCanc");
            QWidget *w = top.findChild<QWidget *>(tag[1]);
            QCOMPARE(w->metaObject()->className(), kind);
            QCOMPARE(w->property("text").toString(), text);
            QCOMPARE(w->isVisibleTo(&top), visible);
            const QRect designed = pixels(twips);
            QCOMPARE(w->pos(), designed.topLeft());
            auto *label = qobject_cast<QLabel *>(w);
            // A label may only grow, and only as far as its text needs.
            QCOMPARE(w->size(),
                     label ? designed.size().expandedTo(w->sizeHint()) : designed.size());
            if (auto *button = qobject_cast<QPushButton *>(w))
                QVERIFY(!button->isDefault() && !button->autoDefault() && !text.contains('&'));
            if (label && main)
                QCOMPARE(label->palette().color(QPalette::WindowText),
                         top.palette().color(QPalette::Highlight));
            for (QWidget *other : top.findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
                QVERIFY(!label || !visible || other == label || !other->isVisibleTo(&top) ||
                        !label->geometry().intersects(other->geometry()));
            if (!next.isEmpty()) {
                w->setFocus();
                QTest::keyClick(w, Qt::Key_Tab);
                QCOMPARE(top.focusWidget()->objectName(), next);
            }
            // No layout: growing the window moves nothing.
            const QRect before = w->geometry();
            top.showMaximized();
            QApplication::processEvents();
            QCOMPARE(w->geometry(), before);
        };
        if (tag[0] == "main")
            return check(*window);
        // The BSP design comes back in full after a MAP opening.
        if (tag[0] == "BSP")
            QVERIFY(inChooser(*window, "Command2", [](Abrir &) {}));
        QVERIFY(inChooser(*window, tag[0] == "BSP" ? "Command1" : "Command2", check));
    }

    void pressingDescompilar_data()
    {
        QTest::addColumn<QString>("bsp");
        QTest::addColumn<QString>("map");
        QTest::addColumn<QString>("box"); // the error box shown, "" for none
        const QString none;
        QTest::newRow("plain") << "/maps/arena.bsp" << QString("/out") << none;
        QTest::newRow("quotes and blanks") << "/m/\"a b\".bsp" << QString(" /o ") << none;
        QTest::newRow("accents") << "/mapas/ação.bsp" << QString("/saída") << none;
        QTest::newRow("missing tool")
            << "/a.bsp" << QString("/out") << "Não foi possível iniciar %1: arquivo não encontrado";
        QTest::newRow("handler throws")
            << "/a.bsp" << QString("/out") << "Ocorreu um erro inesperado: disco cheio";
    }

    void pressingDescompilar()
    {
        QFETCH(QString, bsp);
        QFETCH(QString, map);
        QFETCH(QString, box);
        const QByteArray how = QTest::currentDataTag();
        auto *button = window->findChild<QPushButton *>("Command3");
        if (how == "missing tool")
            QVERIFY(fs::remove(stub->tool().toStdString()));
        if (how == "handler throws")
            connect(button, &QPushButton::clicked, [] { throw std::runtime_error("disco cheio"); });
        typeText(field("txtBSP"), bsp);
        typeText(field("txtMAP"), map);
        BoxWatcher boxes;
        QTest::mouseClick(button, Qt::LeftButton);
        box.replace("%1", stub->folder() + "/bspc.exe");
        QCOMPARE(boxes.seen, box.isEmpty() ? QStringList() : QStringList(box));
        // The fields keep their text, and the window still answers input.
        typeText(field("txtBSP"), "!");
        QCOMPARE(field("txtBSP")->text() + field("txtMAP")->text(), bsp + "!" + map);
        if (how == "missing tool")
            return;
        QVERIFY(stub->waitForRecords(1));
        QCOMPARE(stub->records().first().argv.mid(1),
                 QList<QByteArray>({"-bsp2map", bsp.toUtf8(), "-output", map.toUtf8()}));
    }

    void handBack_data()
    {
        // Tagged with the mode and what is done in the chooser.
        QTest::addColumn<QString>("bsp");
        QTest::addColumn<QString>("map"); // "" for the working directory
        QTest::newRow("BSP ok") << "" << QString("old.map");
        QTest::newRow("BSP type") << "/x/typed.bsp" << QString("old.map");
        QTest::newRow("BSP cancel") << "old.bsp" << QString("old.map");
        QTest::newRow("BSP close") << "old.bsp" << QString("old.map");
        QTest::newRow("BSP escape") << "old.bsp" << QString("old.map");
        QTest::newRow("MAP ok") << "old.bsp" << QString();
        QTest::newRow("MAP cancel") << "old.bsp" << QString("old.map");
        QTest::newRow("MAP close") << "old.bsp" << QString("old.map");
    }

    void handBack()
    {
        QFETCH(QString, bsp);
        QFETCH(QString, map);
        const QStringList tag = QString(QTest::currentDataTag()).split(' ');
        field("txtBSP")->setText("old.bsp");
        field("txtMAP")->setText("old.map");
        bool open = false;
        QVERIFY(inChooser(*window, tag[0] == "BSP" ? "Command1" : "Command2", [&](Abrir &chooser) {
            if (tag[1] == "type")
                typeText(chooser.findChild<QWidget *>("Text1"), "/x/typed.bsp");
            if (tag[1] == "close")
                chooser.close();
            else if (tag[1] == "escape")
                QTest::keyClick(&chooser, Qt::Key_Escape);
            else
                chooser.findChild<QPushButton *>(tag[1] == "cancel" ? "cmbCanc" : "cmbOk")->click();
            open = chooser.isVisible();
        }));
        QCOMPARE(open, tag[1] == "escape");
        QCOMPARE(field("txtBSP")->text(), bsp);
        QCOMPARE(field("txtMAP")->text(), map.isEmpty() ? at("maps") : map);
        QCOMPARE(field("txtOperacao")->text(), tag[0]);
        QVERIFY(!window->findChild<Abrir *>());
    }

    void pickingAFileFillsTheNameField_data()
    {
        QTest::addColumn<QString>("expected"); // below the tree; absolute ones are made up
        QTest::newRow("click") << "maps/B.BSP";
        QTest::newRow("click at the root") << "/arena.bsp";
        QTest::newRow("keyboard") << "maps/arena.bsp";
        QTest::newRow("double-click only selects") << "maps/B.BSP";
    }

    void pickingAFileFillsTheNameField()
    {
        QFETCH(QString, expected);
        const QString how = QTest::currentDataTag();
        if (expected.startsWith('/'))
            files()->setListing(QFileInfo(expected).path(),
                                {{QFileInfo(expected).fileName(), false}});
        else
            expected = at(expected);
        typeText(nameField(), "typed by hand");
        if (how == "keyboard")
            QTest::keyClick(files(), Qt::Key_Down);
        else
            clickRow(files(), QFileInfo(expected).fileName());
        if (how.startsWith("double")) // the second press of a double-click
            clickRow(files(), QFileInfo(expected).fileName(), true);
        QCOMPARE(nameField()->text(), expected);
        QVERIFY(chooser->isVisible());
        QCOMPARE(chooser->result(), 0);
        // Highlighting a folder refreshes nothing; opening it does, and leaves the name alone.
        const QString listed = files()->path();
        clickRow(dirs(), at("maps/sub"));
        QCOMPARE(files()->path(), listed);
        clickRow(dirs(), at("maps/sub"), true);
        QCOMPARE(files()->path(), at("maps/sub"));
        QCOMPARE(rowsOf(files()), QStringList("deep.bsp"));
        QCOMPARE(nameField()->text(), expected);
    }

    void opening_data()
    {
        // Tagged with how it is opened: a drive, a folder, or the current folder again.
        QTest::addColumn<QString>("target"); // below the tree unless absolute
        QTest::addColumn<QString>("reason"); // in the error box, "" for none
        QTest::addColumn<QString>("shown");  // the folder then listed
        QTest::addColumn<QStringList>("listed");
        const QString gone = "arquivo não encontrado", refused = "permissão negada";
        QTest::newRow("drive readable") << "other" << QString() << "other" << QStringList();
        QTest::newRow("drive of the working dir") << "" << QString() << "maps" << bspFiles;
        QTest::newRow("drive missing") << "/nonexistent/usb" << gone << "maps" << bspFiles;
        QTest::newRow("drive refused") << "locked" << refused << "maps" << bspFiles;
        QTest::newRow("drive removed while shown") << "maps/sub" << gone << "maps" << bspFiles;
        QTest::newRow("folder removed while shown") << "maps/sub" << gone << "maps" << bspFiles;
        QTest::newRow("folder refused") << "maps/locked" << refused << "maps" << bspFiles;
        QTest::newRow("current folder removed")
            << "maps/sub" << gone << "maps/sub" << QStringList("deep.bsp");
    }

    void opening()
    {
        QFETCH(QString, target);
        QFETCH(QString, reason);
        QFETCH(QString, shown);
        QFETCH(QStringList, listed);
        const QString how = QString(QTest::currentDataTag()).section(' ', 0, 0);
        const QString path = target.startsWith('/') ? target : at(target).chopped(target.isEmpty());
        core::setDirectoryReader(lockedReader);
        auto *drives = chooser->findChild<DriveList *>("Drive1");
        if (how == "drive")
            drives->setDrives({"/", path});
        if (how == "current")
            clickRow(dirs(), path, true);
        if (target.endsWith("sub"))
            QVERIFY(QDir(path).removeRecursively());
        const QString drive = drives->currentData(Qt::UserRole).toString();
        BoxWatcher boxes;
        // A second try: a place that failed can be picked again.
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (how == "drive")
                QTest::keyClick(drives, Qt::Key_Down);
            else if (how == "folder")
                clickRow(dirs(), path, true);
            else
                QTest::keyClick(dirs(), Qt::Key_Return);
        }
        const QString box = QString("Não foi possível abrir %1 %2: %3")
                                .arg(how == "drive" ? "a unidade" : "o diretório", path, reason);
        QCOMPARE(boxes.seen, QStringList(reason.isEmpty() ? 0 : 2, box));
        QCOMPARE(dirs()->path(), at(shown));
        QCOMPARE(files()->path(), at(shown));
        QCOMPARE(rowsOf(files()), listed);
        // A failed drive gives way to the lists' one.
        QCOMPARE(drives->currentData(Qt::UserRole).toString(), how == "drive" && reason.isEmpty() ? path : drive);
        // Still usable afterwards.
        clickRow(dirs(), root, true);
        QCOMPARE(files()->path(), root);
    }
};

int main(int argc, char **argv)
{
    ui::Application app(argc, argv);
    TestWindows test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_windows.moc"
