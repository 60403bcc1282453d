// The conversion window on the offscreen platform, with the stub as the tool:
// what it shows for each way a tool ends, its keyboard, the line cap under a
// flood while the main window still answers, and tools that outlive their
// window or the program itself.
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

// The pipes and pidfds this process holds: what a run opens. (Qt opens
// descriptors of its own as the first windows come.)
QStringList openFds()
{
    QStringList targets;
    for (const fs::directory_entry &fd : fs::directory_iterator("/proc/self/fd")) {
        std::error_code gone;
        const std::string target = fs::read_symlink(fd.path(), gone).string();
        if (!gone && (target.starts_with("pipe:") || target == "anon_inode:[pidfd]"))
            targets << QString::fromStdString(target);
    }
    targets.sort();
    return targets;
}

QList<Conversao *> conversionWindows()
{
    QList<Conversao *> windows;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *window = qobject_cast<Conversao *>(w))
            windows << window;
    }
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

// A main window whose conversion is quit with the program halfway: prints how
// many conversion windows were open after the main one closed.
int quitMidRun(int argc, char **argv)
{
    std::signal(SIGPIPE, SIG_DFL); // as from a menu: not the test's disposition
    ui::Application app(argc, argv);
    Form1 window(core::decodeName(argv[2]));
    part<QLineEdit>(&window, "txtBSP")->setText(core::decodeName(argv[3]));
    part<QLineEdit>(&window, "txtMAP")->setText(core::decodeName(argv[4]));
    window.show();
    part<QPushButton>(&window, "Command3")->click();
    QTimer::singleShot(0, [&] {
        window.close();
        QTimer::singleShot(100, [] {
            std::printf("%d aberta(s)\n", int(conversionWindows().size()));
            std::fflush(stdout);
            for (Conversao *conversion : conversionWindows())
                conversion->close();
        });
    });
    return app.exec();
}

} // namespace

// Stands in for the desktop's file manager.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void openUrl(const QUrl &url) { urls << url; }
};

class TestConversion : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> tree;
    QString root;
    std::unique_ptr<StubFolder> stub;
    std::unique_ptr<Form1> window;
    UrlCatcher fileManager;

    QString at(QString path) const { return path.replace('$', root); }
    void setMode(const char *mode)
    {
        std::ofstream(stub->bytes.toStdString() + "/stub-mode") << mode;
    }
    void release() { std::ofstream(stub->bytes.toStdString() + "/go"); }
    QString doneFile(qint64 pid) const
    {
        return stub->folder() + QString("/bspc-%1.done").arg(pid);
    }

    // Descompilar with these fields; returns the window that it opened.
    Conversao *press(const QString &bsp, const QString &out)
    {
        part<QLineEdit>(window.get(), "txtBSP")->setText(bsp);
        part<QLineEdit>(window.get(), "txtMAP")->setText(out);
        const QList<Conversao *> before = conversionWindows();
        QTest::mouseClick(part<QPushButton>(window.get(), "Command3"), Qt::LeftButton);
        for (Conversao *conversion : conversionWindows()) {
            if (!before.contains(conversion))
                return conversion;
        }
        return nullptr;
    }

private slots:
    void initTestCase() { QDesktopServices::setUrlHandler("file", &fileManager, "openUrl"); }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler("file"); }

    void init()
    {
        tree = std::make_unique<QTemporaryDir>();
        root = QDir(tree->path()).canonicalPath();
        QVERIFY(QDir(root).mkpath("maps") && QDir(root).mkpath("saida"));
        QVERIFY(QDir::setCurrent(root));
        stub = std::make_unique<StubFolder>();
        window = std::make_unique<Form1>(stub->folder());
        window->show();
        fileManager.urls.clear();
    }

    void cleanup()
    {
        release(); // whatever still waits, and children left behind
        qDeleteAll(conversionWindows());
        QTRY_VERIFY_WITH_TIMEOUT(toolsEnded(), 60000);
        window.reset();
        stub.reset();
        fs::remove_all(core::encodeName(root).toStdString());
    }

    void results_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("result"); // {s} stands for the seconds
        QTest::addColumn<QStringList>("output");
        QTest::addColumn<QString>("old"); // a .map file there before the start
        QTest::addColumn<QString>("bsp"); // $ is a fresh folder, the working directory
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("folder"); // that "Abrir pasta" opens
        auto row = [](const char *tag, const QString &mode, const QString &result,
                      const QStringList &output, const QString &old = "",
                      const QString &bsp = "$/maps/arena.bsp", const QString &out = "$/saida",
                      const QString &folder = "") {
            QTest::newRow(tag) << mode << result << output << old << bsp << out
                               << (folder.isEmpty() ? out : folder);
        };
        const QString done = "Concluído em {s} s: ", none = "bspc.exe terminou sem escrever ";
        const QString map = "$/saida/arena.map", odd = core::decodeName("$/sa\xed"
                                                                        "da");
        const QStringList talk{"saída 1", "erro 1", "saída 2", "erro 2",
                               "saída 3", "erro 3", "fim"};
        // Sizes to the nearest KB, halves up, and at least 1 KB for a byte.
        row("map, both streams", "talk 531967", done + map + " (519 KB)", talk);
        row("one byte is 1 KB", "talk 1", done + map + " (1 KB)", talk);
        row("1536 bytes are 2 KB", "talk 1536", done + map + " (2 KB)", talk);
        row("old map rewritten", "talk 2048", done + map + " (2 KB)", talk, map);
        row("old map left alone", "quiet", none + map, {"nada a fazer"}, map);
        row("no map", "quiet", none + map, {"nada a fazer"});
        row("exit code", "exit 3", "bspc.exe terminou com o código 3", {"falhou"});
        row("signal", "signal 11", "bspc.exe foi encerrado pelo sinal 11 (Segmentation fault)",
            {""});
        row("a child holds the output", "fork", done + map + " (1 KB)", {"pai"});
        row("pk3", "pk3 12", done + "12 mapas em $/saida", {""}, "$/saida/velho.map",
            "$/maps/a.pk3");
        row("pk3 in capitals, one map", "pk3 1", done + "1 mapa em $/saida", {""}, "",
            "$/maps/B.PK3");
        row("pk3, no map", "quiet", none + "mapas em $/saida", {"nada a fazer"}, map,
            "$/maps/a.pk3");
        // An empty output field: beside the BSP file; relative paths: from the working directory.
        const QString beside = done + "$/maps/arena.map (2 KB)";
        row("no output folder", "talk 2048", beside, talk, "", "$/maps/arena.bsp", "", "$/maps");
        row("relative paths", "talk 2048", done + map + " (2 KB)", talk, "", "maps/arena.bsp",
            "saida", "$/saida");
        row("relative, no output", "talk 2048", done + "$/arena.map (2 KB)", talk, "", "arena.bsp",
            "", "$");
        // Only the last extension goes; bytes that are not UTF-8 show as U+FFFD.
        const QString oddMap = done + "$/sa\uFFFDda/a.b.map (4 KB)";
        row("odd bytes, two dots", "talk 4096", oddMap, talk, "", "$/maps/a.b.bsp", odd);
    }

    void results()
    {
        QFETCH(QString, mode);
        QFETCH(QString, result);
        QFETCH(QStringList, output);
        QFETCH(QString, old);
        QFETCH(QString, bsp);
        QFETCH(QString, out);
        QFETCH(QString, folder);
        setMode(mode.toUtf8());
        if (!out.isEmpty())
            fs::create_directories(core::encodeName(at(out)).toStdString());
        if (!old.isEmpty())
            std::ofstream(core::encodeName(at(old)).toStdString()) << "velho";
        const QStringList fds = openFds();
        Conversao *conversion = press(at(bsp), at(out));
        QVERIFY(conversion);
        QVERIFY(stub->waitForRecords(1));
        const qint64 pid = stub->records().first().pid;
        QTRY_VERIFY_WITH_TIMEOUT(toolsEnded(), 20000);
        const QString text = part<QLabel>(conversion, "resultLine")->text();
        const QString pattern = QRegularExpression::escape(at(result))
                                    .replace(QRegularExpression::escape("{s}"), "\\d+,\\d");
        QVERIFY2(
            QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(text).hasMatch(),
            qPrintable(text));
        QCOMPARE(part<QPlainTextEdit>(conversion, "outputView")->toPlainText().split('\n'), output);
        // Collected, and nothing of it left open here.
        QVERIFY(!QFile::exists(QString("/proc/%1").arg(pid)));
        QCOMPARE(openFds(), fds);
        // Once it ended, the folder can be opened.
        auto *openFolder = part<QPushButton>(conversion, "openFolderButton");
        QVERIFY(openFolder->isVisible() && part(conversion, "closeButton")->isVisible());
        QTest::mouseClick(openFolder, Qt::LeftButton);
        QCOMPARE(fileManager.urls.size(), 1);
        QCOMPARE(core::localPath(fileManager.urls.first()), at(folder));
    }

    void commandLine_data()
    {
        QTest::addColumn<QByteArray>("folder"); // of the program, in a temporary one
        QTest::addColumn<QString>("bsp");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("name");     // in the title
        QTest::addColumn<QString>("shownBsp"); // between the quotes of the top line
        QTest::addColumn<QString>("shownOut");
        auto row = [](const char *tag, const QByteArray &folder, const QString &bsp,
                      const QString &out, const QString &name, const QString &shownBsp,
                      const QString &shownOut) {
            QTest::newRow(tag) << folder << bsp << out << name << shownBsp << shownOut;
        };
        const QString odd = core::decodeName("/mapa\xe7\xe3o.bsp"),
                      oddOut = core::decodeName("/\xed");
        row("ordinary", "", "/m/arena.bsp", "/s", "arena.bsp", "/m/arena.bsp", "/s");
        row("empty fields", "", "", "", "", "", "");
        row("quotes, backslashes", "o \"nosso\" x", "/o \"a\".bsp", " \\ ", "o \"a\".bsp",
            "/o \\\"a\\\".bsp", " \\\\ ");
        row("control characters", "", "/a\nb\tc\x01.bsp", "\x7f", "a\nb\tc\x01.bsp",
            "/a\\nb\\tc\\x01.bsp", "\\x7f");
        row("not UTF-8", "x\xe7\xe3o", odd, oddOut, "mapa\uFFFD\uFFFDo.bsp",
            "/mapa\uFFFD\uFFFDo.bsp", "/\uFFFD");
    }

    void commandLine()
    {
        QFETCH(QByteArray, folder);
        QFETCH(QString, bsp);
        QFETCH(QString, out);
        QFETCH(QString, name);
        QFETCH(QString, shownBsp);
        QFETCH(QString, shownOut);
        StubFolder program(folder);
        window = std::make_unique<Form1>(program.folder());
        window->show();
        Conversao *conversion = press(bsp, out);
        QVERIFY(conversion);
        QCOMPARE(conversion->windowTitle(), "Descompilando " + name);
        const QString tool = core::displayName(program.folder()).replace("\"", "\\\"");
        QCOMPARE(part<QLabel>(conversion, "commandLine")->text(),
                 QString("\"%1/bspc.exe\" \"-bsp2map\" \"%2\" \"-output\" \"%3\"")
                     .arg(tool, shownBsp, shownOut));
        QVERIFY(program.waitForRecords(1));
    }

    void keyboardAndNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("accessible");
        QTest::addColumn<QString>("tabWhileRunning"); // where Tab goes; "" when it takes no focus
        QTest::addColumn<QString>("tabAfterwards");
        auto row = [](const char *tag, const QString &name, const QString &accessible,
                      const QString &running = "", const QString &afterwards = "") {
            QTest::newRow(tag) << name << accessible << running << afterwards;
        };
        row("window", "Conversao", "Descompilando arena.bsp");
        row("command line", "commandLine", "Comando iniciado");
        row("output", "outputView", "Saída do bspc.exe", "closeButton", "openFolderButton");
        row("result", "resultLine", "Resultado");
        row("open folder", "openFolderButton", "Abrir pasta", "", "closeButton");
        row("close", "closeButton", "Fechar", "outputView", "outputView");
    }

    void keyboardAndNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, accessible);
        QFETCH(QString, tabWhileRunning);
        QFETCH(QString, tabAfterwards);
        setMode("wait");
        Conversao *conversion = press("arena.bsp", "saida");
        QVERIFY(conversion);
        // Its own window, in front, with the focus in the output.
        QVERIFY(!conversion->parentWidget() && !conversion->isModal());
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(conversion));
        QCOMPARE(conversion->focusWidget()->objectName(), "outputView");
        QWidget *control = name == "Conversao" ? conversion : part(conversion, name.toLatin1());
        QCOMPARE(control->accessibleName(), accessible);
        for (const bool running : {true, false}) {
            const QString &next = running ? tabWhileRunning : tabAfterwards;
            QCOMPARE(part<QLabel>(conversion, "resultLine")->text() == "bspc.exe em execução…",
                     running);
            QCOMPARE(part(conversion, "openFolderButton")->isVisible(), !running);
            QVERIFY(part(conversion, "closeButton")->isVisible());
            if (!next.isEmpty()) {
                control->setFocus();
                QTest::keyClick(control, Qt::Key_Tab);
                QCOMPARE(conversion->focusWidget()->objectName(), next);
            }
            release();
            QTRY_VERIFY_WITH_TIMEOUT(toolsEnded(), 20000);
        }
        // Escape closes it: nothing in it takes input.
        QTest::keyClick(part(conversion, "outputView"), Qt::Key_Escape);
        QTRY_VERIFY(conversionWindows().isEmpty());
    }

    void aToolOutlivesItsWindow_data()
    {
        QTest::addColumn<QString>("action");   // halfway through the run
        QTest::addColumn<int>("failedWrites"); // of the 9900 lines that follow
        QTest::newRow("none: the view follows the end") << "none" << 0;
        QTest::newRow("the user scrolls up") << "scroll" << 0;
        QTest::newRow("Fechar") << "Fechar" << 0;
        QTest::newRow("Escape") << "Escape" << 0;
        QTest::newRow("the main window closes") << "main" << 0;
        // Then nobody reads the pipe any more, and the tool must not die of it.
        QTest::newRow("the program quits") << "quit" << 9900;
    }

    void aToolOutlivesItsWindow()
    {
        QFETCH(QString, action);
        QFETCH(int, failedWrites);
        setMode("wait");
        const QStringList fds = openFds();
        QPointer<Conversao> conversion;
        QPlainTextEdit *view = nullptr;
        if (action == "quit") {
            QProcess program;
            program.start(QCoreApplication::applicationFilePath(),
                          {"--quit-mid-run", stub->folder(), "arena.bsp", "saida"});
            QVERIFY(program.waitForFinished(60000));
            QCOMPARE(program.readAllStandardOutput(), "1 aberta(s)\n");
            QCOMPARE(program.exitCode(), 0);
            QVERIFY(stub->waitForRecords(1));
        } else {
            conversion = press("arena.bsp", "saida");
            QVERIFY(conversion);
            view = part<QPlainTextEdit>(conversion, "outputView");
            QTRY_COMPARE_WITH_TIMEOUT(view->blockCount(), 200, 20000);
            QScrollBar *bar = view->verticalScrollBar();
            QVERIFY(bar->maximum() > 0);
            QCOMPARE(bar->value(), bar->maximum());
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
        const qint64 pid = stub->records().first().pid;
        QVERIFY(QFile::exists(QString("/proc/%1").arg(pid)));
        release();
        QFile done(doneFile(pid)); // written after the tool's last write
        QTRY_VERIFY_WITH_TIMEOUT(done.exists(), 20000);
        QVERIFY(done.open(QIODevice::ReadOnly));
        QCOMPARE(done.readAll().toInt(), failedWrites);
        done.close();
        if (action == "quit")
            return;
        QTRY_VERIFY_WITH_TIMEOUT(toolsEnded(), 20000);
        QVERIFY(!QFile::exists(QString("/proc/%1").arg(pid)));
        QCOMPARE(openFds(), fds);
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
        Conversao *flood = press("arena.bsp", "saida");
        QVERIFY(flood);
        QObject context;
        qint64 received = 0, receivedAtPress = -1;
        const QList<core::ToolRun *> runs =
            qApp->findChildren<core::ToolRun *>(Qt::FindDirectChildrenOnly);
        QCOMPARE(runs.size(), 1);
        connect(runs.first(), &core::ToolRun::output, &context,
                [&](const QByteArray &bytes) { received += bytes.size(); });
        QVERIFY(stub->waitForRecords(1));
        setMode("quiet"); // for the second press
        auto *button = part<QPushButton>(window.get(), "Command3");
        connect(button, &QPushButton::clicked, &context, [&] { receivedAtPress = received; });
        QTRY_VERIFY_WITH_TIMEOUT(received > 1 << 20, 20000);
        // Through the event queue, as a user's press comes.
        const QPointF centre = button->rect().center();
        QCoreApplication::postEvent(button, new QMouseEvent(QEvent::MouseButtonPress, centre,
                                                            button->mapToGlobal(centre),
                                                            Qt::LeftButton, Qt::LeftButton, {}));
        QCoreApplication::postEvent(button, new QMouseEvent(QEvent::MouseButtonRelease, centre,
                                                            button->mapToGlobal(centre),
                                                            Qt::LeftButton, Qt::NoButton, {}));
        QTRY_VERIFY_WITH_TIMEOUT(receivedAtPress >= 0, 60000);
        const qint64 lines = 50 * 1024 * 1024 / 100, total = lines * 100 + 2500;
        QVERIFY2(receivedAtPress < total, "the press waited for the whole flood");
        QCOMPARE(conversionWindows().size(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(toolsEnded(), 120000);
        QCOMPARE(received, total);
        // The last lines whole, and the last, with no line break, in pieces.
        const QStringList shown =
            part<QPlainTextEdit>(flood, "outputView")->toPlainText().split('\n');
        QCOMPARE(shown.size(), Conversao::maxLines);
        const qsizetype numbered = Conversao::maxLines - 3;
        for (qsizetype i = 0; i < numbered; ++i) {
            const QString number = QString("%1").arg(lines - numbered + i, 8, 10, QLatin1Char('0'));
            QVERIFY2(shown[i].size() == 99 && shown[i].startsWith("linha " + number + ' '),
                     qPrintable(shown[i]));
        }
        const QString y = QString(Conversao::maxLineLength, 'y');
        QCOMPARE(shown.mid(numbered), QStringList({y, y, QString(2500 - 2 * y.size(), 'y')}));
    }
};

int main(int argc, char **argv)
{
    if (argc == 5 && std::string_view(argv[1]) == "--quit-mid-run")
        return quitMidRun(argc, argv);
    ui::Application app(argc, argv);
    setUpIdentity(app);
    TestConversion test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_conversion.moc"
