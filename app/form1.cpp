#include "form1.h"

#include "abrir.h"
#include "conversao.h"
#include "core.h"
#include "launch.h"
#include "ui.h"

#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSet>
#include <QUrl>

namespace {

// The main window's captions are drawn in the highlight colour.
QLabel *makeCaption(QWidget *parent, const char *name, const QString &text, int left, int top,
                    int width, int height)
{
    auto *label = ui::makeLabel(parent, name, text, left, top, width, height);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Highlight));
    label->setPalette(palette);
    return label;
}

} // namespace

Form1::Form1(const QString &programFolder, QWidget *parent)
    : QWidget(parent)
    , programFolder(programFolder.isEmpty() ? core::programFolder() : programFolder)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Quelm BSP to MAP"));
    ui::resizeTwips(this, 5160, 2310);

    // Created in tab order; no layout, so nothing moves when the window does.
    txtBSP = ui::makeField(this, "txtBSP", 120, 600, 4575, 315);
    Command1 = ui::makeButton(this, "Command1", QStringLiteral("..."), 4800, 600, 255, 315);
    connect(Command1, &QPushButton::clicked, this, [this] { openChooser(QStringLiteral("BSP")); });
    txtMAP = ui::makeField(this, "txtMAP", 120, 1320, 4575, 315);
    Command2 = ui::makeButton(this, "Command2", QStringLiteral("..."), 4800, 1320, 255, 315);
    connect(Command2, &QPushButton::clicked, this, [this] { openChooser(QStringLiteral("MAP")); });
    Label1 =
        makeCaption(this, "Label1", QStringLiteral("Selecione arquivo BSP"), 180, 300, 1995, 255);
    Label2 = makeCaption(this, "Label2", QStringLiteral("Selecione o diretório destino"), 180, 1020,
                         3195, 255);
    txtOperacao = ui::makeField(this, "txtOperacao", 120, 1800, 1035, 285);
    txtOperacao->hide();
    Command3 =
        ui::makeButton(this, "Command3", QStringLiteral("Descompilar"), 1740, 1740, 1395, 495);
    connect(Command3, &QPushButton::clicked, this, &Form1::decompile);

    // Names for screen readers: a field is named by the label above it.
    txtBSP->setAccessibleName(Label1->text());
    txtMAP->setAccessibleName(Label2->text());
    Label1->setBuddy(txtBSP);
    Label2->setBuddy(txtMAP);
    txtOperacao->setAccessibleName(QStringLiteral("Modo do seletor"));
    Command1->setAccessibleName(QStringLiteral("Escolher arquivo BSP"));
    Command1->setToolTip(Command1->accessibleName());
    Command2->setAccessibleName(QStringLiteral("Escolher diretório destino"));
    Command2->setToolTip(Command2->accessibleName());
    Command3->setAccessibleName(Command3->text());
    for (QLabel *label : {Label1, Label2})
        label->setAccessibleName(label->text());

    // Files and folders dropped from a file manager, on the window or a field.
    setAcceptDrops(true);
    txtBSP->installEventFilter(this);
    txtMAP->installEventFilter(this);

    setTabOrder(txtBSP, Command1);
    setTabOrder(Command1, txtMAP);
    setTabOrder(txtMAP, Command2);
    setTabOrder(Command2, Command3);
    txtBSP->setFocus();
}

void Form1::openChooser(const QString &mode)
{
    // The chooser reads the mode as it loads, so it is written first.
    txtOperacao->setText(mode);
    Abrir chooser(txtOperacao, this);
    connect(&chooser, &Abrir::bspFileChosen, txtBSP, &QLineEdit::setText);
    connect(&chooser, &Abrir::outputFolderChosen, txtMAP, &QLineEdit::setText);
    chooser.exec();
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if ((watched == txtBSP || watched == txtMAP) &&
        (type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop)) {
        auto *drop = static_cast<QDropEvent *>(event);
        // Plain text still drops into the field as usual; only files are ours.
        if (drop->mimeData()->hasUrls()) {
            takeDrop(drop, type == QEvent::Drop);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::dragEnterEvent(QDragEnterEvent *event)
{
    takeDrop(event, false);
}

void Form1::dragMoveEvent(QDragMoveEvent *event)
{
    takeDrop(event, false);
}

void Form1::dropEvent(QDropEvent *event)
{
    takeDrop(event, true);
}

void Form1::takeDrop(QDropEvent *event, bool drop)
{
    // All local, or nothing: a web address is no path to hand to the tool.
    QStringList paths;
    for (const QUrl &url : event->mimeData()->urls()) {
        const QString path = core::localPath(url);
        if (path.isEmpty()) {
            event->ignore();
            return;
        }
        paths.append(path);
    }
    // Never a move: the file manager would then delete the user's original.
    const Qt::DropActions offered = event->possibleActions();
    const Qt::DropAction action = offered & Qt::CopyAction   ? Qt::CopyAction
                                  : offered & Qt::LinkAction ? Qt::LinkAction
                                                             : Qt::IgnoreAction;
    if (paths.isEmpty() || action == Qt::IgnoreAction) {
        event->ignore();
        return;
    }
    event->setDropAction(action);
    event->accept();
    if (!drop)
        return;
    // The first folder is the output, the first file the map to convert.
    QSet<QLineEdit *> filled;
    for (const QString &path : paths) {
        QLineEdit *field = core::isDirectory(path) ? txtMAP : txtBSP;
        if (!filled.contains(field))
            field->setText(path);
        filled.insert(field);
    }
}

void Form1::setBspFile(const QString &path)
{
    txtBSP->setText(path);
}

void Form1::decompile()
{
    const core::Result<core::Conversion> started =
        core::startConversion(programFolder, txtBSP->text(), txtMAP->text());
    // Each start gets a window of its own; this one never waits for the tool.
    if (started.ok())
        Conversao::open(started.value());
    else
        ui::showError(this, QStringLiteral("Não foi possível iniciar %1: %2")
                                .arg(core::displayName(core::toolPath(programFolder)),
                                     ui::reasonText(started.error())));
}
