#pragma once

#include "core.h"

#include <QListView>

class DirListModel;

class DirList : public QListView {
    Q_OBJECT

public:
    enum Role {
        PathRole = Qt::UserRole, // full path the row opens
        IndentRole,              // indent level, 0 for the root
    };

    explicit DirList(QWidget *parent = nullptr);

    // The open directory; ends in a separator only at a root.
    QString path() const { return openPath; }
    // Opens `path` (relative to path(), "." and ".." resolved by name); on
    // failure nothing changes.
    core::Result<> setPath(const QString &path);
    // Every entry of path() as last read, unsorted.
    const core::Listing &listing() const { return entries; }

signals:
    // After every successful read, also when the same folder was opened again.
    void listingRead(const QString &path);
    // Opening a row by double-click or Enter failed.
    void openFailed(const QString &path, core::Error error);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    void openRow(const QModelIndex &index);
    void display(const QString &path);

    DirListModel *rows;
    QString openPath;
    core::Listing entries;
    bool opened = false; // doubleClicked already opened a row in this event
};
