// Stands in for bspc.exe in the tests and the bench. It writes how it was
// started into bspc-<pid>.rec beside itself, as NUL-terminated fields:
//   exe, working directory, open fds, QT_QPA_PLATFORM (or "-"),
//   CLOCK_MONOTONIC ns at start, argc, then the arguments.
// A "stub-mode" file beside it, "<mode> <n>", says what it does next:
//   sleep      never exits
//   talk n     lines on both streams, then an n-byte <name>.map, exit 0
//   quiet      a line, exit 0 without writing
//   exit n     a line on stderr, exit n
//   signal n   kills itself with signal n
//   pk3 n      n maps and a text file in the output folder, exit 0
//   flood n    n MiB of numbered lines and a last line of 2500 characters
//   wait       200 lines, waits for a "go" file beside it, 9900 more lines,
//              then bspc-<pid>.done with how many writes failed
//   fork       a line, leaves a child that holds the output open until "go",
//              writes <name>.map of 10 bytes, exit 0
// Only libc, so that its own start weighs little in the bench.
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    char exe[PATH_MAX] = {}, cwd[PATH_MAX], fds[512] = "", number[32], name[PATH_MAX + 32];
    if (readlink("/proc/self/exe", exe, sizeof exe - 1) < 0)
        return 2;
    const int folder = int(std::strrchr(exe, '/') - exe) + 1;
    if (DIR *dir = opendir("/proc/self/fd")) {
        while (const dirent *ent = readdir(dir)) {
            if (ent->d_name[0] != '.' && std::atoi(ent->d_name) != dirfd(dir))
                std::snprintf(fds + std::strlen(fds), sizeof fds - std::strlen(fds), "%s%s",
                              *fds ? "," : "", ent->d_name);
        }
        closedir(dir);
    }
    // Written under a temporary name and renamed, so a reader never sees half.
    std::snprintf(name, sizeof name, "%.*sbspc-%d.rec.part", folder, exe, int(getpid()));
    const int out = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const char *platform = std::getenv("QT_QPA_PLATFORM");
    std::snprintf(number, sizeof number, "%lld", now.tv_sec * 1000000000LL + now.tv_nsec);
    const char *fields[] = {exe, getcwd(cwd, sizeof cwd) ? cwd : "?", fds,
                            platform ? platform : "-", number};
    for (const char *field : fields)
        (void)!write(out, field, std::strlen(field) + 1);
    std::snprintf(number, sizeof number, "%d", argc);
    (void)!write(out, number, std::strlen(number) + 1);
    for (int i = 0; i < argc; ++i)
        (void)!write(out, argv[i], std::strlen(argv[i]) + 1);
    close(out);
    char done[PATH_MAX + 32];
    std::snprintf(done, sizeof done, "%.*s", int(std::strlen(name) - 5), name);
    if (std::rename(name, done) != 0)
        return 2;

    char line[64] = {}, mode[16] = {};
    long n = 0;
    std::snprintf(name, sizeof name, "%.*sstub-mode", folder, exe);
    const int in = open(name, O_RDONLY);
    if (in >= 0 && read(in, line, sizeof line - 1) >= 0)
        std::sscanf(line, "%15s %ld", mode, &n);
    if (std::strcmp(mode, "sleep") == 0)
        for (;;)
            pause();
    // The map goes where the converter puts it: the output folder, or the
    // input's own folder when that is empty; named after the input.
    const char *bsp = argc > 2 ? argv[2] : "", *output = argc > 4 ? argv[4] : "";
    const char *base = std::strrchr(bsp, '/') ? std::strrchr(bsp, '/') + 1 : bsp;
    const char *dot = std::strrchr(base, '.');
    const int stem = int(dot && dot > base ? dot - base : std::strlen(base));
    char outFolder[PATH_MAX];
    if (*output)
        std::snprintf(outFolder, sizeof outFolder, "%s", output);
    else
        std::snprintf(outFolder, sizeof outFolder, "%.*s", base == bsp ? 1 : int(base - bsp),
                      base == bsp ? "." : bsp);
    char map[PATH_MAX + 64];
    std::snprintf(map, sizeof map, "%s/%.*s.map", outFolder, stem, base);
    const auto writeFile = [](const char *path, long size) {
        const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        for (char chunk[4096] = {}; size > 0; size -= long(sizeof chunk))
            (void)!write(fd, chunk, size_t(size < long(sizeof chunk) ? size : long(sizeof chunk)));
        close(fd);
    };
    long failed = 0; // writes refused, as after the reader has gone
    const auto say = [&failed](int fd, const char *format, long i) {
        char text[128];
        const int len = std::snprintf(text, sizeof text, format, i);
        if (write(fd, text, size_t(len)) < 0 && errno == EPIPE)
            ++failed;
    };
    // Until "go" appears, or the folder goes with the test that made it.
    std::snprintf(name, sizeof name, "%.*sgo", folder, exe);
    char self[PATH_MAX];
    std::snprintf(self, sizeof self, "%s", exe);
    const auto waitForGo = [&name, &self] {
        while (access(name, F_OK) != 0 && access(self, F_OK) == 0)
            usleep(10000);
    };

    if (std::strcmp(mode, "talk") == 0) {
        for (long i = 1; i <= 3; ++i) {
            say(1, "saída %ld\n", i);
            say(2, "erro %ld\n", i);
        }
        writeFile(map, n);
        say(1, "fim\n", 0);
    } else if (std::strcmp(mode, "quiet") == 0) {
        say(1, "nada a fazer\n", 0);
    } else if (std::strcmp(mode, "exit") == 0) {
        say(2, "falhou\n", 0);
        return int(n);
    } else if (std::strcmp(mode, "signal") == 0) {
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        std::signal(int(n), SIG_DFL); // a sanitizer may have taken it
        raise(int(n));
    } else if (std::strcmp(mode, "pk3") == 0) {
        for (long i = 1; i <= n; ++i) {
            char path[PATH_MAX + 64];
            std::snprintf(path, sizeof path, "%s/mapa%ld.map", outFolder, i);
            writeFile(path, 100);
        }
        std::snprintf(map, sizeof map, "%s/leia.txt", outFolder);
        writeFile(map, 10);
    } else if (std::strcmp(mode, "flood") == 0) {
        // A pipe this large still holds much at the exit: the reader must drain it.
        fcntl(1, F_SETPIPE_SZ, 1024 * 1024);
        static char text[100];
        std::memset(text, 'x', sizeof text);
        text[sizeof text - 1] = '\n';
        for (long i = 0; i < n * 1024 * 1024 / long(sizeof text); ++i) {
            char number[24];
            std::snprintf(number, sizeof number, "linha %08ld ", i % 100000000);
            std::memcpy(text, number, 15);
            (void)!write(1, text, sizeof text);
        }
        static char last[2500];
        std::memset(last, 'y', sizeof last);
        (void)!write(1, last, sizeof last);
    } else if (std::strcmp(mode, "wait") == 0) {
        for (long i = 1; i <= 200; ++i)
            say(1, "antes %ld\n", i);
        waitForGo();
        for (long i = 1; i <= 9900; ++i)
            say(i % 2 + 1, "depois %ld: xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n", i);
        std::snprintf(name, sizeof name, "%.*sbspc-%d.done.part", folder, exe, int(getpid()));
        const int done = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dprintf(done, "%ld", failed);
        close(done);
        std::snprintf(map, sizeof map, "%.*s", int(std::strlen(name) - 5), name);
        std::rename(name, map);
    } else if (std::strcmp(mode, "fork") == 0) {
        say(1, "pai\n", 0);
        if (fork() == 0) {
            waitForGo();
            _exit(0);
        }
        writeFile(map, 10);
    }
    return 0;
}
