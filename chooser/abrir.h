#pragma once

#include "coreresult.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

class DirList;
class DriveList;
class FileList;

// The chooser: picks a BSP file ("BSP" mode) or an output folder ("MAP" mode).
// It reads the mode from the owner's hidden mode field when it loads and again
// when "OK" is pressed, and hands the choice back by signal.
class Abrir : public QDialog {
    Q_OBJECT

public:
    Abrir(const QLineEdit *modeField, QWidget *owner);

signals:
    void bspFileChosen(const QString &path);
    void outputFolderChosen(const QString &path);

private slots:
    void confirm();
    void openDrive(const QString &drive);
    void followDirectory(const QString &path);
    void takeClickedFile();
    void reportUnopenedDirectory(const QString &path, core::Error error);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void load();

    const QLineEdit *modeField;
    QPushButton *cmbCanc;
    QPushButton *cmbOk;
    QLineEdit *Text1;
    FileList *File1;
    DirList *Dir1;
    DriveList *Drive1;
    QLabel *Label1;
    QLabel *Labe;
};
