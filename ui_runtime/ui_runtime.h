// The platform layer: everything the windows need of the OS and of Qt that
// Qt does not hand over as it is.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QLabel;
class QPushButton;
class QUrl;
class QWidget;

namespace ui {

// --- Geometry in twips (1/1440 of a logical inch) ---------------------------

// Pixels for a length in twips on the screen that shows `widget` (or the
// primary screen): 15 twips a pixel at 96 DPI, 12 at 120 DPI.
int twipsToPixels(int twips, const QWidget *widget = nullptr);
void setGeometryTwips(QWidget *widget, int left, int top, int width, int height);
void resizeTwips(QWidget *widget, int width, int height);
// Grows a label from its top-left corner until its text fits; it never gets
// smaller than the size it had on the first call.
void fitLabel(QLabel *label);

// Names a control (tests and screen readers find it by name) and puts it at
// its designed place. There are no layouts, so nothing moves afterwards.
template <typename Control>
Control *place(Control *control, const char *name, int left, int top, int width, int height)
{
    control->setObjectName(QLatin1String(name));
    setGeometryTwips(control, left, top, width, height);
    return control;
}
// A button that Enter never presses.
QPushButton *makeButton(QWidget *parent, const char *name, const QString &text, int left, int top,
                        int width, int height);
// A plain-text caption, grown to fit its text.
QLabel *makeLabel(QWidget *parent, const char *name, const QString &text, int left, int top,
                  int width, int height);

// --- Messages ----------------------------------------------------------------

inline constexpr const char *errorBoxTitle = "Ops!";
// Modal box with the critical icon, one "OK" button and the title "Ops!".
void showError(QWidget *parent, const QString &message);

// --- Files and names ---------------------------------------------------------

// File names are bytes on POSIX. These convert losslessly: each byte that is
// not part of valid UTF-8 becomes the lone surrogate U+DC80 + byte, and back.
QString decodeName(QByteArrayView bytes);
QByteArray encodeName(const QString &name);
// Whether `name` holds escaped bytes; they make PCRE reject the whole subject.
bool hasEscapedBytes(const QString &name);
// The name as it may be shown: escaped bytes appear as U+FFFD.
QString displayName(const QString &name);

// The local path that a file:// URL names, with its bytes kept exactly (a
// file manager percent-encodes names that are not UTF-8); "" for other URLs.
QString localPath(const QUrl &url);
bool isDirectory(const QString &path);

// The folder of the running executable as the OS reports it. It ends in a
// separator only at the root.
QString programFolder();
// `folder` and `name` with exactly one separator between them.
QString joinPath(const QString &folder, const QString &name);
bool endsWithSeparator(const QString &path);

// --- Processes ---------------------------------------------------------------

struct StartResult {
    bool ok = false;
    QString error; // why it failed, in Portuguese
};

// Starts `program` (an exact path: no PATH search, no shell) with `arguments`
// and returns at once. The child inherits the working directory and only the
// standard streams; nothing waits on it, yet it never stays a zombie.
StartResult startDetached(const QString &program, const QStringList &arguments);

} // namespace ui

#include "listcontrols.h"
