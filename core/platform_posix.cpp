// POSIX: path syntax, the working directory, file URLs, stamps and directory reading.
#include "platform.h"

#include <QDir>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

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

QUrl fileUrl(const QString &path)
{
    return QUrl::fromEncoded("file://" + encodeName(path).toPercentEncoding("/"));
}

bool isDirectory(const QString &path)
{
    struct stat st;
    return stat(encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<FileStamp> fileStamp(const QString &path)
{
    struct stat st;
    if (stat(encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    // The change time, not the modification time: no one can set it back.
    return FileStamp{quint64(st.st_dev), quint64(st.st_ino),
                     qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec,
                     qint64(st.st_size)};
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
