#include "files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bsp2map {

std::string errnoText(int error)
{
    switch (error) {
    case ENOENT:
        return "arquivo ou pasta não existe";
    case ENOTDIR:
        return "um componente do caminho não é uma pasta";
    case EACCES:
    case EPERM:
        return "permissão negada";
    case EISDIR:
        return "é uma pasta";
    case ENAMETOOLONG:
        return "nome longo demais";
    case ENOSPC:
        return "sem espaço no disco";
    case EDQUOT:
        return "cota de disco esgotada";
    case EROFS:
        return "sistema de arquivos somente leitura";
    case EIO:
        return "erro de entrada e saída";
    case ELOOP:
        return "links simbólicos demais";
    case EMFILE:
    case ENFILE:
        return "arquivos abertos demais";
    case ENOMEM:
        return "memória insuficiente";
    case EXDEV:
        return "o arquivo temporário ficou em outro sistema de arquivos";
    case EFBIG:
        return "arquivo grande demais";
    }
    return "erro do sistema " + std::to_string(error);
}

PathKind pathKind(const std::filesystem::path &path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? PathKind::Missing : PathKind::Unreadable;
    if (S_ISREG(st.st_mode))
        return PathKind::Regular;
    if (S_ISDIR(st.st_mode))
        return PathKind::Directory;
    return PathKind::Other;
}

Result<InputFile> InputFile::open(const std::filesystem::path &path, std::size_t maxSize)
{
    // Non-blocking, so that a FIFO cannot hold the open; fstat then refuses it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return fail(errnoText(errno));
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        return fail(errnoText(error));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(S_ISDIR(st.st_mode) ? "é uma pasta, não um arquivo" : "não é um arquivo comum");
    }
    InputFile file;
    file.size_ = static_cast<std::size_t>(st.st_size);
    if (file.size_ == 0) {
        ::close(fd);
        return file;
    }
    if (file.size_ > maxSize) {
        ::close(fd);
        return fail("arquivo grande demais (" + std::to_string(file.size_ >> 20) +
                    " MiB; o máximo é " + std::to_string(maxSize >> 20) + " MiB)");
    }
    // Populated at once when it is map-sized: every lump is read, and one pass
    // costs less than a fault a page. A huge sparse file is only touched where read.
    const int populate = file.size_ <= (std::size_t(256) << 20) ? MAP_POPULATE : 0;
    void *map = ::mmap(nullptr, file.size_, PROT_READ, MAP_PRIVATE | populate, fd, 0);
    const int error = errno;
    ::close(fd);
    if (map == MAP_FAILED)
        return fail("não foi possível ler o arquivo: " + errnoText(error));
    const std::size_t size = file.size_;
    file.data_ = std::shared_ptr<const std::byte>(
        static_cast<const std::byte *>(map),
        [size](const std::byte *p) { ::munmap(const_cast<std::byte *>(p), size); });
    return file;
}

namespace {

Result<void> writeAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(errnoText(errno));
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

void syncFolder(const std::filesystem::path &folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Whether two files hold the same bytes; false when either cannot be read.
bool sameContents(const char *a, const char *b)
{
    const int fa = ::open(a, O_RDONLY | O_CLOEXEC), fb = ::open(b, O_RDONLY | O_CLOEXEC);
    struct stat sa, sb;
    bool same = fa >= 0 && fb >= 0 && ::fstat(fa, &sa) == 0 && ::fstat(fb, &sb) == 0 &&
                S_ISREG(sa.st_mode) && sa.st_size == sb.st_size;
    char bufA[1 << 16], bufB[1 << 16];
    for (off_t left = same ? sa.st_size : 0; left > 0;) {
        const ssize_t n = ::read(fa, bufA, sizeof bufA);
        if (n <= 0 || ::read(fb, bufB, size_t(n)) != n || std::memcmp(bufA, bufB, size_t(n)) != 0) {
            same = false;
            break;
        }
        left -= n;
    }
    if (fa >= 0)
        ::close(fa);
    if (fb >= 0)
        ::close(fb);
    return same;
}

// Moves path to path.bak, or to path.bak2, .bak3... when that is taken: an
// older backup may be the map the user edited. Returns the name it got.
Result<std::string> keepAside(const std::string &path)
{
    for (int n = 1; n <= 9999; ++n) {
        const std::string backup = path + ".bak" + (n > 1 ? std::to_string(n) : std::string());
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, backup.c_str(), RENAME_NOREPLACE) == 0)
            return backup;
        int error = errno;
        // Filesystems without the flag: look first, then rename.
        if (error == EINVAL || error == ENOSYS) {
            struct stat st;
            if (::lstat(backup.c_str(), &st) == 0)
                continue;
            if (::rename(path.c_str(), backup.c_str()) == 0)
                return backup;
            error = errno;
        }
        if (error != EEXIST)
            return fail("não foi possível guardar o mapa anterior como .bak: " + errnoText(error));
    }
    return fail("não foi possível guardar o mapa anterior: todos os nomes .bak estão em uso");
}

} // namespace

Replacement::Replacement(std::filesystem::path target)
    : target_(std::move(target))
    , folder_(target_.parent_path())
{
    if (folder_.empty())
        folder_ = ".";
}

Replacement::~Replacement()
{
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(temp_.c_str());
    }
}

void Replacement::write(std::string_view text)
{
    if (!error_.empty())
        return;
    if (fd_ < 0) {
        temp_ = (folder_ / ".bspc-XXXXXX").native();
        fd_ = ::mkostemp(temp_.data(), O_CLOEXEC);
        if (fd_ < 0) {
            error_ = "não foi possível criar o arquivo temporário: " + errnoText(errno);
            return;
        }
    }
    if (auto written = writeAll(fd_, text); !written)
        error_ = written.error();
}

Error Replacement::discard(std::string reason)
{
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(temp_.c_str());
        fd_ = -1;
    }
    return fail(std::move(reason));
}

Result<std::string> Replacement::commit()
{
    if (fd_ < 0 && error_.empty())
        write({});
    if (!error_.empty())
        return discard(error_);
    // mkstemp makes it 0600; a map is an ordinary document.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd_, 0666 & ~mask);
    if (::fsync(fd_) != 0)
        return discard(errnoText(errno));
    const int fd = fd_;
    fd_ = -1;
    auto removeTemp = [&](std::string reason) -> Error {
        ::unlink(temp_.c_str());
        return fail(std::move(reason));
    };
    if (::close(fd) != 0)
        return removeTemp(errnoText(errno));

    struct stat st;
    std::string backup;
    if (::lstat(target_.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return removeTemp("já existe uma pasta com esse nome");
        // The same text again loses nothing; anything else the user may have
        // edited, so it goes to a backup name that is not taken yet.
        if (!sameContents(target_.c_str(), temp_.c_str())) {
            auto kept = keepAside(target_.native());
            if (!kept)
                return removeTemp(kept.error());
            backup = std::move(*kept);
        }
    }
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
        const int error = errno;
        if (!backup.empty())
            ::rename(backup.c_str(), target_.c_str());
        return removeTemp(errnoText(error));
    }
    syncFolder(folder_);
    return backup;
}

} // namespace bsp2map
