#pragma once

#include "core.h"

#include <QListView>

class DirListModel;
class IndentDelegate;

class DirList : public QListView {
    Q_OBJECT

public:
    enum Role {
        PathRole = Qt::UserRole, // full path the row opens
        IndentRole,              // indent level, 0 for the drive
    };

    explicit DirList(QWidget *parent = nullptr);

    // The open directory; ends in a separator only at a root.
    QString path() const { return openPath; }
    // Where the chain of open folders starts, so the list never leaves it.
    QString drive() const { return driveRoot; }
    // Starts the chain at `drive` without reading anything again.
    void setDrive(const QString &drive);
    // Opens `path` (relative to path(), "." and ".." resolved by name) on
    // `drive`, or on drive() when that is empty; on failure nothing changes.
    core::Result<> setPath(const QString &path, const QString &drive = {});
    // Opens `path`, or else the nearest of its parents that can be read.
    void setNearestPath(QString path);
    // Every entry of path() as last read, unsorted.
    const core::Listing &listing() const { return entries; }

signals:
    // After every successful read, also when the same folder was opened again.
    void listingRead(const QString &path);
    // Opening a row by double-click or Enter failed.
    void openFailed(const QString &path, core::Error error);

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void openRow(const QModelIndex &index);
    void display(const QString &path);
    void revealOpenRow();

    DirListModel *rows;
    IndentDelegate *indents;
    QString openPath;
    QString driveRoot;
    core::Listing entries;
    bool opened = false; // doubleClicked already opened a row in this event
};
