#include "conversao.h"

#include "ui.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTextBlock>
#include <QTimer>
#include <QUrl>

namespace {

// In double quotes, so that blanks and empty arguments show; quotes,
// backslashes and control characters inside are escaped as in C.
QString quoted(const QString &piece)
{
    QString text;
    for (const QChar c : piece) {
        const char16_t u = c.unicode();
        if (u == u'"' || u == u'\\')
            text += QLatin1Char('\\') + c;
        else if (u == u'\n')
            text += QLatin1String("\\n");
        else if (u == u'\t')
            text += QLatin1String("\\t");
        else if (u < 0x20 || u == 0x7f)
            text += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        else
            text += c;
    }
    return QLatin1Char('"') + core::displayName(text) + QLatin1Char('"');
}

// Numbers as a Brazilian reader writes them: "16.941", "0,4".
const QLocale &brazil()
{
    static const QLocale locale(QLocale::Portuguese, QLocale::Brazil);
    return locale;
}

QString seconds(qint64 ns)
{
    return brazil().toString(double(ns) / 1e9, 'f', 1);
}

// Rounded to the nearest KB, halves up; a file that holds anything shows at least 1 KB.
qint64 kilobytes(qint64 bytes)
{
    return bytes == 0 ? 0 : qMax<qint64>(1, (bytes + 512) / 1024);
}

QString counted(qsizetype n, const char *one, const char *many)
{
    return brazil().toString(qint64(n)) + QLatin1Char(' ') + QString::fromUtf8(n == 1 ? one : many);
}

QString resultText(const core::ToolExit &exit, const core::MapFiles &maps)
{
    const QString tool = QString::fromLatin1(core::toolName);
    if (exit.bySignal)
        return QStringLiteral("%1 foi encerrado pelo sinal %2 (%3)")
            .arg(tool, QString::number(exit.code), core::signalName(exit.code));
    const QList<core::WrittenMap> written = maps.written();
    const QString folder = core::displayName(maps.folder()), code = QString::number(exit.code);
    // A pk3 whose maps partly failed: what was written, and what was not.
    if (maps.package() && !written.isEmpty()) {
        const QString done =
            counted(written.size(), "mapa", "mapas") + QStringLiteral(" em ") + folder;
        const qsizetype failed = maps.expected().size() - written.size();
        if (exit.code == 0)
            return QStringLiteral("Concluído em %1 s: %2").arg(seconds(exit.elapsedNs), done);
        if (failed > 0)
            return QStringLiteral("%1; %2 (código %3)")
                .arg(done, counted(failed, "não convertido", "não convertidos"), code);
    }
    if (exit.code != 0)
        return QStringLiteral("%1 terminou com o código %2").arg(tool, code);
    if (maps.package() || maps.expected().isEmpty())
        return QStringLiteral("%1 terminou sem escrever mapas em %2").arg(tool, folder);
    const QString map = core::displayName(maps.expected().first());
    if (written.isEmpty())
        return QStringLiteral("%1 terminou sem escrever %2").arg(tool, map);
    return QStringLiteral("Concluído em %1 s: %2 (%3 KB)")
        .arg(seconds(exit.elapsedNs), map, brazil().toString(kilobytes(written.first().size)));
}

// A label without a name of its own is read by its text, and Qt tells a
// screen reader of each new one; the description says what the line is.
QLabel *makeLine(QWidget *parent, const char *name, const QString &text, const QString &role)
{
    auto *line = new QLabel(text, parent);
    line->setObjectName(QLatin1String(name));
    line->setAccessibleDescription(role);
    line->setTextFormat(Qt::PlainText);
    line->setWordWrap(true);
    line->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // However long the paths, the window keeps its width.
    line->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return line;
}

QPushButton *makeButton(QWidget *parent, const char *name, const QString &text)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setAccessibleName(text);
    button->setAutoDefault(false);
    return button;
}

} // namespace

Conversao *Conversao::open(const core::Conversion &conversion)
{
    auto *window = new Conversao(conversion);
    window->show();
    // Now that a window manager may have framed it.
    window->fitScreen();
    window->raise();
    window->activateWindow();
    return window;
}

Conversao::Conversao(const core::Conversion &conversion)
    : maps(conversion.maps)
{
    setObjectName(QStringLiteral("Conversao"));
    setAttribute(Qt::WA_DeleteOnClose);
    // Two windows of one map are told apart by a number.
    const QString title = QStringLiteral("Descompilando %1").arg(core::displayName(maps.name()));
    QStringList taken;
    for (QWidget *other : QApplication::topLevelWidgets())
        if (qobject_cast<Conversao *>(other) && other->isVisible())
            taken.append(other->windowTitle());
    QString unique = title;
    for (int n = 2; taken.contains(unique); ++n)
        unique = QStringLiteral("%1 (%2)").arg(title).arg(n);
    setWindowTitle(unique);
    setAccessibleName(windowTitle());

    QStringList pieces{quoted(conversion.program)};
    for (const QString &argument : conversion.arguments)
        pieces.append(quoted(argument));
    commandLine = makeLine(this, "commandLine", pieces.join(QLatin1Char(' ')),
                           QStringLiteral("Comando iniciado"));

    outputView = new QPlainTextEdit(this);
    outputView->setObjectName(QStringLiteral("outputView"));
    outputView->setAccessibleName(QStringLiteral("Saída do %1").arg(QLatin1String(core::toolName)));
    outputView->setReadOnly(true);
    outputView->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    outputView->setTabChangesFocus(true);
    outputView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    outputView->setMaximumBlockCount(maxLines);

    resultLine = makeLine(this, "resultLine",
                          QStringLiteral("%1 em execução…").arg(QLatin1String(core::toolName)),
                          QStringLiteral("Resultado"));
    openFolderButton = makeButton(this, "openFolderButton", QStringLiteral("Abrir pasta"));
    openFolderButton->hide();
    connect(openFolderButton, &QPushButton::clicked, this, &Conversao::openFolder);
    closeButton = makeButton(this, "closeButton", QStringLiteral("Fechar"));
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(resultLine, 1);
    bottom->addWidget(openFolderButton);
    bottom->addWidget(closeButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(commandLine);
    layout->addWidget(outputView, 1);
    layout->addLayout(bottom);
    setTabOrder(outputView, openFolderButton);
    setTabOrder(openFolderButton, closeButton);
    // About 90 columns wide and 30 lines high, where the screen has the room.
    const QFontMetrics metrics(outputView->font());
    resize(metrics.horizontalAdvance(QLatin1Char('x')) * 90, metrics.lineSpacing() * 30);
    fitScreen();
    outputView->setFocus();

    // Shown a few times a second rather than for every read: a flood of
    // output then costs the window little.
    showTimer = new QTimer(this);
    showTimer->setSingleShot(true);
    showTimer->setInterval(50);
    connect(showTimer, &QTimer::timeout, this, &Conversao::showOutput);
    QScrollBar *bar = outputView->verticalScrollBar();
    connect(bar, &QScrollBar::rangeChanged, this, &Conversao::followEnd);
    // Also the moves that the view makes with its scroll bar's signals blocked.
    connect(outputView, &QPlainTextEdit::updateRequest, this, &Conversao::holdOrFollow);
    connect(conversion.run, &core::ToolRun::output, this, &Conversao::takeOutput);
    connect(conversion.run, &core::ToolRun::finished, this, &Conversao::showResult);
}

void Conversao::fitScreen()
{
    // The frame is known once a window manager has put one on; until then the
    // style's title bar stands in for it.
    QSize frame = frameGeometry().size() - size();
    if (frame.isNull())
        frame = QSize(0, style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this));
    const QSize room = screen()->availableGeometry().size() - frame;
    if (width() > room.width() || height() > room.height())
        resize(size().boundedTo(room).expandedTo(minimumSizeHint()));
}

Conversao::~Conversao()
{
    // The view and its scroll bar go after this part of the window, and signal
    // on their way out; nothing here may answer them any more.
    outputView->disconnect(this);
    outputView->verticalScrollBar()->disconnect(this);
}

void Conversao::keyPressEvent(QKeyEvent *event)
{
    // Nothing here takes input, so Escape can close.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier)
        close();
    else
        QWidget::keyPressEvent(event);
}

void Conversao::takeOutput(const QByteArray &bytes)
{
    append(QString(decoder.decode(bytes)));
    if (pendingBreaks >= maxLines) {
        // Only lines still to come stay: the view goes, and so do the oldest of them.
        qsizetype cut = -1;
        for (qsizetype drop = pendingBreaks - maxLines + 1; drop > 0; --drop)
            cut = pending.indexOf(QLatin1Char('\n'), cut + 1);
        pending.remove(0, cut + 1);
        pendingBreaks = maxLines - 1;
        clearView = true;
    }
    if (!showTimer->isActive())
        showTimer->start();
}

void Conversao::append(QStringView text)
{
    for (const QChar c : text) {
        // "\r\n" ends a line once; a lone "\r" ends it too.
        if (carriageReturn || c == u'\n')
            breakLine();
        carriageReturn = c == u'\r';
        if (c == u'\n' || c == u'\r')
            continue;
        if (heldBreak || lineLength == maxLineLength) {
            pending += QLatin1Char('\n');
            ++pendingBreaks;
            heldBreak = false;
            lineLength = 0;
        }
        pending += c;
        ++lineLength;
    }
}

void Conversao::breakLine()
{
    if (heldBreak) {
        pending += QLatin1Char('\n');
        ++pendingBreaks;
    }
    heldBreak = true;
    lineLength = 0;
}

void Conversao::showOutput()
{
    if (pending.isEmpty() && !clearView)
        return;
    // While the user looks further up, output that would drop lines above
    // the view waits until they are back at the end.
    if (held && (clearView || outputView->blockCount() + pendingBreaks > maxLines))
        return;
    showing = true;
    if (clearView)
        outputView->clear();
    QTextCursor end(outputView->document());
    end.movePosition(QTextCursor::End);
    end.insertText(pending);
    pending.clear();
    pendingBreaks = 0;
    clearView = false;
    QScrollBar *bar = outputView->verticalScrollBar();
    if (!held)
        bar->setValue(bar->maximum());
    showing = false;
    shownEnd = bar->maximum();
}

void Conversao::followEnd(int, int maximum)
{
    QScrollBar *bar = outputView->verticalScrollBar();
    moving = true;
    // Long lines are measured only as they are laid out, which renumbers the
    // lines: a held view keeps its top line. Else the view follows the end
    // when it grows or shrinks, as the result line takes a second line; not
    // while output goes in, which moves it by itself.
    if (held)
        bar->setValue(qMin(heldTop.block().firstLineNumber() + heldLine, maximum));
    else if (!showing && bar->value() == shownEnd)
        bar->setValue(maximum);
    moving = false;
    shownEnd = maximum;
}

void Conversao::holdOrFollow(const QRect &, int scrolled)
{
    if (showing || moving || scrolled == 0)
        return;
    // The user scrolled: away from the end the view holds its lines; back at
    // the end, what waited is shown and the view follows again. The end is
    // where the last line shows, which the scroll bar's measure of lines not
    // yet laid out may put a line away from its maximum.
    QTextCursor end(outputView->document());
    end.movePosition(QTextCursor::End);
    held = outputView->cursorRect(end).bottom() > outputView->viewport()->height();
    if (!held) {
        showTimer->start();
        return;
    }
    const int value = outputView->verticalScrollBar()->value();
    const QTextBlock top = outputView->document()->findBlockByLineNumber(value);
    heldTop = QTextCursor(top);
    heldLine = value - top.firstLineNumber();
}

void Conversao::showResult(const core::ToolExit &exit)
{
    showTimer->stop();
    showOutput();
    resultLine->setText(resultText(exit, maps));
    openFolderButton->show();
}

void Conversao::openFolder()
{
    if (!QDesktopServices::openUrl(core::fileUrl(maps.folder())))
        ui::showError(this, QStringLiteral("Não foi possível abrir a pasta %1")
                                .arg(core::displayName(maps.folder())));
}
