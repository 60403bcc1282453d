// Shared by the converter's tests: running bspc.exe with byte-exact arguments,
// reading its summary line, and files named by bytes.
#pragma once

#include "bspwriter.h"

#include <QRegularExpression>
#include <QtTest>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <unistd.h>
#include <sys/resource.h>
#include <sys/wait.h>

struct Run {
    int exit = -1; // 128 + signal when it crashed
    QByteArray out, err;
    long peakKb = 0; // its resident memory at the most
};

inline QByteArray readAll(const QByteArray &path)
{
    std::ifstream in(path.toStdString(), std::ios::binary);
    return QByteArray::fromStdString({std::istreambuf_iterator<char>(in), {}});
}

inline bool writeFile(const QByteArray &path, const QByteArray &bytes)
{
    std::ofstream out(path.toStdString(), std::ios::binary);
    return bool(out.write(bytes.constData(), bytes.size()));
}

// The sorted names in a folder, as bytes; QProcess and QDir would decode them.
inline QByteArrayList names(const QByteArray &folder)
{
    QByteArrayList list;
    std::error_code ignored; // a missing folder lists nothing
    for (const auto &entry : std::filesystem::directory_iterator(folder.toStdString(), ignored))
        list << QByteArray::fromStdString(entry.path().filename().string());
    std::sort(list.begin(), list.end());
    return list;
}

// A temporary folder named by bytes; it goes with whatever names it holds,
// which QTemporaryDir cannot remove when they are not UTF-8.
struct Folder {
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.path());
    ~Folder() { std::filesystem::remove_all(path.toStdString(), ignored); }
    std::error_code ignored; // removal is best effort
};

// Runs the converter; its streams go through files so that both can be read whole.
inline Run convert(const QByteArrayList &args)
{
    static QTemporaryDir logs;
    QByteArrayList all = QByteArrayList{qgetenv("BSPC_EXE")} + args;
    std::vector<char *> argv;
    for (QByteArray &a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const QByteArray out = QFile::encodeName(logs.path()) + "/out", err = QFile::encodeName(logs.path()) + "/err";
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&files, 2, err.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    Run r;
    pid_t pid = 0;
    int status = 0;
    rusage usage{};
    if (posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ) == 0 &&
        wait4(pid, &status, 0, &usage) == pid) {
        r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        r.peakKb = usage.ru_maxrss;
    }
    posix_spawn_file_actions_destroy(&files);
    r.out = readAll(out);
    r.err = readAll(err);
    return r;
}

// The last line: "escrito <file>: N brushes, N patches, N entidades, [N ..., ]0,03 s".
struct Summary {
    QByteArray file;
    int brushes = -1, patches = -1, entities = -1;
};

inline Summary summary(const QByteArray &out)
{
    static const QRegularExpression line(
        "^escrito (.+): (\\d+) brushes, (\\d+) patches, (\\d+) entidades, (?:\\d+ [^,]+, )?\\d+,\\d+ s$");
    const auto m = line.match(QString::fromLatin1(out.trimmed().split('\n').last()));
    if (!m.hasMatch())
        return {};
    return {m.captured(1).toLatin1(), m.captured(2).toInt(), m.captured(3).toInt(), m.captured(4).toInt()};
}

// Converts `file` into `folder` and checks the .map against the BSP; returns its fidelity.
inline check::Fidelity convertAndCheck(const QByteArray &bsp, const QByteArray &file, const QByteArray &folder,
                                       const QByteArray &map, const QByteArrayList &options = {})
{
    const Run r = convert(QByteArrayList{"-bsp2map", file, "-output", folder} + options);
    check::Fidelity f;
    const Summary s = summary(r.out);
    const check::Parsed<check::Bsp> source = check::readBsp(bsp);
    const check::Parsed<check::Map> rebuilt = check::readMap(readAll(folder + '/' + map));
    if (r.exit != 0 || !source.ok() || !rebuilt.ok()) {
        f.problems << QString("exit %1, BSP: %2, map: %3, %4")
                          .arg(r.exit)
                          .arg(source.error, rebuilt.error, QString::fromLocal8Bit(r.err));
        return f;
    }
    f = check::compare(source.value, rebuilt.value, options.contains("classic"));
    if (s.file != folder + '/' + map || s.brushes != f.brushesMap || s.patches != f.patchesMap ||
        s.entities != int(rebuilt.value.size()))
        f.problems << "summary line differs: " + QString::fromLocal8Bit(r.out.trimmed().split('\n').last());
    return f;
}

// Keeps `bytes` as a starting input for the fuzzer.
inline void seed(const QByteArray &bytes)
{
    const QByteArray folder = qgetenv("BSP_SEEDS_DIR");
    if (folder.isEmpty())
        return;
    std::filesystem::create_directories(folder.toStdString());
    const QByteArray name = QByteArray(QTest::currentTestFunction()) + '-' + QTest::currentDataTag();
    writeFile(folder + '/' + name.toPercentEncoding() + ".bsp", bytes);
}
