#include "core.h"
#include "platform.h"

namespace core {

namespace {

bool endsWithSeparator(const QString &path)
{
    return !path.isEmpty() && platform::isSeparator(path.back());
}

bool holds(const QString &drive, const QString &path)
{
    if (drive.isEmpty() || !path.startsWith(drive))
        return false;
    return path.size() == drive.size() || endsWithSeparator(drive) ||
           platform::isSeparator(path.at(drive.size()));
}

QString resolvePath(const QString &base, const QString &path)
{
    const QString full = platform::rootLength(path) > 0 ? path : joinPath(base, path);
    return rootOf(full) + components(full).join(platform::separator());
}

} // namespace

QString joinPath(const QString &folder, const QString &name)
{
    if (folder.isEmpty() || endsWithSeparator(folder))
        return folder + name;
    return folder + platform::separator() + name;
}

QString rootOf(const QString &path)
{
    return platform::rootLength(path) == 0 ? QString() : QString(platform::separator());
}

QStringList components(const QString &path)
{
    QStringList parts;
    qsizetype start = platform::rootLength(path);
    for (qsizetype i = start; i <= path.size(); ++i) {
        if (i < path.size() && !platform::isSeparator(path.at(i)))
            continue;
        const QStringView part = QStringView(path).mid(start, i - start);
        start = i + 1;
        if (part.isEmpty() || part == u".")
            continue;
        if (part == u"..") {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts.append(part.toString());
    }
    return parts;
}

QString absolutePath(const QString &base, const QString &path)
{
    if (platform::rootLength(path) > 0)
        return resolvePath(QString(), path);
    return resolvePath(base.isEmpty() ? workingDirectory() : base, path);
}

QString programFolder()
{
    const QString exe = platform::executablePath();
    qsizetype cut = exe.size();
    while (cut > 0 && !platform::isSeparator(exe.at(cut - 1)))
        --cut;
    if (cut == 0)
        return {};
    // Keep the separator only when the folder is a root, like "/".
    return cut == platform::rootLength(exe) ? exe.left(cut) : exe.left(cut - 1);
}

QString longestDrive(const QStringList &drives, const QString &path)
{
    QString best;
    for (const QString &drive : drives) {
        if (drive.size() > best.size() && holds(drive, path))
            best = drive;
    }
    return best;
}

} // namespace core
