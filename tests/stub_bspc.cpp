// Stands in for bspc.exe in the tests and the bench. It records how it was started
// in bspc-<pid>.rec beside itself, as NUL-terminated fields: exe, working directory,
// open fds, QT_QPA_PLATFORM (or "-"), CLOCK_MONOTONIC ns at start, argc, the arguments.
// A "stub-mode" file beside it, "<mode> <n>", says what it does next:
//   talk n     leaves a child that holds the output open until "go", writes
//              lines on both streams and an n-byte <name>.map
//   exit n     a line on stderr, exit n without a map
//   signal n   kills itself with signal n
//   flood n    n MiB of numbered lines and a last line of 2500 characters
//   wait n     200 lines, waits for a "go" file beside it, 9900 more lines,
//              then bspc-<pid>.done with how many writes failed
// Whenever n > 0 the pipe of its standard output holds 1 MiB: much of a flood
// is still there at the exit.
// Only libc, so that its own start weighs little in the bench.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <libgen.h>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>

namespace {
char exe[PATH_MAX];
int self;        // the stub's folder
long failed = 0; // writes refused, as after the reader has gone

void writeFile(int dir, const char *name, const char *data, long size)
{
    static char zeros[1 << 20]; // in .bss, not in the file
    const int fd = openat(dir, name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (long at = 0; at < size; at += sizeof zeros)
        (void)!write(fd, data ? data + at : zeros, size_t(std::min<long>(size - at, sizeof zeros)));
    close(fd);
}

// Beside the stub, written under another name and renamed, so that a reader never sees half.
void publish(const char *suffix, const char *data, long size)
{
    char name[64], part[72];
    std::snprintf(name, sizeof name, "bspc-%d.%s", int(getpid()), suffix);
    std::snprintf(part, sizeof part, "%s.part", name);
    writeFile(self, part, data, size);
    renameat(self, part, self, name);
}

void say(int fd, const char *format, long i)
{
    if (dprintf(fd, format, i) < 0 && errno == EPIPE)
        ++failed;
}

// Until "go" appears, or the folder goes with the test that made it.
void waitForGo()
{
    while (faccessat(self, "go", F_OK, 0) != 0 && access(exe, F_OK) == 0)
        usleep(10000);
}
} // namespace

int main(int argc, char **argv)
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    (void)!readlink("/proc/self/exe", exe, sizeof exe - 1);
    char *record = nullptr, cwd[PATH_MAX], folder[PATH_MAX];
    size_t size = 0;
    FILE *fields = open_memstream(&record, &size);
    std::fprintf(fields, "%s%c%s%c", exe, 0, getcwd(cwd, sizeof cwd) ? cwd : "?", 0);
    DIR *fds = opendir("/proc/self/fd");
    for (const char *separator = ""; const dirent *fd = readdir(fds);) {
        if (fd->d_name[0] != '.' && std::atoi(fd->d_name) != dirfd(fds))
            std::fprintf(fields, "%s%s", std::exchange(separator, ","), fd->d_name);
    }
    closedir(fds);
    const char *platform = std::getenv("QT_QPA_PLATFORM");
    std::fprintf(fields, "%c%s%c%lld%c%d%c", 0, platform ? platform : "-", 0,
                 now.tv_sec * 1000000000LL + now.tv_nsec, 0, argc, 0);
    for (int i = 0; i < argc; ++i)
        std::fprintf(fields, "%s%c", argv[i], 0);
    std::fclose(fields);
    self = open(dirname(std::strcpy(folder, exe)), O_DIRECTORY);
    publish("rec", record, long(size));
    std::free(record);

    char mode[16] = {};
    long n = 0;
    if (FILE *in = fdopen(openat(self, "stub-mode", O_RDONLY), "r"))
        (void)!std::fscanf(in, "%15s %ld", mode, &n);
    const auto is = [&mode](const char *name) { return std::strcmp(mode, name) == 0; };
    // The map goes where the converter puts it: the output folder, or the
    // input's own folder when that is empty; named after the input.
    char input[PATH_MAX], name[PATH_MAX], map[PATH_MAX + 8];
    std::snprintf(input, sizeof input, "%s", argc > 2 ? argv[2] : "");
    char *base = basename(std::strcpy(name, input)), *dot = std::strrchr(base, '.');
    if (dot && dot > base)
        *dot = 0;
    const int out = open(argc > 4 && *argv[4] ? argv[4] : dirname(input), O_DIRECTORY);
    std::snprintf(map, sizeof map, "%s.map", base);

    if (n > 0)
        fcntl(1, F_SETPIPE_SZ, 1024 * 1024);
    if (is("talk")) {
        if (fork() == 0) {
            waitForGo();
            _exit(0);
        }
        for (long i = 1; i <= 3; ++i) {
            say(1, "saída %ld\n", i);
            say(2, "erro %ld\n", i);
        }
        writeFile(out, map, nullptr, n);
        say(1, "fim\n", 0);
    } else if (is("exit")) {
        say(2, "falhou\n", 0);
        return int(n);
    } else if (is("signal")) {
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        std::signal(int(n), SIG_DFL); // a sanitizer may have taken it
        raise(int(n));
    } else if (is("flood")) {
        // All in one write: the reader must drain what is left at the exit.
        const long lines = n * 1024 * 1024 / 100, size = lines * 100 + 2500;
        char *text = static_cast<char *>(std::malloc(size_t(size)));
        std::memset(text + lines * 100, 'y', 2500);
        for (long i = 0; i < lines; ++i) {
            std::snprintf(text + i * 100, 16, "linha %08ld ", i % 100000000);
            std::memset(text + i * 100 + 15, 'x', 84);
            text[i * 100 + 99] = '\n';
        }
        (void)!write(1, text, size_t(size));
        std::free(text);
    } else if (is("wait")) {
        for (long i = 1; i <= 200; ++i)
            say(1, "antes %ld\n", i);
        waitForGo();
        for (long i = 1; i <= 9900; ++i)
            say(i % 2 + 1, "depois %ld: xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n", i);
        const int len = std::snprintf(name, sizeof name, "%ld", failed);
        publish("done", name, len);
    }
    return 0;
}
