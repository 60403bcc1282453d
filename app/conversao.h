#pragma once

#include "launch.h"

#include <QStringDecoder>
#include <QTextCursor>
#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;

// The window of one started conversion: the command as started, the tool's
// output as it arrives and, once the tool has ended, what became of the map.
// Closing it leaves the tool alone; it runs on, watched by its ToolRun.
class Conversao : public QWidget {
    Q_OBJECT

public:
    // Opens a window for `conversion` and gives it the focus.
    static Conversao *open(const core::Conversion &conversion);
    ~Conversao() override;

    // The lines kept, and the longest line before it is broken: a tool that
    // prints gigabytes costs no more than this.
    static constexpr int maxLines = 10000;
    static constexpr qsizetype maxLineLength = 1024;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private slots:
    void takeOutput(const QByteArray &bytes);
    void showOutput();
    void followEnd(int minimum, int maximum);
    void holdOrFollow(const QRect &area, int scrolled);
    void showResult(const core::ToolExit &exit);
    void openFolder();

private:
    explicit Conversao(const core::Conversion &conversion);
    // The designed size where the screen has room for it, frame included;
    // else what room there is.
    void fitScreen();
    void append(QStringView text);
    void breakLine();

    core::MapFiles maps;
    QStringDecoder decoder{QStringDecoder::Utf8};
    // Output not shown yet, while the timer runs or the user looks further up.
    // When it holds more lines than are kept, what the view shows is dropped
    // with the oldest of it.
    QString pending;
    qsizetype pendingBreaks = 0;
    bool clearView = false;
    // A line break is shown only once the next line starts, so that the view
    // never ends in an empty line.
    bool heldBreak = false;
    bool carriageReturn = false;
    qsizetype lineLength = 0;
    QTimer *showTimer;
    bool showing = false;
    int shownEnd = 0; // where the end of the output was when last seen
    // Scrolled up by the user: the line at the top of the view, and which of
    // its lines when it wraps.
    bool held = false;
    QTextCursor heldTop;
    int heldLine = 0;
    bool moving = false; // the view is moved here, not by the user

    QLabel *commandLine;
    QPlainTextEdit *outputView;
    QLabel *resultLine;
    QPushButton *openFolderButton;
    QPushButton *closeButton;
};
