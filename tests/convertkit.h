// Shared by the converter's tests: running bspc.exe with byte-exact arguments,
// reading its summary line, and files named by bytes.
#pragma once

#include "bspwriter.h"

#include <QRegularExpression>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>

inline QByteArray readAll(const QByteArray &path)
{
    std::ifstream in(path.toStdString(), std::ios::binary);
    return QByteArray::fromStdString({std::istreambuf_iterator<char>(in), {}});
}

inline bool writeFile(const QByteArray &path, const QByteArray &bytes)
{
    std::filesystem::create_directories(std::filesystem::path(path.toStdString()).parent_path());
    return bool(std::ofstream(path.toStdString(), std::ios::binary).write(bytes, bytes.size()));
}

// The sorted names in a folder, as bytes; QDir would decode them.
inline QByteArrayList names(const QByteArray &folder)
{
    QByteArrayList list;
    std::error_code missing;
    for (const auto &entry : std::filesystem::directory_iterator(folder.toStdString(), missing))
        list << QByteArray::fromStdString(entry.path().filename().string());
    std::sort(list.begin(), list.end());
    return list;
}

// A temporary folder that goes with names QTemporaryDir cannot remove when they are not UTF-8.
struct Folder {
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.path());
    ~Folder() { std::filesystem::remove_all(path.toStdString(), ignored); }
    std::error_code ignored;
};

struct Run {
    int exit = -1; // 128 + signal when it crashed
    QByteArray out, err;
};

// Starts the converter, its streams going to the files out and err, its signals as from
// a terminal. When `named`, the kernel refuses it unnamed files (O_TMPFILE) as a
// filesystem without them (FAT, exFAT) does.
inline pid_t start(QByteArrayList args, const QByteArray &out, const QByteArray &err,
                   bool named = false)
{
    args.prepend(qgetenv("BSPC_EXE"));
    std::vector<char *> argv;
    for (QByteArray &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    sock_filter refuse[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_openat, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args) + 16), // the flags
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, O_TMPFILE & ~O_DIRECTORY, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EOPNOTSUPP),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW)};
    const sock_fprog filter{std::size(refuse), refuse};
    sigset_t none;
    sigemptyset(&none);
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    for (const int s : {SIGINT, SIGTERM, SIGHUP})
        signal(s, SIG_DFL);
    const int flags = O_WRONLY | O_CREAT | O_TRUNC;
    if (sigprocmask(SIG_SETMASK, &none, nullptr) == 0 && dup2(open(out, flags, 0600), 1) == 1 &&
        dup2(open(err, flags, 0600), 2) == 2 &&
        (!named || (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
                    prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) == 0)))
        execv(argv[0], argv.data());
    _exit(127);
}

// Runs the converter; its streams go through files so that both can be read whole.
inline Run convert(const QByteArrayList &args)
{
    static QTemporaryDir logs;
    const QByteArray out = QFile::encodeName(logs.filePath("out")),
                     err = QFile::encodeName(logs.filePath("err"));
    Run r;
    int status = 0;
    if (const pid_t pid = start(args, out, err); pid > 0 && waitpid(pid, &status, 0) == pid)
        r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r.out = readAll(out), r.err = readAll(err), r;
}

// The last line, "escrito <file>: N brushes (N detail), N patches, N entidades, [N ..., ]...
// 0,03 s": the file, then the counts.
inline QStringList summary(const QByteArray &out)
{
    static const QRegularExpression line("^escrito (.+): (\\d+) brushes \\((\\d+) detail\\), "
                                         "(\\d+) patches, (\\d+) entidades, (?:\\d+ [^,]+, )*"
                                         "\\d+,\\d+ s$");
    return line.match(QString::fromLatin1(out.trimmed().split('\n').last())).capturedTexts().mid(1);
}

// Converts `file` into `folder` and checks the .map against the BSP; returns its fidelity.
inline check::Fidelity convertAndCheck(const QByteArray &bsp, const QByteArray &file,
                                       const QByteArray &folder, const QByteArray &map)
{
    const Run r = convert({"-bsp2map", file, "-output", folder});
    const check::Parsed<check::Map> rebuilt = check::readMap(readAll(folder + '/' + map));
    check::Fidelity f;
    if (r.exit != 0 || !rebuilt.ok())
        return f.problems << QString("exit %1, map: %2, %3").arg(r.exit).arg(rebuilt.error, r.err),
               f;
    f = check::compare(check::readBsp(bsp), rebuilt.value);
    QStringList expected{QString::fromLatin1(folder + '/' + map)};
    for (const int n : {f.brushesMap, f.detailMap, f.patchesMap, int(rebuilt.value.size())})
        expected << QString::number(n);
    if (summary(r.out) != expected)
        f.problems << "summary line differs: " + r.out;
    return f;
}

// Keeps `bytes` as a starting input for the fuzzer; a large one would slow its every run.
inline void seed(const QByteArray &bytes)
{
    const QByteArray folder = qgetenv("BSP_SEEDS_DIR"),
                     name =
                         QByteArray(QTest::currentTestFunction()) + '-' + QTest::currentDataTag();
    if (!folder.isEmpty() && bytes.size() <= 1 << 16)
        writeFile(folder + '/' + name.toPercentEncoding() + ".bsp", bytes);
}
