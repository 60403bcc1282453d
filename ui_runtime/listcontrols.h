// The drive, folder and file lists of the chooser windows. They list through
// ui::platform::readDirectory, so names that are not valid UTF-8 survive.
#pragma once

#include <QComboBox>
#include <QList>
#include <QListView>
#include <QString>
#include <QStringList>

namespace ui {

struct DirEntry {
    QString name; // lossless, see decodeName()
    bool isDir = false;
};
using Listing = QList<DirEntry>;

// Tests put a reader here to make a directory fail; nullptr restores the real one.
using DirectoryReader = QString (*)(const QString &path, Listing &entries);
void setDirectoryReader(DirectoryReader reader);
// Appends the entries of `path` (without "." and ".."). Returns "" or why it failed.
QString readDirectory(const QString &path, Listing &entries);

// The working directory, with the exact bytes of its name where the OS allows it.
QString workingDirectory();

// Plain files whose names match `pattern` (wildcards, ';' between alternatives, any
// case), hidden names left out, sorted without regard to case.
QStringList matchingFiles(const Listing &entries, const QString &pattern);
// Directories, hidden ones left out, sorted without regard to case.
QStringList sortedSubdirectories(const Listing &entries);

class DirListModel;
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
    // Opens `path` (relative to path(), "." and ".." resolved by name). Returns "" or
    // why it failed; on failure nothing changes.
    QString setPath(const QString &path);
    // Every entry of path() as last read, unsorted.
    const Listing &listing() const { return entries; }

signals:
    // After every successful read, also when the same folder was opened again.
    void listingRead(const QString &path);
    // Opening a row by double-click or Enter failed.
    void openFailed(const QString &path, const QString &reason);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    void openRow(const QModelIndex &index);
    void display(const QString &path);

    DirListModel *rows;
    QString openPath;
    Listing entries;
    bool opened = false; // doubleClicked already opened a row in this event
};

class FileList : public QListView {
    Q_OBJECT

public:
    explicit FileList(QWidget *parent = nullptr);

    QString path() const { return filesPath; }
    // Shows `entries`, already read from `path`.
    void setListing(const QString &path, const Listing &entries);
    void setPattern(const QString &pattern);
    // Exact name of the selected file, "" when none is.
    QString fileName() const;

signals:
    // The user selected a file with the mouse or the keyboard.
    void fileClicked();

protected:
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
    Listing entries;
    bool byUser = false;       // inside a mouse or key event
    bool clickPending = false; // the user moved the current row in this event
};

} // namespace ui
