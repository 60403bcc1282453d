// The conversion window on the offscreen platform, with the stub as the tool:
// what it shows for each way a tool ends, and to a screen reader, the line cap
// under a flood while the main window still answers, and tools that outlive
// their window or the program; then the real converter on each kind of input.
#include "application.h"
#include "conversao.h"
#include "form1.h"
#include "identity.h"
#include "mapcheck.h"
#include "testkit.h"

#include <QAccessible>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QThread>

#include <csignal>

namespace {

QList<Conversao *> conversionWindows()
{
    QList<Conversao *> windows;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *conversion = qobject_cast<Conversao *>(w))
            windows << conversion;
    return windows;
}

// Every run deletes itself once its tool has exited and been collected.
bool toolsEnded()
{
    return qApp->findChildren<core::ToolRun *>(Qt::FindDirectChildrenOnly).isEmpty();
}

template <typename T = QWidget> T *part(QWidget *window, const char *name)
{
    return window->findChild<T *>(name);
}

// Descompilar with these fields; returns the window that it opened.
Conversao *press(Form1 *window, const QString &bsp, const QString &out)
{
    part<QLineEdit>(window, "txtBSP")->setText(bsp);
    part<QLineEdit>(window, "txtMAP")->setText(out);
    const QList<Conversao *> before = conversionWindows();
    QTest::mouseClick(part<QPushButton>(window, "Command3"), Qt::LeftButton);
    QList<Conversao *> opened = conversionWindows();
    opened.removeIf([&](Conversao *conversion) { return before.contains(conversion); });
    return opened.value(0);
}

// The program quits, and so stops reading, halfway through a conversion.
int quitMidRun(int argc, char **argv)
{
    std::signal(SIGPIPE, SIG_DFL); // as from a menu: not the test's disposition
    ui::Application app(argc, argv);
    Form1 window(core::decodeName(argv[2]));
    window.show();
    const auto *view = part<QPlainTextEdit>(press(&window, "arena.bsp", "saida"), "outputView");
    // Halfway through the run, once the tool waits: its first lines were read.
    while (view->blockCount() < 200)
        app.processEvents(QEventLoop::WaitForMoreEvents);
    QTimer::singleShot(0, &app, &QApplication::closeAllWindows);
    return app.exec();
}

// The stub's mode, or "real" for bspc.exe itself. {s} in the result stands for
// the seconds, {k} for a size; old is a .map file there before the start; $ is a
// fresh folder, the working directory. maps: what the real tool leaves in the
// output folder.
struct ResultCase {
    QString mode, result, old = "", bsp = "$/maps/arena.bsp", out = "$/saida", title = "arena.bsp",
                          maps = "";
};

} // namespace

class TestConversion : public QObject {
    Q_OBJECT

    QString root; // the stub's folder, the working directory
    std::unique_ptr<StubFolder> stub;
    std::unique_ptr<Form1> window;
    QList<QUrl> openedUrls;

    QString at(QString path) const { return path.replace('$', root); }
    void setMode(const char *m) { std::ofstream(stub->bytes.toStdString() + "/stub-mode") << m; }
    void release() { std::ofstream(stub->bytes.toStdString() + "/go"); }

public slots:
    void openUrl(const QUrl &url) { openedUrls << url; } // stands in for the file manager

private slots:
    void initTestCase() { QDesktopServices::setUrlHandler("file", this, "openUrl"); }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler("file"); }

    void init()
    {
        stub = std::make_unique<StubFolder>("o \"nosso\" \\ ção"); // quoted in the command line
        root = QDir(stub->folder()).canonicalPath();
        QVERIFY(QDir(root).mkpath("maps") && QDir::setCurrent(root));
        window = std::make_unique<Form1>(stub->folder());
        window->show();
        openedUrls.clear();
    }

    void cleanup()
    {
        release(); // whatever still waits, and children left behind
        qDeleteAll(conversionWindows());
        QTRY_VERIFY_WITH_TIMEOUT(toolsEnded(), 60000);
    }

    void results_data()
    {
        QTest::addColumn<ResultCase>("c");
        auto row = [](const char *tag, const ResultCase &c) { QTest::newRow(tag) << c; };
        const QString done = "Concluído em {s} s: ", none = "bspc.exe terminou sem escrever ";
        const QString map = "$/saida/arena.map";
        // Sizes to the nearest KB, halves up, and at least 1 KB for a byte.
        row("map, both streams", {"talk 17347584", done + map + " (16.941 KB)"});
        row("old map rewritten", {"talk 1536", done + map + " (2 KB)", map});
        const QString beside = "$/maps/arena.map"; // no output folder: the input's
        row("old map left alone, no output",
            {"exit 0", none + beside, beside, "$/maps/arena.bsp", ""});
        row("exit code", {"exit 3", "bspc.exe terminou com o código 3"});
        row("signal", {"signal 11", "bspc.exe foi encerrado pelo sinal 11 (Segmentation fault)"});
        // Only the last extension goes; bytes that are not UTF-8 show as U+FFFD,
        // control characters as their symbols.
        row("odd bytes, two dots, 10 bytes",
            {"talk 10", done + "$/sa\uFFFD/a\u240A.b.map (1 KB)", "", "$/maps/a\n.b.bsp",
             core::decodeName("$/sa\xed"), "a\u240A.b.bsp"});
        // bspc.exe on each kind of input, with another run's map turning up
        // meanwhile: the window expects, counts and opens what the tool writes.
        row("pk3 and a slash, no output", {"real", done + "2 mapas em $/maps", "",
                                           "$/maps/pak.pk3/", "", "pak.pk3", "a.map b.map"});
        row("relative map in a pk3, no output", {"real", done + "$/maps/b.map ({k} KB)", "",
                                                 "maps/pak.pk3/maps/b.bsp", "", "b.bsp", "b.map"});
        row("some maps fail, relative output",
            {"real", "2 mapas em $/saida; 1 não convertido (código 1)", "", "$/maps/mau.pk3",
             "saida", "mau.pk3", "a.map b.map"});
    }

    void results()
    {
        QFETCH(ResultCase, c);
        setMode(c.mode.toUtf8());
        fs::create_directories(
            core::encodeName(at(c.out.isEmpty() ? "saida" : c.out)).toStdString());
        std::ofstream(core::encodeName(at(c.bsp)).toStdString());
        if (c.mode == "real") {
            QVERIFY(fs::remove(stub->tool().toStdString()));
            fs::create_symlink(qgetenv("BSPC_EXE").toStdString(), stub->tool().toStdString());
            const QByteArray bsp =
                check::unzip("/usr/share/games/openarena/baseoa/pak1-maps.pk3", "maps/oa_ctf2.bsp");
            QList<QPair<QByteArray, QByteArray>> maps{{"maps/a.bsp", bsp}, {"maps/b.bsp", bsp}};
            QVERIFY(
                check::writeZip(root + "/maps/pak.pk3", maps) &&
                check::writeZip(root + "/maps/mau.pk3", maps << qMakePair("maps/c.bsp", "IBSP")));
        }
        if (!c.old.isEmpty())
            std::ofstream(core::encodeName(at(c.old)).toStdString()) << "velho";
        Conversao *conversion = press(window.get(), at(c.bsp), at(c.out));
        for (const char *other : {"/saida/outro.map", "/maps/outro.map"})
            std::ofstream(root.toStdString() + other) << "outro";
        QVERIFY(conversion);
        QTRY_VERIFY_WITH_TIMEOUT(toolsEnded(), 60000);
        QCOMPARE(conversion->windowTitle(), "Descompilando " + c.title);
        const QString result = part<QLabel>(conversion, "resultLine")->text();
        QCOMPARE(
            QString(result)
                .replace(QRegularExpression("^(Concluído em )\\d+,\\d s"), "\\1{s} s")
                .replace(QRegularExpression(c.result.contains("{k}") ? "\\(\\d+ KB\\)$" : "^$"),
                         "({k} KB)"),
            at(c.result));
        const QString output = part<QPlainTextEdit>(conversion, "outputView")->toPlainText();
        const QString folder = c.out.isEmpty() ? at("$/maps") : QDir(root).filePath(at(c.out));
        if (c.mode == "real") {
            QCOMPARE(QDir(folder).entryList({"*.map"}).join(' ').remove("outro.map").simplified(),
                     c.maps);
        } else {
            const QMap<QString, QString> outputs{
                {"talk", "saída 1\nerro 1\nsaída 2\nerro 2\nsaída 3\nerro 3\nfim"},
                {"exit", "falhou"}};
            QCOMPARE(output, outputs.value(c.mode.section(' ', 0, 0)));
        }
        // A screen reader reads the command and the result by their names: their
        // texts, which Qt announces as they change.
        for (auto *line :
             {part<QLabel>(conversion, "commandLine"), part<QLabel>(conversion, "resultLine")})
            QCOMPARE(QAccessible::queryAccessibleInterface(line)->text(QAccessible::Name),
                     line->text());
        // "Abrir pasta" opens the output folder.
        QTest::mouseClick(part<QPushButton>(conversion, "openFolderButton"), Qt::LeftButton);
        QCOMPARE(core::localPath(openedUrls.value(0)), folder);
    }

    // The top line shows the command as started, quoted and escaped as in C; the
    // title shows control characters as symbols, and numbers a second window of a map.
    void commandLine()
    {
        const QString folder = stub->folder().replace("\\", "\\\\").replace("\"", "\\\"");
        const QString bsp = core::decodeName("/o \"a\"\\\n\t\x01\x7f\xe7.bsp"),
                      title = "o \"a\"\\\u240A\u2409\u2401\u2421\uFFFD.bsp";
        Conversao *first = press(window.get(), bsp, ""), *second = press(window.get(), bsp, "");
        QVERIFY(first && second);
        QCOMPARE(first->windowTitle(), "Descompilando " + title);
        QCOMPARE(second->windowTitle(), "Descompilando " + title + " (2)");
        QCOMPARE(part<QLabel>(first, "commandLine")->text(),
                 "\"" + folder + "/bspc.exe\" \"-bsp2map\" " +
                     "\"/o \\\"a\\\"\\\\\\n\\t\\x01\\x7f\uFFFD.bsp\" \"-output\" \"\"");
    }

    void aToolOutlivesItsWindow_data()
    {
        QTest::addColumn<QString>("action"); // halfway through the run
        // "quit": then nobody reads the pipe any more, and the tool must not die of it.
        for (const char *action : {"Fechar", "main", "quit"})
            QTest::newRow(action) << QString(action);
    }

    void aToolOutlivesItsWindow()
    {
        QFETCH(QString, action);
        setMode(action == "main" ? "wait 1" : "wait 0");
        QPointer<Conversao> conversion;
        QPlainTextEdit *view = nullptr;
        if (action == "quit") {
            QProcess program;
            program.start(QCoreApplication::applicationFilePath(),
                          {"--quit-mid-run", stub->folder()});
            QVERIFY(program.waitForFinished(60000) && program.exitCode() == 0);
            QVERIFY(stub->waitForRecords(1));
        } else {
            conversion = press(window.get(), "arena.bsp", "saida");
            // "Abrir pasta" only once it ended.
            view = part<QPlainTextEdit>(conversion, "outputView");
            QVERIFY(!part(conversion, "openFolderButton")->isVisible());
            QTRY_COMPARE_WITH_TIMEOUT(view->blockCount(), 200, 20000);
            if (action == "Fechar")
                QTest::mouseClick(part<QPushButton>(conversion, "closeButton"), Qt::LeftButton);
            else
                window->close();
            QTRY_COMPARE(conversion.isNull(), action == "Fechar");
        }
        release();
        // After the last write; a tool stopped with its window would write none.
        // Once the main window is closed nothing is read meanwhile, so that most of
        // it is still in the pipe at the exit.
        QFile done(stub->folder() + QString("/bspc-%1.done").arg(stub->records().first().pid));
        for (int i = 0; action == "main" && i < 2000 && !done.exists(); ++i)
            QThread::msleep(10);
        QTRY_VERIFY_WITH_TIMEOUT(done.exists(), 20000);
        QVERIFY(done.open(QIODevice::ReadOnly));
        QCOMPARE(done.readAll().toInt(), action == "quit" ? 9900 : 0); // failed writes
        if (!conversion)
            return;
        // The last lines, as many as the window keeps, and the view at their end.
        QTRY_VERIFY_WITH_TIMEOUT(toolsEnded(), 20000);
        QVERIFY(conversion->isVisible());
        QCOMPARE(view->blockCount(), Conversao::maxLines);
        QCOMPARE(view->toPlainText().section('\n', -1), "depois 9900: " + QString(36, 'x'));
        QCOMPARE(view->verticalScrollBar()->value(), view->verticalScrollBar()->maximum());
    }

    void aFloodKeepsBothWindowsAnswering()
    {
        setMode("flood 50");
        Conversao *flood = press(window.get(), "arena.bsp", "saida");
        auto *view = part<QPlainTextEdit>(flood, "outputView");
        QTRY_VERIFY_WITH_TIMEOUT(view->verticalScrollBar()->maximum() > 100, 20000);
        setMode("exit 0"); // for the second press, now that the flood has its mode
        auto *button = part<QPushButton>(window.get(), "Command3");
        QString floodAtPress; // its result line
        connect(button, &QPushButton::clicked, flood,
                [&] { floodAtPress = part<QLabel>(flood, "resultLine")->text(); });
        // Three notches up while lines pour in: the lines in view stay there
        // until the end is back.
        const QPoint middle = view->viewport()->rect().center();
        QWheelEvent up(middle, view->viewport()->mapToGlobal(middle), {}, {0, 3 * 120},
                       Qt::NoButton, {}, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view->viewport(), &up);
        const QString top = view->cursorForPosition({}).block().text();
        // Through the event queue, as a user's press comes.
        for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
            QCoreApplication::postEvent(
                button, new QMouseEvent(
                            type, QPointF(5, 5), button->mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                            type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, {}));
        // The press did not wait for the whole flood.
        QTRY_COMPARE_WITH_TIMEOUT(floodAtPress, "bspc.exe em execução…", 60000);
        QCOMPARE(conversionWindows().size(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(toolsEnded(), 120000);
        QCOMPARE(view->cursorForPosition({}).block().text(), top);
        QTest::keyClick(view, Qt::Key_End, Qt::ControlModifier);
        // The last lines whole, and the last, with no line break, in pieces.
        const qsizetype lines = 50 * 1024 * 1024 / 100, numbered = Conversao::maxLines - 3;
        QStringList expected;
        for (qsizetype i = lines - numbered; i < lines; ++i)
            expected << QString("linha %1 ").arg(i, 8, 10, QLatin1Char('0')) + QString(84, 'x');
        const QString y = QString(Conversao::maxLineLength, 'y');
        expected << y << y << QString(2500 - 2 * y.size(), 'y');
        QTRY_COMPARE(view->toPlainText().split('\n'), expected);
    }
};

int main(int argc, char **argv)
{
    if (argc == 3 && std::string_view(argv[1]) == "--quit-mid-run")
        return quitMidRun(argc, argv);
    ui::Application app(argc, argv);
    setUpIdentity(app);
    TestConversion test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_conversion.moc"
