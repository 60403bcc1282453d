#include "drivelist.h"

#include "namelistmodel.h"

DriveList::DriveList(QWidget *parent)
    : QComboBox(parent)
    , drivesModel(new NameListModel(this))
{
    setModel(drivesModel);
    setDrives(core::drives());
    connect(this, &QComboBox::activated, this, [this](int index) {
        if (index < 0 || index >= drivesModel->names.size())
            return;
        const QString picked = drivesModel->names.at(index);
        if (picked == shownDrive)
            return;
        shownDrive = picked;
        emit driveChanged(picked);
    });
}

void DriveList::setDrives(const QStringList &drives)
{
    drivesModel->setNames(drives);
    QString pick = driveOf(core::workingDirectory());
    if (pick.isEmpty() && !drives.isEmpty())
        pick = drives.first();
    selectDrive(pick);
}

void DriveList::setDrive(const QString &drive)
{
    if (drivesModel->names.contains(drive))
        selectDrive(drive);
}

void DriveList::selectDrive(const QString &drive)
{
    const qsizetype index = drivesModel->names.indexOf(drive);
    setCurrentIndex(int(index));
    shownDrive = index >= 0 ? drive : QString();
}

QString DriveList::driveOf(const QString &path) const
{
    return core::longestDrive(drivesModel->names, path);
}
