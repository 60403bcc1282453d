// Stands in for bspc.exe in the tests. It writes what it was started with
// into bspc-<pid>.rec beside itself, as NUL-separated fields:
//   exe, <path>, cwd, <dir>, fds, <list>, env, <QT_QPA_PLATFORM or "-">, argv, <n>, <args...>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <string>
#include <unistd.h>

int main(int argc, char **argv)
{
    std::string record;
    auto field = [&record](const std::string &n, const std::string &v) {
        record += n + '\0' + v + '\0';
    };
    char buffer[PATH_MAX * 2];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
    const std::string exe(buffer, n < 0 ? 0 : size_t(n));
    field("exe", exe);
    field("cwd", getcwd(buffer, sizeof buffer) ? buffer : "?");
    std::string fds;
    if (DIR *dir = opendir("/proc/self/fd")) {
        while (const dirent *ent = readdir(dir)) {
            if (ent->d_name[0] != '.' && std::atoi(ent->d_name) != dirfd(dir))
                fds += (fds.empty() ? "" : ",") + std::string(ent->d_name);
        }
        closedir(dir);
    }
    field("fds", fds);
    const char *platform = std::getenv("QT_QPA_PLATFORM");
    field("env", platform ? platform : "-");
    field("argv", std::to_string(argc));
    for (int i = 0; i < argc; ++i)
        record += std::string(argv[i]) + '\0';

    // Written under a temporary name and renamed, so a reader never sees half.
    const std::string name =
        exe.substr(0, exe.rfind('/') + 1) + "bspc-" + std::to_string(getpid()) + ".rec";
    std::ofstream(name + ".part", std::ios::binary) << record;
    if (std::rename((name + ".part").c_str(), name.c_str()) != 0)
        return 2;
    // A "stub-mode" file beside it makes it misbehave: "sleep" never exits,
    // "spam" prints 8 MB.
    std::string mode;
    std::ifstream(exe.substr(0, exe.rfind('/') + 1) + "stub-mode") >> mode;
    if (mode == "sleep")
        for (;;)
            pause();
    for (int i = 0; mode == "spam" && i < 8192; ++i)
        std::fwrite(std::string(1023, 'x').append("\n").data(), 1, 1024, stdout);
    return 0;
}
