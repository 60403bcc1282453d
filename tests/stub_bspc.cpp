// Stands in for bspc.exe in the tests and the bench. It writes how it was
// started into bspc-<pid>.rec beside itself, as NUL-terminated fields:
//   exe, working directory, open fds, QT_QPA_PLATFORM (or "-"),
//   CLOCK_MONOTONIC ns at start, argc, then the arguments.
// A "stub-mode" file beside it holding "sleep" makes it never exit. Only libc,
// so that its own start weighs little in the bench.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
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

    std::snprintf(name, sizeof name, "%.*sstub-mode", folder, exe);
    char mode[8] = {};
    const int in = open(name, O_RDONLY);
    if (in >= 0 && read(in, mode, sizeof mode - 1) > 0 && std::strncmp(mode, "sleep", 5) == 0)
        for (;;)
            pause();
    return 0;
}
