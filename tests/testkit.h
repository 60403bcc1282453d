// Shared by the tests: a program folder holding the stub as bspc.exe, with the
// records each start of it leaves there.
#pragma once

#include "core.h"

#include <QtTest>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

struct StubRecord {
    QByteArray exe, cwd, fds, env;
    qint64 pid = 0;
    QList<QByteArray> argv;
};

// std::filesystem takes names as bytes, so these need not be UTF-8.
class StubFolder {
public:
    // `subfolder` of a temporary directory is the program folder; empty: the directory itself.
    explicit StubFolder(const QByteArray &subfolder = {})
        : bytes(core::encodeName(root.path()) + (subfolder.isEmpty() ? "" : '/' + subfolder))
    {
        fs::create_directory(bytes.toStdString());
        fs::copy_file(qgetenv("STUB_BSPC").toStdString(), tool().toStdString());
    }
    ~StubFolder() { fs::remove_all(bytes.toStdString(), ignored); }

    QString folder() const { return core::decodeName(bytes); }
    QByteArray tool() const { return bytes + "/bspc.exe"; }

    QList<StubRecord> records() const
    {
        QList<StubRecord> result;
        for (const fs::path &file : fs::directory_iterator(bytes.toStdString())) {
            const QByteArray name = QByteArray::fromStdString(file.filename().string());
            if (!name.startsWith("bspc-") || !name.endsWith(".rec"))
                continue;
            std::ifstream in(file, std::ios::binary);
            const auto f =
                QByteArray::fromStdString({std::istreambuf_iterator<char>(in), {}}).split('\0');
            result.append({f.value(0), f.value(1), f.value(2), f.value(3),
                           name.mid(5, name.size() - 9).toLongLong(),
                           f.mid(6, f.value(5).toInt())});
        }
        return result;
    }

    // The tool runs on its own, so give it time.
    bool waitForRecords(int count) const
    {
        return QTest::qWaitFor([&] { return records().size() >= count; }, 10000);
    }

    QTemporaryDir root;
    QByteArray bytes;
    std::error_code ignored; // removal is best effort
};
