#pragma once

#include "core.h"

#include <QElapsedTimer>
#include <QObject>

class QSocketNotifier;
class QTimer;

namespace core {

// A started tool, watched from the event loop until it exits: its standard
// output and error as they arrive, then how it ended. The run belongs to the
// application, not to a window, and deletes itself once the tool has exited,
// so that closing a window never stops, blocks or kills a tool.
class ToolRun : public QObject {
    Q_OBJECT

public:
    // Starts `program` (an exact path: no PATH search, no shell) with
    // `arguments`. The tool gets the working directory, the environment as the
    // program received it and only the standard streams, with SIGPIPE ignored:
    // it may outlive us and write to a pipe that nobody reads any more.
    static Result<ToolRun *> start(const QString &program, const QStringList &arguments);
    // Closes our ends without touching the tool; one that still runs goes on alone.
    ~ToolRun() override;

    qint64 pid() const { return childPid; }

signals:
    // Standard output and error, merged in the order they arrive.
    void output(const QByteArray &bytes);
    // Sent once; everything the tool wrote before its exit came first.
    void finished(const core::ToolExit &exit);

private slots:
    void readOutput();
    void collectExit();

private:
    ToolRun(qint64 pid, int outputFd);
    // Reads once what the pipe holds and passes it on; 0 when nothing was there.
    qsizetype readSome();
    void closeOutput();

    qint64 childPid;
    int outputFd;
    int exitFd = -1;
    QElapsedTimer clock;
    QSocketNotifier *outputNotifier = nullptr;
    QSocketNotifier *exitNotifier = nullptr;
    QTimer *exitPoll = nullptr;
};

} // namespace core
