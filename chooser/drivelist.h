#pragma once

#include <QComboBox>

class NameListModel;

class DriveList : public QComboBox {
    Q_OBJECT

public:
    explicit DriveList(QWidget *parent = nullptr);

    // Lists `drives` and selects the working directory's, else the first.
    void setDrives(const QStringList &drives);
    // Selects `drive` without driveChanged, e.g. to go back after it failed to open.
    void setDrive(const QString &drive);
    // The listed drive that holds `path`, "" when none does.
    QString driveOf(const QString &path) const;

signals:
    // Only when the user picks a drive other than the one shown.
    void driveChanged(const QString &drive);

private:
    void selectDrive(const QString &drive);

    NameListModel *drivesModel;
    QString shownDrive; // what driveChanged compares against
};
