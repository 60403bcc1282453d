// Vostrand's benchmarks, each against its floor, every measurement in a fresh
// child process of this binary so that its peak RSS is its own:
//   chooser  the chooser's lists on N entries, against one bare listing pass
//            and against QFileDialog (offscreen);
//   startup  spawn to first paint and peak RSS, against a bare QApplication
//            and QWidget; click to tool running, against a raw posix_spawn.
// bench [--runs=N] [chooser|startup] [N...]; bench/run.sh builds and runs it.
#include "abrir.h"
#include "application.h"
#include "core.h"
#include "form1.h"
#include "identity.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr int subfolders = 5000;

qint64 nowNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

double peakRssMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

// The median of the values, NaN for none.
double median(QList<double> values)
{
    if (values.isEmpty())
        return qQNaN();
    std::sort(values.begin(), values.end());
    const qsizetype mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

void say(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

// --- Children ------------------------------------------------------------------

// Runs `work` once the window has painted for the first time.
void afterFirstPaint(QWidget *window, std::function<void(qint64 paintNs)> work)
{
    struct Probe : QObject {
        std::function<void(qint64)> work;
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Paint && work) {
                QTimer::singleShot(0, [work = std::exchange(work, {}), at = nowNs()] { work(at); });
            }
            return false;
        }
    };
    auto *probe = new Probe;
    probe->setParent(window);
    probe->work = std::move(work);
    window->installEventFilter(probe);
}

int chooserChild(const QString &mode, qsizetype files)
{
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    int argc = 1;
    char name[] = "bench";
    char *argv[] = {name, nullptr};
    QApplication app(argc, argv);
    // What any window has paid for before the chooser opens.
    QApplication::style();
    QFontMetrics(QApplication::font()).horizontalAdvance('x');
    const qint64 start = nowNs();
    qsizetype rows = -1;
    if (mode == "raw") {
        const core::Result<core::Listing> read = core::readDirectory(core::workingDirectory());
        if (read.ok() && core::sortedSubdirectories(read.value()).size() >= subfolders)
            rows = core::matchingFiles(read.value(), "*.bsp").size();
    } else if (mode == "chooser") {
        QLineEdit bsp("BSP");
        Abrir chooser(&bsp, nullptr);
        QCoreApplication::processEvents();
        rows = chooser.findChild<QAbstractItemView *>("File1")->model()->rowCount();
    } else {
        // Loaded once the folder is read and no row came or moved for half a second.
        QFileDialog dialog(nullptr, {}, QDir::currentPath(), "*.bsp");
        auto *model = dialog.findChild<QFileSystemModel *>();
        qint64 last = nowNs();
        bool loaded = false;
        QObject::connect(model, &QFileSystemModel::directoryLoaded, [&] {
            loaded = true;
            last = nowNs();
        });
        QObject::connect(model, &QAbstractItemModel::rowsInserted, [&] { last = nowNs(); });
        QObject::connect(model, &QAbstractItemModel::layoutChanged, [&] { last = nowNs(); });
        while (!(loaded && nowNs() - last > 500'000'000) && nowNs() - start < 120'000'000'000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        rows = loaded ? model->rowCount(model->index(QDir::currentPath())) - subfolders : -1;
        rows = rows == files ? rows : -1;
        say(QString("RESULT %1 %2 %3").arg((last - start) / 1e6).arg(peakRssMiB()).arg(rows));
        std::_Exit(0); // tearing down a model of a million nodes is not measured
    }
    say(QString("RESULT %1 %2 %3")
            .arg((nowNs() - start) / 1e6)
            .arg(peakRssMiB())
            .arg(rows == files ? rows : -1));
    return 0;
}

// app/main.cpp, or the floor: a bare QApplication and QWidget of the same size.
int startupChild(bool real, int argc, char **argv)
{
    std::unique_ptr<QApplication> app = real ? std::make_unique<ui::Application>(argc, argv)
                                             : std::make_unique<QApplication>(argc, argv);
    std::unique_ptr<QWidget> window;
    if (real) {
        setUpIdentity(*app);
        window = std::make_unique<Form1>();
    } else {
        window = std::make_unique<QWidget>();
        window->resize(344, 154); // Form1 at 96 DPI
    }
    afterFirstPaint(window.get(), [](qint64 paintNs) {
        say(QString("PAINT %1 %2").arg(paintNs).arg(peakRssMiB()));
        QTimer::singleShot(200, [] {
            say(QString("IDLE %1").arg(peakRssMiB()));
            QCoreApplication::quit();
        });
    });
    window->show();
    return app->exec();
}

// Form1 on a folder holding the stub as bspc.exe: a click on Descompilar, or
// for the floor, posix_spawn of the stub itself with the same arguments.
int launchChild(bool real, const QString &folder, int argc, char **argv)
{
    ui::Application app(argc, argv);
    setUpIdentity(app);
    Form1 window(folder);
    window.findChild<QLineEdit *>("txtBSP")->setText("a.bsp");
    window.findChild<QLineEdit *>("txtMAP")->setText("out");
    afterFirstPaint(&window, [&](qint64) {
        QTimer::singleShot(100, [&] {
            for (const QString &old : QDir(folder).entryList({"bspc-*.rec"}))
                QFile::remove(folder + '/' + old);
            const QByteArray tool = QFile::encodeName(folder + "/bspc.exe");
            char *toolArgv[] = {const_cast<char *>(tool.data()), const_cast<char *>("-bsp2map"),
                                const_cast<char *>("a.bsp"),     const_cast<char *>("-output"),
                                const_cast<char *>("out"),       nullptr};
            pid_t pid = 0;
            const qint64 start = nowNs();
            if (real)
                window.findChild<QPushButton *>("Command3")->click();
            else
                posix_spawn(&pid, toolArgv[0], nullptr, nullptr, toolArgv, environ);
            QStringList records;
            while ((records = QDir(folder).entryList({"bspc-*.rec"})).isEmpty() &&
                   nowNs() - start < 10'000'000'000)
                usleep(200);
            if (pid > 0)
                waitpid(pid, nullptr, 0);
            QFile record(folder + '/' + records.value(0));
            const QList<QByteArray> fields = record.open(QIODevice::ReadOnly)
                                                 ? record.readAll().split('\0')
                                                 : QList<QByteArray>();
            say(QString("LAUNCH %1 %2").arg(start).arg(fields.value(4).toLongLong()));
            QCoreApplication::quit();
        });
    });
    window.show();
    return app.exec();
}

// --- Parent ------------------------------------------------------------------------

struct Sample {
    qint64 spawnNs = 0;
    QList<QList<QByteArray>> lines; // the words of each line the child said
    QList<double> words(const char *tag, int skip = 1) const
    {
        QList<double> values;
        for (const QList<QByteArray> &line : lines)
            if (line.value(0) == tag)
                for (const QByteArray &word : line.mid(skip))
                    values << word.toDouble();
        return values;
    }
};

Sample child(const QStringList &args, const QString &cwd = {}, bool offscreen = false)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (offscreen)
        env.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(cwd);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    Sample sample;
    sample.spawnNs = nowNs();
    process.start(QCoreApplication::applicationFilePath(), QStringList("--child") + args);
    process.waitForFinished(-1);
    for (const QByteArray &line : process.readAllStandardOutput().split('\n'))
        sample.lines << line.split(' ');
    return sample;
}

QString cell(double value, int decimals = 1)
{
    return qIsNaN(value) ? "fail" : QString::number(value, 'f', decimals);
}

void chooserTable(const QList<qsizetype> &sizes, int runs)
{
    say("\n| N (+5,000 dirs) | raw ms | chooser ms | chooser/raw | QFileDialog ms | "
        "QFileDialog/raw | peak RSS MiB raw / chooser / QFileDialog |");
    say("|---:|---:|---:|---:|---:|---:|---:|");
    for (const qsizetype n : sizes) {
        QTemporaryDir dir;
        const QByteArray path = QFile::encodeName(dir.path());
        const int fd = open(path.constData(), O_RDONLY | O_DIRECTORY);
        // Half of them maps, every tenth of those in capitals.
        for (qsizetype i = 0; i < n; ++i) {
            const QByteArray name = QByteArray::number(i) + (i % 2    ? ".txt"
                                                             : i % 20 ? ".bsp"
                                                                      : ".BSP");
            ::close(openat(fd, name.constData(), O_CREAT | O_WRONLY, 0644));
        }
        for (int i = 0; i < subfolders; ++i)
            mkdirat(fd, QByteArray("dir" + QByteArray::number(i)).constData(), 0755);
        ::close(fd);
        QMap<QString, QList<double>> ms, rss;
        const QString files = QString::number((n + 1) / 2);
        for (int r = 0; r < runs + 1; ++r) // alternated, so that a warm cache favours neither
            for (const QString mode : {"raw", "chooser", "dialog"}) {
                if (mode == "dialog" && r > 0)
                    continue;
                const QList<double> result =
                    child({"chooser", mode, files}, dir.path(), true).words("RESULT");
                if (result.value(2, -1) >= 0) {
                    ms[mode] << result[0];
                    rss[mode] << result[1];
                }
            }
        const double raw = median(ms["raw"]), chooser = median(ms["chooser"]),
                     dialog = median(ms["dialog"]);
        say(QString("| %1 | %2 | %3 | %4 | %5 | %6 | %7 / %8 / %9 |")
                .arg(n)
                .arg(cell(raw), cell(chooser), cell(chooser / raw, 2), cell(dialog),
                     cell(dialog / raw, 2), cell(median(rss["raw"]), 0),
                     cell(median(rss["chooser"]), 0), cell(median(rss["dialog"]), 0)));
        QProcess::execute("find", {dir.path(), "-mindepth", "1", "-delete"});
    }
}

void startupTable(int runs, const QString &stub)
{
    QTemporaryDir folder;
    QFile::copy(stub, folder.filePath("bspc.exe"));
    QMap<QString, QList<double>> values;
    for (int r = 0; r < runs + 1; ++r) { // the first run only warms the caches
        for (const QString side : {"app", "floor"}) {
            const Sample start = child({"startup", side});
            const QList<double> paint = start.words("PAINT"), idle = start.words("IDLE");
            const QList<double> launch = child({"launch", side, folder.path()}).words("LAUNCH");
            if (r == 0 || paint.size() < 2 || idle.isEmpty() || launch.size() < 2)
                continue;
            values[side + "start"] << (paint[0] - start.spawnNs) / 1e6;
            values[side + "rss"] << paint[1];
            values[side + "idle"] << idle[0];
            values[side + "launch"] << (launch[1] - launch[0]) / 1e3;
        }
    }
    say(QString("\nPlatform %1, median of %2 runs.\n")
            .arg(qEnvironmentVariable("QT_QPA_PLATFORM"))
            .arg(runs));
    say("| metric | Vostrand | floor | ratio | target | met? |\n|---|---:|---:|---:|---:|:---:|");
    const QList<std::tuple<const char *, const char *, double, int>> rows{
        {"start-up: spawn to first paint (ms)", "start", 1.10, 1},
        {"peak RSS at first paint (MiB)", "rss", 1.10, 1},
        {"peak RSS after 200 ms idle (MiB)", "idle", 1.10, 1},
        {"launch: click to tool running (µs)", "launch", 1.5, 0}};
    for (const auto &[metric, key, target, decimals] : rows) {
        const double ours = median(values[QString("app") + key]),
                     floor = median(values[QString("floor") + key]);
        say(QString("| %1 | %2 | %3 | %4 | ≤ %5 | %6 |")
                .arg(metric, cell(ours, decimals), cell(floor, decimals), cell(ours / floor, 2),
                     cell(target, 2), ours / floor <= target ? "yes" : "no"));
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 2 && argv[1] == std::string_view("--child")) {
        const std::string_view what = argv[2];
        if (what == "chooser" && argc > 4)
            return chooserChild(argv[3], QByteArray(argv[4]).toLongLong());
        if (what == "startup" && argc > 3)
            return startupChild(argv[3] == std::string_view("app"), argc, argv);
        if (what == "launch" && argc > 4)
            return launchChild(argv[3] == std::string_view("app"), QFile::decodeName(argv[4]), argc,
                               argv);
        return 2;
    }
    QCoreApplication app(argc, argv);
    int runs = 9;
    QString only;
    QList<qsizetype> sizes;
    for (const QString &arg : app.arguments().mid(1)) {
        if (arg.startsWith("--runs="))
            runs = arg.mid(7).toInt();
        else if (arg == "chooser" || arg == "startup")
            only = arg;
        else
            sizes << arg.toLongLong();
    }
    if (sizes.isEmpty())
        sizes = {1000, 100000, 1000000};
    if (only != "startup")
        chooserTable(sizes, qMin(runs, 3));
    if (only != "chooser")
        startupTable(runs, QStringLiteral(STUB_BSPC));
    return 0;
}
