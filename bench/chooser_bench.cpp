// How long the chooser takes to fill its lists from a large folder, next to one
// bare listing pass with the same library functions and next to QFileDialog.
//
//   chooser_bench [--cap=SECONDS] [N...]        create folders, measure, print a table
//   chooser_bench --child MODE FILES DIRS [CAP] one measurement in the working directory
//
// Every measurement runs in a fresh child process so that its peak RSS is its own.

#include "abrir.h"
#include "ui_runtime.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QFontMetrics>
#include <QLineEdit>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStyle>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int subdirectoryCount = 5000;
constexpr int repeats = 3;
constexpr int defaultCapSeconds = 120;
// QFileSystemModel delivers rows in batches and sorts later; this long without a
// change counts as settled. The wait is not part of the reported time.
constexpr qint64 settleNs = 500'000'000;

long peakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss; // KiB on Linux
}

// --- Child side ---------------------------------------------------------------

void report(double ms, const char *status, const QString &detail = {})
{
    std::printf("RESULT %.3f %ld %s %s\n", ms, peakRssKiB(), status,
                detail.toLocal8Bit().constData());
    std::fflush(stdout);
}

double msSince(const QElapsedTimer &clock)
{
    return double(clock.nsecsElapsed()) / 1e6;
}

// What any window of the program has paid for before the chooser opens.
void warmUp()
{
    QApplication::style();
    QFontMetrics(QApplication::font()).horizontalAdvance(QStringLiteral("x"));
}

int runRaw(qsizetype files, qsizetype dirs)
{
    QElapsedTimer clock;
    clock.start();
    ui::Listing entries;
    const QString failure = ui::readDirectory(ui::workingDirectory(), entries);
    const QStringList matched = ui::matchingFiles(entries, QStringLiteral("*.bsp"));
    const QStringList subdirectories = ui::sortedSubdirectories(entries);
    const double ms = msSince(clock);

    if (!failure.isEmpty())
        report(ms, "FAIL", failure);
    else if (matched.size() != files || subdirectories.size() != dirs)
        report(ms, "FAIL",
               QStringLiteral("files %1/%2 dirs %3/%4")
                   .arg(matched.size())
                   .arg(files)
                   .arg(subdirectories.size())
                   .arg(dirs));
    else
        report(ms, "OK");
    return 0;
}

int runChooser(qsizetype files, qsizetype dirs)
{
    QLineEdit modeField(QStringLiteral("BSP"));
    QElapsedTimer clock;
    clock.start();
    Abrir chooser(&modeField, nullptr);
    QCoreApplication::processEvents();
    const double ms = msSince(clock);

    const auto *fileList = chooser.findChild<QAbstractItemView *>(QStringLiteral("File1"));
    const auto *dirList = chooser.findChild<QAbstractItemView *>(QStringLiteral("Dir1"));
    if (!fileList || !dirList) {
        report(ms, "FAIL", QStringLiteral("File1 or Dir1 not found"));
        return 0;
    }
    const int fileRows = fileList->model()->rowCount();
    const int dirRows = dirList->model()->rowCount();
    // Dir1 also shows the chain of folders above the open one.
    if (fileRows != files || dirRows < dirs)
        report(ms, "FAIL",
               QStringLiteral("File1 %1/%2 rows, Dir1 %3 rows for %4 subdirectories")
                   .arg(fileRows)
                   .arg(files)
                   .arg(dirRows)
                   .arg(dirs));
    else
        report(ms, "OK");
    return 0;
}

int runFileDialog(qsizetype files, qsizetype dirs, int capSeconds)
{
    const QString folder = QDir::currentPath();
    const qint64 capNs = qint64(capSeconds) * 1'000'000'000;
    QElapsedTimer clock;
    clock.start();
    QFileDialog dialog(nullptr, QString(), folder, QStringLiteral("*.bsp"));
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    auto *model = dialog.findChild<QFileSystemModel *>();
    if (!model) {
        report(msSince(clock), "FAIL", QStringLiteral("no QFileSystemModel"));
        std::_Exit(0);
    }

    // The model fills from a worker thread through queued signals, so nothing
    // can arrive before the loop below runs.
    QEventLoop loop;
    bool loaded = false;
    bool capped = false;
    qint64 loadedAt = 0;
    qint64 lastChange = clock.nsecsElapsed();
    QObject::connect(model, &QFileSystemModel::directoryLoaded, &loop, [&](const QString &path) {
        if (QDir::cleanPath(path) == QDir::cleanPath(folder)) {
            loaded = true;
            loadedAt = clock.nsecsElapsed();
        }
    });
    const auto changed = [&] { lastChange = clock.nsecsElapsed(); };
    QObject::connect(model, &QAbstractItemModel::rowsInserted, &loop, changed);
    QObject::connect(model, &QAbstractItemModel::rowsRemoved, &loop, changed);
    QObject::connect(model, &QAbstractItemModel::layoutChanged, &loop, changed);
    QObject::connect(model, &QAbstractItemModel::modelReset, &loop, changed);

    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (now >= capNs) {
            capped = true;
            loop.quit();
        } else if (loaded && now - lastChange >= settleNs) {
            loop.quit();
        }
    });
    poll.start();
    loop.exec();

    const int rows = model->rowCount(model->index(folder));
    if (capped) {
        report(msSince(clock), "CAP", QStringLiteral("%1 rows so far").arg(rows));
    } else {
        const double ms = double(std::max(loadedAt, lastChange)) / 1e6;
        // The name filter hides the other files; folders stay listed.
        if (rows != files + dirs)
            report(ms, "ROWS", QStringLiteral("%1 rows, expected %2").arg(rows).arg(files + dirs));
        else
            report(ms, "OK");
    }
    // Tearing down a model of a million nodes and its watcher thread is not measured.
    std::_Exit(0);
}

int runChild(int argc, char **argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s --child raw|chooser|qfiledialog FILES DIRS [CAP]\n",
                     argv[0]);
        return 2;
    }
    const std::string mode = argv[2];
    const qsizetype files = std::atoll(argv[3]);
    const qsizetype dirs = std::atoll(argv[4]);
    const int cap = argc > 5 ? std::atoi(argv[5]) : defaultCapSeconds;

    // The same start in every mode, so that the RSS columns differ by the listing only.
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    warmUp();

    if (mode == "raw")
        return runRaw(files, dirs);
    if (mode == "chooser")
        return runChooser(files, dirs);
    if (mode == "qfiledialog")
        return runFileDialog(files, dirs, cap);
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 2;
}

// --- Parent side --------------------------------------------------------------

struct Sample {
    bool ok = false;
    bool capped = false;
    double ms = 0;
    double rssMiB = 0;
    QString note;
};

Sample measure(const QString &folder, const char *mode, qsizetype files, qsizetype dirs,
               int capSeconds)
{
    QProcess child;
    child.setProgram(QCoreApplication::applicationFilePath());
    child.setArguments({QStringLiteral("--child"), QString::fromLatin1(mode),
                        QString::number(files), QString::number(dirs),
                        QString::number(capSeconds)});
    child.setWorkingDirectory(folder);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // Spares each child Qt's warning about a missing runtime directory.
    static const QTemporaryDir runtimeDir;
    if (!environment.contains(QStringLiteral("XDG_RUNTIME_DIR")) && runtimeDir.isValid())
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir.path());
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start();
    child.waitForFinished(-1);

    Sample sample;
    const QList<QByteArray> lines = child.readAllStandardOutput().split('\n');
    for (const QByteArray &line : lines) {
        if (!line.startsWith("RESULT "))
            continue;
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 4)
            break;
        sample.ms = fields.at(1).toDouble();
        sample.rssMiB = fields.at(2).toDouble() / 1024.0;
        sample.ok = fields.at(3) == "OK";
        sample.capped = fields.at(3) == "CAP";
        if (!sample.ok)
            sample.note = QString::fromLocal8Bit(line.mid(7));
        return sample;
    }
    sample.note = child.exitStatus() == QProcess::CrashExit
                      ? QStringLiteral("child crashed")
                      : QStringLiteral("no result, exit code %1").arg(child.exitCode());
    return sample;
}

struct Summary {
    std::optional<double> ms; // median of the good runs
    double rssMiB = 0;        // highest of all runs
    bool capped = false;
};

Summary summarise(const std::vector<Sample> &samples)
{
    Summary summary;
    std::vector<double> times;
    for (const Sample &sample : samples) {
        summary.rssMiB = std::max(summary.rssMiB, sample.rssMiB);
        summary.capped = summary.capped || sample.capped;
        if (sample.ok)
            times.push_back(sample.ms);
    }
    if (!times.empty()) {
        std::sort(times.begin(), times.end());
        summary.ms = times[times.size() / 2];
    }
    return summary;
}

void complain(const char *what, qsizetype n, const Sample &sample)
{
    if (!sample.ok)
        std::fprintf(stderr, "  %s, N=%lld: %s\n", what, static_cast<long long>(n),
                     sample.note.toLocal8Bit().constData());
}

bool createFile(int folderFd, const char *name)
{
    const int fd = openat(folderFd, name, O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

// N files, half of them maps (every tenth of those in upper case, and some base
// names capitalised so that sorting has to fold case), plus the subdirectories.
// Returns the number of .bsp files, or -1.
qsizetype populate(const QString &folder, qsizetype n, int dirs)
{
    const QByteArray path = QFile::encodeName(folder);
    const int folderFd = open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) {
        std::perror("open");
        return -1;
    }
    qsizetype maps = 0;
    char name[64];
    bool good = true;
    for (qsizetype i = 0; i < n && good; ++i) {
        const bool isMap = i % 2 == 0;
        const char *base = i % 7 == 0 ? "Level" : "level";
        const char *suffix = !isMap ? "txt" : (i / 2) % 10 == 0 ? "BSP" : "bsp";
        std::snprintf(name, sizeof name, "%s_%07lld.%s", base, static_cast<long long>(i), suffix);
        good = createFile(folderFd, name);
        if (!good)
            std::perror(name);
        maps += isMap ? 1 : 0;
    }
    for (int i = 0; i < dirs && good; ++i) {
        std::snprintf(name, sizeof name, "%s_%04d", i % 3 == 0 ? "Dir" : "dir", i);
        good = mkdirat(folderFd, name, 0755) == 0;
        if (!good)
            std::perror(name);
    }
    close(folderFd);
    return good ? maps : -1;
}

// QDir::removeRecursively stats every entry; the folder is flat, so one pass does.
void emptyFolder(const QString &folder)
{
    const QByteArray path = QFile::encodeName(folder);
    DIR *dir = opendir(path.constData());
    if (!dir)
        return;
    const int fd = dirfd(dir);
    std::vector<std::pair<std::string, bool>> names;
    while (const dirent *entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name, entry->d_type == DT_DIR);
    }
    for (const auto &[name, isDir] : names)
        unlinkat(fd, name.c_str(), isDir ? AT_REMOVEDIR : 0);
    closedir(dir);
}

QString cell(const std::optional<double> &ms, bool capped, int capSeconds)
{
    if (capped)
        return QStringLiteral(">%1 s").arg(capSeconds);
    return ms ? QString::number(*ms, 'f', 1) : QStringLiteral("fail");
}

QString ratio(const std::optional<double> &numerator, const std::optional<double> &denominator)
{
    if (!numerator || !denominator || *denominator <= 0)
        return QStringLiteral("-");
    return QString::number(*numerator / *denominator, 'f', 2);
}

int runParent(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int capSeconds = defaultCapSeconds;
    std::vector<qsizetype> sizes;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        bool good = false;
        if (argument.startsWith(QLatin1String("--cap="))) {
            capSeconds = argument.mid(6).toInt(&good);
        } else {
            const qlonglong n = argument.toLongLong(&good);
            good = good && n >= 0;
            if (good)
                sizes.push_back(qsizetype(n));
        }
        if (!good) {
            std::fprintf(stderr, "usage: %s [--cap=SECONDS] [N...]\n", argv[0]);
            return 2;
        }
    }
    if (sizes.empty())
        sizes = {1000, 100000, 1000000};

    // The part of the chooser's time that does not depend on the folder.
    double fixedMs = 0;
    {
        QTemporaryDir empty;
        std::vector<Sample> runs;
        for (int r = 0; r < repeats; ++r)
            runs.push_back(measure(empty.path(), "chooser", 0, 0, capSeconds));
        for (const Sample &sample : runs)
            complain("chooser (empty folder)", 0, sample);
        fixedMs = summarise(runs).ms.value_or(0);
    }

    QStringList rows;
    bool anyFailure = false;
    for (const qsizetype n : sizes) {
        QTemporaryDir temporary;
        if (!temporary.isValid()) {
            std::fprintf(stderr, "cannot create a temporary directory\n");
            return 1;
        }
        const QString folder = temporary.filePath(QStringLiteral("maps"));
        QDir().mkpath(folder);
        std::fprintf(stderr, "N=%lld: creating files in %s\n", static_cast<long long>(n),
                     folder.toLocal8Bit().constData());
        QElapsedTimer creation;
        creation.start();
        const qsizetype maps = populate(folder, n, subdirectoryCount);
        if (maps < 0) {
            std::fprintf(stderr, "cannot create the files in %s\n",
                         folder.toLocal8Bit().constData());
            emptyFolder(folder);
            return 1;
        }
        std::fprintf(stderr, "N=%lld: created in %.1f s; measuring\n", static_cast<long long>(n),
                     double(creation.elapsed()) / 1000.0);

        // Alternated, so that a warmer cache favours neither.
        std::vector<Sample> raw;
        std::vector<Sample> chooser;
        for (int r = 0; r < repeats; ++r) {
            raw.push_back(measure(folder, "raw", maps, subdirectoryCount, capSeconds));
            chooser.push_back(measure(folder, "chooser", maps, subdirectoryCount, capSeconds));
        }
        const Sample dialog = measure(folder, "qfiledialog", maps, subdirectoryCount, capSeconds);

        for (const Sample &sample : raw)
            complain("raw", n, sample);
        for (const Sample &sample : chooser)
            complain("chooser", n, sample);
        if (!dialog.capped)
            complain("qfiledialog", n, dialog);
        const Summary rawSummary = summarise(raw);
        const Summary chooserSummary = summarise(chooser);
        const Summary dialogSummary = summarise({dialog});
        anyFailure = anyFailure || !rawSummary.ms || !chooserSummary.ms;

        rows.append(
            QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 / %8 / %9 |")
                .arg(n)
                .arg(cell(rawSummary.ms, false, capSeconds))
                .arg(cell(chooserSummary.ms, false, capSeconds))
                .arg(ratio(chooserSummary.ms, rawSummary.ms))
                .arg(cell(dialogSummary.ms, dialogSummary.capped, capSeconds))
                .arg(ratio(dialogSummary.capped ? std::nullopt : dialogSummary.ms, rawSummary.ms))
                .arg(rawSummary.rssMiB, 0, 'f', 0)
                .arg(chooserSummary.rssMiB, 0, 'f', 0)
                .arg(dialogSummary.rssMiB, 0, 'f', 0));
        std::fprintf(stderr, "N=%lld: done, removing the folder\n", static_cast<long long>(n));
        emptyFolder(folder);
    }

    std::printf("\n| N | raw ms | chooser ms | chooser/raw | QFileDialog ms | QFileDialog/raw "
                "| peak RSS MiB raw / chooser / QFileDialog |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const QString &row : rows)
        std::printf("%s\n", row.toLocal8Bit().constData());
    std::printf("\nEach folder also holds %d subdirectories. raw and chooser: median of %d "
                "runs; QFileDialog: one run.\n",
                subdirectoryCount, repeats);
    std::printf("chooser on an empty folder (the cost that does not grow with N): %.1f ms\n",
                fixedMs);
    return anyFailure ? 1 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0)
        return runChild(argc, argv);
    return runParent(argc, argv);
}
