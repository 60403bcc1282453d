// POSIX: path syntax, the working directory, process start and directory reading.
#include "platform.h"

#include <QDir>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace core {

QChar platform::separator()
{
    return QLatin1Char('/');
}

bool platform::isSeparator(QChar c)
{
    return c == QLatin1Char('/');
}

qsizetype platform::rootLength(const QString &path)
{
    return !path.isEmpty() && platform::isSeparator(path.at(0)) ? 1 : 0;
}

QString workingDirectory()
{
    // QDir decodes the bytes lossily; getcwd keeps them.
    QByteArray buffer(4096, Qt::Uninitialized);
    while (!getcwd(buffer.data(), size_t(buffer.size()))) {
        if (errno != ERANGE)
            return platform::lostWorkingDirectory();
        buffer.resize(buffer.size() * 2);
    }
    return decodeName(buffer.constData());
}

QString localPath(const QUrl &url)
{
    // A file on another host has no local path, whatever its path says.
    const QString host = url.host();
    if (!url.isLocalFile() || !(host.isEmpty() || host == QLatin1String("localhost")))
        return {};
    return decodeName(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
}

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

// A thread per child only to collect its exit status, so that no zombie is
// left while the window goes on; the window itself never waits.
void reapInBackground(pid_t pid)
{
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

} // namespace

Result<> startDetached(const QString &program, const QStringList &arguments)
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

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#if defined(__GLIBC__)
    // Only the standard streams reach the tool.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#elif defined(__APPLE__)
    flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
    for (int fd = 0; fd < 3; ++fd)
        posix_spawn_file_actions_addinherit_np(&actions, fd);
#endif
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGCHLD, SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaddset(&defaults, sig);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, flags);

    pid_t pid = 0;
    const int rc =
        posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), startEnvironment.pointers.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return platform::startFailure(storage.front(), rc);
    reapInBackground(pid);
    return {};
}

bool isDirectory(const QString &path)
{
    struct stat st;
    return stat(encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

Result<Listing> platform::readDirectory(const QString &path)
{
    const QByteArray encoded = encodeName(path);
    if (encoded.contains('\0'))
        return Error{ENOENT};
    DIR *dir = opendir(encoded.constData());
    if (!dir)
        return Error{errno};
    Listing entries;
    const int fd = dirfd(dir);
    for (;;) {
        errno = 0;
        const dirent *ent = readdir(dir);
        if (!ent) {
            const int err = errno;
            closedir(dir);
            return err ? Result<Listing>(Error{err}) : Result<Listing>(std::move(entries));
        }
        const char *name = ent->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        bool isDir;
#ifdef _DIRENT_HAVE_D_TYPE
        if (ent->d_type == DT_DIR) {
            isDir = true;
        } else if (ent->d_type == DT_REG) {
            isDir = false;
        } else
#endif
        {
            struct stat st;
            if (fstatat(fd, name, &st, 0) != 0)
                continue; // dangling link or loop: nothing to open
            if (S_ISDIR(st.st_mode))
                isDir = true;
            else if (S_ISREG(st.st_mode))
                isDir = false;
            else
                continue; // devices, sockets and pipes are no maps
        }
        entries.append({decodeName(name), isDir});
    }
}

} // namespace core
