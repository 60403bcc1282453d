// POSIX: the tool's start with posix_spawn, its output through one pipe, and
// its exit through a pidfd where the kernel has one.
#include "toolrun.h"

#include "platform.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace core {

namespace {

// The environment as the program received it, copied before main() runs, so
// that whatever Qt or the program sets for itself later stays out of the tool.
struct StartEnvironment {
    StartEnvironment()
    {
        for (char **entry = environ; entry && *entry; ++entry)
            storage.emplace_back(*entry);
        for (std::string &entry : storage)
            pointers.push_back(entry.data());
        pointers.push_back(nullptr);
    }
    std::vector<std::string> storage;
    std::vector<char *> pointers;
};
const StartEnvironment startEnvironment;

constexpr qsizetype readSize = 64 * 1024;
// What is drained after the exit: all a pipe can hold, but not the endless
// output of a child that the tool left behind.
constexpr qsizetype lastDrain = 1024 * 1024;

struct Spawned {
    pid_t pid = 0;
    int output = -1;
};

Result<Spawned> spawn(const QString &program, const QStringList &arguments)
{
    std::vector<QByteArray> storage;
    storage.reserve(arguments.size() + 1);
    storage.push_back(encodeName(program));
    for (const QString &arg : arguments)
        storage.push_back(encodeName(arg));
    for (const QByteArray &bytes : storage) {
        if (bytes.contains('\0'))
            return Error{Error::NulInArgument};
    }
    std::vector<char *> argv;
    argv.reserve(storage.size() + 1);
    for (QByteArray &bytes : storage)
        argv.push_back(bytes.data());
    argv.push_back(nullptr);

    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0)
        return Error{errno};
    // The tool's end blocks: a tool may not expect EAGAIN on its output.
    fcntl(pipeEnds[1], F_SETFL, 0);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // One pipe for both streams keeps their lines in the order written.
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
    // Only the standard streams reach the tool.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    // SIGPIPE is left out: an ignored signal stays ignored across exec, and the
    // tool must survive writing after we closed our end.
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig : {SIGCHLD, SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaddset(&defaults, sig);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    // posix_spawn cannot set a signal to be ignored, so the program ignores it
    // itself; a write to a closed pipe then fails with EPIPE here as well.
    std::signal(SIGPIPE, SIG_IGN);

    pid_t pid = 0;
    const int rc =
        posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), startEnvironment.pointers.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    if (rc != 0) {
        ::close(pipeEnds[0]);
        return platform::startFailure(QByteArray(argv[0]), rc);
    }
    return Spawned{pid, pipeEnds[0]};
}

} // namespace

QString signalName(int signal)
{
    return QString::fromLocal8Bit(strsignal(signal));
}

Result<ToolRun *> ToolRun::start(const QString &program, const QStringList &arguments)
{
    const Result<Spawned> spawned = spawn(program, arguments);
    if (!spawned.ok())
        return spawned.error();
    return new ToolRun(spawned.value().pid, spawned.value().output);
}

ToolRun::ToolRun(qint64 pid, int outputFd)
    : QObject(QCoreApplication::instance())
    , childPid(pid)
    , outputFd(outputFd)
{
    clock.start();
    outputNotifier = new QSocketNotifier(outputFd, QSocketNotifier::Read, this);
    connect(outputNotifier, &QSocketNotifier::activated, this, &ToolRun::readOutput);
    exitFd = platform::exitDescriptor(pid);
    if (exitFd >= 0) {
        exitNotifier = new QSocketNotifier(exitFd, QSocketNotifier::Read, this);
        connect(exitNotifier, &QSocketNotifier::activated, this, &ToolRun::collectExit);
    } else {
        // Without a pidfd (Linux before 5.3, or no descriptor left) the exit is
        // asked for instead; a thread blocked in waitpid would be the other way.
        exitPoll = new QTimer(this);
        connect(exitPoll, &QTimer::timeout, this, &ToolRun::collectExit);
        exitPoll->start(50);
    }
}

ToolRun::~ToolRun()
{
    // The notifiers go before their descriptors.
    closeOutput();
    delete exitNotifier;
    if (exitFd >= 0)
        ::close(exitFd);
}

void ToolRun::closeOutput()
{
    delete outputNotifier;
    outputNotifier = nullptr;
    if (outputFd >= 0)
        ::close(outputFd);
    outputFd = -1;
}

void ToolRun::readOutput()
{
    readSome();
}

qsizetype ToolRun::readSome()
{
    QByteArray buffer(readSize, Qt::Uninitialized);
    const ssize_t n = ::read(outputFd, buffer.data(), size_t(buffer.size()));
    if (n > 0) {
        buffer.truncate(n);
        emit output(buffer);
        return n;
    }
    if (n == 0 || (errno != EAGAIN && errno != EINTR))
        closeOutput(); // every writer is gone; the exit comes on its own
    return 0;
}

void ToolRun::collectExit()
{
    int status = 0;
    pid_t reaped;
    while ((reaped = waitpid(pid_t(childPid), &status, WNOHANG)) < 0 && errno == EINTR) {
    }
    if (reaped == 0)
        return; // still running: only the poll asks early
    ToolExit exit;
    exit.elapsedNs = clock.nsecsElapsed();
    if (reaped > 0 && WIFSIGNALED(status)) {
        exit.bySignal = true;
        exit.code = WTERMSIG(status);
    } else {
        // ECHILD: someone else collected it and its status is lost.
        exit.code = reaped > 0 ? WEXITSTATUS(status) : -1;
    }
    // Nothing of the tool stays open here once it has gone.
    if (exitNotifier)
        exitNotifier->setEnabled(false);
    if (exitFd >= 0)
        ::close(exitFd);
    exitFd = -1;
    if (exitPoll)
        exitPoll->stop();
    // What the tool wrote is in the pipe now. A child it left behind may hold
    // the pipe open for as long as it likes, so only that much is waited for.
    for (qsizetype drained = 0, n = 1; outputFd >= 0 && n > 0 && drained < lastDrain; drained += n)
        n = readSome();
    closeOutput();
    emit finished(exit);
    deleteLater();
}

} // namespace core
