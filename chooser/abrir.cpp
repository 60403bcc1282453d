#include "abrir.h"

#include "dirlist.h"
#include "drivelist.h"
#include "filelist.h"
#include "ui.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

const QString bspMode = QStringLiteral("BSP");
const QString mapMode = QStringLiteral("MAP");

} // namespace

Abrir::Abrir(const QLineEdit *modeField, QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint)
    , modeField(modeField)
{
    setObjectName(QStringLiteral("Abrir"));
    setWindowTitle(QStringLiteral("Abrir"));
    ui::resizeTwips(this, 8115, 4230);

    // Created in tab order.
    cmbCanc = ui::makeButton(this, "cmbCanc", QStringLiteral("Cancelar"), 6480, 1020, 1515, 435);
    connect(cmbCanc, &QPushButton::clicked, this, &QDialog::reject);
    cmbOk = ui::makeButton(this, "cmbOk", QStringLiteral("OK"), 6480, 360, 1515, 435);
    connect(cmbOk, &QPushButton::clicked, this, &Abrir::confirm);
    Text1 = ui::makeField(this, "Text1", 0, 3840, 6315, 315);
    File1 = ui::place(new FileList(this), "File1", 2820, 360, 3495, 3015);
    File1->setPattern(QStringLiteral("*.map"));
    connect(File1, &FileList::fileClicked, this, &Abrir::takeClickedFile);
    Dir1 = ui::place(new DirList(this), "Dir1", 0, 360, 2775, 3015);
    // Follows every read, so opening the same folder again refreshes the files too.
    connect(Dir1, &DirList::listingRead, this, &Abrir::followDirectory);
    connect(Dir1, &DirList::openFailed, this, &Abrir::reportUnopenedDirectory);
    Drive1 = ui::place(new DriveList(this), "Drive1", 0, 0, 2775, 315);
    connect(Drive1, &DriveList::drivePicked, this, &Abrir::openDrive);
    Label1 = ui::makeLabel(this, "Label1", QStringLiteral("Selecione o arquivo BSP"), 2940, 60,
                           1875, 195);
    Labe = ui::makeLabel(this, "Labe", QStringLiteral("Nome do Arquivo"), 0, 3540, 2775, 255);

    // Names for screen readers; a list or field is named by its caption.
    Drive1->setAccessibleName(QStringLiteral("Unidades"));
    Dir1->setAccessibleName(QStringLiteral("Diretórios"));
    for (QWidget *w : std::initializer_list<QWidget *>{cmbCanc, cmbOk, Label1, Labe})
        w->setAccessibleName(w->property("text").toString());
    File1->setAccessibleName(Label1->text());
    Text1->setAccessibleName(Labe->text());
    Labe->setBuddy(Text1);

    setTabOrder(cmbCanc, cmbOk);
    setTabOrder(cmbOk, Text1);
    setTabOrder(Text1, File1);
    setTabOrder(File1, Dir1);
    setTabOrder(Dir1, Drive1);

    // The folder list's chain starts at the drive shown.
    Dir1->setDrive(Drive1->driveOf(Dir1->path()));
    load();
    // The file list starts on the directory list's folder, from the same pass.
    File1->setListing(Dir1->path(), Dir1->listing());
    cmbCanc->setFocus();
}

void Abrir::load()
{
    if (modeField->text() == mapMode) {
        File1->hide();
        Dir1->resize(ui::twipsToPixels(6315, this), ui::twipsToPixels(3795, this));
        Text1->hide();
        Labe->hide();
        Label1->setText(QStringLiteral("Selecione o diretorio."));
        Label1->setAccessibleName(Label1->text());
        ui::fitLabel(Label1);
    }
    if (modeField->text() == bspMode)
        File1->setPattern(QStringLiteral("*.bsp"));
}

void Abrir::confirm()
{
    if (modeField->text() == mapMode) {
        // A folder removed while shown is no output: the list goes to the nearest
        // one that is left, for the user to see and confirm.
        if (!core::isDirectory(Dir1->path())) {
            const QString gone = Dir1->path();
            Dir1->setNearestPath(gone);
            Drive1->setDrive(Dir1->drive());
            ui::showError(
                this,
                QStringLiteral("O diretório %1 não existe mais.").arg(core::displayName(gone)));
            return;
        }
        emit outputFolderChosen(Dir1->path());
        accept();
    }
    if (modeField->text() == bspMode) {
        emit bspFileChosen(Text1->text());
        accept();
    }
}

void Abrir::openDrive(const QString &drive)
{
    // Another drive opens on the working directory when that lies on it, else
    // on its root; the drive already shown goes back to its root.
    const QString cwd = core::workingDirectory();
    const bool onCwd = drive != Dir1->drive() && Drive1->driveOf(cwd) == drive;
    const core::Result<> opened = Dir1->setPath(onCwd ? cwd : drive, drive);
    if (opened.ok())
        return;
    ui::showError(this, QStringLiteral("Não foi possível abrir a unidade %1: %2")
                            .arg(core::displayName(drive), ui::reasonText(opened.error())));
    // Back to the drive that the lists still show, so that the failed one can
    // be picked again once it is ready.
    Drive1->setDrive(Drive1->driveOf(Dir1->path()));
}

void Abrir::followDirectory(const QString &path)
{
    File1->setListing(path, Dir1->listing());
}

void Abrir::takeClickedFile()
{
    Text1->setText(core::joinPath(File1->path(), File1->fileName()));
}

void Abrir::reportUnopenedDirectory(const QString &path, core::Error error)
{
    ui::showError(this, QStringLiteral("Não foi possível abrir o diretório %1: %2")
                            .arg(core::displayName(path), ui::reasonText(error)));
}

void Abrir::keyPressEvent(QKeyEvent *event)
{
    // No cancel button: Escape closes nothing.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
