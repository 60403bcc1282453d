// Both windows on the offscreen platform: their design, and what a user does
// with them, the chooser's faults and drops from a file manager included.
#include "abrir.h"
#include "application.h"
#include "dirlist.h"
#include "drivelist.h"
#include "form1.h"
#include "identity.h"
#include "platform.h"
#include "testkit.h"

#include <QtWidgets>

namespace {
const QByteArray oddFile("mapa\xe7\xe3o.bsp"), oddFolder("sa\xed"
                                                         "da");

// The exact names a list holds (Qt::UserRole), or what it shows.
QStringList rows(const QAbstractItemView *view, int role = Qt::UserRole)
{
    QStringList values;
    for (int row = 0; row < view->model()->rowCount(); ++row)
        values.append(view->model()->index(row, 0).data(role).toString());
    return values;
}

// Rows of a table, "tag: step; step", going on in lines that start with blanks.
void addRows(const QString &table)
{
    QTest::addColumn<QStringList>("steps");
    for (const QString &row :
         QString(table).replace("\n    ", "; ").split('\n', Qt::SkipEmptyParts))
        QTest::newRow(qPrintable(row.section(": ", 0, 0))) << row.section(": ", 1).split("; ");
}
} // namespace

class TestWindows : public QObject {
    Q_OBJECT

    QString root; // the tree, in the stub's folder
    std::unique_ptr<StubFolder> stub;
    std::unique_ptr<Form1> window;
    QLineEdit mode{"BSP"};
    std::unique_ptr<Abrir> chooser; // on its own, in BSP mode
    Abrir *open = nullptr;          // the chooser that steps act on
    QStringList boxes; // the texts of the message boxes answered, "?" before one not the error box
    QTimer boxTimer;
    QString pasted; // the text last pasted
    int points = 0; // of the font set, 0: the platform's

    QLineEdit *field(const QString &name) const { return window->findChild<QLineEdit *>(name); }

    // Runs steps, "verb argument", until "end"; see scenarios_data.
    void play(QStringList &steps)
    {
        while (!steps.isEmpty() && !QTest::currentTestFailed()) {
            const QString step = steps.takeFirst()
                                     .replace("%nostart", "box Não foi possível iniciar %tool:")
                                     .replace("%tool", stub->folder() + "/bspc.exe")
                                     .replace("%odd", core::decodeName(oddFile))
                                     .replace("%dir", core::decodeName(oddFolder))
                                     .replace("%pasted", pasted)
                                     .replace("$", root);
            const QString verb = step.section(' ', 0, 0), arg = step.section(' ', 1);
            // "bsp|map" for the fields, or "field|length"
            const QString bsp = arg.section('|', 0, 0), map = arg.section('|', 1);
            auto *files = open->findChild<QAbstractItemView *>("File1");
            auto *dirs = open->findChild<DirList *>("Dir1");
            auto *drives = open->findChild<DriveList *>("Drive1");
            if (verb == "end")
                return;
            if (verb == "BSP" || verb == "MAP") { // the main window's chooser, until "end"
                QObject context; // a chooser that never opens leaves no call behind
                QTimer::singleShot(0, &context, [&] {
                    if ((open = qobject_cast<Abrir *>(QApplication::activeModalWidget()))) {
                        play(steps);
                        if (open->isVisible())
                            open->reject();
                    }
                });
                open = nullptr;
                window->findChild<QPushButton *>(verb == "BSP" ? "Command1" : "Command2")->click();
                // Whether one opened, and back to the chooser on its own; the one shown is gone.
                QVERIFY(std::exchange(open, chooser.get()) && !window->findChild<Abrir *>());
                QCOMPARE(field("txtOperacao")->text(), verb);
            } else if (verb == "rm")
                QVERIFY(QDir(arg).removeRecursively());
            else if (verb == "bspc") { // bspc.exe a script, gone, or a folder
                const std::string path = stub->tool().toStdString();
                if (arg.startsWith("#!")) // the file stays, and so does its mode
                    std::ofstream(path) << arg.toStdString() << '\n';
                else
                    QVERIFY(fs::remove(path) && (arg == "none" || fs::create_directory(path)));
            } else if (verb == "throw") // from a handler of Descompilar
                connect(window->findChild<QPushButton *>("Command3"), &QPushButton::clicked,
                        [] { throw std::runtime_error("disco cheio"); });
            else if (verb == "start")
                QTest::mouseClick(window->findChild<QPushButton *>("Command3"), Qt::LeftButton);
            else if (verb == "paste") { // a path of that many characters
                QLineEdit *into = field(bsp);
                QGuiApplication::clipboard()->setText(pasted = '/' + QString(map.toInt() - 1, 'a'));
                into->selectAll();
                QTest::keySequence(into, QKeySequence::Paste);
            } else if (verb == "drop" || verb == "refuse") { // on, actions offered, URLs
                const QStringList words = arg.split(' ');
                const Qt::DropActions offered(words[1].toInt());
                QMimeData data;
                data.setUrls(QUrl::fromStringList(words.mid(2)));
                QWidget *on =
                    words[0] == "Form1" ? static_cast<QWidget *>(window.get()) : field(words[0]);
                const QPoint at = on->rect().center(); // Shift: a move, taken as a copy if at all
                QDragEnterEvent enter(at, offered, &data, Qt::LeftButton, Qt::ShiftModifier);
                QDropEvent drop(at, offered, &data, Qt::LeftButton, Qt::ShiftModifier);
                QApplication::sendEvent(on, &enter);
                QApplication::sendEvent(on, &drop);
                QCOMPARE(enter.isAccepted(), verb == "drop");
                QVERIFY(!drop.isAccepted() ||
                        drop.dropAction() ==
                            (offered & Qt::CopyAction ? Qt::CopyAction : Qt::LinkAction));
            } else if (verb == "fields" || verb == "tool") { // the tool gets them byte for byte
                QCOMPARE(field("txtBSP")->text() + '|' + field("txtMAP")->text(), arg);
                if (verb == "fields")
                    continue;
                window->findChild<QPushButton *>("Command3")->click();
                QVERIFY(stub->waitForRecords(1));
                QCOMPARE(stub->records().first().argv.mid(1),
                         QList<QByteArray>({"-bsp2map", core::encodeName(bsp), "-output",
                                            core::encodeName(map)}));
            } else if (verb == "file" || verb == "dir") { // a click, a double-click
                QAbstractItemView *list = verb == "dir" ? dirs : files;
                const QRect row =
                    list->visualRect(list->model()->index(int(rows(list).indexOf(arg)), 0));
                QTest::mouseEvent(verb == "file" ? QTest::MouseClick : QTest::MouseDClick,
                                  list->viewport(), Qt::LeftButton, {}, row.center());
            } else if (verb == "focus") { // by Tab: the first row becomes current, not selected
                QFocusEvent tab(QEvent::FocusIn, Qt::TabFocusReason);
                QApplication::sendEvent(files, &tab);
            } else if (verb == "press") { // a key on a control; it never closes the chooser
                auto *on = open->findChild<QWidget *>(arg.section(' ', 0, 0));
                QTest::keyClick(on ? on : open, QKeySequence(arg.section(' ', 1))[0].key());
                QVERIFY(open->isVisible());
            } else if (verb == "ok" || verb == "cancel")
                open->findChild<QPushButton *>(verb == "ok" ? "cmbOk" : "cmbCanc")->click();
            else if (verb == "drives") {
                drives->setDrives({"/", arg});
                drives->setDrive("/");
            } else if (verb == "deep") { // depth below the tree, name length, subfolders
                const QStringList n = arg.split(' ');
                QString path = root;
                for (int level = 0; level < n[0].toInt(); ++level)
                    path += '/' + QString(n[1].toInt(), QChar('a' + level % 26));
                for (int i = 0; i <= n[2].toInt(); ++i)
                    QVERIFY(QDir().mkpath(path + QString("/sub%1").arg(i).left(i ? -1 : 0)));
                QVERIFY(QDir::setCurrent(path));
            } else if (verb == "inview") { // the open folder, as much of its chain above as fits
                const QRect row = dirs->visualRect(dirs->currentIndex()),
                            view = dirs->viewport()->rect();
                QVERIFY(row.top() >= 0 && row.bottom() <= view.bottom());
                QVERIFY(dirs->verticalScrollBar()->value() == 0 ||
                        row.bottom() + row.height() > view.bottom());
                // Where the row from `top` on has its icon and name: pixels in neither background.
                const auto drawn = [&](int top) {
                    const QImage shot = dirs->viewport()->grab().toImage();
                    int left = view.right(), right = 0;
                    for (int y = qMax(top, 0); y < qMin(top + row.height(), view.bottom()); ++y)
                        for (int x = 0; x <= view.right(); ++x)
                            if (shot.pixel(x, y) != shot.pixel(0, y) &&
                                shot.pixel(x, y) != shot.pixel(view.right(), y))
                                left = qMin(left, x), right = qMax(right, x);
                    return std::pair(left, right);
                };
                const auto [left, right] = drawn(row.top()); // the whole name, clear of both edges
                QVERIFY(right - left >=
                            dirs->fontMetrics().horizontalAdvance(dirs->path().section('/', -1)) &&
                        left > 0 && right < view.right() - 1);
                dirs->verticalScrollBar()->setValue(0); // up to the drive, no row is blank
                for (int top = 0; top < view.bottom(); top += row.height())
                    QVERIFY(!dirs->indexAt({1, top}).isValid() || drawn(top).second > 0);
            } else if (verb == "font") { // the windows made again in it
                QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
                font.setPointSize((points = arg.toInt()) ? points : font.pointSize());
                QApplication::setFont(font);
                init();
            } else if (verb == "design")
                design(open == chooser.get() ? static_cast<QWidget *>(window.get()) : open, arg);
            else if (verb == "path") { // the open folder, highlighted
                QCOMPARE(dirs->path(), arg);
                QCOMPARE(dirs->currentIndex().data(DirList::PathRole).toString(), arg);
            } else if (verb == "files") { // U+FFFD for bytes not in UTF-8
                QCOMPARE(rows(files).join(','), arg);
                QCOMPARE(rows(files, Qt::DisplayRole).join(','),
                         QString(arg).replace(core::decodeName(oddFile), "mapa\uFFFD\uFFFDo.bsp"));
            } else if (verb == "fits") { // the conversion window, whole on the screen
                QTRY_COMPARE(QApplication::activeWindow()->objectName(), "Conversao");
                QWidget *top = QApplication::activeWindow();
                const QFontMetrics m(top->findChild<QPlainTextEdit *>()->font());
                const QSize design(m.horizontalAdvance('x') * 90, m.lineSpacing() * 30);
                const QRect screen = top->screen()->availableGeometry();
                QVERIFY(screen.contains(top->frameGeometry()));
                QVERIFY(top->rect().contains(top->findChild<QWidget *>("closeButton")->geometry()));
                QVERIFY(top->size() == design || !screen.contains(QRect(screen.topLeft(), design)));
            } else if (verb == "drive") { // the whole drive in its tip, the folder list from it on
                QCOMPARE(drives->currentData(Qt::UserRole).toString(), arg);
                QCOMPARE(drives->toolTip(), arg);
                QCOMPARE(rows(dirs).first(), arg);
            } else if (verb == "box") { // the error box; a start that failed opens no window
                QCOMPARE(boxes.isEmpty() ? QString() : boxes.takeFirst(), arg);
                for (QWidget *top : QApplication::topLevelWidgets())
                    QVERIFY(!arg.contains("iniciar") || top->objectName() != "Conversao");
            } else
                QFAIL(qPrintable("no such step: " + step));
        }
    }

    // `controls` in Tab order from the first focused; "-": hidden.
    void design(QWidget *top, const QString &controls)
    {
        // Twips at the screen's DPI with the default font; larger with a larger one.
        const QSize size = (top == window.get() ? QSize(5160, 2310) : QSize(8115, 4230)) *
                           (top->screen()->logicalDotsPerInch() / 1440.0);
        QVERIFY(points ? size.boundedTo(top->size() - QSize(1, 1)) == size : top->size() == size);
        for (QWidget *w : top->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            QVERIFY(!w->accessibleName().isEmpty()); // for screen readers
            QCOMPARE(w->isHidden(), controls.split(' ').contains('-' + w->objectName()));
            const auto *label = qobject_cast<QLabel *>(w); // with the room its text needs
            QVERIFY2(!label || label->sizeHint().boundedTo(w->size()) == label->sizeHint(),
                     qPrintable(w->objectName()));
        }
        // Tab goes round the chain, and each control's top edge shows the focus.
        const QStringList chain = controls.split(' ').filter(QRegularExpression("^[^-]"));
        top->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(top));
        for (int i = 1; i <= chain.size(); ++i) {
            QCOMPARE(top->focusWidget()->objectName(), chain[i - 1]);
            QWidget *w = top->findChild<QWidget *>(chain.value(i, chain[0]));
            const QRect edge(0, 0, w->width(), 1);
            const QImage unfocused = w->grab(edge).toImage();
            QTest::keyClick(top->focusWidget(), Qt::Key_Tab);
            QVERIFY2(w->hasFocus() && w->grab(edge).toImage() != unfocused,
                     qPrintable(w->objectName()));
        }
    }

private slots:
    void initTestCase()
    {
        connect(&boxTimer, &QTimer::timeout, this, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                const bool ops = box->windowTitle() == "Ops!" &&
                                 box->icon() == QMessageBox::Critical &&
                                 box->standardButtons() == QMessageBox::Ok;
                boxes << (ops ? "" : "?") + box->text();
                box->reject();
            }
        });
        boxTimer.start(10);
    }

    void init()
    {
        core::setDirectoryReader([](const QString &path) -> core::Result<core::Listing> {
            if (path.endsWith(QLatin1String("locked"))) // as one without permission
                return core::Error{EACCES};
            return core::platform::readDirectory(path);
        });
        stub = std::make_unique<StubFolder>(); // fresh: tests remove parts of the tree
        root = QDir(stub->folder()).canonicalPath();
        const fs::path maps = core::encodeName(root + "/maps").toStdString();
        for (const char *dir : {"sub", "x.bsp", "locked", "../other", oddFolder.data()})
            fs::create_directories(maps / dir);
        for (const char *file : {"arena.bsp", "B.BSP", "c.Bsp", "d.map", "e.bspx", ".hidden.bsp",
                                 "sub/deep.bsp", oddFile.data()})
            std::ofstream{maps / file};
        QVERIFY(QDir::setCurrent(root + "/maps"));
        window = std::make_unique<Form1>(stub->folder());
        window->show();
        field("txtBSP")->setText("old.bsp");
        field("txtMAP")->setText("old.map");
        chooser = std::make_unique<Abrir>(&mode, nullptr);
        chooser->show();
        QVERIFY(QTest::qWaitForWindowExposed(chooser.get()));
        open = chooser.get();
    }

    void cleanup()
    {
        for (QWidget *top : QApplication::topLevelWidgets()) // conversion windows belong to no one
            if (top->objectName() == "Conversao")
                delete top;
        QApplication::setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
    }

    void design_data()
    {
        QString table;
        for (const int points : {0, 14, 20})
            table += QString(R"(
main %1 pt: font %1; design txtBSP Command1 txtMAP Command2 Command3 -txtOperacao
BSP %1 pt: font %1; MAP; end; BSP; design cmbCanc cmbOk Text1 File1 Dir1 Drive1; end
MAP %1 pt: font %1; MAP; design cmbCanc cmbOk Dir1 Drive1 -Text1 -File1 -Labe; end)")
                         .arg(points);
        addRows(table + "\nconversion window: start; fits");
    }

    void design() { scenarios(); }

    void scenarios_data()
    {
        // Steps act on the chooser on its own (BSP mode), or on the main window,
        // whose chooser "BSP" or "MAP" opens until "end". $ is the tree; see play().
        addRows(QString::fromUtf8(R"(
BSP click the current row: BSP; focus; file arena.bsp; ok; end; tool $/maps/arena.bsp|old.map
BSP space: BSP; focus; press File1 Space; ok; end; tool $/maps/arena.bsp|old.map
BSP escape, cancel: BSP; file c.Bsp; press Abrir Escape; cancel; end; tool old.bsp|old.map
MAP open: MAP; dir $/maps/%dir; ok; end; tool old.bsp|$/maps/%dir
drive of the working dir: drives $; press Drive1 Down; path $/maps; drive $
drive refused: drives $/locked; press Drive1 Down; path $/maps; drive /
    files arena.bsp,B.BSP,c.Bsp,%odd; box Não foi possível abrir a unidade $/locked: permissão negada
current folder removed: dir $/maps/sub; rm $/maps/sub; press Dir1 Return; path $/maps/sub
    files deep.bsp; box Não foi possível abrir o diretório $/maps/sub: arquivo não encontrado
vanished while shown: MAP; dir $/maps/sub; rm $/maps/sub; ok; path $/maps; files d.map
    box O diretório $/maps/sub não existe mais.; end; fields old.bsp|old.map
drop many: drop Form1 7 file://$ file://$/maps/arena.bsp file://$/other file://$/maps/B.BSP
    fields $/maps/arena.bsp|$; drop txtBSP 7 file://$/other; fields $/maps/arena.bsp|$/other
drop refused: refuse Form1 7 file://$/maps/arena.bsp https://example.org/x
    refuse txtBSP 2 file://$/maps/arena.bsp; refuse txtBSP 7 file://otherhost$/maps/arena.bsp
    fields old.bsp|old.map; drop txtMAP 6 file://localhost$/maps/c.Bsp; fields $/maps/c.Bsp|old.map
any length: paste txtMAP|33000; BSP; paste Text1|33000; ok; end; tool %pasted|%pasted
no bspc.exe: bspc none; start; %nostart arquivo não encontrado; fields old.bsp|old.map
bspc.exe not what it should be: bspc #! /no/such/sh -e; start
    %nostart o interpretador /no/such/sh não foi encontrado; bspc folder; start
    %nostart é um diretório
a handler throws: throw; start; box Ocorreu um erro inesperado: disco cheio
deep folders: deep 40 4 3; BSP; inview; end; deep 3 17 0; BSP; inview; end
)"));
    }

    void scenarios()
    {
        QFETCH(QStringList, steps);
        boxes.clear();
        play(steps);
        QCOMPARE(boxes, QStringList()); // none that was not expected
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
