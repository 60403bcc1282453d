#include "drivelist.h"

#include "namelistmodel.h"

#include <QWheelEvent>

DriveList::DriveList(QWidget *parent)
    : QComboBox(parent)
    , drivesModel(new NameListModel(this))
{
    setModel(drivesModel);
    // Not WheelFocus: a wheel turned over the dialog would open a drive a notch.
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < drivesModel->names.size())
            emit drivePicked(drivesModel->names.at(index));
    });
    // A long mount path is cut in the closed list.
    connect(this, &QComboBox::currentIndexChanged, this, [this] { setToolTip(currentText()); });
    setDrives(core::drives());
}

void DriveList::setDrives(const QStringList &drives)
{
    // Qt opens the list as wide as its longest drive already.
    drivesModel->setNames(drives);
    QString pick = driveOf(core::workingDirectory());
    if (pick.isEmpty() && !drives.isEmpty())
        pick = drives.first();
    setDrive(pick);
}

void DriveList::setDrive(const QString &drive)
{
    const qsizetype index = drivesModel->names.indexOf(drive);
    if (index >= 0)
        setCurrentIndex(int(index));
}

QString DriveList::driveOf(const QString &path) const
{
    return core::longestDrive(drivesModel->names, path);
}

void DriveList::wheelEvent(QWheelEvent *event)
{
    if (!hasFocus()) {
        event->ignore();
        return;
    }
    QComboBox::wheelEvent(event);
}
