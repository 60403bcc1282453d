#include "files.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bsp2map {

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

// An interrupt removes the named temporary file, if there is one, and ends the
// run by the signal's own default action. While commit moves names about, the
// signal waits for it instead: neither a second name for the new map nor the
// old map moved aside can be left.
constexpr int kAtOnce = 0, kHeld = -1; // otherwise: the signal that waits
std::atomic<int> interrupt{kAtOnce};
std::atomic<const char *> namedTemp{nullptr};
static_assert(std::atomic<int>::is_always_lock_free &&
              std::atomic<const char *>::is_always_lock_free);

// Only async-signal-safe calls: this runs in a handler.
void endBy(int signal)
{
    if (const char *path = namedTemp.load())
        ::unlink(path);
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    ::sigaction(signal, &fallback, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
}

void onInterrupt(int signal)
{
    int state = kHeld;
    if (interrupt.compare_exchange_strong(state, signal) || state > 0)
        return;
    endBy(signal);
}

class HeldInterrupts {
public:
    HeldInterrupts() { interrupt.store(kHeld); }
    ~HeldInterrupts()
    {
        if (const int signal = interrupt.exchange(kAtOnce); signal > 0)
            endBy(signal);
    }
    HeldInterrupts(const HeldInterrupts &) = delete;
    HeldInterrupts &operator=(const HeldInterrupts &) = delete;
};

// Gives the unnamed file open at fd a hidden name of its own in folder.
Result<std::string> nameUnnamed(int fd, const std::filesystem::path &folder)
{
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string name =
            ".bspc-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        const std::string path = (folder / name).native();
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return path;
        int error = errno;
        // Without /proc: the descriptor itself, where the kernel allows that.
        if (error == ENOENT) {
            if (::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0)
                return path;
            error = errno;
        }
        if (error != EEXIST)
            return fail("não foi possível dar nome ao arquivo temporário: " + errnoText(error));
    }
    return fail("não foi possível dar nome ao arquivo temporário: todos os nomes estão em uso");
}

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

void cleanUpOnInterrupt()
{
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction before {};
        // One that the run was started ignoring (nohup, a background job) stays ignored.
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
            ::sigaction(signal, &action, nullptr);
    }
}

Replacement::Replacement(std::filesystem::path target)
    : target_(std::move(target))
    , folder_(target_.parent_path())
{
    if (folder_.empty())
        folder_ = ".";
}

Replacement::~Replacement()
{
    (void)discard({});
}

void Replacement::create()
{
    // Unnamed until commit: nothing can be left behind while the text is written.
    fd_ = ::open(folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd_ >= 0)
        return;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        error_ = "não foi possível criar o arquivo temporário: " + errnoText(errno);
        return;
    }
    // A filesystem without unnamed files: a hidden name that an interrupt removes.
    HeldInterrupts hold;
    std::string temp = (folder_ / ".bspc-XXXXXX").native();
    fd_ = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd_ < 0) {
        error_ = "não foi possível criar o arquivo temporário: " + errnoText(errno);
        return;
    }
    temp_ = std::move(temp);
    namedTemp.store(temp_.c_str());
}

void Replacement::write(std::string_view text)
{
    if (error_.empty() && fd_ < 0)
        create();
    if (!error_.empty())
        return;
    if (auto written = writeAll(fd_, text); !written)
        error_ = written.error().message;
}

Error Replacement::discard(std::string reason)
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        namedTemp.store(nullptr);
        temp_.clear();
    }
    return fail(std::move(reason));
}

Result<std::string> Replacement::commit()
{
    if (fd_ < 0 && error_.empty())
        write({});
    if (!error_.empty())
        return discard(error_);
    if (!temp_.empty()) {
        // mkstemp makes it 0600; a map is an ordinary document.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd_, 0666 & ~mask);
    }
    if (::fsync(fd_) != 0)
        return discard(errnoText(errno));
    HeldInterrupts hold;
    if (temp_.empty()) {
        auto named = nameUnnamed(fd_, folder_);
        if (!named)
            return discard(named.error().message);
        temp_ = std::move(*named);
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        return discard(errnoText(errno));

    struct stat st;
    std::string backup;
    if (::lstat(target_.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return discard("já existe uma pasta com esse nome");
        // The same text again loses nothing; anything else the user may have
        // edited, so it goes to a backup name that is not taken yet.
        if (!sameContents(target_.c_str(), temp_.c_str())) {
            auto kept = keepAside(target_.native());
            if (!kept)
                return discard(kept.error().message);
            backup = std::move(*kept);
        }
    }
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
        const int error = errno;
        if (!backup.empty())
            ::rename(backup.c_str(), target_.c_str());
        return discard(errnoText(error));
    }
    namedTemp.store(nullptr);
    temp_.clear();
    syncFolder(folder_);
    return backup;
}

} // namespace bsp2map
