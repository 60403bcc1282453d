// Times bspc.exe on every map of an OpenArena pk3, and on the Quake 2 test map, against an I/O
// floor: reading the BSP once and writing (and syncing) a file of the .map's size, the least any
// converter has to do. Standard library and POSIX only.
//
// The driver's `convert` table: bench convert [--runs=N] [--bspc=PATH] [PK3]
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace fs = std::filesystem;
bool quakeFromQuake3(const fs::path &from, const fs::path &to);
using Clock = std::chrono::steady_clock;

namespace {

struct Run {
    double ms = 0;    // wall clock
    double cpuMs = 0; // user + system
    int status = -1;
};

double cpuMsOf(const struct rusage &usage)
{
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// Starts a program with stdout and stderr sent to /dev/null and waits for it.
Run spawnAndWait(const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Run run;
    const auto start = Clock::now();
    pid_t pid;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return run;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    struct rusage usage {};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    run.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    run.cpuMs = cpuMsOf(usage);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

// The peak resident set of one more, untimed run, read from its VmHWM as it
// exits. ru_maxrss cannot give it: a child started from this process keeps
// this process's own peak, some 15 MiB of Qt, as the floor of its own.
double peakRssMiB(const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1), dup2(null, 2);
        ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    double peak = 0;
    int status = 0;
    // Stopped at its exec, then at its exit; any signal it gets is passed on.
    while (pid > 0 && waitpid(pid, &status, 0) == pid && WIFSTOPPED(status)) {
        int pass = 0;
        if (status >> 8 == (SIGTRAP | PTRACE_EVENT_EXIT << 8)) {
            char path[64], line[256];
            std::snprintf(path, sizeof path, "/proc/%d/status", int(pid));
            if (FILE *f = std::fopen(path, "r")) {
                while (std::fgets(line, sizeof line, f))
                    if (std::strncmp(line, "VmHWM:", 6) == 0)
                        peak = std::atof(line + 6) / 1024;
                std::fclose(f);
            }
        } else if (WSTOPSIG(status) == SIGTRAP)
            ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACEEXIT);
        else
            pass = WSTOPSIG(status);
        ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void *>(std::intptr_t(pass)));
    }
    return peak;
}

// Read the input in one go, write as many bytes as the map has, sync, rename:
// what the converter does around its own work.
double ioFloor(const fs::path &input, std::uintmax_t outputSize, const fs::path &folder)
{
    const auto start = Clock::now();
    std::vector<char> in(fs::file_size(input));
    const int fd = open(input.c_str(), O_RDONLY);
    std::size_t got = 0;
    while (fd >= 0 && got < in.size()) {
        const ssize_t n = read(fd, in.data() + got, in.size() - got);
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    if (fd >= 0)
        close(fd);
    std::string out(outputSize, '\n');
    // Touch the input so that the read cannot be skipped.
    if (!in.empty() && !out.empty())
        out[0] = in[in.size() / 2];
    const fs::path temp = folder / ".floor.tmp";
    const int wfd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::size_t put = 0;
    while (wfd >= 0 && put < out.size()) {
        const ssize_t n = write(wfd, out.data() + put, out.size() - put);
        if (n <= 0)
            break;
        put += static_cast<std::size_t>(n);
    }
    if (wfd >= 0) {
        fsync(wfd);
        close(wfd);
    }
    rename(temp.c_str(), (folder / "floor.out").c_str());
    const int dfd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The floor runs in a child of its own, so that its buffers never raise this
// process's peak, which a spawned bspc.exe would inherit in its ru_maxrss.
Run floorInChild(const fs::path &input, std::uintmax_t outputSize, const fs::path &folder)
{
    Run run;
    int fds[2];
    if (pipe(fds) != 0)
        return run;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const double ms = ioFloor(input, outputSize, folder);
        if (write(fds[1], &ms, sizeof ms) != sizeof ms)
            _exit(1);
        _exit(0);
    }
    close(fds[1]);
    double ms = 0;
    const bool got = pid > 0 && read(fds[0], &ms, sizeof ms) == sizeof ms;
    close(fds[0]);
    int status = 0;
    struct rusage usage {};
    while (pid > 0 && wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    if (got && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        run.ms = ms;
        run.cpuMs = cpuMsOf(usage);
        run.status = 0;
    }
    return run;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Series {
    std::vector<double> ms, cpuMs;
    double rssMiB = 0;
    void add(const Run &run)
    {
        ms.push_back(run.ms);
        cpuMs.push_back(run.cpuMs);
    }
};

// One bspc.exe run on input, added to series; false when it failed.
bool convertInto(const std::string &bspc, const std::string &input, const fs::path &out,
                 Series &series)
{
    const Run run = spawnAndWait({bspc, "-bsp2map", input, "-output", out.string()});
    if (run.status != 0) {
        std::fprintf(stderr, "%s: bspc.exe exited %d\n", input.c_str(), run.status);
        return false;
    }
    series.add(run);
    return true;
}

// What finding the images' sizes costs a whole package: the Valve form's run
// less the default form's, taken side by side, against the floor of listing
// the directory of every pk3 in the game folder (unzip -l), which any search
// for the images must read.
void sizesRow(const std::string &bspc, const std::string &pk3, const fs::path &out, int runs)
{
    std::vector<std::string> pk3s;
    for (const auto &entry : fs::directory_iterator(fs::path(pk3).parent_path()))
        if (entry.path().extension() == ".pk3")
            pk3s.push_back(entry.path().string());
    Series plain, valve, floor;
    for (int r = 0; r < runs; ++r) {
        plain.add(spawnAndWait({bspc, "-bsp2map", pk3, "-output", out.string()}));
        valve.add(
            spawnAndWait({bspc, "-bsp2map", pk3, "-output", out.string(), "-format", "valve"}));
        Run listing;
        for (const std::string &p : pk3s) {
            const Run one = spawnAndWait({"unzip", "-l", p});
            listing.ms += one.ms;
            listing.cpuMs += one.cpuMs;
        }
        floor.add(listing);
    }
    const double ms = median(valve.ms) - median(plain.ms),
                 cpu = median(valve.cpuMs) - median(plain.cpuMs);
    std::printf("image sizes for the whole pk3 (valve %.1f ms less default %.1f ms): %.1f ms, "
                "%.1f cpu ms; floor, listing %zu pk3s: %.1f ms, %.1f cpu ms; ratio %.2f wall, "
                "%.2f cpu\n",
                median(valve.ms), median(plain.ms), ms, cpu, pk3s.size(), median(floor.ms),
                median(floor.cpuMs), ms / median(floor.ms), cpu / median(floor.cpuMs));
}

} // namespace

int convertTable(int argc, char **argv)
{
    int runs = 3;
    std::string bspc = BSPC_PATH;
    std::string pk3 = "/usr/share/games/openarena/baseoa/pak1-maps.pk3";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--runs=", 0) == 0)
            runs = std::max(1, std::atoi(arg.c_str() + 7));
        else if (arg.rfind("--bspc=", 0) == 0)
            bspc = arg.substr(7);
        else
            pk3 = arg;
    }
    if (!fs::exists(pk3)) {
        std::fprintf(stderr, "no %s (Debian package openarena-081-maps)\n", pk3.c_str());
        return 1;
    }
    char pattern[] = "/tmp/convert_bench.XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path work = pattern;
    const fs::path maps = work / "in", out = work / "out", floorDir = work / "floor";
    fs::create_directories(maps);
    fs::create_directories(out);
    fs::create_directories(floorDir);
    std::fprintf(stderr, "extracting %s\n", pk3.c_str());
    if (spawnAndWait({"unzip", "-q", "-o", "-j", pk3, "maps/*.bsp", "-d", maps.string()}).status !=
        0) {
        std::fprintf(stderr, "unzip failed\n");
        fs::remove_all(work);
        return 1;
    }
    std::vector<fs::path> bsps;
    for (const auto &entry : fs::directory_iterator(maps))
        if (entry.path().extension() == ".bsp")
            bsps.push_back(entry.path());
    std::sort(bsps.begin(), bsps.end());

    std::printf("bspc.exe: %s, %d runs each (median time; RSS: the peak of one more run)\n",
                bspc.c_str(), runs);
    std::printf("%-16s %7s %8s %8s %7s %8s %8s %6s %6s\n", "map", "BSP MiB", "ms", "cpu ms",
                "RSS MiB", "floor ms", "flr cpu", "ratio", "cpu r");
    double totalFloor = 0, totalFloorCpu = 0, worst = 0, worstCpu = 0;
    int failures = 0;
    // One map's row: bspc.exe against the floor; the package's maps add to its totals.
    const auto measure = [&](const fs::path &bsp, bool packaged) {
        Series tool, floor;
        const fs::path map = out / (bsp.stem().string() + ".map");
        for (int r = 0; r < runs; ++r) {
            if (!convertInto(bspc, bsp.string(), out, tool)) {
                ++failures;
                break;
            }
            floor.add(floorInChild(bsp, fs::file_size(map), floorDir));
        }
        if (tool.ms.empty())
            return;
        tool.rssMiB = peakRssMiB({bspc, "-bsp2map", bsp.string(), "-output", out.string()});
        const double ms = median(tool.ms), floorMs = median(floor.ms);
        const double cpu = median(tool.cpuMs), floorCpu = median(floor.cpuMs);
        totalFloor += packaged ? floorMs : 0;
        totalFloorCpu += packaged ? floorCpu : 0;
        worst = std::max(worst, ms / floorMs);
        worstCpu = std::max(worstCpu, cpu / floorCpu);
        std::printf("%-16s %7.2f %8.1f %8.1f %7.1f %8.1f %8.1f %6.2f %6.2f\n", bsp.stem().c_str(),
                    fs::file_size(bsp) / 1048576.0, ms, cpu, tool.rssMiB, floorMs, floorCpu,
                    ms / floorMs, cpu / floorCpu);
        std::fflush(stdout);
    };
    for (const fs::path &bsp : bsps)
        measure(bsp, true);

    // The whole package at once, through bspc.exe's own pk3 reading.
    Series whole;
    for (int r = 0; r < runs; ++r) {
        if (!convertInto(bspc, pk3, out, whole)) {
            ++failures;
            break;
        }
    }
    if (!whole.ms.empty()) {
        whole.rssMiB = peakRssMiB({bspc, "-bsp2map", pk3, "-output", out.string()});
        std::printf("%-16s %7s %8.1f %8.1f %7.1f %8.1f %8.1f %6.2f %6.2f\n", "whole pk3", "",
                    median(whole.ms), median(whole.cpuMs), whole.rssMiB, totalFloor, totalFloorCpu,
                    median(whole.ms) / totalFloor, median(whole.cpuMs) / totalFloorCpu);
    }
    // The lobbies of the test maps beside the project, when they are there, then each
    // map again as a Quake BSP2 of its tree and triangles. For those whose brushes are
    // rebuilt from the tree, the memory that takes: the peak over that of converting the
    // smallest such map, whose pages of code and fixed buffers every run has, against
    // the file's size.
    double baseMiB = peakRssMiB({bspc, "--version"}), worstMemory = 0;
    const auto memory = [&](const fs::path &bsp) {
        const double grown =
            peakRssMiB({bspc, "-bsp2map", bsp.string(), "-output", out.string()}) - baseMiB;
        const double times = grown * 1048576 / double(fs::file_size(bsp));
        worstMemory = std::max(worstMemory, times);
        std::printf("%-16s memory over the lobby's: %.1f MiB, %.1f times the file\n", "", grown,
                    times);
    };
    if (const fs::path lobby = TESTMAPS "/q2_mp_lobby.bsp"; fs::exists(lobby))
        measure(lobby, false);
    for (const char *name : {"q1_mp_lobby", "bsp2_mp_lobby"})
        if (const fs::path lobby = fs::path(TESTMAPS) / (std::string(name) + ".bsp");
            fs::exists(lobby)) {
            measure(lobby, false);
            baseMiB = std::max(
                baseMiB, peakRssMiB({bspc, "-bsp2map", lobby.string(), "-output", out.string()}));
        }
    fs::create_directories(work / "quake");
    for (const fs::path &bsp : bsps) {
        const fs::path quake = work / "quake" / (bsp.stem().string() + "_q1.bsp");
        if (!quakeFromQuake3(bsp, quake))
            continue;
        measure(quake, false);
        memory(quake);
    }
    std::printf("rebuilt from the tree: memory over the lobby's at most %.1f times the file's "
                "size (target: under 10)\n",
                worstMemory);
    std::printf("worst ratio per map: %.2f wall, %.2f cpu (target: at most 5)\n", worst, worstCpu);
    sizesRow(bspc, pk3, out, runs);
    fs::remove_all(work);
    return failures == 0 ? 0 : 1;
}
