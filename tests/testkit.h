// Shared by the tests: a program folder holding the stub as bspc.exe with the
// records each start of it leaves there, typing, and answering message boxes.
#pragma once

#include "core.h"
#include "ui.h"

#include <QApplication>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

struct StubRecord {
    QByteArray exe, cwd, fds, env;
    QList<QByteArray> argv;
    qint64 pid = 0;
};

// std::filesystem takes names as bytes, so these need not be UTF-8.
class StubFolder {
public:
    // `subfolder`, inside a temporary directory, is the program folder; empty
    // uses the directory itself.
    explicit StubFolder(const QByteArray &subfolder = {}, fs::perms mode = fs::perms(0755))
        : bytes(core::encodeName(root.path()) +
                (subfolder.isEmpty() ? QByteArray() : '/' + subfolder))
    {
        fs::create_directory(bytes.toStdString());
        fs::copy_file(qgetenv("STUB_BSPC").toStdString(), tool().toStdString());
        fs::permissions(tool().toStdString(), mode);
    }

    ~StubFolder() { fs::remove_all(bytes.toStdString(), ignored); }

    QString folder() const { return core::decodeName(bytes); }
    QByteArray tool() const { return bytes + "/bspc.exe"; }

    // Fields as stub_bspc writes them: exe, cwd, fds and env name/value pairs, then argv.
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
            result.append({f.value(1), f.value(3), f.value(5), f.value(7),
                           f.mid(10, f.value(9).toInt()),
                           name.mid(5, name.size() - 9).toLongLong()});
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

// One column of a list's model, e.g. the exact names (Qt::UserRole) rather than those shown.
inline QStringList column(const QAbstractItemModel *model, int role = Qt::DisplayRole)
{
    QStringList values;
    for (int row = 0; row < model->rowCount(); ++row)
        values.append(model->index(row, 0).data(role).toString());
    return values;
}

// Key presses carrying the text, which works for any character (keyClicks takes Latin-1 only).
inline void typeText(QWidget *widget, const QString &text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// Answers every message box that opens while it lives. `seen` holds the text of
// each; one that is not the error box (title "Ops!", critical icon, only OK) is marked.
struct BoxWatcher {
    QStringList seen;
    QTimer timer;

    BoxWatcher()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                const bool ops = box->windowTitle() == "Ops!" &&
                                 box->icon() == QMessageBox::Critical &&
                                 box->standardButtons() == QMessageBox::Ok;
                seen << (ops ? "" : "not the error box: ") + box->text();
                box->reject();
            }
        });
        timer.start(10);
    }
};
