#include "files.h"

#include <cerrno>
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

Result<void> Replacement::discard(std::string reason)
{
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(temp_.c_str());
        fd_ = -1;
    }
    return fail(std::move(reason));
}

Result<void> Replacement::commit()
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
    auto removeTemp = [&](std::string reason) -> Result<void> {
        ::unlink(temp_.c_str());
        return fail(std::move(reason));
    };
    if (::close(fd) != 0)
        return removeTemp(errnoText(errno));

    const std::string backup = target_.native() + ".bak";
    bool backedUp = false;
    struct stat st;
    if (::lstat(target_.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return removeTemp("já existe uma pasta com esse nome");
        if (::rename(target_.c_str(), backup.c_str()) != 0)
            return removeTemp("não foi possível guardar o mapa anterior como .bak: " +
                              errnoText(errno));
        backedUp = true;
    }
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
        const int error = errno;
        if (backedUp)
            ::rename(backup.c_str(), target_.c_str());
        return removeTemp(errnoText(error));
    }
    syncFolder(folder_);
    return {};
}

Result<void> replaceFile(const std::filesystem::path &target, std::string_view text)
{
    Replacement file(target);
    file.write(text);
    return file.commit();
}

} // namespace bsp2map
