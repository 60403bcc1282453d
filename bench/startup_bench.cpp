// Start-up time, memory and tool launch latency of the real program, next to the
// least a Qt Widgets program pays for the same.
//
//   startup_bench [--runs=N]               measure and print the tables
//   startup_bench --child startup-app      the program's own start, up to its first paint
//   startup_bench --child startup-floor W H a bare QApplication and QWidget of W x H
//   startup_bench --child launch-app DIR   Form1 with DIR as program folder; clicks Descompilar
//   startup_bench --child launch-floor DIR the same window; one raw posix_spawn of DIR/bspc.exe
//
// Every measurement runs in a fresh child process, all of them this one binary,
// so that both sides load the same libraries. Times are CLOCK_MONOTONIC, which
// the parent, the children and the stub tool share.

#include "application.h"
#include "form1.h"
#include "identity.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <memory>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr int defaultRuns = 9;
constexpr int idleMs = 200;
// Long enough for the slowest child on a loaded machine; a hung one is killed.
constexpr int childTimeoutMs = 60'000;
constexpr int stampTimeoutMs = 10'000;
constexpr const char *stampVariable = "VOSTRAND_STUB_STAMP";
constexpr const char *toolFileName = "bspc.exe";
constexpr const char *stampFileName = "started";

long long nowNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1'000'000'000LL + now.tv_nsec;
}

// Taken first thing in main(), so that what runs before main shows apart.
long long mainNs = 0;

long peakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss; // KiB on Linux
}

long currentRssKiB()
{
    long pages = 0;
    long resident = 0;
    if (FILE *statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// --- Child side ---------------------------------------------------------------

// One line on stdout, written at once: the parent reads it through a pipe.
void say(const std::string &line)
{
    const std::string text = line + '\n';
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += size_t(n);
    }
}

// Notes the first Paint event of a top-level window, then, from the event loop,
// the moment that whole first paint pass (children and flush included) is over.
class FirstFrame : public QObject {
public:
    using Done = std::function<void(long long paintNs, long long frameNs)>;
    FirstFrame(QWidget *window, Done done)
        : window(window)
        , done(std::move(done))
    {
        window->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!seen && watched == window && event->type() == QEvent::Paint) {
            seen = true;
            paintNs = nowNs();
            QMetaObject::invokeMethod(
                this, [this] { done(paintNs, nowNs()); }, Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget *window;
    Done done;
    bool seen = false;
    long long paintNs = 0;
};

struct Marks {
    long long application = 0; // QApplication constructed
    long long identity = 0;    // setUpIdentity done (the floor has none)
    long long window = 0;      // window constructed
    long long shown = 0;       // show() returned
};

// Reports the first paint, then the memory after some idle time, and quits.
// `marks` is read at the paint, when show() has long returned.
void reportStartup(QWidget &window, const Marks &marks, FirstFrame *&probe)
{
    probe = new FirstFrame(&window, [&window, &marks](long long paintNs, long long frameNs) {
        const long peakAtPaint = peakRssKiB();
        std::ostringstream line;
        line << "PAINT " << mainNs << ' ' << marks.application << ' ' << marks.identity << ' '
             << marks.window << ' ' << marks.shown << ' ' << paintNs << ' ' << frameNs << ' '
             << peakAtPaint << ' ' << window.width() << ' ' << window.height() << ' '
             << QGuiApplication::platformName().toStdString();
        say(line.str());
        QTimer::singleShot(idleMs, qApp, [] {
            say("IDLE " + std::to_string(peakRssKiB()) + ' ' + std::to_string(currentRssKiB()));
            QCoreApplication::quit();
        });
    });
}

// app/main.cpp, with the marks and the probe added.
// The real start (an empty `floorSize`: the program's own application, identity and
// Form1) or the floor (a bare QApplication and a QWidget of the same size).
int runStartup(int argc, char **argv, const QSize &floorSize)
{
    Marks marks;
    const bool real = floorSize.isEmpty();
    std::unique_ptr<QApplication> app = real ? std::make_unique<ui::Application>(argc, argv)
                                             : std::make_unique<QApplication>(argc, argv);
    marks.application = nowNs();
    if (real)
        setUpIdentity(*app);
    marks.identity = real ? nowNs() : marks.application;
    std::unique_ptr<QWidget> window =
        real ? std::make_unique<Form1>() : std::make_unique<QWidget>();
    if (!real)
        window->resize(floorSize);
    marks.window = nowNs();
    FirstFrame *probe = nullptr;
    reportStartup(*window, marks, probe);
    window->show();
    marks.shown = nowNs();
    const int code = app->exec();
    delete probe;
    return code;
}

// Blocks until `name` is moved into the folder that `watch` watches.
bool waitForName(int watch, const std::string &name)
{
    const long long deadline = nowNs() + stampTimeoutMs * 1'000'000LL;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const long long left = (deadline - nowNs()) / 1'000'000;
        if (left <= 0)
            return false;
        pollfd pfd{watch, POLLIN, 0};
        if (poll(&pfd, 1, int(left)) <= 0)
            continue;
        const ssize_t n = read(watch, buffer, sizeof buffer);
        for (ssize_t at = 0; n > 0 && at < n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            if (event->len > 0 && name == event->name)
                return true;
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
}

long long readStamp(const std::string &path)
{
    long long stamp = 0;
    if (FILE *file = std::fopen(path.c_str(), "r")) {
        if (std::fscanf(file, "%lld", &stamp) != 1)
            stamp = 0;
        std::fclose(file);
    }
    return stamp;
}

int runLaunch(int argc, char **argv, bool viaButton, const std::string &folder)
{
    ui::Application app(argc, argv);
    setUpIdentity(app);
    Form1 window(QString::fromLocal8Bit(folder.c_str()));
    // The fields hold what the floor passes, so that both tools get the same argv.
    auto *bsp = window.findChild<QLineEdit *>(QStringLiteral("txtBSP"));
    auto *map = window.findChild<QLineEdit *>(QStringLiteral("txtMAP"));
    auto *button = window.findChild<QPushButton *>(QStringLiteral("Command3"));
    if (!bsp || !map || !button) {
        say("FAIL txtBSP, txtMAP or Command3 not found");
        return 1;
    }
    bsp->setText(QStringLiteral("a.bsp"));
    map->setText(QStringLiteral("out"));

    // Clicked as a user would: on a window that is up and has settled.
    QEventLoop settle;
    FirstFrame probe(&window, [&settle](long long, long long) {
        QTimer::singleShot(100, &settle, &QEventLoop::quit);
    });
    window.show();
    settle.exec();

    const char *stampPath = std::getenv(stampVariable);
    if (!stampPath) {
        say("FAIL no stamp path");
        return 1;
    }
    unlink(stampPath);
    const int watch = inotify_init1(IN_CLOEXEC);
    if (watch < 0 || inotify_add_watch(watch, folder.c_str(), IN_MOVED_TO) < 0) {
        say(std::string("FAIL inotify: ") + std::strerror(errno));
        return 1;
    }

    const std::string tool = folder + '/' + toolFileName;
    char *toolArgv[] = {const_cast<char *>(tool.c_str()), const_cast<char *>("-bsp2map"),
                        const_cast<char *>("a.bsp"),      const_cast<char *>("-output"),
                        const_cast<char *>("out"),        nullptr};
    pid_t pid = 0;
    long long startNs = 0;
    long long returnNs = 0;
    if (viaButton) {
        startNs = nowNs();
        button->click();
        returnNs = nowNs();
    } else {
        startNs = nowNs();
        const int rc = posix_spawn(&pid, toolArgv[0], nullptr, nullptr, toolArgv, environ);
        returnNs = nowNs();
        if (rc != 0) {
            say(std::string("FAIL posix_spawn: ") + std::strerror(rc));
            return 1;
        }
    }

    const bool stamped = waitForName(watch, stampFileName);
    close(watch);
    if (pid > 0) {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    } else {
        // The program's own thread reaps the tool; this only waits for it to be done.
        siginfo_t info{};
        while (waitid(P_ALL, 0, &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
        }
    }
    if (!stamped) {
        say("FAIL the tool wrote no stamp");
        return 1;
    }
    say("LAUNCH " + std::to_string(startNs) + ' ' + std::to_string(returnNs) + ' ' +
        std::to_string(readStamp(stampPath)));
    return 0;
}

int runChild(int argc, char **argv)
{
    const std::string mode = argc > 2 ? argv[2] : "";
    if (mode == "startup-app")
        return runStartup(argc, argv, QSize());
    if (mode == "startup-floor" && argc > 4)
        return runStartup(argc, argv, QSize(std::atoi(argv[3]), std::atoi(argv[4])));
    if ((mode == "launch-app" || mode == "launch-floor") && argc > 3)
        return runLaunch(argc, argv, mode == "launch-app", argv[3]);
    std::fprintf(stderr,
                 "usage: %s --child startup-app | startup-floor W H | launch-app DIR | "
                 "launch-floor DIR\n",
                 argv[0]);
    return 2;
}

// --- Parent side --------------------------------------------------------------

struct ChildOutput {
    long long spawnNs = 0; // just before posix_spawn
    std::vector<std::string> lines;
    std::string failure; // empty if the child ran and exited with 0
};

std::string selfPath()
{
    std::string path(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    path.resize(n > 0 ? size_t(n) : 0);
    return path;
}

// Runs this binary with `arguments`, its stdout into a pipe, and collects the lines.
ChildOutput spawnChild(const std::vector<std::string> &arguments,
                       const std::map<std::string, std::string> &extraEnvironment)
{
    ChildOutput out;
    static const std::string self = selfPath();
    std::vector<std::string> argStorage{self};
    argStorage.insert(argStorage.end(), arguments.begin(), arguments.end());
    std::vector<char *> argvPointers;
    for (std::string &arg : argStorage)
        argvPointers.push_back(arg.data());
    argvPointers.push_back(nullptr);

    std::vector<std::string> envStorage;
    for (char **entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        if (!extraEnvironment.count(text.substr(0, text.find('='))))
            envStorage.push_back(text);
    }
    for (const auto &[name, value] : extraEnvironment)
        envStorage.push_back(name + '=' + value);
    std::vector<char *> envPointers;
    for (std::string &entry : envStorage)
        envPointers.push_back(entry.data());
    envPointers.push_back(nullptr);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        out.failure = std::string("pipe: ") + std::strerror(errno);
        return out;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);

    pid_t pid = 0;
    out.spawnNs = nowNs();
    const int rc =
        posix_spawn(&pid, self.c_str(), &actions, nullptr, argvPointers.data(), envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        out.failure = std::string("posix_spawn: ") + std::strerror(rc);
        return out;
    }

    std::string text;
    char buffer[4096];
    const long long deadline = nowNs() + childTimeoutMs * 1'000'000LL;
    bool timedOut = false;
    for (;;) {
        const long long left = (deadline - nowNs()) / 1'000'000;
        pollfd pfd{fds[0], POLLIN, 0};
        if (left <= 0 || poll(&pfd, 1, int(left)) == 0) {
            timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buffer, size_t(n));
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }

    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        out.lines.push_back(line);
    if (timedOut)
        out.failure = "timed out";
    else if (WIFSIGNALED(status))
        out.failure = "killed by signal " + std::to_string(WTERMSIG(status));
    else if (WEXITSTATUS(status) != 0)
        out.failure = "exit code " + std::to_string(WEXITSTATUS(status));
    for (const std::string &line : out.lines) {
        if (line.rfind("FAIL ", 0) == 0)
            out.failure += (out.failure.empty() ? "" : ": ") + line.substr(5);
    }
    return out;
}

// The fields of the first line that starts with `tag`, without the tag.
std::optional<std::vector<std::string>> fields(const ChildOutput &out, const std::string &tag)
{
    for (const std::string &line : out.lines) {
        std::istringstream words(line);
        std::string first;
        words >> first;
        if (first != tag)
            continue;
        std::vector<std::string> result;
        for (std::string word; words >> word;)
            result.push_back(word);
        return result;
    }
    return std::nullopt;
}

struct StartupSample {
    bool ok = false;
    double toMainMs = 0, applicationMs = 0, identityMs = 0, windowMs = 0, showMs = 0,
           shownToPaintMs = 0, paintPassMs = 0;
    double toPaintMs = 0; // spawn to first Paint event of the window
    double toFrameMs = 0; // spawn to the end of the first paint pass
    double peakAtPaintMiB = 0, peakIdleMiB = 0, currentIdleMiB = 0;
    int width = 0, height = 0;
    std::string platform;
};

StartupSample parseStartup(const ChildOutput &out, const char *what)
{
    StartupSample sample;
    const auto paint = fields(out, "PAINT");
    const auto idle = fields(out, "IDLE");
    if (!out.failure.empty() || !paint || paint->size() < 11 || !idle || idle->size() < 2) {
        std::fprintf(stderr, "  %s: %s\n", what,
                     out.failure.empty() ? "incomplete output" : out.failure.c_str());
        return sample;
    }
    std::vector<long long> t;
    for (int i = 0; i < 7; ++i)
        t.push_back(std::stoll(paint->at(size_t(i))));
    const auto ms = [](long long from, long long to) { return double(to - from) / 1e6; };
    sample.toMainMs = ms(out.spawnNs, t[0]);
    sample.applicationMs = ms(t[0], t[1]);
    sample.identityMs = ms(t[1], t[2]);
    sample.windowMs = ms(t[2], t[3]);
    sample.showMs = ms(t[3], t[4]);
    sample.shownToPaintMs = ms(t[4], t[5]);
    sample.paintPassMs = ms(t[5], t[6]);
    sample.toPaintMs = ms(out.spawnNs, t[5]);
    sample.toFrameMs = ms(out.spawnNs, t[6]);
    sample.peakAtPaintMiB = std::stod(paint->at(7)) / 1024.0;
    sample.width = std::stoi(paint->at(8));
    sample.height = std::stoi(paint->at(9));
    sample.platform = paint->at(10);
    sample.peakIdleMiB = std::stod(idle->at(0)) / 1024.0;
    sample.currentIdleMiB = std::stod(idle->at(1)) / 1024.0;
    sample.ok = true;
    return sample;
}

struct LaunchSample {
    bool ok = false;
    double toToolUs = 0; // click (or posix_spawn) to the tool's first instruction in main
    double returnUs = 0; // how long the click or posix_spawn call itself took
};

LaunchSample parseLaunch(const ChildOutput &out, const char *what)
{
    LaunchSample sample;
    const auto launch = fields(out, "LAUNCH");
    if (!out.failure.empty() || !launch || launch->size() < 3) {
        std::fprintf(stderr, "  %s: %s\n", what,
                     out.failure.empty() ? "incomplete output" : out.failure.c_str());
        return sample;
    }
    const long long start = std::stoll(launch->at(0));
    const long long returned = std::stoll(launch->at(1));
    const long long stamp = std::stoll(launch->at(2));
    if (stamp <= start) {
        std::fprintf(stderr, "  %s: the stamp is older than the click\n", what);
        return sample;
    }
    sample.toToolUs = double(stamp - start) / 1e3;
    sample.returnUs = double(returned - start) / 1e3;
    sample.ok = true;
    return sample;
}

template <typename Sample>
std::optional<double> median(const std::vector<Sample> &samples, double Sample::*field)
{
    std::vector<double> values;
    for (const Sample &sample : samples) {
        if (sample.ok)
            values.push_back(sample.*field);
    }
    if (values.empty())
        return std::nullopt;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

std::string number(std::optional<double> value, int decimals)
{
    if (!value)
        return "fail";
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, *value);
    return text;
}

struct Row {
    std::string metric;
    std::optional<double> ours, floor;
    int decimals = 1;
    double target = 0; // 0: shown for context, no target
};

void printTable(const std::vector<Row> &rows)
{
    std::printf("| metric | Vostrand | floor | ratio | target | met? |\n");
    std::printf("|---|---:|---:|---:|---:|:---:|\n");
    for (const Row &row : rows) {
        std::optional<double> ratio;
        if (row.ours && row.floor && *row.floor > 0)
            ratio = *row.ours / *row.floor;
        std::string target = "-";
        std::string met = "-";
        if (row.target > 0) {
            target = "<= " + number(row.target, 2);
            met = !ratio ? "fail" : *ratio <= row.target ? "yes" : "**no**";
        }
        std::printf("| %s | %s | %s | %s | %s | %s |\n", row.metric.c_str(),
                    number(row.ours, row.decimals).c_str(), number(row.floor, row.decimals).c_str(),
                    ratio ? number(ratio, 2).c_str() : "-", target.c_str(), met.c_str());
    }
}

// A folder holding the stub as bspc.exe; removed again by the destructor.
class ToolFolder {
public:
    explicit ToolFolder(const std::string &stub)
    {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/startup_bench.XXXXXX";
        if (!mkdtemp(pattern.data()))
            return;
        path = pattern;
        tool = path + '/' + toolFileName;
        stamp = path + '/' + stampFileName;
        good = copy(stub, tool);
    }
    ~ToolFolder()
    {
        if (path.empty())
            return;
        unlink(tool.c_str());
        unlink(stamp.c_str());
        unlink((stamp + ".part").c_str());
        rmdir(path.c_str());
    }
    ToolFolder(const ToolFolder &) = delete;
    ToolFolder &operator=(const ToolFolder &) = delete;

    bool good = false;
    std::string path, tool, stamp;

private:
    static bool copy(const std::string &from, const std::string &to)
    {
        const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0)
            return false;
        const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
        bool ok = out >= 0;
        char buffer[65536];
        for (ssize_t n; ok && (n = read(in, buffer, sizeof buffer)) != 0;)
            ok = n > 0 && write(out, buffer, size_t(n)) == n;
        close(in);
        if (out >= 0)
            ok = close(out) == 0 && ok;
        return ok;
    }
};

int runParent(int argc, char **argv)
{
    int runs = defaultRuns;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--runs=", 7) == 0 && std::atoi(argv[i] + 7) > 0) {
            runs = std::atoi(argv[i] + 7);
        } else {
            std::fprintf(stderr, "usage: %s [--runs=N]\n", argv[0]);
            return 2;
        }
    }

    const std::string self = selfPath();
    const std::string stub = self.substr(0, self.rfind('/') + 1) + "stub_tool";
    ToolFolder folder(stub);
    if (!folder.good) {
        std::fprintf(stderr, "cannot put %s into a temporary folder as %s\n", stub.c_str(),
                     toolFileName);
        return 1;
    }
    const std::map<std::string, std::string> noEnvironment;
    const std::map<std::string, std::string> stampEnvironment{{stampVariable, folder.stamp}};

    // A first run of each fills the page cache and the font caches; its numbers
    // are dropped. It also tells the floor the window size to copy.
    std::fprintf(stderr, "warming up\n");
    const StartupSample first = parseStartup(spawnChild({"--child", "startup-app"}, noEnvironment),
                                             "start-up, Vostrand (warm-up)");
    if (!first.ok)
        return 1;
    const std::vector<std::string> floorArguments{
        "--child", "startup-floor", std::to_string(first.width), std::to_string(first.height)};
    parseStartup(spawnChild(floorArguments, noEnvironment), "start-up, floor (warm-up)");
    parseLaunch(spawnChild({"--child", "launch-app", folder.path}, stampEnvironment),
                "launch, Vostrand (warm-up)");
    parseLaunch(spawnChild({"--child", "launch-floor", folder.path}, stampEnvironment),
                "launch, floor (warm-up)");

    // Alternated, and each pair in turn led by the other side, so that neither
    // gains from a cache the other has just warmed.
    std::vector<StartupSample> startApp, startFloor;
    std::vector<LaunchSample> launchApp, launchFloor;
    for (int r = 0; r < runs; ++r) {
        std::fprintf(stderr, "run %d of %d\n", r + 1, runs);
        const auto startupApp = [&] {
            startApp.push_back(parseStartup(spawnChild({"--child", "startup-app"}, noEnvironment),
                                            "start-up, Vostrand"));
        };
        const auto startupFloor = [&] {
            startFloor.push_back(
                parseStartup(spawnChild(floorArguments, noEnvironment), "start-up, floor"));
        };
        const auto clickApp = [&] {
            launchApp.push_back(
                parseLaunch(spawnChild({"--child", "launch-app", folder.path}, stampEnvironment),
                            "launch, Vostrand"));
        };
        const auto clickFloor = [&] {
            launchFloor.push_back(
                parseLaunch(spawnChild({"--child", "launch-floor", folder.path}, stampEnvironment),
                            "launch, floor"));
        };
        if (r % 2 == 0) {
            startupApp();
            startupFloor();
            clickApp();
            clickFloor();
        } else {
            startupFloor();
            startupApp();
            clickFloor();
            clickApp();
        }
    }

    const auto count = [](const auto &samples) {
        return std::count_if(samples.begin(), samples.end(), [](const auto &s) { return s.ok; });
    };
    std::printf("\nPlatform %s, window %dx%d px, median of %d runs "
                "(good runs: %ld/%ld start-up, %ld/%ld launch; Vostrand/floor).\n\n",
                first.platform.c_str(), first.width, first.height, runs, long(count(startApp)),
                long(count(startFloor)), long(count(launchApp)), long(count(launchFloor)));

    using S = StartupSample;
    using L = LaunchSample;
    const std::vector<Row> rows{
        {"start-up: spawn to first paint (ms)", median(startApp, &S::toPaintMs),
         median(startFloor, &S::toPaintMs), 1, 1.10},
        {"peak RSS at first paint (MiB)", median(startApp, &S::peakAtPaintMiB),
         median(startFloor, &S::peakAtPaintMiB), 1, 1.10},
        {"peak RSS after 200 ms idle (MiB)", median(startApp, &S::peakIdleMiB),
         median(startFloor, &S::peakIdleMiB), 1, 1.10},
        {"launch: click to tool running (us)", median(launchApp, &L::toToolUs),
         median(launchFloor, &L::toToolUs), 0, 1.5},
        {"start-up: spawn to first paint pass done (ms)", median(startApp, &S::toFrameMs),
         median(startFloor, &S::toFrameMs), 1, 0},
        {"RSS now after 200 ms idle (MiB)", median(startApp, &S::currentIdleMiB),
         median(startFloor, &S::currentIdleMiB), 1, 0},
        {"launch: click()/posix_spawn returns (us)", median(launchApp, &L::returnUs),
         median(launchFloor, &L::returnUs), 0, 0},
    };
    printTable(rows);
    // A child's ru_maxrss starts from the peak of the process it was spawned
    // from, so the columns mean something only above the parent's own peak.
    const double parentMiB = double(peakRssKiB()) / 1024.0;
    const std::optional<double> floorPeak = median(startFloor, &S::peakAtPaintMiB);
    if (floorPeak && parentMiB >= *floorPeak)
        std::printf("\nWarning: the parent's peak RSS (%.1f MiB) is not below the floor's; the "
                    "memory rows are not meaningful.\n",
                    parentMiB);

    std::printf("\nWhere the start-up time goes (ms, medians):\n\n");
    const std::vector<Row> steps{
        {"spawn to main()", median(startApp, &S::toMainMs), median(startFloor, &S::toMainMs), 1},
        {"QApplication constructor", median(startApp, &S::applicationMs),
         median(startFloor, &S::applicationMs), 1},
        {"setUpIdentity", median(startApp, &S::identityMs), median(startFloor, &S::identityMs), 1},
        {"window constructor", median(startApp, &S::windowMs), median(startFloor, &S::windowMs), 1},
        {"show()", median(startApp, &S::showMs), median(startFloor, &S::showMs), 1},
        {"show() returned to first Paint event", median(startApp, &S::shownToPaintMs),
         median(startFloor, &S::shownToPaintMs), 1},
        {"first paint pass (children, flush)", median(startApp, &S::paintPassMs),
         median(startFloor, &S::paintPassMs), 1},
    };
    printTable(steps);

    const bool allGood = count(startApp) == runs && count(startFloor) == runs &&
                         count(launchApp) == runs && count(launchFloor) == runs;
    return allGood ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    mainNs = nowNs();
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0)
        return runChild(argc, argv);
    return runParent(argc, argv);
}
