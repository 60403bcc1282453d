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

#include <QClipboard>
#include <QComboBox>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>

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

// Picks drive `row` as a user does: opens the list, moves to the drive, presses Enter.
void pickDrive(QComboBox *drives, int row)
{
    QTest::keyClick(drives, Qt::Key_F4);
    drives->view()->setCurrentIndex(drives->model()->index(row, 0));
    QTest::keyClick(drives->view(), Qt::Key_Return);
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
            auto *drives = qobject_cast<QComboBox *>(w);
            QCOMPARE(w->toolTip(), text == "..." ? name : drives ? drives->currentText() : "");
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
                // Focus shows: a control looks different once Shift+Tab gives it the focus.
                top.activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(&top));
                top.findChild<QWidget *>(next)->setFocus();
                const QImage unfocused = w->grab().toImage();
                QTest::keyClick(top.focusWidget(), Qt::Key_Backtab);
                const QImage focused = w->grab().toImage();
                int changed = 0; // on the control's outer edge
                for (int x = 0; x < w->width(); ++x)
                    for (int y = 0; y < w->height(); ++y)
                        changed +=
                            (x == 0 || y == 0 || x == w->width() - 1 || y == w->height() - 1) &&
                            focused.pixel(x, y) != unfocused.pixel(x, y);
                QVERIFY2(w->hasFocus() && changed > 0, qPrintable(QString::number(changed)));
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
        QTest::addColumn<QByteArray>("tool"); // what bspc.exe is: a script's text, or one of these
        QTest::addColumn<QString>("reason");  // %1: the loader that the stub names
        QTest::newRow("missing") << QByteArray("none") << "arquivo não encontrado";
        QTest::newRow("not executable") << QByteArray("0644") << "permissão negada";
        QTest::newRow("a directory") << QByteArray("folder") << "é um diretório";
        QTest::newRow("script without its interpreter")
            << QByteArray("#! /no/such/sh -e\nexit 0\n")
            << "o interpretador /no/such/sh não foi encontrado";
        QTest::newRow("program without its loader")
            << QByteArray("elf") << "o carregador do programa, %1, não foi encontrado";
        QTest::newRow("handler throws") << QByteArray("throw") << "";
    }

    void aFailedStartIsShown()
    {
        QFETCH(QByteArray, tool);
        QFETCH(QString, reason);
        auto *button = window->findChild<QPushButton *>("Command3");
        const std::string path = stub->tool().toStdString();
        QFile file(stub->tool());
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        if (tool == "elf") { // the stub, its loader renamed to one that is not there
            const qsizetype at = bytes.indexOf("/ld-"), start = bytes.lastIndexOf('\0', at) + 1;
            reason = reason.arg(
                QString(bytes.mid(start, bytes.indexOf('\0', at) - start)).replace(1, 1, 'X'));
            bytes[start + 1] = 'X';
        }
        QVERIFY(file.resize(0) && file.write(tool.startsWith("#!") ? tool : bytes) > 0);
        file.close();
        if (tool == "0644")
            fs::permissions(path, fs::perms(0644));
        else if (tool == "none" || tool == "folder")
            QVERIFY(fs::remove(path) && (tool == "none" || fs::create_directory(path)));
        else if (tool == "throw")
            connect(button, &QPushButton::clicked, [] { throw std::runtime_error("disco cheio"); });
        field("txtBSP")->setText("a.bsp");
        BoxWatcher boxes;
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(boxes.seen,
                 QStringList(reason.isEmpty() ? "Ocorreu um erro inesperado: disco cheio"
                                              : "Não foi possível iniciar " + stub->folder() +
                                                    "/bspc.exe: " + reason));
        // A start that failed opens no conversion window.
        for (QWidget *top : QApplication::topLevelWidgets())
            QVERIFY(reason.isEmpty() || top->objectName() != "Conversao");
        // The fields keep their text, and the window still answers input.
        QTest::keyClicks(field("txtBSP"), "!");
        QCOMPARE(field("txtBSP")->text(), "a.bsp!");
    }

    void fieldsTakeAnyLength_data()
    {
        QTest::addColumn<QString>("into"); // the field pasted into
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("reason"); // "" when the tool starts
        QTest::newRow("txtBSP") << "txtBSP" << 33000 << "";
        QTest::newRow("txtMAP") << "txtMAP" << 33000 << "";
        QTest::newRow("chooser's name field") << "Text1" << 33000 << "";
        QTest::newRow("too long for the OS")
            << "txtBSP" << 200000 << "lista de argumentos longa demais";
    }

    void fieldsTakeAnyLength()
    {
        QFETCH(QString, into);
        QFETCH(int, length);
        QFETCH(QString, reason);
        const QString text = '/' + QString(length - 1, 'a');
        QGuiApplication::clipboard()->setText(text);
        if (into == "Text1")
            QVERIFY(inChooser(*window, "Command1", [](Abrir &c) {
                QTest::keySequence(c.findChild<QLineEdit *>("Text1"), QKeySequence::Paste);
                c.findChild<QPushButton *>("cmbOk")->click();
            }));
        else
            QTest::keySequence(field(qPrintable(into)), QKeySequence::Paste);
        QLineEdit *filled = field(into == "txtMAP" ? "txtMAP" : "txtBSP");
        BoxWatcher boxes;
        window->findChild<QPushButton *>("Command3")->click();
        QCOMPARE(filled->text(), text);
        if (reason.isEmpty()) {
            QVERIFY(stub->waitForRecords(1));
            QCOMPARE(stub->records().first().argv.value(filled == field("txtMAP") ? 4 : 2),
                     text.toUtf8());
        } else
            QCOMPARE(boxes.seen, QStringList("Não foi possível iniciar " + stub->folder() +
                                             "/bspc.exe: " + reason));
    }

    void folderListStaysOnItsDrive_data()
    {
        // With maps as a drive: rows opened (by path, "drive" picks the drive
        // shown again), then the folder open.
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("shown");
        QTest::newRow("the drive's own row") << QStringList{"maps"} << "maps";
        QTest::newRow("back up the chain") << QStringList{"maps/sub", "maps"} << "maps";
        QTest::newRow("the shown drive again") << QStringList{"maps/sub", "drive"} << "maps";
        QTest::newRow("down from the root again")
            << QStringList{"drive", "maps/locked"} << "maps/locked";
    }

    void folderListStaysOnItsDrive()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, shown);
        auto *drives = chooser->findChild<DriveList *>("Drive1");
        drives->setDrives({"/", at("maps")});
        pickDrive(drives, 1);
        for (const QString &step : steps) {
            if (step == "drive")
                pickDrive(drives, 1);
            else
                clickRow(dirs(), at(step), true);
            // The chain starts at the drive: no row leads off it.
            QCOMPARE(rows(dirs()).first(), at("maps"));
            for (const QString &path : rows(dirs()))
                QVERIFY2(path.startsWith(at("maps")), qPrintable(path));
        }
        QCOMPARE(dirs()->path(), at(shown));
        QCOMPARE(drives->currentData(Qt::UserRole).toString(), at("maps"));
    }

    void vanishedFolders_data()
    {
        QTest::addColumn<QString>("cwd");     // below the tree
        QTest::addColumn<QString>("removed"); // below the tree, before the chooser opens
        QTest::addColumn<QString>("shown");   // once "OK" was pressed in MAP mode
        QTest::addColumn<QString>("map");     // what txtMAP then holds
        auto row = [](const char *tag, const char *cwd, const char *removed, const char *shown,
                      const char *map) { QTest::newRow(tag) << cwd << removed << shown << map; };
        row("working directory", "maps/sub", "maps/sub", "maps", "maps");
        row("with its parents", "other/a/b", "other", "", "");
        row("open folder, while shown", "maps", "", "maps", "typed");
    }

    void vanishedFolders()
    {
        QFETCH(QString, cwd);
        QFETCH(QString, removed);
        QFETCH(QString, shown);
        QFETCH(QString, map);
        QVERIFY(QDir().mkpath(at(cwd)) && QDir::setCurrent(at(cwd)));
        QVERIFY(removed.isEmpty() || QDir(at(removed)).removeRecursively());
        field("txtMAP")->setText("typed");
        BoxWatcher boxes;
        QVERIFY(inChooser(*window, "Command2", [&](Abrir &c) {
            auto *list = c.findChild<DirList *>("Dir1");
            if (removed.isEmpty()) {
                clickRow(list, at("maps/sub"), true);
                QVERIFY(QDir(at("maps/sub")).removeRecursively());
            }
            c.findChild<QPushButton *>("cmbOk")->click();
            // Never a folder that is gone: the list moves to what is left.
            QCOMPARE(list->path(), at(shown).chopped(shown.isEmpty()));
            QCOMPARE(rows(c.findChild<FileList *>("File1")),
                     QStringList(shown == "maps" ? 1 : 0, "d.map"));
        }));
        QCOMPARE(field("txtMAP")->text(), map == "typed" ? map : at(map).chopped(map.isEmpty()));
        QCOMPARE(boxes.seen, QStringList(map == "typed" ? 1 : 0,
                                         "O diretório " + at("maps/sub") + " não existe mais."));
    }

    void deepFolders_data()
    {
        QTest::addColumn<int>("depth"); // below the tree
        QTest::addColumn<int>("nameLength");
        QTest::addColumn<int>("subfolders");
        QTest::addColumn<QString>("button");
        QTest::newRow("many subfolders") << 2 << 4 << 60 << "Command1";
        QTest::newRow("many subfolders, MAP") << 2 << 4 << 60 << "Command2";
        QTest::newRow("14 deep") << 14 << 4 << 0 << "Command1";
        QTest::newRow("40 deep") << 40 << 4 << 3 << "Command1";
        QTest::newRow("long names") << 3 << 17 << 0 << "Command1";
    }

    void deepFolders()
    {
        QFETCH(int, depth);
        QFETCH(int, nameLength);
        QFETCH(int, subfolders);
        QFETCH(QString, button);
        QString path = root;
        for (int level = 0; level < depth; ++level)
            path += '/' + QString(nameLength, QChar('a' + level % 26));
        for (int i = 0; i <= subfolders; ++i)
            QVERIFY(QDir().mkpath(path + QString("/sub%1").arg(i).left(i ? -1 : 0)));
        QVERIFY(QDir::setCurrent(path));
        QVERIFY(inChooser(*window, qPrintable(button), [&](Abrir &c) {
            auto *list = c.findChild<DirList *>("Dir1");
            const QModelIndex open = list->model()->index(int(rows(list).indexOf(path)), 0);
            // In view, with as much of the chain above it as fits.
            const QRect row = list->visualRect(open), view = list->viewport()->rect();
            QVERIFY(row.top() >= 0 && row.bottom() <= view.bottom());
            QVERIFY(list->verticalScrollBar()->value() == 0 ||
                    row.bottom() + row.height() > view.bottom());
            // A row's icon and name: its pixels in neither of its two backgrounds
            // (the list's, the selection's).
            const auto drawn = [&](const QRect &r) {
                const QImage shot = list->viewport()->grab().toImage();
                const QRgb plain = shot.pixel(0, r.center().y()),
                           selected = shot.pixel(view.right(), r.center().y());
                int left = view.right(), right = 0;
                for (int x = 0; x <= view.right(); ++x)
                    for (int y = qMax(r.top(), 0); y <= qMin(r.bottom(), view.bottom()); ++y)
                        if (shot.pixel(x, y) != plain && shot.pixel(x, y) != selected)
                            left = qMin(left, x), right = qMax(right, x);
                return std::pair(left, right);
            };
            const auto [left, right] = drawn(row); // the whole name, clear of both edges
            QVERIFY2(right - left >= list->fontMetrics().horizontalAdvance(path.section('/', -1)) &&
                         left > 0 && right < view.right() - 1,
                     qPrintable(QString("%1..%2").arg(left).arg(right)));
            // Scrolled up to the drive, no row is blank.
            list->verticalScrollBar()->setValue(0);
            for (int r = 0; r < rows(list).size() &&
                            list->visualRect(list->model()->index(r, 0)).top() < view.bottom();
                 ++r)
                QVERIFY2(drawn(list->visualRect(list->model()->index(r, 0))).second > 0,
                         qPrintable(rows(list).value(r)));
        }));
    }

    void largeFonts_data()
    {
        QTest::addColumn<int>("points");     // 0: the platform's default font
        QTest::addColumn<QString>("button"); // "" for the main window, else the chooser's
        for (const int points : {0, 14, 20})
            for (const QString button : {"", "Command1", "Command2"})
                QTest::addRow("%d pt %s", points, qPrintable(button)) << points << button;
    }

    void largeFonts()
    {
        QFETCH(int, points);
        QFETCH(QString, button);
        const QFont platform = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        QFont font = platform;
        font.setPointSize(points ? points : platform.pointSize());
        QApplication::setFont(font);
        Form1 main(stub->folder());
        const auto check = [&](QWidget &top) {
            // The design's own size at the default font; larger with a larger one.
            const QSize designed = button.isEmpty() ? QSize(344, 154) : QSize(541, 282);
            QVERIFY(points ? top.width() > designed.width() && top.height() > designed.height()
                           : top.size() == designed);
            // Nothing cut or covered: a label has the room its text needs, and a
            // line of text or a button's caption fits inside any other frame.
            const int frame = 2 * top.style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
            QList<QWidget *> controls = top.findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
            controls.removeIf([&](QWidget *w) { return !w->isVisibleTo(&top); });
            for (QWidget *w : controls) {
                const auto *button = qobject_cast<QPushButton *>(w);
                const int caption = button ? w->fontMetrics().horizontalAdvance(button->text()) : 0;
                const QSize text =
                    qobject_cast<QLabel *>(w)
                        ? w->sizeHint()
                        : QSize(caption, w->fontMetrics().height()) + QSize(frame, frame);
                QVERIFY2(w->width() >= text.width() && w->height() >= text.height(),
                         qPrintable(w->objectName()));
                for (QWidget *other : controls)
                    QVERIFY2(other == w || !w->geometry().intersects(other->geometry()),
                             qPrintable(w->objectName() + " " + other->objectName()));
            }
        };
        if (button.isEmpty())
            check(main);
        else
            QVERIFY(inChooser(main, qPrintable(button), check));
        QApplication::setFont(platform);
    }

    void driveList_data()
    {
        // A wheel notch down over the drive list, with "/" shown and a drive
        // with a long mount path below it.
        QTest::addColumn<bool>("focused");
        QTest::addColumn<bool>("missing"); // the second drive cannot be opened
        QTest::addColumn<int>("shown");    // the drive then shown
        QTest::newRow("unfocused") << false << false << 0;
        QTest::newRow("unfocused, missing drive") << false << true << 0;
        QTest::newRow("focused") << true << false << 1;
        QTest::newRow("focused, missing drive") << true << true << 0;
    }

    void driveList()
    {
        QFETCH(bool, focused);
        QFETCH(bool, missing);
        QFETCH(int, shown);
        const QString mount = at("media/a drive with a rather long name for its mount point");
        QVERIFY(missing || QDir().mkpath(mount));
        auto *drives = chooser->findChild<DriveList *>("Drive1");
        drives->setDrives({"/", mount});
        chooser->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(chooser.get()));
        if (focused)
            drives->setFocus(Qt::TabFocusReason);
        BoxWatcher boxes;
        QWheelEvent notch(drives->rect().center(), drives->mapToGlobal(drives->rect().center()), {},
                          {0, -120}, Qt::NoButton, {}, Qt::NoScrollPhase, false);
        QApplication::sendEvent(drives, &notch);
        QCOMPARE(boxes.seen.size(), int(focused && missing));
        const QString drive = shown ? mount : "/";
        QCOMPARE(drives->currentData(Qt::UserRole).toString(), drive);
        QCOMPARE(dirs()->path(), shown ? mount : at("maps"));
        // The whole of the shown drive in its tip, and of every drive in the open list.
        QCOMPARE(drives->toolTip(), drive);
        drives->showPopup();
        QVERIFY(drives->view()->viewport()->width() >
                drives->fontMetrics().horizontalAdvance(mount));
        drives->hidePopup();
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
        clickRow(dirs(), rows(dirs()).first(), true);
        QCOMPARE(dirs()->path(), rows(dirs()).first());
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
        row("on localhost", {"file://localhost$/maps/arena.bsp"}, "txtMAP", "$/maps/arena.bsp",
            "old.map");
        row("on another host", {"file://otherhost$/maps/arena.bsp"}, "txtBSP", "", "");
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
        // Shift makes it a move, which is taken as a copy if at all.
        const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
        QDragEnterEvent enter(on->rect().center(), offered, &data, Qt::LeftButton,
                              Qt::ShiftModifier);
        QApplication::sendEvent(on, &enter);
        QCOMPARE(enter.isAccepted(), !bsp.isEmpty());
        QDropEvent drop(on->rect().center(), offered, &data, Qt::LeftButton, Qt::ShiftModifier);
        QApplication::sendEvent(on, &drop);
        QVERIFY(!drop.isAccepted() || drop.dropAction() == Qt::CopyAction);
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
