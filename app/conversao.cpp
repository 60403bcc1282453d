#include "conversao.h"

#include "ui.h"

#include <QDesktopServices>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QUrl>

namespace {

// In double quotes, so that blanks and empty arguments show; quotes,
// backslashes and control characters inside are escaped as in C.
QString quoted(const QString &piece)
{
    QString text(QLatin1Char('"'));
    for (const QChar c : core::displayName(piece)) {
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
    return text + QLatin1Char('"');
}

QString seconds(qint64 ns)
{
    return QString::number(double(ns) / 1e9, 'f', 1).replace(QLatin1Char('.'), QLatin1Char(','));
}

// Rounded to the nearest KB, halves up; a file that holds anything shows at least 1 KB.
qint64 kilobytes(qint64 bytes)
{
    return bytes == 0 ? 0 : qMax<qint64>(1, (bytes + 512) / 1024);
}

QString resultText(const core::ToolExit &exit, const core::MapFiles &maps)
{
    const QString tool = QString::fromLatin1(core::toolName);
    if (exit.bySignal)
        return QStringLiteral("%1 foi encerrado pelo sinal %2 (%3)")
            .arg(tool, QString::number(exit.code), core::signalName(exit.code));
    if (exit.code != 0)
        return QStringLiteral("%1 terminou com o código %2").arg(tool, QString::number(exit.code));
    const QList<core::WrittenMap> written = maps.written();
    const QString time = seconds(exit.elapsedNs);
    if (maps.expected().isEmpty()) {
        const QString folder = core::displayName(maps.folder());
        if (written.isEmpty())
            return QStringLiteral("%1 terminou sem escrever mapas em %2").arg(tool, folder);
        const qsizetype count = written.size();
        return QStringLiteral("Concluído em %1 s: %2 %3 em %4")
            .arg(time, QString::number(count),
                 count == 1 ? QStringLiteral("mapa") : QStringLiteral("mapas"), folder);
    }
    const QString map = core::displayName(maps.expected());
    if (written.isEmpty())
        return QStringLiteral("%1 terminou sem escrever %2").arg(tool, map);
    return QStringLiteral("Concluído em %1 s: %2 (%3 KB)")
        .arg(time, map, QString::number(kilobytes(written.first().size)));
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
    window->raise();
    window->activateWindow();
    return window;
}

Conversao::Conversao(const core::Conversion &conversion)
    : maps(conversion.maps)
{
    setObjectName(QStringLiteral("Conversao"));
    setAttribute(Qt::WA_DeleteOnClose);
    const QString bsp = conversion.bspFile;
    const QString name = bsp.mid(bsp.lastIndexOf(QLatin1Char('/')) + 1);
    setWindowTitle(QStringLiteral("Descompilando %1").arg(core::displayName(name)));
    setAccessibleName(windowTitle());

    QStringList pieces{quoted(conversion.program)};
    for (const QString &argument : conversion.arguments)
        pieces.append(quoted(argument));
    commandLine = new QLabel(pieces.join(QLatin1Char(' ')), this);
    commandLine->setObjectName(QStringLiteral("commandLine"));
    commandLine->setAccessibleName(QStringLiteral("Comando iniciado"));
    commandLine->setTextFormat(Qt::PlainText);
    commandLine->setWordWrap(true);
    commandLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // However long the paths, the window keeps its width.
    commandLine->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    outputView = new QPlainTextEdit(this);
    outputView->setObjectName(QStringLiteral("outputView"));
    outputView->setAccessibleName(QStringLiteral("Saída do %1").arg(QLatin1String(core::toolName)));
    outputView->setReadOnly(true);
    outputView->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    outputView->setTabChangesFocus(true);
    outputView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    outputView->setMaximumBlockCount(maxLines);

    resultLine =
        new QLabel(QStringLiteral("%1 em execução…").arg(QLatin1String(core::toolName)), this);
    resultLine->setObjectName(QStringLiteral("resultLine"));
    resultLine->setAccessibleName(QStringLiteral("Resultado"));
    resultLine->setTextFormat(Qt::PlainText);
    resultLine->setWordWrap(true);
    resultLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    resultLine->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
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
    // About 90 columns wide and 30 lines high.
    const QFontMetrics metrics(outputView->font());
    resize(metrics.horizontalAdvance(QLatin1Char('x')) * 90, metrics.lineSpacing() * 30);
    outputView->setFocus();

    // Shown a few times a second rather than for every read: a flood of
    // output then costs the window little.
    showTimer = new QTimer(this);
    showTimer->setSingleShot(true);
    showTimer->setInterval(50);
    connect(showTimer, &QTimer::timeout, this, &Conversao::showOutput);
    connect(outputView->verticalScrollBar(), &QScrollBar::rangeChanged, this,
            &Conversao::followEnd);
    connect(conversion.run, &core::ToolRun::output, this, &Conversao::takeOutput);
    connect(conversion.run, &core::ToolRun::finished, this, &Conversao::showResult);
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
    QScrollBar *bar = outputView->verticalScrollBar();
    // The view follows the end until the user scrolls away from it.
    const bool following = bar->value() == bar->maximum();
    showing = true;
    if (clearView)
        outputView->clear();
    QTextCursor end(outputView->document());
    end.movePosition(QTextCursor::End);
    end.insertText(pending);
    showing = false;
    pending.clear();
    pendingBreaks = 0;
    clearView = false;
    if (following)
        bar->setValue(bar->maximum());
    shownEnd = bar->maximum();
}

void Conversao::followEnd(int, int maximum)
{
    // The view also follows when it grows or shrinks, as the result line
    // takes a second line; not while output goes in, which moves it by itself.
    if (!showing && outputView->verticalScrollBar()->value() == shownEnd)
        outputView->verticalScrollBar()->setValue(maximum);
    shownEnd = maximum;
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
