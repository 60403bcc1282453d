// The true reason behind a failed start, read from the program file afterwards.
#include "platform.h"

#include <QSysInfo>

#include <cerrno>
#include <climits>
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace core {

namespace {

bool exists(const QByteArray &path)
{
    struct stat st;
    return stat(path.constData(), &st) == 0;
}

// The first word after "#!", as the kernel takes it.
QByteArray interpreterOf(int fd)
{
    char head[256];
    const ssize_t n = pread(fd, head, sizeof head, 0);
    const QByteArray line = QByteArray(head, qMax<ssize_t>(n, 0)).split('\n').first();
    if (!line.startsWith("#!"))
        return {};
    return line.mid(2).simplified().split(' ').first();
}

// The path in PT_INTERP, which the kernel loads before the program itself.
template <typename Header, typename Segment> QByteArray loaderOf(int fd)
{
    Header header;
    if (pread(fd, &header, sizeof header, 0) != ssize_t(sizeof header) ||
        header.e_phentsize != sizeof(Segment))
        return {};
    for (int i = 0; i < header.e_phnum; ++i) {
        Segment segment;
        if (pread(fd, &segment, sizeof segment, off_t(header.e_phoff + i * sizeof segment)) !=
            ssize_t(sizeof segment))
            return {};
        if (segment.p_type != PT_INTERP)
            continue;
        QByteArray path(qsizetype(qMin<quint64>(segment.p_filesz, PATH_MAX)), '\0');
        if (pread(fd, path.data(), size_t(path.size()), off_t(segment.p_offset)) != path.size())
            return {};
        return path.left(path.indexOf('\0'));
    }
    return {};
}

QByteArray loaderOf(int fd)
{
    unsigned char ident[EI_NIDENT];
    if (pread(fd, ident, sizeof ident, 0) != ssize_t(sizeof ident) ||
        QByteArrayView(ident, SELFMAG) != QByteArrayView(ELFMAG, SELFMAG))
        return {};
    // Only files in this machine's byte order can be read as they stand.
    const bool little = QSysInfo::ByteOrder == QSysInfo::LittleEndian;
    if (ident[EI_DATA] != (little ? ELFDATA2LSB : ELFDATA2MSB))
        return {};
    if (ident[EI_CLASS] == ELFCLASS64)
        return loaderOf<Elf64_Ehdr, Elf64_Phdr>(fd);
    if (ident[EI_CLASS] == ELFCLASS32)
        return loaderOf<Elf32_Ehdr, Elf32_Phdr>(fd);
    return {};
}

} // namespace

Error platform::startFailure(const QByteArray &program, int error)
{
    // The OS refuses to run a directory with EACCES, as if it lacked permission.
    struct stat st;
    if (error == EACCES && stat(program.constData(), &st) == 0 && S_ISDIR(st.st_mode))
        return Error{EISDIR};
    // ENOENT for a file that is there: what it needs to start is missing.
    if (error != ENOENT)
        return Error{error};
    const int fd = open(program.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Error{error};
    Error found{error};
    const QByteArray interpreter = interpreterOf(fd);
    const QByteArray loader = interpreter.isEmpty() ? loaderOf(fd) : QByteArray();
    if (!interpreter.isEmpty() && !exists(interpreter))
        found = Error{Error::MissingInterpreter, decodeName(interpreter)};
    else if (!loader.isEmpty() && !exists(loader))
        found = Error{Error::MissingLoader, decodeName(loader)};
    close(fd);
    return found;
}

} // namespace core
