// A temporary program folder holding the stub as bspc.exe, and the records
// that each start of it leaves there.
#pragma once

#include "ui_runtime.h"

#include <QFile>
#include <QList>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <dirent.h>
#include <sys/stat.h>

struct StubRecord {
    QByteArray exe;
    QByteArray cwd;
    QByteArray fds;
    QByteArray platformEnv;
    QList<QByteArray> argv;
    qint64 pid = 0;
};

class StubFolder {
public:
    // `subfolder` is the program folder's name inside a temporary directory,
    // as raw bytes so that any name can be tried; empty uses the directory itself.
    explicit StubFolder(const QByteArray &subfolder = {}, bool executable = true)
    {
        const QByteArray base = ui::encodeName(root.path());
        folderBytes = subfolder.isEmpty() ? base : base + '/' + subfolder;
        if (!subfolder.isEmpty())
            ::mkdir(folderBytes.constData(), 0755);
        QFile stub(QString::fromLocal8Bit(qgetenv("STUB_BSPC")));
        if (stub.open(QIODevice::ReadOnly))
            writeRaw(toolBytes(), stub.readAll());
        ::chmod(toolBytes().constData(), executable ? 0755 : 0644);
    }

    // Plain POSIX calls, since the folder's name need not be UTF-8.
    static void writeRaw(const QByteArray &path, const QByteArray &content)
    {
        if (FILE *out = std::fopen(path.constData(), "wb")) {
            std::fwrite(content.constData(), 1, size_t(content.size()), out);
            std::fclose(out);
        }
    }

    static QByteArray readRaw(const QByteArray &path)
    {
        QByteArray content;
        if (FILE *in = std::fopen(path.constData(), "rb")) {
            char buffer[65536];
            size_t n;
            while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
                content.append(buffer, qsizetype(n));
            std::fclose(in);
        }
        return content;
    }

    ~StubFolder()
    {
        // QTemporaryDir cannot see names that are not UTF-8; empty the folder here.
        if (DIR *dir = opendir(folderBytes.constData())) {
            while (const dirent *ent = readdir(dir))
                ::unlink((folderBytes + '/' + ent->d_name).constData());
            closedir(dir);
        }
        ::rmdir(folderBytes.constData());
    }

    QString folder() const { return ui::decodeName(folderBytes); }
    QByteArray folderBytesRaw() const { return folderBytes; }
    QByteArray toolBytes() const { return folderBytes + "/bspc.exe"; }

    QList<StubRecord> records() const
    {
        QList<StubRecord> result;
        DIR *dir = opendir(folderBytes.constData());
        if (!dir)
            return result;
        while (const dirent *ent = readdir(dir)) {
            const QByteArray name(ent->d_name);
            if (!name.startsWith("bspc-") || !name.endsWith(".rec"))
                continue;
            const QList<QByteArray> f = readRaw(folderBytes + '/' + name).split('\0');
            StubRecord r;
            r.exe = f.value(1);
            r.cwd = f.value(3);
            r.fds = f.value(5);
            r.platformEnv = f.value(7);
            const int argc = f.value(9).toInt();
            r.argv = f.mid(10, argc);
            r.pid = name.mid(5, name.size() - 9).toLongLong();
            result.append(r);
        }
        closedir(dir);
        return result;
    }

    // Waits for `count` records; the tool runs on its own, so give it time.
    bool waitForRecords(int count, int timeoutMs = 10000) const
    {
        return QTest::qWaitFor([&] { return records().size() >= count; }, timeoutMs);
    }

private:
    QTemporaryDir root;
    QByteArray folderBytes;
};

inline QList<QByteArray> encodedArgs(const QStringList &args)
{
    QList<QByteArray> out;
    for (const QString &a : args)
        out.append(ui::encodeName(a));
    return out;
}

// Types text as key presses carrying that text, which works for any
// character (QTest::keyClicks takes Latin-1 only).
inline void typeText(QWidget *widget, const QString &text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}
