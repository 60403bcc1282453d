// macOS: the executable's path and the mounted volumes.
#include "platform.h"

#include <mach-o/dyld.h>
#include <sys/mount.h>
#include <sys/param.h>

namespace ui::platform {

QString executablePath()
{
    uint32_t size = 0;
    _NSGetExecutablePath(nullptr, &size);
    QByteArray buffer(qsizetype(size), Qt::Uninitialized);
    if (_NSGetExecutablePath(buffer.data(), &size) != 0)
        return {};
    char resolved[PATH_MAX];
    if (realpath(buffer.constData(), resolved))
        return decodeName(QByteArray(resolved));
    return decodeName(QByteArray(buffer.constData()));
}

QStringList drives()
{
    QStringList result{QStringLiteral("/")};
    struct statfs *mounts = nullptr;
    const int count = getmntinfo(&mounts, MNT_NOWAIT);
    for (int i = 0; i < count; ++i) {
        const QString point = decodeName(QByteArray(mounts[i].f_mntonname));
        if (point.startsWith(QLatin1String("/Volumes/")) && !result.contains(point))
            result.append(point);
    }
    return result;
}

} // namespace ui::platform
