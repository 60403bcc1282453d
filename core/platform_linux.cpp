// Linux: the paths of the executable and of the working directory, and the
// mounted file systems, all from /proc; and pidfds for the tool's exit.
#include "platform.h"

#include <QFile>
#include <QSet>

#include <climits>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace core {

int platform::exitDescriptor(qint64 pid)
{
    // Through syscall(): glibc has had a wrapper only since 2.36. Linux before
    // 5.3 answers ENOSYS, and the caller then asks for the exit instead.
#ifdef SYS_pidfd_open
    const long fd = syscall(SYS_pidfd_open, pid_t(pid), 0);
    return fd < 0 ? -1 : int(fd); // close-on-exec by itself
#else
    (void)pid;
    return -1;
#endif
}

namespace {

// The target of a link under /proc, with its bytes as they are.
QByteArray linkTarget(const char *link)
{
    QByteArray buffer(PATH_MAX, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = readlink(link, buffer.data(), size_t(buffer.size()));
        if (n < 0)
            return {};
        if (n < buffer.size())
            return buffer.left(n);
        buffer.resize(buffer.size() * 2);
    }
}

// /proc/self/mounts writes blanks, tabs, newlines and backslashes as \ooo.
QByteArray unescapeMountField(const QByteArray &field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' &&
            field[i + 1] <= '3') {
            out.append(char(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) |
                            (field[i + 3] - '0')));
            i += 3;
        } else {
            out.append(field[i]);
        }
    }
    return out;
}

bool isPseudoType(const QByteArray &type)
{
    static const QSet<QByteArray> pseudo = {
        "proc",      "sysfs",       "cgroup",     "cgroup2",  "devpts",  "devtmpfs",
        "tmpfs",     "overlay",     "mqueue",     "debugfs",  "tracefs", "securityfs",
        "pstore",    "bpf",         "autofs",     "nsfs",     "fusectl", "configfs",
        "hugetlbfs", "binfmt_misc", "rpc_pipefs", "efivarfs", "ramfs",   "squashfs"};
    return pseudo.contains(type);
}

} // namespace

QString platform::executablePath()
{
    return decodeName(linkTarget("/proc/self/exe"));
}

QString platform::lostWorkingDirectory()
{
    // The kernel still knows a removed directory's path, and marks it so.
    QByteArray path = linkTarget("/proc/self/cwd");
    const QByteArray mark = " (deleted)";
    if (path.endsWith(mark))
        path.chop(mark.size());
    return path.startsWith('/') ? decodeName(path) : QString();
}

QStringList drives()
{
    QStringList result{QStringLiteral("/")};
    QFile mounts(QStringLiteral("/proc/self/mounts"));
    if (!mounts.open(QIODevice::ReadOnly))
        return result;
    const QList<QByteArray> lines = mounts.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 3 || !fields[0].startsWith("/dev/") || isPseudoType(fields[2]))
            continue;
        const QByteArray point = unescapeMountField(fields[1]);
        struct stat st;
        if (point == "/" || stat(point.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            continue; // files bind-mounted into containers are no drives
        const QString text = decodeName(point);
        if (!result.contains(text))
            result.append(text);
    }
    return result;
}

} // namespace core
