// Stands in for bspc.exe in the tests. It writes what it was started with
// into bspc-<pid>.rec beside itself, as NUL-separated fields:
//   exe, <path>, cwd, <dir>, fds, <list>, env, <QT_QPA_PLATFORM or "-">, argv, <n>, <args...>
// STUB_MODE=sleep makes it never exit; STUB_MODE=spam makes it print 8 MB.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <unistd.h>

static std::string readLink(const char *path)
{
    char buffer[PATH_MAX * 2];
    const ssize_t n = readlink(path, buffer, sizeof buffer);
    return n < 0 ? std::string() : std::string(buffer, size_t(n));
}

static std::string openFds()
{
    std::string list;
    DIR *dir = opendir("/proc/self/fd");
    if (!dir)
        return "?";
    const int own = dirfd(dir);
    while (const dirent *ent = readdir(dir)) {
        if (ent->d_name[0] == '.' || std::atoi(ent->d_name) == own)
            continue;
        list += (list.empty() ? "" : ",") + std::string(ent->d_name);
    }
    closedir(dir);
    return list;
}

int main(int argc, char **argv)
{
    std::string record;
    auto field = [&record](const std::string &text) {
        record += text;
        record += '\0';
    };
    const std::string exe = readLink("/proc/self/exe");
    field("exe");
    field(exe);
    char cwd[PATH_MAX * 2];
    field("cwd");
    field(getcwd(cwd, sizeof cwd) ? cwd : "?");
    field("fds");
    field(openFds());
    field("env");
    const char *platform = std::getenv("QT_QPA_PLATFORM");
    field(platform ? platform : "-");
    field("argv");
    field(std::to_string(argc));
    for (int i = 0; i < argc; ++i)
        field(argv[i]);

    // Written under a temporary name and renamed, so a reader never sees half.
    const std::string folder = exe.substr(0, exe.rfind('/') + 1);
    const std::string name = folder + "bspc-" + std::to_string(getpid()) + ".rec";
    const std::string partial = name + ".part";
    FILE *out = std::fopen(partial.c_str(), "wb");
    if (!out)
        return 2;
    std::fwrite(record.data(), 1, record.size(), out);
    std::fclose(out);
    std::rename(partial.c_str(), name.c_str());

    const char *mode = std::getenv("STUB_MODE");
    if (mode && std::strcmp(mode, "sleep") == 0) {
        for (;;)
            pause();
    }
    if (mode && std::strcmp(mode, "spam") == 0) {
        std::string line(1023, 'x');
        line += '\n';
        for (int i = 0; i < 8 * 1024; ++i)
            std::fwrite(line.data(), 1, line.size(), stdout);
    }
    return 0;
}
