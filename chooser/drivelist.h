#pragma once

#include <QComboBox>

class NameListModel;

class DriveList : public QComboBox {
    Q_OBJECT

public:
    explicit DriveList(QWidget *parent = nullptr);

    // Lists `drives` and selects the working directory's, else the first.
    void setDrives(const QStringList &drives);
    // Selects `drive` without drivePicked, e.g. to go back after it failed to open.
    void setDrive(const QString &drive);
    // The listed drive that holds `path`, "" when none does.
    QString driveOf(const QString &path) const;

signals:
    // The user picked a drive, also the one already shown.
    void drivePicked(const QString &drive);

protected:
    void wheelEvent(QWheelEvent *event) override;

private:
    NameListModel *drivesModel;
};
