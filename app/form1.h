#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

// The main window: the BSP file, the output folder and the three buttons.
class Form1 : public QWidget {
    Q_OBJECT

public:
    // `programFolder` is where bspc.exe is looked for; empty means the folder
    // of the running executable.
    explicit Form1(const QString &programFolder = QString(), QWidget *parent = nullptr);

public slots:
    void decompile();
    // Fills the BSP field, as "vostrand <file>" does.
    void setBspFile(const QString &path);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void takeDrop(QDropEvent *event, bool drop);
    void openChooser(const QString &mode);

    QString programFolder;
    QLineEdit *txtBSP;
    QPushButton *Command1;
    QLineEdit *txtMAP;
    QPushButton *Command2;
    QLabel *Label1;
    QLabel *Label2;
    QLineEdit *txtOperacao;
    QPushButton *Command3;
};
