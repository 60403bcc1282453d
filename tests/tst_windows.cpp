// Both windows on the offscreen platform: their layouts, the chooser's hand-back
// and navigation with its faults, the launch, and drops from a file manager.
#include "abrir.h"
#include "application.h"
#include "dirlist.h"
#include "drivelist.h"
#include "filelist.h"
#include "form1.h"
#include "identity.h"
#include "testkit.h"
#include "ui.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>

#include <functional>
#include <stdexcept>

namespace {
const QByteArray oddFile("mapa\xe7\xe3o.bsp"), oddFolder("sa\xed"
                                                         "da");

// Fails every directory whose name ends in "locked", as a refused one would.
core::Result<core::Listing> lockedReader(const QString &path)
{
    if (path.endsWith(QLatin1String("locked")))
        return core::Error{EACCES};
    core::setDirectoryReader(nullptr);
    core::Result<core::Listing> result = core::readDirectory(path);
    core::setDirectoryReader(lockedReader);
    return result;
}

// 15 twips a pixel at 96 DPI, 12 at 120 DPI.
QRect pixels(const QRect &t)
{
    const qreal dpi = QGuiApplication::primaryScreen()->logicalDotsPerInch();
    const auto px = [dpi](int twips) { return qRound(twips * dpi / 1440.0); };
    return {px(t.x()), px(t.y()), px(t.width()), px(t.height())};
}

// The exact names a list holds (Qt::UserRole), or what it shows.
QStringList rows(const QAbstractItemView *view, int role = Qt::UserRole)
{
    QStringList values;
    for (int row = 0; row < view->model()->rowCount(); ++row)
        values.append(view->model()->index(row, 0).data(role).toString());
    return values;
}

// `twice` sends the double-click event alone; after a click on the row that makes a real one.
void clickRow(QAbstractItemView *view, const QString &row, bool twice = false)
{
    const int index = int(rows(view).indexOf(row));
    QVERIFY2(index >= 0, qPrintable(row));
    const QPoint at = view->visualRect(view->model()->index(index, 0)).center();
    if (twice)
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
    else
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
}

// Answers every message box that opens while it lives and keeps its text; one
// that is not the error box (title "Ops!", critical icon, only OK) is marked.
struct BoxWatcher {
    QStringList seen;
    QTimer timer;
    BoxWatcher()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                const bool ops = box->windowTitle() == "Ops!" &&
                                 box->icon() == QMessageBox::Critical &&
                                 box->standardButtons() == QMessageBox::Ok;
                seen << (ops ? "" : "not the error box: ") + box->text();
                box->reject();
            }
        });
        timer.start(10);
    }
};

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
    QLineEdit mode{"BSP"};
    std::unique_ptr<Abrir> chooser; // on its own, in BSP mode
    const QStringList bspFiles{"arena.bsp", "B.BSP", "c.Bsp", core::decodeName(oddFile)};

    QString at(const QString &path) const { return root + '/' + path; }
    QLineEdit *field(const char *name) const { return window->findChild<QLineEdit *>(name); }
    DirList *dirs() const { return chooser->findChild<DirList *>("Dir1"); }
    FileList *files() const { return chooser->findChild<FileList *>("File1"); }

private slots:
    void init()
    {
        core::setDirectoryReader(nullptr);
        // A fresh tree for every test, since tests remove parts of it.
        tree = std::make_unique<QTemporaryDir>();
        root = QDir(tree->path()).canonicalPath();
        const fs::path maps = core::encodeName(at("maps")).toStdString();
        for (const char *dir : {"sub", "x.bsp", "locked", "../other", oddFolder.data()})
            fs::create_directories(maps / dir);
        for (const char *file : {"arena.bsp", "B.BSP", "c.Bsp", "d.map", "e.bspx", ".hidden.bsp",
                                 "sub/deep.bsp", oddFile.data()})
            std::ofstream{maps / file};
        QVERIFY(QDir::setCurrent(at("maps")));
        stub = std::make_unique<StubFolder>();
        window = std::make_unique<Form1>(stub->folder());
        window->show();
        chooser = std::make_unique<Abrir>(&mode, nullptr);
        chooser->show();
        QVERIFY(QTest::qWaitForWindowExposed(chooser.get()));
    }

    void cleanup()
    {
        // The conversion windows that Descompilar opened; they belong to no one.
        for (QWidget *top : QApplication::topLevelWidgets())
            if (top->objectName() == "Conversao")
                delete top;
        // QTemporaryDir cannot see names that are not UTF-8.
        fs::remove_all(core::encodeName(root).toStdString());
    }

    void layout_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("twips");  // null for a hidden control
        QTest::addColumn<QString>("next"); // where Tab goes from it, "" if it takes no focus
        QTest::addColumn<QString>("name"); // for screen readers
        // Tagged with the window ("main", or the chooser's mode) and the control.
        auto row = [](const QString &tag, const QString &text, const QRect &twips,
                      const QString &next, const QString &name) {
            QTest::newRow(qPrintable(tag)) << text << twips << next << name;
        };
        const QString bsp = "Selecione arquivo BSP", folder = "Selecione o diretório destino";
        row("main txtBSP", "", {120, 600, 4575, 315}, "Command1", bsp);
        row("main Command1", "...", {4800, 600, 255, 315}, "txtMAP", "Escolher arquivo BSP");
        row("main txtMAP", "", {120, 1320, 4575, 315}, "Command2", folder);
        row("main Command2", "...", {4800, 1320, 255, 315}, "Command3",
            "Escolher diretório destino");
        row("main Label1", bsp, {180, 300, 1995, 255}, "", bsp);
        row("main Label2", folder, {180, 1020, 3195, 255}, "", folder);
        row("main txtOperacao", "", {}, "", "Modo do seletor");
        row("main Command3", "Descompilar", {1740, 1740, 1395, 495}, "txtBSP", "Descompilar");
        for (const QString m : {"BSP", "MAP"}) {
            // Choosing a folder: no file controls, a wider folder list, another caption.
            const bool map = m == "MAP";
            const QString caption = map ? "Selecione o diretorio." : "Selecione o arquivo BSP";
            row(m + " cmbCanc", "Cancelar", {6480, 1020, 1515, 435}, "cmbOk", "Cancelar");
            row(m + " cmbOk", "OK", {6480, 360, 1515, 435}, map ? "Dir1" : "Text1", "OK");
            row(m + " Text1", "", map ? QRect() : QRect(0, 3840, 6315, 315), "File1",
                "Nome do Arquivo");
            row(m + " File1", "", map ? QRect() : QRect(2820, 360, 3495, 3015), "Dir1",
                "Selecione o arquivo BSP");
            row(m + " Dir1", "", {0, 360, map ? 6315 : 2775, map ? 3795 : 3015}, "Drive1",
                "Diretórios");
            row(m + " Drive1", "", {0, 0, 2775, 315}, "cmbCanc", "Unidades");
            row(m + " Label1", caption, {2940, 60, 1875, 195}, "", caption);
            row(m + " Labe", "Nome do Arquivo", map ? QRect() : QRect(0, 3540, 2775, 255), "",
                "Nome do Arquivo");
        }
    }

    void layout()
    {
        QFETCH(QString, text);
        QFETCH(QRect, twips);
        QFETCH(QString, next);
        QFETCH(QString, name);
        const QStringList tag = QString(QTest::currentDataTag()).split(' ');
        const auto check = [&](QWidget &top) {
            const bool main = tag[0] == "main";
            QCOMPARE(top.windowTitle(), main ? "Quelm BSP to MAP" : "Abrir");
            QCOMPARE(top.size(),
                     pixels(main ? QRect(0, 0, 5160, 2310) : QRect(0, 0, 8115, 4230)).size());
            QCOMPARE(top.focusWidget()->objectName(), main ? "txtBSP" : "cmbCanc");
            QWidget *w = top.findChild<QWidget *>(tag[1]);
            QCOMPARE(w->property("text").toString(), text);
            QCOMPARE(w->accessibleName(), name);
            QCOMPARE(w->toolTip(), text == "..." ? name : QString());
            QCOMPARE(w->isVisibleTo(&top), !twips.isNull());
            if (twips.isNull())
                return;
            // A label may only grow, and only as far as its text needs; it covers nothing.
            auto *label = qobject_cast<QLabel *>(w);
            const QRect designed = pixels(twips);
            QCOMPARE(w->geometry(),
                     QRect(designed.topLeft(),
                           label ? designed.size().expandedTo(w->sizeHint()) : designed.size()));
            for (QWidget *other : top.findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
                QVERIFY(!label || other == label || !other->isVisibleTo(&top) ||
                        !label->geometry().intersects(other->geometry()));
            if (label && main)
                QCOMPARE(label->palette().color(QPalette::WindowText),
                         top.palette().color(QPalette::Highlight));
            if (auto *button = qobject_cast<QPushButton *>(w))
                QVERIFY(!button->isDefault() && !button->autoDefault());
            if (!next.isEmpty()) {
                w->setFocus();
                QTest::keyClick(w, Qt::Key_Tab);
                QCOMPARE(top.focusWidget()->objectName(), next);
            }
            // No layout: growing the window moves nothing.
            top.showMaximized();
            QApplication::processEvents();
            QCOMPARE(w->pos(), designed.topLeft());
        };
        if (tag[0] == "main")
            return check(*window);
        // The BSP design comes back in full after a MAP opening.
        QVERIFY(
            inChooser(*window, "Command2", [&](Abrir &c) { tag[0] == "MAP" ? check(c) : void(); }));
        QVERIFY(tag[0] == "MAP" || inChooser(*window, "Command1", check));
    }

    void qtTextsArePortuguese()
    {
        std::unique_ptr<QMenu> menu(field("txtBSP")->createStandardContextMenu());
        QStringList texts;
        for (QAction *action : menu->actions())
            texts << action->text().remove('&').section('\t', 0, 0);
        for (const char *expected : {"Desfazer", "Refazer", "Recortar", "Copiar", "Colar"})
            QVERIFY2(texts.contains(expected), qPrintable(texts.join(", ")));
    }

    void aFailedStartIsShown_data()
    {
        QTest::addColumn<QString>("box");
        QTest::newRow("missing tool") << "Não foi possível iniciar %1: arquivo não encontrado";
        QTest::newRow("handler throws") << "Ocorreu um erro inesperado: disco cheio";
    }

    void aFailedStartIsShown()
    {
        QFETCH(QString, box);
        auto *button = window->findChild<QPushButton *>("Command3");
        if (box.contains("%1"))
            QVERIFY(fs::remove(stub->tool().toStdString()));
        else
            connect(button, &QPushButton::clicked, [] { throw std::runtime_error("disco cheio"); });
        field("txtBSP")->setText("a.bsp");
        BoxWatcher boxes;
        QTest::mouseClick(button, Qt::LeftButton);
        const bool failedStart = box.contains("%1");
        QCOMPARE(boxes.seen, QStringList(box.replace("%1", stub->folder() + "/bspc.exe")));
        // A start that failed opens no conversion window.
        for (QWidget *top : QApplication::topLevelWidgets())
            QVERIFY(!failedStart || top->objectName() != "Conversao");
        // The fields keep their text, and the window still answers input.
        QTest::keyClicks(field("txtBSP"), "!");
        QCOMPARE(field("txtBSP")->text(), "a.bsp!");
    }

    void handBack_data()
    {
        // Steps on the list of the mode (files, or folders for MAP), then what the fields hold.
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("bsp"); // below the tree when it starts with "maps"
        QTest::addColumn<QString>("map");
        auto row = [](const char *tag, const QStringList &steps, const QString &bsp,
                      const QString &map = "old.map") {
            QTest::newRow(tag) << steps << bsp << map;
        };
        const QString odd = core::decodeName(oddFile),
                      folder = "maps/" + core::decodeName(oddFolder);
        row("BSP ok", {"ok"}, "");
        row("BSP focus only", {"focus", "ok"}, "");
        row("BSP typed", {"type /x/a \"b\" ção.bsp", "ok"}, "/x/a \"b\" ção.bsp");
        row("BSP click, open a folder", {"click " + odd, "open", "ok"}, "maps/" + odd);
        row("BSP click the current row", {"focus", "click arena.bsp", "ok"}, "maps/arena.bsp");
        row("BSP arrow", {"focus", "key down", "ok"}, "maps/B.BSP");
        row("BSP space", {"focus", "key space", "ok"}, "maps/arena.bsp");
        row("BSP double-click", {"click c.Bsp", "double c.Bsp", "ok"}, "maps/c.Bsp");
        row("BSP cancel", {"click c.Bsp", "cancel"}, "old.bsp");
        row("BSP close", {"close"}, "old.bsp");
        row("BSP escape", {"escape"}, "old.bsp");
        row("MAP ok", {"ok"}, "old.bsp", "maps");
        row("MAP open", {"double " + folder, "ok"}, "old.bsp", folder);
        row("MAP cancel", {"double maps/sub", "cancel"}, "old.bsp");
    }

    void handBack()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, bsp);
        QFETCH(QString, map);
        const QString mode = QString(QTest::currentDataTag()).left(3);
        for (QString *expected : {&bsp, &map})
            *expected = expected->startsWith("maps") ? at(*expected) : *expected;
        field("txtBSP")->setText("old.bsp");
        field("txtMAP")->setText("old.map");
        QVERIFY(inChooser(*window, mode == "BSP" ? "Command1" : "Command2", [&](Abrir &c) {
            auto *list = c.findChild<QAbstractItemView *>(mode == "BSP" ? "File1" : "Dir1");
            auto *name = c.findChild<QLineEdit *>("Text1");
            for (const QString &step : steps) {
                const QString verb = step.section(' ', 0, 0), what = step.section(' ', 1);
                if (verb == "click" || verb == "double")
                    clickRow(list, what.startsWith("maps") ? at(what) : what, verb == "double");
                else if (verb == "focus") { // by Tab: the first row becomes current, not selected
                    QFocusEvent tab(QEvent::FocusIn, Qt::TabFocusReason);
                    QApplication::sendEvent(list, &tab);
                } else if (verb == "key")
                    QTest::keyClick(list, what == "down" ? Qt::Key_Down : Qt::Key_Space);
                else if (verb == "type") // key presses carrying any character
                    for (const QChar ch : what)
                        QTest::sendKeyEvent(QTest::Click, name, Qt::Key_unknown, QString(ch), {});
                else if (verb == "open") { // the files are read again; the name stays
                    const QString typed = name->text();
                    QTest::keyClick(c.findChild<DirList *>("Dir1"), Qt::Key_Return);
                    QCOMPARE(name->text(), typed);
                } else if (verb == "close")
                    c.close();
                else if (verb == "escape")
                    QTest::keyClick(&c, Qt::Key_Escape);
                else
                    c.findChild<QPushButton *>(verb == "ok" ? "cmbOk" : "cmbCanc")->click();
            }
            QCOMPARE(c.isVisible(), steps.last() == "escape");
        }));
        QVERIFY(!window->findChild<Abrir *>());
        QCOMPARE(field("txtOperacao")->text(), mode);
        // Both fields reach the tool byte for byte.
        window->findChild<QPushButton *>("Command3")->click();
        QVERIFY(stub->waitForRecords(1));
        QCOMPARE(stub->records().first().argv.mid(1),
                 QList<QByteArray>(
                     {"-bsp2map", core::encodeName(bsp), "-output", core::encodeName(map)}));
    }

    void opening_data()
    {
        // Tagged with how it is opened: a drive, a folder, or the current folder again.
        QTest::addColumn<QString>("target"); // below the tree unless absolute
        QTest::addColumn<QString>("reason"); // in the error box, "" for none
        QTest::addColumn<QString>("shown");  // the folder then listed
        QTest::addColumn<QStringList>("listed");
        auto row = [](const char *tag, const QString &target, const QString &reason,
                      const QString &shown, const QStringList &listed) {
            QTest::newRow(tag) << target << reason << shown << listed;
        };
        const QString gone = "arquivo não encontrado", refused = "permissão negada";
        row("drive readable", "other", "", "other", {});
        row("drive of the working dir", "", "", "maps", bspFiles);
        row("drive missing", "/nonexistent/usb", gone, "maps", bspFiles);
        row("drive refused", "locked", refused, "maps", bspFiles);
        row("drive removed while shown", "maps/sub", gone, "maps", bspFiles);
        row("folder removed while shown", "maps/sub", gone, "maps", bspFiles);
        row("folder refused", "maps/locked", refused, "maps", bspFiles);
        row("current folder removed", "maps/sub", gone, "maps/sub", {"deep.bsp"});
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
        if (how == "drive") { // the user comes from "/"
            drives->setDrives({"/", path});
            drives->setDrive("/");
        }
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
        QCOMPARE(rows(files()), listed);
        QCOMPARE(rows(files(), Qt::DisplayRole).filter(QString(QChar::ReplacementCharacter)).size(),
                 listed.size() / 4);
        // A failed drive gives way to the lists' one.
        QCOMPARE(drives->currentData(Qt::UserRole).toString(),
                 how == "drive" && reason.isEmpty() ? path : drive);
        // Still usable afterwards.
        clickRow(dirs(), root, true);
        QCOMPARE(dirs()->path(), root);
    }

    void dropsFillThePathFields_data()
    {
        QTest::addColumn<QStringList>(
            "urls"); // $ stands for the tree, made only when the test runs
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("bsp"); // "" when the drop is refused
        QTest::addColumn<QString>("map");
        auto row = [](const char *tag, const QStringList &urls, const QString &target,
                      const QString &bsp,
                      const QString &map) { QTest::newRow(tag) << urls << target << bsp << map; };
        const QString tree = "file://$", file = tree + "/maps/arena.bsp";
        row("file on the window", {file}, "Form1", "$/maps/arena.bsp", "old.map");
        row("folder on txtBSP", {tree}, "txtBSP", "old.bsp", "$");
        row("folder, file, more of both", {tree, file, tree + "/other", tree + "/maps/B.BSP"},
            "txtMAP", "$/maps/arena.bsp", "$");
        row("name not in UTF-8", {tree + "/maps/mapa%E7%E3o.bsp"}, "txtBSP",
            "$/maps/" + core::decodeName(oddFile), "old.map");
        row("local and web", {file, "https://example.org/x"}, "Form1", "", "");
    }

    void dropsFillThePathFields()
    {
        QFETCH(QStringList, urls);
        QFETCH(QString, target);
        QFETCH(QString, bsp);
        QFETCH(QString, map);
        field("txtBSP")->setText("old.bsp");
        field("txtMAP")->setText("old.map");
        QMimeData data;
        QList<QUrl> list;
        for (const QString &url : urls)
            list << QUrl::fromEncoded(QString(url).replace("$", root).toLatin1());
        data.setUrls(list);
        QWidget *on = target == "Form1" ? window.get() : window->findChild<QWidget *>(target);
        QDragEnterEvent enter(on->rect().center(), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(on, &enter);
        QCOMPARE(enter.isAccepted(), !bsp.isEmpty());
        QDropEvent drop(on->rect().center(), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(on, &drop);
        QCOMPARE(field("txtBSP")->text(), bsp.isEmpty() ? "old.bsp" : bsp.replace("$", root));
        QCOMPARE(field("txtMAP")->text(), map.isEmpty() ? "old.map" : map.replace("$", root));
    }
};

int main(int argc, char **argv)
{
    qputenv("LANGUAGE", "C"); // the program's language must not follow the system's
    ui::Application app(argc, argv);
    setUpIdentity(app);
    TestWindows test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_windows.moc"
