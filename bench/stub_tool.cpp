// Stands in for bspc.exe in startup_bench: writes the CLOCK_MONOTONIC time at
// which it started, in nanoseconds, to the file named by VOSTRAND_STUB_STAMP
// (else by its first argument that is not an option) and exits.
//
// Plain libc and no C++ runtime, so that its own start costs as little as it can.

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <fcntl.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);

    const char *path = std::getenv("VOSTRAND_STUB_STAMP");
    for (int i = 1; (!path || !*path) && i < argc; ++i) {
        if (argv[i][0] != '-')
            path = argv[i];
    }
    if (!path || !*path)
        return 2;

    // Written beside the target and renamed over it, so that whoever watches for
    // the name never reads half a number.
    char partial[4096];
    if (std::snprintf(partial, sizeof partial, "%s.part", path) >= int(sizeof partial))
        return 2;
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%lld\n",
                                     (long long)now.tv_sec * 1000000000LL + now.tv_nsec);
    const int fd = open(partial, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return 1;
    const bool written = write(fd, text, size_t(length)) == length;
    close(fd);
    if (!written || rename(partial, path) != 0)
        return 1;
    return 0;
}
