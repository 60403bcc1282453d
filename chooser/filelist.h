#pragma once

#include "core.h"

#include <QListView>

class NameListModel;

class FileList : public QListView {
    Q_OBJECT

public:
    explicit FileList(QWidget *parent = nullptr);

    QString path() const { return filesPath; }
    // Shows `entries`, already read from `path`.
    void setListing(const QString &path, const core::Listing &entries);
    void setPattern(const QString &pattern);
    // Exact name of the selected file, "" when none is.
    QString fileName() const;

signals:
    // The user selected a file with the mouse or the keyboard.
    void fileClicked();

protected:
    bool event(QEvent *event) override;
    void currentChanged(const QModelIndex &now, const QModelIndex &before) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void refilter();
    bool takeClick();

    NameListModel *rows;
    QString filesPath;
    QString filter = QStringLiteral("*.*");
    core::Listing entries;
    bool byUser = false;       // inside a mouse or key event
    bool clickPending = false; // the user moved the current row in this event
};
