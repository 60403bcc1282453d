// The conversion window on the offscreen platform, with the stub as the tool:
// what it shows for each way a tool ends, the line cap under a flood while the
// main window still answers, and tools that outlive their window or the program.
#include "application.h"
#include "conversao.h"
#include "form1.h"
#include "identity.h"
#include "testkit.h"

#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>

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

// {s} in the result stands for the seconds; old is a .map file there before the
// start; $ is a fresh folder, the working directory.
struct ResultCase {
    QString mode, result, old = "", bsp = "$/maps/arena.bsp", out = "$/saida";
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
        stub = std::make_unique<StubFolder>();
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
        const QString map = "$/saida/arena.map", bsp = "$/maps/arena.bsp";
        // Sizes to the nearest KB, halves up, and at least 1 KB for a byte.
        row("map, both streams", {"talk 531967", done + map + " (519 KB)"});
        row("one byte is 1 KB", {"talk 1", done + map + " (1 KB)"});
        row("old map rewritten", {"talk 1536", done + map + " (2 KB)", map});
        row("old map left alone", {"exit 0", none + map, map});
        row("exit code", {"exit 3", "bspc.exe terminou com o código 3"});
        row("signal", {"signal 11", "bspc.exe foi encerrado pelo sinal 11 (Segmentation fault)"});
        row("a child holds the output", {"fork", done + map + " (1 KB)"});
        row("pk3", {"pk3 12", done + "12 mapas em $/saida", "$/saida/velho.map", "$/maps/a.pk3"});
        row("pk3 in capitals, one map", {"pk3 1", done + "1 mapa em $/saida", "", "$/maps/B.PK3"});
        row("pk3, no map", {"exit 0", none + "mapas em $/saida", map, "$/maps/a.pk3"});
        // An empty output field: beside the BSP file; relative paths: from the working directory.
        row("no output folder", {"talk 2048", done + "$/maps/arena.map (2 KB)", "", bsp, ""});
        row("relative paths", {"talk 2048", done + map + " (2 KB)", "", "maps/arena.bsp", "saida"});
        // Only the last extension goes; bytes that are not UTF-8 show as U+FFFD.
        row("odd bytes, two dots", {"talk 4096", done + "$/sa\uFFFD/a.b.map (4 KB)", "",
                                    "$/maps/a.b.bsp", core::decodeName("$/sa\xed")});
    }

    void results()
    {
        QFETCH(ResultCase, c);
        setMode(c.mode.toUtf8());
        if (!c.out.isEmpty())
            fs::create_directories(core::encodeName(at(c.out)).toStdString());
        if (!c.old.isEmpty())
            std::ofstream(core::encodeName(at(c.old)).toStdString()) << "velho";
        Conversao *conversion = press(window.get(), at(c.bsp), at(c.out));
        QVERIFY(conversion && stub->waitForRecords(1));
        QTRY_VERIFY_WITH_TIMEOUT(toolsEnded(), 20000);
        QString text = part<QLabel>(conversion, "resultLine")->text();
        QCOMPARE(text.replace(QRegularExpression("^(Concluído em )\\d+,\\d s"), "\\1{s} s"),
                 at(c.result));
        const QMap<QString, QStringList> outputs{
            {"talk", {"saída 1", "erro 1", "saída 2", "erro 2", "saída 3", "erro 3", "fim"}},
            {"exit", {"falhou"}},
            {"fork", {"pai"}}};
        QCOMPARE(part<QPlainTextEdit>(conversion, "outputView")->toPlainText().split('\n'),
                 outputs.value(c.mode.section(' ', 0, 0), {""}));
        // Once it ended, "Abrir pasta" opens the output folder.
        QVERIFY(part(conversion, "openFolderButton")->isVisible());
        QTest::mouseClick(part<QPushButton>(conversion, "openFolderButton"), Qt::LeftButton);
        QCOMPARE(openedUrls.size(), 1);
        QCOMPARE(core::localPath(openedUrls.first()),
                 c.out.isEmpty() ? QFileInfo(at(c.bsp)).path() : QDir(root).filePath(at(c.out)));
    }

    // The title and the top line show the command as started, quoted and escaped as in C.
    void commandLine()
    {
        StubFolder program("o \"nosso\" \\ \xe7\xe3o");
        window = std::make_unique<Form1>(program.folder());
        window->show();
        const QString tool =
            "\"" + core::displayName(program.folder()).replace("\\", "\\\\").replace("\"", "\\\"") +
            "/bspc.exe\" \"-bsp2map\" \"";
        for (const auto &[bsp, out, title, shown] : QList<std::array<QString, 4>>{
                 {"", "", "", "\" \"-output\" \""},
                 {core::decodeName("/o \"a\"\n\t\x01\xe7.bsp"), core::decodeName(" \\ \x7f\xed"),
                  "o \"a\"\n\t\x01\uFFFD.bsp",
                  "/o \\\"a\\\"\\n\\t\\x01\uFFFD.bsp\" \"-output\" \" \\\\ \\x7f\uFFFD"}}) {
            Conversao *conversion = press(window.get(), bsp, out);
            QVERIFY(conversion);
            QCOMPARE(conversion->windowTitle(), "Descompilando " + title);
            QCOMPARE(part<QLabel>(conversion, "commandLine")->text(), tool + shown + "\"");
        }
        QVERIFY(program.waitForRecords(2));
    }

    void aToolOutlivesItsWindow_data()
    {
        QTest::addColumn<QString>("action"); // halfway through the run
        // "none": the view follows the end; "quit": then nobody reads the pipe
        // any more, and the tool must not die of it.
        for (const char *action : {"none", "scroll", "Fechar", "Escape", "main", "quit"})
            QTest::newRow(action) << QString(action);
    }

    void aToolOutlivesItsWindow()
    {
        QFETCH(QString, action);
        setMode("wait");
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
            // In front, with the focus in the output; "Abrir pasta" only once it ended.
            QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(conversion));
            view = part<QPlainTextEdit>(conversion, "outputView");
            QCOMPARE(conversion->focusWidget(), static_cast<QWidget *>(view));
            QCOMPARE(part<QLabel>(conversion, "resultLine")->text(), "bspc.exe em execução…");
            QVERIFY(!part(conversion, "openFolderButton")->isVisible());
            QTRY_COMPARE_WITH_TIMEOUT(view->blockCount(), 200, 20000);
            QScrollBar *bar = view->verticalScrollBar();
            QVERIFY(bar->maximum() > 0 && bar->value() == bar->maximum());
            if (action == "scroll")
                QTest::keyClick(view, Qt::Key_Home, Qt::ControlModifier);
            else if (action == "Fechar")
                QTest::mouseClick(part<QPushButton>(conversion, "closeButton"), Qt::LeftButton);
            else if (action == "Escape")
                QTest::keyClick(view, Qt::Key_Escape);
            else if (action == "main")
                window->close();
            QTRY_COMPARE(conversion.isNull(), action == "Fechar" || action == "Escape");
        }
        release();
        // After the last write; a tool stopped with its window would write none.
        QFile done(stub->folder() + QString("/bspc-%1.done").arg(stub->records().first().pid));
        QTRY_VERIFY_WITH_TIMEOUT(done.exists(), 20000);
        QVERIFY(done.open(QIODevice::ReadOnly));
        QCOMPARE(done.readAll().toInt(), action == "quit" ? 9900 : 0); // failed writes
        if (action == "quit")
            return;
        QTRY_VERIFY_WITH_TIMEOUT(toolsEnded(), 20000);
        if (!conversion)
            return;
        QVERIFY(conversion->isVisible());
        // The last lines, and the view at their end only if nobody scrolled away.
        const QStringList shown = view->toPlainText().split('\n');
        QCOMPARE(shown.size(), Conversao::maxLines);
        QCOMPARE(shown.last(), "depois 9900: xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx");
        QCOMPARE(view->verticalScrollBar()->value() == view->verticalScrollBar()->maximum(),
                 action != "scroll");
    }

    void aFloodKeepsBothWindowsAnswering()
    {
        setMode("flood 50");
        Conversao *flood = press(window.get(), "arena.bsp", "saida");
        QObject context;
        qint64 received = 0, receivedAtPress = -1;
        connect(qApp->findChild<core::ToolRun *>({}, Qt::FindDirectChildrenOnly),
                &core::ToolRun::output, &context,
                [&](const QByteArray &bytes) { received += bytes.size(); });
        QVERIFY(stub->waitForRecords(1));
        setMode("exit 0"); // for the second press
        auto *button = part<QPushButton>(window.get(), "Command3");
        connect(button, &QPushButton::clicked, &context, [&] { receivedAtPress = received; });
        QTRY_VERIFY_WITH_TIMEOUT(received > 1 << 20, 20000);
        // Through the event queue, as a user's press comes.
        for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
            QCoreApplication::postEvent(
                button, new QMouseEvent(
                            type, QPointF(5, 5), button->mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                            type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, {}));
        QTRY_VERIFY_WITH_TIMEOUT(receivedAtPress >= 0, 60000);
        const qint64 lines = 50 * 1024 * 1024 / 100, total = lines * 100 + 2500;
        QVERIFY2(receivedAtPress < total, "the press waited for the whole flood");
        QCOMPARE(conversionWindows().size(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(toolsEnded(), 120000);
        QCOMPARE(received, total);
        // The last lines whole, and the last, with no line break, in pieces.
        const QStringList shown =
            part<QPlainTextEdit>(flood, "outputView")->toPlainText().split('\n');
        const qsizetype numbered = Conversao::maxLines - 3;
        QStringList expected;
        for (qsizetype i = lines - numbered; i < lines; ++i)
            expected << QString("linha %1 ").arg(i, 8, 10, QLatin1Char('0')) + QString(84, 'x');
        const QString y = QString(Conversao::maxLineLength, 'y');
        QCOMPARE(shown, expected << y << y << QString(2500 - 2 * y.size(), 'y'));
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
